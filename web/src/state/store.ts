// One store: what the native side last said, plus the page's own view state.
// Derived values are computed signals, never stored twice.

import { batch, computed, effect, signal, type ReadonlySignal, type Signal } from '@preact/signals';
import type { ControlStatus, Cue, CueState, DocumentInfo, LogEntry, SavedRun, ScriptState, Settings, ThemeName } from '../bridge/types';
import { emptyScriptState } from '../bridge/types';
import { byPage, glowCueID, orderOf, showSummary, type ShowSummary } from './cues';
import { menuStateOf } from './menu_state';
import { openingPlace, resumeBannerText, resumeText as resumeTextOf } from './resume';
import { Inbox, isRunChange, type RunDelta } from './run_sync';
import { appendLog } from './sidebar';
import type { UpdateNotice } from './update_notice';

export type PageSheetName = 'settings' | 'shortcuts' | 'page' | 'report' | 'share';

export interface ScrollRequest {
  page: number;
  // Fraction down the page to bring to the reading line; 0 is the page top.
  y: number;
  seq: number;
}

export interface LineCursor {
  page: number;
  line: number;
  rect: [number, number, number, number];
  // Null until the native side has told the line's words.
  text: string | null;
}

// Bits of a cue's run status, one signal per drawn cue: a GO changes the
// signals of the cues it touched, so only their boxes and rows draw again.
export const firedBit = 1;
export const standbyBit = 2;
export const glowBit = 4;

// Calls `draw` before the next frame is drawn. Without frames (the logic
// tests in Node) each change is drawn at once.
export type Frame = (draw: () => void) => void;

function defaultFrame(): Frame {
  const raf = (globalThis as { requestAnimationFrame?: (cb: () => void) => unknown }).requestAnimationFrame;
  return raf ? (draw) => void raf(draw) : (draw) => draw();
}

export interface StoreOptions {
  frame?: Frame;
}

export function createStore(confidence: boolean, options: StoreOptions = {}) {
  const doc = signal<DocumentInfo | null>(null);
  // Bumped for every script shown, so late page images and first-page reports
  // of an earlier script are recognised and dropped.
  const generation = signal(0);
  // The marks as the last full state had them; a run change never touches it.
  const cueState = signal<ScriptState>(emptyScriptState);
  // The run: replaced by full states, changed in place by run changes.
  const standbyID = signal('');
  const lastFiredID = signal('');
  const savedRun = signal<SavedRun>({});
  // Fired cues (ids among the cues), as the engine counts them.
  const firedCount = signal(0);
  // The fired ids; read through `status` (per cue) or `firedCount`.
  const fired = new Set<string>();
  const settings = signal<Settings | null>(null);

  const pagesPerSpread = signal(1);
  const zoom = signal(1);
  const theme = signal<ThemeName>('deep');
  const dimmed = signal(false);
  // The settings' theme level: how bright the script's pages are drawn.
  const pageLevel = signal(1);
  const memosVisible = signal(true);
  const sidebarVisible = signal(true);
  const maxText = signal(false);
  const reserve = signal<number | null>(null);
  const confirmingReset = signal(false);
  const message = signal('');
  // A quiet answer that is not an error (a save), shown beside the message.
  const status = signal('');
  const follow = signal(true);
  const visiblePage = signal(0);
  const scrollRequest = signal<ScrollRequest | null>(null);
  const logLines = signal<LogEntry[]>([]);
  const controlStatus = signal<ControlStatus | null>(null);
  const cueMode = signal(false);
  const selectedID = signal('');
  // The cue being placed: not in the engine until Return.
  const draft = signal<Cue | null>(null);
  // The cue whose settings sheet is open.
  const sheet = signal<Cue | null>(null);
  const lastKind = signal('');
  // The saved-run offer of the shown script was answered (Resume, Discard,
  // RESET, or a run restored from anywhere).
  const resumeAnswered = signal(false);
  // The page's own sheets over the script; one at a time.
  const pageSheet = signal<PageSheetName | null>(null);
  // The last refusal of a settings change, shown quietly in the sheet.
  const settingsError = signal('');
  // The Go to Page sheet and its last refusal.
  const gotoOpen = signal(false);
  const gotoError = signal('');
  // The selected cue's label being edited in place (F2).
  const editingLabel = signal(false);
  // A newer build offered by the native side.
  const update = signal<UpdateNotice | null>(null);
  // Cue Mode's line cursor (placing a cue from the keyboard): the line's box
  // as fractions of its page, and its words once the native side told them.
  const lineCursor = signal<LineCursor | null>(null);
  // Counts the GOs the GO guard ignored; each one flashes the GO button and
  // the standby panel once.
  const goIgnored = signal(0);
  // The show is locked against editing, and the question before unlocking.
  const locked = signal(false);
  const confirmingUnlock = signal(false);

  // The full state keeps the list's identity while its cues are the same
  // (see takeState), so these are made once per cue list, not per GO.
  const cues = computed(() => cueState.value.cues);
  const cueOrder = computed(() => orderOf(cues.value));
  const cueIndex = computed(() => byPage(cues.value));
  const standbyCue = computed((): Cue | undefined => {
    const i = cueOrder.value.get(standbyID.value);
    return i === undefined ? undefined : cues.value[i];
  });
  const glowID = computed(() => glowCueID({ cues: cues.value, standbyID: standbyID.value }, settings.value?.glowTarget, cueOrder.value));
  // The banner's text while the saved run is offered here (never on the monitor).
  const resumeText = computed(() => resumeBannerText(savedRun.value, resumeAnswered.value, confidence, firedCount.value));
  // While the offer is open a GO continues the saved run, so the standby panel
  // tells what that GO will do: the offer's standby and count.
  const offerOpen = computed(() => !resumeAnswered.value && firedCount.value === 0 && resumeTextOf(savedRun.value) !== null);
  const summary = computed((): ShowSummary => {
    const list = cues.value;
    const order = cueOrder.value;
    if (offerOpen.value) {
      const run = savedRun.value;
      return { ...showSummary(list, order, run.standbyID ?? ''), firedCount: run.count ?? 0, total: run.total ?? list.length, offered: true };
    }
    return { ...showSummary(list, order, standbyID.value), firedCount: firedCount.value, total: list.length, offered: false };
  });
  const menuState = computed(() =>
    menuStateOf({
      hasDoc: doc.value !== null,
      hasSelection: selectedID.value !== '' && cueOrder.value.has(selectedID.value),
      cueMode: cueMode.value,
      spreadOffset: cueState.value.spreadOffset,
      dimmed: dimmed.value,
      memosVisible: memosVisible.value,
      theme: theme.value,
      pagesPerSpread: pagesPerSpread.value,
      sidebarVisible: sidebarVisible.value,
      maxText: maxText.value,
      locked: locked.value,
    }),
  );
  const recentDocuments = computed(() => settings.value?.recentDocuments ?? []);

  // One signal per cue a view has asked about; the others cost nothing.
  const statuses = new Map<string, Signal<number>>();
  const statusBits = (id: string) =>
    (fired.has(id) ? firedBit : 0) | (standbyID.peek() === id ? standbyBit : 0) | (glowID.peek() === id ? glowBit : 0);
  const statusOf = (id: string): ReadonlySignal<number> => {
    let s = statuses.get(id);
    if (!s) statuses.set(id, (s = signal(statusBits(id))));
    return s;
  };
  const refresh = (id: string) => {
    const s = statuses.get(id);
    if (s) s.value = statusBits(id);
  };
  // Standby and glow move with GO, with a full state and with the glow
  // setting: the cues they leave and reach are told.
  let marked: string[] = [];
  effect(() => {
    const now = [standbyID.value, glowID.value];
    for (const id of [...marked, ...now]) if (id) refresh(id);
    marked = now;
  });

  const sync = {
    inbox: new Inbox(),
    frame: options.frame ?? defaultFrame(),
    scheduled: false,
    // Set by the run's actions: a missed change asks for the whole state; a run
    // change drawn is told (the technician's trace).
    onGap: () => undefined as void,
    onRunDrawn: (_standbyID: string, _firedCount: number) => undefined as void,
    // Control log lines not yet drawn: a GO from a desk brings its lines in the
    // same task as its run change, and both are drawn in one frame.
    log: [] as unknown[],
    fired,
    statuses,
    refresh,
  };

  return {
    confidence,
    doc, generation, cueState, settings,
    standbyID, lastFiredID, savedRun, firedCount, runStatus: statusOf,
    pagesPerSpread, zoom, theme, dimmed, pageLevel, memosVisible, sidebarVisible, maxText, reserve,
    confirmingReset, message, status, follow, visiblePage, scrollRequest, logLines, controlStatus,
    cueMode, selectedID, draft, sheet, lastKind, resumeAnswered, pageSheet, settingsError,
    gotoOpen, gotoError, editingLabel, update, lineCursor, goIgnored, locked, confirmingUnlock,
    cues, cueOrder, cueIndex, standbyCue, summary, offerOpen, resumeText, menuState, glowID, recentDocuments,
    sync,
  };
}

export type Store = ReturnType<typeof createStore>;

function isThemeName(v: unknown): v is ThemeName {
  return v === 'deep' || v === 'dark' || v === 'light';
}

// The view follows the settings the native side keeps.
// The level as the core keeps it (0 to 1); anything else is full brightness.
export function pageLevelOf(level: unknown): number {
  if (typeof level !== 'number' || !Number.isFinite(level)) return 1;
  return Math.min(1, Math.max(0, level));
}

// Level 0 still leaves the page readable: it never goes below 55 %.
export function pageBrightness(level: number): number {
  return Math.round((0.55 + 0.45 * pageLevelOf(level)) * 1000) / 1000;
}

// The CSS filter that draws the script's pages (and the paper of hidden text
// and inserted lines) in the theme at the level. WebKit runs each step of a
// filter again whenever it draws part of a page, and a GO draws the pages in
// view: no step that changes nothing (brightness(1) cost a GO's frame about a
// fifth), and brightness steps in one.
export function pageFilter(theme: ThemeName, level: number): string {
  const b = pageBrightness(level);
  if (theme === 'deep') return b < 1 ? `invert(0.92) hue-rotate(180deg) brightness(${b})` : 'invert(0.92) hue-rotate(180deg)';
  if (theme === 'dark') return `brightness(${Math.round(0.75 * b * 1000) / 1000})`;
  // Paper as printed: the level has never dimmed the light theme (its filter
  // read "none brightness(…)", which is no filter).
  return 'none';
}

export function applySettings(store: Store, s: Settings): void {
  const before = store.settings.peek();
  store.settings.value = s;
  if (isThemeName(s.themeName)) store.theme.value = s.themeName;
  // A shown script keeps its own reading size (actions/documents.ts: show); only a
  // change of the setting itself reaches its view.
  if (!store.doc.peek() || before?.pagesPerSpread !== s.pagesPerSpread) store.pagesPerSpread.value = s.pagesPerSpread === 1 ? 1 : 2;
  store.dimmed.value = s.dimmed === true;
  store.pageLevel.value = pageLevelOf(s.theme);
  store.memosVisible.value = s.memosVisible !== false;
  store.maxText.value = s.maxText === true;
}

// Only a dictionary with the lists the views walk is taken; a damaged one
// leaves the last good state on screen.
export function isCueState(v: unknown): v is CueState {
  const s = v as CueState | null;
  return typeof s === 'object' && s !== null && Array.isArray(s.cues) && Array.isArray(s.fired) &&
    typeof s.standbyID === 'string';
}

// Field by field: every full state brings new lists. No allocation per
// record, so 10,000 cues compare in a few milliseconds.
export function sameCues<T extends object>(a: readonly T[], b: readonly T[]): boolean {
  if (a === b) return true;
  if (a.length !== b.length) return false;
  for (let i = 0; i < a.length; i++) {
    const x = a[i] as Record<string, unknown>;
    const y = b[i] as Record<string, unknown>;
    let n = 0;
    for (const k in x) {
      if (x[k] !== y[k]) return false;
      n++;
    }
    for (const _ in y) n--;
    if (n !== 0) return false;
  }
  return true;
}

function samePageTexts(a: Record<string, string>, b: Record<string, string>): boolean {
  if (a === b) return true;
  const ka = Object.keys(a);
  return ka.length === Object.keys(b).length && ka.every((k) => a[k] === b[k]);
}

function sameOffer(a: SavedRun, b: SavedRun): boolean {
  return a.count === b.count && a.total === b.total && a.standbyID === b.standbyID && a.number === b.number && a.label === b.label;
}

const listOf = <T>(v: T[] | undefined): T[] => (Array.isArray(v) ? v : []);

// A full state: the marks where they changed (the same lists kept, so nothing
// drawn from an unchanged one draws again), and the run replaced.
function takeState(store: Store, s: CueState): void {
  const prev = store.cueState.peek();
  const keep = <T extends object>(old: T[], next: T[]) => (sameCues(old, next) ? old : next);
  const next: ScriptState = {
    cues: keep(prev.cues, s.cues),
    marks: keep(prev.marks, listOf(s.marks)),
    flags: keep(prev.flags, listOf(s.flags)),
    memos: keep(prev.memos, listOf(s.memos)),
    inserts: keep(prev.inserts, listOf(s.inserts)),
    pageLabelOffset: typeof s.pageLabelOffset === 'number' ? s.pageLabelOffset : 0,
    spreadOffset: typeof s.spreadOffset === 'number' ? s.spreadOffset : 0,
    pageTexts: typeof s.pageTexts === 'object' && s.pageTexts !== null ? s.pageTexts : {},
    canUndo: s.canUndo === true,
    canRedo: s.canRedo === true,
    sidecarPath: typeof s.sidecarPath === 'string' ? s.sidecarPath : '',
  };
  if (samePageTexts(prev.pageTexts, next.pageTexts)) next.pageTexts = prev.pageTexts;
  const same = (Object.keys(next) as (keyof ScriptState)[]).every((k) => next[k] === prev[k]);
  if (!same) store.cueState.value = next;

  const { fired, statuses, refresh } = store.sync;
  fired.clear();
  for (const id of s.fired) if (typeof id === 'string') fired.add(id);
  if (s.standbyID !== store.standbyID.peek()) store.follow.value = true;
  store.standbyID.value = s.standbyID;
  store.lastFiredID.value = typeof s.lastFiredID === 'string' ? s.lastFiredID : '';
  const offer = typeof s.savedRun === 'object' && s.savedRun !== null ? s.savedRun : {};
  if (!sameOffer(store.savedRun.peek(), offer)) store.savedRun.value = offer;
  const order = store.cueOrder.peek();
  store.firedCount.value = countFired(fired, order);
  // A cue that is gone has no box left to tell.
  if (prev.cues !== next.cues) for (const id of statuses.keys()) if (!order.has(id)) statuses.delete(id);
  for (const id of statuses.keys()) refresh(id);
}

function countFired(fired: ReadonlySet<string>, order: ReadonlyMap<string, number>): number {
  let n = 0;
  for (const id of fired) if (order.has(id)) n++;
  return n;
}

// A run change: only the cues it names (all fired ones when it cleared the run).
function takeRun(store: Store, d: RunDelta): void {
  const { fired, refresh } = store.sync;
  const told: string[] = [];
  if (d.clear) {
    for (const id of fired) told.push(id);
    fired.clear();
    // Restored or reset: the saved run is no longer on offer.
    store.resumeAnswered.value = true;
  }
  for (const [id, on] of d.status) {
    if (on) fired.add(id);
    else fired.delete(id);
    told.push(id);
  }
  if (d.standbyID !== store.standbyID.peek()) store.follow.value = true;
  store.standbyID.value = d.standbyID;
  store.lastFiredID.value = d.lastFiredID;
  if (!sameOffer(store.savedRun.peek(), d.savedRun)) store.savedRun.value = d.savedRun;
  store.firedCount.value = d.firedCount ?? countFired(fired, store.cueOrder.peek());
  for (const id of told) refresh(id);
}

// Everything that arrived since the last frame, drawn as one change.
function draw(store: Store): void {
  const got = store.sync.inbox.take();
  const log = store.sync.log;
  if (!got && log.length === 0) return;
  store.sync.log = [];
  batch(() => {
    if (log.length > 0) store.logLines.value = appendLog(store.logLines.peek(), log);
    if (got?.state) takeState(store, got.state);
    if (got?.run) takeRun(store, got.run);
  });
  if (got?.run) store.sync.onRunDrawn(store.standbyID.peek(), store.firedCount.peek());
}

function schedule(store: Store): void {
  const sync = store.sync;
  if (sync.inbox.gap) sync.onGap();
  if (sync.scheduled) return;
  sync.scheduled = true;
  sync.frame(() => {
    sync.scheduled = false;
    draw(store);
  });
}

// Draws what is waiting now, for work that reads the state right away (the
// export, a script being shown).
export function drawNow(store: Store): void {
  draw(store);
}

// A line of the control log ("controlLog"), drawn with the next frame.
export function applyLogLine(store: Store, entry: unknown): void {
  store.sync.log.push(entry);
  schedule(store);
}

// The log's history replaces the lines that arrived before it (it holds them).
export function setLogHistory(store: Store, lines: readonly unknown[]): void {
  store.sync.log = [];
  store.logLines.value = appendLog([], lines);
}

// A full state from an event or a reply: false when damaged or older than
// what the page holds. Drawn with the next frame.
export function applyCueState(store: Store, state: unknown): boolean {
  if (!isCueState(state)) return false;
  const taken = store.sync.inbox.offerState(state);
  schedule(store);
  return taken;
}

// A run change ("runState", or the answer of GO, BACK and RESET).
export function applyRunChange(store: Store, change: unknown, reply = false): boolean {
  if (!isRunChange(change)) return false;
  const taken = store.sync.inbox.offerRun(change, reply);
  schedule(store);
  return taken;
}

// The answer of a run command: a run change, or from an older core the whole state.
export function applyRunAnswer(store: Store, answer: unknown): boolean {
  return isRunChange(answer) ? applyRunChange(store, answer, true) : applyCueState(store, answer);
}

// An unfinished cue or a selection belongs to the script it was made on.
function dropEditing(store: Store): void {
  store.draft.value = null;
  store.sheet.value = null;
  store.selectedID.value = '';
  store.editingLabel.value = false;
  store.lineCursor.value = null;
  store.gotoOpen.value = false;
}

// `page` keeps the place (the same script with new geometry); null opens it
// as a script is opened: see openingPlace.
export function showDocument(store: Store, doc: DocumentInfo, page: number | null = null): void {
  dropEditing(store);
  if (page === null) store.resumeAnswered.value = false;
  // Nothing is placed in a frame that is about to change (see linesPending).
  if (doc.linesPending) store.cueMode.value = false;
  setLocked(store, doc.locked === true);
  store.doc.value = doc;
  store.generation.value += 1;
  // A word about the marks file belongs with the script it came with.
  const warning = page === null && typeof doc.warning === 'string' ? doc.warning.trim() : '';
  store.message.value = warning;
  store.status.value = '';
  store.confirmingReset.value = false;
  // The pages and their cues are drawn together.
  applyCueState(store, doc.state);
  drawNow(store);
  // The monitor shows the standby cue wherever it is.
  const run = { cues: store.cues.peek(), standbyID: store.standbyID.peek(), firedCount: store.firedCount.peek() };
  const place = page === null
    ? openingPlace(run, doc.pageCount, 0, store.confidence ? Infinity : 2)
    : { page, y: 0, follow: true };
  const target = Math.min(Math.max(0, Math.trunc(place.page)), Math.max(0, doc.pageCount - 1));
  store.visiblePage.value = target;
  store.follow.value = place.follow;
  requestScroll(store, target, place.y);
}

// A locked show is read and run only: whatever was being edited is dropped.
export function setLocked(store: Store, locked: boolean): void {
  store.confirmingUnlock.value = false;
  store.locked.value = locked;
  if (!locked) return;
  dropEditing(store);
  store.cueMode.value = false;
}

export function clearDocument(store: Store, state?: unknown): void {
  dropEditing(store);
  store.resumeAnswered.value = false;
  setLocked(store, false);
  store.doc.value = null;
  store.generation.value += 1;
  store.confirmingReset.value = false;
  // Without an answer the page still shows nothing of the closed script.
  if (!applyCueState(store, state)) {
    const seq = store.sync.inbox.seq ?? undefined;
    store.sync.inbox.offerState({ ...emptyScriptState, seq, standbyID: '', lastFiredID: '', fired: [], savedRun: {} });
  }
  drawNow(store);
}

export function requestScroll(store: Store, page: number, y: number): void {
  const seq = (store.scrollRequest.peek()?.seq ?? 0) + 1;
  store.scrollRequest.value = { page, y, seq };
}
