// @vitest-environment happy-dom
// Until a long script's crop is known (the frame every mark is kept in), nothing is placed, cropped or exported.
import { expect, it } from 'vitest';
import { linesPendingText } from '../src/state/crop';
import { cue, doc, stateWith } from './fake_bridge';
import { $$, flush, mountPage, told, usePageDom } from './page_dom';

usePageDom();

it('marks nothing until its crop is in, then everything as usual', async () => {
  const pending = doc('/s/long.pdf', { state: stateWith({ cues: [cue('a', 0, 0.3)], standbyID: 'a' }), pageCount: 2, aspects: [0.7, 0.7], linesPending: true });
  const t = await mountPage({ openDocumentPath: () => pending as never }, { open: '/s/long.pdf' });
  t.store.cueMode.value = true;
  await t.documents.openPath('/s/long.pdf');
  await flush();
  expect(t.store.cueMode.value).toBe(false);
  const refused = [
    ['Cue Mode', () => t.cueMode.set(true), () => t.store.cueMode.value],
    ['export', () => t.exporter.exportMarked(), () => t.named('exportMarkedPDF').length > 0],
    ['Crop mode', () => t.tools.crop.start(), () => t.tools.crop.frame.value !== null],
  ] as const;
  for (const [what, act, done] of refused) {
    t.store.message.value = '';
    act();
    await flush();
    expect([what, done(), t.store.message.value]).toEqual([what, false, linesPendingText]);
  }
  expect($$('.cue, .cue-label')).toHaveLength(0);
  await told(t.handlers, 'documentChanged', { ...pending, linesPending: undefined });
  t.cueMode.set(true);
  expect([t.store.message.value, $$('.page[data-page="0"] .cue').length, t.store.cueMode.value]).toEqual(['', 1, true]);
});
