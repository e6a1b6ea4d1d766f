// The rules of cues: summary, tags, colours, order, new numbers, the list kept through a GO.
import { expect, it } from 'vitest';
import type { Cue } from '../src/bridge/types';
import { draftCue, duplicateOf, proposeNumber, textRectArgs } from '../src/state/cue_edit';
import { cueColor, cueTag, glowCueID, labelLeft, orderOf, showSummary, stepCue } from '../src/state/cues';
import { applyCueState, createStore, sameCues } from '../src/state/store';
import { cue, stateWith } from './fake_bridge';

const cues = [cue('a', 0, 0.2), cue('b', 0, 0.6), cue('c', 2, 0.1), cue('d', 4, 0.5)];

it.each([
  ['b', 'b', ['c', 'd']], ['d', 'd', []], ['', undefined, []],
  // An id no longer among the cues: no standby.
  ['gone', undefined, []],
])('the show panel and the cue list: standby %j is %j with next %j', (standbyID, standby, next) => {
  const s = showSummary(cues, orderOf(cues), standbyID);
  expect([s.standby?.id, s.next.map((c) => c.id)]).toEqual([standby, next]);
});

it.each([
  [{ kind: 'LX', number: '23' }, 'LX 23'], [{ kind: ' SFX ', number: ' 4a ' }, 'SFX 4a'], [{ kind: '', number: '7' }, '7'],
  [{ kind: 'FLY', number: '' }, 'FLY'], [{ kind: '', number: '' }, '?'],
])('the show panel and the cue list: %j is tagged %s', (fields, text) => {
  expect(cueTag(cue('x', 0, 0, fields))).toBe(text);
});

it('the show panel and the cue list: sits a label where the page put it, else right of the box, never off the page', () => {
  expect([0.8, 0, 0].map((labelX, i) => labelLeft(cue('a', 0, 0, { labelX, x: [0.1, 0.1, 0.9][i] }))))
    .toEqual([0.8, expect.closeTo(0.306, 6), 1]);
});

const types = [{ name: 'LX', color: '#3a7bd5' }, { name: 'SFX', color: '#d8391d' }];
it.each([
  ['#00ff00', 'LX', types, '#00ff00'], ['', 'LX', types, '#3a7bd5'], ['', 'FLY', types, undefined], ['', 'SFX', undefined, undefined],
] as const)('the show panel and the cue list: own colour %j of type %s is drawn %j', (color, kind, list, expected) => {
  expect(cueColor(cue('x', 0, 0, { color, kind }), list)).toBe(expected);
});

it.each([
  ['b', 1, 'c'], ['b', -1, 'a'], ['a', -1, undefined], ['d', 1, undefined],
  // No standby: past the last cue. Back finds the last one, on finds none.
  ['', -1, 'd'], ['', 1, undefined], ['gone', -1, 'd'],
] as [string, number, string | undefined][])('script order: from %j by %i is %j', (from, delta, to) => {
  expect(stepCue(cues, from, delta)?.id).toBe(to);
});

it.each([
  ['standby', 'b', 'b'], [undefined, 'b', 'b'], ['sideways', 'b', 'b'], ['next', 'b', 'c'], ['next', 'd', ''], ['next', '', ''],
] as [string | undefined, string, string][])('script order: glowTarget %j with standby %j glows %j', (target, standby, glow) => {
  expect(glowCueID({ cues, standbyID: standby }, target)).toBe(glow);
});

it.each([
  [undefined, undefined, '1'], ['5', undefined, '6'], ['5.5', undefined, '6'], ['5', '6', '5.5'], ['5', '8', '6'],
  ['5.5', '6', '5.8'], ['5', '5.1', '5.05'], [undefined, '5', '4'], [undefined, '1', '0.5'], [undefined, '0.5', '0.3'],
  // Out of order or equal neighbours: the next whole number, they type theirs.
  ['7', '3', '8'], ['4', '4', '5'],
  // Letters are passed over as if absent.
  ['A', '3', '2'], ['12b', undefined, '1'], [' 9 ', undefined, '10'],
])('a new cue: after %s and before %s is offered %s', (before, after, offered) => {
  expect(proposeNumber(before, after)).toBe(offered);
});

it.each([
  ['a click is the same point twice', 2, { x: 0.3, y: 0.4 }, { x: 0.3, y: 0.4 }, true, [2, 0.3, 0.4, 0.3, 0.4, true]],
  ['a drag keeps its direction', 0, { x: 0.6, y: 0.5 }, { x: 0.2, y: 0.45 }, false, [0, 0.6, 0.5, 0.2, 0.45, false]],
  ['points off the page are kept on it', 1.7, { x: -0.2, y: 1.3 }, { x: Number.NaN, y: 0.5 }, true, [1, 0, 1, 0, 0.5, true]],
])('a new cue: asks for the words: %s', (_name, page, from, to, snap, args) => {
  expect(textRectArgs(page, from, to, snap)).toEqual(args);
});

const numbered = [cue('a', 0, 0.2, { number: '1' }), cue('b', 0, 0.6, { number: '2' }), cue('c', 1, 0.3, { number: '3' })];
const answer = { rect: [0.1, 0.4, 0.25, 0.02], text: 'the storm', lineEnd: 0.82, gapL: 0.01, gapR: -0.5 };

it('a new cue: sits on the answered words, its label at the line end, numbered between its neighbours', () => {
  expect(draftCue(answer, 0, numbered, 'SND', 'NEW')).toMatchObject({
    id: 'NEW', page: 0, x: 0.1, y: 0.4, w: 0.25, h: 0.02, labelX: 0.82, padL: 0.01, padR: 0,
    number: '1.5', kind: 'SND', snippet: 'the storm', label: '',
  });
  expect(draftCue(answer, 2, numbered, 'LX', 'N').number).toBe('4');
  expect(draftCue({ ...answer, rect: [0.1, 0.1, 0.1, 0.02] }, 0, numbered, 'LX', 'N').number).toBe('0.5');
  // A line end of 0 means none: the label goes beside the box.
  expect(draftCue({ ...answer, lineEnd: 0 }, 0, numbered, 'LX', 'N').labelX).toBe(0);
  // A duplicate takes the number after its original.
  expect(duplicateOf(numbered[0], numbered, 'D')).toMatchObject({ id: 'D', number: '1.5', page: 0, y: 0.2 });
  expect(duplicateOf(numbered[2], numbered, 'D').number).toBe('4');
});

const state = stateWith({ cues, standbyID: 'b' });
it.each([
  ['only standby and fired change', (c: Cue[]) => c.map((x) => ({ ...x })), true],
  ['a label changes', (c: Cue[]) => c.map((x, i) => (i === 2 ? { ...x, label: 'new' } : { ...x })), false],
  ['a box moves', (c: Cue[]) => c.map((x, i) => (i === 0 ? { ...x, x: x.x + 0.001 } : { ...x })), false],
  ['a cue goes', (c: Cue[]) => c.slice(1).map((x) => ({ ...x })), false],
  ['a field more', (c: Cue[]) => c.map((x) => ({ ...x, extra: 1 })), false],
  ['a field fewer', (c: Cue[]) => c.map(({ note: _, ...x }) => x as Cue), false],
] as [string, (c: Cue[]) => Cue[], boolean][])('after a GO where %s, the cue list is kept: %s', (_name, change, kept) => {
  const store = createStore(false);
  applyCueState(store, state);
  const index = store.cueIndex.value;
  expect(applyCueState(store, { ...state, standbyID: 'c', fired: ['a', 'b'], cues: change(cues) })).toBe(true);
  expect([store.standbyID.value, index === store.cueIndex.value, sameCues(state.cues, store.cueState.value.cues)]).toEqual(['c', kept, kept]);
});
