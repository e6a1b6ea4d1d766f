// What the show panel and the overlays derive from the engine's cue state.
// The engine already sends the cues in script order; nothing here re-sorts.

import type { Cue, CueType } from '../bridge/types';

export interface ShowSummary {
  standby: Cue | undefined;
  // The cues after standby, in script order.
  next: Cue[];
  firedCount: number;
  total: number;
  // Standby and count are those of the saved run a GO would continue.
  offered: boolean;
}

// Each cue's place in script order, made once per cue list: a GO then finds
// its cues without walking the list.
export function orderOf(cues: readonly Cue[]): Map<string, number> {
  const map = new Map<string, number>();
  for (let i = 0; i < cues.length; i++) map.set(cues[i].id, i);
  return map;
}

// The standby cue and the `nextCount` after it; the counts are the run's.
export function showSummary(cues: readonly Cue[], order: ReadonlyMap<string, number>, standbyID: string, nextCount = 2): Pick<ShowSummary, 'standby' | 'next'> {
  const index = standbyID ? order.get(standbyID) ?? -1 : -1;
  if (index < 0) return { standby: undefined, next: [] };
  return { standby: cues[index], next: cues.slice(index + 1, index + 1 + nextCount) };
}

// The text beside a cue's box: its type and number, as called on headset.
export function cueTag(cue: Cue): string {
  const number = cue.number.trim();
  const kind = cue.kind.trim();
  if (kind && number) return `${kind} ${number}`;
  return kind || number || '?';
}

// Records grouped by page for the overlays, so a page draws only its own.
export function byPage<T extends { page: number }>(records: readonly T[]): Map<number, T[]> {
  const map = new Map<number, T[]>();
  for (const c of records) {
    const list = map.get(c.page);
    if (list) list.push(c);
    else map.set(c.page, [c]);
  }
  return map;
}

// Where the label starts, as a fraction of the page width: where the page put
// it, else just right of the box; within the page (placeLabel moves a label
// that would not fit).
export function labelLeft(cue: Cue): number {
  const x = cue.labelX > 0 ? cue.labelX : cue.x + cue.w + 0.006;
  return Math.min(Math.max(x, 0), 1);
}

// A cue's own colour, else its type's colour from the settings; none leaves the
// drawing to the theme's cue colour.
export function cueColor(cue: Cue, types: readonly CueType[] | undefined): string | undefined {
  if (cue.color) return cue.color;
  const type = types?.find((t) => t.name === cue.kind);
  return type?.color || undefined;
}

// The cue `delta` steps from `id` in script order (the engine's order). With
// no cue at `id` (no standby: past the last cue) a step back lands on the
// last cue and a step forward finds nothing.
export function stepCue(cues: readonly Cue[], id: string, delta: number, order?: ReadonlyMap<string, number>): Cue | undefined {
  if (cues.length === 0 || !Number.isInteger(delta) || delta === 0) return undefined;
  const i = !id ? -1 : order ? order.get(id) ?? -1 : cues.findIndex((c) => c.id === id);
  if (i < 0) return delta < 0 ? cues[cues.length + delta] : undefined;
  return cues[i + delta];
}

// The cue that glows: the standby cue, or with "next" the one after it, the
// cue the operator is about to give standby for. Anything else reads as
// "standby", so an unknown setting never leaves the booth without a glow.
export function glowCueID(state: { cues: readonly Cue[]; standbyID: string }, glowTarget: string | undefined, order?: ReadonlyMap<string, number>): string {
  if (glowTarget !== 'next') return state.standbyID;
  return (state.standbyID && stepCue(state.cues, state.standbyID, 1, order)?.id) || '';
}
