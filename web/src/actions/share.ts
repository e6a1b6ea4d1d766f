// "Share to Screens…": sharing the show with follower screens on the local
// network, turned on and off from its sheet, and where it stands, kept from
// the core's answers and its "shareStatus" events for the sheet and the
// sidebar alike. The answers and events arrive in the order the core sent
// them, so the last one to arrive is the status.

import { signal } from '@preact/signals';
import type { ShareStatus } from '../bridge/types';
import { readShareStatus } from '../state/share';
import { errorText, type Base } from './common';

export interface ShareHooks {
  open: () => void;
}

export const unreadableShareText = 'The sharing status could not be read.';

export function createShare({ store, bridge }: Base, hooks: ShareHooks) {
  const status = signal<ShareStatus | null>(null);
  // A call is on its way: the sheet's buttons wait for its answer, so a
  // second click cannot undo the first.
  const busy = signal(false);
  // Why the last call failed, shown in the sheet until the next one.
  const error = signal('');

  const take = (answer: unknown): boolean => {
    const read = readShareStatus(answer);
    if (read) status.value = read;
    return read !== null;
  };

  const call = (made: () => Promise<unknown>, failed: string): void => {
    if (busy.peek()) return;
    busy.value = true;
    error.value = '';
    made().then(
      (answer) => {
        busy.value = false;
        if (!take(answer)) error.value = unreadableShareText;
      },
      (e: unknown) => {
        busy.value = false;
        error.value = `${failed}: ${errorText(e)}`;
      },
    );
  };

  return {
    status,
    busy,
    error,

    // Asked when the page starts, so sharing the core resumed at launch shows
    // in the sidebar; a core without the call leaves the sidebar as it was.
    refresh(): void {
      if (store.confidence) return;
      bridge.shareStatus().then(take, () => undefined);
    },

    open(): void {
      if (store.confidence) return;
      error.value = '';
      hooks.open();
      call(() => bridge.shareStatus(), 'The sharing status could not be read');
    },

    // The "shareStatus" event.
    changed(payload: unknown): void {
      take(payload);
    },

    setSharing(on: boolean): void {
      call(() => bridge.setSharing(on), on ? 'Sharing could not start' : 'Sharing could not stop');
    },

    pin(pinned: boolean): void {
      call(() => bridge.pinShareAddress(pinned), 'The address could not be changed');
    },
  };
}

export type Share = ReturnType<typeof createShare>;
