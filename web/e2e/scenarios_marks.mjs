// Marks, memos and flags as the operator makes them in Cue Mode: each mark
// kind dragged over the demo's words, a memo of each colour, a flag; undo and
// redo; Backspace on a selection; the memos hidden and shown; the script closed
// and reopened with everything still there. Pictures in the deep and light themes.

import { fail, marksUntil, menu, readMarks, waitFor } from './harness.mjs';

const memoColours = [['', 'Yellow'], ['rose', 'Rose'], ['green', 'Green'], ['blue', 'Blue'], ['grey', 'Grey']];

const marksFile = (t, what, test) => marksUntil(t.pdf, what, test,
  (f) => ({ marks: (f.marks ?? []).map((m) => m.kind), memos: (f.memos ?? []).length, flags: (f.flags ?? []).length }));

// The demo's second page (the first is a title page): its text lines from the
// core, the same call the page uses.
const P = 1;

async function linesOfPage(page) {
  const lines = await page.evaluate((p) => window.webkit.messageHandlers.pageLines.postMessage([p]), P);
  if (!Array.isArray(lines) || lines.length < 14) throw fail(`the demo's page ${P + 1} has ${lines?.length ?? 0} text lines, expected a dozen`);
  return lines;
}

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

async function drag(page, from, to, checkPreview) {
  const a = await at(page, from[0], from[1]);
  const b = await at(page, to[0], to[1]);
  await page.mouse.move(a.x, a.y);
  await page.mouse.down();
  await page.mouse.move((a.x + b.x) / 2, (a.y + b.y) / 2);
  await page.mouse.move(b.x, b.y);
  // Drawn from the pointer at once, not after the core has answered.
  if (checkPreview) {
    const shown = await page.evaluate(() => document.querySelectorAll('.mark.preview').length);
    if (shown === 0) {
      const under = await page.evaluate(([x, y]) => document.elementFromPoint(x, y)?.className, [a.x, a.y]);
      throw fail(`${checkPreview}: nothing drawn under the pointer while dragging (pressed on "${under}")`);
    }
  }
  await page.mouse.up();
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

export async function makeMarks(t) {
  const { page } = t;
  await page.evaluate(() => window.__tallowmarkEvent('pageCommand', { value: 1, relative: false }));
  await page.keyboard.press('Control+e');
  await page.getByRole('toolbar', { name: 'Marks' }).waitFor({ state: 'visible', timeout: 3000 })
    .catch(() => { throw fail('Cue Mode shows no Marks strip'); });
  const lines = await linesOfPage(page);
  const before = (readMarks(t.pdf)?.marks ?? []).length;

  // Highlight over two lines: one mark per line, one group.
  const [h1, h2] = [lines[4], lines[5]];
  await tool(page, '1', 'Highlight');
  await drag(page, [h1[0] + 0.01, mid(h1)], [h2[0] + h2[2] * 0.5, mid(h2)], 'highlight');
  const highlights = await marksFile(t, 'two highlight marks sharing a group', (f) => {
    const hs = (f.marks ?? []).filter((m) => m.kind === 'highlight');
    return hs.length >= 2 && hs[0].group && hs.every((m) => m.group === hs[0].group) ? hs : undefined;
  });
  if (highlights.some((m) => m.page !== P)) throw fail(`highlights: on page ${highlights[0].page + 1}, dragged on page ${P + 1}`);
  // One drag, one undo step: every line of it goes, and comes back, at once.
  const count = (f) => (f.marks ?? []).filter((m) => m.kind === 'highlight').length;
  await menu(page, 'undo');
  await marksFile(t, 'no highlight after one undo', (f) => count(f) === 0);
  await menu(page, 'redo');
  await marksFile(t, `all ${highlights.length} highlight lines back after one redo`, (f) => count(f) === highlights.length);

  // Cut and hide on single lines.
  await tool(page, '3', 'Cut');
  await drag(page, [lines[7][0] + 0.01, mid(lines[7])], [lines[7][0] + lines[7][2] - 0.01, mid(lines[7])], 'cut');
  await marksFile(t, 'a cut mark', (f) => (f.marks ?? []).some((m) => m.kind === 'cut'));
  await tool(page, '4', 'Hide');
  await drag(page, [lines[9][0] + 0.01, mid(lines[9])], [lines[9][0] + lines[9][2] * 0.6, mid(lines[9])], 'hide');
  await marksFile(t, 'a hide mark', (f) => (f.marks ?? []).some((m) => m.kind === 'hide'));

  // A region with a tab text typed after the frame.
  await tool(page, '2', 'Region');
  await page.getByRole('button', { name: 'Green', exact: true }).click();
  await drag(page, [0.05, lines[11][1] - 0.005], [0.6, lines[12][1] + lines[12][3] + 0.005], 'region');
  const tab = page.getByRole('textbox', { name: 'Region tab text' });
  await tab.waitFor({ state: 'visible', timeout: 3000 }).catch(() => { throw fail('region: no tab field after the drag'); });
  await page.keyboard.type('FLY 3');
  await page.keyboard.press('Enter');
  await marksFile(t, 'a green region "FLY 3"', (f) => (f.marks ?? []).some((m) => m.kind === 'region' && m.text === 'FLY 3' && m.color === '#2a7a41'));
  const after = (readMarks(t.pdf)?.marks ?? []).length;
  if (after - before !== highlights.length + 3) throw fail(`marks: ${after - before} made, expected ${highlights.length + 3}`);

  // A memo of each colour down the right margin.
  await tool(page, '5', 'Memo');
  for (const [i, [id, name]] of memoColours.entries()) {
    await page.getByRole('toolbar', { name: 'Marks' }).getByRole('button', { name, exact: true }).click();
    await clickAt(page, 0.66, 0.12 + i * 0.1);
    const field = page.getByRole('textbox', { name: 'Memo text' });
    await field.waitFor({ state: 'visible', timeout: 3000 }).catch(() => { throw fail(`memo ${name}: no text field after a click`); });
    await page.keyboard.type(`${name} memo`);
    await page.keyboard.press('Control+Enter');
    await marksFile(t, `a ${name} memo`, (f) => (f.memos ?? []).some((m) => m.text === `${name} memo` && m.color === id));
  }

  // A flag with a role and a text.
  await tool(page, '6', 'Flag');
  await clickAt(page, 0.04, mid(lines[2]));
  const role = page.getByRole('textbox', { name: 'Flag role' });
  await role.waitFor({ state: 'visible', timeout: 3000 }).catch(() => { throw fail('flag: no form after a click'); });
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
  const standby = await page.getByRole('complementary', { name: 'Show' }).innerText();
  const cut = (readMarks(t.pdf)?.marks ?? []).find((m) => m.kind === 'cut');
  await tool(page, '1', 'Highlight');
  await clickAt(page, cut.x + cut.w / 2, cut.y + cut.h / 2);
  await page.locator('.mark.selected').first().waitFor({ state: 'visible', timeout: 3000 })
    .catch(() => { throw fail('a click on the cut words with a tool in hand did not select the mark'); });
  await page.keyboard.press('Delete');
  await marksFile(t, 'the cut mark deleted', (f) => !(f.marks ?? []).some((m) => m.kind === 'cut'));
  if ((await page.getByRole('complementary', { name: 'Show' }).innerText()) !== standby) throw fail('Delete on a selected mark also moved the run');
  await menu(page, 'undo');
  await marksFile(t, 'the cut mark back after undo', (f) => (f.marks ?? []).some((m) => m.kind === 'cut'));
  await page.keyboard.press('Escape');
  await page.keyboard.press('Control+e');

  // Show Memos off and on: the page follows, the setting is kept.
  await menu(page, 'toggleMemos');
  await waitFor('memos hidden', async () => ((await page.locator('.memo').count()) === 0 ? true : undefined), 3000)
    .catch(() => { throw fail('"toggleMemos" left the memos on the page'); });
  await menu(page, 'toggleMemos');
  await waitFor('memos shown', async () => ((await page.locator('.memo').count()) === 5 ? true : undefined), 3000)
    .catch(() => { throw fail('"toggleMemos" again did not bring the five memos back'); });
}

// Closed and opened again from the recent scripts: every mark, memo and flag
// is drawn again.
export async function reopenAndFind(t) {
  const { page } = t;
  const file = readMarks(t.pdf);
  await menu(page, 'closeScript');
  const recents = page.getByRole('region', { name: 'Recent scripts' });
  await recents.waitFor({ state: 'visible', timeout: 5000 });
  await recents.getByRole('button', { name: t.pdfName }).click();
  await page.evaluate(() => window.__tallowmarkEvent('pageCommand', { value: 1, relative: false }));
  const want = { marks: file.marks.filter((m) => m.page === P).length, memos: file.memos.length, flags: file.flags.length };
  let seen;
  await waitFor('the marks drawn again', async () => {
    seen = await page.evaluate((p) => ({
      marks: document.querySelectorAll(`.page[data-page="${p}"] .mark[data-mark]`).length,
      memos: document.querySelectorAll(`.page[data-page="${p}"] .memo[data-memo]`).length,
      flags: document.querySelectorAll(`.page[data-page="${p}"] .flag[data-flag]`).length,
    }), P);
    return JSON.stringify(seen) === JSON.stringify(want) ? true : undefined;
  }, 8000).catch(() => { throw fail(`reopened: expected ${JSON.stringify(want)} on page ${P + 1}, found ${JSON.stringify(seen)}`); });
  const resume = page.getByRole('button', { name: 'Resume' });
  if (await resume.isVisible()) await resume.click();
}

async function dragBy(page, locator, dx, dy, what) {
  const box = await locator.boundingBox();
  if (!box) throw fail(`${what}: not on screen`);
  const x = box.x + box.width / 2;
  const y = box.y + box.height / 2;
  await page.mouse.move(x, y);
  await page.mouse.down();
  await page.mouse.move(x + dx / 2, y + dy / 2);
  await page.mouse.move(x + dx, y + dy);
  await page.mouse.up();
}

// A memo moved by its strip, resized by its corner and coloured; a flag
// dragged to a new point. Each lands in the marks file when the pointer lets go.
async function moveMemoAndFlag(t) {
  const { page } = t;
  const before = (readMarks(t.pdf)?.memos ?? []).find((m) => m.text === 'Grey memo');
  const memo = page.locator(`.memo[data-memo="${before.id}"]`);
  await memo.click();
  const head = memo.locator('.memo-head');
  await head.waitFor({ state: 'visible', timeout: 3000 }).catch(() => { throw fail('a clicked memo shows no strip to move it by'); });
  await dragBy(page, head.locator('.memo-grip'), -60, 40, 'the memo strip');
  const moved = await marksFile(t, 'the grey memo moved left and down', (f) =>
    (f.memos ?? []).find((m) => m.id === before.id && m.x < before.x - 0.02 && m.y > before.y + 0.01));
  if (Math.abs(moved.w - before.w) > 1e-9 || Math.abs(moved.h - before.h) > 1e-9) throw fail('moving the memo changed its size');
  await dragBy(page, memo.locator('.memo-resize'), 40, 30, 'the memo corner');
  await marksFile(t, 'the grey memo larger', (f) =>
    (f.memos ?? []).find((m) => m.id === before.id && m.w > moved.w + 0.02 && m.h > moved.h + 0.01 && m.x === moved.x));
  await memo.getByRole('button', { name: 'Memo colour Blue', exact: true }).click();
  await marksFile(t, 'the grey memo now blue', (f) => (f.memos ?? []).find((m) => m.id === before.id && m.color === 'blue'));
  await memo.locator('.memo-text').click();
  const field = page.getByRole('textbox', { name: 'Memo text' });
  await field.waitFor({ state: 'visible', timeout: 3000 }).catch(() => { throw fail('a click on the selected memo did not open its text'); });
  await page.keyboard.press('End');
  await page.keyboard.type(', moved');
  await field.blur();
  await marksFile(t, 'the memo text kept on leaving the field', (f) => (f.memos ?? []).find((m) => m.text === 'Grey memo, moved'));

  const flag = (readMarks(t.pdf)?.flags ?? [])[0];
  await dragBy(page, page.locator(`.flag[data-flag="${flag.id}"]`), 30, 25, 'the flag');
  t.flagMove = [flag, await marksFile(t, 'the flag moved right and down', (f) =>
    (f.flags ?? []).find((x) => x.id === flag.id && x.x > flag.x + 0.01 && x.y > flag.y + 0.01))];
}
