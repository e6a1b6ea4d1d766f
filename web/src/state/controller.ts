// What the page does in answer to the operator, the keys and the native
// events. Every native call goes through `bridge` (the typed calls), so the
// tests drive this with a scripted bridge.

import { batch } from '@preact/signals';
import type { EventHandlers } from '../bridge/events';
import { createExport } from '../export/run';
import { isDocument, isOpenFailure, type native as nativeCalls, type OpenAnswer } from '../bridge/native';
import type { Cue, DocumentInfo, SettingsChange, ThemeName } from '../bridge/types';
import { draftCue, duplicateOf, isTextRectAnswer, newCueID, nudgedCue, textRectArgs } from './cue_edit';
import { stepCue } from './cues';
import { linesPendingText, reframedY } from './crop';
import { createFileTools } from './files';
import { createFinder } from './find';
import { createMarks } from './marks';
import { createInserts } from './insert_tool';
import { cursorAnnouncement, cursorStart, firstLineBelow, lineDrag, readLines, stepLine, type LineAt, type LineRect } from './line_cursor';
import type { KeyAction, KeyMode } from './keys';
import {
  fitWidth, nextZoom, pageLabel, parsePageInput, readingSizeFor, spreads, stepTextSize, type ReadingSize,
} from './layout';
import { menuStateReporter } from './menu_state';
import { createMidiLearn } from './midi_bindings';
import { PageImages, pageImageLoader } from './page_images';
import { tracePageTurn } from './turn_trace';
import { createSettingsSender, type Change, type ChangeAnswer } from './settings_form';
import { readControlStatus } from './sidebar';
import {
  applyCueState, applyLogLine, applyRunAnswer, applyRunChange, applySettings, clearDocument, requestScroll, sameCues, setLogHistory, showDocument,
  type Store,
} from './store';
import { nextUpdateNotice, type UpdateInput } from './update_notice';

export type Bridge = typeof nativeCalls;

// Keyboard nudges of a cue box, as fractions of the page: about a pixel of a
// page on a booth screen, and a word's width with Shift.
export const nudgeStep = 0.002;
export const nudgeFar = 0.01;

// A RESET chord this soon after the question is the same press arriving a
// second time (the window's accelerator and the page's own key), not the
// operator's answer.
export const resetSettleMs = 300;

// The technician's trace (TALLOWMARK_TRACE=1): the native side sets this
// before the page's scripts run.
function tracing(): boolean {
  return (globalThis as { __tallowmarkTrace?: unknown }).__tallowmarkTrace === true;
}

function errorText(error: unknown): string {
  return error instanceof Error ? error.message : String(error);
}

export function createController(store: Store, bridge: Bridge) {
  const images = new PageImages(pageImageLoader((i, w) => bridge.renderPage(i, w)));
  let firstShownGeneration = -1;
  let reportedPage = -1;
  const reportMenuState = menuStateReporter((m) => void bridge.menuState(m).catch(() => undefined));

  const quiet = (error: unknown) => {
    store.message.value = errorText(error);
  };

  // Nudges sent but not yet echoed by a "cueState": the next nudge starts
  // from the last position sent, so quick presses add up instead of repeating.
  let nudgeBase: Cue | null = null;
  let nudgesInFlight = 0;
  // The standby asked for by Next/Previous Cue and not yet answered.
  let standbyAhead: string | null = null;

  const updateNotice = (input: UpdateInput) => {
    store.update.value = nextUpdateNotice(store.update.peek(), input);
  };

  // A change the page missed (a gap in the engine's counter): the whole state
  // is asked for, one question at a time; after a few answers that still
  // leave a gap the page waits for the next run change it can draw.
  let resyncing = false;
  let resyncs = 0;
  store.sync.onGap = () => {
    if (resyncing || resyncs >= 3) return;
    resyncing = true;
    resyncs++;
    bridge.getState().then((s) => {
      resyncing = false;
      applyCueState(store, s);
      if (!store.sync.inbox.gap) resyncs = 0;
    }, () => {
      resyncing = false;
    });
  };
  // One line per frame that drew a run change. The change is drawn in the
  // frame whose animation callback committed it; the next frame's callback
  // runs only once that frame is done, so the line never comes before the pixels.
  store.sync.onRunDrawn = (standbyID, firedCount) => {
    resyncs = 0;
    if (!tracing()) return;
    const line = `${store.confidence ? 'monitor ' : ''}painted run ${standbyID || '-'} ${firedCount}`;
    store.sync.frame(() => void bridge.debugLog(line).catch(() => undefined));
  };
  // When the RESET question was asked (Date.now()).
  let resetAskedAt = 0;

  // A hit is shown where the operator reads: a little below the view's top.
  const finder = createFinder(
    (query) => bridge.searchDocument(query),
    (hit) => {
      store.follow.value = false;
      requestScroll(store, hit.page, Math.max(0, hit.rect[1] - 0.1));
    },
  );
  // Asked to give the keyboard back to the script (GO) when the bar closes.
  let focusScript: () => void = () => undefined;
  // Where the top of the view is (page, fraction down it); the script view tells.
  let viewTop: () => { page: number; y: number } = () => ({ page: store.visiblePage.peek(), y: 0 });
  // The reading column's width (CSS px) as the script view lays it out; a
  // text-size step before the first layout assumes the first window's (1280
  // less the sidebar, the show panel, the scrollbar and the view's gaps).
  let columnWidth: () => number = () => 0;
  const firstColumn = 686;
  const columnGap = 12;

  const shownPages = (): 1 | 2 => (store.pagesPerSpread.peek() === 2 ? 2 : 1);

  // The size kept for the script, taken before its pages are laid out. The
  // monitor has its own (one page, as wide as its window).
  const takeReadingSize = (path: string) => {
    if (store.confidence) return;
    const size = readingSizeFor(store.settings.peek(), path);
    batch(() => {
      store.pagesPerSpread.value = size.pages;
      store.zoom.value = size.zoom;
    });
  };

  // The text lines of each page, asked once per script; a failed answer is
  // not kept, so the next key asks again.
  let lineCache = { generation: -1, pages: new Map<number, Promise<LineRect[]>>() };
  const linesOf = (page: number): Promise<LineRect[]> => {
    const generation = store.generation.peek();
    if (lineCache.generation !== generation) lineCache = { generation, pages: new Map() };
    const cache = lineCache.pages;
    let lines = cache.get(page);
    if (!lines) {
      lines = bridge.pageLines(page).then(readLines, (error: unknown) => {
        cache.delete(page);
        quiet(error);
        return [];
      });
      cache.set(page, lines);
    }
    return lines;
  };
  // Each cursor move counts; an answer for an earlier move is dropped.
  let cursorSeq = 0;
  // Cursor keys run one after another, each from where the one before left
  // the cursor: two quick Downs across a page whose lines are still being
  // asked for are two lines, and n right after them places on the second.
  let cursorWork: Promise<void> = Promise.resolve();
  const queued = (work: () => Promise<void>): Promise<void> => (cursorWork = cursorWork.then(work, work));

  function show(doc: DocumentInfo): void {
    images.reset();
    // Hits of the earlier script point at its pages.
    if (finder.open.peek()) finder.close();
    tools.crop.leave();
    takeReadingSize(doc.path);
    showDocument(store, doc);
    reportedPage = -1;
    // The recent list has the new script at its head now, and an earlier
    // version of the script may be in it.
    void bridge.getSettings().then((s) => {
      if (!s) return;
      applySettings(store, s);
      if (store.doc.peek() === doc) takeReadingSize(doc.path);
    }, () => undefined).then(() => tools.files.offerMarks(doc));
  }

  // Same script, new geometry (a crop, page numbers dropped, the crop of a
  // long script once its lines are in): the same page, and the same line of
  // it at the top of the view, carried through the change of crop; following
  // the standby cue goes on as it was.
  function relayout(doc: DocumentInfo): void {
    const before = store.doc.peek();
    const page = store.visiblePage.peek();
    const top = viewTop();
    const following = store.follow.peek();
    images.reset();
    showDocument(store, doc, page);
    store.follow.value = following;
    if (before && top.page === page) requestScroll(store, page, reframedY(before, doc, page, top.y));
  }

  const tools = createFileTools(store, bridge, {
    show: (doc) => show(doc),
    quiet: (error) => quiet(error),
    relayout,
    leaveOtherModes: () => ctl.setCueMode(false),
    openNotes: () => ctl.openPageSheet('page'),
    closeNotes: (refocus) => ctl.closePageSheet(refocus),
  });

  function takeOpenAnswer(answer: OpenAnswer): void {
    if (isDocument(answer)) show(answer);
    else if (isOpenFailure(answer)) store.message.value = answer.error;
  }

  const sendSettings = createSettingsSender((c) => bridge.setSettings(c), () => store.settings.peek(), (s) => {
    const pages = store.pagesPerSpread.peek();
    applySettings(store, s);
    // The sheet's pages side by side are the shown script's size too.
    const doc = store.doc.peek();
    if (doc && !store.confidence && store.pagesPerSpread.peek() !== pages)
      ctl.saveSettings({ readingSize: { path: doc.path, pages: store.pagesPerSpread.peek(), zoom: store.zoom.peek() } });
  });

  const ctl = {
    images,
    finder,
    inserts: createInserts(store, bridge, {
      linesOf, quiet, hideLineCursor: () => ctl.hideLineCursor(), enterCueMode: () => ctl.setCueMode(true), focusScript: () => focusScript(),
    }),
    tools,
    midiLearn: createMidiLearn(),
    marks: createMarks(store, bridge, {
      linesOf, quiet, newID: newCueID, othersSelected: (): boolean => ctl.inserts.selectedID.value !== '',
      clearOthers: (): void => { ctl.inserts.armed.value = false; ctl.inserts.selectedID.value = ''; },
    }),
    ...createExport(store, bridge),

    async boot(): Promise<void> {
      const [settings, chrome, current] = await Promise.allSettled([
        bridge.getSettings(),
        bridge.windowChrome(),
        bridge.currentDocument(),
      ]);
      if (settings.status === 'fulfilled' && settings.value) applySettings(store, settings.value);
      if (chrome.status === 'fulfilled' && chrome.value) ctl.setReserve(chrome.value.reserve);
      // A build found before the page could hear "updateAvailable".
      if (!store.confidence) void bridge.updateStatus().then((u) => {
        if (u && typeof u.available === 'string' && u.available.trim()) ctl.updateAvailable(u.available);
      }, () => undefined);
      // A script the native side opened before the page loaded (launch with a file).
      if (current.status === 'fulfilled' && isDocument(current.value) && store.doc.peek() === null)
        show(current.value);
      if (!store.confidence) await ctl.loadSidebar();
    },

    // The history includes every line sent as an event before the core
    // answered, so it replaces what arrived meanwhile; later events append.
    async loadSidebar(): Promise<void> {
      const [log, status] = await Promise.allSettled([bridge.getLog(), bridge.getControlStatus()]);
      if (log.status === 'fulfilled' && Array.isArray(log.value)) setLogHistory(store, log.value);
      if (status.status === 'fulfilled') {
        const s = readControlStatus(status.value);
        if (s) store.controlStatus.value = s;
      }
    },

    // Double-click in the cue list: the engine decides, its run change follows.
    standbyCue(id: string): void {
      bridge.standbyCue(id).then(() => undefined, quiet);
    },

    // Click in the cue list: the script shows the cue without changing standby.
    showCue(id: string): void {
      const i = store.cueOrder.peek().get(id);
      const cue = i === undefined ? undefined : store.cues.peek()[i];
      if (!cue || !store.doc.peek()) return;
      store.follow.value = false;
      requestScroll(store, cue.page, Math.max(0, cue.y - 0.1));
    },

    toggleSidebar(): void {
      store.sidebarVisible.value = !store.sidebarVisible.peek();
    },

    openFind(): void {
      if (store.confidence || !store.doc.peek()) return;
      finder.show();
    },

    closeFind(): void {
      finder.close();
      focusScript();
    },

    setFocusScript(f: () => void): void {
      focusScript = f;
    },

    openPanel(): Promise<void> {
      return bridge.openDocumentPanel().then(takeOpenAnswer, quiet);
    },

    openPath(path: string): Promise<void> {
      return bridge.openDocumentPath(path).then(takeOpenAnswer, quiet);
    },

    // The demo call writes the script and opens it; its answer is the
    // document dictionary of the opened script.
    openDemo(): Promise<void> {
      return bridge.makeDemo().then((doc) => {
        if (isDocument(doc)) show(doc);
        else store.message.value = 'The demo script could not be opened.';
      }, quiet);
    },

    // After launch the native side has opened the script already; for a
    // recent item it has not.
    async openPathEvent(path: string): Promise<void> {
      let current: DocumentInfo | null = null;
      try {
        current = await bridge.currentDocument();
      } catch {
        current = null;
      }
      if (isDocument(current) && current.path === path) {
        if (store.doc.peek()?.path !== path) show(current);
        else applyCueState(store, current.state);
        return;
      }
      await ctl.openPath(path);
    },

    closeScript(): Promise<void> {
      return bridge.closeDocument().then((state) => {
        images.reset();
        finder.close();
        clearDocument(store, state);
      }, quiet);
    },

    // GO goes straight to the engine; what is shown is the engine's answer
    // (the run change; its event comes later and is then old).
    go(): void {
      bridge.go().then((a) => applyRunAnswer(store, a), quiet);
    },

    back(): void {
      bridge.back().then((a) => applyRunAnswer(store, a), quiet);
    },

    askReset(): void {
      if (!store.doc.peek()) return;
      store.confirmingReset.value = true;
      resetAskedAt = Date.now();
    },

    // The RESET chord, from the page's keys or the window's menu (whose
    // accelerator takes Ctrl+Shift+R before the page sees it): the first
    // asks, the next confirms.
    resetChord(): void {
      if (!store.confirmingReset.peek()) return ctl.askReset();
      if (Date.now() - resetAskedAt >= resetSettleMs) ctl.confirmReset();
    },

    // RESET starts a new run: a saved run is no longer on offer.
    confirmReset(): void {
      store.confirmingReset.value = false;
      store.resumeAnswered.value = true;
      bridge.reset().then((a) => applyRunAnswer(store, a), quiet);
    },

    cancelReset(): void {
      store.confirmingReset.value = false;
    },

    // --- Cue Mode ---

    setCueMode(on: boolean): void {
      if (on && (store.confidence || !store.doc.peek())) return;
      if (on && store.doc.peek()?.linesPending) {
        store.message.value = linesPendingText;
        return;
      }
      if (on) tools.crop.leave();
      store.cueMode.value = on;
      if (!on) {
        ctl.inserts.reset();
        ctl.hideLineCursor();
        ctl.cancelDraft();
        store.selectedID.value = '';
        store.sheet.value = null;
      }
    },

    // A click (the same point twice) or a drag on a page, in fractions of the
    // displayed page. The engine hears of the cue only on Return.
    async placeCue(page: number, from: { x: number; y: number }, to: { x: number; y: number }): Promise<void> {
      if (!store.cueMode.peek() || !store.doc.peek() || store.doc.peek()?.linesPending || store.draft.peek()) return;
      const generation = store.generation.peek();
      const snap = store.settings.peek()?.cueSnapWords !== false;
      let answer: unknown;
      try {
        answer = await bridge.textRect(textRectArgs(page, from, to, snap));
      } catch (error) {
        return quiet(error);
      }
      // No words there, or the script changed while asking.
      if (!isTextRectAnswer(answer) || generation !== store.generation.peek() || !store.cueMode.peek()) return;
      if (store.draft.peek()) return;
      const kind = store.lastKind.peek() || store.settings.peek()?.cueTypes?.[0]?.name || '';
      store.selectedID.value = '';
      cursorSeq++;
      store.lineCursor.value = null;
      store.draft.value = draftCue(answer, page, store.cues.peek(), kind, newCueID());
    },

    commitDraft(number: string, label: string): void {
      const d = store.draft.peek();
      if (!d) return;
      store.draft.value = null;
      const cue: Cue = { ...d, number: number.trim() || d.number, label: label.trim() };
      if (cue.kind) store.lastKind.value = cue.kind;
      bridge.upsertCue(cue).then(() => (store.selectedID.value = cue.id), quiet);
    },

    cancelDraft(): void {
      store.draft.value = null;
    },

    setViewTop(f: () => { page: number; y: number }): void {
      viewTop = f;
    },

    // n or Insert in Cue Mode: the first press shows the line cursor, the
    // second places a cue over its line.
    lineCursorKey(): Promise<void> {
      return queued(() => (store.lineCursor.peek() ? ctl.placeAtCursor() : ctl.showLineCursor()));
    },

    async showLineCursor(): Promise<void> {
      const doc = store.doc.peek();
      if (!doc || !store.cueMode.peek() || store.draft.peek()) return;
      const seq = ++cursorSeq;
      const start = cursorStart(ctl.selectedCue(), viewTop());
      const at = await firstLineBelow(start.page, start.y, doc.pageCount, linesOf);
      if (seq !== cursorSeq) return;
      if (!at) {
        store.message.value = 'No text lines from here on.';
        return;
      }
      await ctl.moveCursorTo(at, seq);
    },

    // Up/Down (j/k) across pages; Home/End to the page's first or last line.
    moveLineCursor(how: 'up' | 'down' | 'home' | 'end'): Promise<void> {
      return queued(() => ctl.stepLineCursor(how));
    },

    async stepLineCursor(how: 'up' | 'down' | 'home' | 'end'): Promise<void> {
      const doc = store.doc.peek();
      const now = store.lineCursor.peek();
      if (!doc || !now) return;
      const seq = ++cursorSeq;
      let at: LineAt | null;
      if (how === 'up' || how === 'down') {
        at = await stepLine(now, how === 'down' ? 1 : -1, doc.pageCount, linesOf);
      } else {
        const count = (await linesOf(now.page)).length;
        at = count > 0 ? { page: now.page, line: how === 'home' ? 0 : count - 1 } : null;
      }
      if (seq !== cursorSeq || !at) return;
      await ctl.moveCursorTo(at, seq);
    },

    async moveCursorTo(at: LineAt, seq: number): Promise<void> {
      const rect = (await linesOf(at.page))[at.line];
      if (!rect || seq !== cursorSeq || !store.cueMode.peek() || store.draft.peek()) return;
      store.follow.value = false;
      store.lineCursor.value = { ...at, rect, text: null };
      // The words of the line, for the screen reader; the same question a drag asks.
      const { from, to } = lineDrag(rect);
      let answer: unknown = null;
      try {
        answer = await bridge.textRect(textRectArgs(at.page, from, to, true));
      } catch {
        answer = null;
      }
      const cursor = store.lineCursor.peek();
      if (seq !== cursorSeq || !cursor || cursor.page !== at.page || cursor.line !== at.line) return;
      store.lineCursor.value = { ...cursor, text: isTextRectAnswer(answer) ? answer.text ?? '' : '' };
    },

    hideLineCursor(): void {
      cursorSeq++;
      store.lineCursor.value = null;
    },

    // The cue goes over the cursor's line as a drag along it would place it.
    async placeAtCursor(): Promise<void> {
      const cursor = store.lineCursor.peek();
      if (!cursor) return;
      const { from, to } = lineDrag(cursor.rect);
      // A line without words keeps the cursor where it was.
      await ctl.placeCue(cursor.page, from, to);
    },

    cursorAnnouncement(): string {
      const c = store.lineCursor.value;
      // Said once, with its words, rather than twice as they arrive.
      if (!c || c.text === null) return '';
      return cursorAnnouncement(pageLabel(c.page, store.cueState.value.pageLabelOffset), c.line, c.text);
    },

    select(id: string): void {
      if (!store.cueMode.peek() || store.draft.peek()) return;
      store.selectedID.value = store.cueOrder.peek().has(id) ? id : '';
      if (store.selectedID.peek()) ctl.inserts.selectedID.value = '';
    },

    selectedCue(): Cue | undefined {
      const i = store.cueOrder.peek().get(store.selectedID.peek());
      return i === undefined ? undefined : store.cues.peek()[i];
    },

    deleteCue(): void {
      const cue = ctl.selectedCue();
      if (!cue || !store.cueMode.peek()) return;
      store.selectedID.value = '';
      bridge.removeCue(cue.id).then(() => undefined, quiet);
    },

    duplicateCue(): void {
      const cue = ctl.selectedCue();
      if (!cue || !store.cueMode.peek()) return;
      const copy = duplicateOf(cue, store.cueState.peek().cues, newCueID());
      bridge.upsertCue(copy).then(() => (store.selectedID.value = copy.id), quiet);
    },

    renumber(): void {
      if (!store.doc.peek()) return;
      bridge.renumberCues().then((s) => applyCueState(store, s), quiet);
    },

    undo(): void {
      if (!store.doc.peek()) return;
      bridge.undo().then((s) => applyCueState(store, s), quiet);
    },

    redo(): void {
      if (!store.doc.peek()) return;
      bridge.redo().then((s) => applyCueState(store, s), quiet);
    },

    openCueSettings(): void {
      const cue = ctl.selectedCue();
      if (cue && store.cueMode.peek()) store.sheet.value = { ...cue };
    },

    commitSheet(changes: Partial<Pick<Cue, 'number' | 'label' | 'kind' | 'color' | 'note'>>): void {
      const cue = store.sheet.peek();
      if (!cue) return;
      store.sheet.value = null;
      const next: Cue = { ...cue, ...changes };
      if (!next.number.trim()) next.number = cue.number;
      if (next.kind) store.lastKind.value = next.kind;
      // Left without a change (the focus went elsewhere): no undo step.
      if (sameCues([cue], [next])) return;
      bridge.upsertCue(next).then(() => undefined, quiet);
    },

    // Standby moves one cue along the script without firing anything; the
    // engine's run change follows.
    // Two quick presses are two steps: the second starts from the cue the
    // first asked for until the engine has answered (its "cueState" comes
    // before its answer).
    stepStandby(delta: 1 | -1): void {
      if (!store.doc.peek()) return;
      const target = stepCue(store.cues.peek(), standbyAhead ?? store.standbyID.peek(), delta, store.cueOrder.peek());
      if (!target) return;
      const asked = (standbyAhead = target.id);
      const settle = () => {
        if (standbyAhead === asked) standbyAhead = null;
      };
      bridge.standbyCue(target.id).then(settle, (error: unknown) => {
        settle();
        quiet(error);
      });
    },

    // Two-page spreads pair pages 2-3 instead of 1-2 (or back). The engine
    // answers the offset it keeps and sends no "cueState" for it.
    shiftPairing(): void {
      const doc = store.doc.peek();
      if (!doc) return;
      const offset = Math.abs(store.cueState.peek().spreadOffset) % 2 === 1 ? 0 : 1;
      const page = store.visiblePage.peek();
      bridge.setSpreadOffset(offset).then((answer) => {
        if (store.doc.peek() !== doc || typeof answer !== 'number') return;
        store.cueState.value = { ...store.cueState.peek(), spreadOffset: answer };
        requestScroll(store, page, 0);
      }, quiet);
    },

    save(): void {
      if (!store.doc.peek()) return;
      bridge.saveSidecar().then((name) => {
        if (typeof name === 'string' && name) {
          store.message.value = '';
          store.status.value = `Saved ${name}`;
        } else {
          store.message.value = 'The marks could not be saved.';
        }
      }, quiet);
    },

    openGoTo(): void {
      if (store.confidence || !store.doc.peek()) return;
      store.gotoError.value = '';
      store.gotoOpen.value = true;
    },

    closeGoTo(): void {
      store.gotoOpen.value = false;
      store.gotoError.value = '';
      focusScript();
    },

    // Return in the sheet: a page the script has goes there and closes the
    // sheet; anything else is answered in the sheet, which stays open.
    submitGoTo(text: string): void {
      const doc = store.doc.peek();
      if (!doc) return ctl.closeGoTo();
      const parsed = parsePageInput(text, doc.pageCount, store.cueState.peek().pageLabelOffset);
      if ('error' in parsed) {
        store.gotoError.value = parsed.error;
        return;
      }
      ctl.closeGoTo();
      ctl.goToPage(parsed.page);
    },

    // Cue Mode from the keyboard: the previous or next cue in script order.
    // With none selected, the first cue from the page being read.
    selectStep(delta: 1 | -1): void {
      if (!store.cueMode.peek() || store.draft.peek()) return;
      const cues = store.cues.peek();
      const order = store.cueOrder.peek();
      if (cues.length === 0) return;
      const current = store.selectedID.peek();
      let target = current ? stepCue(cues, current, delta, order) : undefined;
      if (!current || !order.has(current)) {
        const page = store.visiblePage.peek();
        target = cues.find((c) => c.page >= page) ?? cues[cues.length - 1];
      }
      if (!target) return;
      store.editingLabel.value = false;
      store.selectedID.value = target.id;
      ctl.showCue(target.id);
    },

    // Alt+arrows move the selected box a little (Shift: more); an undoable
    // edit like any other.
    nudge(dx: number, dy: number): void {
      const cue = ctl.selectedCue();
      if (!cue || !store.cueMode.peek() || store.draft.peek()) return;
      const base = nudgesInFlight > 0 && nudgeBase?.id === cue.id ? nudgeBase : cue;
      const moved = nudgedCue(base, dx, dy);
      if (moved.x === base.x && moved.y === base.y) return;
      nudgeBase = moved;
      nudgesInFlight++;
      bridge.upsertCue(moved).then(
        () => void nudgesInFlight--,
        (error: unknown) => {
          nudgesInFlight--;
          nudgeBase = null;
          quiet(error);
        },
      );
    },

    editLabel(): void {
      if (ctl.selectedCue() && store.cueMode.peek() && !store.draft.peek()) store.editingLabel.value = true;
    },

    // `refocus` is false when the operator left the field for somewhere else.
    commitLabel(label: string, refocus = true): void {
      const cue = ctl.selectedCue();
      store.editingLabel.value = false;
      if (refocus) focusScript();
      if (!cue || label.trim() === cue.label) return;
      bridge.upsertCue({ ...cue, label: label.trim() }).then(() => undefined, quiet);
    },

    cancelLabel(): void {
      store.editingLabel.value = false;
      focusScript();
    },

    updateAvailable(stamp: unknown): void {
      if (typeof stamp === 'string') updateNotice({ kind: 'available', stamp: stamp.trim() });
    },

    updateProgress(text: unknown, failed: unknown): void {
      if (typeof text === 'string') updateNotice({ kind: 'progress', text, failed: failed === true });
    },

    installUpdate(): void {
      const before = store.update.peek();
      if (!before || before.phase === 'installing') return;
      updateNotice({ kind: 'install' });
      bridge.installUpdate().then(
        () => undefined,
        (error: unknown) => updateNotice({ kind: 'progress', text: errorText(error), failed: true }),
      );
    },

    dismissUpdate(): void {
      updateNotice({ kind: 'dismiss' });
    },

    // Resume puts the saved fired set and standby back; the engine answers
    // true and sends the restored run.
    resumeRun(): void {
      store.resumeAnswered.value = true;
      // The view goes to the restored standby even where it was the standby
      // already and the operator had scrolled away.
      bridge.restoreRun().then(() => bridge.getState()).then((s) => {
        if (applyCueState(store, s)) store.follow.value = true;
      }, quiet);
    },

    // From here a GO starts a fresh run.
    discardRun(): void {
      store.resumeAnswered.value = true;
      void bridge.discardRun().catch(quiet);
    },

    closeSheet(): void {
      store.sheet.value = null;
    },

    openPageSheet(which: 'settings' | 'shortcuts' | 'page'): void {
      store.sheet.value = null;
      store.settingsError.value = '';
      store.pageSheet.value = which;
    },

    // One change from the Settings sheet, sent after the one before it is
    // answered: the core's answer replaces the settings (and the view
    // follows it); the sheet shows what was kept or why nothing changed.
    changeSetting(change: Change): Promise<ChangeAnswer> {
      return sendSettings(change);
    },

    closePageSheet(refocus = true): void {
      store.pageSheet.value = null;
      if (refocus) focusScript();
    },

    escape(): void {
      // Escape while learning a MIDI note ends the learn only.
      if (ctl.midiLearn.cancel()) return;
      if (store.gotoOpen.peek()) return ctl.closeGoTo();
      if (store.editingLabel.peek()) return ctl.cancelLabel();
      if (store.pageSheet.peek()) return ctl.closePageSheet();
      if (store.sheet.peek()) return ctl.closeSheet();
      if (tools.escape()) return;
      if (store.draft.peek()) return ctl.cancelDraft();
      if (store.lineCursor.peek()) return ctl.hideLineCursor();
      if (ctl.inserts.escape()) return;
      if (ctl.marks.escape()) return;
      if (store.confirmingReset.peek()) store.confirmingReset.value = false;
      else if (finder.open.peek()) ctl.closeFind();
      else if (store.message.peek() || store.status.peek()) {
        store.message.value = '';
        store.status.value = '';
      }
      else store.follow.value = true;
    },

    setTheme(name: string | undefined): void {
      if (name !== 'deep' && name !== 'dark' && name !== 'light') return;
      store.theme.value = name as ThemeName;
      ctl.saveSettings({ themeName: name as ThemeName });
    },

    setPagesPerSpread(n: 1 | 2): void {
      ctl.setReadingSize({ pages: n, zoom: store.zoom.peek() }, { pagesPerSpread: n });
    },

    // The view's size, kept for the shown script; a change of the pages side
    // by side is also the setting new scripts open with.
    setReadingSize(size: ReadingSize, changes: SettingsChange = {}): void {
      const doc = store.doc.peek();
      const page = store.visiblePage.peek();
      const pagesChanged = size.pages !== store.pagesPerSpread.peek();
      batch(() => {
        store.pagesPerSpread.value = size.pages;
        store.zoom.value = size.zoom;
      });
      const send: SettingsChange = { ...changes };
      if (pagesChanged) send.pagesPerSpread = size.pages;
      if (doc && !store.confidence) send.readingSize = { path: doc.path, pages: size.pages, zoom: size.zoom };
      if (Object.keys(send).length > 0) ctl.saveSettings(send);
      // A new pairing starts the row at the page being read.
      if (doc && pagesChanged) requestScroll(store, page, 0);
    },

    fitWidth(): void {
      ctl.setReadingSize(fitWidth, { pagesPerSpread: 1 });
    },

    stepTextSize(direction: 1 | -1): void {
      const column = columnWidth() > 0 ? columnWidth() : firstColumn;
      const current: ReadingSize = { pages: shownPages(), zoom: store.zoom.peek() };
      const next = stepTextSize(current, direction, column, columnGap);
      if (next.pages !== current.pages || next.zoom !== current.zoom) ctl.setReadingSize(next);
    },

    setColumnWidth(f: () => number): void {
      columnWidth = f;
    },

    setDimmed(on: boolean): void {
      store.dimmed.value = on;
      ctl.saveSettings({ dimmed: on });
    },

    saveSettings(changes: SettingsChange): void {
      bridge.setSettings(changes).then((s) => {
        if (s) store.settings.value = s;
      }, quiet);
    },

    zoom(direction: 1 | -1 | 0): void {
      const zoom = direction === 0 ? 1 : nextZoom(store.zoom.peek(), direction);
      if (zoom !== store.zoom.peek()) ctl.setReadingSize({ pages: shownPages(), zoom });
    },

    // Step by whole spreads, so two-page view turns both pages.
    stepPage(delta: number): void {
      const doc = store.doc.peek();
      if (!doc) return;
      const groups = spreads(doc.pageCount, store.pagesPerSpread.peek(), store.cueState.peek().spreadOffset);
      const here = groups.findIndex((g) => g.includes(store.visiblePage.peek()));
      const target = groups[Math.min(Math.max(0, here + delta), groups.length - 1)];
      if (target) ctl.goToPage(target[0]);
    },

    goToPage(index: number): void {
      const doc = store.doc.peek();
      if (!doc || doc.pageCount === 0) return;
      store.follow.value = false;
      const page = Math.min(Math.max(0, Math.trunc(index)), doc.pageCount - 1);
      // The page asked for is the page in view from now on, also for a key
      // pressed before the view has drawn there (Ctrl+Shift+P right after).
      store.visiblePage.value = page;
      requestScroll(store, page, 0);
      if (tracing()) tracePageTurn(page, (line) => void bridge.debugLog(line).catch(() => undefined));
    },

    setReserve(reserve: unknown): void {
      if (typeof reserve === 'number' && Number.isFinite(reserve) && reserve >= 0) store.reserve.value = reserve;
    },

    menuCommand(command: string, value?: string): void {
      switch (command) {
        case 'go': return ctl.go();
        case 'back': return ctl.back();
        case 'reset': return ctl.resetChord();
        case 'open': void ctl.openPanel(); return;
        case 'closeScript': void ctl.closeScript(); return;
        case 'onePage': return ctl.setPagesPerSpread(1);
        case 'twoPages': return ctl.setPagesPerSpread(2);
        case 'zoomIn': return ctl.zoom(1);
        case 'zoomOut': return ctl.zoom(-1);
        case 'zoomFit': return ctl.zoom(0);
        case 'fitWidth': return ctl.fitWidth();
        case 'textLarger': return ctl.stepTextSize(1);
        case 'textSmaller': return ctl.stepTextSize(-1);
        case 'nextPage': return ctl.stepPage(1);
        case 'prevPage': return ctl.stepPage(-1);
        case 'theme': return ctl.setTheme(value);
        case 'dim': return ctl.setDimmed(!store.dimmed.peek());
        case 'recentsCleared':
          if (store.settings.peek()) store.settings.value = { ...store.settings.peek()!, recentDocuments: [] };
          return;
        case 'toggleSidebar': return ctl.toggleSidebar();
        case 'find': return ctl.openFind();
        case 'cueMode': return ctl.setCueMode(!store.cueMode.peek());
        case 'deleteCue': return ctl.deleteCue();
        case 'duplicateCue': return ctl.duplicateCue();
        case 'renumber': return ctl.renumber();
        case 'undo': return ctl.undo();
        case 'redo': return ctl.redo();
        case 'cueSettings': return ctl.openCueSettings();
        case 'shortcuts': return ctl.openPageSheet('shortcuts');
        case 'settings': return ctl.openPageSheet('settings');
        case 'nextCue': return ctl.stepStandby(1);
        case 'prevCue': return ctl.stepStandby(-1);
        case 'shiftPairing': return ctl.shiftPairing();
        case 'gotoPage': return ctl.openGoTo();
        case 'save': return ctl.save();
        case 'addMemo': case 'addFlag': case 'toggleMemos': void ctl.marks.menu(command); return;
        case 'exportMarkedPDF': return ctl.exportMarked();
        case 'insertLine': return ctl.inserts.command();
        // The file, crop and page tools; a command no one knows is ignored.
        default: tools.menuCommand(command); return;
      }
    },

    key(action: KeyAction): void {
      if (ctl.marks.key(action)) return;
      switch (action) {
        case 'go': return ctl.go();
        case 'back': return ctl.back();
        case 'escape': return ctl.escape();
        // The same chord twice confirms, so RESET needs no pointer.
        case 'reset': return ctl.resetChord();
        case 'nextPage': return ctl.stepPage(1);
        case 'prevPage': return ctl.stepPage(-1);
        case 'onePage': return ctl.setPagesPerSpread(1);
        case 'twoPages': return ctl.setPagesPerSpread(2);
        case 'zoomIn': return ctl.zoom(1);
        case 'zoomOut': return ctl.zoom(-1);
        case 'zoomFit': return ctl.zoom(0);
        case 'fitWidth': return ctl.fitWidth();
        case 'textLarger': return ctl.stepTextSize(1);
        case 'textSmaller': return ctl.stepTextSize(-1);
        case 'find': return ctl.openFind();
        case 'cueMode': return ctl.setCueMode(!store.cueMode.peek());
        case 'gotoPage': return ctl.openGoTo();
        case 'exportMarked': return ctl.exportMarked();
        case 'nextCue': return ctl.stepStandby(1);
        case 'prevCue': return ctl.stepStandby(-1);
        case 'selectNext': return ctl.selectStep(1);
        case 'selectPrev': return ctl.selectStep(-1);
        case 'deleteCue': return ctl.deleteCue();
        case 'editLabel': return ctl.editLabel();
        case 'lineCursor': void ctl.lineCursorKey(); return;
        case 'cursorUp': void ctl.moveLineCursor('up'); return;
        case 'cursorDown': void ctl.moveLineCursor('down'); return;
        case 'cursorHome': void ctl.moveLineCursor('home'); return;
        case 'cursorEnd': void ctl.moveLineCursor('end'); return;
        case 'insertLine': return ctl.inserts.command();
        case 'deleteInsert': return ctl.inserts.remove();
        case 'editInsert': void ctl.inserts.edit(); return;
        case 'selectInsert': return ctl.inserts.selectNext();
        case 'nudgeLeft': return ctl.nudge(-nudgeStep, 0);
        case 'nudgeRight': return ctl.nudge(nudgeStep, 0);
        case 'nudgeUp': return ctl.nudge(0, -nudgeStep);
        case 'nudgeDown': return ctl.nudge(0, nudgeStep);
        case 'nudgeLeftFar': return ctl.nudge(-nudgeFar, 0);
        case 'nudgeRightFar': return ctl.nudge(nudgeFar, 0);
        case 'nudgeUpFar': return ctl.nudge(0, -nudgeFar);
        case 'nudgeDownFar': return ctl.nudge(0, nudgeFar);
        default: return tools.key(action);
      }
    },

    // What the key rule needs to know of the page's mode.
    // Behind a sheet the Cue Mode keys rest: a Delete on a sheet's button must
    // not remove the cue under it.
    keyMode(): KeyMode {
      const free = !store.draft.peek() && !store.sheet.peek() && !store.pageSheet.peek() && !store.gotoOpen.peek() &&
        !store.editingLabel.peek();
      const cueMode = store.cueMode.peek() && free;
      const insert = cueMode && !ctl.selectedCue() && ctl.inserts.selectedID.peek() !== '';
      return {
        cueMode, selection: cueMode && ctl.selectedCue() !== undefined, lineCursor: cueMode && store.lineCursor.peek() !== null,
        ...(insert ? { insertSelection: true } : {}), ...ctl.marks.keyMode(cueMode),
        ...(free && tools.crop.active() ? { crop: true } : {}),
      };
    },

    // A page image of the shown script is on screen: the first one per
    // script is written to the log (the application test waits for it).
    pageShown(generation: number, index: number): void {
      // The monitor shows the same script; the line belongs to the main window.
      if (store.confidence) return;
      if (generation !== store.generation.peek() || firstShownGeneration === generation) return;
      firstShownGeneration = generation;
      void bridge.debugLog(`first page shown ${index + 1}`).catch(() => undefined);
    },

    visiblePageChanged(index: number): void {
      store.visiblePage.value = index;
      if (index === reportedPage) return;
      reportedPage = index;
      void bridge.reportPage(index).catch(() => undefined);
    },

    reportMenuState(): boolean {
      return reportMenuState(store.menuState.value);
    },

    handlers: {} as EventHandlers,
  };

  ctl.handlers = {
    cueState: (s) => void applyCueState(store, s),
    runState: (r) => void applyRunChange(store, r),
    documentChanged: (doc) => {
      // Only for the script shown: one closed meanwhile has no pages to lay out.
      if (!isDocument(doc) || store.doc.peek()?.path !== doc.path) return;
      // It comes unasked (a long script's crop): a word shown stays.
      const message = store.message.peek();
      relayout(doc);
      store.message.value = message === linesPendingText && !doc.linesPending ? '' : message;
    },
    windowChrome: (p) => ctl.setReserve(p.reserve),
    controlLog: (entry) => applyLogLine(store, entry),
    controlStatus: (p) => {
      const s = readControlStatus(p);
      if (s) store.controlStatus.value = s;
    },
    openPath: (p) => {
      if (typeof p.path === 'string' && p.path) void ctl.openPathEvent(p.path);
    },
    menuCommand: (p) => {
      if (typeof p.command === 'string') ctl.menuCommand(p.command, typeof p.value === 'string' ? p.value : undefined);
    },
    dimCommand: (p) => {
      if (typeof p.dim === 'boolean') ctl.setDimmed(p.dim);
    },
    updateAvailable: (p) => ctl.updateAvailable(p.stamp),
    updateProgress: (p) => ctl.updateProgress(p.text, p.failed),
    midiEvent: (p) => {
      const change = ctl.midiLearn.hear(p);
      if (change) void ctl.changeSetting(change).then(ctl.midiLearn.answered);
    },
    pageCommand: (p) => {
      if (typeof p.value !== 'number' || !Number.isFinite(p.value)) return;
      if (p.relative === true) ctl.stepPage(Math.trunc(p.value));
      else ctl.goToPage(Math.trunc(p.value) - 1);
    },
  };

  return ctl;
}

export type Controller = ReturnType<typeof createController>;
