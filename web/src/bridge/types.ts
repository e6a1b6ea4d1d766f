// The dictionaries that cross the bridge, as the native side sends them.
// Keys are always present in what the native side sends, but for those marked optional.

// How a record came through being carried onto a revised script: moved onto
// the words that were found though the text changed, or left at its old place
// for the operator to review. Absent: placed cleanly, or never carried.
export type CarryTag = 'changed' | 'review';

export interface Cue {
  id: string;
  number: string;
  label: string;
  kind: string;
  color: string;
  snippet: string;
  note: string;
  insertID: string;
  page: number;
  // Fractions of the displayed (cropped) page, y growing down.
  x: number;
  y: number;
  w: number;
  h: number;
  labelX: number;
  padL: number;
  padR: number;
  carry?: CarryTag;
}

export interface Mark {
  id: string;
  kind: string;
  text: string;
  color: string;
  group: string;
  page: number;
  x: number;
  y: number;
  w: number;
  h: number;
  carry?: CarryTag;
}

export interface Flag {
  id: string;
  text: string;
  color: string;
  role: string;
  page: number;
  x: number;
  y: number;
  carry?: CarryTag;
}

export interface Memo {
  id: string;
  text: string;
  color: string;
  page: number;
  x: number;
  y: number;
  w: number;
  h: number;
  carry?: CarryTag;
}

export interface Insert {
  id: string;
  text: string;
  page: number;
  afterY: number;
  lineMidY: number;
  lineH: number;
  x: number;
  carry?: CarryTag;
}

export interface SavedRun {
  count?: number;
  total?: number;
  standbyID?: string;
  number?: string;
  label?: string;
}

export interface CueState {
  // The engine's change counter when the state was made; an older core sends none.
  seq?: number;
  cues: Cue[];
  marks: Mark[];
  flags: Flag[];
  memos: Memo[];
  inserts: Insert[];
  standbyID: string;
  lastFiredID: string;
  fired: string[];
  pageLabelOffset: number;
  spreadOffset: number;
  savedRun: SavedRun;
  pageTexts: Record<string, string>;
  canUndo: boolean;
  canRedo: boolean;
  sidecarPath: string;
  // Only in the answer of "importSidecar" and "offerMarks" when the marks were carried.
  carried?: CarrySummary;
}

// What carrying another version's marks onto this script did. "positions":
// copied by page and position as before, `message` says why.
export interface CarrySummary {
  mode: 'words' | 'positions';
  placed: number;
  changed: number;
  review: number;
  message: string;
}

// The "carryProgress" event while marks are carried.
export interface CarryProgress {
  step: string;
  done: number;
  total: number;
}

// A change of the run only (GO, BACK, RESET, standby, restore): the cues whose
// status it changed, valid on any state whose seq is in [from, seq).
export interface RunChange {
  seq: number;
  from: number;
  standbyID: string;
  lastFiredID: string;
  // The fired set was emptied before `fired` and `unfired` apply.
  clear: boolean;
  fired: string[];
  unfired: string[];
  firedCount: number;
  total: number;
  savedRun: SavedRun;
}

// What a run change never touches: the marks of the script.
export type ScriptState = Omit<CueState, 'seq' | 'standbyID' | 'lastFiredID' | 'fired' | 'savedRun'>;

export interface DocumentInfo {
  path: string;
  title: string;
  pageCount: number;
  // Displayed width divided by height, one per page.
  aspects: number[];
  crop: number[];
  autoCrop: number[];
  // Each page's crop as [x, y, w, h] of its whole page, y down.
  cropRects?: number[][];
  // A long script's lines are still being read: its crop, and so the frame
  // every mark is kept in, is not known yet.
  linesPending?: boolean;
  state: CueState;
  // Only in the answer of "currentDocument".
  visiblePage?: number;
  // A sentence about the marks file (too large to read, repaired), shown quietly.
  warning?: string;
  // The show is locked against editing: read and run only.
  locked?: boolean;
  // Scanned pages: those whose words came from text recognition when the
  // info was made, and how far the reading is while it is under way.
  recognisedPages?: number[];
  scanReading?: { done: number; total: number };
}

// The "scanProgress" event while the scanned pages of the open script are
// read. `problem`: why they cannot be read at all; the reading has stopped.
export interface ScanProgress {
  generation: number;
  done: number;
  total: number;
  // 0-based, so far.
  recognisedPages: number[];
  problem?: string;
}

export interface UpdateStatus {
  available: string | null;
  current: string;
}

export interface OpenFailure {
  error: string;
}

export type ThemeName = 'deep' | 'dark' | 'light';

export interface CueType {
  name: string;
  color: string;
}

export interface Settings {
  oscEnabled: boolean;
  oscPort: number;
  oscLocalOnly: boolean;
  oscDeskHosts: string[];
  oscGoUnknownNumber: string;
  goGuardMs: number;
  intervalMinutes: number;
  oscFeedback: FeedbackDestination[];
  // Follower screens: shared or not (the operator's choice, changed through
  // "setSharing" only) and the port they are served on.
  followSharing?: boolean;
  followPort: number;
  midiEnabled: boolean;
  midiMap: { note: number; action: string; channel: number }[];
  mscEnabled: boolean;
  mscDeviceFilter: number;
  mscBareGoFiresStandby: boolean;
  renderWidth: number;
  recentDocuments: string[];
  dimmed: boolean;
  theme: number;
  themeName: ThemeName;
  pagesPerSpread: number;
  maxText: boolean;
  glowTarget: string;
  dropPageNumbers: boolean;
  memosVisible: boolean;
  cueLabelFontPx: number;
  cueLabelAdaptive: boolean;
  cueSnapWords: boolean;
  cueTypes: CueType[];
  // The reading size kept for each recent script, newest first; an older core sends none.
  readingSizes?: { path: string; pages: number; zoom: number }[];
  // Text recognition of scanned pages: the languages joined by '+' ("" is the
  // installed ones, English first), and the installed ones, English first,
  // which only the core knows and never takes back.
  ocrLanguages: string;
  ocrInstalled: string[];
}

// The settings the page may send.
export type SettableSettings = Omit<Settings, 'ocrInstalled'>;

// What the page sends to "setSettings": settings, and the size of the shown
// script, which the native side puts at the front of `readingSizes`.
export type SettingsChange = Partial<SettableSettings> & { readingSize?: { path: string; pages: number; zoom: number } };

// Where the show's state is sent over OSC.
export interface FeedbackDestination {
  host: string;
  port: number;
}

export interface MenuState {
  hasDoc: boolean;
  hasSelection: boolean;
  cueMode: boolean;
  spreadOffset: number;
  dimmed: boolean;
  memosVisible: boolean;
  theme: ThemeName;
  pagesPerSpread: number;
  sidebarVisible: boolean;
  maxText: boolean;
  locked: boolean;
}

export interface RenderedPage {
  index: number;
  // Standard Base64 of the PNG bytes.
  png: string;
}

export interface LogEntry {
  time: string;
  source: string;
  text: string;
}

// One place the searched text was found; rect is [x, y, w, h] as fractions
// of the displayed page, y growing down.
export interface SearchHit {
  page: number;
  rect: number[];
  snippet: string;
  lineEnd: boolean;
}

export interface ControlStatus {
  oscListening: boolean;
  oscPort: number;
  oscError: string;
  midiSources: string[];
}

// Where sharing to follower screens stands ("shareStatus", "setSharing",
// "pinShareAddress" and the "shareStatus" event).
export interface ShareStatus {
  // The operator's choice, kept in the settings.
  sharing: boolean;
  // The server is up; when sharing is on and it is not, `error` says why.
  listening: boolean;
  port: number;
  error: string;
  // Follower screens connected now.
  screens: number;
  // The address is kept across restarts.
  pinned: boolean;
  // The first is the one the QR code holds; the others are other networks.
  addresses: string[];
  // An SVG document, black on white, of addresses[0]; null when not listening.
  qr: string | null;
}

// The show report: what was recorded of each performance of the open script.
// Times are Unix milliseconds ("start", "end", "wall") or seconds.
export interface ReportAct {
  start: number;
  end: number;
  seconds: number;
  gos: number;
}

export interface ReportInterval {
  start: number;
  end: number;
  seconds: number;
}

export interface ReportCue {
  number: string;
  label: string;
  type: string;
  source: string;
  // Seconds since the performance's first GO, and until the next GO (0 for the last).
  at: number;
  held: number;
  // 0-based.
  act: number;
  wall: number;
}

export interface ReportPerformance {
  // The first and the last GO.
  start: number;
  end: number;
  running: number;
  // Picked up after a crash.
  resumed: boolean;
  acts: ReportAct[];
  // One fewer than the acts.
  intervals: ReportInterval[];
  cueCount: number;
  backs: number;
  standbys: number;
  ignored: number;
  // The first cues only; the CSV export has every one. The core sends them
  // for the performance shown; the others come when one is chosen.
  cues: ReportCue[];
  cuesOmitted: number;
  cuesLoaded: boolean;
}

export interface ShowReport {
  script: string;
  intervalMinutes: number;
  // Newest first.
  performances: ReportPerformance[];
}

export type ReportFormat = 'csv' | 'pdf';

export const emptyScriptState: ScriptState = {
  cues: [],
  marks: [],
  flags: [],
  memos: [],
  inserts: [],
  pageLabelOffset: 0,
  spreadOffset: 0,
  pageTexts: {},
  canUndo: false,
  canRedo: false,
  sidecarPath: '',
};

export const emptyCueState: CueState = {
  cues: [],
  marks: [],
  flags: [],
  memos: [],
  inserts: [],
  standbyID: '',
  lastFiredID: '',
  fired: [],
  pageLabelOffset: 0,
  spreadOffset: 0,
  savedRun: {},
  pageTexts: {},
  canUndo: false,
  canRedo: false,
  sidecarPath: '',
};
