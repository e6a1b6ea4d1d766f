// The quiet notice of a newer build: offered, installing (progress texts in
// place), failed (the reason and the button back), or gone. Pure, so the
// transitions are tested without a page.

export type UpdatePhase = 'offer' | 'installing' | 'failed';

export interface UpdateNotice {
  stamp: string;
  phase: UpdatePhase;
  // The last progress or failure text; empty while only offered.
  text: string;
}

export type UpdateInput =
  | { kind: 'available'; stamp: string }
  | { kind: 'progress'; text: string; failed: boolean }
  | { kind: 'install' }
  | { kind: 'dismiss' };

export function nextUpdateNotice(current: UpdateNotice | null, input: UpdateInput): UpdateNotice | null {
  switch (input.kind) {
    case 'available':
      // A repeated check while installing must not bring the button back.
      if (current?.phase === 'installing') return { ...current, stamp: input.stamp || current.stamp };
      return input.stamp ? { stamp: input.stamp, phase: 'offer', text: '' } : current;
    case 'install':
      if (!current || current.phase === 'installing') return current;
      return { ...current, phase: 'installing', text: 'Starting the update…' };
    case 'progress': {
      const text = input.text.trim();
      const stamp = current?.stamp ?? '';
      if (input.failed) return { stamp, phase: 'failed', text: text || 'The update failed.' };
      // Progress of an install started from the menu shows too, even after a dismiss.
      return { stamp, phase: 'installing', text: text || current?.text || '' };
    }
    case 'dismiss':
      // An install in progress cannot be waved away; its texts keep coming.
      return current?.phase === 'installing' ? current : null;
  }
}
