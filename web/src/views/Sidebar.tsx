import { useComputed, useSignal } from '@preact/signals';
import { useLayoutEffect, useRef } from 'preact/hooks';
import type { Cue, LogEntry } from '../bridge/types';
import { cueColor } from '../state/cues';
import { remoteScreensLine } from '../state/share';
import { shortText } from '../state/shown_text';
import { cueRowHeight, rowWindow, scrollToRow } from '../state/sidebar';
import { firedBit, standbyBit } from '../state/store';
import { CarryReview } from './CarryReview';
import { useApp } from './context';
import { memo } from './memo';
import { useRenderEffect } from './render_effect';
import { useScrollBox } from './scroll_box';

// A row shows one line: more than a wide sidebar holds is never laid out.
const rowChars = 200;

// One row of the cue list. It reads its own cue's run status: a GO draws the
// rows of the cues it changed, not the screenful.
const CueRow = memo(function cueRow({ cue, index, count, color }: { cue: Cue; index: number; count: number; color?: string }) {
  const { store, view, run } = useApp();
  const bits = store.runStatus(cue.id).value;
  const standby = (bits & standbyBit) !== 0;
  const fired = (bits & firedBit) !== 0;
  return (
    <li data-row={index} aria-setsize={count} aria-posinset={index + 1} style={{ top: `${index * cueRowHeight}px`, height: `${cueRowHeight}px` }}>
      {/* A button each, so the list is reachable by Tab; Space or a click shows the cue. */}
      <button
        type="button"
        class={`cue-row${standby ? ' standby' : ''}${fired ? ' fired' : ''}`}
        aria-current={standby ? 'true' : undefined}
        aria-label={`Cue ${shortText(cue.number, 40) || 'unnumbered'} ${shortText(cue.kind, 40)}${cue.label ? `, ${shortText(cue.label, rowChars)}` : ''}${standby ? ', standby' : ''}${fired ? ', fired' : ''}`}
        onMouseDown={(e) => e.preventDefault()}
        onClick={() => view.showCue(cue.id)}
        onDblClick={() => run.standbyCue(cue.id)}
        title={shortText(cue.note || cue.label, 600, 12)}
      >
        <span class="cue-number">{shortText(cue.number, 40) || '?'}</span>
        <span class="cue-chip" style={{ '--cue-color': color }}>{shortText(cue.kind, 40)}</span>
        <span class="cue-row-label">{shortText(cue.label, rowChars)}</span>
      </button>
    </li>
  );
});

function CueList() {
  const { store } = useApp();
  const rows = store.cues;
  const scroller = useRef<HTMLDivElement>(null);
  const scrollTop = useSignal(0);
  const viewHeight = useSignal(0);
  // The row to focus once the keys have brought it into the drawn window.
  const focusNext = useRef(-1);

  useScrollBox(scroller, { height: viewHeight, top: scrollTop }, [rows.value.length === 0]);

  const reveal = (index: number) => {
    const el = scroller.current;
    if (!el) return;
    const top = scrollToRow(index, cueRowHeight, el.scrollTop, el.clientHeight);
    if (top === null) return;
    el.scrollTop = top;
    scrollTop.value = top;
  };

  useLayoutEffect(() => {
    const i = focusNext.current;
    if (i < 0) return;
    focusNext.current = -1;
    scroller.current?.querySelector<HTMLElement>(`[data-row="${i}"] button`)?.focus();
  });

  // Up and Down walk the whole list, drawn or not; Home and End jump.
  const onKeyDown = (e: KeyboardEvent) => {
    const from = Number((e.target as HTMLElement).closest?.('[data-row]')?.getAttribute('data-row') ?? -1);
    const count = rows.peek().length;
    if (from < 0 || count === 0 || e.ctrlKey || e.altKey || e.metaKey) return;
    const to =
      e.key === 'ArrowDown' ? Math.min(count - 1, from + 1)
      : e.key === 'ArrowUp' ? Math.max(0, from - 1)
      : e.key === 'Home' ? 0
      : e.key === 'End' ? count - 1
      : -1;
    if (to < 0) return;
    e.preventDefault();
    focusNext.current = to;
    reveal(to);
    // The window may already hold the row: focus it now.
    const button = scroller.current?.querySelector<HTMLElement>(`[data-row="${to}"] button`);
    if (button) {
      focusNext.current = -1;
      button.focus();
    }
  };

  const list = rows.value;
  // After a GO from any desk the new standby row is brought into view, once
  // the list is drawn and measured.
  const measured = useComputed(() => store.cues.value.length > 0 && viewHeight.value > 0);
  useRenderEffect(() => (measured.value ? store.cueOrder.value.get(store.standbyID.value) : undefined), (i) => {
    if (i !== undefined) reveal(i);
  });
  if (list.length === 0) return <div class="side-empty">No cues</div>;
  const { first, end } = rowWindow(list.length, cueRowHeight, scrollTop.value, viewHeight.value);
  const types = store.settings.value?.cueTypes;
  return (
    <div class="cue-list" ref={scroller} onScroll={(e) => (scrollTop.value = (e.currentTarget as HTMLElement).scrollTop)}>
      <ol class="cue-list-rows" role="list" aria-label="Cues" style={{ height: `${list.length * cueRowHeight}px` }} onKeyDown={onKeyDown}>
        {list.slice(first, end).map((cue, k) => (
          <CueRow key={cue.id} cue={cue} index={first + k} count={list.length} color={cueColor(cue, types)} />
        ))}
      </ol>
    </div>
  );
}

// A key per line for the life of the page: the list drops its oldest line
// as it takes a new one, so keys by position would change every row.
const logKeys = new WeakMap<LogEntry, number>();
let nextLogKey = 0;
function logKey(line: LogEntry): number {
  let k = logKeys.get(line);
  if (k === undefined) logKeys.set(line, (k = nextLogKey++));
  return k;
}

const LogLine = memo(function logLine({ line }: { line: LogEntry }) {
  return (
    <li class={`log-${line.source}`}>
      <span class="log-time">{line.time}</span> {shortText(line.text, 400, 4)}
    </li>
  );
});

function ControlLog() {
  const { store } = useApp();
  const list = useRef<HTMLOListElement>(null);
  const lines = store.logLines.value;
  // Keep the newest line in view, unless the operator scrolled up to read;
  // before the frame is drawn, so it is drawn once.
  useLayoutEffect(() => {
    const el = list.current;
    if (el && el.scrollHeight - el.scrollTop - el.clientHeight < 40) el.scrollTop = el.scrollHeight;
  }, [lines]);
  return (
    <ol class="control-log" ref={list}>
      {lines.map((l) => (
        <LogLine key={logKey(l)} line={l} />
      ))}
    </ol>
  );
}

function ControlStatusView() {
  const { store, share } = useApp();
  const s = store.controlStatus.value;
  // Sharing is the core's own, told apart from OSC and MIDI: it shows whatever they report.
  const screens = remoteScreensLine(share.status.value);
  const screensLine = screens && (
    <>
      <dt>Screens</dt>
      <dd class={screens.error ? 'status-error' : undefined}>{screens.text}</dd>
    </>
  );
  if (!s) return screensLine ? <dl class="control-status">{screensLine}</dl> : <div class="side-empty">Status unknown</div>;
  return (
    <dl class="control-status">
      <dt>OSC</dt>
      <dd class={s.oscError ? 'status-error' : undefined}>
        {s.oscListening ? `listening on port ${s.oscPort}` : s.oscError ? `port ${s.oscPort}: ${s.oscError}` : 'off'}
      </dd>
      <dt>MIDI</dt>
      <dd>{s.midiSources.length > 0 ? s.midiSources.join(', ') : 'no sources'}</dd>
      {screensLine}
    </dl>
  );
}

export function Sidebar() {
  return (
    <aside class="sidebar" aria-label="Sidebar">
      <section class="side-cues">
        <h2>Cues</h2>
        <CueList />
      </section>
      <CarryReview />
      <section class="side-log">
        <h2>Log</h2>
        <ControlLog />
      </section>
      <section class="side-remote">
        <h2>Remote</h2>
        <ControlStatusView />
      </section>
    </aside>
  );
}
