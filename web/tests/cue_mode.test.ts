import { describe, expect, it } from 'vitest';
import type { Cue, CueState, Settings } from '../src/bridge/types';
import { emptyCueState } from '../src/bridge/types';
import { cue, doc, openedScript, settings } from './fake_bridge';

const flush = () => new Promise((r) => setTimeout(r, 0));

const state: CueState = { ...emptyCueState, cues: [cue('a', 0, 0.2, { number: '5' }), cue('b', 0, 0.6, { number: '6' })], standbyID: 'a' };
const answer = { rect: [0.1, 0.4, 0.2, 0.02], text: 'storm', lineEnd: 0.7, gapL: 0.01, gapR: 0.02, lines: [] };
const typed = { ...settings, cueSnapWords: false, cueTypes: [{ name: 'SND', color: '#0a0' }, { name: 'LX', color: '' }] } as Settings;

async function setup(overrides = {}) {
  return openedScript({
    getSettings: () => typed,
    openDocumentPath: (p: never) => doc(p, { state }),
    textRect: () => answer,
    upsertCue: () => 'id',
    removeCue: () => true,
    undo: () => ({ ...state, cues: state.cues.slice(0, 1), canRedo: true }),
    ...overrides,
  });
}

describe('placing a cue', () => {
  it('asks for the words with the snap setting and offers the number between its neighbours', async () => {
    const t = await setup();
    await t.cueMode.placeCue(0, { x: 0.1, y: 0.4 }, { x: 0.3, y: 0.41 });
    // Not in Cue Mode: nothing asked.
    expect(t.named('textRect')).toEqual([]);

    t.commands.menuCommand('cueMode');
    expect(t.store.menuState.value.cueMode).toBe(true);
    await t.cueMode.placeCue(0, { x: 0.1, y: 0.4 }, { x: 0.3, y: 0.41 });
    expect(t.named('textRect')).toEqual([[[0, 0.1, 0.4, 0.3, 0.41, false]]]);
    expect(t.store.draft.value).toMatchObject({ number: '5.5', kind: 'SND', labelX: 0.7, padL: 0.01, padR: 0.02, page: 0 });
    // A second click while one is unfinished does not start another.
    await t.cueMode.placeCue(0, { x: 0.5, y: 0.5 }, { x: 0.5, y: 0.5 });
    expect(t.named('textRect')).toHaveLength(1);
  });

  it('Escape drops the unfinished cue unsent; Return commits the typed number and label, and that type is the next default', async () => {
    const t = await setup();
    t.cueMode.set(true);
    await t.cueMode.placeCue(0, { x: 0.1, y: 0.4 }, { x: 0.1, y: 0.4 });
    expect(t.store.draft.value).not.toBeNull();
    t.commands.key('escape');
    expect(t.store.draft.value).toBeNull();
    expect(t.named('upsertCue')).toEqual([]);
    // Cue Mode stays on for the next one.
    expect(t.store.cueMode.value).toBe(true);
    await t.cueMode.placeCue(0, { x: 0.1, y: 0.4 }, { x: 0.1, y: 0.4 });
    t.store.draft.value = { ...t.store.draft.value!, kind: 'LX' };
    t.cueMode.commitDraft(' 5.2 ', ' Thunder ');
    await flush();
    const [[sent]] = t.named('upsertCue') as [[Cue]];
    expect(sent).toMatchObject({ number: '5.2', label: 'Thunder', kind: 'LX', x: 0.1, y: 0.4 });
    expect(t.store.draft.value).toBeNull();
    await t.cueMode.placeCue(0, { x: 0.1, y: 0.9 }, { x: 0.1, y: 0.9 });
    expect(t.store.draft.value?.kind).toBe('LX');
    // An emptied number field keeps the proposal (the same words, so 5.5).
    t.cueMode.commitDraft('', '');
    expect((t.named('upsertCue')[1][0] as Cue).number).toBe('5.5');
  });

  it('a textRect with no words, or an answer after the script changed, places nothing', async () => {
    let resolve: (v: unknown) => void = () => undefined;
    const t = await setup({ textRect: () => new Promise((r) => (resolve = r)) });
    t.cueMode.set(true);
    const placing = t.cueMode.placeCue(0, { x: 0.1, y: 0.4 }, { x: 0.1, y: 0.4 });
    await t.documents.openPath('/s/other.pdf');
    resolve(answer);
    await placing;
    expect(t.store.draft.value).toBeNull();
    resolve = () => undefined;
    const t2 = await setup({ textRect: () => null });
    t2.cueMode.set(true);
    await t2.cueMode.placeCue(0, { x: 0.9, y: 0.9 }, { x: 0.9, y: 0.9 });
    expect(t2.store.draft.value).toBeNull();
  });
});

describe('the selected cue and the edit commands', () => {
  it('selection sets the menu state only in Cue Mode and only for a cue that exists', async () => {
    const t = await setup();
    t.selection.select('a');
    expect(t.store.menuState.value.hasSelection).toBe(false);
    t.cueMode.set(true);
    t.selection.select('a');
    expect(t.store.menuState.value).toMatchObject({ cueMode: true, hasSelection: true });
    // Undo takes the selected cue away: the selection goes with it.
    t.selection.select('b');
    t.commands.menuCommand('undo');
    await flush();
    expect(t.store.menuState.value.hasSelection).toBe(false);
    expect(t.store.cueState.value.canRedo).toBe(true);
    t.selection.select('zz');
    expect(t.store.selectedID.value).toBe('');
    t.selection.select('a');
    t.commands.menuCommand('cueMode');
    expect(t.store.menuState.value).toMatchObject({ cueMode: false, hasSelection: false });
  });

  it('delete, duplicate, renumber and the settings sheet act on the selected cue', async () => {
    const t = await setup({ renumberCues: () => state });
    t.cueMode.set(true);
    t.commands.menuCommand('deleteCue');
    expect(t.named('removeCue')).toEqual([]);
    t.selection.select('a');
    t.commands.menuCommand('duplicateCue');
    await flush();
    const [[copy]] = t.named('upsertCue') as [[Cue]];
    expect(copy).toMatchObject({ number: '5.5', y: 0.2 });
    expect(copy.id).not.toBe('a');

    t.selection.select('a');
    t.commands.menuCommand('cueSettings');
    expect(t.store.sheet.value?.id).toBe('a');
    t.commands.key('escape');
    expect(t.store.sheet.value).toBeNull();
    t.commands.menuCommand('cueSettings');
    t.selection.commitSheet({ number: '', label: 'Rain', note: 'slow' });
    expect(t.named('upsertCue')[1][0]).toMatchObject({ id: 'a', number: '5', label: 'Rain', note: 'slow' });

    t.commands.menuCommand('deleteCue');
    expect(t.named('removeCue')).toEqual([['a']]);
    expect(t.store.menuState.value.hasSelection).toBe(false);
    t.commands.menuCommand('renumber');
    expect(t.named('renumberCues')).toHaveLength(1);
  });
});
