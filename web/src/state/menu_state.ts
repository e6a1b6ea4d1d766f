// The menu-relevant view state the native menus validate against. Sent only
// when one of its fields changes, so a scroll does not flood the bridge.

import type { MenuState } from '../bridge/types';

export type MenuInputs = MenuState;

export function menuStateOf(v: MenuInputs): MenuState {
  return {
    hasDoc: v.hasDoc,
    // A selection only counts in Cue Mode, where it can be acted on.
    hasSelection: v.cueMode && v.hasSelection,
    cueMode: v.cueMode,
    spreadOffset: Math.trunc(v.spreadOffset),
    dimmed: v.dimmed,
    memosVisible: v.memosVisible,
    theme: v.theme,
    pagesPerSpread: v.pagesPerSpread === 1 ? 1 : 2,
    sidebarVisible: v.sidebarVisible,
    maxText: v.maxText,
    locked: v.locked,
  };
}

const keys: (keyof MenuState)[] = [
  'hasDoc', 'hasSelection', 'cueMode', 'spreadOffset', 'dimmed', 'memosVisible', 'theme', 'pagesPerSpread',
  'sidebarVisible', 'maxText', 'locked',
];

export function sameMenuState(a: MenuState | null, b: MenuState): boolean {
  return a !== null && keys.every((k) => a[k] === b[k]);
}

// Remembers what was last sent; `send` is called only for a change.
export function menuStateReporter(send: (m: MenuState) => void): (m: MenuState) => boolean {
  let last: MenuState | null = null;
  return (m) => {
    if (sameMenuState(last, m)) return false;
    last = { ...m };
    send(m);
    return true;
  };
}
