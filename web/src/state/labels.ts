// One layout of a cue label for the screen and for the marked export: the
// page draws exactly what this answers and sends the same numbers to the
// export, so a label sits in the PDF where the operator saw it.

import type { Cue } from '../bridge/types';
import { cueTag } from './cues';
import { clipText, ellipsis, visibleChars } from './shown_text';

// The overlay measures the CSS uses (as custom properties set from here) and
// the export layout carries. A cue's box is exactly its words (no padding);
// its outline is the box's own border, inside it: its offset is minus its
// width.
const outlineW = 1.5;

export const overlayMetrics = {
  labelPadX_px: 4,
  labelPadY_px: 1,
  labelLineH: 1.2,
  markRadius_px: 3,
  outlineW_px: outlineW,
  outlineOffset_px: -outlineW,
};

export const labelFamily = "'Liberation Mono', monospace";
// Letter spacing of labels, as a fraction of the font size (the export's too).
export const labelSpacingEm = 0.03;
// Room a label keeps from the page's edges, px.
export const labelEdge = 2;

export function labelFont(fontPx: number): string {
  return `bold ${fontPx}px ${labelFamily}`;
}

// The CSS reads every overlay measure from these properties.
export function applyOverlayMetrics(root: { style: { setProperty(name: string, value: string): void } }): void {
  const m = overlayMetrics;
  const px = (v: number) => `${v}px`;
  root.style.setProperty('--label-pad-x', px(m.labelPadX_px));
  root.style.setProperty('--label-pad-y', px(m.labelPadY_px));
  root.style.setProperty('--label-line-h', String(m.labelLineH));
  root.style.setProperty('--label-spacing', `${labelSpacingEm}em`);
  root.style.setProperty('--label-family', labelFamily);
  root.style.setProperty('--mark-radius', px(m.markRadius_px));
  root.style.setProperty('--outline-w', px(m.outlineW_px));
}

// Width in px of a text in the label font at the size the measurer was made for.
export type Measure = (text: string) => number;

// A canvas in the given CSS font; the letter spacing the CSS adds after every
// character is added here, since a canvas does not apply it. Without a canvas
// (a DOM without one) a monospaced advance of 0.6 em stands in.
export function canvasMeasurer(font: string, fontPx: number, spacingEm = 0): Measure {
  const spacing = spacingEm * fontPx;
  const canvas = typeof document !== 'undefined' ? document.createElement('canvas') : null;
  let ctx: CanvasRenderingContext2D | null = null;
  try {
    ctx = canvas?.getContext('2d') ?? null;
  } catch {
    ctx = null;
  }
  if (ctx) ctx.font = font;
  const cache = new Map<string, number>();
  return (text: string) => {
    let w = cache.get(text);
    if (w === undefined) {
      const chars = [...text].length;
      w = (ctx ? ctx.measureText(text).width : 0.6 * fontPx * chars) + spacing * chars;
      if (cache.size > 4096) cache.clear();
      cache.set(text, w);
    }
    return w;
  };
}

// One measurer per label size, kept: a page's labels are measured on every render.
const labelMeasurers = new Map<number, Measure>();
export function labelMeasurer(fontPx: number): Measure {
  let m = labelMeasurers.get(fontPx);
  if (!m) {
    m = canvasMeasurer(labelFont(fontPx), fontPx, labelSpacingEm);
    labelMeasurers.set(fontPx, m);
  }
  return m;
}

export function labelText(cue: Cue): string {
  const tag = cueTag(cue);
  const label = cue.label.trim();
  return label ? `${tag} ${label}` : tag;
}

// A label shows at most this many rows, the last ending in an ellipsis when
// there is more: a label is a cue's name on the headset, not a paragraph.
export const maxLabelRows = 3;

// The most code points of `chars` (at least one) whose prefix fits the room:
// a binary search, so a long word costs a few measures per row, not one per
// character.
function fitting(chars: string[], room: number, measure: Measure, suffix = ''): number {
  let lo = 0;
  let hi = chars.length;
  while (lo < hi) {
    const mid = Math.ceil((lo + hi) / 2);
    if (measure(chars.slice(0, mid).join('') + suffix) <= room) lo = mid;
    else hi = mid - 1;
  }
  return lo;
}

function withEllipsis(line: string, room: number, measure: Measure): string {
  const chars = Array.from(line.replace(/\s+$/, ''));
  const n = fitting(chars, room, measure, ellipsis);
  return chars.slice(0, n).join('').replace(/\s+$/, '') + ellipsis;
}

// Greedy wrap at spaces into at most `maxRows` rows; a word wider than the
// room is cut by characters. The last row ends in an ellipsis when text is
// left over (`cut`: the caller kept only the start of it).
function wrap(text: string, room: number, measure: Measure, maxRows: number, cut: boolean): string[] {
  const lines: string[] = [];
  const words = text.split(' ');
  let line = '';
  let left = cut;
  words: for (let w = 0; w < words.length; w++) {
    const joined = line ? `${line} ${words[w]}` : words[w];
    if (measure(joined) <= room) {
      line = joined;
      continue;
    }
    if (line) {
      lines.push(line);
      line = '';
      if (lines.length >= maxRows) {
        left = true;
        break;
      }
    }
    let piece = words[w];
    while (measure(piece) > room) {
      const chars = Array.from(piece);
      const n = Math.max(1, fitting(chars, room, measure));
      lines.push(chars.slice(0, n).join(''));
      piece = chars.slice(n).join('');
      if (lines.length >= maxRows) {
        left = left || piece !== '' || w + 1 < words.length;
        break words;
      }
    }
    line = piece;
  }
  if (line || lines.length === 0) lines.push(line);
  if (left) lines[lines.length - 1] = withEllipsis(lines[lines.length - 1], room, measure);
  return lines;
}

// --- Labels in the page's outer margin ---
//
// A label never sits on the script's words: every page gets a gutter on its
// outer side (the right of a single page or of a right-hand page, the left of
// a left-hand page), and its cues' labels stand there on their lines, joined
// to their boxes by a thin leader. The export grows each page by the same
// gutter and draws the labels where the page did.

export type GutterSide = 'left' | 'right';

export interface Gutter {
  // Width of the gutter beside each page, px.
  px: number;
  // Too narrow for labels: each shows its cue's number only, the whole label
  // on hover, on selection and in the standby panel.
  chip: boolean;
}

// The gutter takes at most this share of the reading column, and holds
// between these many characters of the label face; below the least, chips.
export const gutterShare = 0.2;
export const gutterChars = { chip: 7, least: 8, most: 20 };

// The advance of one character of the label face: no glyph of a monospaced
// face is wider than 0.6 of its size, and the letter spacing comes on top.
const charPx = (fontPx: number) => (0.6 + labelSpacingEm) * fontPx;

export function labelGutter(column: number, pagesSideBySide: number, fontPx: number): Gutter {
  const size = Number.isFinite(fontPx) && fontPx > 0 ? fontPx : 14;
  const frame = 2 * overlayMetrics.labelPadX_px + 2 * labelEdge;
  const holding = (chars: number) => chars * charPx(size) + frame;
  const share = (Number.isFinite(column) ? Math.max(0, column) : 0) * gutterShare / Math.max(1, pagesSideBySide);
  if (share >= holding(gutterChars.least)) return { px: Math.min(share, holding(gutterChars.most)), chip: false };
  return { px: holding(gutterChars.chip), chip: true };
}

// The outer side of a page: with two pages side by side, the side its place
// in the spread gives it (an odd offset puts the first page alone, on the right).
export function gutterSide(page: number, pagesSideBySide: number, spreadOffset: number): GutterSide {
  if (pagesSideBySide !== 2) return 'right';
  const start = Math.abs(spreadOffset) % 2 === 1 ? 1 : 0;
  if (page < start) return 'right';
  return (page - start) % 2 === 0 ? 'left' : 'right';
}

export interface GutterText {
  lines: string[];
  rows: number;
  width: number;
  height: number;
}

// A label's text in the gutter: wrapped in at most maxLabelRows rows of the
// gutter's width (the last with an ellipsis when there is more), or, in a
// chip, its cue's number on one row. Only the start of the text the rows
// can hold is read (no glyph of the label face is narrower than a fifth of
// its size), so the cost is bounded whatever the label holds; a run of line
// breaks reads as a space.
export function layoutGutterText(text: string, tag: string, gutter: Gutter, fontPx: number, measure: Measure): GutterText {
  const { labelPadX_px: padX, labelPadY_px: padY, labelLineH } = overlayMetrics;
  const room = Math.max(1, gutter.px - 2 * labelEdge);
  const roomText = Math.max(1, room - 2 * padX);
  let lines: string[];
  if (gutter.chip) {
    const chip = clipText(tag, visibleChars(roomText, 0, fontPx).chars).text.replace(/\s+/g, ' ');
    lines = [measure(chip) <= roomText ? chip : withEllipsis(chip, roomText, measure)];
  } else {
    const kept = clipText(text, maxLabelRows * visibleChars(roomText, 0, fontPx).chars);
    const flat = kept.text.replace(/[\r\n\t\v\f]+/g, ' ');
    lines = !kept.cut && measure(flat) <= roomText ? [flat] : wrap(flat, roomText, measure, maxLabelRows, kept.cut);
  }
  const rows = lines.length;
  return {
    lines, rows,
    width: Math.min(room, Math.max(...lines.map(measure)) + 2 * padX),
    height: rows * labelLineH * fontPx + 2 * padY,
  };
}

export interface GutterItem {
  id: string;
  text: string;
  tag: string;
  // The centre of the cue's line, px down the page as shown.
  centreY: number;
  // The cue box's left and right edges, px across the page.
  boxLeft: number;
  boxRight: number;
}

export interface GutterLabel extends GutterText {
  id: string;
  // The label box, px from the page's top-left corner (left is negative in
  // a left gutter, past the page's width in a right one).
  left: number;
  top: number;
  // The leader from the cue box's outer edge to the label: x0, y0, x1, y1 px.
  leader: [number, number, number, number];
}

// Labels this close are apart, px.
export const labelSpacing = 2;

// The labels of one page in its gutter: each centred on its cue's line, a
// label that would overlap the one above stacks below it, and a stack that
// would run off the page's foot moves up as far as the page's top allows.
// Labels never overlap each other; only a page holding more label rows than
// its height runs past its foot.
export function placeGutterLabels(
  items: readonly GutterItem[], pageWidth: number, pageHeight: number, side: GutterSide, gutter: Gutter,
  fontPx: number, measure: Measure,
): GutterLabel[] {
  const laid = items
    .map((item, order) => ({ item, order, text: layoutGutterText(item.text, item.tag, gutter, fontPx, measure) }))
    .map((l) => ({ ...l, want: (Number.isFinite(l.item.centreY) ? l.item.centreY : 0) - l.text.height / 2 }))
    .sort((a, b) => a.want - b.want || a.order - b.order);
  const tops = laid.map((l) => l.want);
  let floor = -Infinity;
  for (let i = 0; i < laid.length; i++) {
    tops[i] = Math.max(tops[i], floor);
    floor = tops[i] + laid[i].text.height + labelSpacing;
  }
  let ceiling = Math.max(0, pageHeight);
  for (let i = laid.length - 1; i >= 0; i--) {
    tops[i] = Math.min(tops[i], ceiling - laid[i].text.height);
    ceiling = tops[i] - labelSpacing;
  }
  floor = 0;
  for (let i = 0; i < laid.length; i++) {
    tops[i] = Math.max(tops[i], floor);
    floor = tops[i] + laid[i].text.height + labelSpacing;
  }
  const fin = (v: number) => (Number.isFinite(v) ? v : 0);
  return laid.map(({ item, text }, i) => {
    const left = side === 'right' ? pageWidth + labelEdge : -labelEdge - text.width;
    const midY = tops[i] + text.height / 2;
    const from = side === 'right' ? item.boxRight : item.boxLeft;
    const to = side === 'right' ? left : left + text.width;
    return { ...text, id: item.id, left, top: tops[i], leader: [fin(from), fin(item.centreY), to, midY] };
  });
}

// A cue's place in its page's gutter, for the cues of a page as shown (their
// boxes on the grown page): what the page draws and what the export gets.
export function cueGutterItems(cues: readonly Cue[], pageWidth: number, pageHeight: number): GutterItem[] {
  return cues.map((cue) => ({
    id: cue.id,
    text: labelText(cue),
    tag: cueTag(cue),
    centreY: (cue.y + cue.h / 2) * pageHeight,
    boxLeft: cue.x * pageWidth,
    boxRight: (cue.x + cue.w) * pageWidth,
  }));
}
