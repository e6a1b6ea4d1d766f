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

export interface LabelLayout {
  // Left edge of the label box, px from the page's left edge.
  left: number;
  // Width of the label box (text and both insets), px.
  width: number;
  // The text as drawn, one entry a line.
  lines: string[];
  rows: number;
  // How far left of its line end the label box starts, px.
  padL: number;
  // Height of the label box, px.
  height: number;
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

// A label sits at its line end. One that would run past the page's right edge
// moves left until it ends at the edge, on its own line (padL says how far);
// wrapping in the margin would stack labels over each other's lines. Only a
// label wider than the page wraps, within it, in at most maxLabelRows rows.
// Only the start of the text that those rows can hold is laid out (no glyph
// of the label face is narrower than a fifth of its size), so the cost is
// bounded whatever the label holds; a run of line breaks reads as a space.
export function layoutLabel(text: string, lineEnd: number, pageWidth: number, fontPx: number, measure: Measure): LabelLayout {
  const { labelPadX_px: padX, labelPadY_px: padY, labelLineH } = overlayMetrics;
  const edge = labelEdge;
  const room = Math.max(0, pageWidth - 2 * edge);
  const roomText = Math.max(1, room - 2 * padX);
  const end = Number.isFinite(lineEnd) ? lineEnd : 0;
  const start = Math.min(Math.max(end, edge), Math.max(edge, pageWidth - edge));
  const kept = clipText(text, maxLabelRows * visibleChars(roomText, 0, fontPx).chars);
  const flat = kept.text.replace(/[\r\n\t\v\f]+/g, ' ');
  let lines = [flat];
  let width = measure(flat) + 2 * padX;
  let left = start;
  if (kept.cut || start + width > pageWidth - edge) {
    if (kept.cut || width > room) {
      lines = wrap(flat, roomText, measure, maxLabelRows, kept.cut);
      width = Math.min(room, Math.max(...lines.map(measure)) + 2 * padX);
      left = edge;
    } else {
      left = pageWidth - edge - width;
    }
  }
  const rows = lines.length;
  return { left, width, lines, rows, padL: Math.max(0, end - left), height: rows * labelLineH * fontPx + 2 * padY };
}

export function layoutCueLabel(cue: Cue, lineEnd: number, pageWidth: number, fontPx: number, measure: Measure): LabelLayout {
  return layoutLabel(labelText(cue), lineEnd, pageWidth, fontPx, measure);
}
