// Placing and editing cues in Cue Mode: the pure parts, so the tests can
// drive them without a page.

import type { Cue } from '../bridge/types';

export interface TextRectAnswer {
  rect: number[];
  text: string;
  lineEnd: number;
  gapL: number;
  gapR: number;
}

export function isTextRectAnswer(v: unknown): v is TextRectAnswer {
  const a = v as TextRectAnswer | null;
  return typeof a === 'object' && a !== null && Array.isArray(a.rect) && a.rect.length === 4 &&
    a.rect.every((n) => typeof n === 'number' && Number.isFinite(n));
}

const clamp01 = (v: number) => (Number.isFinite(v) ? Math.min(Math.max(v, 0), 1) : 0);

// The "textRect" arguments: page index, the two points as fractions of the
// displayed page (a click is the same point twice: one word), snap-to-words.
export function textRectArgs(
  page: number, from: { x: number; y: number }, to: { x: number; y: number }, snapWords: boolean,
): [number, number, number, number, number, boolean] {
  return [Math.trunc(page), clamp01(from.x), clamp01(from.y), clamp01(to.x), clamp01(to.y), snapWords];
}

function numeric(n: string | undefined): number | undefined {
  if (n === undefined || !/^\s*\d+(\.\d+)?\s*$/.test(n)) return undefined;
  return Number(n);
}

function fmt(v: number, decimals: number): string {
  return v.toFixed(decimals).replace(/\.?0+$/, '') || '0';
}

// The shortest number strictly between lo and hi, nearest their middle:
// between 5 and 6 comes 5.5, between 5.5 and 6 comes 5.8.
function between(lo: number, hi: number): string | undefined {
  const mid = (lo + hi) / 2;
  for (let d = 0; d <= 4; d++) {
    const step = 10 ** d;
    const v = Math.round(mid * step) / step;
    if (v > lo && v < hi) return fmt(v, d);
  }
  return undefined;
}

// The number a new cue is offered, from its neighbours in script order.
// Neighbours that are not plain numbers ("A", "12b") are passed over as if
// absent; a number the operator cannot fit is still offered, they type theirs.
export function proposeNumber(before: string | undefined, after: string | undefined): string {
  const lo = numeric(before);
  const hi = numeric(after);
  if (lo === undefined && hi === undefined) return '1';
  if (lo === undefined) {
    // Before the first cue: the whole number below it, else halfway to zero.
    const below = Math.ceil(hi!) - 1;
    if (below >= 1) return String(below);
    return between(0, hi!) ?? '0';
  }
  const next = Math.floor(lo) + 1;
  if (hi === undefined || hi <= lo || next < hi) return String(next);
  return between(lo, hi) ?? `${before!.trim()}.1`;
}

// Script order: page, then top, then left (as the engine orders cues).
function beforeInScript(c: Cue, page: number, y: number, x: number): boolean {
  if (c.page !== page) return c.page < page;
  if (Math.abs(c.y - y) > 1e-4) return c.y < y;
  return c.x <= x;
}

// The neighbours of a point among the cues (sent in script order).
export function neighbours(cues: readonly Cue[], page: number, y: number, x: number): [Cue | undefined, Cue | undefined] {
  let i = 0;
  while (i < cues.length && beforeInScript(cues[i], page, y, x)) i++;
  return [cues[i - 1], cues[i]];
}

export function newCueID(): string {
  const c = (globalThis as { crypto?: { randomUUID?: () => string } }).crypto;
  if (c?.randomUUID) return c.randomUUID().toUpperCase();
  return `C${Date.now().toString(36)}${Math.random().toString(36).slice(2, 10)}`.toUpperCase();
}

// The unfinished cue on the answered rectangle: the box over the words, the
// label at the line end, paddings from the gaps beside the words.
export function draftCue(
  answer: TextRectAnswer, page: number, cues: readonly Cue[], kind: string, id: string,
): Cue {
  const [x, y, w, h] = answer.rect;
  const [before, after] = neighbours(cues, page, y, x);
  return {
    id,
    number: proposeNumber(before?.number, after?.number),
    label: '',
    kind,
    color: '',
    snippet: answer.text ?? '',
    note: '',
    insertID: '',
    page,
    x, y, w, h,
    labelX: Number.isFinite(answer.lineEnd) && answer.lineEnd > 0 ? answer.lineEnd : 0,
    padL: Number.isFinite(answer.gapL) ? Math.max(0, answer.gapL) : 0,
    padR: Number.isFinite(answer.gapR) ? Math.max(0, answer.gapR) : 0,
  };
}

// A copy of a cue with the number that follows it in script order.
export function duplicateOf(cue: Cue, cues: readonly Cue[], id: string): Cue {
  const i = cues.findIndex((c) => c.id === cue.id);
  const after = i >= 0 ? cues[i + 1] : undefined;
  return { ...cue, id, number: proposeNumber(cue.number, after?.number) };
}

// A box moved by a keyboard nudge, its label with it, kept on the page.
export function nudgedCue(cue: Cue, dx: number, dy: number): Cue {
  const x = Math.min(Math.max(cue.x + dx, 0), Math.max(0, 1 - cue.w));
  const y = Math.min(Math.max(cue.y + dy, 0), Math.max(0, 1 - cue.h));
  const moved = x - cue.x;
  return { ...cue, x, y, labelX: cue.labelX > 0 ? Math.min(Math.max(cue.labelX + moved, 0), 1) : cue.labelX };
}
