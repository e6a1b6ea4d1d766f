// The menu-relevant view state the native menus validate against. Sent only
// when one of its fields changes, so a scroll does not flood the bridge.

import type { MenuState } from '../bridge/types';

// Selection and cue mode do not exist in the first version of the page.
export type MenuInputs = Omit<MenuState, 'hasSelection' | 'cueMode'>;

export function menuStateOf(v: MenuInputs): MenuState {
  return {
    hasDoc: v.hasDoc,
    // The first version has no selection and no cue mode yet.
    hasSelection: false,
    cueMode: false,
    spreadOffset: Math.trunc(v.spreadOffset),
    dimmed: v.dimmed,
    memosVisible: v.memosVisible,
    theme: v.theme,
    pagesPerSpread: v.pagesPerSpread === 1 ? 1 : 2,
    sidebarVisible: v.sidebarVisible,
    maxText: v.maxText,
  };
}

const keys: (keyof MenuState)[] = [
  'hasDoc', 'hasSelection', 'cueMode', 'spreadOffset', 'dimmed', 'memosVisible', 'theme', 'pagesPerSpread',
  'sidebarVisible', 'maxText',
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
