// Inserted lines in the demo: one below a line opens room and moves the cues
// under it, takes a cue, survives reopening and goes with its cue; one inside
// a line moves the words after it and keeps the page's height.

import { fail, marksUntil, readMarks } from './harness.mjs';
import { cueMode, drag, goToPage, near, reopen, shows } from './operator.mjs';

const insertsUntil = (t, what, test) => marksUntil(t.pdf, what, test,
  (m) => ({ inserts: m.inserts ?? [], cues: (m.cues ?? []).filter((c) => c.insertID).map((c) => c.id) }));
const gone = (id) => (list) => ((list ?? []).some((x) => x.id === id) ? undefined : true);

// The second page: a full page of dialogue with cues all down it.
const secondPage = (page) => page.locator('.page[data-page="1"]');

async function toSecondPage(page) {
  await goToPage(page, 2);
  await secondPage(page).waitFor({ state: 'visible', timeout: 3000 });
}

// Each cue box of the second page: its id and top, px.
function cueTops(page) {
  return secondPage(page).evaluate((p) => Object.fromEntries(
    [...p.querySelectorAll('.cue[data-cue]')].map((c) => [c.getAttribute('data-cue'), c.getBoundingClientRect().top - p.getBoundingClientRect().top]),
  ));
}

// Types `text` into the inserted line's field and keeps it; answers the record.
async function typeLine(t, text, problem) {
  await shows(t.page.getByRole('textbox', { name: 'Inserted line' }), problem);
  await t.page.keyboard.type(text);
  await t.page.keyboard.press('Enter');
  return insertsUntil(t, `an inserted line "${text}"`, (m) => (m.inserts ?? []).find((i) => i.text === text));
}

export async function insertLine(t) {
  const { page } = t;
  const label = 'E2E insert cue';
  // One page at a time, so the line cursor starts on that page.
  await page.keyboard.press('Control+1');
  await toSecondPage(page);
  const before = await secondPage(page).boundingBox();
  const topsBefore = await cueTops(page);

  // The line cursor on a line of the page; i opens the field below it.
  await cueMode(page, true);
  await page.keyboard.press('n');
  await shows(page.locator('.line-cursor'), 'insert: n in Cue Mode showed no line cursor');
  for (let i = 0; i < 4; i++) await page.keyboard.press('ArrowDown');
  await page.keyboard.press('i');
  const insert = await typeLine(t, 'E2E inserted line', 'insert: i with the line cursor opened no field');
  const room = page.locator(`.insert-room[data-insert="${insert.id}"]`);
  await shows(room, 'insert: the sent line is not drawn on the page');

  // The page grew by one inserted row; cues below the line moved down by it, those above stayed.
  const after = await secondPage(page).boundingBox();
  const roomPx = insert.lineH * 1.3 * before.height;
  if (!near(after.height - before.height, roomPx, 2))
    throw fail(`insert: the page grew by ${(after.height - before.height).toFixed(1)} px, one inserted row is ${roomPx.toFixed(1)} px`);
  const topsAfter = await cueTops(page);
  const split = insert.afterY * before.height;
  const below = Object.entries(topsBefore).filter(([id, top]) => {
    const moved = topsAfter[id] - top;
    const want = top > split ? roomPx : 0;
    if (id in topsAfter && !near(moved, want, 2)) throw fail(`insert: cue ${id} moved ${moved.toFixed(1)} px, expected ${want.toFixed(1)}`);
    return id in topsAfter && top > split;
  });
  if (below.length === 0) throw fail('insert: no cue of the page lies below the inserted line to show the room');

  // A drag over the inserted words places a cue on the line.
  const box = await room.locator('.insert-text > div').first().boundingBox();
  if (!box) throw fail('insert: the inserted text has no box');
  await drag(page, { x: box.x + 4, y: box.y + box.height / 2 }, { x: box.x + box.width * 0.5, y: box.y + box.height / 2 }, { steps: 4 });
  const labelField = page.getByRole('textbox', { name: 'Cue label' });
  await shows(labelField, 'insert: a drag over the inserted words opened no cue');
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

  // Closed and opened again, the run resumed where it was: the line and its cue are read back.
  await cueMode(page, false);
  await reopen(t, { resume: true });
  await toSecondPage(page);
  await shows(room, 'insert: the line is gone after the script was opened again', 5000);
  await shows(page.locator(`[data-cue="${cue.id}"]`), 'insert: the cue on the line is gone after the script was opened again', 3000, 'attached');

  // Selected with a click and removed with Delete: its cue goes with it.
  await cueMode(page, true);
  await room.scrollIntoViewIfNeeded();
  const again = await room.locator('.insert-text > div').first().boundingBox();
  await page.mouse.click(again.x + again.width - 3, again.y + again.height / 2);
  await shows(page.locator('.insert-selected'), 'insert: a click on the line did not select it');
  await page.keyboard.press('Delete');
  await insertsUntil(t, 'the line and its cue removed', (m) => gone(insert.id)(m.inserts) && gone(cue.id)(m.cues));
  await shows(room, 'insert: the removed line is still drawn', 3000, 'detached');
  await insideLine(t);
  await cueMode(page, false);
  await page.keyboard.press('Control+2');
}

// Insert Line, then a click on a word inside a line: the words from there on
// move right to make room, the page keeps its height.
async function insideLine(t) {
  const { page } = t;
  // A cue inside a line that ends well before the page's edge (labelX is where its line ends).
  const host = (readMarks(t.pdf)?.cues ?? []).find((c) => c.page === 1 && c.x > 0.2 && c.labelX > 0 && c.labelX < 0.85);
  if (!host) throw fail('insert: no cue of the second page lies inside a line to insert beside');
  const box = page.locator(`[data-cue="${host.id}"]`);
  await box.scrollIntoViewIfNeeded();
  const at = await box.boundingBox();
  const before = await secondPage(page).boundingBox();
  const hostLabel = page.locator('.cue-label', { hasText: host.label });
  const labelBefore = await hostLabel.boundingBox();
  await page.getByRole('button', { name: 'Insert Line' }).click();
  // The word after the cue's words.
  await page.mouse.click(at.x + at.width + 12, at.y + at.height / 2);
  const insert = await typeLine(t, 'softly', 'insert: a click with Insert Line on opened no field');
  if (!(insert.lineMidY < insert.afterY)) throw fail(`insert: "softly" was not put inside the line: ${JSON.stringify(insert)}`);
  const room = page.locator(`.insert-room.inline[data-insert="${insert.id}"]`);
  await shows(room, 'insert: the line split for the insertion is not drawn');
  const after = await secondPage(page).boundingBox();
  if (!near(after.height, before.height, 1)) throw fail(`insert: an insertion inside a line changed the page's height (${before.height} -> ${after.height})`);
  const labelAfter = await hostLabel.boundingBox();
  const roomBox = await room.boundingBox();
  if (labelBefore.x + labelBefore.width < before.x + before.width - 4 && !near(labelAfter.x - labelBefore.x, roomBox.width, 2))
    throw fail(`insert: the label at the line's end moved ${labelAfter.x - labelBefore.x} px, the room is ${roomBox.width} px`);
  await t.shot('insert-inline');
  await page.mouse.click(roomBox.x + roomBox.width / 2, roomBox.y + roomBox.height / 2);
  await page.keyboard.press('Delete');
  await insertsUntil(t, 'the insertion removed', (m) => gone(insert.id)(m.inserts));
}
