import type { Cue } from '../bridge/types';
import { cueTag } from '../state/cues';
import { shortText } from '../state/shown_text';
import { useApp } from './context';
import { ScriptView } from './ScriptView';

// One cue of the monitor's head: its number large, its label beside it on one
// line (no more of a long label than that line can show).
function MonitorCue({ caption, cue, kind }: { caption: string; cue: Cue | undefined; kind: 'standby' | 'next' }) {
  const label = shortText(cue?.label ?? '', 160, 1);
  return (
    <div class={`monitor-cue monitor-${kind}`} data-testid={`monitor-${kind}`}>
      <span class="caption">{caption}</span>
      <span class="monitor-tag">{cue ? cueTag(cue) : '—'}</span>
      <span class="monitor-label" title={label}>{label}</span>
    </div>
  );
}

// The standby and the next cue, large: the only part of the monitor a GO on
// the same page draws again.
function MonitorStandby() {
  const { store } = useApp();
  const { standby, next } = store.summary.value;
  return (
    <div class="monitor-head">
      <MonitorCue caption="STANDBY" cue={standby} kind="standby" />
      <MonitorCue caption="NEXT" cue={next[0]} kind="next" />
    </div>
  );
}

// The confidence monitor: read-only, large, one page at a time following standby.
export function Monitor() {
  const { store } = useApp();
  return (
    <div class="monitor">
      <MonitorStandby />
      {store.doc.value ? <ScriptView /> : <div class="monitor-empty">No script open</div>}
    </div>
  );
}
