// @vitest-environment happy-dom
// The review list of carried marks on a rendered page: a row shows its box on
// the page, Place by Dragging takes the next drag over the page, whatever is under it.
import { expect, it } from 'vitest';
import { cue, memo, stateWith } from './fake_bridge';
import { $, $$, button, clicked, dragged, flush, keyed, mountScript, placeAt, text, told, usePageDom } from './page_dom';

usePageDom();

const state = stateWith({
  cues: [cue('7', 0, 0.3, { label: 'Storm', snippet: 'the thunder', carry: 'review' })],
  memos: [memo('m', { text: 'fog', page: 0, x: 0.5, y: 0.5, carry: 'changed' })],
});

it('lists the carried records, shows a box on its page, places the next drag and lets Escape go', async () => {
  const t = await mountScript(state, { textRect: () => ({ rect: [0.2, 0.1, 0.3, 0.02], text: 'rain', lineEnd: 0.9, gapL: 0, gapR: 0 }) });
  expect($$('.carry-row .carry-name').map((e) => e.textContent)).toEqual(['Cue LX 7 Storm', 'Memo']);
  expect(text('.side-carry .carry-all')).toBe('Accept All Changed');
  await clicked($('.carry-row .carry-item')!);
  expect($$('.page[data-page="0"] .carry-focus')).toHaveLength(1);

  await clicked(button('Place by Dragging', $$('.carry-row')[0]));
  expect(text('.carry-banner')).toContain('Drag over the words for Cue LX 7 Storm');
  const page = $('.page[data-page="0"]')!;
  placeAt(page, 0, 0, 500, 700);
  // In Cue Mode a drag that starts on the memo would move it: this one is the placing drag.
  t.cueMode.set(true);
  await flush();
  await dragged($('.page[data-page="0"] .memo')!, [100, 70], [200, 80]);
  expect(t.sent('upsertCue')).toEqual([expect.objectContaining({ id: '7', label: 'Storm', x: 0.2, snippet: 'rain' })]);
  expect(t.sent('upsertCue')[0]).not.toHaveProperty('carry');
  expect(t.sent('upsertMemo')).toEqual([]);

  await clicked(button('Place by Dragging', $$('.carry-row')[1]));
  await keyed(document.body, 'Escape');
  expect($('.carry-banner')).toBeNull();
  await told(t.handlers, 'cueState', { ...state, cues: [], memos: [] });
  expect($('.side-carry')).toBeNull();
});
