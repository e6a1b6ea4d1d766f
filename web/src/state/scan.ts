// Scanned pages of the open script, read by text recognition in the
// background: which pages' words came from recognition (each gets a badge),
// how far the reading is, and why it stopped if it could not read at all. The
// document info tells where things stood when it was made; the
// "scanProgress" events tell what happened since. The actions are
// actions/scan.ts.

import type { DocumentInfo } from '../bridge/types';
import { shortText } from './shown_text';

export interface ScanReading {
  done: number;
  total: number;
}

export interface ScanState {
  // The shown script's path; null with no script.
  path: string | null;
  pageCount: number;
  recognised: ReadonlySet<number>;
  // Under way: done is below total.
  reading: ScanReading | null;
  // Why the pages cannot be read; '' when they can.
  problem: string;
  // The operator closed the problem's line; a new problem shows again.
  dismissed: boolean;
  // An event came since the script was shown: events are newer than any
  // document info of the same script that arrives after them.
  heard: boolean;
}

const noPages: ReadonlySet<number> = new Set();

export const noScan: ScanState = {
  path: null, pageCount: 0, recognised: noPages, reading: null, problem: '', dismissed: false, heard: false,
};

// No script has more pages than this; a longer list is read no further.
export const maxScanPages = 100_000;
const problemChars = 300;

const count = (v: unknown): number => (typeof v === 'number' && Number.isFinite(v) && v > 0 ? Math.min(Math.floor(v), 1e9) : 0);

// `known` with the page indexes of `list` that are pages of the script added;
// the same set when none is new, so nothing drawn from it draws again.
export function withPages(known: ReadonlySet<number>, list: unknown, pageCount: number): ReadonlySet<number> {
  if (!Array.isArray(list)) return known;
  let out: Set<number> | null = null;
  const n = Math.min(list.length, maxScanPages);
  for (let i = 0; i < n; i++) {
    const p: unknown = list[i];
    if (typeof p !== 'number' || !Number.isInteger(p) || p < 0 || p >= pageCount || (out ?? known).has(p)) continue;
    out ??= new Set(known);
    out.add(p);
  }
  return out ?? known;
}

// Under way, or null when there is nothing (left) to read.
function readingOf(done: unknown, total: unknown): ScanReading | null {
  const t = count(total);
  const d = Math.min(count(done), t);
  return d < t ? { done: d, total: t } : null;
}

function problemOf(v: unknown): string {
  return typeof v === 'string' ? shortText(v, problemChars).replace(/\s+/g, ' ').trim() : '';
}

// A script shown. The same script laid out again (a crop, its lines read)
// keeps what the events told; another one starts afresh.
export function scanOfDocument(prev: ScanState, doc: DocumentInfo): ScanState {
  const same = prev.path !== null && prev.path === doc.path;
  const base: ScanState = same ? prev : { ...noScan, path: doc.path };
  const pageCount = Math.min(count(doc.pageCount), maxScanPages);
  const r = doc.scanReading as unknown;
  const told = typeof r === 'object' && r !== null ? readingOf((r as ScanReading).done, (r as ScanReading).total) : null;
  return {
    ...base,
    pageCount,
    recognised: withPages(base.recognised, doc.recognisedPages, pageCount),
    reading: base.heard ? base.reading : told,
  };
}

// A "scanProgress" event; the same state when there is no script or the
// payload is damaged.
export function scanOfEvent(prev: ScanState, payload: unknown): ScanState {
  if (prev.path === null || typeof payload !== 'object' || payload === null) return prev;
  const p = payload as Record<string, unknown>;
  if (typeof p.done !== 'number' || typeof p.total !== 'number') return prev;
  const problem = problemOf(p.problem);
  return {
    ...prev,
    recognised: withPages(prev.recognised, p.recognisedPages, prev.pageCount),
    // With a problem the reading has stopped, wherever it was.
    reading: problem ? null : readingOf(p.done, p.total),
    problem,
    dismissed: problem !== '' && problem === prev.problem && prev.dismissed,
    heard: true,
  };
}

export function dismissedScan(s: ScanState): ScanState {
  return s.problem && !s.dismissed ? { ...s, dismissed: true } : s;
}

export interface ScanLine {
  text: string;
  // The reading stopped: the line can be closed.
  problem: boolean;
}

// The quiet line under the show's controls, or null for none.
export function scanLine(s: ScanState): ScanLine | null {
  if (s.path === null) return null;
  if (s.problem) return s.dismissed ? null : { text: `Scanned pages are not read: ${s.problem}`, problem: true };
  return s.reading ? { text: `Reading scanned pages: ${s.reading.done} of ${s.reading.total}`, problem: false } : null;
}
