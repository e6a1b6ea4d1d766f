// The pure parts of the show report sheet: reading the core's answer into
// bounded records, the times as an operator reads them, and the timeline's
// geometry (one path for the acts, one for the GOs, whatever their number).

import type { ReportAct, ReportCue, ReportInterval, ReportPerformance, ShowReport } from '../bridge/types';
import { ellipsis } from './shown_text';

// The core sends no more; a larger answer is cut to this, so a damaged or
// hostile one costs no more to draw than the largest real one.
export const maxPerformances = 20;
export const maxCues = 2000;
// A label may hold a pasted chapter: a table cell shows its start only.
export const labelChars = 200;
const shortChars = 40;

const num = (v: unknown): number => (typeof v === 'number' && Number.isFinite(v) ? v : 0);
const count = (v: unknown): number => Math.max(0, Math.trunc(num(v)));
// Cut by UTF-16 units, dropping a pair split at the cut: 40,000 labels are
// read at once, and walking each one's characters costs more than the sheet.
function cut(v: string, max: number): string {
  if (v.length <= max) return v;
  const last = v.charCodeAt(max - 1);
  const end = last >= 0xd800 && last <= 0xdbff ? max - 1 : max;
  return v.slice(0, end).trimEnd() + ellipsis;
}
const text = (v: unknown, max: number): string => (typeof v === 'string' ? cut(v, max) : '');
const objects = (v: unknown, max: number): Record<string, unknown>[] =>
  (Array.isArray(v) ? v.slice(0, max) : []).filter((o): o is Record<string, unknown> => typeof o === 'object' && o !== null);

function readCue(c: Record<string, unknown>): ReportCue {
  return {
    number: text(c.number, shortChars),
    label: text(c.label, labelChars),
    type: text(c.type, shortChars),
    source: text(c.source, shortChars),
    at: num(c.at),
    held: num(c.held),
    act: count(c.act),
    wall: num(c.wall),
  };
}

const readSpan = (s: Record<string, unknown>): ReportInterval => ({ start: num(s.start), end: num(s.end), seconds: num(s.seconds) });

function readPerformance(p: Record<string, unknown>): ReportPerformance {
  const cues = Array.isArray(p.cues) ? p.cues : [];
  return {
    start: num(p.start),
    end: num(p.end),
    running: num(p.running),
    resumed: p.resumed === true,
    acts: objects(p.acts, maxCues).map((a): ReportAct => ({ ...readSpan(a), gos: count(a.gos) })),
    intervals: objects(p.intervals, maxCues).map(readSpan),
    cueCount: count(p.cueCount),
    backs: count(p.backs),
    standbys: count(p.standbys),
    ignored: count(p.ignored),
    cues: objects(cues, maxCues).map(readCue),
    // Cues cut here are as missing from the table as those the core left out.
    cuesOmitted: count(p.cuesOmitted) + Math.max(0, cues.length - maxCues),
    cuesLoaded: Array.isArray(p.cues),
  };
}

// The core's answer as records the sheet can draw without checking again;
// null when it is not a report at all.
export function readReport(value: unknown): ShowReport | null {
  const r = value as Record<string, unknown> | null;
  if (typeof r !== 'object' || r === null || !Array.isArray(r.performances)) return null;
  const performances = objects(r.performances, maxPerformances).map(readPerformance);
  // Newest first, whatever order arrived.
  performances.sort((a, b) => b.start - a.start);
  return { script: text(r.script, labelChars), intervalMinutes: num(r.intervalMinutes), performances };
}

const counted = (n: number, one: string, many: string) => `${n} ${n === 1 ? one : many}`;
const pad2 = (n: number) => String(n).padStart(2, '0');
const days = ['Sun', 'Mon', 'Tue', 'Wed', 'Thu', 'Fri', 'Sat'];
const months = ['Jan', 'Feb', 'Mar', 'Apr', 'May', 'Jun', 'Jul', 'Aug', 'Sep', 'Oct', 'Nov', 'Dec'];

// A length as h:mm:ss, to the nearest second; nothing below zero.
export function duration(seconds: number): string {
  const s = Math.round(Number.isFinite(seconds) ? Math.max(0, seconds) : 0);
  return `${Math.floor(s / 3600)}:${pad2(Math.floor(s / 60) % 60)}:${pad2(s % 60)}`;
}

// The local wall clock of a Unix time in milliseconds, as 19:30:05.
export function clockTime(ms: number): string {
  const d = new Date(num(ms));
  return `${pad2(d.getHours())}:${pad2(d.getMinutes())}:${pad2(d.getSeconds())}`;
}

// The local date of a Unix time, as "Sat 7 Dec 2024" in every locale.
export function dateText(ms: number): string {
  const d = new Date(num(ms));
  return `${days[d.getDay()]} ${d.getDate()} ${months[d.getMonth()]} ${d.getFullYear()}`;
}

// One line of the list of performances.
export function performanceSummary(p: ReportPerformance): string {
  const cues = counted(p.cueCount, 'cue', 'cues');
  const times = `${clockTime(p.start)}–${clockTime(p.end)}, ${duration(p.running)}`;
  return `${dateText(p.start)}, ${times}, ${cues}${p.resumed ? ', resumed' : ''}`;
}

// The acts and the intervals between them, in the order they were played.
export interface ReportSpanRow {
  name: string;
  start: number;
  end: number;
  seconds: number;
  // Acts only.
  gos?: number;
}

export function spanRows(p: ReportPerformance): ReportSpanRow[] {
  const rows: ReportSpanRow[] = [];
  p.acts.forEach((a, i) => {
    rows.push({ name: `Act ${i + 1}`, start: a.start, end: a.end, seconds: a.seconds, gos: a.gos });
    const gap = p.intervals[i];
    if (gap && i < p.acts.length - 1) rows.push({ name: 'Interval', start: gap.start, end: gap.end, seconds: gap.seconds });
  });
  return rows;
}

// The timeline drawn across the sheet, y down: the acts as bands, a tick per
// GO inside them, each interval a gap labelled with its length where there is
// room for the words.
export interface Timeline {
  width: number;
  height: number;
  // One path of rectangles and one of vertical strokes: the cost of drawing
  // does not grow with the number of GOs.
  bands: string;
  ticks: string;
  // The interval labels, centred on (x, gapY).
  gaps: { x: number; text: string }[];
  gapY: number;
  // Where the clock labels of the first and last GO sit.
  baseline: number;
  side: number;
}

export const timelineHeight = 56;
const side = 8;
const bandTop = 4;
const bandHeight = 32;
const tickInset = 4;
// "0:21:30" in the sheet's small print, with a little air. Gap labels never
// overlap, so their number is bounded by the width too.
const gapLabelPx = 56;
// An act of one GO is still seen.
const minBandPx = 2;

const at = (x: number) => Math.round(x * 2) / 2;

export function timeline(p: ReportPerformance, width: number): Timeline {
  const w = Number.isFinite(width) ? Math.min(Math.max(width, 120), 8000) : 600;
  const inner = w - 2 * side;
  const span = p.end - p.start;
  // A performance of one GO (or a damaged one) has no length: all of it sits mid-line.
  const x = (ms: number) => (span > 0 ? side + Math.min(1, Math.max(0, (ms - p.start) / span)) * inner : w / 2);

  let bands = '';
  for (const a of p.acts) {
    const x0 = x(a.start);
    const x1 = x(a.end);
    const bw = at(Math.max(minBandPx, x1 - x0));
    bands += `M${at((x0 + x1 - bw) / 2)} ${bandTop}h${bw}v${bandHeight}h${-bw}z`;
  }

  // GOs closer than half a pixel are one stroke: the string stays as long as
  // the timeline is wide, not as long as the show.
  let ticks = '';
  const drawn = new Set<number>();
  const y0 = bandTop + tickInset;
  const tickLength = bandHeight - 2 * tickInset;
  for (const c of p.cues) {
    const tx = at(x(c.wall));
    if (drawn.has(tx)) continue;
    drawn.add(tx);
    ticks += `M${tx} ${y0}v${tickLength}`;
  }

  const gaps: Timeline['gaps'] = [];
  let lastRight = -Infinity;
  for (const i of p.intervals) {
    const x0 = x(i.start);
    const x1 = x(i.end);
    const mid = (x0 + x1) / 2;
    if (x1 - x0 < gapLabelPx || mid - gapLabelPx / 2 < lastRight) continue;
    gaps.push({ x: at(mid), text: duration(i.seconds) });
    lastRight = mid + gapLabelPx / 2;
  }
  const gapY = bandTop + bandHeight / 2;
  return { width: w, height: timelineHeight, bands, ticks, gaps, gapY, baseline: timelineHeight - 4, side };
}

// What else happened in a performance, one phrase each.
export function countsOf(p: ReportPerformance): string[] {
  return [
    counted(p.cueCount, 'cue', 'cues'),
    counted(p.backs, 'BACK', 'BACKs'),
    counted(p.standbys, 'standby move', 'standby moves'),
    `${counted(p.ignored, 'GO', 'GOs')} ignored by the guard`,
  ];
}

// How many cues the table leaves to the CSV, or "" when it shows them all.
export function omittedText(p: ReportPerformance): string {
  if (p.cuesOmitted <= 0) return '';
  const n = p.cuesOmitted;
  return `${n} more ${n === 1 ? 'cue is' : 'cues are'} not shown here; the CSV export has every cue.`;
}

export const emptyReportText =
  'No performances recorded yet. The report starts with the first GO after the script opens or after RESET.';
