// What every group of actions shares: the typed native calls, the store, and
// the one way a failed call is told (quietly, in the show panel).

import type { native } from '../bridge/native';
import type { Store } from '../state/store';

export type Bridge = typeof native;

export interface Base {
  store: Store;
  bridge: Bridge;
  quiet: (error: unknown) => void;
}

export function errorText(error: unknown): string {
  return error instanceof Error ? error.message : String(error);
}

// The technician's trace (TALLOWMARK_TRACE=1): the native side sets this
// before the page's scripts run.
export function tracing(): boolean {
  return (globalThis as { __tallowmarkTrace?: unknown }).__tallowmarkTrace === true;
}

// What only the script view knows, told by it once it is laid out: where the
// top of the view is (page, fraction down it), how wide its reading column is
// (CSS px), and how to give it the keyboard back (GO) when a bar or sheet closes.
export function createScriptView(store: Store) {
  let focus: () => void = () => undefined;
  let top: () => { page: number; y: number } = () => ({ page: store.visiblePage.peek(), y: 0 });
  let width: () => number = () => 0;
  return {
    focus: () => focus(),
    top: () => top(),
    columnWidth: () => width(),
    setFocus(f: () => void): void {
      focus = f;
    },
    setTop(f: () => { page: number; y: number }): void {
      top = f;
    },
    setColumnWidth(f: () => number): void {
      width = f;
    },
  };
}

export type ScriptView = ReturnType<typeof createScriptView>;
