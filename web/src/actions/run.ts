// The run: GO, BACK and RESET straight to the engine, standby moved without
// firing, the saved run resumed or discarded, and the whole state asked for
// again when a run change was missed. What is shown is always the engine's
// answer or its run change, never a guess.

import { stepCue } from '../state/cues';
import { applyCueState, applyRunAnswer } from '../state/store';
import { tracing, type Base } from './common';

// A RESET chord this soon after the question is the same press arriving a
// second time (the window's accelerator and the page's own key), not the
// operator's answer.
export const resetSettleMs = 300;

export function createRun({ store, bridge, quiet }: Base) {
  // The standby asked for by Next/Previous Cue and not yet answered.
  let standbyAhead: string | null = null;
  // When the RESET question was asked (Date.now()).
  let resetAskedAt = 0;

  // A change the page missed (a gap in the engine's counter): the whole state
  // is asked for, one question at a time; after a few answers that still
  // leave a gap the page waits for the next run change it can draw.
  let resyncing = false;
  let resyncs = 0;
  store.sync.onGap = () => {
    if (resyncing || resyncs >= 3) return;
    resyncing = true;
    resyncs++;
    bridge.getState().then((s) => {
      resyncing = false;
      applyCueState(store, s);
      if (!store.sync.inbox.gap) resyncs = 0;
    }, () => {
      resyncing = false;
    });
  };
  // One line per frame that drew a run change. The change is drawn in the
  // frame whose animation callback committed it; the next frame's callback
  // runs only once that frame is done, so the line never comes before the pixels.
  store.sync.onRunDrawn = (standbyID, firedCount) => {
    resyncs = 0;
    if (!tracing()) return;
    const line = `${store.confidence ? 'monitor ' : ''}painted run ${standbyID || '-'} ${firedCount}`;
    store.sync.frame(() => void bridge.debugLog(line).catch(() => undefined));
  };

  const run = {
    // GO goes straight to the engine; what is shown is the engine's answer
    // (the run change; its event comes later and is then old).
    go(): void {
      bridge.go().then((a) => applyRunAnswer(store, a), quiet);
    },

    back(): void {
      bridge.back().then((a) => applyRunAnswer(store, a), quiet);
    },

    askReset(): void {
      if (!store.doc.peek()) return;
      store.confirmingReset.value = true;
      resetAskedAt = Date.now();
    },

    // The RESET chord, from the page's keys or the window's menu (whose
    // accelerator takes Ctrl+Shift+R before the page sees it): the first
    // asks, the next confirms.
    resetChord(): void {
      if (!store.confirmingReset.peek()) return run.askReset();
      if (Date.now() - resetAskedAt >= resetSettleMs) run.confirmReset();
    },

    // RESET starts a new run: a saved run is no longer on offer.
    confirmReset(): void {
      store.confirmingReset.value = false;
      store.resumeAnswered.value = true;
      bridge.reset().then((a) => applyRunAnswer(store, a), quiet);
    },

    cancelReset(): void {
      store.confirmingReset.value = false;
    },

    // Double-click in the cue list: the engine decides, its run change follows.
    standbyCue(id: string): void {
      bridge.standbyCue(id).then(() => undefined, quiet);
    },

    // Standby moves one cue along the script without firing anything; the
    // engine's run change follows.
    // Two quick presses are two steps: the second starts from the cue the
    // first asked for until the engine has answered (its "cueState" comes
    // before its answer).
    stepStandby(delta: 1 | -1): void {
      if (!store.doc.peek()) return;
      const target = stepCue(store.cues.peek(), standbyAhead ?? store.standbyID.peek(), delta, store.cueOrder.peek());
      if (!target) return;
      const asked = (standbyAhead = target.id);
      const settle = () => {
        if (standbyAhead === asked) standbyAhead = null;
      };
      bridge.standbyCue(target.id).then(settle, (error: unknown) => {
        settle();
        quiet(error);
      });
    },

    // Resume puts the saved fired set and standby back; the engine answers
    // true and sends the restored run.
    resumeRun(): void {
      store.resumeAnswered.value = true;
      // The view goes to the restored standby even where it was the standby
      // already and the operator had scrolled away.
      bridge.restoreRun().then(() => bridge.getState()).then((s) => {
        if (applyCueState(store, s)) store.follow.value = true;
      }, quiet);
    },

    // From here a GO starts a fresh run.
    discardRun(): void {
      store.resumeAnswered.value = true;
      void bridge.discardRun().catch(quiet);
    },
  };
  return run;
}

export type Run = ReturnType<typeof createRun>;
