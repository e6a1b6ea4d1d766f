// The selected cue in Cue Mode: picked by a click or stepped to in script
// order, nudged with Alt+arrows, its label edited in place (F2), its Cue
// Settings sheet, deleted or duplicated. Every change is one undoable edit.

import type { Cue } from '../bridge/types';
import { duplicateOf, newCueID, nudgedCue } from '../state/cue_edit';
import { stepCue } from '../state/cues';
import { sameCues } from '../state/store';
import type { Base } from './common';

// Keyboard nudges of a cue box, as fractions of the page: about a pixel of a
// page on a booth screen, and a word's width with Shift.
export const nudgeStep = 0.002;
export const nudgeFar = 0.01;

export interface SelectionDeps {
  // A selected cue takes the selection from an inserted line.
  clearInsertSelection: () => void;
  showCue: (id: string) => void;
  focusScript: () => void;
}

export function createSelection({ store, bridge, quiet }: Base, deps: SelectionDeps) {
  // Nudges sent but not yet echoed by a "cueState": the next nudge starts
  // from the last position sent, so quick presses add up instead of repeating.
  let nudgeBase: Cue | null = null;
  let nudgesInFlight = 0;

  const selection = {
    select(id: string): void {
      if (!store.cueMode.peek() || store.draft.peek()) return;
      store.selectedID.value = store.cueOrder.peek().has(id) ? id : '';
      if (store.selectedID.peek()) deps.clearInsertSelection();
    },

    selected(): Cue | undefined {
      const i = store.cueOrder.peek().get(store.selectedID.peek());
      return i === undefined ? undefined : store.cues.peek()[i];
    },

    // Cue Mode from the keyboard: the previous or next cue in script order.
    // With none selected, the first cue from the page being read.
    step(delta: 1 | -1): void {
      if (!store.cueMode.peek() || store.draft.peek()) return;
      const cues = store.cues.peek();
      const order = store.cueOrder.peek();
      if (cues.length === 0) return;
      const current = store.selectedID.peek();
      let target = current ? stepCue(cues, current, delta, order) : undefined;
      if (!current || !order.has(current)) {
        const page = store.visiblePage.peek();
        target = cues.find((c) => c.page >= page) ?? cues[cues.length - 1];
      }
      if (!target) return;
      store.editingLabel.value = false;
      store.selectedID.value = target.id;
      deps.showCue(target.id);
    },

    remove(): void {
      const cue = selection.selected();
      if (!cue || !store.cueMode.peek()) return;
      store.selectedID.value = '';
      bridge.removeCue(cue.id).then(() => undefined, quiet);
    },

    duplicate(): void {
      const cue = selection.selected();
      if (!cue || !store.cueMode.peek()) return;
      const copy = duplicateOf(cue, store.cueState.peek().cues, newCueID());
      bridge.upsertCue(copy).then(() => (store.selectedID.value = copy.id), quiet);
    },

    // Alt+arrows move the selected box a little (Shift: more); an undoable
    // edit like any other.
    nudge(dx: number, dy: number): void {
      const cue = selection.selected();
      if (!cue || !store.cueMode.peek() || store.draft.peek()) return;
      const base = nudgesInFlight > 0 && nudgeBase?.id === cue.id ? nudgeBase : cue;
      const moved = nudgedCue(base, dx, dy);
      if (moved.x === base.x && moved.y === base.y) return;
      nudgeBase = moved;
      nudgesInFlight++;
      bridge.upsertCue(moved).then(
        () => void nudgesInFlight--,
        (error: unknown) => {
          nudgesInFlight--;
          nudgeBase = null;
          quiet(error);
        },
      );
    },

    editLabel(): void {
      if (selection.selected() && store.cueMode.peek() && !store.draft.peek()) store.editingLabel.value = true;
    },

    // `refocus` is false when the operator left the field for somewhere else.
    commitLabel(label: string, refocus = true): void {
      const cue = selection.selected();
      store.editingLabel.value = false;
      if (refocus) deps.focusScript();
      if (!cue || label.trim() === cue.label) return;
      bridge.upsertCue({ ...cue, label: label.trim() }).then(() => undefined, quiet);
    },

    cancelLabel(): void {
      store.editingLabel.value = false;
      deps.focusScript();
    },

    // The Cue Settings sheet of the selected cue.
    openSheet(): void {
      const cue = selection.selected();
      if (cue && store.cueMode.peek()) store.sheet.value = { ...cue };
    },

    commitSheet(changes: Partial<Pick<Cue, 'number' | 'label' | 'kind' | 'color' | 'note'>>): void {
      const cue = store.sheet.peek();
      if (!cue) return;
      store.sheet.value = null;
      const next: Cue = { ...cue, ...changes };
      if (!next.number.trim()) next.number = cue.number;
      if (next.kind) store.lastKind.value = next.kind;
      // Left without a change (the focus went elsewhere): no undo step.
      if (sameCues([cue], [next])) return;
      bridge.upsertCue(next).then(() => undefined, quiet);
    },

    closeSheet(): void {
      store.sheet.value = null;
    },
  };
  return selection;
}

export type Selection = ReturnType<typeof createSelection>;
