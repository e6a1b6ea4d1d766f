// Marks, memos and flags made in Cue Mode over the demo's words; undo, redo,
// Delete, memos hidden and shown, and all of it read back after reopening.

import { fail, marksUntil, menu, readMarks } from './harness.mjs';
import { call, drag, goToPage, middle, reopen, showPanel, shows, until } from './operator.mjs';

const memoColours = [['', 'Yellow'], ['rose', 'Rose'], ['green', 'Green'], ['blue', 'Blue'], ['grey', 'Grey']];

const marksFile = (t, what, test) => marksUntil(t.pdf, what, test,
  (f) => ({ marks: (f.marks ?? []).map((m) => m.kind), memos: (f.memos ?? []).length, flags: (f.flags ?? []).length }));
const kinds = (f, kind) => (f.marks ?? []).filter((m) => m.kind === kind);

// The demo's second page (the first is a title page).
const P = 1;

// Screen coordinates of a point of that page (fractions), scrolled to the
// middle of the view first so the pointer can reach it.
async function at(page, fx, fy) {
  const el = page.locator(`.script .page[data-page="${P}"]`);
  let box = await el.boundingBox();
  if (!box) throw fail(`page ${P + 1} is not on screen`);
  const view = page.viewportSize();
  const y = box.y + box.height * fy;
  if (y < 120 || y > view.height - 120) {
    await page.evaluate((dy) => document.querySelector('.script').scrollBy(0, dy), y - view.height / 2);
    box = await el.boundingBox();
  }
  return { x: box.x + box.width * fx, y: box.y + box.height * fy };
}

// A drag over the page, drawn from the pointer at once, not after the core has answered.
async function dragOver(page, from, to, what) {
  const a = await at(page, ...from);
  await drag(page, a, await at(page, ...to), {
    held: async () => {
      if ((await page.evaluate(() => document.querySelectorAll('.mark.preview').length)) > 0) return;
      const under = await page.evaluate(([x, y]) => document.elementFromPoint(x, y)?.className, [a.x, a.y]);
      throw fail(`${what}: nothing drawn under the pointer while dragging (pressed on "${under}")`);
    },
  });
}

async function clickAt(page, fx, fy) {
  const p = await at(page, fx, fy);
  await page.mouse.click(p.x, p.y);
}

async function tool(page, key, name) {
  await page.keyboard.press(key);
  const pressed = await page.getByRole('toolbar', { name: 'Marks' }).getByRole('button', { name, exact: true, pressed: true }).count();
  if (pressed !== 1) throw fail(`key ${key} did not pick the ${name} tool`);
}

const mid = (line) => line[1] + line[3] / 2;
// Across a line from its start to `share` of it.
const along = (line, share = 1) => [[line[0] + 0.01, mid(line)], [line[0] + line[2] * share - (share === 1 ? 0.01 : 0), mid(line)]];

export async function makeMarks(t) {
  const { page } = t;
  await goToPage(page, 1);
  await page.keyboard.press('Control+e');
  await shows(page.getByRole('toolbar', { name: 'Marks' }), 'Cue Mode shows no Marks strip');
  const lines = await call(page, 'pageLines', [P]);
  if (!Array.isArray(lines) || lines.length < 14) throw fail(`the demo's page ${P + 1} has ${lines?.length ?? 0} text lines, expected a dozen`);
  const before = (readMarks(t.pdf)?.marks ?? []).length;

  // Highlight over two lines: one mark per line, one group.
  await tool(page, '1', 'Highlight');
  await dragOver(page, along(lines[4])[0], along(lines[5], 0.5)[1], 'highlight');
  const highlights = await marksFile(t, 'two highlight marks sharing a group', (f) => {
    const hs = kinds(f, 'highlight');
    return hs.length >= 2 && hs[0].group && hs.every((m) => m.group === hs[0].group) ? hs : undefined;
  });
  if (highlights.some((m) => m.page !== P)) throw fail(`highlights: on page ${highlights[0].page + 1}, dragged on page ${P + 1}`);

  // Cut and hide on single lines.
  for (const [key, name, line, share] of [['3', 'Cut', lines[7], 1], ['4', 'Hide', lines[9], 0.6]]) {
    await tool(page, key, name);
    await dragOver(page, ...along(line, share), name.toLowerCase());
    await marksFile(t, `a ${name.toLowerCase()} mark`, (f) => kinds(f, name.toLowerCase()).length > 0);
  }

  // A region with a tab text typed after the frame.
  await tool(page, '2', 'Region');
  await page.getByRole('button', { name: 'Green', exact: true }).click();
  await dragOver(page, [0.05, lines[11][1] - 0.005], [0.6, lines[12][1] + lines[12][3] + 0.005], 'region');
  await shows(page.getByRole('textbox', { name: 'Region tab text' }), 'region: no tab field after the drag');
  await page.keyboard.type('FLY 3');
  await page.keyboard.press('Enter');
  await marksFile(t, 'a green region "FLY 3"', (f) => kinds(f, 'region').some((m) => m.text === 'FLY 3' && m.color === '#2a7a41'));
  const after = (readMarks(t.pdf)?.marks ?? []).length;
  if (after - before !== highlights.length + 3) throw fail(`marks: ${after - before} made, expected ${highlights.length + 3}`);

  // A memo of each colour down the right margin.
  await tool(page, '5', 'Memo');
  for (const [i, [id, name]] of memoColours.entries()) {
    await page.getByRole('toolbar', { name: 'Marks' }).getByRole('button', { name, exact: true }).click();
    await clickAt(page, 0.66, 0.12 + i * 0.1);
    await shows(page.getByRole('textbox', { name: 'Memo text' }), `memo ${name}: no text field after a click`);
    await page.keyboard.type(`${name} memo`);
    await page.keyboard.press('Control+Enter');
    await marksFile(t, `a ${name} memo`, (f) => (f.memos ?? []).some((m) => m.text === `${name} memo` && m.color === id));
  }

  // A flag with a role and a text.
  await tool(page, '6', 'Flag');
  await clickAt(page, 0.04, mid(lines[2]));
  await shows(page.getByRole('textbox', { name: 'Flag role' }), 'flag: no form after a click');
  await page.keyboard.type('LX');
  await page.keyboard.press('Tab');
  await page.keyboard.type('check cyc');
  await page.keyboard.press('Enter');
  await marksFile(t, 'a flag LX "check cyc"', (f) => (f.flags ?? []).some((x) => x.role === 'LX' && x.text === 'check cyc'));
  await moveMemoAndFlag(t);
  await page.keyboard.press('Escape');  // the selection
  await page.keyboard.press('Escape');  // the tool down
  await page.locator('.flag').first().waitFor({ state: 'visible', timeout: 3000 }).catch(async () => {
    await t.shot('marks-failed');
    const flags = await page.evaluate(() => [...document.querySelectorAll('.flag')].map((f) => f.outerHTML));
    throw fail(`the flag is in the marks file but not drawn (${flags.join(' ')})`);
  });
  await t.shot('marks');
  await menu(page, 'theme', 'light');
  await t.shot('marks-light');
  await menu(page, 'theme', 'deep');
}

export async function undoRedoAndDelete(t) {
  const { page } = t;
  // The last edit was the flag's move: one step back puts it where it was.
  const [from, to] = t.flagMove;
  const flagAt = (p) => (f) => (f.flags ?? []).some((x) => x.id === p.id && x.x === p.x && x.y === p.y);
  await menu(page, 'undo');
  await marksFile(t, 'the flag back where it was before the move', flagAt(from));
  await menu(page, 'redo');
  await marksFile(t, 'the flag moved again after redo', flagAt(to));

  // With a tool in hand a click on a mark selects its group; Delete removes
  // it (the run stays where it was), undo brings it back.
  const standby = await showPanel(page).innerText();
  const cut = kinds(readMarks(t.pdf), 'cut')[0];
  await tool(page, '1', 'Highlight');
  await clickAt(page, cut.x + cut.w / 2, cut.y + cut.h / 2);
  await shows(page.locator('.mark.selected').first(), 'a click on the cut words with a tool in hand did not select the mark');
  await page.keyboard.press('Delete');
  await marksFile(t, 'the cut mark deleted', (f) => kinds(f, 'cut').length === 0);
  if ((await showPanel(page).innerText()) !== standby) throw fail('Delete on a selected mark also moved the run');
  await menu(page, 'undo');
  await marksFile(t, 'the cut mark back after undo', (f) => kinds(f, 'cut').length > 0);
  await page.keyboard.press('Escape');
  await page.keyboard.press('Control+e');

  // Show Memos off and on: the page follows, the setting is kept.
  for (const [count, problem] of [[0, '"toggleMemos" left the memos on the page'], [5, '"toggleMemos" again did not bring the five memos back']]) {
    await menu(page, 'toggleMemos');
    await until(async () => ((await page.locator('.memo').count()) === count ? true : undefined), problem, 3000);
  }
}

// Closed and opened again from the recent scripts: every mark, memo and flag
// is drawn again.
export async function reopenAndFind(t) {
  const { page } = t;
  const file = readMarks(t.pdf);
  await reopen(t);
  await goToPage(page, 1);
  const want = { marks: file.marks.filter((m) => m.page === P).length, memos: file.memos.length, flags: file.flags.length };
  let seen;
  await until(async () => {
    seen = await page.evaluate((p) => Object.fromEntries(['mark', 'memo', 'flag'].map((k) =>
      [`${k}s`, document.querySelectorAll(`.page[data-page="${p}"] .${k}[data-${k}]`).length])), P);
    return JSON.stringify(seen) === JSON.stringify(want) ? true : undefined;
  }, () => `reopened: expected ${JSON.stringify(want)} on page ${P + 1}, found ${JSON.stringify(seen)}`, 8000);
  const resume = page.getByRole('button', { name: 'Resume' });
  if (await resume.isVisible()) await resume.click();
}

async function dragBy(page, locator, dx, dy, what) {
  const { x, y } = await middle(locator, what);
  await drag(page, { x, y }, { x: x + dx, y: y + dy });
}

// A memo moved by its strip, resized by its corner and coloured; a flag
// dragged to a new point. Each lands in the marks file when the pointer lets go.
async function moveMemoAndFlag(t) {
  const { page } = t;
  const before = (readMarks(t.pdf)?.memos ?? []).find((m) => m.text === 'Grey memo');
  const memo = page.locator(`.memo[data-memo="${before.id}"]`);
  const mine = (test) => (f) => (f.memos ?? []).find((m) => m.id === before.id && test(m));
  await memo.click();
  const head = memo.locator('.memo-head');
  await shows(head, 'a clicked memo shows no strip to move it by');
  await dragBy(page, head.locator('.memo-grip'), -60, 40, 'the memo strip');
  const moved = await marksFile(t, 'the grey memo moved left and down', mine((m) => m.x < before.x - 0.02 && m.y > before.y + 0.01));
  if (Math.abs(moved.w - before.w) > 1e-9 || Math.abs(moved.h - before.h) > 1e-9) throw fail('moving the memo changed its size');
  await dragBy(page, memo.locator('.memo-resize'), 40, 30, 'the memo corner');
  await marksFile(t, 'the grey memo larger', mine((m) => m.w > moved.w + 0.02 && m.h > moved.h + 0.01 && m.x === moved.x));
  await memo.getByRole('button', { name: 'Memo colour Blue', exact: true }).click();
  await marksFile(t, 'the grey memo now blue', mine((m) => m.color === 'blue'));
  await memo.locator('.memo-text').click();
  const field = page.getByRole('textbox', { name: 'Memo text' });
  await shows(field, 'a click on the selected memo did not open its text');
  await page.keyboard.press('End');
  await page.keyboard.type(', moved');
  await field.blur();
  await marksFile(t, 'the memo text kept on leaving the field', (f) => (f.memos ?? []).find((m) => m.text === 'Grey memo, moved'));

  const flag = (readMarks(t.pdf)?.flags ?? [])[0];
  await dragBy(page, page.locator(`.flag[data-flag="${flag.id}"]`), 30, 25, 'the flag');
  t.flagMove = [flag, await marksFile(t, 'the flag moved right and down', (f) =>
    (f.flags ?? []).find((x) => x.id === flag.id && x.x > flag.x + 0.01 && x.y > flag.y + 0.01))];
}
