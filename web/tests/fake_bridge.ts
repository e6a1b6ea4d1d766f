// A scripted stand-in for the native calls, for the tests only.
import type { Cue, DocumentInfo, RunChange, Settings } from '../src/bridge/types';
import { emptyCueState } from '../src/bridge/types';
import { createApp } from '../src/actions/app';
import type { Bridge } from '../src/actions/common';
import { createStore } from '../src/state/store';

export function doc(path: string, fields: Partial<DocumentInfo> = {}): DocumentInfo {
  return { path, title: path, pageCount: 6, aspects: [0.7, 0.7, 0.7, 0.7, 0.7, 0.7], crop: [], autoCrop: [], state: emptyCueState, ...fields };
}

// A cue numbered as its id with a box at (0.1, y) on `page`.
export function cue(id: string, page: number, y: number, fields: Partial<Cue> = {}): Cue {
  return {
    id, number: id, label: '', kind: 'LX', color: '', snippet: '', note: '', insertID: '', page,
    x: 0.1, y, w: 0.2, h: 0.02, labelX: 0, padL: 0, padR: 0, ...fields,
  };
}

// A run change as the engine sends it; each one follows the one before
// (`from` is the last one's `seq`) unless told.
let runSeq = 100;
export function runChange(fields: Partial<RunChange> = {}): RunChange {
  const from = fields.from ?? runSeq;
  const seq = fields.seq ?? from + 1;
  runSeq = Math.max(runSeq, seq);
  const fired = fields.fired ?? [];
  return {
    standbyID: '', lastFiredID: '', clear: false, unfired: [], firedCount: fired.length, total: 0, savedRun: {},
    ...fields, fired, from, seq,
  };
}

export const settings = { recentDocuments: ['/s/a.pdf'], themeName: 'dark', pagesPerSpread: 2, dimmed: false } as unknown as Settings;

export function fakeBridge(overrides: Partial<Record<keyof Bridge, (...a: never[]) => unknown>> = {}) {
  const calls: [string, unknown[]][] = [];
  const answers: Record<string, (...a: unknown[]) => unknown> = {
    getSettings: () => settings,
    setSettings: () => settings,
    windowChrome: () => ({ reserve: 0 }),
    currentDocument: () => null,
    openDocumentPath: (p) => doc(p as string),
    openDocumentPanel: () => null,
    closeDocument: () => emptyCueState,
    makeDemo: () => doc('/home/u/Desktop/TALLOWMARK Demo/demo.pdf'),
    renderPage: () => null,
    go: () => runChange({ standbyID: 'b', lastFiredID: 'a', fired: ['a'] }),
    back: () => runChange({ standbyID: 'a', unfired: ['a'] }),
    reset: () => runChange({ standbyID: 'a', clear: true }),
    updateStatus: () => ({ available: null, current: '2026.12.01' }),
    reportPage: () => true,
    menuState: () => true,
    debugLog: () => true,
    getState: () => emptyCueState,
    getLog: () => [],
    getControlStatus: () => ({ oscListening: true, oscPort: 53000, oscError: '', midiSources: [] }),
    searchDocument: () => [],
    standbyCue: () => true,
    // Marks, memos, flags, inserted lines and page notes are stored as sent.
    upsertMarks: (list) => (list as { id: string }[]).map((m) => m.id),
    upsertMark: () => 'id',
    removeMark: () => true,
    removeMarks: () => true,
    upsertMemo: () => 'id',
    removeMemo: () => true,
    upsertFlag: () => 'id',
    upsertInsert: (i) => (i as { id: string }).id,
    removeInsert: () => true,
    setPageText: () => true,
    setPageLabelOffset: () => true,
    ...(overrides as Record<string, (...a: unknown[]) => unknown>),
  };
  const bridge = new Proxy({} as Bridge, {
    get: (_t, name: string) => (...args: unknown[]) => {
      calls.push([name, args]);
      try {
        return Promise.resolve(answers[name](...args));
      } catch (e) {
        return Promise.reject(e);
      }
    },
  });
  const named = (name: string) => calls.filter((c) => c[0] === name).map((c) => c[1]);
  return { bridge, calls, named };
}


// The page's actions over a scripted bridge, without a page: the store, the
// action groups and the bridge's record side by side.
export function actions(overrides: Parameters<typeof fakeBridge>[0] = {}, confidence = false) {
  const fake = fakeBridge(overrides);
  const store = createStore(confidence);
  return { ...fake, store, ...createApp(store, fake.bridge) };
}

// The same with /s/show.pdf open.
export async function openedScript(overrides: Parameters<typeof fakeBridge>[0] = {}) {
  const t = actions(overrides);
  await t.boot();
  await t.documents.openPath('/s/show.pdf');
  await new Promise((r) => setTimeout(r, 0));
  return t;
}
