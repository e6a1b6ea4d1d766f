// @vitest-environment happy-dom
// The Share to Screens sheet as the operator works it: opened from the menu
// (a locked show too), sharing started, screens coming, the address kept,
// sharing stopped; a port that is taken; and the sidebar's remote line.
import { expect, it } from 'vitest';
import { $, $$, button, clicked, flush, keyed, mountPage, text, told, usePageDom } from './page_dom';
import { doc, shareOff, shareOn, shareQr } from './fake_bridge';

usePageDom();

const sidebarScreens = () => {
  const dt = $$('.control-status dt').find((d) => d.textContent === 'Screens');
  return dt ? dt.nextElementSibling!.textContent : null;
};

it('starts sharing from the menu, shows the code and the screens as they come, keeps the address, stops', async () => {
  const t = await mountPage({ openDocumentPath: (p: never) => doc(p, { locked: true }) }, { open: '/s/show.pdf' });
  const before = $('button.page-of')!;
  before.focus();
  await told(t.handlers, 'menuCommand', { command: 'shareScreens' });
  expect([t.store.status.value, t.named('shareStatus').length, text('.share-intro'), sidebarScreens()]).toEqual([
    '', 2,  // once at start, once on opening
    'Let phones, tablets and laptops on this network follow the show: the standby cue large, the next cue and the script. ' +
    'They cannot change anything.', null,
  ]);

  await clicked(button('Start Sharing'));
  const qr = $<HTMLImageElement>('img.share-qr')!;
  expect([t.sent('setSharing'), decodeURIComponent(qr.getAttribute('src')!.replace('data:image/svg+xml;charset=utf-8,', '')),
    text('.share-address'), $$('.share-others li').map((li) => li.textContent), text('.share-screens'), sidebarScreens()]).toEqual([
    [true], shareQr, shareOn.addresses[0], [shareOn.addresses[1]], 'No screens following', 'sharing on port 53180, 0 following',
  ]);
  // The SVG is an image, never markup of the page.
  expect($('.share-sheet svg')).toBeNull();

  await told(t.handlers, 'shareStatus', { ...shareOn, screens: 3 });
  expect([text('.share-screens'), sidebarScreens()]).toEqual(['3 screens following', 'sharing on port 53180, 3 following']);

  const pin = $<HTMLInputElement>('.share-pin input')!;
  await clicked(pin);
  expect([t.sent('pinShareAddress'), pin.checked]).toEqual([[true], true]);

  await clicked(button('Stop Sharing'));
  expect([t.sent('setSharing'), $('img.share-qr'), button('Start Sharing').disabled, sidebarScreens()]).toEqual([[true, false], null, false, null]);

  await keyed(document.activeElement ?? document.body, 'Escape');
  expect([$('.share-sheet'), document.activeElement]).toEqual([null, before]);
});

it('says why nothing is served when the port is taken, in the sheet and the sidebar, from the start', async () => {
  const taken = { ...shareOn, listening: false, addresses: [], qr: null, error: 'portti 53180 on varattu' };
  const t = await mountPage({ shareStatus: () => taken, setSharing: (on: never) => (on ? taken : shareOff) });
  // Sharing resumed at launch shows before the sheet is ever opened.
  expect(sidebarScreens()).toBe('port 53180: portti 53180 on varattu');
  await told(t.handlers, 'menuCommand', { command: 'shareScreens' });
  expect([text('.share-error'), text('.share-failed .status-line'), $('img.share-qr'), $('.share-pin')]).toEqual([
    'portti 53180 on varattu',
    'Another program may hold the port: choose another in Settings › Remote: Screens, then Try Again.', null, null,
  ]);
  await clicked(button('Try Again'));
  expect(t.sent('setSharing')).toEqual([true]);
});

it('tells a failed call in the sheet, and copies by selecting the address where the clipboard is refused', async () => {
  let fail: (e: Error) => void = () => undefined;
  const t = await mountPage({ shareStatus: () => shareOn, pinShareAddress: () => new Promise((_ok, no) => (fail = no)) });
  await told(t.handlers, 'menuCommand', { command: 'shareScreens' });
  const pin = $<HTMLInputElement>('.share-pin input')!;
  await clicked(pin);
  // While the core answers, a second click cannot undo the first.
  expect([pin.disabled, button('Stop Sharing').disabled]).toEqual([true, true]);
  fail(new Error('settings not writable'));
  await flush();
  expect([text('.share-sheet p.share-error'), pin.checked, pin.disabled]).toEqual([
    'The address could not be changed: settings not writable', false, false,
  ]);

  const clipboard = Object.getOwnPropertyDescriptor(navigator, 'clipboard');
  Object.defineProperty(navigator, 'clipboard', { configurable: true, value: { writeText: () => Promise.reject(new Error('denied')) } });
  try {
    await clicked(button('Copy'));
    expect([globalThis.getSelection()?.toString(), text('.share-copy-note')]).toEqual([shareOn.addresses[0], 'Selected: Ctrl+C copies it']);
  } finally {
    if (clipboard) Object.defineProperty(navigator, 'clipboard', clipboard);
    else delete (navigator as { clipboard?: unknown }).clipboard;
  }
});
