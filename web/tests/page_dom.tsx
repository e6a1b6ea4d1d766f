// The page rendered into the test DOM with a scripted bridge, for the tests
// that drive it as the operator does, and the ways they find and work its parts.
import { render } from 'preact';
import { afterEach, beforeEach, expect } from 'vitest';
import { createApp } from '../src/actions/app';
import { dispatchEvent, type EventHandlers } from '../src/bridge/events';
import type { CueState } from '../src/bridge/types';
import { createStore } from '../src/state/store';
import { App } from '../src/views/App';
import { App as AppContext } from '../src/views/context';
import { doc, fakeBridge, type Answers } from './fake_bridge';

// A scroll set by an effect renders again a turn later; a few turns let the
// page come to rest.
export const flush = async () => {
  for (let i = 0; i < 4; i++) await new Promise((r) => setTimeout(r, 0));
};

// The element the page is rendered into, new for every test of the file.
export let host: HTMLDivElement;

export function usePageDom(): void {
  beforeEach(() => {
    // The DOM here does no layout: the script view gets a window's size.
    const size = { clientWidth: 800, clientHeight: 600, scrollHeight: 100000 };
    for (const [name, px] of Object.entries(size)) Object.defineProperty(HTMLElement.prototype, name, { configurable: true, get: () => px });
    // Preact names the event 'load' only where images have an onload property; this DOM lacks it.
    if (!('onload' in HTMLElement.prototype))
      Object.defineProperty(HTMLElement.prototype, 'onload', { configurable: true, writable: true, value: null });
    host = document.body.appendChild(document.createElement('div'));
  });
  afterEach(() => {
    render(null, host);
    host.remove();
  });
}

// Renders the page over a fake bridge and boots it; `open` opens a script too.
export async function mountPage(overrides: Answers = {}, options: { confidence?: boolean; open?: string } = {}) {
  const fake = fakeBridge(overrides);
  const store = createStore(options.confidence ?? false);
  const app = createApp(store, fake.bridge);
  render(<AppContext.Provider value={{ ...app, store }}><App /></AppContext.Provider>, host);
  await app.boot();
  if (options.open) await app.documents.openPath(options.open);
  await flush();
  return { ...fake, store, ...app };
}

// The page with /s/show.pdf open, its state `state` (and more of the
// document's fields) unless the answers say otherwise.
export function mountScript(state: CueState, overrides: Answers = {}, fields: Parameters<typeof doc>[1] = {}) {
  return mountPage({ openDocumentPath: (p: never) => doc(p, { state, ...fields }), ...overrides }, { open: '/s/show.pdf' });
}

// A key pressed with `target` focused, as the browser sends it; `keyed`, and
// the page comes to rest after it.
export function keydown(target: EventTarget, key: string, mods: KeyboardEventInit = {}): void {
  target.dispatchEvent(new KeyboardEvent('keydown', { key, bubbles: true, cancelable: true, ...mods }));
}
export async function keyed(target: EventTarget, key: string, mods: KeyboardEventInit = {}): Promise<void> {
  keydown(target, key, mods);
  await flush();
}

// An event from the native side, and the page comes to rest after it.
export async function told(handlers: EventHandlers, name: string, payload: unknown): Promise<void> {
  dispatchEvent(handlers, name, payload);
  await flush();
}

export async function clicked(el: HTMLElement): Promise<void> {
  el.click();
  await flush();
}

// The primary button at client point (x, y).
export function pointer(el: Element, type: string, x: number, y: number): void {
  el.dispatchEvent(new PointerEvent(type, { clientX: x, clientY: y, button: 0, bubbles: true }));
}

// The primary button pressed at the first point, moved through the others and
// let go at the last (client px); the page comes to rest after it.
export async function dragged(el: Element, ...points: [number, number][]): Promise<void> {
  points.forEach(([x, y], i) => pointer(el, i === 0 ? 'pointerdown' : i === points.length - 1 ? 'pointerup' : 'pointermove', x, y));
  await flush();
}

// Places an element on screen; this DOM does no layout.
export function placeAt(el: Element, left: number, top: number, width: number, height: number): void {
  el.getBoundingClientRect = () => ({ left, top, width, height, right: left + width, bottom: top + height, x: left, y: top, toJSON: () => ({}) });
}

export const $ = <T extends Element = HTMLElement>(selector: string, root: ParentNode = host) => root.querySelector<T>(selector);
export const $$ = <T extends Element = HTMLElement>(selector: string, root: ParentNode = host) => [...root.querySelectorAll<T>(selector)];
export const text = (selector: string) => $(selector)?.textContent ?? null;

function found<T>(el: T | null | undefined, what: string): T {
  if (!el) throw new Error(`no ${what}`);
  return el;
}
export const button = (label: string, within: ParentNode = host): HTMLButtonElement =>
  found([...within.querySelectorAll('button')].find((b) => b.textContent?.trim() === label), `button ${label}`);
// The element named `label` for assistive technology.
export const named = <T extends HTMLElement = HTMLElement>(label: string): T => found($<T>(`[aria-label="${label}"]`), `element named ${label}`);

// Types into a field as the operator does: focused, changed, told.
export function typeInto(selector: string, value: string): HTMLInputElement {
  const field = $<HTMLInputElement>(selector)!;
  expect(field, selector).not.toBeNull();
  field.focus();
  field.value = value;
  field.dispatchEvent(new Event('input', { bubbles: true }));
  return field;
}

// The focus goes to a control outside every editor.
export function focusAway(): void {
  host.appendChild(document.createElement('button')).focus();
}

// Whether the field `selector` names already has the focus when it first
// appears in the page, so a key typed at once lands in it.
export async function focusedOnArrival(selector: string, act: () => unknown): Promise<boolean | undefined> {
  let focused: boolean | undefined;
  const watcher = new MutationObserver(() => {
    const field = host.querySelector(selector);
    if (field && focused === undefined) focused = document.activeElement === field;
  });
  watcher.observe(host, { childList: true, subtree: true });
  await act();
  await flush();
  watcher.disconnect();
  return focused;
}
