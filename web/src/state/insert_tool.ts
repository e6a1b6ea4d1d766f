// Where an inserted line goes: under a line or inside one, from a click or
// the line cursor; the record a line being typed becomes; the words of an
// inserted line under a drag. The tool itself is actions/inserts.ts.

import type { Insert } from '../bridge/types';
import { insertFont, insertFontK, insertPadPx, rightMargin, type InsertPlace, type Measure } from './inserts';
import { sanitizeAspect } from './layout';
import type { LineRect } from './line_cursor';

export interface InsertSpot { afterY: number; lineMidY: number; x: number }

// Where an insert being typed goes: as a line of its own (`gap`), or inside
// a line (`inline`) while its text fits beside the words it pushes right.
export interface InsertDraft {
  id: string;
  page: number;
  text: string;
  existing: boolean;
  generation: number;
  lineH: number;
  gap: InsertSpot;
  inline: (InsertSpot & { lineRight: number }) | null;
  // Sent to the engine; shown until its "cueState" carries it.
  sent?: boolean;
}

// Room under a page's last line, and above its first, in line heights.
const endPad = 0.2;
// A word starting this close to its line's left edge is the line's first.
const lineStartSlack = 0.002;

// Under line i: halfway to the next line of the page, or a little below the
// line at the end of the page (or of a column).
export function gapBelow(lines: readonly LineRect[], i: number, x = lines[i][0]): InsertSpot {
  const [, y, , h] = lines[i];
  const bottom = y + h;
  const next = lines[i + 1];
  const afterY = next && next[1] >= bottom - 0.25 * h ? (bottom + Math.max(bottom, next[1])) / 2 : Math.min(1, bottom + endPad * h);
  return { afterY, lineMidY: afterY, x };
}

function gapAbove(lines: readonly LineRect[], i: number): InsertSpot {
  const [x, y, , h] = lines[i];
  if (i > 0) return gapBelow(lines, i - 1, x);
  const afterY = Math.max(0, y - endPad * h);
  return { afterY, lineMidY: afterY, x };
}

// Where a click at `p` (a point of the script's text) inserts: on a line's
// words, before the word there (`wordStart`: its left edge); at a line's
// first word, above that line; past its end, below it; between lines, under
// the line above.
export function spotAt(
  lines: readonly LineRect[], p: { x: number; y: number }, wordStart: number | null,
): { gap: InsertSpot; inline: InsertDraft['inline']; lineH: number } | null {
  if (lines.length === 0) return null;
  const on = lines.findIndex((r) => p.y >= r[1] && p.y <= r[1] + r[3]);
  if (on >= 0) {
    const [x, y, w, h] = lines[on];
    const start = wordStart ?? p.x;
    if (start <= x + lineStartSlack) return { gap: gapAbove(lines, on), inline: null, lineH: h };
    if (start < x + w) {
      return { gap: gapBelow(lines, on), inline: { afterY: y + h, lineMidY: y + h / 2, x: start, lineRight: x + w }, lineH: h };
    }
    return { gap: gapBelow(lines, on), inline: null, lineH: h };
  }
  let above = -1;
  lines.forEach((r, i) => {
    const bottom = r[1] + r[3];
    if (bottom <= p.y && (above < 0 || bottom > lines[above][1] + lines[above][3])) above = i;
  });
  if (above >= 0) return { gap: gapBelow(lines, above), inline: null, lineH: lines[above][3] };
  return { gap: gapAbove(lines, 0), inline: null, lineH: lines[0][3] };
}

// The record a draft makes. Inside a line only while the text is one line
// and the pushed words still end inside the page; otherwise under that line.
// The width ratio needs only the page's aspect (the font scales with it).
export function draftRecord(d: InsertDraft, aspect: number, measure: Measure): Insert {
  let spot: InsertSpot = d.gap;
  if (d.inline && !/\n/.test(d.text)) {
    const wpx = 1000;
    const fontPx = insertFontK * d.lineH * (wpx / sanitizeAspect(aspect));
    const dR = (measure(d.text, fontPx) + measure(' ', fontPx)) / wpx;
    if (d.inline.lineRight + dR <= 1 - rightMargin) spot = d.inline;
  }
  return { id: d.id, text: d.text, page: d.page, afterY: spot.afterY, lineMidY: spot.lineMidY, lineH: d.lineH, x: spot.x };
}

// The words of an inserted line's first row under a drag from `fromX` to
// `toX` (width fractions): their left edge, width and text. A click in a
// space takes the nearest word.
export function insertWords(
  place: InsertPlace, fromX: number, toX: number, wpx: number, fontPx: number, measure: Measure,
): { x: number; w: number; text: string } | null {
  const line = place.lines[0] ?? '';
  const origin = place.x * wpx + insertPadPx;
  const words = [...line.matchAll(/\S+/g)].map((m) => {
    const left = origin + measure(line.slice(0, m.index ?? 0), fontPx);
    return { left, right: left + measure(m[0], fontPx), text: m[0] };
  });
  if (words.length === 0) return null;
  const lo = Math.min(fromX, toX) * wpx;
  const hi = Math.max(fromX, toX) * wpx;
  let picked = words.filter((w) => w.right >= lo && w.left <= hi);
  if (picked.length === 0) {
    const distance = (w: { left: number; right: number }) => Math.max(w.left - hi, lo - w.right, 0);
    picked = [words.reduce((a, b) => (distance(b) < distance(a) ? b : a))];
  }
  const first = picked[0];
  const last = picked[picked.length - 1];
  return { x: first.left / wpx, w: (last.right - first.left) / wpx, text: picked.map((w) => w.text).join(' ') };
}

// Widths in the inserted-line font, measured once per text at 100 px and
// scaled; without a canvas (tests) an average glyph width stands in.
export function canvasMeasure(): Measure {
  let ctx: CanvasRenderingContext2D | null | undefined;
  const cache = new Map<string, number>();
  return (text, fontPx) => {
    let w = cache.get(text);
    if (w === undefined) {
      if (ctx === undefined) {
        try {
          ctx = typeof document === 'undefined' ? null : document.createElement('canvas').getContext('2d');
        } catch {
          ctx = null;
        }
      }
      if (ctx) {
        ctx.font = insertFont(100);
        w = ctx.measureText(text).width;
      } else {
        w = text.length * 45;
      }
      if (cache.size > 2000) cache.clear();
      cache.set(text, w);
    }
    return (w * fontPx) / 100;
  };
}
