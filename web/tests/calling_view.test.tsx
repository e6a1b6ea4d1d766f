// @vitest-environment happy-dom
// The new controls as the operator meets them: the Go to Page sheet, the
// update notice, the glow, and the selected cue named and edited from keys.
import { render } from 'preact';
import { afterEach, beforeEach, describe, expect, it } from 'vitest';
import { dispatchEvent } from '../src/bridge/events';
import type { Cue, CueState, Settings } from '../src/bridge/types';
import { emptyCueState } from '../src/bridge/types';
import { createController } from '../src/state/controller';
import { createStore } from '../src/state/store';
import { App } from '../src/views/App';
import { App as AppContext } from '../src/views/context';
import { doc, fakeBridge, settings } from './fake_bridge';

const flush = async () => {
  for (let i = 0; i < 4; i++) await new Promise((r) => setTimeout(r, 0));
};

function cue(id: string, page: number, y: number): Cue {
  return {
    id, number: id, label: `cue ${id}`, kind: 'LX', color: '', snippet: '', note: '', insertID: '', page,
    x: 0.1, y, w: 0.3, h: 0.02, labelX: 0, padL: -1, padR: -1,
  };
}

const state: CueState = { ...emptyCueState, cues: [cue('1', 0, 0.2), cue('2', 0, 0.6), cue('3', 1, 0.3)], standbyID: '2' };
let host: HTMLDivElement;

beforeEach(() => {
  Object.defineProperty(HTMLElement.prototype, 'clientWidth', { configurable: true, get: () => 800 });
  Object.defineProperty(HTMLElement.prototype, 'clientHeight', { configurable: true, get: () => 600 });
  Object.defineProperty(HTMLElement.prototype, 'scrollHeight', { configurable: true, get: () => 100000 });
  host = document.createElement('div');
  document.body.appendChild(host);
});

afterEach(() => {
  render(null, host);
  host.remove();
});

async function mount(overrides = {}, extra: Partial<Settings> = {}) {
  const fake = fakeBridge({
    getSettings: () => ({ ...settings, ...extra }),
    openDocumentPath: (p: never) => doc(p, { state }),
    upsertCue: () => 'id',
    installUpdate: () => true,
    ...overrides,
  });
  const store = createStore(false);
  const ctl = createController(store, fake.bridge);
  render(
    <AppContext.Provider value={{ store, ctl }}>
      <App />
    </AppContext.Provider>,
    host,
  );
  await ctl.boot();
  await ctl.openPath('/s/show.pdf');
  await flush();
  return { ...fake, store, ctl };
}

function key(target: EventTarget, k: string, mods: KeyboardEventInit = {}) {
  target.dispatchEvent(new KeyboardEvent('keydown', { key: k, bubbles: true, cancelable: true, ...mods }));
}

function named(label: string): HTMLElement {
  const el = host.querySelector(`[aria-label="${label}"]`);
  if (!el) throw new Error(`nothing named ${label}`);
  return el as HTMLElement;
}

describe('Go to Page', () => {
  it('opens on Ctrl+G; Return in its field goes and never fires GO; a bad page is answered in place', async () => {
    const t = await mount();
    key(document.body, 'g', { ctrlKey: true });
    await flush();
    const field = named('Page') as HTMLInputElement;
    expect(document.activeElement).toBe(field);
    field.value = '40';
    key(field, 'Enter');
    await flush();
    expect(host.querySelector('.goto-error')?.textContent).toBe('No page 40');
    field.value = '5';
    key(field, 'Enter');
    await flush();
    expect(host.querySelector('.goto-sheet')).toBeNull();
    expect(t.store.scrollRequest.value?.page).toBe(4);
    expect(t.named('go')).toEqual([]);
    key(document.body, 'g', { ctrlKey: true });
    await flush();
    key(named('Page'), 'Escape');
    await flush();
    expect(host.querySelector('.goto-sheet')).toBeNull();
  });
});

describe('the update notice', () => {
  it('offers the build, shows progress in place without its buttons, and brings Install back as "Try again" on failure', async () => {
    const t = await mount();
    expect(host.querySelector('.update-notice')).toBeNull();
    dispatchEvent(t.ctl.handlers, 'updateAvailable', { stamp: '20261206.1' });
    await flush();
    const notice = named('Update');
    expect(notice.textContent).toContain('A new build 20261206.1 is available');
    // Not over the show panel: the notice lives outside it.
    expect(host.querySelector('.show-panel .update-notice')).toBeNull();
    [...notice.querySelectorAll('button')].find((b) => b.textContent === 'Install')!.click();
    dispatchEvent(t.ctl.handlers, 'updateProgress', { text: 'Downloading 40 %' });
    await flush();
    expect(named('Update').textContent).toBe('Downloading 40 %');
    expect(named('Update').querySelectorAll('button')).toHaveLength(0);
    dispatchEvent(t.ctl.handlers, 'updateProgress', { text: 'signature does not match', failed: true });
    await flush();
    expect(named('Update').textContent).toContain('The update failed: signature does not match');
    expect(t.named('installUpdate')).toHaveLength(1);
    named('Dismiss update notice').click();
    await flush();
    expect(host.querySelector('.update-notice')).toBeNull();
  });
});

describe('cues from the keyboard', () => {
  it('glows the cue glowTarget names, names the selection for screen readers, and edits its label with F2', async () => {
    const t = await mount({}, { glowTarget: 'next' });
    const glowing = () => [...host.querySelectorAll('.cue.glow')].map((b) => b.getAttribute('data-cue'));
    expect(glowing()).toEqual(['3']);
    key(document.body, 'e', { ctrlKey: true });
    key(document.body, '.');
    await flush();
    expect(host.querySelector('[data-testid="cue-selection"]')?.textContent).toBe('Selected cue LX 1, cue 1, page 1');
    key(document.body, '.');
    await flush();
    expect(host.querySelector('.cue.selected')?.getAttribute('data-cue')).toBe('2');
    key(document.body, 'F2');
    await flush();
    const field = named('Label of cue LX 2') as HTMLInputElement;
    expect(field.value).toBe('cue 2');
    field.value = 'Storm';
    key(field, 'Enter');
    await flush();
    expect(t.named('upsertCue')).toEqual([[{ ...state.cues[1], label: 'Storm' }]]);
    expect(t.named('go')).toEqual([]);
    // Return outside a field is still GO with a cue selected.
    key(document.body, 'Enter');
    expect(t.named('go')).toHaveLength(1);
    key(document.body, 'Delete');
    expect(t.named('removeCue')).toEqual([['2']]);
  });
});
