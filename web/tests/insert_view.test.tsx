// @vitest-environment happy-dom
// Inserted lines as drawn: the grown page, the image in bands, the text, cues on them.
import { expect, it } from 'vitest';
import type { CueState } from '../src/bridge/types';
import { insertLineK } from '../src/state/inserts';
import { cue as baseCue, insert, stateWith, type Answers } from './fake_bridge';
import { $, $$, flush, mountScript, text, usePageDom } from './page_dom';

usePageDom();

const cue = (id: string, y: number, more = {}) => baseCue(id, 0, y, { x: 0.5, w: 0.1, ...more });
const near = (values: number[], digits = 6) => values.map((v) => expect.closeTo(v, digits));

async function open(state: Partial<CueState>, more: Answers = {}) {
  const t = await mountScript(stateWith(state), { renderPage: (i: never) => ({ index: i, png: 'iVBORw0KGgo=' }), ...more }, { pageCount: 2, aspects: [1, 1] });
  const page = $('.page[data-page="0"]')!;
  return { ...t, page, width: parseFloat(page.style.width), px: (el: HTMLElement, k: 'top' | 'height' | 'left' | 'width') => parseFloat(el.style[k]) };
}

it('grows a page by the room, draws its image above and below it and the text in it', async () => {
  const t = await open({
    inserts: [insert('g', 0.5, 'Enter the king\nwith drums')],
  });
  const extra = 2 * 0.02 * insertLineK;
  const scale = 1 + extra;
  expect([t.page, $('.page[data-page="1"]')!].map((p) => t.px(p, 'height'))).toEqual(near([t.width * scale, t.width], 3));
  const pieces = $$('.page-band', t.page);
  expect(pieces.map((b) => [t.px(b, 'top') / t.width, t.px(b, 'height') / t.width])).toEqual([near([0, 0.5]), near([0.5 + extra, 0.5])]);
  expect(t.px(pieces[1].querySelector('img')!, 'top') / t.width).toBeCloseTo(-0.5, 6);
  // The cue boxes around it, as export_view.test.tsx measures them.
  expect([...$('.insert-room .insert-text', t.page)!.children].map((c) => c.textContent)).toEqual(['Enter the king', 'with drums']);
});

it('splits the row of an insertion inside a line into three pieces, the right one moved right; a selected one is outlined and named', async () => {
  const t = await open({ inserts: [insert('n', 0.32, 'softly', { lineMidY: 0.31, x: 0.4 })], cues: [cue('moved', 0.3, { x: 0.45 })] });
  const pieces = $$('.page-band', t.page);
  // Above the row, the row's left part, its right part, below the row.
  expect([t.px(t.page, 'height') / t.width, pieces.length, t.px(pieces[1], 'width') / t.width]).toEqual([...near([1], 3), 4, ...near([0.4])]);
  const dR = t.px(pieces[2], 'left') / t.width - 0.4;
  expect([dR > 0, t.px($('.cue[data-cue="moved"]', t.page)!, 'left'), text('.insert-room.inline')]).toEqual([true, expect.closeTo((0.45 + dR) * 100, 4), 'softly']);
  t.cueMode.set(true);
  t.inserts.select('n');
  await flush();
  expect([$$('.insert-selected', t.page).length, text('[data-testid="insert-selection"]')]).toEqual([1, 'Selected inserted line, page 1: softly']);
});
