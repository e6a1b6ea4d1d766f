// @vitest-environment happy-dom
// The Page sheet and the crop frame as the operator meets them, and the
// numbering rule behind "this page is numbered".
import { describe, expect, it } from 'vitest';
import { dispatchEvent } from '../src/bridge/events';
import type { CueState } from '../src/bridge/types';
import { emptyCueState } from '../src/bridge/types';
import { numberOf, offsetForNumber } from '../src/state/page_notes';
import { doc, settings } from './fake_bridge';
import { flush, host, keydown as key, mountPage, placeAt, pointer, usePageDom } from './page_dom';

usePageDom();

function field(label: string): HTMLInputElement {
  const el = host.querySelector(`input[aria-label="${label}"]`);
  if (!el) throw new Error(`no field ${label}`);
  return el as HTMLInputElement;
}

describe('this page is numbered N', () => {
  it.each([
    // The third sheet is printed as page 1: two pages of front matter.
    [2, '1', { offset: -2 }],
    [4, '12', { offset: 7 }],
    [0, ' 3 ', { offset: 2 }],
    [2, '0', { error: '"0" is not a page number' }],
    [2, 'xii', { error: '"xii" is not a page number' }],
    [2, '1.5', { error: '"1.5" is not a page number' }],
    [2, '', { error: 'Type a page number' }],
  ] as [number, string, object][])('sheet %i numbered %j', (index, text, answer) => {
    expect(offsetForNumber(index, text)).toEqual(answer);
  });

  it('proposes the number the page reads, and none before the first numbered page', () => {
    expect([numberOf(4, 0), numberOf(4, -2), numberOf(1, -2), numberOf(0, 5)]).toEqual(['5', '3', '', '6']);
  });
});

describe('the Page sheet', () => {
  const state: CueState = { ...emptyCueState, pageTexts: { '3': 'Scene 2: the storm' } };

  async function mount() {
    const t = await mountPage({ openDocumentPath: (p: never) => doc(p, { state }) }, { open: '/s/show.pdf' });
    t.documents.visiblePageChanged(3);
    await flush();
    return t;
  }

  it('opens on the shown page from its key and the toolbar, sends only what changed, and keeps GO out of its fields', async () => {
    const t = await mount();
    key(document.body, 'P', { ctrlKey: true, shiftKey: true });
    await flush();
    expect([field('Note on this page').value, field('This page is numbered').value]).toEqual(['Scene 2: the storm', '4']);
    expect(document.activeElement).toBe(field('Note on this page'));
    // Return in a field keeps what it says; unchanged, nothing is sent.
    key(field('Note on this page'), 'Enter');
    await flush();
    expect(host.querySelector('.page-notes-sheet')).toBeNull();
    expect([t.named('setPageText'), t.named('setPageLabelOffset'), t.named('go')]).toEqual([[], [], []]);

    (host.querySelector('button.page-of') as HTMLButtonElement).click();
    await flush();
    field('Note on this page').value = '  Thunder cue here ';
    field('This page is numbered').value = 'four';
    key(field('This page is numbered'), 'Enter');
    await flush();
    expect(host.querySelector('.page-notes-sheet .sheet-error')?.textContent).toBe('"four" is not a page number');
    expect(t.named('setPageText')).toEqual([]);
    field('This page is numbered').value = '1';
    key(field('This page is numbered'), 'Enter');
    await flush();
    expect([t.named('setPageText'), t.named('setPageLabelOffset'), t.named('go')]).toEqual([[[3, 'Thunder cue here']], [[-3]], []]);

    // Escape in a field leaves the sheet and sends nothing.
    t.commands.key('pageNotes');
    await flush();
    field('Note on this page').value = 'dropped';
    key(field('Note on this page'), 'Escape');
    await flush();
    expect(host.querySelector('.page-notes-sheet')).toBeNull();
    expect(t.named('setPageText')).toHaveLength(1);
  });

  it('shows each note in the gap above its own page, as the engine says it', async () => {
    const t = await mount();
    const note = () => host.querySelector('.page[data-page="3"] [data-testid="page-note"]')?.textContent ?? null;
    expect(note()).toBe('Scene 2: the storm');
    expect(host.querySelectorAll('[data-testid="page-note"]')).toHaveLength(1);
    dispatchEvent(t.handlers, 'cueState', { ...state, pageTexts: {} });
    await flush();
    expect(note()).toBeNull();
  });
});

describe('the crop frame on the page', () => {
  it('is drawn with the pointer on the page it is dragged over, and Return applies it', async () => {
    const t = await mountPage({ setCrop: () => doc('/s/show.pdf') }, { open: '/s/show.pdf' });
    t.documents.visiblePageChanged(0);
    key(document.body, 'C', { ctrlKey: true, shiftKey: true });
    await flush();
    expect(host.querySelector('.crop-bar')).not.toBeNull();
    const layer = host.querySelector('.crop-layer[data-crop-page="0"]') as HTMLElement;
    placeAt(layer, 100, 50, 400, 500);
    pointer(layer, 'pointerdown', 500, 550);
    pointer(layer, 'pointermove', 300, 300);
    pointer(layer, 'pointerup', 200, 100);
    await flush();
    const frame = host.querySelector('[data-testid="crop-frame"]') as HTMLElement;
    expect([frame.style.left, frame.style.top, frame.style.width, frame.style.height].map(parseFloat))
      .toEqual([25, 10, 75, 90].map((v) => expect.closeTo(v, 6)));
    key(document.body, 'Enter');
    await flush();
    expect([t.named('setCrop').length, t.named('go'), host.querySelector('.crop-bar')]).toEqual([1, [], null]);
  });
});

describe('Maximize Text and dropped page numbers', () => {
  it('hides the toolbar but never GO, and the key brings it back; a failed change leaves the view as it was', async () => {
    let answer: (c: Record<string, unknown>) => unknown = (c) => ({ ...settings, ...c });
    const t = await mountPage({ setSettings: (c: never) => answer(c) }, { open: '/s/show.pdf' });
    // Toolbar shown, GO shown.
    const shown = () => [host.querySelector('.toolbar') !== null, [...host.querySelectorAll('button')].some((b) => b.textContent === 'GO')];
    expect(shown()).toEqual([true, true]);
    dispatchEvent(t.handlers, 'menuCommand', { command: 'maxText' });
    await flush();
    expect([shown(), t.named('setSettings')]).toEqual([[false, true], [[{ maxText: true }]]]);
    key(document.body, '0', { ctrlKey: true, altKey: true });
    await flush();
    expect(shown()).toEqual([true, true]);
    answer = () => Promise.reject(new Error('settings not written'));
    dispatchEvent(t.handlers, 'menuCommand', { command: 'maxText' });
    await flush();
    expect([shown(), t.store.message.value]).toEqual([[true, true], 'settings not written']);
  });

  it('asks for the page numbers to go, and the pages laid out again keep the place', async () => {
    const t = await mountPage({ setSettings: (c: never) => ({ ...settings, ...(c as object) }) }, { open: '/s/show.pdf' });
    t.view.goToPage(4);
    t.documents.visiblePageChanged(4);
    key(document.body, 'N', { ctrlKey: true, shiftKey: true });
    await flush();
    expect(t.named('setSettings')).toEqual([[{ dropPageNumbers: true }]]);
    const generation = t.store.generation.value;
    dispatchEvent(t.handlers, 'documentChanged', doc('/s/show.pdf', { aspects: [1, 1, 1, 1, 1, 1] }));
    await flush();
    expect([t.store.generation.value, t.store.scrollRequest.value?.page, t.store.doc.value?.aspects[0]]).toEqual([generation + 1, 4, 1]);
    dispatchEvent(t.handlers, 'menuCommand', { command: 'dropPageNumbers' });
    await flush();
    expect(t.named('setSettings')[1]).toEqual([{ dropPageNumbers: false }]);
  });
});

describe('the toolbar File menu', () => {
  it('runs the chosen item once and closes', async () => {
    const t = await mountPage({}, { open: '/s/show.pdf' });
    const menu = host.querySelector<HTMLDetailsElement>('details.file-menu');
    if (!menu) throw new Error('no File menu');
    menu.open = true;
    const item = (text: string) => [...menu.querySelectorAll('button')].find((b) => b.textContent === text);
    item('Show Script in Files')?.click();
    await flush();
    expect([menu.open, t.named('revealSidecar').length]).toEqual([false, 1]);
    menu.open = true;
    item('Export Marked Script…')?.click();
    await flush();
    await flush();
    expect([menu.open, t.named('exportMarkedPDF').length]).toEqual([false, 1]);
  });
});
