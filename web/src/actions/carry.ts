// Marks carried from another version of the script, the page's side: the
// native call wrapped so its progress shows while it runs, what it did once
// it answers, and the review list's actions (show, accept, delete, place by
// dragging). The list is built from the state (state/carry.ts), so it
// survives a reload and shrinks as the operator works through it.

import { computed, effect, signal } from '@preact/signals';
import type { CarryProgress, CarrySummary } from '../bridge/types';
import {
  dragAsks, placeByDrag, placingHint, progressText, readCarried, readProgress, reviewItems, summaryText, targetOf,
  type CarryTarget, type PlaceDrag, type Placement, type ReviewItem,
} from '../state/carry';
import { textRectArgs } from '../state/cue_edit';
import type { LineRect } from '../state/line_cursor';
import { dragRect, pointOnPage, type Pt, type Rect } from '../state/mark_shapes';
import { requestScroll } from '../state/store';
import { lockedText } from './commands';
import type { Base } from './common';

export interface CarryDeps {
  linesOf: (page: number) => Promise<LineRect[]>;
  newID: () => string;
}

export const noWordsText = 'No words there: drag over the words, or Escape to cancel.';

export function createCarry({ store, bridge, quiet }: Base, deps: CarryDeps) {
  // Carry calls in flight; progress is shown only while one is.
  let running = 0;
  const progress = signal<CarryProgress | null>(null);
  // What the last carry did, for the script it was made on.
  const summary = signal<{ summary: CarrySummary; generation: number } | null>(null);
  const items = computed(() => reviewItems(store.cueState.value));
  // The item whose box is shown, and the one the next drag places.
  const focusKey = signal('');
  const placingKey = signal('');
  // The drag in progress while placing, drawn as a frame on its page.
  const dragBox = signal<{ page: number; rect: Rect } | null>(null);
  // Accept All Changed is working through its list.
  const busy = signal(false);
  let drag: { page: number; from: Pt; to: Pt } | null = null;

  const findIn = (list: readonly ReviewItem[], key: string): ReviewItem | null => (key ? list.find((i) => i.key === key) ?? null : null);
  const find = (key: string) => findIn(items.peek(), key);
  const focused = computed(() => findIn(items.value, focusKey.value));
  const placing = computed(() => findIn(items.value, placingKey.value));
  const summaryLine = computed(() => {
    const s = summary.value;
    return s && s.generation === store.generation.value ? summaryText(s.summary) : '';
  });
  const progressLine = computed(() => (progress.value ? progressText(progress.value) : ''));
  const hint = computed(() => (placing.value ? placingHint(placing.value) : ''));

  const stopPlacing = () => {
    drag = null;
    dragBox.value = null;
    placingKey.value = '';
    if (store.status.peek() === noWordsText) store.status.value = '';
  };

  // Another script, a lock, or the record gone (accepted, deleted, undone):
  // nothing is left waiting for a drag.
  let shownGeneration = store.generation.peek();
  effect(() => {
    const generation = store.generation.value;
    const gone = placingKey.value !== '' && placing.value === null;
    if (generation !== shownGeneration || store.locked.value || gone) {
      if (generation !== shownGeneration) focusKey.value = '';
      shownGeneration = generation;
      stopPlacing();
    }
  });

  const canEdit = (): boolean => {
    if (store.confidence || !store.doc.peek()) return false;
    if (store.locked.peek()) {
      store.status.value = lockedText;
      return false;
    }
    return true;
  };

  const done = () => undefined;

  // The tags of every record of the targets go in one native step.
  const acceptCall = (targets: readonly CarryTarget[]): Promise<unknown> =>
    bridge.acceptCarried(targets.flatMap((t) => (t.kind === 'marks' ? t.recs.map((m) => m.id) : [t.rec.id])));

  const removeCall = (t: CarryTarget): Promise<unknown> => {
    switch (t.kind) {
      case 'cue': return bridge.removeCue(t.rec.id);
      case 'marks': return bridge.removeMarks(t.recs.map((m) => m.id));
      case 'memo': return bridge.removeMemo(t.rec.id);
      case 'flag': return bridge.removeFlag(t.rec.id);
      case 'insert': return bridge.removeInsert(t.rec.id);
    }
  };

  const placeCall = async (p: Placement): Promise<void> => {
    switch (p.kind) {
      case 'cue': await bridge.upsertCue(p.cue); return;
      case 'marks':
        await bridge.upsertMarks(p.upsert);
        if (p.remove.length > 0) await bridge.removeMarks(p.remove);
        return;
      case 'memo': await bridge.upsertMemo(p.memo); return;
      case 'flag': await bridge.upsertFlag(p.flag); return;
      case 'insert': await bridge.upsertInsert(p.insert); return;
    }
  };

  const targetFor = (key: string): CarryTarget | null => {
    const item = find(key);
    return item ? targetOf(store.cueState.peek(), item) : null;
  };

  const carry = {
    progress, summary, items, focused, placing, dragBox, busy, summaryLine, progressLine, hint,

    // --- The carry call ("importSidecar", "offerMarks") ---

    // Progress shows while the call runs and ends when it answers, however it answers.
    run<T>(call: () => Promise<T>): Promise<T> {
      running++;
      return call().finally(() => {
        running--;
        if (running === 0) progress.value = null;
      });
    },

    // "carryProgress": only while a carry call is waiting for its answer.
    progressed(payload: unknown): void {
      if (running === 0) return;
      const p = readProgress(payload);
      if (p) progress.value = p;
    },

    // A state taken from a carry's answer: what it did, if it says.
    answered(state: unknown): void {
      const s = readCarried(state);
      if (s) summary.value = { summary: s, generation: store.generation.peek() };
    },

    dismiss(): void {
      summary.value = null;
    },

    // --- The review list ---

    // The item's page brought into view, its box shown over it.
    show(key: string): void {
      const item = find(key);
      if (!item || !store.doc.peek()) return;
      focusKey.value = key;
      store.follow.value = false;
      requestScroll(store, item.page, Math.max(0, (item.rects[0]?.y ?? 0) - 0.1));
    },

    // The banner's Review: the list in view and its first item shown.
    review(): void {
      store.sidebarVisible.value = true;
      const first = items.peek()[0];
      if (first) carry.show(first.key);
    },

    // The record as it now stands, without its tag.
    accept(key: string): Promise<void> {
      if (!canEdit()) return Promise.resolve();
      const t = targetFor(key);
      if (!t) return Promise.resolve();
      if (focusKey.peek() === key) focusKey.value = '';
      return acceptCall([t]).then(done, quiet);
    },

    remove(key: string): Promise<void> {
      if (!canEdit()) return Promise.resolve();
      const t = targetFor(key);
      if (!t) return Promise.resolve();
      if (focusKey.peek() === key) focusKey.value = '';
      if (placingKey.peek() === key) stopPlacing();
      return removeCall(t).then(done, quiet);
    },

    // Every "changed" item accepted, as one undo step.
    async acceptAllChanged(): Promise<void> {
      if (busy.peek() || !canEdit()) return;
      const state = store.cueState.peek();
      const targets = items.peek().filter((i) => i.tag === 'changed').map((i) => targetOf(state, i))
        .filter((t): t is CarryTarget => t !== null);
      if (targets.length === 0) return;
      busy.value = true;
      try {
        await acceptCall(targets);
      } catch (error) {
        quiet(error);
      } finally {
        busy.value = false;
      }
    },

    // --- Place by Dragging ---

    startPlacing(key: string): void {
      if (!canEdit() || !find(key)) return;
      drag = null;
      dragBox.value = null;
      placingKey.value = key;
      carry.show(key);
    },

    // Escape: the drag, then the placement. True when there was one.
    cancelPlacing(): boolean {
      if (!placingKey.peek()) return false;
      if (drag) {
        drag = null;
        dragBox.value = null;
        return true;
      }
      stopPlacing();
      return true;
    },

    // Escape after everything else: the shown box goes.
    hideFocus(): boolean {
      if (!focusKey.peek()) return false;
      focusKey.value = '';
      return true;
    },

    // The pointer on a page while placing, points of the script's text.
    begin(page: number, p: Pt): boolean {
      if (!placingKey.peek()) return false;
      const at = pointOnPage(p);
      drag = { page, from: at, to: at };
      dragBox.value = { page, rect: dragRect(at, at) };
      return true;
    },

    move(p: Pt): void {
      if (!drag) return;
      drag.to = pointOnPage(p);
      dragBox.value = { page: drag.page, rect: dragRect(drag.from, drag.to) };
    },

    end(p: Pt): Promise<void> {
      const d = drag;
      if (!d) return Promise.resolve();
      drag = null;
      dragBox.value = null;
      return carry.place({ page: d.page, from: d.from, to: pointOnPage(p) });
    },

    cancelDrag(): void {
      drag = null;
      dragBox.value = null;
    },

    // The drag places the pending record; a drag that found no words leaves
    // it pending and says so.
    async place(d: PlaceDrag): Promise<void> {
      const key = placingKey.peek();
      const first = targetFor(key);
      if (!first || !canEdit()) return;
      const generation = store.generation.peek();
      const asks = dragAsks(first);
      let answer: unknown = null;
      let lines: LineRect[] = [];
      try {
        const snap = store.settings.peek()?.cueSnapWords !== false;
        if (asks === 'words') answer = await bridge.textRect(textRectArgs(d.page, d.from, d.to, snap));
        if (asks === 'lines') lines = await deps.linesOf(d.page);
      } catch (error) {
        return quiet(error);
      }
      // The record as it is after the wait: an edit meanwhile is kept.
      const target = targetFor(key);
      if (!target || generation !== store.generation.peek() || placingKey.peek() !== key || store.locked.peek()) return;
      const placement = placeByDrag(target, d, answer, lines, deps.newID);
      if (!placement) {
        store.status.value = noWordsText;
        return;
      }
      stopPlacing();
      if (focusKey.peek() === key) focusKey.value = '';
      try {
        await placeCall(placement);
      } catch (error) {
        quiet(error);
      }
    },
  };
  return carry;
}

export type Carry = ReturnType<typeof createCarry>;
