// Inserted lines: where the page opens room for them and how far the text
// around them moves. The script view, the overlays, the pointer and the
// export layout all take their positions from one PageGeometry, so what the
// operator sees and what the export draws cannot drift apart.
//
// Units: y values are fractions of the page's own (cropped) height from its
// top ("page fractions"); "grown fractions" are fractions of the grown
// height h × (1 + extra); x values are fractions of the page width.

import type { Insert } from '../bridge/types';
import { clipText, ellipsis, shortText } from './shown_text';

export const insertFontK = 0.82;  // inserted-line font size / line height
export const insertLineK = 1.3;   // inserted-line advance / line height
// The face the native export draws inserted lines in, so widths agree.
export const insertFontFamily = "'Liberation Serif', serif";
// The moved words of a split row must end this far inside the page.
export const rightMargin = 0.006;
// A line height for a record that lost its own (damaged or hand-edited file).
export const fallbackLineH = 0.016;
// Left inset of the inserted text in its box, px (the export uses the same).
export const insertPadPx = 2;

export interface Gap { afterY: number; height: number }
export interface HRow { top: number; bottom: number; x0: number; x1: number; dL: number; dR: number }
export interface InsertPlace {
  id: string; inline: boolean; lines: string[]; rows: number;
  x: number; w: number;
  dy: number; dh: number;
  lineH: number;
}
export interface PageGeometry {
  extra: number; gaps: Gap[]; hrows: HRow[]; inserts: InsertPlace[];
  toGrown(y: number): number;
  fromGrown(g: number): number;
  shiftX(x: number, y: number): number;
}

export type Measure = (text: string, fontPx: number) => number;

export function insertFont(fontPx: number): string {
  return `italic ${fontPx}px ${insertFontFamily}`;
}

const finite = (v: unknown, fallback: number): number => (typeof v === 'number' && Number.isFinite(v) ? v : fallback);

// A text point at or below a gap's afterY is below the room: the gap counts
// as above it. (The export cuts its bands the same way: the band below a cut
// starts at the cut.)
function buildGeometry(gaps: Gap[], hrows: HRow[], inserts: InsertPlace[]): PageGeometry {
  const extra = gaps.reduce((s, g) => s + g.height, 0);
  const scale = 1 + extra;
  const toGrown = (y: number): number => {
    let s = 0;
    for (const g of gaps) {
      if (g.afterY > y) break;
      s += g.height;
    }
    return (y + s) / scale;
  };
  const fromGrown = (grown: number): number => {
    const G = grown * scale;
    let s = 0;
    for (const g of gaps) {
      if (G < g.afterY + s) return G - s;
      // Inside the opened room: the point of the script there is the cut.
      if (G < g.afterY + s + g.height) return g.afterY;
      s += g.height;
    }
    return G - s;
  };
  // A point within a split row left of x0 moves left, one at or right of x1
  // moves right. The word at the insertion point starts exactly at x1, so a
  // hair of slack keeps a box drawn from its rounded x with its word.
  const shiftX = (x: number, y: number): number => {
    for (const r of hrows) {
      if (y < r.top || y > r.bottom) continue;
      if (x >= r.x1 - 5e-4) return r.dR;
      return x < r.x0 ? -r.dL : 0;
    }
    return 0;
  };
  return { extra, gaps, hrows, inserts, toGrown, fromGrown, shiftX };
}

export const flatGeometry: PageGeometry = buildGeometry([], [], []);

interface Sorted {
  ins: Insert;
  inline: boolean;
  lines: string[];
  lineH: number;
  afterY: number;
  lineMidY: number;
  x: number;
  order: number;
}

// An inserted line opens at most this many rows, each of at most this many
// characters (more than any page is wide): a pasted page of text must not
// push the script away. The last row kept ends in an ellipsis when there is
// more; the editor and the marks file keep the whole text.
export const maxInsertRows = 12;
export const maxInsertRowChars = 500;

// The rows of an inserted line as the page and the export draw them; only
// the start of the text that they can hold is read.
export function shownLines(text: string, inline: boolean): string[] {
  const kept = clipText(text, maxInsertRows * (maxInsertRowChars + 2), inline ? Infinity : maxInsertRows);
  const rows = inline ? [kept.text.replace(/\r?\n/g, ' ')] : kept.text.split(/\r?\n/);
  const lines = rows.map((row) => shortText(row, maxInsertRowChars));
  const last = lines.length - 1;
  if (kept.cut && !lines[last].endsWith(ellipsis)) lines[last] = lines[last].replace(/[ \t\r\n\v\f]+$/, '') + ellipsis;
  return lines;
}

// Which inserts of a page split a row and which open a gap, in list order.
// A second insertion inside a row that is already split opens a gap under
// that row instead: a row is split at one point only.
function classify(inserts: readonly Insert[], page: number): Sorted[] {
  const out: Sorted[] = [];
  const split: { top: number; bottom: number }[] = [];
  inserts.forEach((ins, order) => {
    if (!ins || ins.page !== page) return;
    const afterY = finite(ins.afterY, 0);
    const lineMidY = finite(ins.lineMidY, afterY);
    const lineH = finite(ins.lineH, 0) > 0 ? ins.lineH : fallbackLineH;
    const x = Math.min(Math.max(finite(ins.x, 0), 0), 1);
    const text = typeof ins.text === 'string' ? ins.text : '';
    let inline = lineMidY < afterY;
    const top = 2 * lineMidY - afterY;
    if (inline && split.some((r) => top < r.bottom && afterY > r.top)) inline = false;
    if (inline) split.push({ top, bottom: afterY });
    const lines = shownLines(text, inline);
    out.push({ ins, inline, lines, lineH, afterY, lineMidY, x, order });
  });
  return out;
}

function gapsOf(items: Sorted[]): { gaps: Gap[]; owner: Sorted[] } {
  const pairs = items.map((it) => ({
    gap: { afterY: it.afterY, height: it.inline ? 0 : it.lines.length * it.lineH * insertLineK },
    it,
  }));
  // Stable: inserts at one afterY stack in list order.
  pairs.sort((a, b) => a.gap.afterY - b.gap.afterY || a.it.order - b.it.order);
  return { gaps: pairs.map((p) => p.gap), owner: pairs.map((p) => p.it) };
}

// The room a page's inserts add, as a fraction of its own height. It needs
// no measuring, so the page rows are laid out before any font is known.
export function pageExtra(inserts: readonly Insert[], page: number): number {
  return gapsOf(classify(inserts, page)).gaps.reduce((s, g) => s + g.height, 0);
}

// The extra of every page that has inserts.
export function extrasByPage(inserts: readonly Insert[]): Map<number, number> {
  const pages = new Set<number>();
  for (const i of inserts) if (i && Number.isInteger(i.page)) pages.add(i.page);
  const out = new Map<number, number>();
  for (const p of pages) {
    const e = pageExtra(inserts, p);
    if (e > 0) out.set(p, e);
  }
  return out;
}

export function pageGeometry(
  inserts: readonly Insert[], page: number, pageWpx: number, pageHpx: number, measure: Measure,
): PageGeometry {
  const items = classify(inserts, page);
  if (items.length === 0) return flatGeometry;
  const wpx = pageWpx > 0 ? pageWpx : 1;
  const hpx = pageHpx > 0 ? pageHpx : 1;
  const { gaps, owner } = gapsOf(items);
  const hrows: HRow[] = [];
  const rowOf = new Map<Sorted, HRow>();
  for (const it of items) {
    if (!it.inline) continue;
    const fontPx = insertFontK * it.lineH * hpx;
    const width = measure(it.lines[0], fontPx) + measure(' ', fontPx);
    const row = { top: 2 * it.lineMidY - it.afterY, bottom: it.afterY, x0: it.x, x1: it.x, dL: 0, dR: width / wpx };
    hrows.push(row);
    rowOf.set(it, row);
  }
  const geom = buildGeometry(gaps, hrows, []);
  const scale = 1 + geom.extra;
  // The top of each gap in grown units: everything above it, earlier gaps
  // at the same afterY included.
  const gapTop = new Map<Sorted, number>();
  let s = 0;
  gaps.forEach((g, i) => {
    gapTop.set(owner[i], (g.afterY + s) / scale);
    s += g.height;
  });
  for (const it of items) {
    const fontPx = insertFontK * it.lineH * hpx;
    if (it.inline) {
      const row = rowOf.get(it)!;
      geom.inserts.push({
        id: it.ins.id, inline: true, lines: it.lines, rows: 1, x: it.x, w: row.dR,
        dy: geom.toGrown(row.top), dh: (row.bottom - row.top) / scale, lineH: it.lineH,
      });
    } else {
      const widest = Math.max(0, ...it.lines.map((l) => measure(l, fontPx)));
      const w = Math.min((widest + 2 * insertPadPx) / wpx, Math.max(0, 1 - it.x));
      geom.inserts.push({
        id: it.ins.id, inline: false, lines: it.lines, rows: it.lines.length, x: it.x, w,
        dy: gapTop.get(it)!, dh: (it.lines.length * it.lineH * insertLineK) / scale, lineH: it.lineH,
      });
    }
  }
  return geom;
}

// Where a box recorded in page fractions shows on the grown page (x, w as
// width fractions, y, h as grown fractions). A box placed on an inserted line
// (a cue's insertID) sits on that line's first row, x and w as recorded.
export function grownBox(
  geom: PageGeometry, box: { x: number; y: number; w: number; h: number }, insertID = '',
): { x: number; y: number; w: number; h: number } {
  if (insertID) {
    const place = geom.inserts.find((p) => p.id === insertID);
    if (place) return { x: box.x, y: place.dy, w: box.w, h: place.dh / place.rows };
  }
  const scale = 1 + geom.extra;
  // Each edge moves with the words under it: a box across an insertion
  // point widens over the inserted words.
  const mid = box.y + box.h / 2;
  const left = box.x + geom.shiftX(box.x, mid);
  const right = box.x + box.w + geom.shiftX(box.x + box.w, mid);
  return { x: left, y: geom.toGrown(box.y), w: right - left, h: box.h / scale };
}

// A point under the pointer (grown fractions of the shown page) as a point
// of the script's text: back through the room and the sideways split.
export function pointOnText(geom: PageGeometry, x: number, grownY: number): { x: number; y: number } {
  const y = geom.fromGrown(grownY);
  for (const r of geom.hrows) {
    if (y < r.top || y > r.bottom) continue;
    if (x >= r.x1 + r.dR) return { x: x - r.dR, y };
    if (x < r.x0 - r.dL) return { x: x + r.dL, y };
    // Inside the opened room of the row: the insertion point.
    return { x: r.x1, y };
  }
  return { x, y };
}

// The inserted line under a point of the shown page (grown fractions), and
// which of its rows, if any.
export function insertAt(geom: PageGeometry, x: number, grownY: number): { place: InsertPlace; row: number } | null {
  for (const p of geom.inserts) {
    if (grownY < p.dy || grownY >= p.dy + p.dh) continue;
    if (p.inline && (x < p.x || x > p.x + p.w)) continue;
    const row = Math.min(p.rows - 1, Math.max(0, Math.floor(((grownY - p.dy) / p.dh) * p.rows)));
    return { place: p, row };
  }
  return null;
}

// One piece of the page image as the grown page shows it: the script's text
// between `top` and `bottom` (page fractions) and `left` to `right` (width
// fractions), moved down by `shift` (page fractions of room above it) and
// sideways by `dx`. The export cuts its bands by the same rule.
export interface Band { top: number; bottom: number; left: number; right: number; shift: number; dx: number }

export function bands(geom: PageGeometry): Band[] {
  const segments: [number, number, number][] = [];
  let p = 0;
  let s = 0;
  for (const g of geom.gaps) {
    const c = Math.min(Math.max(g.afterY, p), 1);
    segments.push([p, c, s]);
    s += g.height;
    p = c;
  }
  segments.push([p, 1, s]);
  const out: Band[] = [];
  const push = (b: Band) => {
    if (b.top < b.bottom && b.left < b.right) out.push(b);
  };
  for (const [a, b, shift] of segments) {
    const row = geom.hrows.find((r) => Math.abs(r.bottom - b) < 0.0015 && r.top > a - 0.000001 && (r.dL > 0 || r.dR > 0));
    if (!row) {
      push({ top: a, bottom: b, left: 0, right: 1, shift, dx: 0 });
      continue;
    }
    if (a + 0.000001 < row.top) push({ top: a, bottom: row.top, left: 0, right: 1, shift, dx: 0 });
    push({ top: row.top, bottom: b, left: 0, right: row.x0, shift, dx: -row.dL });
    push({ top: row.top, bottom: b, left: row.x0, right: row.x1, shift, dx: 0 });
    push({ top: row.top, bottom: b, left: row.x1, right: 1, shift, dx: row.dR });
  }
  return out;
}

// A cue as the grown page shows it: its box through grownBox, its label's
// line end moved with the words of a split row.
export function grownCue<T extends { x: number; y: number; w: number; h: number; labelX: number; insertID: string }>(
  geom: PageGeometry, cue: T,
): T {
  if (geom === flatGeometry) return cue;
  const box = grownBox(geom, cue, cue.insertID);
  // A label on an inserted line starts after its words as they read now: a
  // line typed longer after the cue was placed does not run under the label.
  const place = cue.insertID ? geom.inserts.find((p) => p.id === cue.insertID) : undefined;
  const labelX = place ? Math.max(cue.labelX, Math.min(1, place.x + place.w))
    : !cue.insertID && cue.labelX > 0 ? cue.labelX + geom.shiftX(cue.labelX, cue.y + cue.h / 2) : cue.labelX;
  return { ...cue, ...box, labelX };
}
