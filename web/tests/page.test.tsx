// @vitest-environment happy-dom
// The page as the operator meets it, rendered into a DOM with the native
// calls scripted: what the first screen offers, cues drawn from the state,
// and the keys and buttons that run the show.
import { render } from 'preact';
import { describe, expect, it, vi } from 'vitest';
import { dispatchEvent } from '../src/bridge/events';
import type { CueState } from '../src/bridge/types';
import { emptyCueState } from '../src/bridge/types';
import { cue as baseCue, doc } from './fake_bridge';
import { flush, host, keydown as key, mountPage, usePageDom } from './page_dom';
import { labelGutter } from '../src/state/labels';
import { renderPixelWidth } from '../src/state/layout';

// A page of a spread in the 800 px view: less the gaps and both label gutters.
const spreadPageWidth = (776 - 12 - 2 * labelGutter(776, 2, 14).px) / 2;


const cue = (id: string, page: number, y: number) => baseCue(id, page, y, { label: `cue ${id}`, w: 0.3, padL: -1, padR: -1 });

const state: CueState = {
  ...emptyCueState,
  cues: [cue('1', 0, 0.2), cue('2', 0, 0.6), cue('3', 1, 0.3)],
  standbyID: '2',
  fired: ['1'],
};

usePageDom();

// Mounts the page with /s/show.pdf open, its cues from `state` unless told.
const mount = (overrides = {}) => mountPage({ openDocumentPath: (p: never) => doc(p, { state }), ...overrides }, { open: '/s/show.pdf' });

function button(text: string): HTMLButtonElement {
  const found = [...host.querySelectorAll('button')].find((b) => b.textContent?.trim() === text);
  if (!found) throw new Error(`no button ${text}`);
  return found as HTMLButtonElement;
}

describe('the first screen', () => {
  it('offers open, demo and the recent scripts, and opens a recent one by its path', async () => {
    const t = await mountPage();
    expect(button('Open Script…')).toBeTruthy();
    // Nothing to fire yet: the keys stay with the focused button.
    key(button('Open Demo Script'), 'Enter');
    expect(t.named('go')).toEqual([]);
    expect(button('Open Demo Script')).toBeTruthy();
    button('a.pdf').click();
    await flush();
    expect(t.named('openDocumentPath')).toEqual([['/s/a.pdf']]);
    expect(host.querySelector('.script')).not.toBeNull();
  });
});

describe('an open script', () => {
  it('draws the pages near the viewport with their cues, standby marked and fired dimmed, and logs the first image shown', async () => {
    const long = { state, pageCount: 40, aspects: Array(40).fill(0.7) };
    const t = await mount({ openDocumentPath: (p: never) => doc(p, long), renderPage: (i: never) => ({ index: i, png: 'iVBORw0KGgo=' }) });
    // Two pages per view (the settings say so), beside their label gutters:
    // spreads in rows of 440 px in a 600 px viewport; images for rows within
    // one viewport, rows drawn within two.
    const pages = [...host.querySelectorAll('.page')].map((p) => Number(p.getAttribute('data-page')));
    expect(pages).toEqual([0, 1, 2, 3, 4, 5, 6, 7, 8, 9]);
    const requested = t.named('renderPage');
    expect(requested.slice(0, 2).map((a) => a[0])).toEqual([0, 1]);
    expect(Math.max(...requested.map((a) => a[0] as number))).toBeLessThanOrEqual(5);
    expect(requested[0][1]).toBe(renderPixelWidth(spreadPageWidth, 1));
    const boxes = host.querySelectorAll('.page[data-page="0"] .cue');
    expect(boxes).toHaveLength(2);
    expect(boxes[0].className).toContain('fired');
    expect(boxes[1].className).toContain('standby');
    expect(host.querySelector('.standby-tag')?.textContent).toBe('LX 2');
    expect(host.querySelector('.count')?.textContent).toBe('1 of 3 fired');
    const images = host.querySelectorAll('img.page-image');
    expect(images.length).toBeGreaterThan(1);
    expect(t.named('debugLog')).toEqual([]);
    images[1].dispatchEvent(new Event('load'));
    images[0].dispatchEvent(new Event('load'));
    expect(t.named('debugLog')).toEqual([['first page shown 2']]);
  });

  it('fires GO from the keys outside text fields only, and RESET asks in the page first', async () => {
    const t = await mount();
    key(document.body, ' ');
    key(button('RESET'), 'Enter');
    const field = document.createElement('input');
    host.appendChild(field);
    key(field, 'Enter');
    key(field, ' ');
    expect(t.named('go')).toHaveLength(2);
    key(document.body, 'Backspace');
    expect(t.named('back')).toHaveLength(1);

    button('RESET').click();
    await flush();
    expect(host.querySelector('.confirm')).not.toBeNull();
    expect(t.named('reset')).toHaveLength(0);
    button('Reset').click();
    await flush();
    expect(t.named('reset')).toHaveLength(1);
    expect(host.querySelector('.confirm')).toBeNull();
  });

  // The window's menu takes Ctrl+Shift+R before the page sees it and sends
  // "reset"; outside the app the page's own key does. Each press at a time
  // (ms), through one path or the other; how many RESETs reach the engine.
  it.each([
    ['the menu twice, 0.8 s apart', [['menu', 0], ['menu', 800]], 1],
    ['the key twice, 0.8 s apart', [['key', 0], ['key', 800]], 1],
    ['a held key: its repeats', [['key', 0], ['repeat', 600], ['repeat', 640]], 0],
    ['one press seen by both paths', [['key', 0], ['menu', 5]], 0],
    ['once', [['menu', 0]], 0],
  ] as [string, [string, number][], number][])('RESET by the chord: %s', async (_name, presses, resets) => {
    const t = await mount();
    const now = vi.spyOn(Date, 'now');
    for (const [via, at] of presses) {
      now.mockReturnValue(10000 + at);
      if (via === 'menu') dispatchEvent(t.handlers, 'menuCommand', { command: 'reset' });
      else window.dispatchEvent(new KeyboardEvent('keydown', { key: 'R', ctrlKey: true, shiftKey: true, repeat: via === 'repeat', bubbles: true, cancelable: true }));
      await flush();
    }
    now.mockRestore();
    expect(t.named('reset')).toHaveLength(resets);
    expect(host.querySelector('.confirm') === null).toBe(resets === 1);
  });

  it('keeps the page being read when the layout changes, wherever the operator scrolled', async () => {
    const long = { pageCount: 40, aspects: Array(40).fill(0.7) };
    const t = await mount({ openDocumentPath: (p: never) => doc(p, long) });
    t.view.goToPage(10);
    await flush();
    expect(t.store.visiblePage.value).toBe(10);
    const scroller = host.querySelector('.script') as HTMLElement;
    const row20 = host.querySelector('.page[data-page="20"]');
    expect(row20).toBeNull();
    // The operator scrolls on by five spreads (rows and their gaps).
    scroller.scrollTop += 5 * (spreadPageWidth / 0.7 + 12);
    scroller.dispatchEvent(new Event('scroll'));
    await flush();
    expect(t.store.visiblePage.value).toBe(20);
    t.view.zoom(1);
    await flush();
    expect(t.store.zoom.value).toBeGreaterThan(1);
    expect(t.store.visiblePage.value).toBe(20);
    t.view.setPagesPerSpread(1);
    await flush();
    expect(t.store.visiblePage.value).toBe(20);
  });
});

describe('the saved-run banner', () => {
  // As the core opens a script: nothing fired yet, the last run offered.
  const saved = { ...state, fired: [], savedRun: { count: 1, total: 3, standbyID: '2', number: '2', label: 'cue 2' } };
  const banner = () => host.querySelector('.resume-banner')?.querySelector('span')?.textContent ?? null;

  it('offers the saved run after opening; Resume restores it, Discard drops it, and either hides it', async () => {
    for (const [answer, call] of [['Resume', 'restoreRun'], ['Discard', 'discardRun']] as const) {
      const t = await mount({ openDocumentPath: (p: never) => doc(p, { state: saved }), restoreRun: () => true, discardRun: () => true });
      expect(banner()).toBe('1 of 3 cues fired, standby 2 cue 2');
      button(answer).click();
      await flush();
      expect(t.named(call)).toHaveLength(1);
      expect(banner()).toBeNull();
      // Opening the script again offers again (the core still has it).
      await t.documents.openPath('/s/other.pdf');
      await flush();
      expect(banner()).not.toBeNull();
      render(null, host);
    }
  });

  it('sits above the script, never over it or the find bar; Tab reaches it and Escape does not discard it', async () => {
    const t = await mount({ openDocumentPath: (p: never) => doc(p, { state: saved }), discardRun: () => true });
    window.dispatchEvent(new KeyboardEvent('keydown', { key: 'f', ctrlKey: true, bubbles: true, cancelable: true }));
    await flush();
    const el = host.querySelector('.resume-banner') as HTMLElement;
    // In the flow: the pages and the find bar live in the area after it.
    const area = el.nextElementSibling as HTMLElement;
    expect(area?.className).toBe('script-area');
    expect(area.querySelector('.script')).not.toBeNull();
    expect(area.querySelector('.find-bar')).not.toBeNull();
    expect(el.contains(host.querySelector('.find-bar'))).toBe(false);
    for (const b of el.querySelectorAll('button')) expect(b.hasAttribute('tabindex') || b.disabled).toBe(false);
    (host.querySelector('.find-bar input') as HTMLElement | null)?.blur();
    for (let i = 0; i < 3; i++) window.dispatchEvent(new KeyboardEvent('keydown', { key: 'Escape', bubbles: true, cancelable: true }));
    await flush();
    expect(banner()).toBe('1 of 3 cues fired, standby 2 cue 2');
    expect(t.named('discardRun')).toHaveLength(0);
  });

  it('is not offered over the run in progress: the core offers every run it writes', async () => {
    const t = await mount({
      openDocumentPath: (p: never) => doc(p, { state: saved }),
      // The answer to a GO carries the run just written as the offer.
      go: () => ({ ...saved, fired: ['1'], standbyID: '2', savedRun: { ...saved.savedRun, count: 1 } }),
    });
    expect(banner()).not.toBeNull();
    t.run.go();
    await flush();
    expect(banner()).toBeNull();
  });
});

describe('opening at the standby cue', () => {
  // A standby on page 30 of 40, nothing fired, the last run offered.
  const far = { ...emptyCueState, cues: [cue('1', 0, 0.2), cue('2', 30, 0.5), cue('3', 31, 0.5)], standbyID: '1', fired: [] };
  const offered = { ...far, standbyID: '2', savedRun: { count: 1, total: 3, standbyID: '3', number: '3', label: '' } };
  const restored = { ...offered, standbyID: '3', fired: ['1', '2'], savedRun: {} };
  const long = { pageCount: 40, aspects: Array(40).fill(0.7) };

  it('opens at the first page, goes to the standby on Resume and stays put on Discard', async () => {
    // answer, page seen after answering five spreads down
    const cases: [string, (p: number) => boolean][] = [
      ['Resume', (p) => p === 30 || p === 31],
      ['Discard', (p) => p === 10 || p === 11],
    ];
    for (const [answer, seen] of cases) {
      const t = await mount({
        openDocumentPath: (p: never) => doc(p, { state: offered, ...long }),
        restoreRun: () => true,
        discardRun: () => true,
        getState: () => restored,
      });
      const scroller = host.querySelector('.script') as HTMLElement;
      expect(scroller.scrollTop, answer).toBe(0);
      expect(t.store.visiblePage.value, answer).toBe(0);
      expect(host.querySelector('.back-to-standby'), answer).not.toBeNull();
      // Until answered, the panel says what a GO does: it continues the saved run.
      const panel = () => [host.querySelector('.standby-tag')?.textContent, host.querySelector('.count')?.textContent];
      expect(panel(), answer).toEqual(['LX 3', '1 of 3 fired']);
      scroller.scrollTop = 5 * (spreadPageWidth / 0.7 + 12);
      scroller.dispatchEvent(new Event('scroll'));
      await flush();
      button(answer).click();
      await flush();
      expect(seen(t.store.visiblePage.value), `${answer}: page ${t.store.visiblePage.value}`).toBe(true);
      expect(panel(), answer).toEqual(answer === 'Resume' ? ['LX 3', '2 of 3 fired'] : ['LX 2', '0 of 3 fired']);
      render(null, host);
    }
  });

  it('shows the standby cue on the monitor wherever it is', async () => {
    const t = await mountPage({ currentDocument: () => doc('/s/show.pdf', { state: offered, ...long }) }, { confidence: true });
    await flush();
    expect(t.store.doc.value?.path).toBe('/s/show.pdf');
    expect(t.store.visiblePage.value).toBeGreaterThanOrEqual(29);
    // The offer is open: the monitor shows the saved run's standby, what GO fires.
    expect(host.querySelector('.cue[data-cue="3"]')).not.toBeNull();
  });
});

describe('the page sheets', () => {
  it('Keyboard Shortcuts lists the keys over the script; GO still fires; Escape closes it', async () => {
    const t = await mount();
    t.commands.menuCommand('shortcuts');
    await flush();
    const sheet = host.querySelector('.script-wrap [aria-label="Keyboard shortcuts"]');
    expect(sheet?.textContent).toContain('Ctrl+Shift+R');
    expect(sheet?.textContent).toContain('Page Down');
    key(document.activeElement ?? document.body, 'Enter');
    await flush();
    expect(t.named('go')).toHaveLength(1);
    key(document.activeElement ?? document.body, 'Escape');
    await flush();
    expect(host.querySelector('.page-sheet')).toBeNull();
  });
});

describe('the find bar and the sidebar', () => {
  it('opens on Ctrl+F, keeps Return from GO, draws the hit, and gives GO back on Escape', async () => {
    const hits = [{ page: 1, rect: [0.2, 0.4, 0.3, 0.02], snippet: 'storm', lineEnd: false }];
    const t = await mount({ searchDocument: () => hits });
    key(document.body, 'f', { ctrlKey: true });
    await flush();
    const input = host.querySelector('.find-bar input') as HTMLInputElement;
    expect(document.activeElement).toBe(input);
    input.value = 'storm';
    input.dispatchEvent(new Event('input', { bubbles: true }));
    key(input, 'Enter');
    await flush();
    expect(t.named('go')).toEqual([]);
    expect(t.named('searchDocument')).toEqual([['storm']]);
    expect(host.querySelector('.find-status')?.textContent).toBe('1 of 1');
    expect(t.store.scrollRequest.value?.page).toBe(1);
    const drawn = host.querySelector('.page[data-page="1"] .find-hit') as HTMLElement;
    expect(drawn.style.top).toBe('40%');
    // Ctrl+F again from the script takes the keyboard back to the open bar.
    (host.querySelector('.script') as HTMLElement).focus();
    t.commands.menuCommand('find');
    await flush();
    expect(document.activeElement).toBe(input);

    key(input, 'Escape');
    await flush();
    expect(host.querySelector('.find-bar')).toBeNull();
    expect(host.querySelector('.find-hit')).toBeNull();
    expect(document.activeElement).toBe(host.querySelector('.script'));
    key(document.activeElement!, 'Enter');
    expect(t.named('go')).toHaveLength(1);
  });

  it('lists the cues in order; a click shows one, a double-click puts it in standby', async () => {
    const t = await mount({ openDocumentPath: (p: never) => doc(p, { state, pageCount: 40, aspects: Array(40).fill(0.7) }) });
    const rows = [...host.querySelectorAll('.cue-row')] as HTMLButtonElement[];
    expect(rows.map((r) => r.querySelector('.cue-number')?.textContent)).toEqual(['1', '2', '3']);
    expect(rows[0].className).toContain('fired');
    expect(rows[1].className).toContain('standby');
    rows[2].click();
    expect(t.store.scrollRequest.value?.page).toBe(1);
    expect(t.store.follow.value).toBe(false);
    rows[2].dispatchEvent(new MouseEvent('dblclick', { bubbles: true }));
    expect(t.named('standbyCue')).toEqual([['3']]);
  });
});

describe('a long cue list', () => {
  it('draws a window of rows around the standby, keeps it in view after a GO, and walks by the arrow keys', async () => {
    const many = Array.from({ length: 1000 }, (_, i) => cue(String(i + 1), Math.floor(i / 2), (i % 2) * 0.5 + 0.2));
    const long = { ...emptyCueState, cues: many, standbyID: '600', fired: many.slice(0, 599).map((c) => c.id) };
    const t = await mount({
      openDocumentPath: (p: never) => doc(p, { state: long, pageCount: 500, aspects: Array(500).fill(0.7) }),
      go: () => ({ ...long, standbyID: '900', fired: many.slice(0, 899).map((c) => c.id) }),
    });
    const list = host.querySelector('.cue-list') as HTMLElement;
    const numbers = () => [...host.querySelectorAll('.cue-row .cue-number')].map((n) => Number(n.textContent));
    // 600 px of 26 px rows and the margin: a few dozen rows, the standby among them.
    expect(numbers().length).toBeLessThan(60);
    expect(numbers()).toContain(600);
    expect(host.querySelector('.cue-row.standby .cue-number')?.textContent).toBe('600');
    const item = host.querySelector('.cue-row.standby')!.parentElement!;
    expect(item.getAttribute('aria-posinset')).toBe('600');
    expect(item.getAttribute('aria-setsize')).toBe('1000');
    t.run.go();
    await flush();
    list.dispatchEvent(new Event('scroll'));
    await flush();
    expect(numbers()).toContain(900);
    expect(numbers()).not.toContain(600);
    expect(host.querySelector('.cue-row.standby')?.getAttribute('aria-label')).toBe('Cue 900 LX, cue 900, standby');
    // Down from the last drawn row reaches a row not drawn before.
    const last = Math.max(...numbers());
    const lastButton = [...host.querySelectorAll<HTMLButtonElement>('.cue-row')].find((b) => b.querySelector('.cue-number')?.textContent === String(last))!;
    lastButton.focus();
    key(lastButton, 'ArrowDown');
    list.dispatchEvent(new Event('scroll'));
    await flush();
    expect(document.activeElement?.querySelector('.cue-number')?.textContent).toBe(String(last + 1));
    key(document.activeElement!, 'End');
    list.dispatchEvent(new Event('scroll'));
    await flush();
    expect(document.activeElement?.querySelector('.cue-number')?.textContent).toBe('1000');
    expect(t.named('go')).toHaveLength(1);
  });
});

describe('Cue Mode', () => {
  it('Ctrl+E, a drag on the page, the fields at the line end with the label focused; Return and Backspace stay in them', async () => {
    const answer = { rect: [0.1, 0.4, 0.3, 0.02], text: 'storm', lineEnd: 0.75, gapL: 0, gapR: 0, lines: [] };
    const t = await mount({ textRect: () => answer, upsertCue: () => 'x' });
    key(document.body, 'e', { ctrlKey: true });
    await flush();
    const page = host.querySelector('.page[data-page="0"]') as HTMLElement;
    expect(page.className).toContain('cue-mode');
    page.getBoundingClientRect = () => ({ left: 100, top: 50, width: 400, height: 600 }) as DOMRect;
    page.dispatchEvent(new PointerEvent('pointerdown', { clientX: 140, clientY: 290, button: 0, bubbles: true }));
    page.dispatchEvent(new PointerEvent('pointerup', { clientX: 260, clientY: 296, button: 0, bubbles: true }));
    await flush();
    expect(t.named('textRect')).toEqual([[[0, 0.1, 0.4, 0.4, 0.41, true]]]);

    // The number is proposed; what is typed next is the label.
    const number = host.querySelector('.cue-draft-number') as HTMLInputElement;
    const label = host.querySelector('.cue-draft-label') as HTMLInputElement;
    expect(document.activeElement).toBe(label);
    expect(number.value).toBe('1.5');
    expect((host.querySelector('.cue-draft-fields') as HTMLElement).style.left).toBe('75%');
    key(label, 'Backspace');
    label.value = 'Thunder';
    key(label, 'Enter');
    await flush();
    expect(t.named('go')).toEqual([]);
    expect(t.named('back')).toEqual([]);
    expect(t.named('upsertCue')[0][0]).toMatchObject({ label: 'Thunder', number: '1.5', page: 0 });
    expect(host.querySelector('.cue-draft-fields')).toBeNull();

    // A click on a cue's box selects it instead of placing another.
    const box = host.querySelector('.cue[data-cue="2"]') as HTMLElement;
    box.dispatchEvent(new PointerEvent('pointerdown', { button: 0, bubbles: true }));
    await flush();
    expect(t.store.menuState.value.hasSelection).toBe(true);
    expect(box.className).toContain('selected');
    expect(t.named('textRect')).toHaveLength(1);
  });
});

describe('placing a cue with the keys alone', () => {
  it('Ctrl+E, n, Down, Down, n, a label, Return: the outline walks the lines and the cue is sent', async () => {
    const lines = [[[0.1, 0.1, 0.5, 0.02], [0.1, 0.3, 0.5, 0.02]], [[0.2, 0.5, 0.4, 0.02]]];
    const t = await mount({
      openDocumentPath: (p: never) => doc(p, { state: emptyCueState }),
      pageLines: (p: never) => lines[p as number] ?? [],
      textRect: (a: never) => {
        const [page, , y] = a as unknown as number[];
        const line = (lines[page] ?? []).find((r) => y > r[1] && y < r[1] + r[3]);
        return line ? { rect: line, text: 'ODA Boots', lineEnd: 0.7, gapL: 0, gapR: 0, lines: [] } : null;
      },
      upsertCue: () => 'x',
    });
    const press = (k: string, mods: KeyboardEventInit = {}) => key(document.body, k, mods);
    press('e', { ctrlKey: true });
    press('n');
    await flush();
    expect(host.querySelector('.page[data-page="0"] .line-cursor')?.getAttribute('data-line')).toBe('0');
    expect(host.querySelector('[data-testid="line-cursor"]')?.textContent).toBe('Page 1, line 1: ODA Boots.');
    press('ArrowDown');
    await flush();
    press('ArrowDown');
    await flush();
    const outline = host.querySelector('.page[data-page="1"] .line-cursor') as HTMLElement;
    expect(outline.style.top).toBe('50%');
    expect(host.querySelector('.page[data-page="0"] .line-cursor')).toBeNull();
    expect(host.querySelector('[data-testid="line-cursor"]')?.textContent).toBe('Page 2, line 1: ODA Boots.');
    press('n');
    await flush();
    expect(host.querySelector('.line-cursor')).toBeNull();
    const label = host.querySelector('.cue-draft-label') as HTMLInputElement;
    expect(document.activeElement).toBe(label);
    expect((host.querySelector('.cue-draft-number') as HTMLInputElement).value).toBe('1');
    label.value = 'Boots';
    key(label, 'Enter');
    await flush();
    expect(t.named('go')).toEqual([]);
    expect(t.named('upsertCue')[0][0]).toMatchObject({ page: 1, number: '1', label: 'Boots', y: 0.5 });
  });

  it('while the cursor shows, Down moves it and not the focus in the cue list', async () => {
    const lines = [[[0.1, 0.1, 0.5, 0.02], [0.1, 0.3, 0.5, 0.02], [0.1, 0.7, 0.5, 0.02], [0.1, 0.9, 0.5, 0.02]]];
    const t = await mount({ pageLines: (p: never) => lines[p as number] ?? [], textRect: () => null });
    t.cueMode.set(true);
    const row = host.querySelector('[data-row="0"] button') as HTMLButtonElement;
    row.focus();
    key(row, 'n');
    await flush();
    const start = Number(host.querySelector('.line-cursor')?.getAttribute('data-line'));
    expect(start).toBeLessThan(3);
    key(row, 'ArrowDown');
    await flush();
    expect(Number(host.querySelector('.line-cursor')?.getAttribute('data-line'))).toBe(start + 1);
    expect(document.activeElement).toBe(row);
  });
});
