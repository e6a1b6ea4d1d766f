// One store: what the native side last said, plus the page's own view state.
// Derived values are computed signals, never stored twice.

import { computed, signal } from '@preact/signals';
import type { ControlStatus, Cue, CueState, DocumentInfo, LogEntry, Settings, ThemeName } from '../bridge/types';
import { emptyCueState } from '../bridge/types';
import { byPage, glowCueID, showSummary } from './cues';
import { menuStateOf } from './menu_state';
import { openingPlace } from './resume';
import type { UpdateNotice } from './update_notice';

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

export function createStore(confidence: boolean) {
  const doc = signal<DocumentInfo | null>(null);
  // Bumped for every script shown, so late page images and first-page reports
  // of an earlier script are recognised and dropped.
  const generation = signal(0);
  const cueState = signal<CueState>(emptyCueState);
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
  // The saved-run offer of the shown script was answered (Resume or Discard).
  const resumeAnswered = signal(false);
  // The page's own sheets over the script; one at a time.
  const pageSheet = signal<'settings' | 'shortcuts' | 'page' | null>(null);
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
  // The draft was placed from the keyboard: its label field takes the keys.
  const draftByKeys = signal(false);

  const fired = computed(() => new Set(cueState.value.fired));
  // A GO changes standby and the fired set, not the cues; applyCueState keeps
  // the list's identity then, so the per-page index and the label placement
  // are not done again for every GO.
  const cues = computed(() => cueState.value.cues);
  const cueIndex = computed(() => byPage(cues.value));
  const summary = computed(() => showSummary(cueState.value, fired.value));
  const menuState = computed(() =>
    menuStateOf({
      hasDoc: doc.value !== null,
      hasSelection: selectedID.value !== '' && cueState.value.cues.some((c) => c.id === selectedID.value),
      cueMode: cueMode.value,
      spreadOffset: cueState.value.spreadOffset,
      dimmed: dimmed.value,
      memosVisible: memosVisible.value,
      theme: theme.value,
      pagesPerSpread: pagesPerSpread.value,
      sidebarVisible: sidebarVisible.value,
      maxText: maxText.value,
    }),
  );
  const glowID = computed(() => glowCueID(cueState.value, settings.value?.glowTarget));
  const recentDocuments = computed(() => settings.value?.recentDocuments ?? []);

  return {
    confidence,
    doc, generation, cueState, settings,
    pagesPerSpread, zoom, theme, dimmed, pageLevel, memosVisible, sidebarVisible, maxText, reserve,
    confirmingReset, message, status, follow, visiblePage, scrollRequest, logLines, controlStatus,
    cueMode, selectedID, draft, sheet, lastKind, resumeAnswered, pageSheet, settingsError,
    gotoOpen, gotoError, editingLabel, update, lineCursor, draftByKeys,
    fired, cueIndex, summary, menuState, glowID, recentDocuments,
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

export function applySettings(store: Store, s: Settings): void {
  store.settings.value = s;
  if (isThemeName(s.themeName)) store.theme.value = s.themeName;
  store.pagesPerSpread.value = s.pagesPerSpread === 1 ? 1 : 2;
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

// Field by field: the cues arrive as a new list in every "cueState".
export function sameCues(a: readonly Cue[], b: readonly Cue[]): boolean {
  if (a === b) return true;
  if (a.length !== b.length) return false;
  for (let i = 0; i < a.length; i++) {
    const x = a[i] as unknown as Record<string, unknown>;
    const y = b[i] as unknown as Record<string, unknown>;
    const keys = Object.keys(x);
    if (keys.length !== Object.keys(y).length) return false;
    for (const k of keys) if (x[k] !== y[k]) return false;
  }
  return true;
}

export function applyCueState(store: Store, state: unknown): boolean {
  if (!isCueState(state)) return false;
  const previous = store.cueState.peek();
  const before = previous.standbyID;
  const next = { ...emptyCueState, ...state };
  if (sameCues(previous.cues, next.cues)) next.cues = previous.cues;
  store.cueState.value = next;
  // A new standby (after a GO from any desk) brings the view back to it.
  if (state.standbyID !== before) store.follow.value = true;
  return true;
}

// An unfinished cue or a selection belongs to the script it was made on.
function dropEditing(store: Store): void {
  store.draft.value = null;
  store.sheet.value = null;
  store.selectedID.value = '';
  store.editingLabel.value = false;
  store.lineCursor.value = null;
  store.gotoOpen.value = false;
  store.resumeAnswered.value = false;
}

// `page` keeps the place (the same script with new geometry); null opens it
// as a script is opened: see openingPlace.
export function showDocument(store: Store, doc: DocumentInfo, page: number | null = null): void {
  dropEditing(store);
  store.doc.value = doc;
  store.generation.value += 1;
  store.message.value = '';
  store.status.value = '';
  store.confirmingReset.value = false;
  applyCueState(store, doc.state);
  // The monitor shows the standby cue wherever it is.
  const place = page === null
    ? openingPlace(store.cueState.peek(), doc.pageCount, 0, store.confidence ? Infinity : 2)
    : { page, y: 0, follow: true };
  const target = Math.min(Math.max(0, Math.trunc(place.page)), Math.max(0, doc.pageCount - 1));
  store.visiblePage.value = target;
  store.follow.value = place.follow;
  requestScroll(store, target, place.y);
}

export function clearDocument(store: Store, state?: unknown): void {
  dropEditing(store);
  store.doc.value = null;
  store.generation.value += 1;
  store.confirmingReset.value = false;
  if (!applyCueState(store, state)) store.cueState.value = emptyCueState;
}

export function requestScroll(store: Store, page: number, y: number): void {
  const seq = (store.scrollRequest.peek()?.seq ?? 0) + 1;
  store.scrollRequest.value = { page, y, seq };
}
