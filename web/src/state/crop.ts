// Crop mode: a frame drawn over a shown page becomes the script's manual crop.
// The page is shown cropped, so a frame in fractions of the shown page is
// turned into a frame of the whole page through that page's own crop.

import type { DocumentInfo } from '../bridge/types';
export type Rect = [number, number, number, number];

const whole: Rect = [0, 0, 1, 1];
// The smallest frame the pointer or the keys leave, as a fraction of the shown page.
export const smallestFrame = 0.02;
// One arrow press moves or sizes the frame by this much of the shown page.
export const frameStep = 0.01;

function isRect(v: unknown): v is Rect {
  return Array.isArray(v) && v.length === 4 && v.every((n) => typeof n === 'number' && Number.isFinite(n)) &&
    v[2] > 0 && v[3] > 0;
}

// The part of the whole page that `page` shows, [x, y, w, h], y down: the
// document's per-page frames when it has them, else the first page's
// automatic crop, else the whole page.
export function shownPart(doc: DocumentInfo, page: number): Rect {
  const own = doc.cropRects?.[page];
  if (isRect(own)) return own;
  if (Array.isArray(doc.cropRects) && doc.cropRects.length > 0) return whole;
  return isRect(doc.autoCrop) ? doc.autoCrop : whole;
}

// A frame on the shown page as a frame of the whole page.
export function toWholePage(frame: Rect, shown: Rect): Rect {
  return [shown[0] + frame[0] * shown[2], shown[1] + frame[1] * shown[3], frame[2] * shown[2], frame[3] * shown[3]];
}

// A frame of the whole page as fractions of the shown page (the inverse).
export function toShownPage(frame: Rect, shown: Rect): Rect {
  return [(frame[0] - shown[0]) / shown[2], (frame[1] - shown[1]) / shown[3], frame[2] / shown[2], frame[3] / shown[3]];
}

const clamp = (v: number, lo: number, hi: number) => Math.min(hi, Math.max(lo, v));

// A spot `y` down the shown part of `page` in `before` (a fraction of it), as
// a fraction of the shown part in `after`: the same line of the script,
// whatever the two crops.
export function reframedY(before: DocumentInfo, after: DocumentInfo, page: number, y: number): number {
  const from = shownPart(before, page);
  const to = shownPart(after, page);
  return clamp((from[1] + y * from[3] - to[1]) / to[3], 0, 1);
}

// Kept on the shown page and never smaller than the smallest frame.
export function fitFrame(r: Rect): Rect {
  const w = clamp(r[2], smallestFrame, 1);
  const h = clamp(r[3], smallestFrame, 1);
  return [clamp(r[0], 0, 1 - w), clamp(r[1], 0, 1 - h), w, h];
}

// The frame between two pointer positions, either corner first.
export function frameBetween(a: { x: number; y: number }, b: { x: number; y: number }): Rect {
  const x0 = clamp(Math.min(a.x, b.x), 0, 1);
  const y0 = clamp(Math.min(a.y, b.y), 0, 1);
  const x1 = clamp(Math.max(a.x, b.x), 0, 1);
  const y1 = clamp(Math.max(a.y, b.y), 0, 1);
  return fitFrame([x0, y0, x1 - x0, y1 - y0]);
}

// Arrow keys move the frame; with Shift they move its lower right corner.
export function stepFrame(r: Rect, dx: number, dy: number, resize: boolean): Rect {
  if (!resize) return fitFrame([r[0] + dx, r[1] + dy, r[2], r[3]]);
  return fitFrame([r[0], r[1], Math.min(r[2] + dx, 1 - r[0]), Math.min(r[3] + dy, 1 - r[1])]);
}

// Where Crop mode starts on `page`: the manual crop where it shows on that
// page, else the whole shown page.
export function startFrame(doc: DocumentInfo, page: number): Rect {
  if (!isRect(doc.crop)) return whole;
  const r = toShownPage(doc.crop, shownPart(doc, page));
  const x0 = clamp(r[0], 0, 1);
  const y0 = clamp(r[1], 0, 1);
  return fitFrame([x0, y0, clamp(r[0] + r[2], 0, 1) - x0, clamp(r[1] + r[3], 0, 1) - y0]);
}

export interface CropFrame {
  page: number;
  rect: Rect;
}

// Marks are kept in fractions of the cropped page; until a long script's
// crop is known nothing may be placed, moved or exported in another frame.
export const linesPendingText = "The script's lines are still being read - marks can be made in a moment.";
