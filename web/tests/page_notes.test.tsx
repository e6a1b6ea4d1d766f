// @vitest-environment happy-dom
// The Page sheet and its notes, the crop frame, Maximize Text, the File menu.
import { expect, it } from 'vitest';
import { doc, settings, stateWith } from './fake_bridge';
import { $, $$, button, clicked, dragged, flush, keyed, mountPage, mountScript, named, placeAt, text, told, usePageDom } from './page_dom';

usePageDom();

const note = 'Note on this page';
const numbered = 'This page is numbered';

// Return, Escape and leaving its fields: leaving_fields.test.tsx; the numbers read: layout.test.ts.
it('opens the Page sheet on the shown page from its key and the toolbar, and sends only what changed', async () => {
  const state = stateWith({ pageTexts: { '3': 'Scene 2: the storm' } });
  const t = await mountScript(state);
  t.documents.visiblePageChanged(3);
  await keyed(document.body, 'P', { ctrlKey: true, shiftKey: true });
  expect([named<HTMLInputElement>(note).value, named<HTMLInputElement>(numbered).value]).toEqual(['Scene 2: the storm', '4']);
  await keyed(named(note), 'Enter');
  expect([$('.page-notes-sheet'), t.named('setPageText'), t.named('setPageLabelOffset')]).toEqual([null, [], []]);
  await clicked($('button.page-of')!);
  named<HTMLInputElement>(note).value = '  Thunder cue here ';
  named<HTMLInputElement>(numbered).value = 'four';
  await keyed(named(numbered), 'Enter');
  expect([text('.page-notes-sheet .sheet-error'), t.named('setPageText')]).toEqual(['"four" is not a page number', []]);
  named<HTMLInputElement>(numbered).value = '1';
  await keyed(named(numbered), 'Enter');
  expect([t.named('setPageText'), t.named('setPageLabelOffset')]).toEqual([[[3, 'Thunder cue here']], [[-3]]]);
  // The engine's state follows: the note shows in the gap above its own page
  // only, and the toolbar reads the page by its printed number.
  const shown = () => $('.page[data-page="3"] [data-testid="page-note"]')?.textContent ?? null;
  expect([shown(), $$('[data-testid="page-note"]').length]).toEqual(['Scene 2: the storm', 1]);
  await told(t.handlers, 'cueState', { ...state, pageTexts: {}, pageLabelOffset: -3 });
  t.documents.visiblePageChanged(3);
  await flush();
  expect([shown(), text('.page-of')]).toEqual([null, 'page 1 (4 of 6)']);
});

// Where the crop goes on the whole page is files.test.ts; that it is kept, the core's tests.
it('draws the crop frame with the pointer on the page it is dragged over; Return applies it, the bar resets it', async () => {
  const t = await mountPage({ setCrop: () => doc('/s/show.pdf') }, { open: '/s/show.pdf' });
  t.documents.visiblePageChanged(0);
  await keyed(document.body, 'C', { ctrlKey: true, shiftKey: true });
  const layer = $('.crop-layer[data-crop-page="0"]')!;
  placeAt(layer, 100, 50, 400, 500);
  await dragged(layer, [500, 550], [300, 300], [200, 100]);
  const frame = $('[data-testid="crop-frame"]')!.style;
  expect([frame.left, frame.top, frame.width, frame.height].map(parseFloat)).toEqual([25, 10, 75, 90].map((v) => expect.closeTo(v, 6)));
  await keyed(document.body, 'Enter');
  expect([t.named('setCrop').length, t.named('go'), $('.crop-bar')]).toEqual([1, [], null]);
  await keyed(document.body, 'C', { ctrlKey: true, shiftKey: true });
  await clicked(button('Reset to Automatic Crop', $('.crop-bar')!));
  expect(t.named('setCrop')[1]).toEqual([null]);
});

it('hides the toolbar for Maximize Text but never GO, and the key brings it back; a failed change leaves the view as it was', async () => {
  let answer: (c: Record<string, unknown>) => unknown = (c) => ({ ...settings, ...c });
  const t = await mountPage({ setSettings: (c: never) => answer(c) }, { open: '/s/show.pdf' });
  const shown = () => [$('.toolbar') !== null, button('GO') !== null];
  await told(t.handlers, 'menuCommand', { command: 'maxText' });
  expect([shown(), t.sent('setSettings')]).toEqual([[false, true], [{ maxText: true }]]);
  await keyed(document.body, '0', { ctrlKey: true, altKey: true });
  expect(shown()).toEqual([true, true]);
  answer = () => Promise.reject(new Error('settings not written'));
  await told(t.handlers, 'menuCommand', { command: 'maxText' });
  expect([shown(), t.store.message.value]).toEqual([[true, true], 'settings not written']);
});

it("runs the toolbar File menu's chosen item once and closes it", async () => {
  const t = await mountPage({}, { open: '/s/show.pdf' });
  const menu = $<HTMLDetailsElement>('details.file-menu')!;
  for (const [item, call] of [['Show Script in Files', 'revealSidecar'], ['Export Marked Script…', 'exportMarkedPDF']]) {
    menu.open = true;
    await clicked(button(item, menu));
    await flush();
    expect([menu.open, t.named(call).length]).toEqual([false, 1]);
  }
});
