// The view of the script: the size it is read at (pages side by side, zoom,
// text size) kept per script, paging and Go to Page, a cue or a find hit
// brought into view, the sidebar, the find bar, and the title bar's reserve.

import { batch } from '@preact/signals';
import type { SettingsChange } from '../bridge/types';
import type { Finder } from '../state/find';
import {
  fitWidth, nextZoom, parsePageInput, readingSizeFor, spreads, stepTextSize, type ReadingSize,
} from '../state/layout';
import { requestScroll } from '../state/store';
import { tracePageTurn } from '../state/turn_trace';
import { tracing, type Base, type ScriptView } from './common';

// A text-size step before the first layout assumes the first window's column
// (1280 less the sidebar, the show panel, the scrollbar and the view's gaps).
const firstColumn = 686;
const columnGap = 12;

export interface ViewDeps {
  finder: Finder;
  scriptView: ScriptView;
  saveSettings: (changes: SettingsChange) => void;
}

export function createView({ store, bridge, quiet }: Base, { finder, scriptView, saveSettings }: ViewDeps) {
  const shownPages = (): 1 | 2 => (store.pagesPerSpread.peek() === 2 ? 2 : 1);

  const view = {
    // The size kept for the script, taken before its pages are laid out. The
    // monitor has its own (one page, as wide as its window).
    takeReadingSize(path: string): void {
      if (store.confidence) return;
      const size = readingSizeFor(store.settings.peek(), path);
      batch(() => {
        store.pagesPerSpread.value = size.pages;
        store.zoom.value = size.zoom;
      });
    },

    setPagesPerSpread(n: 1 | 2): void {
      view.setReadingSize({ pages: n, zoom: store.zoom.peek() }, { pagesPerSpread: n });
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
      if (Object.keys(send).length > 0) saveSettings(send);
      // A new pairing starts the row at the page being read.
      if (doc && pagesChanged) requestScroll(store, page, 0);
    },

    fitWidth(): void {
      view.setReadingSize(fitWidth, { pagesPerSpread: 1 });
    },

    stepTextSize(direction: 1 | -1): void {
      const column = scriptView.columnWidth() > 0 ? scriptView.columnWidth() : firstColumn;
      const current: ReadingSize = { pages: shownPages(), zoom: store.zoom.peek() };
      const next = stepTextSize(current, direction, column, columnGap);
      if (next.pages !== current.pages || next.zoom !== current.zoom) view.setReadingSize(next);
    },

    zoom(direction: 1 | -1 | 0): void {
      const zoom = direction === 0 ? 1 : nextZoom(store.zoom.peek(), direction);
      if (zoom !== store.zoom.peek()) view.setReadingSize({ pages: shownPages(), zoom });
    },

    // Step by whole spreads, so two-page view turns both pages.
    stepPage(delta: number): void {
      const doc = store.doc.peek();
      if (!doc) return;
      const groups = spreads(doc.pageCount, store.pagesPerSpread.peek(), store.cueState.peek().spreadOffset);
      const here = groups.findIndex((g) => g.includes(store.visiblePage.peek()));
      const target = groups[Math.min(Math.max(0, here + delta), groups.length - 1)];
      if (target) view.goToPage(target[0]);
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

    openGoTo(): void {
      if (store.confidence || !store.doc.peek()) return;
      store.gotoError.value = '';
      store.gotoOpen.value = true;
    },

    closeGoTo(): void {
      store.gotoOpen.value = false;
      store.gotoError.value = '';
      scriptView.focus();
    },

    // Return in the sheet: a page the script has goes there and closes the
    // sheet; anything else is answered in the sheet, which stays open.
    submitGoTo(text: string): void {
      const doc = store.doc.peek();
      if (!doc) return view.closeGoTo();
      const parsed = parsePageInput(text, doc.pageCount, store.cueState.peek().pageLabelOffset);
      if ('error' in parsed) {
        store.gotoError.value = parsed.error;
        return;
      }
      view.closeGoTo();
      view.goToPage(parsed.page);
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
      scriptView.focus();
    },

    setReserve(reserve: unknown): void {
      if (typeof reserve === 'number' && Number.isFinite(reserve) && reserve >= 0) store.reserve.value = reserve;
    },
  };
  return view;
}

export type View = ReturnType<typeof createView>;
