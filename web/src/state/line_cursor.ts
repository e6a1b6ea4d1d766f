// The line cursor of Cue Mode: a cue placed from the keyboard alone. The
// cursor walks the script's text lines ("pageLines" of each page, in reading
// order) and places a cue over its whole line as a drag along it would.

import type { Cue } from '../bridge/types';

export type LineRect = [number, number, number, number];

export interface LineAt {
  page: number;
  line: number;
}

const finite = (n: unknown): n is number => typeof n === 'number' && Number.isFinite(n);

// The lines of a page as the native side answers them; anything but a list
// of [x, y, w, h] with some width and height is left out.
export function readLines(answer: unknown): LineRect[] {
  if (!Array.isArray(answer)) return [];
  const lines: LineRect[] = [];
  for (const r of answer) {
    if (!Array.isArray(r) || r.length < 4 || !r.slice(0, 4).every(finite)) continue;
    const [x, y, w, h] = r as number[];
    if (w > 0 && h > 0) lines.push([x, y, w, h]);
  }
  return lines;
}

// One line on (delta 1) or back (-1), across pages; pages without text are
// passed over. Null at either end of the script: the cursor stays.
export async function stepLine(
  at: LineAt, delta: 1 | -1, pageCount: number, linesOf: (page: number) => Promise<LineRect[]>,
): Promise<LineAt | null> {
  let page = at.page;
  let line = at.line + delta;
  for (;;) {
    const count = (await linesOf(page)).length;
    if (line >= 0 && line < count) return { page, line };
    page += delta;
    if (page < 0 || page >= pageCount) return null;
    line = delta > 0 ? 0 : (await linesOf(page)).length - 1;
  }
}

// The first line from `page` on whose middle is below `y` (a fraction down
// that page), on a later page when that page has none below.
export async function firstLineBelow(
  page: number, y: number, pageCount: number, linesOf: (page: number) => Promise<LineRect[]>,
): Promise<LineAt | null> {
  for (let p = Math.max(0, page), below = y; p < pageCount; p++, below = -Infinity) {
    const lines = await linesOf(p);
    const i = lines.findIndex((r) => r[1] + r[3] / 2 > below);
    if (i >= 0) return { page: p, line: i };
  }
  return null;
}

// Where the cursor starts: the line after the selected cue, else the first
// line at or below the top of the view.
export function cursorStart(selected: Cue | undefined, viewTop: { page: number; y: number }): { page: number; y: number } {
  if (selected) return { page: selected.page, y: selected.y + selected.h };
  return { page: viewTop.page, y: viewTop.y };
}

// The drag along a line that selects all of it: from just inside its left
// end to just inside its right end, at its middle.
export function lineDrag(r: LineRect): { from: { x: number; y: number }; to: { x: number; y: number } } {
  const [x, y, w, h] = r;
  const inset = Math.min(0.002, w / 4);
  const mid = y + h / 2;
  return { from: { x: x + inset, y: mid }, to: { x: x + w - inset, y: mid } };
}

// What a screen reader hears as the cursor moves.
export function cursorAnnouncement(pageName: string, line: number, text: string): string {
  const words = text.trim().replace(/\s+/g, ' ');
  const said = words ? `${words}${/[.!?…]$/.test(words) ? '' : '.'}` : '(no words)';
  return `Page ${pageName}, line ${line + 1}: ${said}`;
}
