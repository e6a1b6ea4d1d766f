// Inserted lines, as an operator adds one to the demo script: a line typed
// below a line of the first page opens room (the cues below move down), a
// cue placed on it, undo and redo, the script closed and opened again with
// the line still there, and the line removed with its cue.

import { fail, firstImage, marksUntil, menu, readMarks, readSettings, waitFor } from './harness.mjs';

const near = (a, b, slack) => Math.abs(a - b) <= slack;

const insertsUntil = (t, what, test) => marksUntil(t.pdf, what, test,
  (m) => ({ inserts: m.inserts ?? [], cues: (m.cues ?? []).filter((c) => c.insertID).map((c) => c.id) }));

// The second page: a full page of dialogue with cues all down it.
const secondPage = (page) => page.locator('.page[data-page="1"]');

async function toSecondPage(page) {
  await page.evaluate(() => window.__tallowmarkEvent('pageCommand', { value: 2 }));
  await secondPage(page).waitFor({ state: 'visible', timeout: 3000 });
}

// Each cue box of the first page: its id and top, px.
function cueTops(page) {
  return secondPage(page).evaluate((p) => Object.fromEntries(
    [...p.querySelectorAll('.cue[data-cue]')].map((c) => [c.getAttribute('data-cue'), c.getBoundingClientRect().top - p.getBoundingClientRect().top]),
  ));
}

async function cueMode(page, on) {
  const now = (await page.locator('.page.cue-mode').count()) > 0;
  if (now !== on) await page.keyboard.press('Control+e');
}

export async function insertLine(t) {
  const { page } = t;
  const text = 'E2E inserted line';
  const label = 'E2E insert cue';
  // One page at a time, so the line cursor starts on that page.
  await page.keyboard.press('Control+1');
  await toSecondPage(page);
  const before = await secondPage(page).boundingBox();
  const topsBefore = await cueTops(page);

  // The line cursor on a line of the first page; i opens the field below it.
  await cueMode(page, true);
  await page.keyboard.press('n');
  await page.locator('.line-cursor').waitFor({ state: 'visible', timeout: 3000 })
    .catch(() => { throw fail('insert: n in Cue Mode showed no line cursor'); });
  for (let i = 0; i < 4; i++) await page.keyboard.press('ArrowDown');
  await page.keyboard.press('i');
  const field = page.getByRole('textbox', { name: 'Inserted line' });
  await field.waitFor({ state: 'visible', timeout: 3000 }).catch(() => { throw fail('insert: i with the line cursor opened no field'); });
  await page.keyboard.type(text);
  await page.keyboard.press('Enter');
  const marks = await insertsUntil(t, `an inserted line "${text}"`, (m) => (m.inserts ?? []).find((i) => i.text === text));
  const insert = marks;
  const room = page.locator(`.insert-room[data-insert="${insert.id}"]`);
  await room.waitFor({ state: 'visible', timeout: 3000 }).catch(() => { throw fail('insert: the sent line is not drawn on the page'); });

  // The page grew by one inserted row; cues below the line moved down by it, those above stayed.
  const after = await secondPage(page).boundingBox();
  const roomPx = insert.lineH * 1.3 * before.height;
  if (!near(after.height - before.height, roomPx, 2))
    throw fail(`insert: the page grew by ${(after.height - before.height).toFixed(1)} px, one inserted row is ${roomPx.toFixed(1)} px`);
  const topsAfter = await cueTops(page);
  const split = insert.afterY * before.height;
  let below = 0;
  for (const [id, top] of Object.entries(topsBefore)) {
    if (!(id in topsAfter)) continue;
    const moved = topsAfter[id] - top;
    const want = top > split ? roomPx : 0;
    if (!near(moved, want, 2)) throw fail(`insert: cue ${id} moved ${moved.toFixed(1)} px, expected ${want.toFixed(1)}`);
    if (top > split) below++;
  }
  if (below === 0) throw fail('insert: no cue of the first page lies below the inserted line to show the room');

  // A drag over the inserted words places a cue on the line.
  const words = room.locator('.insert-text > div').first();
  const box = await words.boundingBox();
  if (!box) throw fail('insert: the inserted text has no box');
  await page.mouse.move(box.x + 4, box.y + box.height / 2);
  await page.mouse.down();
  await page.mouse.move(box.x + box.width * 0.5, box.y + box.height / 2, { steps: 4 });
  await page.mouse.up();
  const labelField = page.getByRole('textbox', { name: 'Cue label' });
  await labelField.waitFor({ state: 'visible', timeout: 3000 }).catch(() => { throw fail('insert: a drag over the inserted words opened no cue'); });
  await labelField.click();
  await page.keyboard.type(label);
  await page.keyboard.press('Enter');
  const onLine = (m) => (m.cues ?? []).find((c) => c.insertID === insert.id && c.label === label);
  const cue = await insertsUntil(t, `a cue "${label}" on the inserted line`, onLine);
  if (!near(cue.y, insert.afterY, 1e-9) || !cue.snippet.startsWith('E2E')) throw fail(`insert: the cue on the line is ${JSON.stringify(cue)}`);
  const cueBox = await page.locator(`[data-cue="${cue.id}"]`).boundingBox({ timeout: 3000 });
  const roomBox = await room.boundingBox();
  if (!cueBox || !roomBox || cueBox.y < roomBox.y - 1 || cueBox.y + cueBox.height > roomBox.y + roomBox.height + 1)
    throw fail('insert: the cue on the inserted line is not drawn in its room');
  await t.shot('insert');

  await menu(page, 'undo');
  await insertsUntil(t, 'the cue on the line undone', (m) => (onLine(m) ? undefined : true));
  await menu(page, 'redo');
  await insertsUntil(t, 'the cue on the line redone', onLine);

  // Closed and opened again: the line and its cue are read back.
  await cueMode(page, false);
  await menu(page, 'closeScript');
  await page.getByRole('region', { name: 'Recent scripts' }).getByRole('button', { name: t.pdfName }).click();
  await firstImage(page).catch(() => { throw fail('insert: reopened script shows no page image'); });
  // The run goes on where it was.
  const resume = page.getByRole('button', { name: 'Resume' });
  if (await resume.waitFor({ state: 'visible', timeout: 5000 }).then(() => true, () => false)) {
    await resume.click();
    await resume.waitFor({ state: 'hidden', timeout: 3000 });
    // Resume brings the view to the standby cue; the page is asked for after it.
    await page.waitForTimeout(300);
  }
  await toSecondPage(page);
  await room.waitFor({ state: 'visible', timeout: 5000 }).catch(() => { throw fail('insert: the line is gone after the script was opened again'); });
  await page.locator(`[data-cue="${cue.id}"]`).waitFor({ state: 'attached', timeout: 3000 })
    .catch(() => { throw fail('insert: the cue on the line is gone after the script was opened again'); });

  // Selected with a click and removed with Delete: its cue goes with it.
  await cueMode(page, true);
  await room.scrollIntoViewIfNeeded();
  const again = await room.locator('.insert-text > div').first().boundingBox();
  await page.mouse.click(again.x + again.width - 3, again.y + again.height / 2);
  await page.locator('.insert-selected').waitFor({ state: 'visible', timeout: 3000 }).catch(() => { throw fail('insert: a click on the line did not select it'); });
  await page.keyboard.press('Delete');
  await insertsUntil(t, 'the line and its cue removed', (m) =>
    ((m.inserts ?? []).some((i) => i.id === insert.id) || (m.cues ?? []).some((c) => c.id === cue.id) ? undefined : true));
  await room.waitFor({ state: 'detached', timeout: 3000 }).catch(() => { throw fail('insert: the removed line is still drawn'); });
  await insideLine(t);
  await cueMode(page, false);
  await page.keyboard.press('Control+2');
}

// Insert Line, then a click on a word inside a line: the words from there on
// move right to make room, the page keeps its height.
async function insideLine(t) {
  const { page } = t;
  const text = 'softly';
  // A cue inside a line that ends well before the page's edge (labelX is where its line ends).
  const cues = (readMarks(t.pdf)?.cues ?? []).filter((c) => c.page === 1 && c.x > 0.2 && c.labelX > 0 && c.labelX < 0.85);
  const host = cues[0];
  if (!host) throw fail('insert: no cue of the second page lies inside a line to insert beside');
  const box = page.locator(`[data-cue="${host.id}"]`);
  await box.scrollIntoViewIfNeeded();
  const at = await box.boundingBox();
  const before = await secondPage(page).boundingBox();
  const labelBefore = await page.locator('.cue-label', { hasText: host.label }).boundingBox();
  await page.getByRole('button', { name: 'Insert Line' }).click();
  // The word after the cue's words.
  await page.mouse.click(at.x + at.width + 12, at.y + at.height / 2);
  const field = page.getByRole('textbox', { name: 'Inserted line' });
  await field.waitFor({ state: 'visible', timeout: 3000 }).catch(() => { throw fail('insert: a click with Insert Line on opened no field'); });
  await page.keyboard.type(text);
  await page.keyboard.press('Enter');
  const insert = await insertsUntil(t, `an inserted "${text}"`, (m) => (m.inserts ?? []).find((i) => i.text === text));
  if (!(insert.lineMidY < insert.afterY)) throw fail(`insert: "${text}" was not put inside the line: ${JSON.stringify(insert)}`);
  const room = page.locator(`.insert-room.inline[data-insert="${insert.id}"]`);
  await room.waitFor({ state: 'visible', timeout: 3000 }).catch(() => { throw fail('insert: the line split for the insertion is not drawn'); });
  const after = await secondPage(page).boundingBox();
  if (!near(after.height, before.height, 1)) throw fail(`insert: an insertion inside a line changed the page's height (${before.height} -> ${after.height})`);
  const labelAfter = await page.locator('.cue-label', { hasText: host.label }).boundingBox();
  const roomBox = await room.boundingBox();
  if (labelBefore.x + labelBefore.width < before.x + before.width - 4 && !near(labelAfter.x - labelBefore.x, roomBox.width, 2))
    throw fail(`insert: the label at the line's end moved ${labelAfter.x - labelBefore.x} px, the room is ${roomBox.width} px`);
  await t.shot('insert-inline');
  // The inserted words read like the script's on the other themes too.
  const theme = readSettings(t.config)?.themeName ?? 'deep';
  for (const name of ['light', 'dark']) {
    await menu(page, 'theme', name);
    await page.waitForFunction((n) => document.documentElement.dataset.theme === n, name, { timeout: 3000 })
      .catch(() => { throw fail(`insert: the ${name} theme was not applied`); });
    await t.shot(`insert-${name}`);
  }
  await menu(page, 'theme', theme);
  await page.mouse.click(roomBox.x + roomBox.width / 2, roomBox.y + roomBox.height / 2);
  await page.keyboard.press('Delete');
  await insertsUntil(t, 'the insertion removed', (m) => ((m.inserts ?? []).some((i) => i.id === insert.id) ? undefined : true));
}
