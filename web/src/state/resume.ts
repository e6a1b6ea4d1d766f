// The saved-run offer: what the banner over a reopened script says, and when
// it is shown at all.

import type { SavedRun } from '../bridge/types';

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
