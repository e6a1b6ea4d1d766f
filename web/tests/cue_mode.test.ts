// Cue Mode over a scripted engine: placing, selecting, editing; the line cursor.
import { expect, it } from 'vitest';
import { nudgeFar, nudgeStep } from '../src/actions/selection';
import type { Cue, Settings } from '../src/bridge/types';
import { dispatchEvent } from '../src/bridge/events';
import { cursorAnnouncement, firstLineBelow, lineDrag, readLines, stepLine, type LineRect } from '../src/state/line_cursor';
import { cue, doc, nearAll, openedScript, settings, stateWith, turn, type Answers } from './fake_bridge';

const cues = [cue('a', 0, 0.2, { number: '5', labelX: 0.5 }), cue('b', 0, 0.6, { number: '6' }), cue('c', 2, 0.1), cue('d', 4, 0.5)];
const state = stateWith({ cues, standbyID: 'a' });
const answer = { rect: [0.1, 0.4, 0.2, 0.02], text: 'storm', lineEnd: 0.7, gapL: 0.01, gapR: 0.02, lines: [] };
const typed = { ...settings, cueSnapWords: false, cueTypes: [{ name: 'SND', color: '#0a0' }, { name: 'LX', color: '' }] } as Settings;
const at = (x: number, y: number) => ({ x, y });

const setup = (overrides: Answers = {}) => openedScript({
  getSettings: () => typed, textRect: () => answer, undo: () => ({ ...state, cues: cues.slice(0, 1), canRedo: true }), ...overrides,
}, state);

// How the answer becomes a cue is cues.test.ts (draftCue); here who asks and when.
it('placing a cue: asks for the words with the snap setting, only in Cue Mode and one cue at a time', async () => {
  const t = await setup();
  await t.cueMode.placeCue(0, at(0.1, 0.4), at(0.3, 0.41));
  expect(t.named('textRect')).toEqual([]);
  t.commands.menuCommand('cueMode');
  await t.cueMode.placeCue(0, at(0.1, 0.4), at(0.3, 0.41));
  await t.cueMode.placeCue(0, at(0.5, 0.5), at(0.5, 0.5));
  expect([t.store.menuState.value.cueMode, t.named('textRect'), t.store.draft.value])
    .toEqual([true, [[[0, 0.1, 0.4, 0.3, 0.41, false]]], expect.objectContaining({ number: '5.5', kind: 'SND', page: 0 })]);
});

it('placing a cue: Escape drops the unfinished cue unsent; Return commits the typed number and label, and that type is the next default', async () => {
  const t = await setup();
  t.cueMode.set(true);
  await t.cueMode.placeCue(0, at(0.1, 0.4), at(0.1, 0.4));
  expect(t.store.draft.value).not.toBeNull();
  t.commands.key('escape');
  expect([t.store.draft.value, t.named('upsertCue'), t.store.cueMode.value]).toEqual([null, [], true]);
  await t.cueMode.placeCue(0, at(0.1, 0.4), at(0.1, 0.4));
  t.store.draft.value = { ...t.store.draft.value!, kind: 'LX' };
  t.cueMode.commitDraft(' 5.2 ', ' Thunder ');
  await turn();
  expect([t.sent('upsertCue'), t.store.draft.value]).toEqual([[expect.objectContaining({ number: '5.2', label: 'Thunder', kind: 'LX', x: 0.1, y: 0.4 })], null]);
  await t.cueMode.placeCue(0, at(0.1, 0.9), at(0.1, 0.9));
  expect(t.store.draft.value?.kind).toBe('LX');
  // An emptied number field keeps the proposal (the same words, so 5.5).
  t.cueMode.commitDraft('', '');
  expect(t.sent<Cue>('upsertCue')[1].number).toBe('5.5');
});

it('placing a cue: a textRect with no words, or an answer after the script changed, places nothing', async () => {
  let resolve: (v: unknown) => void = () => undefined;
  const t = await setup({ textRect: () => new Promise((r) => (resolve = r)) });
  t.cueMode.set(true);
  const placing = t.cueMode.placeCue(0, at(0.1, 0.4), at(0.1, 0.4));
  await t.documents.openPath('/s/other.pdf');
  resolve(answer);
  await placing;
  const t2 = await setup({ textRect: () => null });
  t2.cueMode.set(true);
  await t2.cueMode.placeCue(0, at(0.9, 0.9), at(0.9, 0.9));
  expect([t.store.draft.value, t2.store.draft.value]).toEqual([null, null]);
});

it('the selected cue: is set only in Cue Mode and only for a cue that exists; it shows in the menu state', async () => {
  const t = await setup();
  t.selection.select('a');
  const outside = t.store.menuState.value.hasSelection;
  t.cueMode.set(true);
  t.selection.select('a');
  expect([outside, t.store.menuState.value]).toEqual([false, expect.objectContaining({ cueMode: true, hasSelection: true })]);
  // Undo takes the selected cue away: the selection goes with it.
  t.selection.select('b');
  t.commands.menuCommand('undo');
  await turn();
  t.selection.select('zz');
  t.commands.menuCommand('redo');
  expect([t.store.selectedID.value, t.store.cueState.value.canRedo, t.named('redo').length]).toEqual(['', true, 1]);
  t.selection.select('a');
  t.commands.menuCommand('cueMode');
  expect(t.store.menuState.value).toMatchObject({ cueMode: false, hasSelection: false });
});

it('the selected cue: is stepped in script order from the keys, from the page being read when none is', async () => {
  const t = await setup();
  t.commands.key('selectNext');
  expect(t.store.selectedID.value).toBe('');
  t.cueMode.set(true);
  t.documents.visiblePageChanged(1);
  const seen = (['selectNext', 'selectNext', 'selectNext', 'selectPrev', 'selectPrev', 'selectPrev', 'selectPrev'] as const)
    .map((k) => (t.commands.key(k), t.store.selectedID.value));
  // From page 2 the first cue is c; no wrap at either end; the view shows the selection.
  expect([seen, t.store.scrollRequest.value?.page]).toEqual([['c', 'd', 'd', 'c', 'b', 'a', 'a'], 0]);
});

it('the selected cue: is deleted, duplicated and renumbered, and edited in its settings sheet', async () => {
  const t = await setup({ renumberCues: () => state });
  t.cueMode.set(true);
  t.commands.menuCommand('deleteCue');
  expect(t.named('removeCue')).toEqual([]);
  t.selection.select('a');
  t.commands.menuCommand('duplicateCue');
  await turn();
  const [copy] = t.sent<Cue>('upsertCue');
  expect([copy.number, copy.y, copy.id !== 'a', t.store.selectedID.value]).toEqual(['5.5', 0.2, true, copy.id]);
  t.selection.select('a');
  t.commands.menuCommand('cueSettings');
  expect(t.store.sheet.value?.id).toBe('a');
  t.selection.commitSheet({ number: '', label: 'Rain', note: 'slow' });
  expect(t.sent('upsertCue')[1]).toMatchObject({ id: 'a', number: '5', label: 'Rain', note: 'slow' });
  // Left unchanged, the sheet sends nothing.
  t.commands.menuCommand('cueSettings');
  t.selection.commitSheet({});
  expect(t.named('upsertCue')).toHaveLength(2);
  t.commands.menuCommand('deleteCue');
  expect([t.named('removeCue'), t.store.menuState.value.hasSelection]).toEqual([[['a']], false]);
  t.commands.menuCommand('renumber');
  expect(t.named('renumberCues')).toHaveLength(1);
});

it('the selected cue: nudges add up before the engine echoes them, stay on the page, and need Cue Mode', async () => {
  const t = await setup();
  t.commands.key('nudgeRight');
  expect(t.named('upsertCue')).toEqual([]);
  t.cueMode.set(true);
  t.selection.select('a');
  for (const k of ['nudgeRight', 'nudgeRight', 'nudgeDownFar'] as const) t.commands.key(k);
  expect(t.sent<Cue>('upsertCue').map((c) => [c.x, c.y, c.labelX])).toEqual(nearAll([
    [0.1 + nudgeStep, 0.2, 0.5 + nudgeStep], [0.1 + 2 * nudgeStep, 0.2, 0.5 + 2 * nudgeStep], [0.1 + 2 * nudgeStep, 0.2 + nudgeFar, 0.5 + 2 * nudgeStep],
  ]));
  await turn();
  // At the left edge a nudge further left sends nothing.
  dispatchEvent(t.handlers, 'cueState', { ...state, cues: [{ ...cues[0], x: 0 }, ...cues.slice(1)] });
  t.commands.key('nudgeLeft');
  expect(t.named('upsertCue')).toHaveLength(3);
});

// F2 in the page and Escape in its field: page.test.tsx, leaving_fields.test.tsx.
it('the selected cue: F2 edits the label, trimmed; behind a sheet the selection keys rest', async () => {
  const t = await setup();
  t.cueMode.set(true);
  t.selection.select('b');
  const open = { cueMode: true, selection: true, lineCursor: false };
  for (const sheet of [() => t.selection.openSheet(), () => t.view.openGoTo(), () => t.sheets.openPageSheet('shortcuts')]) {
    sheet();
    expect(t.commands.keyMode()).toMatchObject({ cueMode: false, selection: false, lineCursor: false });
    t.commands.escape();
    expect(t.commands.keyMode()).toMatchObject(open);
  }
  t.commands.key('editLabel');
  t.selection.commitLabel('  Storm  ');
  expect(t.sent('upsertCue')).toEqual([{ ...cues[1], label: 'Storm' }]);
});

// Four pages: two lines, none (a picture), one, two.
const pages: LineRect[][] = [
  [[0.1, 0.1, 0.5, 0.02], [0.1, 0.5, 0.6, 0.02]], [], [[0.2, 0.3, 0.4, 0.02]], [[0.1, 0.2, 0.3, 0.02], [0.1, 0.8, 0.3, 0.02]],
];
const linesOf = (p: number) => Promise.resolve(pages[p] ?? []);

it.each([
  [{ page: 0, line: 0 }, 1, { page: 0, line: 1 }], [{ page: 0, line: 1 }, 1, { page: 2, line: 0 }],
  [{ page: 2, line: 0 }, 1, { page: 3, line: 0 }], [{ page: 3, line: 1 }, 1, null], [{ page: 3, line: 0 }, -1, { page: 2, line: 0 }],
  [{ page: 2, line: 0 }, -1, { page: 0, line: 1 }], [{ page: 0, line: 0 }, -1, null],
] as const)('the line cursor: steps from %j by %i to %j', async (from, delta, to) => {
  expect(await stepLine(from, delta, 4, linesOf)).toEqual(to);
});

it.each([
  [0, 0, { page: 0, line: 0 }], [0, 0.2, { page: 0, line: 1 }], [0, 0.6, { page: 2, line: 0 }], [1, 0, { page: 2, line: 0 }], [3, 0.9, null],
])('the line cursor: starts on page %i below %f at %j', async (page, y, to) => {
  expect(await firstLineBelow(page, y, 4, linesOf)).toEqual(to);
});

it('the line cursor: reads only well-formed line boxes, drags along the whole line, and names the line', () => {
  expect(readLines([[0, 0.1, 0.5, 0.02], [0, 0, 0, 0.02], ['x', 0, 1, 1], [0.1, 0.2], null, [0, NaN, 1, 1]])).toEqual([[0, 0.1, 0.5, 0.02]]);
  expect(readLines({ lines: [] })).toEqual([]);
  const { from, to } = lineDrag([0.1, 0.4, 0.5, 0.02]);
  expect([from.y, to.y, from.x > 0.1, to.x < 0.6, to.x - from.x > 0.49]).toEqual([expect.closeTo(0.41), expect.closeTo(0.41), true, true, true]);
  expect([cursorAnnouncement('3', 11, ' ODA  Boots '), cursorAnnouncement('iv', 0, 'Exit.')]).toEqual(['Page 3, line 12: ODA Boots.', 'Page iv, line 1: Exit.']);
});

const cursorState = stateWith({ cues: [cue('a', 0, 0.1, { number: '5', w: 0.5 }), cue('b', 3, 0.2, { number: '6', w: 0.5 })], standbyID: 'a' });
const cursorSetup = (overrides: Answers = {}) => openedScript({
  openDocumentPath: (p: never) => doc(p, { state: cursorState, pageCount: 4, aspects: [0.7, 0.7, 0.7, 0.7] }),
  pageLines: (p: never) => pages[p as number],
  textRect: (a: never) => {
    const [page, , y] = a as unknown as number[];
    const line = pages[page].find((r) => y > r[1] && y < r[1] + r[3]);
    return line ? { rect: line, text: `words ${page}`, lineEnd: 0.8, gapL: 0, gapR: 0, lines: [] } : null;
  },
  ...overrides,
});

it('the line cursor: starts at the view or after the selected cue, moves, places through textRect with the next number; Escape, leaving Cue Mode, a new script hide it', async () => {
  const t = await cursorSetup();
  await t.cursor.key();
  const outside = t.store.lineCursor.value;
  t.cueMode.set(true);
  await t.cursor.key();
  const atView = t.store.lineCursor.value;
  t.commands.key('escape');
  expect([outside, atView, t.store.lineCursor.value, t.store.cueMode.value]).toEqual([null, expect.objectContaining({ page: 0, line: 0 }), null, true]);
  t.selection.select('a');
  await t.cursor.key();
  expect([t.store.lineCursor.value, t.commands.keyMode().lineCursor]).toEqual([expect.objectContaining({ page: 0, line: 1, text: 'words 0' }), true]);
  await t.cursor.move('down');
  await t.cursor.move('down');
  await t.cursor.move('home');
  const home = t.store.lineCursor.value;
  await t.cursor.move('end');
  expect([home, t.store.lineCursor.value, t.sent('pageLines').sort()])
    .toEqual([expect.objectContaining({ page: 3, line: 0 }), expect.objectContaining({ page: 3, line: 1 }), [0, 1, 2, 3]]);
  t.store.lastKind.value = 'SND';
  await t.cursor.key();
  const asked = t.sent<number[]>('textRect').pop()!;
  expect([asked[0], asked[2], asked[4], t.store.lineCursor.value]).toEqual([3, expect.closeTo(0.81), expect.closeTo(0.81), null]);
  // After cue 6, the last cue; the type last used.
  expect([t.store.draft.value, t.commands.keyMode().cueMode]).toEqual([expect.objectContaining({ page: 3, number: '7', snippet: 'words 3', kind: 'SND', y: 0.8 }), false]);
  t.commands.key('escape');
  await t.cursor.key();
  t.cueMode.set(false);
  const leftCueMode = t.store.lineCursor.value;
  t.cueMode.set(true);
  await t.cursor.key();
  await t.documents.openPath('/s/other.pdf');
  expect([leftCueMode, t.store.lineCursor.value]).toEqual([null, null]);
});

it('the line cursor: runs quick keys in order: two Downs over pages still being asked for are two lines, n places on the second', async () => {
  const t = await cursorSetup({ pageLines: (p: never) => new Promise((r) => setTimeout(() => r(pages[p as number]), 5)) });
  t.cueMode.set(true);
  t.selection.select('a');
  await t.cursor.key();
  for (const k of ['cursorDown', 'cursorDown', 'lineCursor'] as const) t.commands.key(k);
  await t.cursor.move('up');
  expect([t.store.lineCursor.value, t.store.draft.value]).toEqual([null, expect.objectContaining({ page: 3, y: 0.2 })]);
});

it('the line cursor: stays on a line without words and places nothing; a failed pageLines is asked again', async () => {
  let fail = true;
  const t = await cursorSetup({
    pageLines: (p: never) => {
      if (fail) throw new Error('no lines');
      return pages[p as number];
    },
    textRect: () => null,
  });
  t.cueMode.set(true);
  await t.cursor.key();
  expect([t.store.lineCursor.value, t.store.message.value]).toEqual([null, 'No text lines from here on.']);
  fail = false;
  await t.cursor.key();
  expect(t.store.lineCursor.value).toMatchObject({ page: 0, line: 0, text: '' });
  await t.cursor.key();
  expect([t.store.draft.value, t.store.lineCursor.value]).toEqual([null, expect.objectContaining({ page: 0, line: 0 })]);
});
