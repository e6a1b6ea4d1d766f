import { cueTag } from '../state/cues';
import { useApp } from './context';
import { ScriptView } from './ScriptView';

// The standby cue, large: the only part of the monitor a GO draws again.
function MonitorStandby() {
  const { store } = useApp();
  const { standby, next } = store.summary.value;
  return (
    <div class="monitor-standby">
      <span class="caption">STANDBY</span>
      <span class="monitor-tag">{standby ? cueTag(standby) : '—'}</span>
      <span class="monitor-label">{standby?.label ?? ''}</span>
      {next.length > 0 && <span class="monitor-next">next: {cueTag(next[0])}</span>}
    </div>
  );
}

// The confidence monitor: read-only, large, following standby.
export function Monitor() {
  const { store } = useApp();
  return (
    <div class="monitor">
      <MonitorStandby />
      {store.doc.value ? <ScriptView /> : <div class="monitor-empty">No script open</div>}
    </div>
  );
}
