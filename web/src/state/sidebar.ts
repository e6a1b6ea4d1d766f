// What the sidebar lists: the cues in script order, the control log and the
// state of the remote inputs.

import type { ControlStatus, LogEntry } from '../bridge/types';

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

// The cue list draws only the rows near its viewport: rows have one fixed
// height, so a row's place is its index times that height. The engine sends
// the cues in script order; numbers like "9" and "10" or "12.5" inserted
// later are never re-sorted here.
export const cueRowHeight = 26;

export interface RowWindow {
  // First row drawn and one past the last.
  first: number;
  end: number;
}

// The rows that meet the viewport, plus `overscan` rows either side so a
// wheel turn shows rows already drawn; always within [0, count).
export function rowWindow(count: number, rowHeight: number, scrollTop: number, viewHeight: number, overscan = 8): RowWindow {
  if (count <= 0 || rowHeight <= 0) return { first: 0, end: 0 };
  const top = Math.max(0, scrollTop);
  const first = Math.max(0, Math.floor(top / rowHeight) - overscan);
  const end = Math.min(count, Math.ceil((top + Math.max(0, viewHeight)) / rowHeight) + overscan);
  return { first: Math.min(first, count), end: Math.max(end, Math.min(first, count)) };
}

// Where to scroll the list so that row `index` is wholly in view, or null
// when it already is: the standby row is brought back into view after a GO,
// a row reached by the arrow keys likewise; a row in view never moves it.
export function scrollToRow(index: number, rowHeight: number, scrollTop: number, viewHeight: number): number | null {
  if (index < 0) return null;
  const top = index * rowHeight;
  const bottom = top + rowHeight;
  if (top < scrollTop) return top;
  if (bottom > scrollTop + viewHeight) return Math.max(0, bottom - viewHeight);
  return null;
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
