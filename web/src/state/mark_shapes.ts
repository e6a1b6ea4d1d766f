// Marks, memos and flags on a page: the pure parts (rectangles, colours, the
// answer of "textRect" turned into marks), so the tests drive them without a page.

import type { Flag, Mark, Memo } from '../bridge/types';
import { flatGeometry, type PageGeometry } from './inserts';
import type { LineRect } from './line_cursor';

export type MarkKind = 'highlight' | 'region' | 'cut' | 'hide';
export type Tool = MarkKind | 'memo' | 'flag';

export interface Pt { x: number; y: number }
export interface Rect { x: number; y: number; w: number; h: number }

// The tool strip in order; the key picks the tool in Cue Mode.
export const tools: readonly { tool: Tool; label: string; key: string; hint: string }[] = [
  { tool: 'highlight', label: 'Highlight', key: '1', hint: 'drag over words' },
  { tool: 'region', label: 'Region', key: '2', hint: 'drag a frame, then type its tab' },
  { tool: 'cut', label: 'Cut', key: '3', hint: 'strike words out' },
  { tool: 'hide', label: 'Hide', key: '4', hint: 'drag over words to hide them' },
  { tool: 'memo', label: 'Memo', key: '5', hint: 'click or drag a note' },
  { tool: 'flag', label: 'Flag', key: '6', hint: 'click a point' },
];

export function toolOfKey(key: string): Tool | undefined {
  return tools.find((t) => t.key === key)?.tool;
}

// Drags over the words make one mark per line; the others are drawn shapes.
export function isTextKind(tool: Tool | null | undefined): tool is 'highlight' | 'cut' | 'hide' {
  return tool === 'highlight' || tool === 'cut' || tool === 'hide';
}

// --- Colours ---
// Memos keep a colour id; the page and the export look the paper up.
export const memoColors = ['', 'rose', 'green', 'blue', 'grey'] as const;
export const memoColorNames: Record<string, string> = { '': 'Yellow', rose: 'Rose', green: 'Green', blue: 'Blue', grey: 'Grey' };
const memoPapers: Record<string, { paper: string; edge: string }> = {
  rose: { paper: '#ffe0d8', edge: '#d99a86' },
  green: { paper: '#e2f2d9', edge: '#9cc48a' },
  blue: { paper: '#dde9f8', edge: '#8fadd4' },
  grey: { paper: '#ebebe8', edge: '#b0b0aa' },
};
const yellowMemo = { paper: '#fff6d5', edge: '#d9c47a' };

// Any id but the four named ones is yellow, as the export draws it.
export function memoPalette(id: string): { paper: string; edge: string } {
  return Object.prototype.hasOwnProperty.call(memoPapers, id) ? memoPapers[id] : yellowMemo;
}

export const regionDefault = '#d8391d';
export const flagDefault = '#2f6fd0';
// Regions and flags share these; the kind's own default is kept as "".
export const hexColors = ['#d8391d', '#2f6fd0', '#2a7a41', '#9a6416', '#7d4cc2', '#5f6670'] as const;
export const hexColorNames: Record<string, string> = {
  '#d8391d': 'Red', '#2f6fd0': 'Blue', '#2a7a41': 'Green', '#9a6416': 'Amber', '#7d4cc2': 'Violet', '#5f6670': 'Grey',
};

export function hexOr(color: string | undefined, fallback: string): string {
  return typeof color === 'string' && /^#[0-9a-fA-F]{6}$/.test(color) ? color : fallback;
}

// The colour ids a tool (or the kind of a selection) offers, in the order
// shown; undefined when the kind has no colour of its own (the export draws
// highlights yellow and cut or hidden words in fixed colours).
export function colorsOf(kind: Tool): readonly string[] | undefined {
  if (kind === 'memo') return memoColors;
  if (kind === 'region' || kind === 'flag') return hexColors;
  return undefined;
}

export function defaultColorOf(kind: Tool): string {
  return kind === 'flag' ? flagDefault : kind === 'region' ? regionDefault : '';
}

// What is stored for a chosen colour: "" for the kind's default, so a record
// follows the default and the marks file stays small.
export function storedColor(kind: Tool, chosen: string): string {
  if (kind === 'memo') return (memoColors as readonly string[]).includes(chosen) ? chosen : '';
  const hex = hexOr(chosen, '');
  return hex.toLowerCase() === defaultColorOf(kind) ? '' : hex.toLowerCase();
}

// The colour shown (and drawn) for a stored one.
export function shownColor(kind: Tool, stored: string): string {
  if (kind === 'memo') return memoPalette(stored).paper;
  return hexOr(stored, defaultColorOf(kind));
}

// C steps through a kind's colours from the one it has.
export function nextColor(kind: Tool, stored: string): string | undefined {
  const list = colorsOf(kind);
  if (!list) return undefined;
  const here = kind === 'memo' ? storedColor(kind, stored) : shownColor(kind, stored).toLowerCase();
  const i = list.indexOf(here);
  return storedColor(kind, list[(i + 1) % list.length]);
}

// --- Rectangles, as fractions of the (ungrown) page ---
const clamp = (v: number, lo: number, hi: number) => (Number.isFinite(v) ? Math.min(Math.max(v, lo), hi) : lo);

// The rectangle between two pointer points, corners in any order, kept on the page.
export function dragRect(a: Pt, b: Pt): Rect {
  const x0 = clamp(Math.min(a.x, b.x), 0, 1);
  const x1 = clamp(Math.max(a.x, b.x), 0, 1);
  const y0 = clamp(Math.min(a.y, b.y), 0, 1);
  const y1 = clamp(Math.max(a.y, b.y), 0, 1);
  return { x: x0, y: y0, w: x1 - x0, h: y1 - y0 };
}

// A box moved as a whole stays whole on the page: it stops at the edges
// rather than shrinking.
export function movedRect(r: Rect, dx: number, dy: number): Rect {
  const w = clamp(r.w, 0, 1);
  const h = clamp(r.h, 0, 1);
  return { x: clamp(r.x + dx, 0, 1 - w), y: clamp(r.y + dy, 0, 1 - h), w, h };
}

// Alt+arrows move a selection as they move a cue box: about a pixel, a
// word's width with Shift.
export const markNudge = { step: 0.002, far: 0.01 };

// A group moved as one: it stops where its first member meets an edge.
export function movedGroup<T extends Rect>(recs: readonly T[], dx: number, dy: number): T[] {
  if (recs.length === 0) return [];
  const minX = Math.min(...recs.map((r) => r.x));
  const maxX = Math.max(...recs.map((r) => r.x + r.w));
  const minY = Math.min(...recs.map((r) => r.y));
  const maxY = Math.max(...recs.map((r) => r.y + r.h));
  const mx = clamp(dx, Math.min(0, -minX), Math.max(0, 1 - maxX));
  const my = clamp(dy, Math.min(0, -minY), Math.max(0, 1 - maxY));
  return recs.map((r) => ({ ...r, x: r.x + mx, y: r.y + my }));
}

export const memoMin = { w: 0.06, h: 0.025 };
export const memoDefault = { w: 0.3, h: 0.08 };

// The corner handle: the top-left stays, the size keeps a readable minimum
// and ends at the page's edges.
export function resizedRect(r: Rect, dw: number, dh: number, min: { w: number; h: number } = memoMin): Rect {
  const x = clamp(r.x, 0, 1 - min.w);
  const y = clamp(r.y, 0, 1 - min.h);
  return { x, y, w: clamp(r.w + dw, min.w, 1 - x), h: clamp(r.h + dh, min.h, 1 - y) };
}

// A new memo: a click puts one of the usual size with its corner at the
// point, a drag the dragged box (never smaller than the minimum); both on the page.
export function newMemoRect(a: Pt, b: Pt | null): Rect {
  if (!b) return movedRect({ x: a.x, y: a.y, ...memoDefault }, 0, 0);
  const r = dragRect(a, b);
  return resizedRect(r, Math.max(0, memoMin.w - r.w), Math.max(0, memoMin.h - r.h));
}

export function pointOnPage(p: Pt): Pt {
  return { x: clamp(p.x, 0, 1), y: clamp(p.y, 0, 1) };
}

// --- Marks over words ---
export interface TextLines { lines: Rect[]; text: string }

const rectOf = (r: unknown): Rect | null => {
  if (!Array.isArray(r) || r.length < 4 || !r.slice(0, 4).every((n) => typeof n === 'number' && Number.isFinite(n))) return null;
  const [x, y, w, h] = r as number[];
  return w > 0 && h > 0 ? { x, y, w, h } : null;
};

// The "textRect" answer as the lines the marks cover: its "lines", or its
// whole rectangle when it names none. Null when no words were there.
export function answerLines(answer: unknown): TextLines | null {
  if (typeof answer !== 'object' || answer === null) return null;
  const a = answer as { rect?: unknown; lines?: unknown; text?: unknown };
  const lines = Array.isArray(a.lines) ? a.lines.map(rectOf).filter((r): r is Rect => r !== null) : [];
  if (lines.length === 0) {
    const whole = rectOf(a.rect);
    if (whole) lines.push(whole);
  }
  return lines.length > 0 ? { lines, text: typeof a.text === 'string' ? a.text : '' } : null;
}

// One mark per line, all in one group. The words are kept once, on the
// first line's mark.
export function marksOfLines(
  found: TextLines, kind: MarkKind, page: number, color: string, group: string, newID: () => string,
): Mark[] {
  return found.lines.map((r, i) => ({
    id: newID(), kind, text: i === 0 ? found.text : '', color, group, page, x: r.x, y: r.y, w: r.w, h: r.h,
  }));
}

// What a drag over the words looks like before the native side has snapped
// it: the page's text lines between the two points, the first cut at the
// start, the last at the end. Without lines, the dragged band itself.
export function previewOfDrag(lines: readonly LineRect[], a: Pt, b: Pt): Rect[] {
  const band = (): Rect[] => {
    const r = dragRect(a, b);
    return r.w > 0 ? [{ ...r, h: Math.max(r.h, 0.012), y: Math.min(r.y, 1 - Math.max(r.h, 0.012)) }] : [];
  };
  if (lines.length === 0) return band();
  const lineAt = (y: number) => lines.findIndex(([, ly, , lh]) => y >= ly && y <= ly + lh);
  let [s, e] = [a, b];
  let i = lineAt(s.y);
  let j = lineAt(e.y);
  if (i > j || (i === j && s.x > e.x)) {
    [s, e] = [e, s];
    [i, j] = [j, i];
  }
  // A point between lines starts at the next line below it and ends at the
  // last line above it.
  if (i < 0) i = lines.findIndex(([, ly]) => ly >= s.y);
  if (j < 0) {
    j = -1;
    lines.forEach(([, ly, , lh], k) => { if (ly + lh <= e.y) j = k; });
  }
  if (i < 0 || j < 0 || i > j) return band();
  const out: Rect[] = [];
  for (let k = i; k <= j; k++) {
    const [lx, ly, lw, lh] = lines[k];
    const left = k === i ? Math.max(lx, Math.min(s.x, lx + lw)) : lx;
    const right = k === j ? Math.min(lx + lw, Math.max(e.x, lx)) : lx + lw;
    if (right > left) out.push({ x: left, y: ly, w: right - left, h: lh });
  }
  return out.length > 0 ? out : band();
}

// --- Finding and grouping ---
const contains = (r: Rect, p: Pt) => p.x >= r.x && p.x <= r.x + r.w && p.y >= r.y && p.y <= r.y + r.h;

// The mark under a click: the smallest that holds the point, so a highlight
// inside a region is picked rather than the region around it.
export function markAt(marks: readonly Mark[], page: number, p: Pt): Mark | undefined {
  let best: Mark | undefined;
  for (const m of marks) {
    if (m.page !== page || !contains(m, p)) continue;
    if (!best || m.w * m.h < best.w * best.h) best = m;
  }
  return best;
}

// A mark and the others drawn with it (one per line of one drag).
export function groupOf(marks: readonly Mark[], mark: Mark): Mark[] {
  if (!mark.group) return marks.filter((m) => m.id === mark.id);
  return marks.filter((m) => m.group === mark.group && m.page === mark.page);
}

export interface PageMarks { marks: Mark[]; memos: Memo[]; flags: Flag[] }

export function marksByPage(marks: readonly Mark[], memos: readonly Memo[], flags: readonly Flag[]): Map<number, PageMarks> {
  const pages = new Map<number, PageMarks>();
  const at = (p: number) => {
    let e = pages.get(p);
    if (!e) pages.set(p, (e = { marks: [], memos: [], flags: [] }));
    return e;
  };
  for (const m of marks) at(m.page).marks.push(m);
  for (const m of memos) at(m.page).memos.push(m);
  for (const f of flags) at(f.page).flags.push(f);
  return pages;
}

// --- Where they show: the page grows where lines were inserted ---
// The part of a page's geometry (inserts.ts) the marks are drawn through: y
// values of the script map to fractions of the grown page and back; x may
// move on a row split by an inline insert.
export type MarkGeometry = Pick<PageGeometry, 'extra' | 'toGrown' | 'fromGrown' | 'shiftX'>;

export const flatMarkGeometry: MarkGeometry = flatGeometry;

// A mark over words: its top and bottom each go through the geometry (a
// region around inserted lines grows with them), its sides move with its row.
export function shownRect(r: Rect, g: MarkGeometry): Rect {
  const top = g.toGrown(r.y);
  const bottom = g.toGrown(r.y + r.h);
  const mid = r.y + r.h / 2;
  const left = r.x + g.shiftX(r.x, mid);
  const right = r.x + r.w + g.shiftX(r.x + r.w, mid);
  return { x: left, y: top, w: Math.max(0, right - left), h: Math.max(0, bottom - top) };
}

// A memo keeps its size on the page: only its top goes through the geometry.
export function shownBox(r: Rect, g: MarkGeometry): Rect {
  return { x: r.x, y: g.toGrown(r.y), w: r.w, h: r.h / (1 + Math.max(0, g.extra)) };
}
