// The saved-run offer: what the banner over a reopened script says, and when
// it is shown at all.

import type { Cue, SavedRun } from '../bridge/types';

function count(v: unknown): number | null {
  return typeof v === 'number' && Number.isInteger(v) && v >= 0 ? v : null;
}

// "12 of 48 cues fired, standby 13 Lights fade"; none when the offer is empty
// or damaged (the core sends {} when there is nothing to resume).
export function resumeText(run: SavedRun | undefined | null): string | null {
  if (!run || typeof run !== 'object') return null;
  const fired = count(run.count);
  const total = count(run.total);
  if (fired === null || total === null || total === 0 || fired > total) return null;
  if (typeof run.standbyID !== 'string' || run.standbyID === '') return null;
  const number = typeof run.number === 'string' && run.number.trim() ? run.number.trim() : '';
  const label = typeof run.label === 'string' ? run.label.trim() : '';
  const standby = [number, label].filter(Boolean).join(' ') || 'unnumbered cue';
  return `${fired} of ${total} cues fired, standby ${standby}`;
}

// The core's offer follows every write of the run file, so it is there during
// the performance too: the banner belongs to a reopened script only, before
// its first cue fires (from here, a desk or the remote) and until answered;
// the monitor never shows it.
export function resumeBannerText(run: SavedRun | undefined | null, answered: boolean, confidence: boolean, liveFired = 0): string | null {
  if (answered || confidence || liveFired > 0) return null;
  return resumeText(run);
}

export interface OpeningPlace {
  page: number;
  // Fraction down the page.
  y: number;
  // Whether the view follows the standby cue from the start.
  follow: boolean;
}

// Where a script opens. A run in progress (a reload of the page mid-show)
// opens at its standby cue. A script with nothing fired opens at its first
// page, or at the standby cue when that is on one of the first `near` pages;
// a saved run is not in the engine until Resume, so its standby does not
// count here. With no standby at all (no cues, or every cue fired) the view
// opens at `fallback`.
export interface RunAtOpen {
  cues: readonly Cue[];
  standbyID: string;
  firedCount: number;
}

export function openingPlace(state: RunAtOpen, pageCount: number, fallback = 0, near = 2): OpeningPlace {
  const last = Math.max(0, pageCount - 1);
  const clamp = (p: number) => Math.min(Math.max(0, Math.trunc(p) || 0), last);
  const standby = state.standbyID ? state.cues.find((c) => c.id === state.standbyID) : undefined;
  if (!standby) return { page: clamp(fallback), y: 0, follow: true };
  if (state.firedCount > 0 || standby.page < near) return { page: clamp(standby.page), y: standby.y, follow: true };
  return { page: 0, y: 0, follow: false };
}
