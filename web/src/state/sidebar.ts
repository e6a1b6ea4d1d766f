// What the sidebar lists: the cues in script order, the control log and the
// state of the remote inputs.

import type { ControlStatus, Cue, CueState, LogEntry } from '../bridge/types';

// The core keeps more; the page holds the newest lines only, so a long show
// with a chatty desk never grows the document without end.
export const logLimit = 500;

function isLogEntry(v: unknown): v is LogEntry {
  const e = v as LogEntry | null;
  return typeof e === 'object' && e !== null && typeof e.text === 'string' && typeof e.time === 'string' &&
    typeof e.source === 'string';
}

// The lines after `more` is appended, oldest first, at most `limit`; damaged
// entries are left out.
export function appendLog(lines: readonly LogEntry[], more: readonly unknown[], limit = logLimit): LogEntry[] {
  const next = lines.concat(more.filter(isLogEntry));
  return next.length > limit ? next.slice(next.length - limit) : next;
}

export interface CueRow {
  cue: Cue;
  standby: boolean;
  fired: boolean;
}

// The engine sends the cues in script order; numbers like "9" and "10" or
// "12.5" inserted later must not be re-sorted as text or number here.
export function cueRows(state: CueState, fired: ReadonlySet<string>): CueRow[] {
  return state.cues.map((cue) => ({ cue, standby: cue.id === state.standbyID, fired: fired.has(cue.id) }));
}

// A damaged status keeps nothing from it: the view says "unknown" rather
// than a wrong port.
export function readControlStatus(v: unknown): ControlStatus | null {
  const s = v as Partial<ControlStatus> | null;
  if (typeof s !== 'object' || s === null || typeof s.oscListening !== 'boolean' || typeof s.oscPort !== 'number')
    return null;
  return {
    oscListening: s.oscListening,
    oscPort: s.oscPort,
    oscError: typeof s.oscError === 'string' ? s.oscError : '',
    midiSources: Array.isArray(s.midiSources) ? s.midiSources.filter((m): m is string => typeof m === 'string') : [],
  };
}
