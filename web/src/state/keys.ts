// The keyboard rule: GO and BACK are one key away from everywhere except a
// field the operator is typing in.

import { fileKeyAction, type FileKeyAction } from './file_keys';

export type KeyAction =
  | 'go'
  | 'back'
  | 'escape'
  | 'reset'
  | 'nextPage'
  | 'prevPage'
  | 'onePage'
  | 'twoPages'
  | 'zoomIn'
  | 'zoomOut'
  | 'zoomFit'
  | 'fitWidth'
  | 'textLarger'
  | 'textSmaller'
  | 'find'
  | 'cueMode'
  | 'gotoPage'
  | 'exportMarked'
  | 'nextCue'
  | 'prevCue'
  | 'selectNext'
  | 'selectPrev'
  | 'deleteCue'
  | 'editLabel'
  | 'lineCursor'
  | 'cursorUp'
  | 'cursorDown'
  | 'cursorHome'
  | 'cursorEnd'
  | 'deleteMark'
  | 'markColor'
  | 'editMark'
  | `tool${'1' | '2' | '3' | '4' | '5' | '6'}`
  | 'insertLine'
  | 'deleteInsert'
  | 'editInsert'
  | 'selectInsert'
  | `nudge${'Left' | 'Right' | 'Up' | 'Down'}${'' | 'Far'}`
  | FileKeyAction;

// What the page is doing, for the keys that mean something only in Cue Mode
// or only with a cue selected.
export interface KeyMode {
  cueMode: boolean;
  selection: boolean;
  // The line cursor is shown (Cue Mode only).
  lineCursor?: boolean;
  // Cue Mode with no field open: 1-6 pick a mark tool (marks.ts).
  markTools?: boolean;
  // A mark, memo or flag is selected: Delete removes it.
  markSelection?: boolean;
  // An inserted line is selected (Cue Mode only).
  insertSelection?: boolean;
  // Crop mode's frame is shown.
  crop?: boolean;
}

const noMode: KeyMode = { cueMode: false, selection: false, lineCursor: false };

const cursorKeys = new Map<string, KeyAction>([
  ['ArrowUp', 'cursorUp'], ['k', 'cursorUp'], ['ArrowDown', 'cursorDown'], ['j', 'cursorDown'],
  ['Home', 'cursorHome'], ['End', 'cursorEnd'],
]);

const arrows: Record<string, 'Left' | 'Right' | 'Up' | 'Down'> = {
  ArrowLeft: 'Left', ArrowRight: 'Right', ArrowUp: 'Up', ArrowDown: 'Down',
};

export interface KeyInput {
  key: string;
  ctrlKey: boolean;
  shiftKey: boolean;
  altKey: boolean;
  metaKey: boolean;
  repeat: boolean;
  target: unknown;
}

interface ElementLike {
  tagName?: string;
  isContentEditable?: boolean;
  type?: string;
  readOnly?: boolean;
  disabled?: boolean;
  matches?: (selector: string) => boolean;
  getAttribute?: (name: string) => string | null;
}

// Buttons, checkboxes and the like are not editable: the operator must not
// lose GO because a toolbar button kept the focus.
const nonTextInputs = new Set(['button', 'submit', 'reset', 'checkbox', 'radio', 'range', 'color', 'file', 'image']);

export function isEditableTarget(target: unknown): boolean {
  if (typeof target !== 'object' || target === null) return false;
  const el = target as ElementLike;
  if (el.isContentEditable === true) return true;
  const tag = (el.tagName ?? '').toUpperCase();
  if (tag === 'TEXTAREA') return !el.readOnly && !el.disabled;
  if (tag === 'SELECT') return true;
  if (tag === 'INPUT') return !nonTextInputs.has((el.type ?? 'text').toLowerCase()) && !el.readOnly && !el.disabled;
  return false;
}

// Space presses a button or ticks a box the operator reached with Tab (the
// browser then shows its focus ring): without that, a keyboard-only operator
// could not work a control once a script is open. A control that only kept the
// focus from a pointer click does not show the ring, so Space stays GO there,
// and Return is GO everywhere outside a text field.
const spaceControls = new Set(['button', 'checkbox', 'radio', 'link', 'switch', 'menuitem', 'tab']);

export function takesSpace(target: unknown): boolean {
  if (typeof target !== 'object' || target === null) return false;
  const el = target as ElementLike;
  if (el.disabled === true || typeof el.matches !== 'function') return false;
  const tag = (el.tagName ?? '').toUpperCase();
  const role = el.getAttribute?.('role') ?? '';
  const control =
    tag === 'BUTTON' || tag === 'SUMMARY' || tag === 'A' || spaceControls.has(role) ||
    (tag === 'INPUT' && spaceControls.has((el.type ?? '').toLowerCase()));
  if (!control) return false;
  try {
    return el.matches(':focus-visible');
  } catch {
    return false;  // an engine without the selector keeps Space as GO
  }
}

export function keyAction(e: KeyInput, mode: KeyMode = noMode): KeyAction | null {
  // Inside a field every key is the field's: Return commits and Escape
  // cancels there, and neither may reach GO.
  if (isEditableTarget(e.target)) return null;
  if (e.key === ' ' && takesSpace(e.target)) return null;
  // The web view swallows the platform's cancel command; the page handles it.
  if (e.key === 'Escape') return 'escape';
  const fileKey = fileKeyAction(e, mode);
  if (fileKey) return fileKey;
  const plain = !e.ctrlKey && !e.altKey && !e.metaKey;
  // Standby steps without firing. Shift and Alt are allowed: many layouts
  // (the Finnish one among them) reach the brackets only through them. One
  // press is one step, as with GO.
  if (!e.ctrlKey && !e.metaKey && (e.key === ']' || e.key === '[')) {
    if (e.repeat) return null;
    return e.key === ']' ? 'nextCue' : 'prevCue';
  }
  if (mode.cueMode && plain && e.shiftKey && e.key === 'I') return 'selectInsert';
  if (mode.cueMode && plain && !e.shiftKey && (e.key === '.' || e.key === ',')) {
    return e.key === '.' ? 'selectNext' : 'selectPrev';
  }
  // The line cursor: n or Insert shows it and, pressed again, places a cue
  // on its line; plain arrows, j/k and Home/End move it while it shows.
  if (mode.cueMode && plain && !e.shiftKey) {
    if (e.key === 'n' || e.key === 'Insert') return e.repeat ? null : 'lineCursor';
    const move = mode.lineCursor ? cursorKeys.get(e.key) : undefined;
    if (move) return move;
    if (e.key === 'i') return e.repeat ? null : 'insertLine';
    if (mode.insertSelection && e.key === 'Delete') return 'deleteInsert';
    if (mode.insertSelection && e.key === 'F2') return 'editInsert';
  }
  if (mode.markTools && plain && !e.shiftKey && /^[1-6]$/.test(e.key)) return e.repeat ? null : `tool${e.key as '1'}`;
  if (mode.markSelection && arrows[e.key] && e.altKey && !e.ctrlKey && !e.metaKey) return `nudge${arrows[e.key]}${e.shiftKey ? 'Far' : ''}`;
  // Delete removes the selection, as it removes a cue or an inserted line;
  // Backspace stays BACK even then, so a run is never held up by a selection.
  if (mode.markSelection && plain && !e.shiftKey) {
    if (e.key === 'Delete') return e.repeat ? null : 'deleteMark';
    if (e.key === 'c' || e.key === 'C') return 'markColor';
    if (e.key === 'F2') return 'editMark';
  }
  if (mode.markTools && plain && !e.shiftKey && (e.key === 'c' || e.key === 'C')) return 'markColor';
  if (mode.cueMode && mode.selection) {
    const arrow = arrows[e.key];
    if (arrow && e.altKey && !e.ctrlKey && !e.metaKey) return `nudge${arrow}${e.shiftKey ? 'Far' : ''}`;
    if (plain && !e.shiftKey && e.key === 'Delete') return 'deleteCue';
    // Return stays GO; the label is edited with F2 or Ctrl+Return.
    if (plain && !e.shiftKey && e.key === 'F2') return 'editLabel';
    if (e.ctrlKey && !e.altKey && !e.metaKey && !e.shiftKey && e.key === 'Enter') return 'editLabel';
  }
  if (plain && !e.shiftKey) {
    switch (e.key) {
      // A held key repeats; one press is one GO.
      case 'Enter':
      case ' ':
        return e.repeat ? null : 'go';
      case 'Backspace':
        return e.repeat ? null : 'back';
      case 'PageDown':
      case 'ArrowRight':
        return 'nextPage';
      case 'PageUp':
      case 'ArrowLeft':
        return 'prevPage';
    }
    return null;
  }
  // The text size beside Ctrl+Alt+0 (Maximize Text); '+' needs Shift on most layouts.
  if (e.ctrlKey && e.altKey && !e.metaKey) {
    if (e.key === '+' || (e.key === '=' && !e.shiftKey)) return 'textLarger';
    if (e.key === '-' && !e.shiftKey) return 'textSmaller';
    return null;
  }
  if (e.ctrlKey && !e.altKey && !e.metaKey) {
    // A held chord is one press: its repeats must not answer the question.
    if (e.shiftKey && (e.key === 'R' || e.key === 'r')) return e.repeat ? null : 'reset';
    if (e.shiftKey && (e.key === 'E' || e.key === 'e')) return 'exportMarked';
    // '+' needs Shift on most layouts.
    if (e.key === '+') return 'zoomIn';
    if (e.shiftKey) return null;
    switch (e.key) {
      case '1':
        return 'onePage';
      case '2':
        return 'twoPages';
      case '3':
        return 'fitWidth';
      case '=':
        return 'zoomIn';
      case '-':
        return 'zoomOut';
      case '0':
        return 'zoomFit';
      case 'f':
      case 'F':
        return 'find';
      case 'e':
      case 'E':
        return 'cueMode';
      case 'g':
      case 'G':
        return 'gotoPage';
    }
  }
  return null;
}

// A keyboard GO fires on key down and arms again only when that key comes up,
// so a held key, or one repeated without being marked as a repeat, fires once.
// A key up the page never saw (focus went elsewhere meanwhile) must not cost
// the next GO: a press after a second of no downs from that key fires.
export interface KeyLatch {
  down(key: string, atMs: number): boolean;
  up(key: string): void;
  clear(): void;
}

export const keyLatchStaleMs = 1000;

export function createKeyLatch(): KeyLatch {
  const held = new Map<string, number>();
  return {
    down(key, atMs) {
      const last = held.get(key);
      held.set(key, atMs);
      return last === undefined || atMs - last > keyLatchStaleMs;
    },
    up(key) {
      held.delete(key);
    },
    clear() {
      held.clear();
    },
  };
}
