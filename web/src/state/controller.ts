// What the page does in answer to the operator, the keys and the native
// events. Every native call goes through `bridge` (the typed calls), so the
// tests drive this with a scripted bridge.

import type { EventHandlers } from '../bridge/events';
import { isDocument, isOpenFailure, type native as nativeCalls, type OpenAnswer } from '../bridge/native';
import type { Cue, DocumentInfo, Settings, ThemeName } from '../bridge/types';
import { draftCue, duplicateOf, isTextRectAnswer, newCueID, textRectArgs } from './cue_edit';
import { createFinder } from './find';
import type { KeyAction } from './keys';
import { nextZoom, spreads } from './layout';
import { menuStateReporter } from './menu_state';
import { createMidiLearn } from './midi_bindings';
import { PageImages } from './page_images';
import { createSettingsSender, type Change, type ChangeAnswer } from './settings_form';
import { appendLog, readControlStatus } from './sidebar';
import { applyCueState, applySettings, clearDocument, requestScroll, showDocument, type Store } from './store';

export type Bridge = typeof nativeCalls;

function errorText(error: unknown): string {
  return error instanceof Error ? error.message : String(error);
}

export function createController(store: Store, bridge: Bridge) {
  const images = new PageImages((i, w) => bridge.renderPage(i, w));
  let firstShownGeneration = -1;
  let reportedPage = -1;
  const reportMenuState = menuStateReporter((m) => void bridge.menuState(m).catch(() => undefined));

  const quiet = (error: unknown) => {
    store.message.value = errorText(error);
  };

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

  function show(doc: DocumentInfo, page = 0): void {
    images.reset();
    // Hits of the earlier script point at its pages.
    if (finder.open.peek()) finder.close();
    showDocument(store, doc, page);
    reportedPage = -1;
    // The recent list has the new script at its head now.
    void bridge.getSettings().then((s) => s && applySettings(store, s), () => undefined);
  }

  function takeOpenAnswer(answer: OpenAnswer): void {
    if (isDocument(answer)) show(answer);
    else if (isOpenFailure(answer)) store.message.value = answer.error;
  }

  const sendSettings = createSettingsSender((c) => bridge.setSettings(c), () => store.settings.peek(), (s) => applySettings(store, s));

  const ctl = {
    images,
    finder,
    midiLearn: createMidiLearn(),

    async boot(): Promise<void> {
      const [settings, chrome, current] = await Promise.allSettled([
        bridge.getSettings(),
        bridge.windowChrome(),
        bridge.currentDocument(),
      ]);
      if (settings.status === 'fulfilled' && settings.value) applySettings(store, settings.value);
      if (chrome.status === 'fulfilled' && chrome.value) ctl.setReserve(chrome.value.reserve);
      // A script the native side opened before the page loaded (launch with a file).
      if (current.status === 'fulfilled' && isDocument(current.value) && store.doc.peek() === null)
        show(current.value, current.value.visiblePage ?? 0);
      if (!store.confidence) await ctl.loadSidebar();
    },

    // The history includes every line sent as an event before the core
    // answered, so it replaces what arrived meanwhile; later events append.
    async loadSidebar(): Promise<void> {
      const [log, status] = await Promise.allSettled([bridge.getLog(), bridge.getControlStatus()]);
      if (log.status === 'fulfilled' && Array.isArray(log.value)) store.logLines.value = appendLog([], log.value);
      if (status.status === 'fulfilled') {
        const s = readControlStatus(status.value);
        if (s) store.controlStatus.value = s;
      }
    },

    // Double-click in the cue list: the engine decides, its cueState follows.
    standbyCue(id: string): void {
      bridge.standbyCue(id).then(() => undefined, quiet);
    },

    // Click in the cue list: the script shows the cue without changing standby.
    showCue(id: string): void {
      const cue = store.cueState.peek().cues.find((c) => c.id === id);
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
        if (store.doc.peek()?.path !== path) show(current, current.visiblePage ?? 0);
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

    // GO goes straight to the engine; the state shown is the engine's answer.
    go(): void {
      bridge.go().then((s) => applyCueState(store, s), quiet);
    },

    back(): void {
      bridge.back().then((s) => applyCueState(store, s), quiet);
    },

    askReset(): void {
      if (store.doc.peek()) store.confirmingReset.value = true;
    },

    confirmReset(): void {
      store.confirmingReset.value = false;
      bridge.reset().then((s) => applyCueState(store, s), quiet);
    },

    cancelReset(): void {
      store.confirmingReset.value = false;
    },

    // --- Cue Mode ---

    setCueMode(on: boolean): void {
      if (on && (store.confidence || !store.doc.peek())) return;
      store.cueMode.value = on;
      if (!on) {
        ctl.cancelDraft();
        store.selectedID.value = '';
        store.sheet.value = null;
      }
    },

    // A click (the same point twice) or a drag on a page, in fractions of the
    // displayed page. The engine hears of the cue only on Return.
    async placeCue(page: number, from: { x: number; y: number }, to: { x: number; y: number }): Promise<void> {
      if (!store.cueMode.peek() || !store.doc.peek() || store.draft.peek()) return;
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
      store.draft.value = draftCue(answer, page, store.cueState.peek().cues, kind, newCueID());
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

    select(id: string): void {
      if (!store.cueMode.peek() || store.draft.peek()) return;
      store.selectedID.value = store.cueState.peek().cues.some((c) => c.id === id) ? id : '';
    },

    selectedCue(): Cue | undefined {
      const id = store.selectedID.peek();
      return id ? store.cueState.peek().cues.find((c) => c.id === id) : undefined;
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
      bridge.upsertCue(next).then(() => undefined, quiet);
    },

    // Resume puts the saved fired set and standby back; the engine answers
    // true and sends its new state as "cueState".
    resumeRun(): void {
      store.resumeAnswered.value = true;
      bridge.restoreRun().then(() => bridge.getState()).then((s) => void applyCueState(store, s), quiet);
    },

    discardRun(): void {
      store.resumeAnswered.value = true;
      void bridge.discardRun().catch(quiet);
    },

    closeSheet(): void {
      store.sheet.value = null;
    },

    openPageSheet(which: 'settings' | 'shortcuts'): void {
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

    closePageSheet(): void {
      store.pageSheet.value = null;
      focusScript();
    },

    escape(): void {
      // Escape while learning a MIDI note ends the learn only.
      if (ctl.midiLearn.cancel()) return;
      if (store.pageSheet.peek()) return ctl.closePageSheet();
      if (store.sheet.peek()) return ctl.closeSheet();
      if (store.draft.peek()) return ctl.cancelDraft();
      if (store.confirmingReset.peek()) store.confirmingReset.value = false;
      else if (finder.open.peek()) ctl.closeFind();
      else if (store.message.peek()) store.message.value = '';
      else store.follow.value = true;
    },

    setTheme(name: string | undefined): void {
      if (name !== 'deep' && name !== 'dark' && name !== 'light') return;
      store.theme.value = name as ThemeName;
      ctl.saveSettings({ themeName: name as ThemeName });
    },

    setPagesPerSpread(n: 1 | 2): void {
      const page = store.visiblePage.peek();
      store.pagesPerSpread.value = n;
      ctl.saveSettings({ pagesPerSpread: n });
      if (store.doc.peek()) requestScroll(store, page, 0);
    },

    setDimmed(on: boolean): void {
      store.dimmed.value = on;
      ctl.saveSettings({ dimmed: on });
    },

    saveSettings(changes: Partial<Settings>): void {
      bridge.setSettings(changes).then((s) => {
        if (s) store.settings.value = s;
      }, quiet);
    },

    zoom(direction: 1 | -1 | 0): void {
      store.zoom.value = direction === 0 ? 1 : nextZoom(store.zoom.peek(), direction);
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
      requestScroll(store, Math.min(Math.max(0, Math.trunc(index)), doc.pageCount - 1), 0);
    },

    setReserve(reserve: unknown): void {
      if (typeof reserve === 'number' && Number.isFinite(reserve) && reserve >= 0) store.reserve.value = reserve;
    },

    menuCommand(command: string, value?: string): void {
      switch (command) {
        case 'go': return ctl.go();
        case 'back': return ctl.back();
        case 'reset': return ctl.askReset();
        case 'open': void ctl.openPanel(); return;
        case 'closeScript': void ctl.closeScript(); return;
        case 'onePage': return ctl.setPagesPerSpread(1);
        case 'twoPages': return ctl.setPagesPerSpread(2);
        case 'zoomIn': return ctl.zoom(1);
        case 'zoomOut': return ctl.zoom(-1);
        case 'zoomFit': return ctl.zoom(0);
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
        // The other menu commands belong to views that come later.
        default: return;
      }
    },

    key(action: KeyAction): void {
      switch (action) {
        case 'go': return ctl.go();
        case 'back': return ctl.back();
        case 'escape': return ctl.escape();
        // The same chord twice confirms, so RESET needs no pointer.
        case 'reset': return store.confirmingReset.peek() ? ctl.confirmReset() : ctl.askReset();
        case 'nextPage': return ctl.stepPage(1);
        case 'prevPage': return ctl.stepPage(-1);
        case 'onePage': return ctl.setPagesPerSpread(1);
        case 'twoPages': return ctl.setPagesPerSpread(2);
        case 'zoomIn': return ctl.zoom(1);
        case 'zoomOut': return ctl.zoom(-1);
        case 'zoomFit': return ctl.zoom(0);
        case 'find': return ctl.openFind();
        case 'cueMode': return ctl.setCueMode(!store.cueMode.peek());
      }
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
    documentChanged: (doc) => {
      if (!isDocument(doc)) return;
      // Same script, new line geometry (page numbers dropped): keep the place.
      const page = store.visiblePage.peek();
      images.reset();
      showDocument(store, doc, page);
    },
    windowChrome: (p) => ctl.setReserve(p.reserve),
    controlLog: (entry) => {
      store.logLines.value = appendLog(store.logLines.peek(), [entry]);
    },
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
