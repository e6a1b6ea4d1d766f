// What the show panel and the overlays derive from the engine's cue state.
// The engine already sends the cues in script order; nothing here re-sorts.

import type { Cue, CueState, CueType } from '../bridge/types';

export interface ShowSummary {
  standby: Cue | undefined;
  // The cues after standby, in script order.
  next: Cue[];
  firedCount: number;
  total: number;
}

export function showSummary(state: CueState, fired: ReadonlySet<string>, nextCount = 2): ShowSummary {
  const index = state.standbyID ? state.cues.findIndex((c) => c.id === state.standbyID) : -1;
  const standby = index >= 0 ? state.cues[index] : undefined;
  const next = index >= 0 ? state.cues.slice(index + 1, index + 1 + nextCount) : [];
  // Only ids still among the cues count: a removed cue stays in "fired"
  // until the engine's next change.
  let firedCount = 0;
  for (const c of state.cues) if (fired.has(c.id)) firedCount++;
  return { standby, next, firedCount, total: state.cues.length };
}

// The text beside a cue's box: its type and number, as called on headset.
export function cueTag(cue: Cue): string {
  const number = cue.number.trim();
  const kind = cue.kind.trim();
  if (kind && number) return `${kind} ${number}`;
  return kind || number || '?';
}

// Cues grouped by page for the overlays, so a page draws only its own.
export function cuesByPage(cues: Cue[]): Map<number, Cue[]> {
  const map = new Map<number, Cue[]>();
  for (const c of cues) {
    const list = map.get(c.page);
    if (list) list.push(c);
    else map.set(c.page, [c]);
  }
  return map;
}

// Where the label starts, as a fraction of the page width: where the page put
// it, else just right of the box; kept on the page.
export function labelLeft(cue: Cue): number {
  const x = cue.labelX > 0 ? cue.labelX : cue.x + cue.w + 0.006;
  return Math.min(Math.max(x, 0), 0.98);
}

// A cue's own colour, else its type's colour from the settings; none leaves the
// drawing to the theme's cue colour.
export function cueColor(cue: Cue, types: readonly CueType[] | undefined): string | undefined {
  if (cue.color) return cue.color;
  const type = types?.find((t) => t.name === cue.kind);
  return type?.color || undefined;
}
