// Marks carried from another version: the review list built from the state,
// what a drag does to each kind of record, and the list's actions over a
// scripted native side.
import { expect, it } from 'vitest';
import { lockedText } from '../src/actions/commands';
import { noWordsText } from '../src/actions/carry';
import { dispatchEvent } from '../src/bridge/events';
import type { CueState, Flag } from '../src/bridge/types';
import {
  placeByDrag, progressText, readCarried, readProgress, reviewItems, summaryText, targetOf, type CarryTarget,
} from '../src/state/carry';
import { setLocked } from '../src/state/store';
import { cue, insert, mark, memo, nearAll, openedScript, stateWith, turn, type Answers } from './fake_bridge';

const flag = (id: string, fields: Partial<Flag> = {}): Flag => ({ id, text: '', color: '', role: '', page: 0, x: 0.5, y: 0.5, ...fields });

// A show after a carry: of each kind, records placed cleanly, changed and left for review.
const carried = stateWith({
  cues: [
    cue('1', 0, 0.1),
    cue('12', 0, 0.3, { label: 'Storm', kind: 'LX', snippet: 'the thunder rolls', carry: 'changed' }),
    cue('14', 2, 0.2, { snippet: 'exit', carry: 'review', insertID: 'I1' }),
  ],
  marks: [
    mark('h1', { group: 'G', y: 0.5, text: 'rain on', carry: 'changed' }),
    mark('h2', { group: 'G', y: 0.52, carry: 'review' }),
    mark('h3', { group: 'G', y: 0.54, carry: 'changed' }),
    mark('c1', { group: 'C', kind: 'cut', page: 1, text: 'clean' }),
    mark('r1', { kind: 'region', text: 'SCENE 2', page: 1, y: 0.05, carry: 'review' }),
    mark('x1', { kind: 'hide', text: 'one', y: 0.9, carry: 'changed' }),
  ],
  memos: [memo('M', { text: 'slow\nfade '.repeat(100_000), page: 1, y: 0.4, carry: 'changed' })],
  flags: [flag('F', { role: 'SM', text: 'stand by', page: 1, y: 0.6, carry: 'review' })],
  inserts: [insert('I1', 0.15, 'an added line', { page: 2, carry: 'changed' })],
});

it('the review list: every record with a tag in script order, a mark group as one item tagged by its worst line', () => {
  const items = reviewItems(carried);
  expect(items.map((i) => [i.key, i.kind, i.ids, i.name, i.tag, i.page])).toEqual([
    ['cue:12', 'cue', ['12'], 'Cue LX 12 Storm', 'changed', 0],
    ['marks:G', 'marks', ['h1', 'h2', 'h3'], 'Highlight, 3 lines', 'review', 0],
    ['mark:x1', 'marks', ['x1'], 'Hidden words', 'changed', 0],
    ['mark:r1', 'marks', ['r1'], 'Region', 'review', 1],
    ['memo:M', 'memo', ['M'], 'Memo', 'changed', 1],
    ['flag:F', 'flag', ['F'], 'Flag SM', 'review', 1],
    ['insert:I1', 'insert', ['I1'], 'Inserted line', 'changed', 2],
    ['cue:14', 'cue', ['14'], 'Cue LX 14', 'review', 2],
  ]);
  const by = new Map(items.map((i) => [i.key, i]));
  expect([by.get('cue:12')!.snippet, by.get('marks:G')!.snippet, by.get('mark:r1')!.snippet]).toEqual(['the thunder rolls', 'rain on', 'SCENE 2']);
  expect(by.get('marks:G')!.rects).toHaveLength(3);
  // A cue on an inserted line shows its box there.
  expect(by.get('cue:14')!.insertID).toBe('I1');
  // A memo of a million characters: one row's worth, one line, read no further.
  const long = by.get('memo:M')!.snippet;
  expect([long.length <= 121, long.includes('\n'), long.endsWith('\u2026')]).toEqual([true, false, true]);
  // A value this page does not know is still to be looked at.
  expect(reviewItems(stateWith({ memos: [memo('m', { carry: 'moved' as 'review' })] }))[0].tag).toBe('review');
});

const target = (key: string, state: CueState = carried): CarryTarget => targetOf(state, reviewItems(state).find((i) => i.key === key)!)!;
const words = { rect: [0.2, 0.3, 0.5, 0.04], text: 'a new storm', lineEnd: 0.85, gapL: 0.01, gapR: 0.02, lines: [[0.2, 0.3, 0.5, 0.02], [0.1, 0.32, 0.3, 0.02]] };
const oneLine = { ...words, lines: [[0.2, 0.3, 0.5, 0.02]] };
const lines: [number, number, number, number][] = [[0.1, 0.2, 0.8, 0.02], [0.1, 0.25, 0.8, 0.02]];
const drag = { page: 3, from: { x: 0.95, y: 0.21 }, to: { x: 0.3, y: 0.4 } };
const ids = () => {
  let n = 0;
  return () => `N${++n}`;
};

it.each([
  ['a cue takes the words, keeping what the operator gave it', 'cue:12', words,
    { kind: 'cue', cue: { ...carried.cues[1], carry: undefined, page: 3, x: 0.2, y: 0.3, w: 0.5, h: 0.04, labelX: 0.85, padL: 0.01, padR: 0.02, snippet: 'a new storm' } }],
  ['a cue off its inserted line sits on the words', 'cue:14', oneLine, { kind: 'cue', cue: expect.objectContaining({ insertID: '', number: '14', page: 3 }) }],
  ['a cue where no words are stays pending', 'cue:12', null, null],
  ['a group of three over two lines: its ids kept, the third removed', 'marks:G', words, {
    kind: 'marks', remove: ['h3'],
    upsert: [
      { ...mark('h1', { group: 'G', page: 3, text: 'a new storm' }), x: 0.2, y: 0.3, w: 0.5 },
      { ...mark('h2', { group: 'G', page: 3 }), x: 0.1, y: 0.32, w: 0.3 },
    ],
  }],
  ['a line with no group over two lines gets one', 'mark:x1', words, {
    kind: 'marks', remove: [],
    upsert: [expect.objectContaining({ id: 'x1', group: 'N1', kind: 'hide', text: 'a new storm' }), expect.objectContaining({ id: 'N2', group: 'N1', text: '' })],
  }],
  ['marks where no words are stay pending', 'marks:G', null, null],
  ['a region moves its corner to the start, kept on the page', 'mark:r1', null,
    { kind: 'marks', remove: [], upsert: [nearAll({ ...mark('r1', { kind: 'region', text: 'SCENE 2' }), page: 3, x: 0.8, y: 0.21 })] }],
  ['a memo moves, its size kept', 'memo:M', null, { kind: 'memo', memo: { ...carried.memos[0], carry: undefined, page: 3, x: 0.7, y: 0.21 } }],
  ['a flag goes to the point', 'flag:F', null, { kind: 'flag', flag: { ...carried.flags[0], carry: undefined, page: 3, x: 0.95, y: 0.21 } }],
  ['an inserted line goes under the line the drag starts on', 'insert:I1', null,
    { kind: 'insert', insert: nearAll({ ...carried.inserts[0], carry: undefined, page: 3, afterY: 0.235, lineMidY: 0.235, x: 0.1, lineH: 0.02 }) }],
])('placed by a drag: %s', (_what, key, answer, want) => {
  const placed = placeByDrag(target(key), drag, answer, key === 'insert:I1' ? lines : [], ids());
  if (want === null) return expect(placed).toBeNull();
  expect(placed).toEqual(want);
  // Placed is placed: nothing of it is left to review.
  const recs = placed ? Object.values(placed).flat().filter((r) => typeof r === 'object') : [];
  expect(recs.filter((r) => 'carry' in (r as object))).toEqual([]);
});

it('placed by a drag: an inserted line on a page without lines goes to the point', () => {
  expect(placeByDrag(target('insert:I1'), drag, null, [], ids())).toMatchObject({ insert: { afterY: 0.21, lineMidY: 0.21, x: 0.95 } });
});

it.each([
  ['an older answer', stateWith(), null, ''],
  ['carried by words', { carried: { mode: 'words', placed: 40, changed: 3, review: 2, message: '' } }, { mode: 'words', placed: 40, changed: 3, review: 2, message: '' },
    '40 placed, 3 changed, 2 to review'],
  ['copied by position, saying why', { carried: { mode: 'positions', placed: 7, changed: 0, review: 0, message: ' The other  script\nwas not found. ' } },
    { mode: 'positions', placed: 7, changed: 0, review: 0, message: 'The other script was not found.' },
    'Marks copied by page and position: The other script was not found. (7 placed, 0 changed, 0 to review)'],
  ['damaged counts', { carried: { mode: 'x', placed: -3, changed: Number.NaN, review: '5', message: 7 } },
    { mode: 'words', placed: 0, changed: 0, review: 0, message: '' }, '0 placed, 0 changed, 0 to review'],
])('what a carry did: %s', (_what, answer, want, text) => {
  const s = readCarried(answer);
  expect(s).toEqual(want);
  expect(s ? summaryText(s) : '').toBe(text);
});

it.each([
  [{ step: 'reading the new script', done: 120, total: 500 }, 'Carrying marks: reading the new script 120 of 500'],
  [{ step: 'placing', done: 9, total: 0 }, 'Carrying marks: placing'],
  [{ step: 'x'.repeat(10_000), done: 900, total: 5 }, `Carrying marks: ${'x'.repeat(80)}\u2026 5 of 5`],
  [{ done: 1, total: 2 }, null],
])('the progress line: %j', (payload, text) => {
  const p = readProgress(payload);
  expect(p ? progressText(p) : null).toBe(text);
});

async function shown(answers: Answers = {}) {
  const t = await openedScript(answers, carried);
  t.calls.length = 0;
  return t;
}

it('a carry: its progress shows while the call runs and ends with its answer; then what it did, for this script only', async () => {
  let answer: (v: unknown) => void = () => undefined;
  const t = await shown({ importSidecar: () => new Promise((r) => (answer = r)) });
  dispatchEvent(t.handlers, 'carryProgress', { step: 'reading the new script', done: 1, total: 5 });
  expect(t.carry.progressLine.value).toBe('');
  const call = t.tools.files.importMarks();
  dispatchEvent(t.handlers, 'carryProgress', { step: 'reading the new script', done: 120, total: 500 });
  expect(t.carry.progressLine.value).toBe('Carrying marks: reading the new script 120 of 500');
  answer({ ...carried, carried: { mode: 'words', placed: 4, changed: 5, review: 3, message: '' } });
  await call;
  expect([t.carry.progressLine.value, t.carry.summaryLine.value]).toEqual(['', '4 placed, 5 changed, 3 to review']);
  await t.documents.openPath('/s/other.pdf');
  expect(t.carry.summaryLine.value).toBe('');
});

it.each([
  ['cue:12', 'removeCue', ['12'], '12'],
  ['marks:G', 'removeMarks', ['h1', 'h2', 'h3'], ['h1', 'h2', 'h3']],
  ['memo:M', 'removeMemo', ['M'], 'M'],
  ['flag:F', 'removeFlag', ['F'], 'F'],
  ['insert:I1', 'removeInsert', ['I1'], 'I1'],
] as const)('the review list: %s is accepted by its ids and deleted whole; a locked show does neither', async (key, remove, accepted, removed) => {
  const t = await shown();
  await t.carry.accept(key);
  expect(t.sent('acceptCarried')).toEqual([accepted]);
  await t.carry.remove(key);
  expect(t.sent(remove)).toEqual([removed]);
  setLocked(t.store, true);
  t.calls.length = 0;
  await t.carry.accept(key);
  await t.carry.remove(key);
  t.carry.startPlacing(key);
  expect([t.calls, t.store.status.value, t.carry.placing.value]).toEqual([[], lockedText, null]);
});

it('Accept All Changed: every changed record in one call, nothing left for review', async () => {
  const t = await shown();
  await t.carry.acceptAllChanged();
  expect(t.calls.map((c) => c[0])).toEqual(['acceptCarried']);
  expect(new Set(t.sent<string[]>('acceptCarried')[0])).toEqual(new Set(['x1', '12', 'M', 'I1']));
});

it('Place by Dragging: says what the next drag does, places on the words it finds, Escape lets go', async () => {
  let found: unknown = null;
  const t = await shown({ textRect: () => found });
  t.carry.startPlacing('cue:12');
  expect(t.carry.hint.value).toBe('Drag over the words for Cue LX 12 Storm · Escape cancels');
  expect(t.store.scrollRequest.value).toMatchObject({ page: 0 });
  // No words under the drag: it stays pending and says so.
  await t.carry.place(drag);
  expect([t.store.status.value, t.carry.placing.value?.key]).toEqual([noWordsText, 'cue:12']);
  found = words;
  await t.carry.place(drag);
  expect(t.sent('upsertCue')).toEqual([expect.objectContaining({ id: '12', page: 3, x: 0.2, snippet: 'a new storm' })]);
  expect([t.carry.placing.value, t.store.status.value]).toEqual([null, '']);

  t.carry.startPlacing('memo:M');
  t.commands.escape();
  expect(t.carry.placing.value).toBeNull();
  await turn();
  await t.carry.place(drag);
  expect(t.named('upsertMemo')).toEqual([]);
});
