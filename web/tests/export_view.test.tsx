// @vitest-environment happy-dom
// The export layout, computed without the DOM, against what the page drew.
import { expect, it } from 'vitest';
import type { Cue } from '../src/bridge/types';
import { currentLayout } from '../src/export/run';
import { cue as baseCue, doc, insert, stateWith } from './fake_bridge';
import { flush, host, mountPage, usePageDom } from './page_dom';

usePageDom();

const cue = (id: string, y: number, more: Partial<Cue> = {}) => baseCue(id, 0, y, { label: 'Cue', x: 0.2, w: 0.1, labelX: 0.4, padL: -1, padR: -1, ...more });

it.each([[1], [2]])('%i page(s) a view', async (per) => {
  const state = stateWith({
    inserts: [insert('g', 0.5, 'Enter the king\nwith drums'), insert('n', 0.32, 'softly', { lineMidY: 0.31, x: 0.3 })],
    cues: [
      cue('above', 0.2), cue('split', 0.3, { x: 0.35, labelX: 0.6 }), cue('on', 0.5, { insertID: 'g', x: 0.12 }), cue('below', 0.7),
      cue('edge', 0.8, { labelX: 0.97, label: 'At the edge' }),
      cue('wide', 0.9, { label: 'A label far wider than any page could ever hold on one line of its own' }),
    ],
  });
  const t = await mountPage({
    openDocumentPath: (p: never) => doc(p, { state, pageCount: 2, aspects: [0.75, 0.75] }),
    getSettings: () => ({ pagesPerSpread: per, themeName: 'dark', recentDocuments: [], cueLabelFontPx: 16 }),
  });
  await t.documents.openPath('/s/show.pdf');
  await flush();
  const pageEl = host.querySelector('.page[data-page="0"]') as HTMLElement;
  const W = parseFloat(pageEl.style.width);
  const H = parseFloat(pageEl.style.height);

  const layout = currentLayout(t.store, host.querySelector<HTMLElement>('.script')!.clientWidth)!;
  const page = layout.pages[0];
  expect([page.pageWpx, page.pageHpx * (1 + page.extra), layout.labelFontPx]).toEqual([expect.closeTo(W, 6), expect.closeTo(H, 6), 16]);

  const px = (el: Element, k: 'left' | 'width') => parseFloat((el as HTMLElement).style[k]);
  const pct = (el: Element, k: 'left' | 'top' | 'width' | 'height') => parseFloat((el as HTMLElement).style[k]) / 100;
  page.cues.forEach((box) => {
    const el = pageEl.querySelector(`.cue[data-cue="${box.id}"]`)!;
    expect([pct(el, 'left'), pct(el, 'top'), pct(el, 'width'), pct(el, 'height')].map((v) => v.toFixed(9)))
      .toEqual([box.x, box.dy, box.w, box.dh].map((v) => v.toFixed(9)));
    const label = page.labels.find((l) => l.id === box.id)!;
    const labelEl = el.nextElementSibling as HTMLElement;
    expect([labelEl.classList.contains('cue-label'), px(labelEl, 'left')]).toEqual([true, expect.closeTo(label.x * W, 6)]);
    expect(px(labelEl, 'width')).toBeCloseTo(label.measuredWpx, 6);
    // The page centres a label on its place; the layout gives its top and height.
    expect(parseFloat(labelEl.style.top)).toBeCloseTo((label.dy + label.dh / 2) * H, 5);
    expect(labelEl.textContent).toBe(label.text);
    // In the gutter on the page's outer side, never over the page.
    if (page.gutter!.side === 'right') expect(label.x).toBeGreaterThanOrEqual(1);
    else expect(label.x + label.w).toBeLessThanOrEqual(0);
  });
  // The first page of a spread is a left-hand page; a page alone is a right-hand one.
  expect(page.gutter).toEqual({ side: per === 2 ? 'left' : 'right', px: expect.closeTo(parseFloat(pageEl.querySelector<HTMLElement>('.label-gutter')!.style.width), 9) });
  // One page has room for labels; two pages in this view leave room for number chips only.
  const wide = page.labels.find((l) => l.id === 'wide')!;
  if (per === 1) expect(wide.rows).toBeGreaterThan(1);
  else expect([wide.text, wide.rows]).toEqual(['LX wide', 1]);
});
