// Scanned pages of the open script, the page's side: the native side reads
// them in the background and tells how far it is ("scanProgress"); the page
// shows a quiet line while it reads and a badge on each page whose words came
// from text recognition. The rules are state/scan.ts.

import { computed, signal } from '@preact/signals';
import type { DocumentInfo } from '../bridge/types';
import { dismissedScan, noScan, scanLine, scanOfDocument, scanOfEvent, type ScanState } from '../state/scan';

export function createScan() {
  const state = signal<ScanState>(noScan);
  const line = computed(() => scanLine(state.value));
  // The same set while no page is added, so the badges draw again only then.
  const recognised = computed(() => state.value.recognised);

  const set = (next: ScanState) => {
    if (next !== state.peek()) state.value = next;
  };

  return {
    state, line, recognised,

    // A script opened: what its info says, nothing of the one before.
    opened(doc: DocumentInfo): void {
      set(scanOfDocument(noScan, doc));
    },

    // The same script with new geometry.
    relaid(doc: DocumentInfo): void {
      set(scanOfDocument(state.peek(), doc));
    },

    closed(): void {
      set(noScan);
    },

    // Events are for the open script only (the native side drops stale ones);
    // with none shown there is nothing to tell.
    progressed(payload: unknown): void {
      set(scanOfEvent(state.peek(), payload));
    },

    dismiss(): void {
      set(dismissedScan(state.peek()));
    },
  };
}

export type Scan = ReturnType<typeof createScan>;
