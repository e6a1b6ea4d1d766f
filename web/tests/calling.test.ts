import { describe, expect, it } from 'vitest';
import { dispatchEvent } from '../src/bridge/events';
import type { Cue, CueState, Settings } from '../src/bridge/types';
import { emptyCueState } from '../src/bridge/types';
import { nudgeFar, nudgeStep } from '../src/actions/selection';
import { glowCueID, stepCue } from '../src/state/cues';
import { pageLabel, parsePageInput, spreads } from '../src/state/layout';
import { applyCueState, createStore, sameCues } from '../src/state/store';
import { nextUpdateNotice, type UpdateInput, type UpdateNotice } from '../src/state/update_notice';
import { cue as baseCue, doc, openedScript, settings } from './fake_bridge';

const flush = () => new Promise((r) => setTimeout(r, 0));

const cue = (id: string, page: number, y: number, fields: Partial<Cue> = {}) => baseCue(id, page, y, { labelX: 0.5, ...fields });

// Script order as the engine sends it.
const cues = [cue('a', 0, 0.2), cue('b', 0, 0.6), cue('c', 2, 0.1), cue('d', 4, 0.5)];
const state: CueState = { ...emptyCueState, cues, standbyID: 'b', pageLabelOffset: -1 };

async function setup(overrides = {}, extraSettings: Partial<Settings> = {}) {
  return openedScript({
    getSettings: () => ({ ...settings, ...extraSettings }),
    openDocumentPath: (p: never) => doc(p, { state }),
    upsertCue: () => 'id',
    setSpreadOffset: (n: never) => n,
    saveSidecar: () => 'show.tallowmark.json',
    installUpdate: () => true,
    ...overrides,
  });
}

describe('stepping in script order', () => {
  it.each([
    ['b', 1, 'c'],
    ['b', -1, 'a'],
    ['a', -1, undefined],
    ['d', 1, undefined],
    // No standby: past the last cue. Back finds the last one, on finds none.
    ['', -1, 'd'],
    ['', 1, undefined],
    ['gone', -1, 'd'],
  ] as [string, number, string | undefined][])('from %j by %i is %j', (from, delta, to) => {
    expect(stepCue(cues, from, delta)?.id).toBe(to);
  });

  it('moves standby without firing through the standby call, from the menu and the keys', async () => {
    const t = await setup();
    dispatchEvent(t.handlers, 'menuCommand', { command: 'nextCue' });
    t.commands.key('prevCue');
    dispatchEvent(t.handlers, 'menuCommand', { command: 'prevCue' });
    await flush();
    // Standby b: on to c, then back twice from there (no answer came between).
    expect(t.named('standbyCue')).toEqual([['c'], ['b'], ['a']]);
    expect(t.named('go')).toEqual([]);
    // At the last cue there is nothing further; no call.
    dispatchEvent(t.handlers, 'cueState', { ...state, standbyID: 'd' });
    t.commands.key('nextCue');
    expect(t.named('standbyCue')).toHaveLength(3);
    // Quick presses before the engine answers add up, and stop at the end.
    dispatchEvent(t.handlers, 'cueState', { ...state, standbyID: 'a' });
    t.commands.key('nextCue');
    t.commands.key('nextCue');
    t.commands.key('nextCue');
    t.commands.key('nextCue');
    await flush();
    expect(t.named('standbyCue').slice(3)).toEqual([['b'], ['c'], ['d']]);
  });

  it('selects the next and previous cue in Cue Mode only, from the page being read when none is', async () => {
    const t = await setup();
    t.commands.key('selectNext');
    expect(t.store.selectedID.value).toBe('');
    t.cueMode.set(true);
    t.documents.visiblePageChanged(1);
    const seen: string[] = [];
    for (const k of ['selectNext', 'selectNext', 'selectNext', 'selectPrev', 'selectPrev', 'selectPrev', 'selectPrev'] as const) {
      t.commands.key(k);
      seen.push(t.store.selectedID.value);
    }
    // From page 2 the first cue is c; no wrap at either end.
    expect(seen).toEqual(['c', 'd', 'd', 'c', 'b', 'a', 'a']);
    // The view shows the selection.
    expect(t.store.scrollRequest.value?.page).toBe(0);
  });
});

describe('the glowing cue', () => {
  it.each([
    ['standby', 'b', 'b'],
    [undefined, 'b', 'b'],
    ['sideways', 'b', 'b'],
    ['next', 'b', 'c'],
    ['next', 'd', ''],
    ['next', '', ''],
  ] as [string | undefined, string, string][])('glowTarget %j with standby %j glows %j', (target, standby, glow) => {
    expect(glowCueID({ cues, standbyID: standby }, target)).toBe(glow);
  });

  it('follows the settings in the store', async () => {
    const t = await setup({}, { glowTarget: 'next' });
    expect(t.store.glowID.value).toBe('c');
    dispatchEvent(t.handlers, 'cueState', { ...state, standbyID: 'c' });
    expect(t.store.glowID.value).toBe('d');
  });
});

describe('pairing and going to a page', () => {
  it.each([
    [6, 0, [[0, 1], [2, 3], [4, 5]]],
    [6, 1, [[0], [1, 2], [3, 4], [5]]],
    [5, 1, [[0], [1, 2], [3, 4]]],
  ] as [number, number, number[][]][])('%i pages with offset %i pair as %j', (count, offset, groups) => {
    expect(spreads(count, 2, offset)).toEqual(groups);
  });

  it('"shiftPairing" toggles the engine offset, takes its answer and keeps the page', async () => {
    const t = await setup();
    t.documents.visiblePageChanged(3);
    t.commands.menuCommand('shiftPairing');
    await flush();
    expect(t.store.cueState.value.spreadOffset).toBe(1);
    expect(t.store.scrollRequest.value?.page).toBe(3);
    t.view.stepPage(1);
    // Spreads are [0] [1,2] [3,4] [5] now: from page index 3 the next spread starts at 5.
    expect(t.store.scrollRequest.value?.page).toBe(5);
    t.commands.menuCommand('shiftPairing');
    await flush();
    expect(t.named('setSpreadOffset')).toEqual([[1], [0]]);
    expect(t.store.cueState.value.spreadOffset).toBe(0);
  });

  it.each([
    [' 1 ', 1],
    ['#1', 0],
    ['# 6', 5],
    ['5', 5],
    ['-2', { error: 'No page -2' }],
    ['0', { error: 'No page 0' }],
    ['6', { error: 'No page 6' }],
    ['#7', { error: 'No page #7' }],
    ['x', { error: '"x" is not a page' }],
    ['', { error: 'Type a page' }],
    ['2.5', { error: '"2.5" is not a page' }],
  ] as [string, number | { error: string }][])('the page input %j with label offset -1 is %j', (text, result) => {
    expect(parsePageInput(text, 6, -1)).toEqual(typeof result === 'number' ? { page: result } : result);
  });

  it.each([
    [0, 0, '1'],
    [0, -1, '#1'],
    [1, -1, '1'],
    [2, 3, '6'],
  ])('page index %i with label offset %i reads %j', (index, offset, label) => {
    expect(pageLabel(index, offset)).toBe(label);
  });
});

describe('menu commands', () => {
  it('"save" shows the answer quietly, a failure as a message, and unknown commands do nothing', async () => {
    const t = await setup();
    t.commands.menuCommand('save');
    await flush();
    expect(t.store.status.value).toBe('Saved show.tallowmark.json');
    expect(t.store.message.value).toBe('');
    const failing = await setup({ saveSidecar: () => '' });
    failing.commands.menuCommand('save');
    await flush();
    expect(failing.store.message.value).toBe('The marks could not be saved.');
    const before = t.calls.length;
    for (const command of ['noSuchThing', 'theme:', ''])
      expect(() => dispatchEvent(t.handlers, 'menuCommand', { command })).not.toThrow();
    expect(t.calls.length).toBe(before);
  });
});

describe('moving and editing the selected cue from the keys', () => {
  it('nudges add up before the engine echoes them, stay on the page, and need Cue Mode', async () => {
    const t = await setup();
    t.commands.key('nudgeRight');
    expect(t.named('upsertCue')).toEqual([]);
    t.cueMode.set(true);
    t.selection.select('a');
    t.commands.key('nudgeRight');
    t.commands.key('nudgeRight');
    t.commands.key('nudgeDownFar');
    const sent = t.named('upsertCue').map((a) => a[0] as Cue);
    expect(sent.map((c) => [c.x, c.y, c.labelX])).toEqual([
      [0.1 + nudgeStep, 0.2, 0.5 + nudgeStep],
      [0.1 + 2 * nudgeStep, 0.2, 0.5 + 2 * nudgeStep],
      [0.1 + 2 * nudgeStep, 0.2 + nudgeFar, 0.5 + 2 * nudgeStep],
    ].map((r) => r.map((v) => expect.closeTo(v, 9))));
    await flush();
    // At the left edge a nudge further left sends nothing.
    dispatchEvent(t.handlers, 'cueState', { ...state, cues: [cue('a', 0, 0.2, { x: 0 }), ...cues.slice(1)] });
    t.commands.key('nudgeLeft');
    expect(t.named('upsertCue')).toHaveLength(3);
  });

  it('F2 edits the label in place: Return keeps it, Escape drops it', async () => {
    const t = await setup();
    t.cueMode.set(true);
    t.selection.select('b');
    expect(t.commands.keyMode()).toMatchObject({ cueMode: true, selection: true, lineCursor: false });
    // Behind a sheet or the Go to Page field the selection keys rest.
    for (const open of [() => t.selection.openSheet(), () => t.view.openGoTo(), () => t.sheets.openPageSheet('shortcuts')]) {
      open();
      expect(t.commands.keyMode()).toMatchObject({ cueMode: false, selection: false, lineCursor: false });
      t.commands.escape();
      expect(t.commands.keyMode()).toMatchObject({ cueMode: true, selection: true, lineCursor: false });
    }
    t.commands.key('editLabel');
    expect(t.store.editingLabel.value).toBe(true);
    t.commands.key('escape');
    expect(t.store.editingLabel.value).toBe(false);
    t.commands.key('editLabel');
    t.selection.commitLabel('  Storm  ');
    expect(t.named('upsertCue')).toEqual([[{ ...cues[1], label: 'Storm' }]]);
  });
});

describe('the update notice', () => {
  const offer: UpdateNotice = { stamp: '2026.12.06', phase: 'offer', text: '' };
  const installing: UpdateNotice = { stamp: '2026.12.06', phase: 'installing', text: 'Downloading' };
  const failed: UpdateNotice = { stamp: '2026.12.06', phase: 'failed', text: 'signature mismatch' };
  it.each([
    ['offered', null, { kind: 'available', stamp: '2026.12.06' }, offer],
    ['an empty stamp offers nothing', null, { kind: 'available', stamp: '' }, null],
    ['install starts', offer, { kind: 'install' }, { ...offer, phase: 'installing', text: 'Starting the update…' }],
    ['progress replaces the text', installing, { kind: 'progress', text: 'Verifying', failed: false }, { ...installing, text: 'Verifying' }],
    ['failure shows its reason', installing, { kind: 'progress', text: 'signature mismatch', failed: true }, failed],
    ['failure without a text', installing, { kind: 'progress', text: ' ', failed: true }, { ...failed, text: 'The update failed.' }],
    ['install again after a failure', failed, { kind: 'install' }, { ...failed, phase: 'installing', text: 'Starting the update…' }],
    ['a new check while installing keeps installing', installing, { kind: 'available', stamp: '2026.12.07' }, { ...installing, stamp: '2026.12.07' }],
    ['dismissed when offered', offer, { kind: 'dismiss' }, null],
    ['dismissed after a failure', failed, { kind: 'dismiss' }, null],
    ['not dismissed while installing', installing, { kind: 'dismiss' }, installing],
    ['progress from the menu without an offer', null, { kind: 'progress', text: 'Downloading', failed: false }, { stamp: '', phase: 'installing', text: 'Downloading' }],
    ['install with nothing offered', null, { kind: 'install' }, null],
  ] as [string, UpdateNotice | null, UpdateInput, UpdateNotice | null][])('%s', (_name, from, input, to) => {
    expect(nextUpdateNotice(from, input)).toEqual(to);
  });

  it('the events drive it, Install calls the core once, and a refused call shows as a failure', async () => {
    const t = await setup({ installUpdate: () => { throw new Error('no package'); } });
    dispatchEvent(t.handlers, 'updateAvailable', { stamp: '2026.12.06' });
    expect(t.store.update.value?.phase).toBe('offer');
    t.update.install();
    t.update.install();
    expect(t.named('installUpdate')).toHaveLength(1);
    await flush();
    expect(t.store.update.value).toEqual({ stamp: '2026.12.06', phase: 'failed', text: 'no package' });
    dispatchEvent(t.handlers, 'updateProgress', { text: 'Downloading' });
    expect(t.store.update.value?.text).toBe('Downloading');
  });
});

describe('a GO leaves the cue list alone', () => {
  it.each([
    ['only standby and fired change', (c: Cue[]) => c.map((x) => ({ ...x })), true],
    ['a label changes', (c: Cue[]) => c.map((x, i) => (i === 2 ? { ...x, label: 'new' } : { ...x })), false],
    ['a box moves', (c: Cue[]) => c.map((x, i) => (i === 0 ? { ...x, x: x.x + 0.001 } : { ...x })), false],
    ['a cue goes', (c: Cue[]) => c.slice(1).map((x) => ({ ...x })), false],
    ['a field more', (c: Cue[]) => c.map((x) => ({ ...x, extra: 1 })), false],
    ['a field fewer', (c: Cue[]) => c.map(({ note: _, ...x }) => x as Cue), false],
  ] as [string, (c: Cue[]) => Cue[], boolean][])('%s: list kept is %s', (_name, change, kept) => {
    const store = createStore(false);
    applyCueState(store, state);
    const index = store.cueIndex.value;
    expect(applyCueState(store, { ...state, standbyID: 'c', fired: ['a', 'b'], cues: change(cues) })).toBe(true);
    expect(store.standbyID.value).toBe('c');
    expect(index === store.cueIndex.value).toBe(kept);
    expect(sameCues(state.cues, store.cueState.value.cues)).toBe(kept);
  });
});
