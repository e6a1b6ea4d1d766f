import { cueTag } from '../state/cues';
import { shortText } from '../state/shown_text';
import { useApp } from './context';
import { ScanLine } from './ScanStatus';

export function ShowPanel() {
  const { store, run, commands } = useApp();
  const { standby, next, firedCount, total, offered } = store.summary.value;
  const confirming = store.confirmingReset.value;
  // A new key restarts the flash for every ignored GO, however close together.
  const ignored = store.goIgnored.value;
  const flash = ignored > 0 ? ' guard-flash' : '';
  return (
    <aside class="show-panel" aria-label="Show">
      <div class={`standby${flash}`} key={`standby-${ignored}`}>
        <div class="caption">STANDBY</div>
        {standby ? (
          <>
            <div class="standby-tag" style={standby.color ? { borderColor: standby.color } : undefined}>
              {shortText(cueTag(standby), 60)}
            </div>
            {/* A few lines of each: the panel stays a glance, whatever the cue holds. */}
            {standby.label && <div class="standby-label" title={shortText(standby.label, 600, 12)}>{shortText(standby.label, 160, 3)}</div>}
            {standby.note && <div class="standby-note" title={shortText(standby.note, 600, 12)}>{shortText(standby.note, 240, 4)}</div>}
          </>
        ) : (
          <div class="standby-none">{total > 0 ? 'End of cues' : 'No cues'}</div>
        )}
        {next.length > 0 && <div class="next">next: {next.map((c) => shortText(cueTag(c), 60)).join(', ')}</div>}
        {offered && <div class="next standby-offer">GO continues the saved run</div>}
      </div>
      {store.locked.value && <div class="locked-line" role="status">LOCKED</div>}
      {/* Keys reach GO from anywhere; the buttons keep no focus that could
          turn a Space into a second press. */}
      <button type="button" class={`go${flash}`} key={`go-${ignored}`} onMouseDown={(e) => e.preventDefault()} onClick={() => run.go()}>
        GO
      </button>
      <div class="secondary">
        <button type="button" onMouseDown={(e) => e.preventDefault()} onClick={() => run.back()}>
          BACK
        </button>
        <button type="button" onMouseDown={(e) => e.preventDefault()} onClick={() => run.askReset()}>
          RESET
        </button>
      </div>
      {/* Below the buttons, like RESET's question: GO never moves. */}
      {store.confirmingUnlock.value && (
        <div class="confirm" role="alertdialog" aria-label="Unlock the show">
          <p>Unlock the show? The marks can be edited again.</p>
          <div class="confirm-buttons">
            <button type="button" class="danger" onClick={() => commands.confirmUnlock()}>
              Unlock
            </button>
            <button type="button" onClick={() => commands.cancelUnlock()}>
              Keep Locked
            </button>
          </div>
        </div>
      )}
      {confirming && (
        <div class="confirm" role="alertdialog" aria-label="Reset the run">
          <p>Reset to the first cue? Every cue becomes unfired.</p>
          <div class="confirm-buttons">
            <button type="button" class="danger" onClick={() => run.confirmReset()}>
              Reset
            </button>
            <button type="button" onClick={() => run.cancelReset()}>
              Cancel
            </button>
          </div>
          <p class="hint">Ctrl+Shift+R again resets, Escape cancels.</p>
        </div>
      )}
      <div class="count">
        {firedCount} of {total} fired
      </div>
      {store.message.value && <p class="message" role="status">{store.message.value}</p>}
      {store.status.value && !store.message.value && <p class="status-line" role="status">{store.status.value}</p>}
      <ScanLine />
    </aside>
  );
}
