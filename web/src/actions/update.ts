// The update notice: a new build offered (by event, or found at launch), the
// install asked of the core once, its progress and failure shown in place.

import { nextUpdateNotice, type UpdateInput } from '../state/update_notice';
import { errorText, type Base } from './common';

export function createUpdate({ store, bridge }: Base) {
  const notice = (input: UpdateInput) => {
    store.update.value = nextUpdateNotice(store.update.peek(), input);
  };
  return {
    available(stamp: unknown): void {
      if (typeof stamp === 'string') notice({ kind: 'available', stamp: stamp.trim() });
    },

    progress(text: unknown, failed: unknown): void {
      if (typeof text === 'string') notice({ kind: 'progress', text, failed: failed === true });
    },

    install(): void {
      const before = store.update.peek();
      if (!before || before.phase === 'installing') return;
      notice({ kind: 'install' });
      bridge.installUpdate().then(
        () => undefined,
        (error: unknown) => notice({ kind: 'progress', text: errorText(error), failed: true }),
      );
    },

    dismiss(): void {
      notice({ kind: 'dismiss' });
    },
  };
}

export type Update = ReturnType<typeof createUpdate>;
