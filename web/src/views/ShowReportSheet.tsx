// The Show Report sheet: the performances of the open script, newest first;
// the one selected with its acts and intervals, its counts, its timeline and
// its cues; the whole report exported as CSV or PDF. It only reads: Return
// stays GO, Escape or Close closes it and the focus goes back where it was.

import { useSignal } from '@preact/signals';
import { useEffect, useMemo, useRef } from 'preact/hooks';
import type { ReportPerformance, ShowReport } from '../bridge/types';
import { rowWindow } from '../state/sidebar';
import {
  clockTime, countsOf, dateText, duration, emptyReportText, omittedText, performanceSummary, spanRows, timeline,
} from '../state/show_report';
import { useApp } from './context';
import { useScrollBox } from './scroll_box';
import '../report.css';

// Every cue row has this height (report.css), so only the rows in view are drawn.
const cueRowHeight = 24;
export const readingCuesText = 'Reading the cues…';
const keepFocus = (e: MouseEvent) => e.preventDefault();

function Timeline({ p }: { p: ReportPerformance }) {
  const box = useRef<HTMLDivElement>(null);
  const width = useSignal(0);
  // Drawn to the sheet's width: the strokes stay one pixel, the words their size.
  useEffect(() => {
    const node = box.current;
    if (!node) return;
    const measure = () => void (width.value = node.clientWidth);
    measure();
    const ro = new ResizeObserver(measure);
    ro.observe(node);
    return () => ro.disconnect();
  }, []);
  const w = width.value || 600;
  const t = useMemo(() => timeline(p, w), [p, w]);
  const acts = p.acts.length;
  const label = `Timeline from ${clockTime(p.start)} to ${clockTime(p.end)}: ${acts} ${acts === 1 ? 'act' : 'acts'}, ` +
    `${p.cues.length} GOs drawn`;
  return (
    <div ref={box} class="report-timeline">
      <svg width={t.width} height={t.height} viewBox={`0 0 ${t.width} ${t.height}`} role="img" aria-label={label}>
        <path class="report-bands" d={t.bands} />
        <path class="report-ticks" d={t.ticks} />
        {t.gaps.map((g) => (
          <text key={g.x} class="report-gap" x={g.x} y={t.gapY} text-anchor="middle" dominant-baseline="middle">{g.text}</text>
        ))}
        <text class="report-clock" x={t.side} y={t.baseline}>{clockTime(p.start)}</text>
        <text class="report-clock" x={t.width - t.side} y={t.baseline} text-anchor="end">{clockTime(p.end)}</text>
      </svg>
    </div>
  );
}

// The room of rows not drawn, so the scroll bar tells the whole table.
function Spacer({ rows }: { rows: number }) {
  return (
    <tr class="report-spacer" aria-hidden="true">
      <td colSpan={6} style={{ height: `${rows * cueRowHeight}px` }} />
    </tr>
  );
}

// The selected performance's cues; its rows are drawn near the view only.
function CueTable({ p }: { p: ReportPerformance }) {
  const scroller = useRef<HTMLDivElement>(null);
  const top = useSignal(0);
  const height = useSignal(0);
  useScrollBox(scroller, { height, top });
  const count = p.cues.length;
  const { first, end } = rowWindow(count, cueRowHeight, top.value, height.value);
  return (
    <div ref={scroller} class="report-cues" tabIndex={0} aria-label="Cues of the performance"
      onScroll={() => (top.value = scroller.current?.scrollTop ?? 0)}>
      <table>
        <thead>
          <tr><th>Cue</th><th>Label</th><th>Type</th><th>Time</th><th>Into the show</th><th>Held</th></tr>
        </thead>
        <tbody>
          {first > 0 && <Spacer rows={first} />}
          {p.cues.slice(first, end).map((c, i) => (
            <tr key={first + i} data-row={first + i} title={c.source ? `from ${c.source}` : undefined}>
              <td>{c.number}</td>
              <td class="report-label">{c.label}</td>
              <td>{c.type}</td>
              <td>{clockTime(c.wall)}</td>
              <td>{duration(c.at)}</td>
              <td>{duration(c.held)}</td>
            </tr>
          ))}
          {end < count && <Spacer rows={count - end} />}
        </tbody>
      </table>
    </div>
  );
}

function PerformanceDetail({ p }: { p: ReportPerformance }) {
  const omitted = omittedText(p);
  return (
    <section class="report-detail" aria-label="Selected performance">
      <h3>{dateText(p.start)}, {clockTime(p.start)}{p.resumed ? ' (resumed after a crash)' : ''}</h3>
      <table class="report-spans">
        <thead>
          <tr><th>Part</th><th>From</th><th>To</th><th>Length</th><th>GOs</th></tr>
        </thead>
        <tbody>
          {spanRows(p).map((r, i) => (
            <tr key={i} class={r.gos === undefined ? 'report-interval' : 'report-act'}>
              <th scope="row">{r.name}</th>
              <td>{clockTime(r.start)}</td>
              <td>{clockTime(r.end)}</td>
              <td>{duration(r.seconds)}</td>
              <td>{r.gos ?? ''}</td>
            </tr>
          ))}
          <tr class="report-total">
            <th scope="row">Running time</th>
            <td>{clockTime(p.start)}</td>
            <td>{clockTime(p.end)}</td>
            <td>{duration(p.running)}</td>
            <td />
          </tr>
        </tbody>
      </table>
      <ul class="report-counts">
        {countsOf(p).map((c) => <li key={c}>{c}</li>)}
      </ul>
      <Timeline p={p} />
      {p.cuesLoaded ? <CueTable p={p} /> : <p class="status-line">{readingCuesText}</p>}
      {omitted && <p class="status-line">{omitted}</p>}
    </section>
  );
}

function ReportBody({ report: r }: { report: ShowReport }) {
  const { report } = useApp();
  const list = r.performances;
  if (list.length === 0) return <p class="report-empty">{emptyReportText}</p>;
  const chosen = Math.min(report.selected.value, list.length - 1);
  return (
    <>
      <ol class="report-performances" aria-label="Performances">
        {list.map((p, i) => (
          <li key={i}>
            <button type="button" class={i === chosen ? 'selected' : undefined} aria-pressed={i === chosen}
              aria-label={performanceSummary(p)} onMouseDown={keepFocus} onClick={() => report.select(i)}>
              <span>{dateText(p.start)}</span>
              <span>{clockTime(p.start)}–{clockTime(p.end)}</span>
              <span>{duration(p.running)}</span>
              <span>{p.cueCount} {p.cueCount === 1 ? 'cue' : 'cues'}</span>
              <span class="report-resumed">{p.resumed ? 'resumed' : ''}</span>
            </button>
          </li>
        ))}
      </ol>
      {/* Keyed by the performance: another one starts its cue table at the top. */}
      <PerformanceDetail key={chosen} p={list[chosen]} />
    </>
  );
}

function ExportButtons({ none }: { none: boolean }) {
  const { report } = useApp();
  const off = report.exporting.value || none;
  const note = `report-export-note${report.exportFailed.value ? ' failed' : ''}`;
  return (
    <div class="report-export">
      <button type="button" disabled={off} onMouseDown={keepFocus} onClick={() => report.exportAs('csv')}>Export CSV…</button>
      <button type="button" disabled={off} onMouseDown={keepFocus} onClick={() => report.exportAs('pdf')}>Export PDF…</button>
      <span class={note} role="status">{report.exportNote.value}</span>
    </div>
  );
}

export function ShowReportSheet() {
  const { report, sheets } = useApp();
  const sheet = useRef<HTMLDivElement>(null);
  // The sheet takes the focus so Tab walks its buttons; Escape is the page's.
  useEffect(() => sheet.current?.focus({ preventScroll: true }), []);
  const load = report.load.value;
  const script = load.state === 'ready' ? load.report.script : '';
  return (
    <div ref={sheet} class="page-sheet report-sheet" role="dialog" aria-label="Show report" tabIndex={-1}>
      <div class="page-sheet-head">
        <h2>Show Report{script ? ` – ${script}` : ''}</h2>
        <button type="button" onMouseDown={keepFocus} onClick={() => sheets.closePageSheet()}>Close</button>
      </div>
      {load.state === 'loading' && <p class="status-line">Reading the report…</p>}
      {load.state === 'failed' && <p class="sheet-error" role="status">{load.error}</p>}
      {load.state === 'ready' && <ExportButtons none={load.report.performances.length === 0} />}
      {load.state === 'ready' && <ReportBody report={load.report} />}
    </div>
  );
}
