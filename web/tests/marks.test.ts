// Marks, memos and flags: shapes, colours, and the tools over a scripted engine.
import { expect, it } from 'vitest';
import type { CueState, Mark, Memo } from '../src/bridge/types';
import { contrastRatio, parseColor } from '../src/state/contrast';
import {
  answerLines, dragRect, groupOf, hexColors, markAt, marksOfLines, memoPalette, movedGroup, movedRect, newMemoRect, nextColor, previewOfDrag,
  resizedRect, shownBox, shownRect, storedColor, type MarkGeometry,
} from '../src/state/mark_shapes';
import { mark, memo, near, nearAll, openedScript, stateWith, turn, type Answers } from './fake_bridge';

it.each([
  ['two lines', { rect: [0.1, 0.2, 0.5, 0.05], text: 'rain hammers', lines: [[0.3, 0.2, 0.3, 0.02], [0.1, 0.23, 0.2, 0.02]] },
    [[0.3, 0.2, 0.3, 0.02], [0.1, 0.23, 0.2, 0.02]]],
  ['no lines named: the whole rectangle', { rect: [0.1, 0.2, 0.5, 0.02], text: 'x', lines: [] }, [[0.1, 0.2, 0.5, 0.02]]],
  ['lines without area left out', { rect: [0.1, 0.2, 0.5, 0.02], text: 'x', lines: [[0.1, 0.2, 0, 0.02], [0.2, 0.2, 0.1, 0.02]] },
    [[0.2, 0.2, 0.1, 0.02]]],
  ['no words there', null, null], ['a damaged answer', { rect: [0.1, 'a', 0.2, 0.1] }, null],
])('a drag over the words becomes one mark per line, in one group: %s', (_name, answer, want) => {
  const found = answerLines(answer);
  if (want === null) return expect(found).toBeNull();
  let n = 0;
  const marks = marksOfLines(found!, 'cut', 3, '', 'G1', () => `m${++n}`);
  // The words are kept once, on the first line; each line its own id.
  const text = (i: number) => (i === 0 ? (answer as { text: string }).text : '');
  expect(marks.map((m) => [m.x, m.y, m.w, m.h, m.group, m.kind, m.page, m.text, m.id]))
    .toEqual(want.map((r, i) => [...r, 'G1', 'cut', 3, text(i), `m${i + 1}`]));
});

// One gap of 0.1 opened after y 0.5: the page is 1.1 times as tall.
const grown: MarkGeometry = {
  extra: 0.1,
  toGrown: (y) => (y + (y > 0.5 ? 0.1 : 0)) / 1.1,
  fromGrown: (g) => Math.min(g * 1.1, 0.5) + Math.max(0, g * 1.1 - 0.6),
  shiftX: (x, y) => (y > 0.2 && y < 0.22 && x >= 0.4 ? 0.05 : 0),
};
it.each([
  ['corners in either order', dragRect({ x: 0.6, y: 0.5 }, { x: 0.2, y: 0.3 }), { x: 0.2, y: 0.3, w: 0.4, h: 0.2 }],
  ['a drag past the edges is cut there', dragRect({ x: -0.2, y: 0.9 }, { x: 0.5, y: 1.4 }), { x: 0, y: 0.9, w: 0.5, h: 0.1 }],
  ['a move stops at the edge without shrinking', movedRect({ x: 0.8, y: 0.1, w: 0.3, h: 0.1 }, 0.2, -0.5), { x: 0.7, y: 0, w: 0.3, h: 0.1 }],
  ['a resize ends at the page edge', resizedRect({ x: 0.7, y: 0.9, w: 0.2, h: 0.05 }, 0.5, 0.5), { x: 0.7, y: 0.9, w: 0.3, h: 0.1 }],
  ['a resize keeps a readable minimum', resizedRect({ x: 0.1, y: 0.1, w: 0.2, h: 0.05 }, -1, -1), { x: 0.1, y: 0.1, w: 0.06, h: 0.025 }],
  ['a memo clicked near the corner fits inside', newMemoRect({ x: 0.9, y: 0.97 }, null), { x: 0.7, y: 0.92, w: 0.3, h: 0.08 }],
  ['a group moves as one and stops where one line meets the edge',
    movedGroup([{ x: 0.1, y: 0.2, w: 0.8, h: 0.02 }, { x: 0.05, y: 0.23, w: 0.5, h: 0.02 }], -0.2, 0.01),
    [{ x: 0.05, y: 0.21, w: 0.8, h: 0.02 }, { x: 0, y: 0.24, w: 0.5, h: 0.02 }]],
  ['a tiny dragged memo gets the minimum', newMemoRect({ x: 0.2, y: 0.2 }, { x: 0.21, y: 0.205 }), { x: 0.2, y: 0.2, w: 0.06, h: 0.025 }],
  // Drawn through a page grown by inserted lines.
  ['above the gap', shownRect({ x: 0.1, y: 0.1, w: 0.2, h: 0.02 }, grown), { x: 0.1, y: 0.1 / 1.1, w: 0.2, h: 0.02 / 1.1 }],
  ['below the gap it moves down', shownRect({ x: 0.1, y: 0.6, w: 0.2, h: 0.02 }, grown), { x: 0.1, y: 0.7 / 1.1, w: 0.2, h: 0.02 / 1.1 }],
  ['a region around the gap grows with it', shownRect({ x: 0.1, y: 0.4, w: 0.2, h: 0.2 }, grown), { x: 0.1, y: 0.4 / 1.1, w: 0.2, h: 0.3 / 1.1 }],
  ['on a split row the words right of it move', shownRect({ x: 0.5, y: 0.2, w: 0.1, h: 0.02 }, grown), { x: 0.55, y: 0.2 / 1.1, w: 0.1, h: 0.02 / 1.1 }],
  ['a memo keeps its size', shownBox({ x: 0.1, y: 0.6, w: 0.3, h: 0.11 }, grown), { x: 0.1, y: 0.7 / 1.1, w: 0.3, h: 0.1 }],
])('shapes: %s', (_name, got, want) => {
  expect(got).toEqual(Array.isArray(want) ? want.map(nearAll) : nearAll(want));
});

const lines: [number, number, number, number][] = [[0.1, 0.1, 0.6, 0.02], [0.1, 0.13, 0.7, 0.02], [0.2, 0.16, 0.3, 0.02]];
const three = [[0.3, 0.1, 0.4, 0.02], [0.1, 0.13, 0.7, 0.02], [0.2, 0.16, 0.2, 0.02]];
it.each([
  ['no lines known yet: the band between the points', [], { x: 0.5, y: 0.2 }, { x: 0.2, y: 0.3 }, [[0.2, 0.2, 0.3, 0.1]]],
  ['within one line', lines, { x: 0.3, y: 0.11 }, { x: 0.5, y: 0.11 }, [[0.3, 0.1, 0.2, 0.02]]],
  ['across three lines', lines, { x: 0.3, y: 0.11 }, { x: 0.4, y: 0.17 }, three],
  ['dragged upwards', lines, { x: 0.4, y: 0.17 }, { x: 0.3, y: 0.11 }, three],
  ['from between lines', lines, { x: 0.05, y: 0.125 }, { x: 0.9, y: 0.14 }, [[0.1, 0.13, 0.7, 0.02]]],
  ['no lines under it: the band', lines, { x: 0.1, y: 0.5 }, { x: 0.3, y: 0.5 }, [[0.1, 0.5, 0.2, 0.012]]],
] as [string, typeof lines, { x: number; y: number }, { x: number; y: number }, number[][]][])('shapes: a drag is drawn before the words are known: %s', (_n, known, a, b, want) => {
  expect(previewOfDrag(known, a, b).map((r) => [r.x, r.y, r.w, r.h].map((v) => Math.round(v * 1e6) / 1e6))).toEqual(want);
});

it('shapes: a click picks the smallest mark under it on its page; a group is the marks of one drag on one page', () => {
  const [region, a, b, lone, other] = [mark('r', { kind: 'region', x: 0, y: 0, w: 0.8, h: 0.5 }), mark('a', { group: 'g', y: 0.1 }),
    mark('b', { group: 'g', y: 0.13 }), mark('c', { y: 0.3 }), mark('d', { group: 'g', page: 1 })];
  const marks = [region, a, b, lone, other];
  const at = (page: number, x: number, y: number) => markAt(marks, page, { x, y })?.id;
  expect([at(0, 0.2, 0.11), at(0, 0.6, 0.4), at(0, 0.9, 0.9), at(1, 0.2, 0.11)]).toEqual(['a', 'r', undefined, 'd']);
  expect([a, lone, region].map((m) => groupOf(marks, m).map((g) => g.id))).toEqual([['a', 'b'], ['c'], ['r']]);
});

it('colours are ids the export knows: memo colour ids name their paper (any other is yellow); a kind stores its own colour, or one it cannot have, as ""', () => {
  expect(['', 'rose', 'green', 'blue', 'grey', 'pink', 'toString'].map((id) => memoPalette(id).paper)).toEqual(
    ['#fff6d5', '#ffe0d8', '#e2f2d9', '#dde9f8', '#ebebe8', '#fff6d5', '#fff6d5']);
  const chosen = [['region', '#D8391D'], ['region', '#2f6fd0'], ['flag', '#2f6fd0'], ['flag', 'red'], ['memo', 'rose'], ['memo', '#ffe0d8']] as const;
  expect(chosen.map(([kind, c]) => storedColor(kind, c))).toEqual(['', '#2f6fd0', '', '', 'rose', '']);
  // Region tabs and flag chips write white on every colour offered, at 4.5:1 or more.
  expect(hexColors.filter((c) => contrastRatio(parseColor(c)!, parseColor('#ffffff')!) < 4.5)).toEqual([]);
});

it("colours are ids the export knows: C steps through a kind's colours and wraps; highlights have none", () => {
  const walk = (kind: 'memo' | 'region', n: number) => {
    let c = '';
    return Array.from({ length: n }, () => (c = nextColor(kind, c)!));
  };
  expect([walk('memo', 5), walk('region', 6), nextColor('highlight', '')]).toEqual([
    ['rose', 'green', 'blue', 'grey', ''], ['#2f6fd0', '#2a7a41', '#9a6416', '#7d4cc2', '#5f6670', ''], undefined]);
});

const words = { rect: [0.1, 0.2, 0.5, 0.05], text: 'storm', lineEnd: 0.6, gapL: 0, gapR: 0, lines: [[0.3, 0.2, 0.3, 0.02], [0.1, 0.23, 0.2, 0.02]] };
const setup = (overrides: Answers = {}, state: CueState = stateWith()) =>
  openedScript({ textRect: () => words, pageLines: () => [], ...overrides }, state);
const sel = stateWith({
  marks: [mark('a', { group: 'g' }), mark('b', { group: 'g', y: 0.13 }), mark('r', { kind: 'region', x: 0.5, y: 0.5, w: 0.2, h: 0.2 }),
    mark('r2', { kind: 'region', group: 'rg', y: 0.8 }), mark('r3', { kind: 'region', group: 'rg', y: 0.5 })],
  memos: [memo('m', { text: 'note', y: 0.6 })],
});

it('the mark tools: need Cue Mode; a drag is drawn at once and sent as one call; the key of the tool in hand puts it down', async () => {
  let answer: (v: unknown) => void = () => undefined;
  const t = await setup({ textRect: () => new Promise((r) => (answer = r)) });
  t.commands.key('tool1');
  const outside = t.marks.tool.value;
  t.cueMode.set(true);
  t.commands.key('tool1');
  expect([outside, t.marks.tool.value, t.marks.begin(2, { x: 0.1, y: 0.2 })]).toEqual([null, 'highlight', true]);
  t.marks.move({ x: 0.3, y: 0.24 });
  expect(t.marks.preview.value).toMatchObject({ page: 2, kind: 'highlight', rects: [expect.anything()] });
  const ending = t.marks.end({ x: 0.3, y: 0.24 }, false);
  answer(words);
  await ending;
  expect(t.named('textRect').pop()).toEqual([[2, 0.1, 0.2, 0.3, 0.24, true]]);
  // One call, so one undo step, for the lines of one drag, in one new group.
  const sent = t.sent<Mark[]>('upsertMarks');
  const group = sent[0][0].group;
  expect(sent.map((marks) => marks.map((m) => [m.kind, m.page, m.x, m.y, m.group])))
    .toEqual([[['highlight', 2, 0.3, 0.2, group], ['highlight', 2, 0.1, 0.23, group]]]);
  expect([group, t.marks.preview.value]).toEqual([expect.stringMatching(/./), null]);
  t.commands.key('tool1');
  const putDown = t.marks.tool.value;
  t.commands.key('tool3');
  t.cueMode.set(false);
  expect([putDown, t.marks.tool.value]).toEqual([null, null]);
});

it('the mark tools: a region takes its tab text after the frame; a slip makes none; Escape drops a new one', async () => {
  const t = await setup();
  t.cueMode.set(true);
  t.commands.key('tool2');
  t.marks.chooseColor('#2a7a41');
  const frame = async (from: number, to: number) => {
    t.marks.begin(0, { x: 0.5, y: 0.5 });
    await t.marks.end({ x: from, y: to }, false);
  };
  await frame(0.2, 0.3);
  expect(t.marks.regionEdit.value?.rec).toMatchObject(nearAll({ kind: 'region', x: 0.2, y: 0.3, w: 0.3, h: 0.2, color: '#2a7a41' }));
  t.marks.commitRegion('  FLY 3 ');
  expect(t.sent<Mark>('upsertMark').map((m) => m.text)).toEqual(['FLY 3']);
  await frame(0.502, 0.501);
  expect(t.marks.regionEdit.value).toBeNull();
  await frame(0.7, 0.7);
  t.commands.key('escape');
  expect([t.marks.regionEdit.value, t.named('upsertMark').length, t.marks.tool.value]).toEqual([null, 1, 'region']);
});

it('the mark tools: "addMemo" brings Cue Mode and a new memo at the reading line, Escape drops it unsent; a moved memo shows where it was put until the answer', async () => {
  let answer: () => void = () => undefined;
  const blue = memo('m', { color: 'blue' });
  const t = await setup({ upsertMemo: () => new Promise<void>((r) => (answer = r)) }, stateWith({ memos: [blue] }));
  t.marks.setReadingPlace(() => ({ page: 3, g: 0.4 }));
  t.commands.menuCommand('addMemo');
  expect([t.store.cueMode.value, t.marks.memoEdit.value?.rec]).toEqual([true, expect.objectContaining({ page: 3, x: 0.06, y: 0.4, w: 0.3, h: 0.08, color: '' })]);
  t.commands.key('escape');
  expect([t.marks.memoEdit.value, t.named('upsertMemo')]).toEqual([null, []]);
  const moved = { ...blue, x: 0.4 };
  const sending = t.marks.commitMemo(moved);
  expect(t.marks.pageItems(0).memos).toEqual([moved]);
  answer();
  await sending;
  expect([t.marks.pageItems(0).memos, t.sent('upsertMemo')]).toEqual([[blue], [moved]]);
});

it('the mark tools: "toggleMemos" flips the setting; a flag takes its role and text from the form', async () => {
  const t = await setup();
  t.commands.menuCommand('toggleMemos');
  expect(t.sent('setSettings')).toEqual([{ memosVisible: false }]);
  t.cueMode.set(true);
  t.commands.key('tool6');
  t.marks.begin(1, { x: 0.2, y: 0.3 });
  await t.marks.end({ x: 0.2, y: 0.3 }, true);
  t.marks.commitFlagForm(' LX ', ' check cyc ');
  await turn();
  expect(t.sent('upsertFlag')).toEqual([expect.objectContaining({ page: 1, x: 0.2, y: 0.3, role: 'LX', text: 'check cyc', color: '' })]);
});

it('the selection of marks: a click with a tool picks the group; Delete removes it in one call; Escape steps back', async () => {
  const t = await setup({}, sel);
  t.cueMode.set(true);
  t.commands.key('tool3');
  t.marks.begin(0, { x: 0.2, y: 0.11 });
  await t.marks.end({ x: 0.2, y: 0.11 }, true);
  expect([t.named('textRect'), t.commands.keyMode().markSelection]).toEqual([[], true]);
  t.commands.key('deleteMark');
  t.marks.selectMark(sel.marks[2]);
  t.commands.key('deleteMark');
  t.marks.selectMemo('m');
  t.commands.key('deleteMark');
  expect([t.named('removeMarks'), t.named('removeMark'), t.named('removeMemo')]).toEqual([[[['a', 'b']]], [['r']], [['m']]]);
  // Escape: the selection, then the tool, then nothing of the marks.
  t.marks.selectMemo('m');
  expect([t.marks.escape(), t.marks.selected.value, t.marks.escape(), t.marks.tool.value, t.marks.escape()]).toEqual([true, null, true, null, false]);
});

it('the selection of marks: a colour goes to the whole selected group in one call; a selected cue takes the selection away', async () => {
  const t = await setup({}, sel);
  t.cueMode.set(true);
  t.marks.selectMark(sel.marks[3]);
  t.commands.key('markColor');
  t.marks.selectMemo('m');
  t.marks.chooseColor('green');
  expect([t.sent<Mark[]>('upsertMarks').map((g) => g.map((m) => [m.id, m.color])), t.sent<Memo>('upsertMemo').map((m) => m.color)])
    .toEqual([[[['r2', '#2f6fd0'], ['r3', '#2f6fd0']]], ['green']]);
  t.store.selectedID.value = 'cue';
  expect(t.marks.selection.value).toBeNull();
  // A GO brings new lists of the same records: the page index stays the same object.
  const index = t.marks.byPage.value;
  const run = { standbyID: 'x', lastFiredID: '', fired: [], savedRun: {} };
  t.handlers.cueState!(JSON.parse(JSON.stringify({ ...t.store.cueState.value, ...run })));
  const kept = t.marks.byPage.value === index;
  t.handlers.cueState!({ ...t.store.cueState.value, ...run, marks: t.store.cueState.value.marks.slice(1) });
  expect([kept, t.marks.byPage.value === index]).toEqual([true, false]);
  // The memo whose text is open is undone away: its field goes, the tool keys come back.
  t.store.selectedID.value = '';
  t.marks.selectMemo('m');
  t.commands.key('editMark');
  expect(t.commands.keyMode().markTools).toBe(false);
  t.handlers.cueState!({ ...sel, memos: [] });
  expect([t.marks.memoEdit.value, t.commands.keyMode()]).toEqual([null, expect.objectContaining({ markTools: true, markSelection: false })]);
});

it("the selection of marks: moves by Alt+arrows: quick presses add up before the answers, one call each; a cue selection is the cue's", async () => {
  const answers: (() => void)[] = [];
  const t = await setup({ upsertMemo: () => new Promise<void>((r) => answers.push(r)) },
    stateWith({ marks: [mark('a', { group: 'g', x: 0 }), mark('b', { group: 'g', y: 0.13 })], memos: [memo('m')] }));
  t.cueMode.set(true);
  t.marks.selectMemo('m');
  t.commands.key('nudgeRight');
  t.commands.key('nudgeRightFar');
  expect(t.sent<Memo>('upsertMemo').map((m) => m.x)).toEqual([near(0.102), near(0.112)]);
  answers.forEach((r) => r());
  await turn();
  // A group at the left edge does not move further left.
  t.marks.selectMark(mark('a', { group: 'g', x: 0 }));
  t.commands.key('nudgeLeft');
  t.commands.key('nudgeDown');
  expect(t.sent<Mark[]>('upsertMarks').map((g) => g.map((m) => [m.x, m.y]))).toEqual([nearAll([[0, 0.102], [0.1, 0.132]])]);
  t.marks.deselect();
  t.commands.key('nudgeDown');
  expect(t.named('upsertMarks')).toHaveLength(1);
});
