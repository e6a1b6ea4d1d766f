// The page rendered into the test DOM with a scripted bridge, for the tests
// that drive it as the operator does.
import { render } from 'preact';
import { afterEach, beforeEach } from 'vitest';
import { createApp } from '../src/actions/app';
import { createStore } from '../src/state/store';
import { App } from '../src/views/App';
import { App as AppContext } from '../src/views/context';
import { fakeBridge } from './fake_bridge';

// A scroll set by an effect renders again a turn later; a few turns let the
// page come to rest.
export const flush = async () => {
  for (let i = 0; i < 4; i++) await new Promise((r) => setTimeout(r, 0));
};

// The element the page is rendered into, new for every test.
export let host: HTMLDivElement;

// Gives every test of the file a fresh host element sized as a window.
export function usePageDom(): void {
  beforeEach(() => {
    // The DOM here does no layout; give the script view a size.
    Object.defineProperty(HTMLElement.prototype, 'clientWidth', { configurable: true, get: () => 800 });
    Object.defineProperty(HTMLElement.prototype, 'clientHeight', { configurable: true, get: () => 600 });
    Object.defineProperty(HTMLElement.prototype, 'scrollHeight', { configurable: true, get: () => 100000 });
    // Browsers have an onload property on images; Preact looks for it to name
    // the event 'load'. This DOM lacks it.
    if (!('onload' in HTMLElement.prototype))
      Object.defineProperty(HTMLElement.prototype, 'onload', { configurable: true, writable: true, value: null });
    host = document.createElement('div');
    document.body.appendChild(host);
  });
  afterEach(() => {
    render(null, host);
    host.remove();
  });
}

// Renders the page over a fake bridge and boots it; `open` opens a script too.
export async function mountPage(overrides: Parameters<typeof fakeBridge>[0] = {}, options: { confidence?: boolean; open?: string } = {}) {
  const fake = fakeBridge(overrides);
  const store = createStore(options.confidence ?? false);
  const app = createApp(store, fake.bridge);
  render(
    <AppContext.Provider value={{ ...app, store }}>
      <App />
    </AppContext.Provider>,
    host,
  );
  await app.boot();
  if (options.open) await app.documents.openPath(options.open);
  await flush();
  return { ...fake, store, ...app };
}

// A key pressed with `target` focused, as the browser sends it.
export function keydown(target: EventTarget, key: string, mods: KeyboardEventInit = {}): void {
  target.dispatchEvent(new KeyboardEvent('keydown', { key, bubbles: true, cancelable: true, ...mods }));
}

// The primary button at client point (x, y).
export function pointer(el: Element, type: string, x: number, y: number): void {
  el.dispatchEvent(new PointerEvent(type, { clientX: x, clientY: y, button: 0, bubbles: true }));
}

// Places an element on screen; this DOM does no layout.
export function placeAt(el: Element, left: number, top: number, width: number, height: number): void {
  el.getBoundingClientRect = () => ({ left, top, width, height, right: left + width, bottom: top + height, x: left, y: top, toJSON: () => ({}) });
}
