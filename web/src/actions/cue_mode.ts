// Cue Mode and its unfinished cue: a click or drag on the words asks the
// engine where they are, the cue is drafted there with a proposed number, and
// the engine hears of it only when Return commits it.

import type { Cue } from '../bridge/types';
import { linesPendingText } from '../state/crop';
import { draftCue, isTextRectAnswer, newCueID, textRectArgs } from '../state/cue_edit';
import type { Base } from './common';

export interface CueModeDeps {
  // The other modes and tools give way: Crop mode on entering, the line
  // cursor and the inserted-line tool on leaving.
  leaveCrop: () => void;
  resetInserts: () => void;
  hideCursor: () => void;
}

export function createCueMode({ store, bridge, quiet }: Base, deps: CueModeDeps) {
  const cueMode = {
    set(on: boolean): void {
      if (on && (store.confidence || !store.doc.peek())) return;
      if (on && store.doc.peek()?.linesPending) {
        store.message.value = linesPendingText;
        return;
      }
      if (on) deps.leaveCrop();
      store.cueMode.value = on;
      if (!on) {
        deps.resetInserts();
        deps.hideCursor();
        cueMode.cancelDraft();
        store.selectedID.value = '';
        store.sheet.value = null;
      }
    },

    toggle(): void {
      cueMode.set(!store.cueMode.peek());
    },

    // A click (the same point twice) or a drag on a page, in fractions of the
    // displayed page. The engine hears of the cue only on Return.
    async placeCue(page: number, from: { x: number; y: number }, to: { x: number; y: number }): Promise<void> {
      if (!store.cueMode.peek() || !store.doc.peek() || store.doc.peek()?.linesPending || store.draft.peek()) return;
      const generation = store.generation.peek();
      const snap = store.settings.peek()?.cueSnapWords !== false;
      let answer: unknown;
      try {
        answer = await bridge.textRect(textRectArgs(page, from, to, snap));
      } catch (error) {
        return quiet(error);
      }
      // No words there, or the script changed while asking.
      if (!isTextRectAnswer(answer) || generation !== store.generation.peek() || !store.cueMode.peek()) return;
      if (store.draft.peek()) return;
      const kind = store.lastKind.peek() || store.settings.peek()?.cueTypes?.[0]?.name || '';
      store.selectedID.value = '';
      deps.hideCursor();
      store.draft.value = draftCue(answer, page, store.cues.peek(), kind, newCueID());
    },

    commitDraft(number: string, label: string): void {
      const d = store.draft.peek();
      if (!d) return;
      store.draft.value = null;
      const cue: Cue = { ...d, number: number.trim() || d.number, label: label.trim() };
      if (cue.kind) store.lastKind.value = cue.kind;
      bridge.upsertCue(cue).then(() => (store.selectedID.value = cue.id), quiet);
    },

    cancelDraft(): void {
      store.draft.value = null;
    },
  };
  return cueMode;
}

export type CueMode = ReturnType<typeof createCueMode>;
