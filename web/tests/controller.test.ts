import { describe, expect, it, vi } from 'vitest';
import { dispatchEvent } from '../src/bridge/events';
import type { CueState } from '../src/bridge/types';
import { emptyCueState } from '../src/bridge/types';
import { firedBit } from '../src/state/store';
import { actions, doc } from './fake_bridge';

const flush = () => new Promise((r) => setTimeout(r, 0));

function setup(overrides = {}, confidence = false) {
  return actions(overrides, confidence);
}

describe('opening scripts', () => {
  it('on "openPath" opens only a path that is not already the current document', async () => {
    const t = setup({ currentDocument: () => doc('/s/launch.pdf', { visiblePage: 3 }) });
    dispatchEvent(t.handlers, 'openPath', { path: '/s/launch.pdf' });
    await flush();
    expect(t.named('openDocumentPath')).toEqual([]);
    expect(t.store.doc.value?.path).toBe('/s/launch.pdf');
    // The page the core last had is not where a reopened script opens.
    expect(t.store.scrollRequest.value?.page).toBe(0);

    dispatchEvent(t.handlers, 'openPath', { path: '/s/other.pdf' });
    await flush();
    expect(t.named('openDocumentPath')).toEqual([['/s/other.pdf']]);
    expect(t.store.doc.value?.path).toBe('/s/other.pdf');
  });

  it('shows the demo the native side opened without opening it again, and a failed open quietly', async () => {
    const t = setup({ openDocumentPath: () => ({ error: '"x.pdf" was not found' }) });
    await t.documents.openPath('/s/x.pdf');
    expect(t.store.doc.value).toBeNull();
    expect(t.store.message.value).toBe('"x.pdf" was not found');
    await t.documents.openDemo();
    expect(t.store.doc.value?.path).toBe('/home/u/Desktop/TALLOWMARK Demo/demo.pdf');
    expect(t.named('openDocumentPath')).toHaveLength(1);
    await t.documents.openPath('/s/x.pdf');
    expect(t.store.doc.value?.path).toBe('/home/u/Desktop/TALLOWMARK Demo/demo.pdf');
    const failing = setup({ makeDemo: () => { throw new Error('demo creation failed'); } });
    await failing.documents.openDemo();
    expect(failing.store.message.value).toBe('demo creation failed');
  });

  it('logs "first page shown" once per opened script, for that script only', async () => {
    const t = setup();
    await t.documents.openPath('/s/a.pdf');
    const first = t.store.generation.value;
    t.documents.pageShown(first, 0);
    t.documents.pageShown(first, 1);
    await t.documents.openPath('/s/b.pdf');
    t.documents.pageShown(first, 2);
    t.documents.pageShown(t.store.generation.value, 4);
    expect(t.named('debugLog')).toEqual([['first page shown 1'], ['first page shown 5']]);

    const monitor = setup({}, true);
    await monitor.documents.openPath('/s/a.pdf');
    monitor.documents.pageShown(monitor.store.generation.value, 0);
    expect(monitor.named('debugLog')).toEqual([]);
  });
});

describe('what the native side knew before the page', () => {
  // updateStatus answer, monitor, notice shown
  it.each([
    [{ available: '2026.12.06', current: '2026.12.01' }, false, { stamp: '2026.12.06', phase: 'offer', text: '' }],
    [{ available: null, current: '2026.12.01' }, false, null],
    [{ available: '2026.12.06', current: '2026.12.01' }, true, null],
  ])('an update found at launch (%j, monitor %s) is offered at boot', async (answer, monitor, notice) => {
    const t = setup({ updateStatus: () => answer }, monitor);
    await t.boot();
    await flush();
    expect(t.store.update.value).toEqual(notice);
    expect(t.named('updateStatus')).toHaveLength(monitor ? 0 : 1);
  });

  it('says the marks file\'s warning quietly with its script, and not with the next', async () => {
    const warning = 'The marks file was damaged; what could be read is shown.';
    const t = setup({ openDocumentPath: (p: never) => doc(p, p === '/s/a.pdf' ? { warning } : {}) });
    await t.documents.openPath('/s/a.pdf');
    expect(t.store.message.value).toBe(warning);
    await t.documents.openPath('/s/b.pdf');
    expect(t.store.message.value).toBe('');
  });
});

describe('running the show', () => {
  it('shows the engine answer after GO, and resets only after the in-page question', async () => {
    const t = setup();
    await t.documents.openPath('/s/a.pdf');
    t.commands.key('go');
    await flush();
    expect([t.store.standbyID.value, t.store.runStatus('a').value & firedBit]).toEqual(['b', firedBit]);
    const now = vi.spyOn(Date, 'now').mockReturnValue(1000);
    t.commands.key('reset');
    expect(t.store.confirmingReset.value).toBe(true);
    t.commands.key('escape');
    expect(t.store.confirmingReset.value).toBe(false);
    expect(t.named('reset')).toEqual([]);
    t.commands.key('reset');
    now.mockReturnValue(1800);
    t.commands.key('reset');
    await flush();
    expect(t.named('reset')).toHaveLength(1);
    now.mockRestore();
  });

  it('ignores a cue state without its lists and keeps the last good one', () => {
    const t = setup();
    const good: CueState = { ...emptyCueState, standbyID: 'x' };
    dispatchEvent(t.handlers, 'cueState', good);
    dispatchEvent(t.handlers, 'cueState', { standbyID: 'y' });
    expect(t.store.standbyID.value).toBe('x');
  });
});

describe('menu commands', () => {
  it.each([
    [{ command: 'theme', value: 'light' }, (t: ReturnType<typeof setup>) => t.store.theme.value === 'light', [{ themeName: 'light' }]],
    [{ command: 'theme', value: 'neon' }, (t: ReturnType<typeof setup>) => t.store.theme.value === 'deep', []],
    [{ command: 'onePage' }, (t: ReturnType<typeof setup>) => t.store.pagesPerSpread.value === 1, [{ pagesPerSpread: 1 }]],
    [{ command: 'twoPages' }, (t: ReturnType<typeof setup>) => t.store.pagesPerSpread.value === 2, [{ pagesPerSpread: 2 }]],
    [{ command: 'dim' }, (t: ReturnType<typeof setup>) => t.store.dimmed.value, [{ dimmed: true }]],
    [{ command: 'zoomIn' }, (t: ReturnType<typeof setup>) => t.store.zoom.value > 1, []],
    [{ command: 'shortcuts' }, () => true, []],
  ])('%j', async (payload, check, saved) => {
    const t = setup();
    expect(dispatchEvent(t.handlers, 'menuCommand', payload)).toBe(true);
    await flush();
    expect(check(t)).toBe(true);
    expect(t.named('setSettings').map((a) => a[0])).toEqual(saved);
  });

  it('carries out go, open, closeScript and recentsCleared through the bridge', async () => {
    const t = setup({ openDocumentPanel: () => doc('/s/p.pdf') });
    await t.boot();
    expect(t.store.recentDocuments.value).toEqual(['/s/a.pdf']);
    t.commands.menuCommand('open');
    await flush();
    expect(t.store.doc.value?.path).toBe('/s/p.pdf');
    t.commands.menuCommand('go');
    t.commands.menuCommand('closeScript');
    t.commands.menuCommand('recentsCleared');
    await flush();
    expect(t.named('go')).toHaveLength(1);
    expect(t.store.doc.value).toBeNull();
    expect(t.store.recentDocuments.value).toEqual([]);
  });

  it('takes page numbers from desks 1-based, the last page for one past it', async () => {
    const t = setup();
    await t.documents.openPath('/s/a.pdf');
    dispatchEvent(t.handlers, 'pageCommand', { value: 3, relative: false });
    expect(t.store.scrollRequest.value?.page).toBe(2);
    dispatchEvent(t.handlers, 'pageCommand', { value: 99, relative: false });
    expect(t.store.scrollRequest.value?.page).toBe(5);
    expect(t.store.follow.value).toBe(false);
  });
});

describe('reports to the native side', () => {
  it('sends the menu state only when it changes, and each visible page once', async () => {
    const t = setup();
    expect(t.commands.reportMenuState()).toBe(true);
    expect(t.commands.reportMenuState()).toBe(false);
    await t.documents.openPath('/s/a.pdf');
    expect(t.commands.reportMenuState()).toBe(true);
    t.store.dimmed.value = true;
    expect(t.commands.reportMenuState()).toBe(true);
    const sent = t.named('menuState').map((a) => a[0] as Record<string, unknown>);
    expect(sent.map((m) => [m.hasDoc, m.dimmed])).toEqual([[false, false], [true, false], [true, true]]);
    expect(Object.keys(sent[0]).sort()).toEqual([
      'cueMode', 'dimmed', 'hasDoc', 'hasSelection', 'maxText', 'memosVisible', 'pagesPerSpread', 'sidebarVisible',
      'spreadOffset', 'theme',
    ]);

    t.documents.visiblePageChanged(1);
    t.documents.visiblePageChanged(1);
    t.documents.visiblePageChanged(2);
    expect(t.named('reportPage')).toEqual([[1], [2]]);
  });

  it('takes the top reserve from "windowChrome" and ignores a damaged one', () => {
    const t = setup();
    dispatchEvent(t.handlers, 'windowChrome', { reserve: 28 });
    dispatchEvent(t.handlers, 'windowChrome', { reserve: 'tall' });
    expect(t.store.reserve.value).toBe(28);
  });
});

describe('the native call wrapper', () => {
  it('settles when no handler exists or the handler throws', async () => {
    const { post } = await import('../src/bridge/native');
    await expect(post('go')).rejects.toThrow('no native call go');
    const postMessage = vi.fn(() => { throw new Error('gone'); });
    vi.stubGlobal('window', { webkit: { messageHandlers: { go: { postMessage } } } });
    await expect(post('go', ['ui'])).rejects.toThrow('gone');
    expect(postMessage).toHaveBeenCalledWith(['ui']);
    vi.unstubAllGlobals();
  });
});
