// The tests' shared fixtures: records, a scripted stand-in for the native
// calls, and the page's actions over it.
import { expect } from 'vitest';
import { createApp } from '../src/actions/app';
import type { Bridge } from '../src/actions/common';
import type {
  Cue, CueState, DocumentInfo, Insert, Mark, Memo, ReportPerformance, RunChange, Settings, ShareStatus, ShowReport,
} from '../src/bridge/types';
import { emptyCueState } from '../src/bridge/types';
import type { KeyInput } from '../src/state/keys';
import { createStore } from '../src/state/store';

export const doc = (path: string, fields: Partial<DocumentInfo> = {}): DocumentInfo =>
  ({ path, title: path, pageCount: 6, aspects: [0.7, 0.7, 0.7, 0.7, 0.7, 0.7], crop: [], autoCrop: [], state: emptyCueState, ...fields });

// A cue numbered as its id with a box at (0.1, y) on `page`.
export const cue = (id: string, page: number, y: number, fields: Partial<Cue> = {}): Cue => ({
  id, number: id, label: '', kind: 'LX', color: '', snippet: '', note: '', insertID: '', page, x: 0.1, y, w: 0.2, h: 0.02, labelX: 0, padL: 0, padR: 0, ...fields,
});

export const mark = (id: string, fields: Partial<Mark> = {}): Mark =>
  ({ id, kind: 'highlight', text: '', color: '', group: '', page: 0, x: 0.1, y: 0.1, w: 0.2, h: 0.02, ...fields });
export const memo = (id: string, fields: Partial<Memo> = {}): Memo =>
  ({ id, text: '', color: '', page: 0, x: 0.1, y: 0.1, w: 0.3, h: 0.08, ...fields });
export const insert = (id: string, afterY: number, text: string, fields: Partial<Insert> = {}): Insert =>
  ({ id, text, page: 0, afterY, lineMidY: afterY, lineH: 0.02, x: 0.1, ...fields });
export const stateWith = (fields: Partial<CueState> = {}): CueState => ({ ...emptyCueState, ...fields });

// A key as the browser reports it, pressed on the page's body unless told.
export const body = { tagName: 'BODY' };
export const textInput = { tagName: 'INPUT', type: 'text' };
export const press = (key: string, mods: Partial<KeyInput> = {}, target: unknown = body): KeyInput =>
  ({ key, target, ctrlKey: false, shiftKey: false, altKey: false, metaKey: false, repeat: false, ...mods });

// Numbers compared to nine places, in a value or a record of them.
export const near = (v: number, digits = 9) => expect.closeTo(v, digits);
export const nearAll = <T extends object>(r: T): T =>
  (Array.isArray(r) ? r.map((v) => (typeof v === 'number' ? near(v) : nearAll(v))) : Object.fromEntries(
    Object.entries(r).map(([k, v]) => [k, typeof v === 'number' ? near(v) : v]))) as T;

// A refusal with its reason, whatever the words.
export const refused = { error: expect.any(String) };

// One turn of the event loop: answers of the scripted bridge arrive.
export const turn = () => new Promise((r) => setTimeout(r, 0));

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

// A Unix time in ms at a local wall clock, so the report reads the same in every time zone.
export const localMs = (day: number, h: number, m: number, s = 0) => new Date(2024, 11, day, h, m, s).getTime();

// A performance as the core reports it: two acts around an interval, three GOs.
export function performance(fields: Partial<ReportPerformance> = {}): ReportPerformance {
  const start = localMs(7, 19, 30);
  const cue = (number: string, label: string, wall: number, act: number) =>
    ({ number, label, type: 'LX', source: 'key', at: (wall - start) / 1000, held: 0, act, wall });
  return {
    start, end: localMs(7, 21, 43, 20), running: 8000, resumed: false,
    acts: [
      { start, end: localMs(7, 20, 38, 20), seconds: 4100, gos: 2 },
      { start: localMs(7, 20, 59, 50), end: localMs(7, 21, 43, 20), seconds: 2610, gos: 1 },
    ],
    intervals: [{ start: localMs(7, 20, 38, 20), end: localMs(7, 20, 59, 50), seconds: 1290 }],
    cueCount: 3, backs: 2, standbys: 5, ignored: 1,
    cues: [cue('1', 'House to half', start, 0), cue('2', 'Storm', localMs(7, 20, 38, 20), 0), cue('3', 'Blackout', localMs(7, 21, 43, 20), 1)],
    cuesOmitted: 0,
    cuesLoaded: true,
    ...fields,
  };
}

// Two performances, newest first: the Saturday show, and Friday's picked up after a crash.
export const showReport: ShowReport = {
  script: 'Demo', intervalMinutes: 8,
  performances: [
    performance(),
    performance({ start: localMs(6, 19, 30), end: localMs(6, 19, 40), running: 600, resumed: true, cueCount: 1, acts: [], intervals: [], cues: [] }),
  ],
};

// Sharing to follower screens as the core reports it: off, and on with two
// networks (the QR code is a small SVG with the characters a data URL must escape).
export const shareOff: ShareStatus = {
  sharing: false, listening: false, port: 53180, error: '', screens: 0, pinned: false, addresses: [], qr: null,
};
export const shareQr = '<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 25 25"><rect width="100%" height="100%" fill="#fff"/>' +
  '<path d="M0 0h7v7H0z"/></svg>';
export const shareOn: ShareStatus = {
  ...shareOff, sharing: true, listening: true, qr: shareQr,
  addresses: ['http://192.168.1.20:53180/f/0123456789abcdef0123456789abcdef/', 'http://10.0.0.5:53180/f/0123456789abcdef0123456789abcdef/'],
};

export const settings = { recentDocuments: ['/s/a.pdf'], themeName: 'dark', pagesPerSpread: 2, dimmed: false } as unknown as Settings;

export type Answers = Partial<Record<keyof Bridge, (...a: never[]) => unknown>>;

export function fakeBridge(overrides: Answers = {}) {
  const calls: [string, unknown[]][] = [];
  const answers: Record<string, (...a: unknown[]) => unknown> = {
    getSettings: () => settings, setSettings: () => settings, windowChrome: () => ({ reserve: 0 }), currentDocument: () => null,
    openDocumentPath: (p) => doc(p as string), openDocumentPanel: () => null, closeDocument: () => emptyCueState,
    makeDemo: () => doc('/home/u/Desktop/TALLOWMARK Demo/demo.pdf'), renderPage: () => null,
    go: () => runChange({ standbyID: 'b', lastFiredID: 'a', fired: ['a'] }), back: () => runChange({ standbyID: 'a', unfired: ['a'] }),
    reset: () => runChange({ standbyID: 'a', clear: true }), updateStatus: () => ({ available: null, current: '2026.12.01' }),
    reportPage: () => true, menuState: () => true, debugLog: () => true, getState: () => emptyCueState, getLog: () => [],
    getControlStatus: () => ({ oscListening: true, oscPort: 53000, oscError: '', midiSources: [] }), searchDocument: () => [],
    standbyCue: () => true, restoreRun: () => true, discardRun: () => true, installUpdate: () => true,
    // Records of every kind are stored as sent.
    upsertCue: () => 'id', removeCue: () => true, upsertMarks: (list) => (list as { id: string }[]).map((m) => m.id), upsertMark: () => 'id',
    removeMark: () => true, removeMarks: () => true, acceptCarried: () => true, upsertMemo: () => 'id', removeMemo: () => true, upsertFlag: () => 'id',
    upsertInsert: (i) => (i as { id: string }).id, removeInsert: () => true, setPageText: () => true, setPageLabelOffset: () => true,
    // As the core answers: the cues of the performance asked for (the newest unless told) only.
    showReport: (index?: unknown) => ({
      ...showReport,
      performances: showReport.performances.map((p, i) => (i === (typeof index === 'number' ? index : 0) ? p : { ...p, cues: undefined })),
    }),
    exportShowReport: () => true,
    shareStatus: () => shareOff, setSharing: (on) => (on ? shareOn : shareOff),
    pinShareAddress: (pinned) => ({ ...shareOn, pinned: pinned === true }),
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
  // The first argument of each call of `name`.
  return { bridge, calls, named, sent: <T = unknown>(name: string) => named(name).map((a) => a[0] as T) };
}

// The page's actions over a scripted bridge, without a page: the store, the
// action groups and the bridge's record side by side.
export function actions(overrides: Answers = {}, confidence = false) {
  const fake = fakeBridge(overrides);
  const store = createStore(confidence);
  return { ...fake, store, ...createApp(store, fake.bridge) };
}

export type Page = ReturnType<typeof actions>;

// The same, booted, with `path` open (its state `state` unless the answers say).
export async function openedScript(overrides: Answers = {}, state?: CueState, path = '/s/show.pdf') {
  const t = actions(state ? { openDocumentPath: (p: never) => doc(p, { state }), ...overrides } : overrides);
  await t.boot();
  await t.documents.openPath(path);
  await turn();
  return t;
}
