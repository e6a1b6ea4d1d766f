// Page notes and the page-label offset: what the Page sheet sends, and the
// note each page shows.

import { signal } from '@preact/signals';
import type { native as nativeCalls } from '../bridge/native';
import type { Store } from './store';

type Bridge = typeof nativeCalls;

// The note of a page (index from 0); "" when it has none.
export function noteOf(pageTexts: Record<string, string> | undefined, page: number): string {
  const text = pageTexts?.[String(page)];
  return typeof text === 'string' ? text.trim() : '';
}

// "This page is numbered N": the offset that makes page `index` read N. Only
// whole numbers from 1; anything else is a text for the sheet.
export function offsetForNumber(index: number, text: string): { offset: number } | { error: string } {
  const t = text.trim();
  if (!/^\d+$/.test(t) || Number(t) < 1) return { error: t ? `"${t}" is not a page number` : 'Type a page number' };
  const n = Number(t);
  if (!Number.isSafeInteger(n) || n > 100000) return { error: `"${t}" is not a page number` };
  return { offset: n - (index + 1) };
}

// The number page `index` reads with `offset`, as the sheet proposes it; ""
// for a page before the first numbered one.
export function numberOf(index: number, offset: number): string {
  const n = index + 1 + Math.trunc(offset || 0);
  return n >= 1 ? String(n) : '';
}

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
