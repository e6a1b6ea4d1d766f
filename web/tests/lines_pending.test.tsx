// @vitest-environment happy-dom
// While a long script's lines are still read its crop is unknown, and with it
// the frame every mark is kept in: the page shows the script alone and
// places, crops and exports nothing until the crop arrives.
import { describe, expect, it } from 'vitest';
import { dispatchEvent } from '../src/bridge/events';
import { emptyCueState } from '../src/bridge/types';
import { linesPendingText } from '../src/state/crop';
import { cue, doc } from './fake_bridge';
import { flush, host, mountPage, usePageDom } from './page_dom';

usePageDom();

describe('a script whose lines are still read', () => {
  it('marks nothing until its crop is in, then everything as usual', async () => {
    const state = { ...emptyCueState, cues: [cue('a', 0, 0.3)], standbyID: 'a' };
    const pending = doc('/s/long.pdf', { state, pageCount: 2, aspects: [0.7, 0.7], linesPending: true });
    const t = await mountPage({ openDocumentPath: () => pending as never }, { open: '/s/long.pdf' });
    t.store.cueMode.value = true;
    await t.documents.openPath('/s/long.pdf');
    await flush();
    const refused = [
      ['Cue Mode', () => t.cueMode.set(true), () => t.store.cueMode.value],
      ['export', () => t.exporter.exportMarked(), () => t.named('exportMarkedPDF').length > 0],
    ] as const;
    expect(t.store.cueMode.value).toBe(false);
    for (const [what, act, done] of refused) {
      t.store.message.value = '';
      act();
      await flush();
      expect([what, done(), t.store.message.value]).toEqual([what, false, linesPendingText]);
    }
    expect(host.querySelectorAll('.cue, .cue-label')).toHaveLength(0);

    dispatchEvent(t.handlers, 'documentChanged', { ...pending, linesPending: undefined });
    await flush();
    expect(t.store.message.value).toBe('');
    expect(host.querySelectorAll('.page[data-page="0"] .cue')).toHaveLength(1);
    t.cueMode.set(true);
    expect(t.store.cueMode.value).toBe(true);
  });
});
