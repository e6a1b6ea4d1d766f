// "Export Marked Script…": measure every page as the view shows it, hand the
// layout to the native export (which asks where to save and writes the PDF
// off the main thread), and say quietly how it went. The command returns at
// once: GO never waits for a save panel or an export.

import type { native } from '../bridge/native';
import type { Measure as InsertMeasure } from '../state/inserts';
import { canvasMeasure } from '../state/insert_tool';
import { gutterSide, labelGutter, labelMeasurer, type Gutter } from '../state/labels';
import { layoutRows } from '../state/layout';
import { applyCueState, drawNow, type Store } from '../state/store';
import { linesPendingText } from '../state/crop';
import { measureLayout, resolvedLabelFonts, type Layout } from './measure';

export type ExportBridge = Pick<typeof native, 'exportMarkedPDF' | 'getState'>;

// Space around and between pages in the script view (ScriptView's gap; the
// export view test fails when the two part).
const viewGap = 12;

export const exportingText = 'Exporting marked script…';
export const exportedText = 'Exported';

// The native failure of the export itself reads as a sentence; its refusals
// (a destination that is the script or one of its files, no script, no
// layout) are already sentences for the operator and are shown as they are.
export function exportErrorText(error: unknown): string {
  const text = error instanceof Error ? error.message : String(error);
  if (text === 'vienti epaonnistui') return 'The marked script could not be exported.';
  return text || 'The marked script could not be exported.';
}

// The label gutter of the current view, as ScriptView has it.
export function shownGutter(store: Store, viewWidth: number): Gutter {
  return labelGutter(viewWidth - 2 * viewGap, store.pagesPerSpread.peek(), store.settings.peek()?.cueLabelFontPx ?? 14);
}

// The width every page shows at in the current view, as ScriptView lays
// the rows out: the view's width, the zoom, one or two pages, the gutters.
export function shownPageWidth(store: Store, viewWidth: number): number {
  const doc = store.doc.peek();
  if (!doc || !(viewWidth > 0)) return 0;
  const per = store.pagesPerSpread.peek();
  const view = { width: viewWidth - 2 * viewGap, zoom: store.zoom.peek(), gap: viewGap, gutter: shownGutter(store, viewWidth).px };
  const rows = layoutRows([[0]], doc.aspects, per, view);
  return rows[0]?.widths[0] ?? 0;
}

// The inserted-line widths as the page measures them for its own rows.
const insertMeasure: InsertMeasure = canvasMeasure();

// The layout of the open script as the view shows it now.
export function currentLayout(store: Store, viewWidth: number): Layout | null {
  const doc = store.doc.peek();
  if (!doc) return null;
  const fontPx = store.settings.peek()?.cueLabelFontPx ?? 14;
  return measureLayout({
    state: store.cueState.peek(),
    pageCount: doc.pageCount,
    aspects: doc.aspects,
    pageWidthPx: shownPageWidth(store, viewWidth) || 800,
    labelFontPx: fontPx,
    labelMeasure: labelMeasurer(fontPx),
    gutter: shownGutter(store, viewWidth),
    side: (page) => gutterSide(page, store.pagesPerSpread.peek(), store.cueState.peek().spreadOffset),
    insertMeasure,
    resolvedFonts: resolvedLabelFonts(),
    cueTypes: store.settings.peek()?.cueTypes,
  });
}

function scriptViewWidth(): number {
  const el = typeof document !== 'undefined' ? document.querySelector<HTMLElement>('.script') : null;
  return el?.clientWidth ?? 0;
}

export function createExport(store: Store, bridge: ExportBridge, viewWidth: () => number = scriptViewWidth) {
  let running = false;
  return {
    exportMarked(): void {
      if (running || store.confidence || !store.doc.peek()) return;
      if (store.doc.peek()?.linesPending) {
        store.message.value = linesPendingText;
        return;
      }
      running = true;
      store.message.value = '';
      store.status.value = exportingText;
      const finish = (status: string, message = '') => {
        running = false;
        store.status.value = status;
        store.message.value = message;
      };
      // Measured from the marks as the core holds them now, not as the last
      // "cueState" said: an edit whose event is still on its way (a line
      // inserted a moment ago) is in the file the core exports, so its place
      // must be in the layout too. The key that asked returns at once.
      const measure = () => {
        let layout: Layout | null;
        try {
          layout = currentLayout(store, viewWidth());
        } catch (error) {
          return finish('', exportErrorText(error));
        }
        if (!layout) return finish('');
        bridge.exportMarkedPDF(layout).then(
          (written) => finish(written === true ? exportedText : ''),
          (error: unknown) => finish('', exportErrorText(error)),
        );
      };
      const doc = store.doc.peek();
      bridge.getState().then((state) => {
        if (store.doc.peek() !== doc) return finish('');
        applyCueState(store, state);
        drawNow(store);
        measure();
      }, (error: unknown) => finish('', exportErrorText(error)));
    },
  };
}
