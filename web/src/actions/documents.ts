// The open script: opened from the panel, a path, the demo or the native
// side's own launch; laid out again with new geometry at the same place;
// closed; its marks saved, undone, redone and renumbered; the control log and
// status beside it; and what is shown of it reported to the native side.

import { isDocument, isOpenFailure, type OpenAnswer } from '../bridge/native';
import type { DocumentInfo } from '../bridge/types';
import { linesPendingText, reframedY } from '../state/crop';
import type { Finder } from '../state/find';
import type { PageImages } from '../state/page_images';
import { readControlStatus } from '../state/sidebar';
import { applyCueState, applySettings, clearDocument, requestScroll, setLogHistory, showDocument } from '../state/store';
import type { Base } from './common';
import type { FileTools } from './file_tools';
import type { Scan } from './scan';

export interface DocumentDeps {
  images: PageImages;
  finder: Finder;
  tools: FileTools;
  scan: Scan;
  takeReadingSize: (path: string) => void;
  viewTop: () => { page: number; y: number };
}

export function createDocuments({ store, bridge, quiet }: Base, deps: DocumentDeps) {
  const { images, finder } = deps;
  let firstShownGeneration = -1;
  let reportedPage = -1;

  const takeOpenAnswer = (answer: OpenAnswer): void => {
    if (isDocument(answer)) documents.show(answer);
    else if (isOpenFailure(answer)) store.message.value = answer.error;
  };

  const documents = {
    show(doc: DocumentInfo): void {
      images.reset();
      // Hits of the earlier script point at its pages.
      if (finder.open.peek()) finder.close();
      deps.tools.crop.leave();
      deps.takeReadingSize(doc.path);
      showDocument(store, doc);
      deps.scan.opened(doc);
      reportedPage = -1;
      // The recent list has the new script at its head now, and an earlier
      // version of the script may be in it.
      void bridge.getSettings().then((s) => {
        if (!s) return;
        applySettings(store, s);
        if (store.doc.peek() === doc) deps.takeReadingSize(doc.path);
      }, () => undefined).then(() => deps.tools.files.offerMarks(doc));
    },

    // Same script, new geometry (a crop, page numbers dropped, the crop of a
    // long script once its lines are in): the same page, and the same line of
    // it at the top of the view, carried through the change of crop; following
    // the standby cue goes on as it was.
    relayout(doc: DocumentInfo): void {
      const before = store.doc.peek();
      const page = store.visiblePage.peek();
      const top = deps.viewTop();
      const following = store.follow.peek();
      images.reset();
      showDocument(store, doc, page);
      deps.scan.relaid(doc);
      store.follow.value = following;
      if (before && top.page === page) requestScroll(store, page, reframedY(before, doc, page, top.y));
    },

    // "documentChanged": only for the script shown, since one closed
    // meanwhile has no pages to lay out. It comes unasked (a long script's
    // crop): a word shown stays, but not the one saying the lines are pending.
    changed(doc: unknown): void {
      if (!isDocument(doc) || store.doc.peek()?.path !== doc.path) return;
      const message = store.message.peek();
      documents.relayout(doc);
      store.message.value = message === linesPendingText && !doc.linesPending ? '' : message;
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
        if (isDocument(doc)) documents.show(doc);
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
        if (store.doc.peek()?.path !== path) documents.show(current);
        else applyCueState(store, current.state);
        return;
      }
      await documents.openPath(path);
    },

    closeScript(): Promise<void> {
      return bridge.closeDocument().then((state) => {
        images.reset();
        finder.close();
        clearDocument(store, state);
        deps.scan.closed();
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

    // The history includes every line sent as an event before the core
    // answered, so it replaces what arrived meanwhile; later events append.
    async loadSidebar(): Promise<void> {
      const [log, status] = await Promise.allSettled([bridge.getLog(), bridge.getControlStatus()]);
      if (log.status === 'fulfilled' && Array.isArray(log.value)) setLogHistory(store, log.value);
      if (status.status === 'fulfilled') documents.controlStatus(status.value);
    },

    controlStatus(payload: unknown): void {
      const s = readControlStatus(payload);
      if (s) store.controlStatus.value = s;
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
  };
  return documents;
}

export type Documents = ReturnType<typeof createDocuments>;
