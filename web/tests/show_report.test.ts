// The show report's pure parts: the core's answer read into bounded records,
// the times as the sheet prints them, and the timeline's geometry.
import { describe, expect, it } from 'vitest';
import type { ReportPerformance } from '../src/bridge/types';
import {
  clockTime, dateText, duration, labelChars, maxCues, maxPerformances, omittedText, performanceSummary, readReport, spanRows,
  timeline,
} from '../src/state/show_report';
import { localMs, performance } from './fake_bridge';

// The strokes of a ticks path as [x, top, length].
const strokes = (d: string) => [...d.matchAll(/M(-?[\d.]+) (-?[\d.]+)v(-?[\d.]+)/g)].map((m) => m.slice(1).map(Number));
// The rectangles of a bands path as [x, width].
const rects = (d: string) => [...d.matchAll(/M(-?[\d.]+) [\d.]+h(-?[\d.]+)v/g)].map((m) => [Number(m[1]), Number(m[2])]);

describe('times', () => {
  it.each([
    [0, '0:00:00'], [59.4, '0:00:59'], [59.5, '0:01:00'], [4100, '1:08:20'], [8000, '2:13:20'], [360000, '100:00:00'],
    [-5, '0:00:00'], [NaN, '0:00:00'], [Infinity, '0:00:00'],
  ])('%s seconds last %s', (seconds, text) => expect(duration(seconds)).toBe(text));

  it('reads the local clock and date, and one line per performance', () => {
    expect([clockTime(localMs(7, 9, 5, 3)), clockTime(localMs(7, 23, 59, 59)), dateText(localMs(7, 19, 30))])
      .toEqual(['09:05:03', '23:59:59', 'Sat 7 Dec 2024']);
    expect(performanceSummary(performance())).toBe('Sat 7 Dec 2024, 19:30:00–21:43:20, 2:13:20, 3 cues');
    expect(performanceSummary(performance({ cueCount: 1, resumed: true }))).toMatch(/, 1 cue, resumed$/);
  });
});

describe('reading the answer', () => {
  it.each([null, 'report', 42, {}, { performances: 'none' }])('refuses %j', (answer) => expect(readReport(answer)).toBeNull());

  it('keeps a damaged performance readable: numbers, texts and lists it lacks are empty', () => {
    const r = readReport({ performances: [{ start: '1', running: NaN, cues: [{ label: 7, at: Infinity }, null], acts: 'x' }, 'junk'] });
    expect(r?.performances).toEqual([{
      start: 0, end: 0, running: 0, resumed: false, acts: [], intervals: [], cueCount: 0, backs: 0, standbys: 0, ignored: 0,
      cues: [{ number: '', label: '', type: '', source: '', at: 0, held: 0, act: 0, wall: 0 }], cuesOmitted: 0, cuesLoaded: true,
    }]);
    expect(r?.script).toBe('');
  });

  it('bounds what it keeps: newest first, twenty performances, 2,000 cues, labels cut', () => {
    const label = 'x'.repeat(100_000);
    const cues = Array.from({ length: maxCues + 5 }, (_, i) => ({ number: String(i), label, wall: i }));
    const many = Array.from({ length: maxPerformances + 3 }, (_, i) => ({ ...performance({ start: i }), cues, cuesOmitted: 10 }));
    const r = readReport({ script: 'Demo', intervalMinutes: 8, performances: many })!;
    expect(r.performances.map((p) => p.start)).toEqual(Array.from({ length: maxPerformances }, (_, i) => maxPerformances - 1 - i));
    const p = r.performances[0];
    expect([p.cues.length, p.cuesOmitted, p.cues[0].label.length]).toEqual([maxCues, 15, labelChars + 1]);
    expect(p.cues[0].label.endsWith('…')).toBe(true);
    expect(omittedText(p)).toBe('15 more cues are not shown here; the CSV export has every cue.');
    expect(omittedText(performance({ cuesOmitted: 1 }))).toMatch(/^1 more cue is /);
    expect(omittedText(performance())).toBe('');
  });

  it.each([
    ['x'.repeat(labelChars), 'x'.repeat(labelChars)],
    ['x'.repeat(labelChars - 1) + '\u{1F600}', `${'x'.repeat(labelChars - 1)}…`],
    ['word '.repeat(100), `${'word '.repeat(labelChars / 5).trim()}…`],
  ])('cuts a label of %#: never a character in half, no blank before the ellipsis', (label, shown) => {
    expect(readReport({ performances: [{ cues: [{ label }] }] })?.performances[0].cues[0].label).toBe(shown);
  });

  it('lists the acts with the intervals between them', () => {
    expect(spanRows(performance()).map((r) => [r.name, clockTime(r.start), duration(r.seconds), r.gos])).toEqual([
      ['Act 1', '19:30:00', '1:08:20', 2],
      ['Interval', '20:38:20', '0:21:30', undefined],
      ['Act 2', '20:59:50', '0:43:30', 1],
    ]);
  });
});

describe('the timeline', () => {
  it('puts the acts as bands, a stroke per GO and the interval length in its gap', () => {
    // 616 wide: 600 px for the 8,000 s, from x = 8.
    const t = timeline(performance(), 616);
    // 4,100 s from 19:30:00, then 2,610 s from 20:59:50 (5,390 s in).
    expect(rects(t.bands)).toEqual([[8, 307.5], [412, 196]]);
    expect(strokes(t.ticks).map((s) => s[0])).toEqual([8, 315.5, 608]);
    expect(t.gaps).toEqual([{ x: 364, text: '0:21:30' }]);
    // Too narrow for the words: the gap stays, its label goes.
    expect(timeline(performance(), 200).gaps).toEqual([]);
  });

  it.each([
    ['one GO', { end: localMs(7, 19, 30) }],
    ['ending before it starts', { end: localMs(7, 19, 0) }],
  ])('draws a performance of no length (%s) mid-line', (_name, fields: Partial<ReportPerformance>) => {
    const start = localMs(7, 19, 30);
    const p = performance({ ...fields, acts: [{ start, end: start, seconds: 0, gos: 1 }], intervals: [],
      cues: [{ number: '1', label: '', type: 'LX', source: 'key', at: 0, held: 0, act: 0, wall: start }] });
    const t = timeline(p, 400);
    expect([strokes(t.ticks), rects(t.bands), t.gaps]).toEqual([[[200, 8, 24]], [[199, 2]], []]);
    expect(`${t.ticks}${t.bands}`).not.toMatch(/NaN|Infinity/);
  });

  it('draws 2,000 GOs as one stroke per half pixel, inside the line, whatever their times', () => {
    const start = 1_733_600_000_000;
    const cues = Array.from({ length: 2000 }, (_, i) => ({
      number: String(i), label: '', type: 'LX', source: 'osc', at: i * 4, held: 4, act: 0,
      // The last few lie outside the performance's own times.
      wall: i < 1995 ? start + i * 4000 : start + (i - 1997) * 10_000_000,
    }));
    const t = timeline(performance({ start, end: start + 1994 * 4000, cues }), 616);
    const xs = strokes(t.ticks).map((s) => s[0]);
    expect(new Set(xs).size).toBe(xs.length);
    expect(xs.length).toBeLessThanOrEqual(2 * 600 + 1);
    expect(xs.length).toBeGreaterThan(1000);
    expect([Math.min(...xs), Math.max(...xs)]).toEqual([8, 608]);
    expect(t.ticks.length).toBeLessThan(xs.length * 16);
  });

  it.each([[NaN, 600], [0, 120], [1e9, 8000]])('takes a width of %s as %s', (width, used) => {
    expect(timeline(performance(), width).width).toBe(used);
  });
});
