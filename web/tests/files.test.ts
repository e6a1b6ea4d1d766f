import { describe, expect, it } from 'vitest';
import { dispatchEvent } from '../src/bridge/events';
import type { CueState, Settings } from '../src/bridge/types';
import { emptyCueState } from '../src/bridge/types';
import { earlierVersionMarks, marksPathFor, titleStem } from '../src/state/files';
import { doc, openedScript, settings } from './fake_bridge';

const flush = () => new Promise((r) => setTimeout(r, 0));

describe('the title stem of a script version', () => {
  it('drops version, draft, copy and date endings, one after another', () => {
    const versions = ['Show.pdf', 'Show v2.pdf', 'Show_rev3.pdf', 'Show-draft4.PDF', 'Show (1).pdf', 'Show 2026-12-01.pdf',
      'Show_20261201.pdf', 'Show v2 (1).pdf', 'Show_2026-12-01_rev2.pdf', 'Show V1.2.pdf'];
    expect(versions.map((n) => titleStem(`/s/${n}`))).toEqual(versions.map(() => 'show'));
    expect(titleStem('/s/Big_Show  v1.pdf')).toBe('big show');
  });

  it.each([
    // A number that is not a version belongs to the title.
    ['/s/Act 2.pdf', 'act 2'],
    ['/s/Showv2.pdf', 'showv2'],
    ['/s/Revue.pdf', 'revue'],
    // A name that is only a version keeps it.
    ['/s/v2.pdf', 'v2'],
    ['/s/2026-12-01.pdf', '2026-12-01'],
  ])('%s is %j', (path, stem) => {
    expect(titleStem(path)).toBe(stem);
  });

  it('finds the most recent other version among the recent scripts, by its marks file', () => {
    const recent = ['/s/Show v3.pdf', '/b/Other.pdf', '/a/Show v2.pdf', '/old/Show.pdf'];
    expect(marksPathFor('/a/Show v2.pdf')).toBe('/a/Show v2.tallowmark');
    expect(marksPathFor('/a/b.c/Script')).toBe('/a/b.c/Script.tallowmark');
    expect(earlierVersionMarks('/s/Show v3.pdf', recent)).toBe('/a/Show v2.tallowmark');
    expect(earlierVersionMarks('/new/Show_final (1).pdf', recent)).toBeNull();
    expect(earlierVersionMarks('/new/SHOW-draft9.pdf', recent)).toBe('/s/Show v3.tallowmark');
    // Only itself, or a file that shares its marks file, is no other version.
    expect(earlierVersionMarks('/s/Show v3.pdf', ['/s/Show v3.pdf', '/s/Show v3.PDF'])).toBeNull();
    expect(earlierVersionMarks('/b/Other.pdf', recent)).toBeNull();
  });
});

describe('offering the marks of an earlier version', () => {
  const marked: CueState = { ...emptyCueState, memos: [{ id: 'm', text: 'x', color: '', page: 0, x: 0, y: 0, w: 0.1, h: 0.1 }] };
  const running: CueState = { ...emptyCueState, fired: ['a'] };
  const brought: CueState = { ...emptyCueState, cues: [{ id: 'Q1' } as CueState['cues'][0]] };

  async function open(path: string, state: CueState, offer: () => unknown = () => null) {
    const recent = { ...settings, recentDocuments: [path, '/s/Show v1.pdf', '/s/Other.pdf'] } as Settings;
    const t = await openedScript({
      getSettings: () => recent,
      openDocumentPath: (p: never) => doc(p, { state }),
      offerMarks: offer,
    });
    // openedScript opened /s/show.pdf first: an earlier version of itself.
    t.calls.length = 0;
    await t.documents.openPath(path);
    await flush();
    return t;
  }

  it.each([
    ['nothing marked', emptyCueState, [['/s/Show v1.tallowmark']]],
    ['a memo', marked, []],
    ['a run under way', running, []],
  ] as [string, CueState, unknown[]][])('a script opened with %s: offered %j', async (_what, state, offers) => {
    const t = await open('/s/Show v2.pdf', state);
    expect(t.named('offerMarks')).toEqual(offers);
  });

  it('asks once per script, shows the marks brought, and says a failure quietly', async () => {
    const t = await open('/s/Show v2.pdf', emptyCueState, () => brought);
    expect(t.store.cueState.value.cues.map((c) => c.id)).toEqual(['Q1']);
    // The same script opened again (or laid out again) is not asked about twice.
    await t.documents.openPath('/s/Show v2.pdf');
    dispatchEvent(t.handlers, 'documentChanged', doc('/s/Show v2.pdf'));
    await flush();
    expect(t.named('offerMarks')).toHaveLength(1);

    const f = await open('/s/Show v2.pdf', emptyCueState, () => Promise.reject(new Error('no alert')));
    expect(f.store.message.value).toBe('no alert');
  });
});

describe('Save Script As, Show in Files, Take Marks', () => {
  it.each([
    ['a copy, opened', () => doc('/s/copy.pdf'), '/s/copy.pdf', ''],
    ['a copy that would not open', () => ({ error: 'copy.pdf is damaged' }), '/s/show.pdf', 'copy.pdf is damaged'],
    ['a cancel', () => '', '/s/show.pdf', ''],
    ['a refusal', () => { throw new Error('That is the current script - choose a new name or folder'); }, '/s/show.pdf',
      'That is the current script - choose a new name or folder'],
  ] as [string, () => unknown, string, string][])('answered with %s', async (_what, answer, shown, message) => {
    const t = await openedScript({ saveScriptAs: answer });
    dispatchEvent(t.handlers, 'menuCommand', { command: 'saveAs' });
    await flush();
    expect([t.named('saveScriptAs').length, t.store.doc.value?.path, t.store.message.value]).toEqual([1, shown, message]);
  });

  it('reveals the files and takes the marks of another version from the menu and the key', async () => {
    const imported: CueState = { ...emptyCueState, cues: [{ id: 'Q9' } as CueState['cues'][0]] };
    let answer: unknown = null;
    const t = await openedScript({ importSidecar: () => answer, revealSidecar: () => true, saveScriptAs: () => '' });
    dispatchEvent(t.handlers, 'menuCommand', { command: 'revealSidecar' });
    dispatchEvent(t.handlers, 'menuCommand', { command: 'importMarks' });
    await flush();
    expect([t.named('revealSidecar').length, t.store.cueState.value.cues]).toEqual([1, []]);
    answer = imported;
    dispatchEvent(t.handlers, 'menuCommand', { command: 'importMarks' });
    await flush();
    expect(t.store.cueState.value.cues.map((c) => c.id)).toEqual(['Q9']);
    t.commands.key('saveAs');
    await flush();
    expect(t.named('saveScriptAs')).toHaveLength(1);
  });
});
