import { effect } from '@preact/signals';
import { afterEach, expect, it } from 'vitest';
import { dispatchEvent } from '../src/bridge/events';
import type { CueState, RunChange } from '../src/bridge/types';
import { emptyCueState } from '../src/bridge/types';
import { createApp } from '../src/actions/app';
import { Inbox, mergeRun } from '../src/state/run_sync';
import { applyCueState, applyRunChange, createStore, firedBit, glowBit, standbyBit } from '../src/state/store';
import { cue, fakeBridge, runChange, settings } from './fake_bridge';

const cues = ['a', 'b', 'c', 'd', 'e'].map((id, i) => cue(id, i, 0.5));
const state = (seq: number | undefined, fields: Partial<CueState> = {}): CueState => ({ ...emptyCueState, seq, cues, standbyID: 'a', ...fields });
const run = (from: number, seq: number, fields: Partial<RunChange> = {}) => runChange({ from, seq, ...fields });

type Step = ['state', CueState] | ['run', RunChange] | ['reply', RunChange];
// steps, what each offer answered, the page's counter and a gap after them
it.each([
  ['a GO after the state', [['state', state(5)], ['run', run(5, 6)]], [true, true], 6, false],
  ['the event of a GO whose answer came first', [['state', state(5)], ['run', run(5, 6)], ['run', run(5, 6)]], [true, true, false], 6, false],
  ['a state older than the page', [['run', run(5, 6)], ['state', state(5)]], [true, false], 6, false],
  ['a state with the page counter: the same state', [['run', run(5, 6)], ['state', state(6)]], [true, true], 6, false],
  ['a state without a counter is newest', [['state', state(9)], ['state', state(undefined)], ['run', run(1, 2)]], [true, true, true], 2, false],
  ['a run that builds on a change not seen: held', [['state', state(5)], ['run', run(7, 8)]], [true, false], 5, true],
  ['held until the change before it arrives', [['state', state(5)], ['run', run(7, 8)], ['run', run(5, 7)]], [true, false, true], 8, false],
  ['held runs the next state passed are dropped', [['state', state(5)], ['run', run(7, 8)], ['state', state(9)]], [true, false, true], 9, false],
  ['a GO that changed nothing, ahead of the page: not held', [['state', state(5)], ['run', run(7, 7)]], [true, false], 5, false],
  ['merged runs take the first from', [['state', state(5)], ['run', run(6, 9)], ['run', run(5, 6)]], [true, false, true], 9, false],
  ['an answer ahead of the events: left to them, no state asked', [['state', state(5)], ['reply', run(7, 8)]], [true, false], 5, false],
  ['the events then bring it', [['state', state(5)], ['reply', run(7, 8)], ['run', run(5, 8)]], [true, false, true], 8, false],
] as [string, Step[], boolean[], number, boolean][])('the engine counter orders what arrives: %s', (_name, steps, taken, seq, gap) => {
  const inbox = new Inbox();
  expect(steps.map(([kind, p]) => (kind === 'state' ? inbox.offerState(p as CueState) : inbox.offerRun(p as RunChange, kind === 'reply')))).toEqual(taken);
  expect([inbox.seq, inbox.gap]).toEqual([seq, gap]);
});

it('the engine counter orders what arrives: keeps a full state over the runs before it and merges the runs after it', () => {
  const inbox = new Inbox();
  inbox.offerRun(run(1, 2, { fired: ['a'] }));
  inbox.offerState(state(3, { fired: ['a', 'b'] }));
  inbox.offerRun(run(3, 4, { fired: ['c'], standbyID: 'd' }));
  const got = inbox.take();
  expect([got?.state?.seq, [...(got?.run?.status ?? [])], inbox.take()]).toEqual([3, [['c', true]], null]);
});

// each cue touched keeps its last status; a cleared run forgets the ones before
it.each([
  ['two GOs', [run(1, 2, { fired: ['a'] }), run(2, 3, { fired: ['b'] })], false, [['a', true], ['b', true]]],
  ['GO then BACK', [run(1, 2, { fired: ['a'] }), run(2, 3, { unfired: ['a'] })], false, [['a', false]]],
  ['GO then RESET', [run(1, 2, { fired: ['a'] }), run(2, 3, { clear: true })], true, []],
  ['RESET then GO', [run(1, 2, { clear: true }), run(2, 3, { fired: ['a'] })], true, [['a', true]]],
  ['restored, then a cue unfired', [run(1, 2, { clear: true, fired: ['a', 'b'] }), run(2, 3, { unfired: ['b'] })], true, [['a', true], ['b', false]]],
] as [string, RunChange[], boolean, [string, boolean][]][])('run changes merged: %s', (_name, runs, clear, status) => {
  const d = runs.reduce<ReturnType<typeof mergeRun> | null>((m, r) => mergeRun(m, r), null)!;
  expect({ from: d.from, seq: d.seq, clear: d.clear, status: [...d.status] }).toEqual({ from: 1, seq: 3, clear, status });
});

// A store whose frames are run by the test.
function framed() {
  const frames: (() => void)[] = [];
  const store = createStore(false, { frame: (draw) => void frames.push(draw) });
  const nextFrame = () => frames.splice(0).forEach((f) => f());
  applyCueState(store, state(10));
  nextFrame();
  return { store, nextFrame };
}

it('the store draws once per frame: draws the newest of several changes, and tells only the cues whose status changed', () => {
  const { store, nextFrame } = framed();
  const seen = new Map<string, number[]>();
  for (const c of cues) effect(() => void seen.set(c.id, [...(seen.get(c.id) ?? []), store.runStatus(c.id).value]));
  let standbys = 0;
  effect(() => void (store.standbyID.value, standbys++));
  applyRunChange(store, run(10, 11, { standbyID: 'b', fired: ['a'], firedCount: 1 }));
  applyRunChange(store, run(11, 12, { standbyID: 'c', fired: ['b'], firedCount: 2 }));
  expect(store.standbyID.value).toBe('a');
  nextFrame();
  expect([store.standbyID.value, store.firedCount.value, standbys]).toEqual(['c', 2, 2]);
  // a and b fired, c the standby (and glowing); d and e never told.
  const sb = standbyBit | glowBit;
  expect(Object.fromEntries(seen)).toEqual({ a: [sb, firedBit], b: [0, firedBit], c: [0, sb], d: [0], e: [0] });
});

it('the store draws once per frame: takes a full state with the same cues without drawing the marks again', () => {
  const { store, nextFrame } = framed();
  const marks = store.cueState.value;
  applyCueState(store, JSON.parse(JSON.stringify(state(11, { standbyID: 'b', fired: ['a'] }))));
  nextFrame();
  expect([store.cueState.value === marks, store.standbyID.value, store.firedCount.value]).toEqual([true, 'b', 1]);
});

it('the store draws once per frame: asks for the whole state once when a change was missed, and draws what follows it', async () => {
  const fake = fakeBridge({ getState: () => state(12, { standbyID: 'c', fired: ['a', 'b'] }) });
  const store = createStore(false);
  const { handlers } = createApp(store, fake.bridge);
  dispatchEvent(handlers, 'cueState', state(10));
  dispatchEvent(handlers, 'runState', run(12, 13, { standbyID: 'd', fired: ['c'], firedCount: 3 }));
  dispatchEvent(handlers, 'runState', run(13, 14, { standbyID: 'e', fired: ['d'], firedCount: 4 }));
  expect(fake.named('getState')).toHaveLength(1);
  await new Promise((r) => setTimeout(r, 0));
  expect([store.standbyID.value, store.firedCount.value, store.sync.inbox.seq]).toEqual(['e', 4, 14]);
});

const offer = { count: 2, total: 5, standbyID: 'c', number: 'c', label: '' };
type Store = ReturnType<typeof framed>['store'];
// what ends the offer, and what the standby panel says after it
it.each([
  ['nothing yet', () => undefined, 'c', 2, true],
  ['a GO continuing it', (s: Store) => applyRunChange(s, run(10, 11, { clear: true, fired: ['a', 'b', 'c'], standbyID: 'd', savedRun: offer })), 'd', 3, false],
  ['a cue fired from a desk', (s: Store) => applyRunChange(s, run(10, 11, { fired: ['a'], standbyID: 'b', savedRun: offer })), 'b', 1, false],
  ['Discard', (s: Store) => void (s.resumeAnswered.value = true), 'a', 0, false],
] as [string, (s: Store) => void, string, number, boolean][])('the saved run while it is offered: %s', (_name, act, standby, count, offered) => {
  const { store, nextFrame } = framed();
  applyCueState(store, state(10, { savedRun: offer }));
  nextFrame();
  act(store);
  nextFrame();
  const s = store.summary.value;
  expect([s.standby?.id, s.firedCount, s.offered, store.resumeText.value !== null]).toEqual([standby, count, offered, offered]);
});

const flag = globalThis as { __tallowmarkTrace?: boolean };
afterEach(() => void delete flag.__tallowmarkTrace);

// trace flag, monitor, lines written: once for the two runs, after the frame that drew them
it.each([
  [true, false, ['painted run c 2']], [true, true, ['monitor painted run c 2']], [false, false, []],
])("the technician's trace: tracing %s on the monitor %s writes %j", (trace, monitor, lines) => {
  if (trace) flag.__tallowmarkTrace = true;
  const frames: (() => void)[] = [];
  const nextFrame = () => frames.splice(0).forEach((f) => f());
  const fake = fakeBridge({ getSettings: () => settings });
  const { handlers } = createApp(createStore(monitor, { frame: (draw) => void frames.push(draw) }), fake.bridge);
  dispatchEvent(handlers, 'cueState', state(10));
  nextFrame();
  dispatchEvent(handlers, 'runState', run(10, 11, { standbyID: 'b', fired: ['a'], firedCount: 1 }));
  dispatchEvent(handlers, 'runState', run(11, 12, { standbyID: 'c', fired: ['b'], firedCount: 2 }));
  nextFrame();
  const during = fake.named('debugLog');
  nextFrame();
  nextFrame();
  expect([during, fake.named('debugLog').map((a) => a[0])]).toEqual([[], lines]);
});
