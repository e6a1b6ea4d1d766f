// An inserted line in the demo, as the real browser lays it out and measures
// its words: it opens room, moves the cues under it, takes a cue and goes with it.

import { fail, marksUntil } from './harness.mjs';
import { cueMode, drag, goToPage, near, shows, typeIn } from './operator.mjs';

const gone = (id) => (list) => !(list ?? []).some((x) => x.id === id);

// The second page: a full page of dialogue with cues all down it.
const secondPage = (page) => page.locator('.page[data-page="1"]');

// Each cue box of the second page: its id and top, px.
function cueTops(page) {
  return secondPage(page).evaluate((p) => Object.fromEntries(
    [...p.querySelectorAll('.cue[data-cue]')].map((c) => [c.getAttribute('data-cue'), c.getBoundingClientRect().top - p.getBoundingClientRect().top]),
  ));
}

export async function insertLine(t) {
  const { page } = t;
  const label = 'E2E insert cue';
  // One page at a time, so the line cursor starts on that page.
  await page.keyboard.press('Control+1');
  await goToPage(page, 2);
  await secondPage(page).waitFor({ state: 'visible', timeout: 3000 });
  const before = await secondPage(page).boundingBox();
  const topsBefore = await cueTops(page);

  // The line cursor on a line of the page; i opens the field below it.
  await cueMode(page, true);
  await page.keyboard.press('n');
  await shows(page.locator('.line-cursor'), 'insert: n in Cue Mode showed no line cursor');
  for (let i = 0; i < 4; i++) await page.keyboard.press('ArrowDown');
  await page.keyboard.press('i');
  await typeIn(page, 'Inserted line', 'E2E inserted line', 'insert: i with the line cursor opened no field');
  const insert = await marksUntil(t.pdf, 'an inserted line "E2E inserted line"', (m) => (m.inserts ?? []).find((i) => i.text === 'E2E inserted line'));
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

  // A drag over the inserted words places a cue on the line, drawn in its room.
  const box = await room.locator('.insert-text > div').first().boundingBox();
  if (!box) throw fail('insert: the inserted text has no box');
  await drag(page, { x: box.x + 4, y: box.y + box.height / 2 }, { x: box.x + box.width * 0.5, y: box.y + box.height / 2 }, { steps: 4 });
  await typeIn(page, 'Cue label', label, 'insert: a drag over the inserted words opened no cue');
  const cue = await marksUntil(t.pdf, `a cue "${label}" on the inserted line`, (m) => (m.cues ?? []).find((c) => c.insertID === insert.id && c.label === label));
  if (!near(cue.y, insert.afterY, 1e-9) || !cue.snippet.startsWith('E2E')) throw fail(`insert: the cue on the line is ${JSON.stringify(cue)}`);
  const cueBox = await page.locator(`[data-cue="${cue.id}"]`).boundingBox({ timeout: 3000 });
  const roomBox = await room.boundingBox();
  if (!cueBox || !roomBox || cueBox.y < roomBox.y - 1 || cueBox.y + cueBox.height > roomBox.y + roomBox.height + 1)
    throw fail('insert: the cue on the inserted line is not drawn in its room');
  await t.shot('insert');

  // Selected with a click and removed with Delete: its cue goes with it.
  await room.scrollIntoViewIfNeeded();
  const again = await room.locator('.insert-text > div').first().boundingBox();
  await page.mouse.click(again.x + again.width - 3, again.y + again.height / 2);
  await shows(page.locator('.insert-selected'), 'insert: a click on the line did not select it');
  await page.keyboard.press('Delete');
  await marksUntil(t.pdf, 'the line and its cue removed', (m) => gone(insert.id)(m.inserts) && gone(cue.id)(m.cues));
  await shows(room, 'insert: the removed line is still drawn', 3000, 'detached');
  await cueMode(page, false);
  await page.keyboard.press('Control+2');
}
