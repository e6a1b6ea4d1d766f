// The Page sheet: a page's note and its printed number, sent when they changed.

import { signal } from '@preact/signals';
import { noteOf, offsetForNumber } from '../state/page_notes';
import type { Store } from '../state/store';
import type { Bridge } from './common';

export interface NotesHooks {
  quiet: (error: unknown) => void;
  open: () => void;
  // `refocus` false: the operator left the sheet for somewhere else.
  close: (refocus?: boolean) => void;
}

export function createPageNotes(store: Store, bridge: Bridge, hooks: NotesHooks) {
  // The page the open sheet is about, and its last refusal.
  const page = signal(0);
  const error = signal('');

  return {
    page,
    error,

    open(): void {
      const doc = store.doc.peek();
      if (store.confidence || !doc || doc.pageCount === 0) return;
      page.value = Math.min(store.visiblePage.peek(), doc.pageCount - 1);
      error.value = '';
      hooks.open();
    },

    // Sends only what changed; the state that follows shows it. A number
    // that is not one keeps the sheet open with the reason.
    submit(note: string, number: string, refocus = true): void {
      const doc = store.doc.peek();
      if (!doc) return hooks.close();
      const index = page.peek();
      const state = store.cueState.peek();
      // An empty number leaves the numbering as it is.
      const parsed = number.trim() ? offsetForNumber(index, number) : { offset: Math.trunc(state.pageLabelOffset || 0) };
      if ('error' in parsed) {
        error.value = parsed.error;
        return;
      }
      error.value = '';
      hooks.close(refocus);
      if (note.trim() !== noteOf(state.pageTexts, index))
        bridge.setPageText(index, note.trim()).then(() => undefined, hooks.quiet);
      if (parsed.offset !== Math.trunc(state.pageLabelOffset || 0))
        bridge.setPageLabelOffset(parsed.offset).then(() => undefined, hooks.quiet);
    },
  };
}

export type PageNotes = ReturnType<typeof createPageNotes>;
