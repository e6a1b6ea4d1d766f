// The run over a scripted engine, the update notice, and the events.
import { afterEach, expect, it, vi } from 'vitest';
import { dispatchEvent, installEventHook } from '../src/bridge/events';
import { firedBit } from '../src/state/store';
import { nextUpdateNotice, type UpdateInput, type UpdateNotice } from '../src/state/update_notice';
import { actions, cue, openedScript, stateWith, turn } from './fake_bridge';

const cues = [cue('a', 0, 0.2), cue('b', 0, 0.6), cue('c', 2, 0.1), cue('d', 4, 0.5)];
const state = stateWith({ cues, standbyID: 'b' });

afterEach(() => vi.restoreAllMocks());

// RESET's question in the page: page.test.tsx.
it('the run: shows the engine answer after GO; Escape takes the RESET question back; a damaged state is ignored', async () => {
  const t = await openedScript({}, stateWith({ cues, standbyID: 'a' }));
  t.commands.key('go');
  await turn();
  expect([t.store.standbyID.value, t.store.runStatus('a').value & firedBit]).toEqual(['b', firedBit]);
  t.commands.key('reset');
  t.commands.key('escape');
  // A cue state without its lists is damaged: the last good one stays.
  dispatchEvent(t.handlers, 'cueState', { standbyID: 'y' });
  expect([t.store.confirmingReset.value, t.named('reset'), t.store.standbyID.value]).toEqual([false, [], 'b']);
});

// The window's menu takes Ctrl+Shift+R before the page sees it and sends
// "reset"; outside the app the page's own key does. Each press at a time
// (ms), through one path or the other; how many RESETs reach the engine.
it.each([
  ['the menu twice, 0.8 s apart', [['menu', 0], ['menu', 800]], 1], ['the key twice, 0.8 s apart', [['key', 0], ['key', 800]], 1],
  ['one press seen by both paths', [['key', 0], ['menu', 5]], 0], ['once', [['menu', 0]], 0],
] as [string, [string, number][], number][])('the run: RESET by the chord: %s', async (_name, presses, resets) => {
  const t = await openedScript();
  const now = vi.spyOn(Date, 'now');
  for (const [via, at] of presses) {
    now.mockReturnValue(10000 + at);
    if (via === 'menu') dispatchEvent(t.handlers, 'menuCommand', { command: 'reset' });
    else t.commands.key('reset');
    await turn();
  }
  expect([t.named('reset').length, t.store.confirmingReset.value]).toEqual([resets, resets === 0]);
});

it('the run: moves standby without firing through the standby call, from the menu and the keys', async () => {
  const t = await openedScript({}, state);
  dispatchEvent(t.handlers, 'menuCommand', { command: 'nextCue' });
  t.commands.key('prevCue');
  dispatchEvent(t.handlers, 'menuCommand', { command: 'prevCue' });
  await turn();
  // Standby b: on to c, then back twice from there (no answer came between).
  expect([t.named('standbyCue'), t.named('go')]).toEqual([[['c'], ['b'], ['a']], []]);
  dispatchEvent(t.handlers, 'cueState', { ...state, standbyID: 'd' });
  t.commands.key('nextCue');
  expect(t.named('standbyCue')).toHaveLength(3);
  // Quick presses before the engine answers add up, and stop at the end.
  dispatchEvent(t.handlers, 'cueState', { ...state, standbyID: 'a' });
  for (let i = 0; i < 4; i++) t.commands.key('nextCue');
  await turn();
  expect(t.named('standbyCue').slice(3)).toEqual([['b'], ['c'], ['d']]);
});

const offer: UpdateNotice = { stamp: '2026.12.06', phase: 'offer', text: '' };
const installing: UpdateNotice = { stamp: '2026.12.06', phase: 'installing', text: 'Downloading' };
const failed: UpdateNotice = { stamp: '2026.12.06', phase: 'failed', text: 'signature mismatch' };
const starting = 'Starting the update…';
it.each([
  ['offered', null, { kind: 'available', stamp: '2026.12.06' }, offer],
  ['an empty stamp offers nothing', null, { kind: 'available', stamp: '' }, null],
  ['install starts', offer, { kind: 'install' }, { ...offer, phase: 'installing', text: starting }],
  ['progress replaces the text', installing, { kind: 'progress', text: 'Verifying', failed: false }, { ...installing, text: 'Verifying' }],
  ['failure shows its reason', installing, { kind: 'progress', text: 'signature mismatch', failed: true }, failed],
  ['failure without a text', installing, { kind: 'progress', text: ' ', failed: true }, { ...failed, text: 'The update failed.' }],
  ['install again after a failure', failed, { kind: 'install' }, { ...failed, phase: 'installing', text: starting }],
  ['a new check while installing keeps installing', installing, { kind: 'available', stamp: '2026.12.07' }, { ...installing, stamp: '2026.12.07' }],
  ['dismissed when offered', offer, { kind: 'dismiss' }, null], ['dismissed after a failure', failed, { kind: 'dismiss' }, null],
  ['not dismissed while installing', installing, { kind: 'dismiss' }, installing],
  ['progress from the menu without an offer', null, { kind: 'progress', text: 'Downloading', failed: false },
    { stamp: '', phase: 'installing', text: 'Downloading' }],
  ['install with nothing offered', null, { kind: 'install' }, null],
] as [string, UpdateNotice | null, UpdateInput, UpdateNotice | null][])('the update notice: %s', (_name, from, input, to) => {
  expect(nextUpdateNotice(from, input)).toEqual(to);
});

it.each([
  [{ available: '2026.12.06', current: '2026.12.01' }, false, offer], [{ available: null, current: '2026.12.01' }, false, null],
  [{ available: '2026.12.06', current: '2026.12.01' }, true, null],
])('the update notice: a build found at launch (%j, monitor %s) is offered at boot', async (answer, monitor, notice) => {
  const t = actions({ updateStatus: () => answer }, monitor);
  await t.boot();
  await turn();
  expect([t.store.update.value, t.named('updateStatus').length]).toEqual([notice, monitor ? 0 : 1]);
});

// The events and the buttons in the page: page.test.tsx.
it('the update notice: calls Install once, and shows a refused call as a failure', async () => {
  const t = await openedScript({ installUpdate: () => { throw new Error('no package'); } });
  dispatchEvent(t.handlers, 'updateAvailable', { stamp: '2026.12.06' });
  t.update.install();
  t.update.install();
  await turn();
  expect([t.named('installUpdate').length, t.store.update.value]).toEqual([1, { stamp: '2026.12.06', phase: 'failed', text: 'no package' }]);
});

it('events: run the handler of a known event with a record payload, and nothing else', () => {
  const cueState = vi.fn();
  const handlers = { cueState };
  const tried = [['cueState', { cues: [] }], ['noSuchEvent', {}], ['controlLog', {}], ['cueState', null], ['cueState', [1]], [42, {}],
    // A name from the object prototype is no event.
    ['toString', {}]];
  expect(tried.map(([name, payload]) => dispatchEvent(handlers, name, payload))).toEqual([true, false, false, false, false, false, false]);
  expect(cueState.mock.calls).toEqual([[{ cues: [] }]]);
});

it('events: go on after a handler throws', () => {
  vi.spyOn(console, 'error').mockImplementation(() => undefined);
  const target = {} as Window;
  const after = vi.fn();
  installEventHook(target, { menuCommand: () => { throw new Error('boom'); }, dimCommand: after });
  target.__tallowmarkEvent!('menuCommand', { command: 'go' });
  target.__tallowmarkEvent!('dimCommand', { dim: true });
  expect(after).toHaveBeenCalledWith({ dim: true });
});
