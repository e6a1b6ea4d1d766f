// The export layout: every page of the script measured as the page shows it
// (cue boxes, labels, room opened for inserted lines, split rows, hidden and
// struck text), in the form the native export reads. Computed from the cue
// state and the page geometry, never read back from the DOM, so pages that are
// not in the document are measured as well as those that are.

import type { Cue, ScriptState, Insert, Mark } from '../bridge/types';
import { byPage, cueColor } from '../state/cues';
import { grownBox, grownCue, insertFontK, insertLineK, pageGeometry, type Measure as InsertMeasure } from '../state/inserts';
import { cueGutterItems, overlayMetrics, placeGutterLabels, type Gutter, type GutterSide, type Measure } from '../state/labels';
import type { CueType } from '../bridge/types';

export interface LayoutGap { afterY: number; height: number }
export interface LayoutHRow { top: number; bottom: number; x0: number; x1: number; dL: number; dR: number }
export interface LayoutCueBox {
  id: string; color: string; x: number; w: number; dy: number; dh: number;
  padL_px: number; padR_px: number; outlineOffset_px: number;
}
export interface LayoutLabel {
  id: string; text: string; color: string; x: number; w: number; dy: number; dh: number;
  rows: number; padL_px: number; measuredWpx: number;
  // The thin line from the cue box to the label: x0, y0, x1, y1 as x and dy are.
  leader: number[];
}
// The margin the labels stand in, beside the page on its outer side, px; the
// exported page grows by it.
export interface LayoutGutter { side: GutterSide; px: number }
export interface LayoutMark { kind: string; x: number; w: number; dy: number; dh: number }
export interface LayoutInsert { text: string; x: number; w: number; dy: number; dh: number; lineH: number; rows: number }
export interface PageLayout {
  index: number; extra: number; pageWpx: number; pageHpx: number;
  gaps: LayoutGap[]; hrows: LayoutHRow[]; cues: LayoutCueBox[]; labels: LayoutLabel[];
  marks: LayoutMark[]; inserts: LayoutInsert[]; gutter?: LayoutGutter;
}
export interface Layout {
  labelFontPx: number; labelLineH: number; labelPadX_px: number; labelPadY_px: number;
  markRadius_px: number; outlineW_px: number; resolvedFonts: string[];
  insertFontK: number; insertLineK: number; pages: PageLayout[];
}

export interface MeasureInput {
  state: Pick<ScriptState, 'cues' | 'marks' | 'inserts'>;
  pageCount: number;
  // Width / height of each page as shown (its crop).
  aspects: readonly number[];
  // Every page shows at this width, px.
  pageWidthPx: number;
  labelFontPx: number;
  // The label font at labelFontPx (state/labels.ts labelMeasurer).
  labelMeasure: Measure;
  // The label gutter as the view has it, and the outer side of each page.
  gutter: Gutter;
  side: (page: number) => GutterSide;
  // The inserted-line font at a size (state/inserts.ts).
  insertMeasure: InsertMeasure;
  resolvedFonts: string[];
  cueTypes?: readonly CueType[];
}

// A layout with a number that is not finite would be refused as a whole; a
// damaged record must not cost the operator the export of the other pages.
const fin = (v: number): number => (Number.isFinite(v) ? v : 0);


const exportedMark = (m: Mark) => m.kind === 'cut' || m.kind === 'hide';

export function measureLayout(input: MeasureInput): Layout {
  const m = overlayMetrics;
  const fontPx = input.labelFontPx > 0 ? input.labelFontPx : 14;
  const wpx = input.pageWidthPx > 0 ? input.pageWidthPx : 1;
  const cues = byPage<Cue>(input.state.cues);
  const marks = byPage<Mark>(input.state.marks.filter(exportedMark));
  const inserts = byPage<Insert>(input.state.inserts);
  const pages: PageLayout[] = [];
  for (let index = 0; index < input.pageCount; index++) {
    const aspect = input.aspects[index];
    const hpx = wpx / (typeof aspect === 'number' && Number.isFinite(aspect) && aspect > 0 ? aspect : 0.7071);
    const pageInserts = inserts.get(index) ?? [];
    const geom = pageGeometry(pageInserts, index, wpx, hpx, input.insertMeasure);
    const grownHpx = hpx * (1 + geom.extra);
    const side = input.side(index);
    const page: PageLayout = {
      index, extra: fin(geom.extra), pageWpx: wpx, pageHpx: fin(hpx),
      gaps: geom.gaps.map((g) => ({ afterY: fin(g.afterY), height: fin(g.height) })),
      hrows: geom.hrows.map((r) => ({ top: fin(r.top), bottom: fin(r.bottom), x0: fin(r.x0), x1: fin(r.x1), dL: fin(r.dL), dR: fin(r.dR) })),
      cues: [], labels: [], marks: [], inserts: [], gutter: { side, px: fin(input.gutter.px) },
    };
    const shownCues = (cues.get(index) ?? []).map((cue) => ({ cue, shown: grownCue(geom, cue) }));
    const placed = new Map(
      placeGutterLabels(cueGutterItems(shownCues.map((c) => c.shown), wpx, grownHpx), wpx, grownHpx, side, input.gutter, fontPx, input.labelMeasure)
        .map((l) => [l.id, l]),
    );
    for (const { cue, shown } of shownCues) {
      // Where the page draws it (state/inserts.ts grownCue): on its inserted
      // line, or moved with the words of a split row and below opened room.
      const box = { x: shown.x, y: shown.y, w: shown.w, h: shown.h };
      const color = cueColor(cue, input.cueTypes) ?? '';
      page.cues.push({
        id: cue.id, color, x: fin(box.x), w: fin(box.w), dy: fin(box.y), dh: fin(box.h),
        // The page pads no box: it covers exactly the words.
        padL_px: 0, padR_px: 0, outlineOffset_px: m.outlineOffset_px,
      });
      // In the gutter, where the page stands it (state/labels.ts).
      const label = placed.get(cue.id);
      if (!label) continue;
      const [x0, y0, x1, y1] = label.leader;
      page.labels.push({
        id: cue.id, text: label.lines.join('\n'), color, x: fin(label.left / wpx), w: fin(label.width / wpx),
        dy: fin(label.top / grownHpx), dh: fin(label.height / grownHpx), rows: label.rows, padL_px: 0, measuredWpx: fin(label.width),
        leader: [fin(x0 / wpx), fin(y0 / grownHpx), fin(x1 / wpx), fin(y1 / grownHpx)],
      });
    }
    for (const mark of marks.get(index) ?? []) {
      const box = grownBox(geom, mark);
      page.marks.push({ kind: mark.kind, x: fin(box.x), w: fin(box.w), dy: fin(box.y), dh: fin(box.h) });
    }
    for (const place of geom.inserts) {
      page.inserts.push({
        text: place.lines.join('\n'), x: fin(place.x), w: fin(place.w), dy: fin(place.dy), dh: fin(place.dh),
        lineH: fin(place.lineH), rows: Math.max(1, place.rows),
      });
    }
    pages.push(page);
  }
  // A record on a page the script does not have (a damaged or hand-edited
  // marks file) is not drawn, but the export wants a measured page for every
  // cue and inserted line: an empty one lets the rest of the script export.
  const stray = new Set<number>();
  for (const list of [input.state.cues, input.state.inserts] as { page: number }[][])
    for (const r of list) if (Number.isSafeInteger(r.page) && (r.page < 0 || r.page >= input.pageCount)) stray.add(r.page);
  for (const index of stray) {
    pages.push({ index, extra: 0, pageWpx: wpx, pageHpx: wpx, gaps: [], hrows: [], cues: [], labels: [], marks: [], inserts: [] });
  }
  return {
    labelFontPx: fontPx, labelLineH: m.labelLineH, labelPadX_px: m.labelPadX_px, labelPadY_px: m.labelPadY_px,
    markRadius_px: m.markRadius_px, outlineW_px: m.outlineW_px, resolvedFonts: input.resolvedFonts,
    insertFontK, insertLineK, pages,
  };
}

// The label family the page actually got: 'Liberation Mono' when it is there
// (a canvas measures it differently from the generic fallbacks), else the
// generic monospaced family, which the export then uses too.
export function resolvedLabelFonts(doc: Document | undefined = globalThis.document): string[] {
  if (!doc) return ['monospace'];
  try {
    const ctx = doc.createElement('canvas').getContext('2d');
    if (ctx) {
      const sample = 'mmmmmmmmmmlli10O';
      const width = (font: string) => {
        ctx.font = font;
        return ctx.measureText(sample).width;
      };
      const present = width("bold 40px 'Liberation Mono', serif") === width("bold 40px 'Liberation Mono', sans-serif") &&
        width("bold 40px 'Liberation Mono', serif") !== width('bold 40px serif');
      return [present ? 'Liberation Mono' : 'monospace'];
    }
    return [doc.fonts?.check("bold 14px 'Liberation Mono'") ? 'Liberation Mono' : 'monospace'];
  } catch {
    return ['monospace'];
  }
}
