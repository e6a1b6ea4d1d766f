// The keys of the script's files, crop, page notes and the text view. In Crop
// mode Return applies the frame and the arrows move it (Shift: size it);
// Space stays GO there.

import type { KeyInput, KeyMode } from './keys';

type Arrow = 'Left' | 'Right' | 'Up' | 'Down';
export type FileKeyAction =
  | 'saveAs'
  | 'crop'
  | 'pageNotes'
  | 'maxText'
  | 'dropPageNumbers'
  | 'cropApply'
  | `crop${Arrow}${'' | 'Size'}`;

const arrows: Record<string, Arrow> = { ArrowLeft: 'Left', ArrowRight: 'Right', ArrowUp: 'Up', ArrowDown: 'Down' };

const chords: Record<string, FileKeyAction> = { s: 'saveAs', c: 'crop', p: 'pageNotes', n: 'dropPageNumbers' };

export function fileKeyAction(e: KeyInput, mode: KeyMode): FileKeyAction | null {
  const plain = !e.ctrlKey && !e.altKey && !e.metaKey;
  if (mode.crop && plain) {
    if (e.key === 'Enter' && !e.shiftKey) return e.repeat ? null : 'cropApply';
    const arrow = arrows[e.key];
    if (arrow) return `crop${arrow}${e.shiftKey ? 'Size' : ''}`;
  }
  if (!e.ctrlKey || e.metaKey) return null;
  // Ctrl+Alt+0 as the menu has it; the page takes it too, so the text view
  // can be left wherever the keys are.
  if (e.altKey) return !e.shiftKey && e.key === '0' ? 'maxText' : null;
  if (!e.shiftKey) return null;
  return chords[e.key.toLowerCase()] ?? null;
}

// A crop key as a step: which way, and whether it sizes the frame.
export function cropStep(action: FileKeyAction): { dx: number; dy: number; resize: boolean } | null {
  const m = /^crop(Left|Right|Up|Down)(Size)?$/.exec(action);
  if (!m) return null;
  const dx = m[1] === 'Left' ? -1 : m[1] === 'Right' ? 1 : 0;
  const dy = m[1] === 'Up' ? -1 : m[1] === 'Down' ? 1 : 0;
  return { dx, dy, resize: m[2] === 'Size' };
}
