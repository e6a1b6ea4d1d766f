// @vitest-environment happy-dom
// The page as the operator meets it, rendered into a DOM over scripted native calls.
import { expect, it } from 'vitest';
import type { CueState } from '../src/bridge/types';
import { labelGutter } from '../src/state/labels';
import { renderPixelWidth } from '../src/state/layout';
import { cue as baseCue, settings, stateWith } from './fake_bridge';
import {
  $, $$, button, clicked, dragged, flush, focusedOnArrival, host, keydown as key, keyed, mountPage, mountScript, named, placeAt, text, told, usePageDom,
} from './page_dom';

usePageDom();

// A page of a spread in the 800 px view: less the gaps and both label gutters.
const spreadPageWidth = (776 - 12 - 2 * labelGutter(776, 2, 14).px) / 2;
const spreadRow = spreadPageWidth / 0.7 + 12;
const cue = (id: string, page: number, y: number) => baseCue(id, page, y, { label: `cue ${id}`, w: 0.3, padL: -1, padR: -1 });
const state: CueState = stateWith({ cues: [cue('1', 0, 0.2), cue('2', 0, 0.6), cue('3', 1, 0.3)], standbyID: '2', fired: ['1'] });
const long = { pageCount: 40, aspects: Array(40).fill(0.7) };
const windowKey = (k: string, mods: KeyboardEventInit = {}) => key(window, k, mods);
const scroller = () => $('.script')!;
async function scrollTo(top: number) {
  scroller().scrollTop = top;
  scroller().dispatchEvent(new Event('scroll'));
  await flush();
}

it('the first screen offers open, demo and the recent scripts, and opens a recent one by its path', async () => {
  const t = await mountPage();
  expect(button('Open Script…')).toBeTruthy();
  // Nothing to fire yet: the keys stay with the focused button.
  key(button('Open Demo Script'), 'Enter');
  expect(t.named('go')).toEqual([]);
  await clicked(button('a.pdf'));
  expect([t.named('openDocumentPath'), $('.script') !== null]).toEqual([[['/s/a.pdf']], true]);
});

it('an open script: draws the pages near the viewport with their cues, standby marked and fired dimmed, and logs the first image shown', async () => {
  const t = await mountScript(state, { renderPage: (i: never) => ({ index: i, png: 'iVBORw0KGgo=' }) }, long);
  // Spreads in rows of 440 px in a 600 px view: images within one view, rows within two.
  expect($$('.page').map((p) => Number(p.dataset.page))).toEqual([0, 1, 2, 3, 4, 5, 6, 7, 8, 9]);
  const requested = t.named('renderPage');
  expect([Math.max(...requested.map((a) => a[0] as number)) <= 5, requested[0][1]]).toEqual([true, renderPixelWidth(spreadPageWidth, 1)]);
  const boxes = $$('.page[data-page="0"] .cue');
  expect([boxes.length, boxes[0].className.includes('fired'), boxes[1].className.includes('standby'), text('.standby-tag'), text('.count')])
    .toEqual([2, true, true, 'LX 2', '1 of 3 fired']);
  const images = $$('img.page-image');
  images[1].dispatchEvent(new Event('load'));
  images[0].dispatchEvent(new Event('load'));
  expect(t.named('debugLog')).toEqual([['first page shown 2']]);
});

// Which key is which action is keys.test.ts; here the keys reach the page.
it('an open script: fires GO and BACK from the keys outside text fields only; RESET asks in the page first, by button or chord', async () => {
  const t = await mountScript(state);
  key(document.body, ' ');
  const field = document.createElement('input');
  host.appendChild(field);
  key(field, 'Enter');
  key(document.body, 'Backspace');
  windowKey('R', { ctrlKey: true, shiftKey: true });
  await flush();
  expect([t.named('go').length, t.named('back').length, named('Reset the run') !== null]).toEqual([1, 1, true]);
  await clicked(button('Cancel'));
  await clicked(button('RESET'));
  expect([$$('.confirm').length, t.named('reset')]).toEqual([1, []]);
  await clicked(button('Reset'));
  expect([$('.confirm'), t.named('reset').length]).toEqual([null, 1]);
});

it('an open script: keeps the page being read when the layout changes, wherever the operator scrolled', async () => {
  const t = await mountScript(state, {}, long);
  t.view.goToPage(10);
  await flush();
  expect([t.store.visiblePage.value, $('.page[data-page="20"]')]).toEqual([10, null]);
  await scrollTo(scroller().scrollTop + 5 * spreadRow);
  expect(t.store.visiblePage.value).toBe(20);
  t.view.zoom(1);
  await flush();
  expect([t.store.zoom.value > 1, t.store.visiblePage.value]).toEqual([true, 20]);
  t.view.setPagesPerSpread(1);
  await flush();
  expect(t.store.visiblePage.value).toBe(20);
});

// Page 0 tall, page 1 square: side by side in two-page view.
it.each([1, 2])('an open script: with %i pages per view brings the standby cue to the reading line, and back after scrolling away', async (per) => {
  const twoUp = stateWith({ cues: [cue('1', 0, 0.1), cue('2', 1, 0.9), cue('3', 3, 0.5)], standbyID: '2' });
  const t = await mountScript(twoUp, { getSettings: () => ({ ...settings, pagesPerSpread: per }) }, { pageCount: 4, aspects: [0.5, 1, 0.7, 0.7] });
  const gutter = labelGutter(776, per, 14).px;
  const width = per === 2 ? (776 - 12 - 2 * gutter) / 2 : 776 - gutter;
  const want = Math.round((per === 2 ? 12 : 12 + width / 0.5 + 12) + 0.9 * width - 200);
  expect([want > 0, scroller().scrollTop]).toEqual([true, want]);
  // A browser answers the page's own scrolling with a scroll event; this DOM does not.
  scroller().dispatchEvent(new Event('scroll'));
  await scrollTo(want + 2000);
  expect(t.store.follow.value).toBe(false);
  await clicked(button('Back to standby'));
  expect([scroller().scrollTop, $('.back-to-standby')]).toEqual([want, null]);
});

// A standby on page 30 of 40, nothing fired, the run before offered.
const offered = stateWith({
  cues: [cue('1', 0, 0.2), cue('2', 30, 0.5), cue('3', 31, 0.5)], standbyID: '2',
  savedRun: { count: 1, total: 3, standbyID: '3', number: '3', label: 'cue 3' },
});
const restored = { ...offered, standbyID: '3', fired: ['1', '2'], savedRun: {} };
const banner = () => $('.resume-banner')?.querySelector('span')?.textContent ?? null;

// answer, call, page seen after answering five spreads down (the panel: run_sync.test.ts)
it.each([['Resume', 'restoreRun', [30, 31]], ['Discard', 'discardRun', [10, 11]]] as const)('the saved run: is offered at the first page; %s answers it', async (answer, call, pages) => {
  const t = await mountScript(offered, { getState: () => restored }, long);
  expect([banner(), scroller().scrollTop, t.store.visiblePage.value, $('.back-to-standby') !== null])
    .toEqual(['1 of 3 cues fired, standby 3 cue 3', 0, 0, true]);
  await scrollTo(5 * spreadRow);
  await clicked(button(answer));
  expect([t.named(call).length, banner(), pages.includes(t.store.visiblePage.value as never)]).toEqual([1, null, true]);
  await t.documents.openPath('/s/other.pdf');
  await flush();
  expect(banner()).not.toBeNull();
});

it('the saved run: sits above the script, never over it or the find bar; Tab reaches it and Escape does not discard it', async () => {
  const t = await mountScript(offered, {}, long);
  windowKey('f', { ctrlKey: true });
  await flush();
  const el = $('.resume-banner')!;
  const area = el.nextElementSibling as HTMLElement;
  expect([area.className, area.querySelector('.script') !== null, area.querySelector('.find-bar') !== null, el.contains($('.find-bar'))])
    .toEqual(['script-area', true, true, false]);
  for (const b of el.querySelectorAll('button')) expect(b.hasAttribute('tabindex') || b.disabled).toBe(false);
  $('.find-bar input')?.blur();
  for (let i = 0; i < 3; i++) windowKey('Escape');
  await flush();
  expect([banner(), t.named('discardRun')]).toEqual(['1 of 3 cues fired, standby 3 cue 3', []]);
});

it('over the script: Keyboard Shortcuts lists the keys; GO still fires; Escape closes it', async () => {
  const t = await mountScript(state);
  t.commands.menuCommand('shortcuts');
  await flush();
  expect(['Ctrl+Shift+R', 'Page Down'].map((k) => text('.script-wrap [aria-label="Keyboard shortcuts"]')?.includes(k))).toEqual([true, true]);
  key(document.activeElement!, 'Enter');
  await keyed(document.activeElement!, 'Escape');
  expect([t.named('go').length, $('.page-sheet')]).toEqual([1, null]);
});

it('over the script: Find opens on Ctrl+F, keeps Return from GO, draws the hit, and gives GO back on Escape', async () => {
  const t = await mountScript(state, { searchDocument: () => [{ page: 1, rect: [0.2, 0.4, 0.3, 0.02], snippet: 'storm', lineEnd: false }] });
  await keyed(document.body, 'f', { ctrlKey: true });
  const input = $<HTMLInputElement>('.find-bar input')!;
  expect(document.activeElement).toBe(input);
  input.value = 'storm';
  input.dispatchEvent(new Event('input', { bubbles: true }));
  await keyed(input, 'Enter');
  expect([t.named('go'), t.named('searchDocument'), text('.find-status'), $('.page[data-page="1"] .find-hit')!.style.top])
    .toEqual([[], [['storm']], '1 of 1', '40%']);
  // Ctrl+F again from the script takes the keyboard back to the open bar.
  scroller().focus();
  t.commands.menuCommand('find');
  await flush();
  expect(document.activeElement).toBe(input);
  await keyed(input, 'Escape');
  expect([$('.find-bar'), $('.find-hit'), document.activeElement === scroller()]).toEqual([null, null, true]);
  key(document.activeElement!, 'Enter');
  expect(t.named('go')).toHaveLength(1);
});

it('over the script: Go to Page has its field focused on arrival; Return goes and never fires GO; a bad page is answered in place', async () => {
  const t = await mountScript(state);
  expect(await focusedOnArrival('.goto-sheet input', () => key(document.body, 'g', { ctrlKey: true }))).toBe(true);
  const field = named<HTMLInputElement>('Page');
  field.value = '40';
  await keyed(field, 'Enter');
  expect(text('.goto-error')).toBe('No page 40');
  field.value = '5';
  await keyed(field, 'Enter');
  expect([$('.goto-sheet'), t.store.scrollRequest.value?.page, t.store.follow.value, t.named('go')]).toEqual([null, 4, false, []]);
  await keyed(document.body, 'g', { ctrlKey: true });
  await keyed(named('Page'), 'Escape');
  expect($('.goto-sheet')).toBeNull();
});

// The notice's states are run.test.ts; here its texts and buttons, never over the show panel.
it('over the script: offers an update, shows progress in place without its buttons, and brings Install back as "Try again" on failure', async () => {
  const t = await mountScript(state);
  await told(t.handlers, 'updateAvailable', { stamp: '20261206.1' });
  const notice = () => named('Update');
  expect([notice().textContent?.includes('A new build 20261206.1 is available'), $('.show-panel .update-notice')]).toEqual([true, null]);
  await clicked(button('Install', notice()));
  await told(t.handlers, 'updateProgress', { text: 'Downloading 40 %' });
  expect([notice().textContent, $$('button', notice()).length, t.named('installUpdate').length]).toEqual(['Downloading 40 %', 0, 1]);
  await told(t.handlers, 'updateProgress', { text: 'signature does not match', failed: true });
  expect([notice().textContent?.includes('The update failed: signature does not match'), button('Try again', notice()) !== null]).toEqual([true, true]);
  await clicked(named('Dismiss update notice'));
  expect($('.update-notice')).toBeNull();
});

it('the cue list: lists the cues in order; a click shows one, a double-click puts it in standby', async () => {
  const t = await mountScript(state, {}, long);
  const rows = $$<HTMLButtonElement>('.cue-row');
  expect(rows.map((r) => [r.querySelector('.cue-number')?.textContent, r.className.includes('fired'), r.className.includes('standby')]))
    .toEqual([['1', true, false], ['2', false, true], ['3', false, false]]);
  rows[2].click();
  expect([t.store.scrollRequest.value?.page, t.store.follow.value]).toEqual([1, false]);
  rows[2].dispatchEvent(new MouseEvent('dblclick', { bubbles: true }));
  expect(t.named('standbyCue')).toEqual([['3']]);
});

// A thousand cues take seconds on a busy build machine.
it('the cue list: draws a window of rows around the standby, keeps it in view after a GO, and walks by the arrow keys', async () => {
  const many = Array.from({ length: 1000 }, (_, i) => cue(String(i + 1), Math.floor(i / 2), (i % 2) * 0.5 + 0.2));
  const run = stateWith({ cues: many, standbyID: '600', fired: many.slice(0, 599).map((c) => c.id) });
  const t = await mountScript(run, { go: () => ({ ...run, standbyID: '900', fired: many.slice(0, 899).map((c) => c.id) }) },
    { pageCount: 500, aspects: Array(500).fill(0.7) });
  const list = $('.cue-list')!;
  const numbers = () => $$('.cue-row .cue-number').map((n) => Number(n.textContent));
  const walk = async (k: string) => {
    key(document.activeElement!, k);
    list.dispatchEvent(new Event('scroll'));
    await flush();
    return document.activeElement?.querySelector('.cue-number')?.textContent;
  };
  // The rows in view and the margin (rowWindow, sidebar.test.ts), the standby among them.
  const item = $('.cue-row.standby')!.parentElement!;
  expect([numbers().length < 60, item.getAttribute('aria-posinset'), item.getAttribute('aria-setsize')]).toEqual([true, '600', '1000']);
  t.run.go();
  await flush();
  list.dispatchEvent(new Event('scroll'));
  await flush();
  expect([numbers().includes(900), numbers().includes(600), $('.cue-row.standby')?.getAttribute('aria-label')])
    .toEqual([true, false, 'Cue 900 LX, cue 900, standby']);
  const last = Math.max(...numbers());
  $$('.cue-row').find((b) => b.querySelector('.cue-number')?.textContent === String(last))!.focus();
  expect([await walk('ArrowDown'), await walk('End'), t.named('go').length]).toEqual([String(last + 1), '1000', 1]);
}, 20_000);

it('Cue Mode: Ctrl+E, a drag on the page, the fields at the line end with the label focused on arrival; a click on a box selects it', async () => {
  const answer = { rect: [0.1, 0.4, 0.3, 0.02], text: 'storm', lineEnd: 0.75, gapL: 0, gapR: 0, lines: [] };
  const t = await mountScript(state, { textRect: () => answer });
  await keyed(document.body, 'e', { ctrlKey: true });
  const page = $('.page[data-page="0"]')!;
  expect(page.className).toContain('cue-mode');
  placeAt(page, 100, 50, 400, 600);
  const drag = () => dragged(page, [140, 290], [260, 296]);
  expect([await focusedOnArrival('.cue-draft-label', drag), t.named('textRect')]).toEqual([true, [[[0, 0.1, 0.4, 0.4, 0.41, true]]]]);
  const fields = $$<HTMLInputElement>('.cue-draft-fields input');
  expect(fields.map((f) => [f.className, f.hasAttribute('tabindex'), f.value])).toEqual([['cue-draft-number', false, '1.5'], ['cue-draft-label', false, '']]);
  expect($('.cue-draft-fields')!.style.left).toBe('75%');
  // Return and Backspace in the fields: leaving_fields.test.tsx.
  await keyed(fields[1], 'Escape');
  const box = $('.cue[data-cue="2"]')!;
  box.dispatchEvent(new PointerEvent('pointerdown', { button: 0, bubbles: true }));
  await flush();
  expect([t.store.menuState.value.hasSelection, box.className.includes('selected'), t.named('textRect').length]).toEqual([true, true, 1]);
});

it('Cue Mode: glows the cue glowTarget names, names the selection for screen readers, edits its label with F2 and its type in its sheet', async () => {
  const cueTypes = [{ name: 'LX', color: '' }, { name: 'SND', color: '' }];
  const t = await mountScript(state, { getSettings: () => ({ ...settings, glowTarget: 'next', cueTypes }) });
  expect($$('.cue.glow').map((b) => b.dataset.cue)).toEqual(['3']);
  key(document.body, 'e', { ctrlKey: true });
  await keyed(document.body, '.');
  expect(text('[data-testid="cue-selection"]')).toBe('Selected cue LX 1, cue 1, page 1');
  key(document.body, '.');
  await keyed(document.body, 'F2');
  expect([$('.cue.selected')?.dataset.cue, named<HTMLInputElement>('Label of cue LX 2').value]).toEqual(['2', 'cue 2']);
  await keyed(named('Label of cue LX 2'), 'Escape');
  t.selection.openSheet();
  await flush();
  $<HTMLSelectElement>('.cue-sheet select[name="kind"]')!.value = 'SND';
  await keyed($('.cue-sheet input[name="label"]')!, 'Enter');
  expect(t.sent('upsertCue')).toEqual([{ ...state.cues[1], kind: 'SND' }]);
});

// Where the cursor steps is cue_mode.test.ts; here it is drawn, named, and takes the arrows from the focused list.
it('Cue Mode: n shows the line cursor on its page, named; while it shows Down moves it and not the focus in the cue list', async () => {
  const lines = [[[0.1, 0.1, 0.5, 0.02], [0.1, 0.3, 0.5, 0.02]], [[0.2, 0.5, 0.4, 0.02]]];
  await mountScript({ ...state, standbyID: '', fired: [] }, {
    pageLines: (p: never) => lines[p as number] ?? [],
    textRect: () => ({ rect: [0.1, 0.1, 0.5, 0.02], text: 'ODA Boots', lineEnd: 0.7, gapL: 0, gapR: 0, lines: [] }),
  });
  key(document.body, 'e', { ctrlKey: true });
  const focus = $<HTMLButtonElement>('[data-row="0"] button')!;
  focus.focus();
  await keyed(focus, 'n');
  const cursor = () => [$('.line-cursor')!.closest('.page')?.getAttribute('data-page'), $('.line-cursor')!.style.top];
  expect([...cursor(), text('[data-testid="line-cursor"]')]).toEqual(['0', '10%', 'Page 1, line 1: ODA Boots.']);
  await keyed(focus, 'ArrowDown');
  await keyed(focus, 'ArrowDown');
  expect([...cursor(), document.activeElement === focus]).toEqual(['1', '50%', true]);
});
