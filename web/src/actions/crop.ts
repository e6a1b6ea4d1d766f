// Crop mode: a frame drawn over a shown page, sent as the script's manual
// crop of the whole page (the rules are in state/crop.ts).

import { signal } from '@preact/signals';
import { isDocument } from '../bridge/native';
import type { DocumentInfo } from '../bridge/types';
import { frameBetween, linesPendingText, shownPart, startFrame, stepFrame, toWholePage, type CropFrame } from '../state/crop';
import type { Store } from '../state/store';
import type { Bridge } from './common';

export interface CropHooks {
  // Shows the document again with the new crop, at the same page.
  relayout: (doc: DocumentInfo) => void;
  quiet: (error: unknown) => void;
  leaveOtherModes: () => void;
}


export function createCrop(store: Store, bridge: Bridge, hooks: CropHooks) {
  const frame = signal<CropFrame | null>(null);
  // A crop asked for and not yet answered: one at a time.
  let sending = false;

  const send = (crop: number[] | null): Promise<void> => {
    const doc = store.doc.peek();
    if (!doc || sending) return Promise.resolve();
    sending = true;
    frame.value = null;
    return bridge.setCrop(crop).then(
      (answer) => {
        sending = false;
        if (store.doc.peek()?.path === doc.path && isDocument(answer)) hooks.relayout(answer);
      },
      (error: unknown) => {
        sending = false;
        hooks.quiet(error);
      },
    );
  };

  const crop = {
    frame,

    start(): void {
      const doc = store.doc.peek();
      if (store.confidence || !doc || doc.pageCount === 0) return;
      if (doc.linesPending) {
        store.message.value = linesPendingText;
        return;
      }
      hooks.leaveOtherModes();
      const page = Math.min(store.visiblePage.peek(), doc.pageCount - 1);
      frame.value = { page, rect: startFrame(doc, page) };
    },

    toggle(): void {
      if (frame.peek()) crop.leave();
      else crop.start();
    },

    leave(): void {
      frame.value = null;
    },

    // A frame is shown over the open script (closing the script ends it).
    active(): boolean {
      if (frame.peek() && !store.doc.peek()) frame.value = null;
      return frame.peek() !== null;
    },

    // A drag on a page draws a new frame there.
    draw(page: number, from: { x: number; y: number }, to: { x: number; y: number }): void {
      if (!frame.peek()) return;
      frame.value = { page, rect: frameBetween(from, to) };
    },

    step(dx: number, dy: number, resize: boolean): void {
      const f = frame.peek();
      if (f) frame.value = { ...f, rect: stepFrame(f.rect, dx, dy, resize) };
    },

    apply(): Promise<void> {
      const f = frame.peek();
      const doc = store.doc.peek();
      if (!f || !doc) return Promise.resolve();
      return send(toWholePage(f.rect, shownPart(doc, f.page)));
    },

    // Back to the crop the text alone gives.
    reset(): Promise<void> {
      return send(null);
    },
  };
  return crop;
}

export type Crop = ReturnType<typeof createCrop>;
