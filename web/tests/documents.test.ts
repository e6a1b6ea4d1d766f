// The open script over a scripted native side: opening, menu commands, reports, the log.
import { expect, it, vi } from 'vitest';
import { dispatchEvent } from '../src/bridge/events';
import { appendLog, logLimit } from '../src/state/sidebar';
import { actions, doc, openedScript, turn, type Page } from './fake_bridge';

it('opening scripts: on "openPath" opens only a path that is not already the current document', async () => {
  const t = actions({ currentDocument: () => doc('/s/launch.pdf', { visiblePage: 3 }) });
  dispatchEvent(t.handlers, 'openPath', { path: '/s/launch.pdf' });
  await turn();
  // The page the core last had is not where a reopened script opens.
  expect([t.named('openDocumentPath'), t.store.doc.value?.path, t.store.scrollRequest.value?.page]).toEqual([[], '/s/launch.pdf', 0]);
  dispatchEvent(t.handlers, 'openPath', { path: '/s/other.pdf' });
  await turn();
  expect([t.named('openDocumentPath'), t.store.doc.value?.path]).toEqual([[['/s/other.pdf']], '/s/other.pdf']);
});

it('opening scripts: shows the demo the native side opened without opening it again, and a failed open quietly', async () => {
  const t = actions({ openDocumentPath: () => ({ error: '"x.pdf" was not found' }) });
  await t.documents.openPath('/s/x.pdf');
  expect([t.store.doc.value, t.store.message.value]).toEqual([null, '"x.pdf" was not found']);
  await t.documents.openDemo();
  await t.documents.openPath('/s/x.pdf');
  expect([t.store.doc.value?.path, t.named('openDocumentPath').length]).toEqual(['/home/u/Desktop/TALLOWMARK Demo/demo.pdf', 2]);
  const failing = actions({ makeDemo: () => { throw new Error('demo creation failed'); } });
  await failing.documents.openDemo();
  expect(failing.store.message.value).toBe('demo creation failed');
});

it('opening scripts: says the marks file\'s warning quietly with its script; logs "first page shown" once per opened script, not from the monitor', async () => {
  const warning = 'The marks file was damaged; what could be read is shown.';
  const t = actions({ openDocumentPath: (p: never) => doc(p, p === '/s/a.pdf' ? { warning } : {}) });
  await t.documents.openPath('/s/a.pdf');
  const said = t.store.message.value;
  const first = t.store.generation.value;
  t.documents.pageShown(first, 0);
  t.documents.pageShown(first, 1);
  await t.documents.openPath('/s/b.pdf');
  t.documents.pageShown(first, 2);
  t.documents.pageShown(t.store.generation.value, 4);
  expect([said, t.store.message.value, t.named('debugLog')]).toEqual([warning, '', [['first page shown 1'], ['first page shown 5']]]);
  const monitor = actions({}, true);
  await monitor.documents.openPath('/s/a.pdf');
  monitor.documents.pageShown(monitor.store.generation.value, 0);
  expect(monitor.named('debugLog')).toEqual([]);
});

const is = (check: (t: Page) => boolean) => check;
it.each([
  [{ command: 'theme', value: 'light' }, is((t) => t.store.theme.value === 'light'), [{ themeName: 'light' }]],
  [{ command: 'theme', value: 'neon' }, is((t) => t.store.theme.value === 'deep'), []],
  [{ command: 'onePage' }, is((t) => t.store.pagesPerSpread.value === 1), [{ pagesPerSpread: 1 }]],
  [{ command: 'twoPages' }, is((t) => t.store.pagesPerSpread.value === 2), [{ pagesPerSpread: 2 }]],
  [{ command: 'dim' }, is((t) => t.store.dimmed.value), [{ dimmed: true }]], [{ command: 'dropPageNumbers' }, is(() => true), [{ dropPageNumbers: true }]],
  [{ command: 'zoomIn' }, is((t) => t.store.zoom.value > 1), []],
  [{ command: 'shortcuts' }, is((t) => t.store.pageSheet.value === 'shortcuts'), []],
  [{ command: 'toggleSidebar' }, is((t) => !t.store.sidebarVisible.value && !t.store.menuState.value.sidebarVisible), []],
])('menu commands: %j', async (payload, check, saved) => {
  const t = actions();
  expect([t.store.sidebarVisible.value, dispatchEvent(t.handlers, 'menuCommand', payload)]).toEqual([true, true]);
  await turn();
  expect([check(t), t.sent('setSettings')]).toEqual([true, saved]);
});

it('menu commands: carries out go, open, closeScript, recentsCleared and save through the bridge; unknown commands do nothing', async () => {
  const t = actions({ openDocumentPanel: () => doc('/s/p.pdf'), saveSidecar: () => 'show.tallowmark.json' });
  await t.boot();
  const recent = t.store.recentDocuments.value;
  t.commands.menuCommand('open');
  await turn();
  t.store.message.value = 'earlier';
  t.commands.menuCommand('save');
  await turn();
  expect([recent, t.store.doc.value?.path, t.store.status.value, t.store.message.value]).toEqual([['/s/a.pdf'], '/s/p.pdf', 'Saved show.tallowmark.json', '']);
  const before = t.calls.length;
  for (const command of ['noSuchThing', 'theme:', '']) expect(() => dispatchEvent(t.handlers, 'menuCommand', { command })).not.toThrow();
  expect(t.calls.length).toBe(before);
  t.commands.menuCommand('go');
  t.commands.menuCommand('closeScript');
  t.commands.menuCommand('recentsCleared');
  await turn();
  expect([t.named('go').length, t.store.doc.value, t.store.recentDocuments.value]).toEqual([1, null, []]);
  const failing = await openedScript({ saveSidecar: () => '' });
  failing.commands.menuCommand('save');
  await turn();
  expect(failing.store.message.value).toBe('The marks could not be saved.');
});

it('menu commands: takes page numbers from desks 1-based, the last page for one past it; "shiftPairing" toggles the engine offset and keeps the page', async () => {
  const t = await openedScript({ setSpreadOffset: (n: never) => n });
  dispatchEvent(t.handlers, 'pageCommand', { value: 3, relative: false });
  const third = t.store.scrollRequest.value?.page;
  dispatchEvent(t.handlers, 'pageCommand', { value: 99, relative: false });
  expect([third, t.store.scrollRequest.value?.page, t.store.follow.value]).toEqual([2, 5, false]);
  t.documents.visiblePageChanged(3);
  t.commands.menuCommand('shiftPairing');
  await turn();
  expect([t.store.cueState.value.spreadOffset, t.store.scrollRequest.value?.page]).toEqual([1, 3]);
  // Spreads are [0] [1,2] [3,4] [5] now: from page index 3 the next spread starts at 5.
  t.view.stepPage(1);
  expect(t.store.scrollRequest.value?.page).toBe(5);
  t.commands.menuCommand('shiftPairing');
  await turn();
  expect([t.named('setSpreadOffset'), t.store.cueState.value.spreadOffset]).toEqual([[[1], [0]], 0]);
});

it('reports to the native side: sends the menu state only when it changes, and each visible page once', async () => {
  const t = actions();
  expect([t.commands.reportMenuState(), t.commands.reportMenuState()]).toEqual([true, false]);
  await t.documents.openPath('/s/a.pdf');
  expect(t.commands.reportMenuState()).toBe(true);
  t.store.dimmed.value = true;
  expect(t.commands.reportMenuState()).toBe(true);
  const sent = t.sent<Record<string, unknown>>('menuState');
  expect(sent.map((m) => [m.hasDoc, m.dimmed])).toEqual([[false, false], [true, false], [true, true]]);
  expect(Object.keys(sent[0]).sort()).toEqual([
    'cueMode', 'dimmed', 'hasDoc', 'hasSelection', 'locked', 'maxText', 'memosVisible', 'pagesPerSpread', 'sidebarVisible', 'spreadOffset', 'theme',
  ]);
  for (const page of [1, 1, 2]) t.documents.visiblePageChanged(page);
  expect(t.named('reportPage')).toEqual([[1], [2]]);
});

it('reports to the native side: settles a native call when no handler exists or the handler throws', async () => {
  const { post } = await import('../src/bridge/native');
  await expect(post('go')).rejects.toThrow('no native call go');
  const postMessage = vi.fn(() => { throw new Error('gone'); });
  vi.stubGlobal('window', { webkit: { messageHandlers: { go: { postMessage } } } });
  await expect(post('go', ['ui'])).rejects.toThrow('gone');
  expect(postMessage).toHaveBeenCalledWith(['ui']);
  vi.unstubAllGlobals();
});

const line = (n: number) => ({ time: `20:00:${n}`, source: 'osc', text: `line ${n}` });

it('the control log and status: keeps the newest lines only, oldest first, and leaves damaged entries out', () => {
  const bounded = appendLog([], Array.from({ length: logLimit + 20 }, (_, i) => line(i)));
  expect([bounded.length, bounded[0].text, bounded[logLimit - 1].text]).toEqual([logLimit, 'line 20', `line ${logLimit + 19}`]);
  const after = appendLog(bounded, [null, { text: 'no time' }, line(999)]);
  expect([after.length, after[0].text, after[logLimit - 1].text]).toEqual([logLimit, 'line 21', 'line 999']);
});

it('the control log and status: starts from the history, then appends each "controlLog" event, up to the bound', async () => {
  const t = actions({ getLog: () => [line(1), line(2)] });
  // An event before the history answer is part of that history already.
  dispatchEvent(t.handlers, 'controlLog', line(2));
  await t.documents.loadSidebar();
  expect(t.store.logLines.value.map((l) => l.text)).toEqual(['line 1', 'line 2']);
  for (let i = 3; i < logLimit + 10; i++) dispatchEvent(t.handlers, 'controlLog', line(i));
  const lines = t.store.logLines.value;
  expect([lines.length, lines[lines.length - 1].text]).toEqual([logLimit, `line ${logLimit + 9}`]);
});

it('the control log and status: follows "controlStatus" and "windowChrome", and ignores damaged ones', async () => {
  const t = actions();
  dispatchEvent(t.handlers, 'windowChrome', { reserve: 28 });
  dispatchEvent(t.handlers, 'windowChrome', { reserve: 'tall' });
  expect(t.store.reserve.value).toBe(28);
  await t.boot();
  expect(t.store.controlStatus.value?.oscPort).toBe(53000);
  dispatchEvent(t.handlers, 'controlStatus', { oscListening: false, oscPort: 8000, oscError: 'in use', midiSources: ['Desk', 3] });
  expect(t.store.controlStatus.value).toEqual({ oscListening: false, oscPort: 8000, oscError: 'in use', midiSources: ['Desk'] });
  dispatchEvent(t.handlers, 'controlStatus', { oscPort: 'x' });
  expect(t.store.controlStatus.value?.oscPort).toBe(8000);
});
