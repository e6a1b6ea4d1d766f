// The one place that posts to the native side. Each native call the page uses
// has one typed function here; nothing else touches window.webkit.

import type { Layout } from '../export/measure';
import type { TextRectAnswer } from '../state/cue_edit';
import type {
  ControlStatus,
  Cue,
  CueState,
  Flag,
  Mark,
  Memo,
  DocumentInfo,
  Insert,
  LogEntry,
  MenuState,
  OpenFailure,
  ReportFormat,
  RenderedPage,
  RunChange,
  SearchHit,
  SettingsChange,
  Settings,
  ShareStatus,
  ShowReport,
  UpdateStatus,
} from './types';

interface MessageHandler {
  postMessage(args: unknown[]): Promise<unknown>;
}

declare global {
  interface Window {
    webkit?: { messageHandlers?: Record<string, MessageHandler | undefined> };
    __tallowmarkEvent?: (name: string, payload: unknown) => void;
    __confidenceMode?: boolean;
    __tallowmarkTrace?: boolean;
  }
}

function handler(name: string): MessageHandler | undefined {
  const w = (globalThis as { window?: Window }).window;
  return w?.webkit?.messageHandlers?.[name];
}

// Every call settles: a missing handler (the page opened outside the app) or
// a handler that throws synchronously becomes a rejected promise with a text.
export function post<T>(name: string, args: unknown[] = []): Promise<T> {
  const h = handler(name);
  if (!h) return Promise.reject(new Error(`no native call ${name}`));
  try {
    return h.postMessage(args).then(
      (value) => value as T,
      (error: unknown) => Promise.reject(error instanceof Error ? error : new Error(String(error))),
    );
  } catch (error) {
    return Promise.reject(error instanceof Error ? error : new Error(String(error)));
  }
}

export function isOpenFailure(value: unknown): value is OpenFailure {
  return typeof value === 'object' && value !== null && typeof (value as OpenFailure).error === 'string';
}

export function isDocument(value: unknown): value is DocumentInfo {
  const v = value as DocumentInfo | null;
  return (
    typeof v === 'object' && v !== null && typeof v.path === 'string' && Array.isArray(v.aspects) &&
    typeof v.pageCount === 'number'
  );
}

export type OpenAnswer = DocumentInfo | OpenFailure | null;

export const native = {
  openDocumentPanel: () => post<OpenAnswer>('openDocumentPanel'),
  openDocumentPath: (path: string) => post<OpenAnswer>('openDocumentPath', [path]),
  closeDocument: () => post<CueState>('closeDocument'),
  currentDocument: () => post<DocumentInfo | null>('currentDocument'),
  renderPage: (index: number, pixelWidth: number) => post<RenderedPage | null>('renderPage', [index, pixelWidth]),
  windowChrome: () => post<{ reserve: number }>('windowChrome'),
  getState: () => post<CueState>('getState'),
  getSettings: () => post<Settings>('getSettings'),
  // Besides the settings, "readingSize" tells the shown script's size.
  setSettings: (changes: SettingsChange) => post<Settings | false>('setSettings', [changes]),
  getLog: () => post<LogEntry[]>('getLog'),
  getControlStatus: () => post<ControlStatus>('getControlStatus'),
  searchDocument: (query: string) => post<SearchHit[]>('searchDocument', [query]),
  standbyCue: (id: string) => post<boolean>('standbyCue', [id]),
  // The run change of the step (an older core answers the whole state).
  go: () => post<RunChange | CueState>('go', ['ui']),
  back: () => post<RunChange | CueState>('back', ['ui']),
  reset: () => post<RunChange | CueState>('reset', ['ui']),
  reportPage: (index: number) => post<boolean>('reportPage', [index]),
  makeDemo: () => post<DocumentInfo | null>('makeDemo'),
  menuState: (state: MenuState) => post<boolean>('menuState', [state]),
  textRect: (args: [number, number, number, number, number, boolean]) => post<TextRectAnswer | null>('textRect', args),
  // The text lines of a page, [x, y, w, h] in fractions of the shown page, in reading order.
  pageLines: (index: number) => post<unknown>('pageLines', [index]),
  upsertCue: (cue: Cue) => post<string | false>('upsertCue', [cue]),
  removeCue: (id: string) => post<boolean>('removeCue', [id]),
  upsertMark: (mark: Mark) => post<string | false>('upsertMark', [mark]),
  // One undo step for the whole list (the lines of one drag).
  upsertMarks: (marks: Mark[]) => post<string[]>('upsertMarks', [marks]),
  removeMark: (id: string) => post<boolean>('removeMark', [id]),
  removeMarks: (ids: string[]) => post<boolean>('removeMarks', [ids]),
  // Carried records kept where they stand: their carry tags go, as one undo step.
  acceptCarried: (ids: string[]) => post<boolean>('acceptCarried', [ids]),
  upsertFlag: (flag: Flag) => post<string | false>('upsertFlag', [flag]),
  removeFlag: (id: string) => post<boolean>('removeFlag', [id]),
  upsertMemo: (memo: Memo) => post<string | null>('upsertMemo', [memo]),
  removeMemo: (id: string) => post<boolean>('removeMemo', [id]),
  upsertInsert: (insert: Insert) => post<string | null>('upsertInsert', [insert]),
  removeInsert: (id: string) => post<boolean>('removeInsert', [id]),
  renumberCues: () => post<CueState>('renumberCues'),
  undo: () => post<CueState>('undo'),
  redo: () => post<CueState>('redo'),
  // Answers the lock as it then stands.
  setShowLocked: (locked: boolean) => post<boolean>('setShowLocked', [locked]),
  restoreRun: () => post<boolean>('restoreRun'),
  discardRun: () => post<boolean>('discardRun'),
  debugLog: (text: string) => post<boolean>('debugLog', [text]),
  // The file name written, or "" when nothing could be saved.
  saveSidecar: () => post<string>('saveSidecar'),
  setSpreadOffset: (offset: number) => post<number>('setSpreadOffset', [offset]),
  installUpdate: () => post<boolean>('installUpdate'),
  // The update found so far (a stamp) and the running build's stamp.
  updateStatus: () => post<UpdateStatus>('updateStatus'),
  // A copy of the script with its marks, then open: its document, a failure, or "" when cancelled.
  saveScriptAs: () => post<OpenAnswer | ''>('saveScriptAs'),
  revealSidecar: () => post<boolean>('revealSidecar'),
  // Another version's marks replace these (a backup first): the new state, or null when cancelled.
  importSidecar: () => post<CueState | null>('importSidecar'),
  offerMarks: (marksPath: string) => post<CueState | null>('offerMarks', [marksPath]),
  // [x, y, w, h] of the whole page, y down; null goes back to the automatic crop.
  setCrop: (crop: number[] | null) => post<DocumentInfo | null>('setCrop', [crop]),
  setPageText: (page: number, text: string) => post<boolean>('setPageText', [page, text]),
  setPageLabelOffset: (offset: number) => post<boolean>('setPageLabelOffset', [offset]),
  // True when written, false when the save panel was cancelled.
  exportMarkedPDF: (layout: Layout) => post<boolean>('exportMarkedPDF', [layout]),
  // The open script's performances, newest first (read with readReport); rejects without a script.
  // With the cues of the performance at `index` (newest first), else of the newest.
  showReport: (index?: number) => post<ShowReport>('showReport', index === undefined ? [] : [index]),
  // Asks where to save and writes the whole report: true when written, false when the panel was cancelled.
  exportShowReport: (format: ReportFormat) => post<boolean>('exportShowReport', [format]),
  // Follower screens: each answers the whole status (read with readShareStatus).
  shareStatus: () => post<ShareStatus>('shareStatus'),
  setSharing: (on: boolean) => post<ShareStatus>('setSharing', [on]),
  pinShareAddress: (pinned: boolean) => post<ShareStatus>('pinShareAddress', [pinned]),
};
