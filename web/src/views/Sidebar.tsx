import { useComputed, useSignal } from '@preact/signals';
import { useEffect, useLayoutEffect, useRef } from 'preact/hooks';
import { cueColor } from '../state/cues';
import { cueRowHeight, cueRows, rowWindow, scrollToRow } from '../state/sidebar';
import { useApp } from './context';
import { useScrollBox } from './scroll_box';

function CueList() {
  const { store, ctl } = useApp();
  const rows = useComputed(() => cueRows(store.cueState.value, store.fired.value));
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
  const standbyID = store.cueState.value.standbyID;
  // After a GO from any desk the new standby row is brought into view, once
  // the list is drawn and measured.
  useLayoutEffect(() => {
    if (standbyID) reveal(rows.peek().findIndex((r) => r.cue.id === standbyID));
  }, [standbyID, list.length > 0, viewHeight.value > 0]);
  if (list.length === 0) return <div class="side-empty">No cues</div>;
  const { first, end } = rowWindow(list.length, cueRowHeight, scrollTop.value, viewHeight.value);
  const types = store.settings.value?.cueTypes;
  return (
    <div class="cue-list" ref={scroller} onScroll={(e) => (scrollTop.value = (e.currentTarget as HTMLElement).scrollTop)}>
      <ol class="cue-list-rows" role="list" aria-label="Cues" style={{ height: `${list.length * cueRowHeight}px` }} onKeyDown={onKeyDown}>
        {list.slice(first, end).map(({ cue, standby, fired }, k) => {
          const i = first + k;
          return (
            <li
              key={cue.id}
              data-row={i}
              aria-setsize={list.length}
              aria-posinset={i + 1}
              style={{ top: `${i * cueRowHeight}px`, height: `${cueRowHeight}px` }}
            >
              {/* A button each, so the list is reachable by Tab; Space or a click shows the cue. */}
              <button
                type="button"
                class={`cue-row${standby ? ' standby' : ''}${fired ? ' fired' : ''}`}
                aria-current={standby ? 'true' : undefined}
                aria-label={`Cue ${cue.number || 'unnumbered'} ${cue.kind}${cue.label ? `, ${cue.label}` : ''}${standby ? ', standby' : ''}${fired ? ', fired' : ''}`}
                onMouseDown={(e) => e.preventDefault()}
                onClick={() => ctl.showCue(cue.id)}
                onDblClick={() => ctl.standbyCue(cue.id)}
                title={cue.note || cue.label}
              >
                <span class="cue-number">{cue.number || '?'}</span>
                <span class="cue-chip" style={{ '--cue-color': cueColor(cue, types) }}>{cue.kind}</span>
                <span class="cue-row-label">{cue.label}</span>
              </button>
            </li>
          );
        })}
      </ol>
    </div>
  );
}

function ControlLog() {
  const { store } = useApp();
  const list = useRef<HTMLOListElement>(null);
  const lines = store.logLines.value;
  // Keep the newest line in view, unless the operator scrolled up to read.
  useEffect(() => {
    const el = list.current;
    if (el && el.scrollHeight - el.scrollTop - el.clientHeight < 40) el.scrollTop = el.scrollHeight;
  }, [lines]);
  return (
    <ol class="control-log" ref={list}>
      {lines.map((l, i) => (
        <li key={i} class={`log-${l.source}`}>
          <span class="log-time">{l.time}</span> {l.text}
        </li>
      ))}
    </ol>
  );
}

function ControlStatusView() {
  const { store } = useApp();
  const s = store.controlStatus.value;
  if (!s) return <div class="side-empty">Status unknown</div>;
  return (
    <dl class="control-status">
      <dt>OSC</dt>
      <dd class={s.oscError ? 'status-error' : undefined}>
        {s.oscListening ? `listening on port ${s.oscPort}` : s.oscError ? `port ${s.oscPort}: ${s.oscError}` : 'off'}
      </dd>
      <dt>MIDI</dt>
      <dd>{s.midiSources.length > 0 ? s.midiSources.join(', ') : 'no sources'}</dd>
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
