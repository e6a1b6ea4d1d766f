import { useComputed } from '@preact/signals';
import { useEffect, useRef } from 'preact/hooks';
import { cueColor } from '../state/cues';
import { cueRows } from '../state/sidebar';
import { useApp } from './context';

function CueList() {
  const { store, ctl } = useApp();
  const rows = useComputed(() => cueRows(store.cueState.value, store.fired.value));
  if (rows.value.length === 0) return <div class="side-empty">No cues</div>;
  return (
    <ol class="cue-list">
      {rows.value.map(({ cue, standby, fired }) => (
        <li key={cue.id}>
          {/* A button each, so the list is reachable by Tab; Enter shows the cue. */}
          <button
            type="button"
            class={`cue-row${standby ? ' standby' : ''}${fired ? ' fired' : ''}`}
            aria-current={standby ? 'true' : undefined}
            onMouseDown={(e) => e.preventDefault()}
            onClick={() => ctl.showCue(cue.id)}
            onDblClick={() => ctl.standbyCue(cue.id)}
            title={cue.note || cue.label}
          >
            <span class="cue-number">{cue.number || '?'}</span>
            <span class="cue-chip" style={{ '--cue-color': cueColor(cue, store.settings.value?.cueTypes) }}>{cue.kind}</span>
            <span class="cue-row-label">{cue.label}</span>
          </button>
        </li>
      ))}
    </ol>
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
