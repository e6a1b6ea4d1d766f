// @vitest-environment happy-dom
// Inserted lines as the operator sees them: the page grown by the room, the
// image in bands, the text in the room, cues placed through the geometry;
// and the field typed from the keys alone.
import { describe, expect, it } from 'vitest';
import type { Cue, CueState, Insert } from '../src/bridge/types';
import { emptyCueState } from '../src/bridge/types';
import { insertLineK } from '../src/state/inserts';
import { doc } from './fake_bridge';
import { flush, host, keydown, mountPage, usePageDom } from './page_dom';

usePageDom();

function cue(id: string, y: number, more: Partial<Cue> = {}): Cue {
  return {
    id, number: id, label: '', kind: 'LX', color: '', snippet: '', note: '', insertID: '', page: 0,
    x: 0.5, y, w: 0.1, h: 0.02, labelX: 0, padL: 0, padR: 0, ...more,
  };
}

const gapInsert: Insert = { id: 'g', text: 'Enter the king\nwith drums', page: 0, afterY: 0.5, lineMidY: 0.5, lineH: 0.02, x: 0.1 };
const inlineInsert: Insert = { id: 'n', text: 'softly', page: 0, afterY: 0.32, lineMidY: 0.31, lineH: 0.02, x: 0.4 };

async function open(state: Partial<CueState>, more = {}) {
  const t = await mountPage({
    openDocumentPath: (p: never) => doc(p, { state: { ...emptyCueState, ...state }, pageCount: 2, aspects: [1, 1] }),
    renderPage: (i: never) => ({ index: i, png: 'iVBORw0KGgo=' }),
    ...more,
  }, { open: '/s/show.pdf' });
  const page = host.querySelector('.page[data-page="0"]') as HTMLElement;
  return { ...t, page };
}

const near = (values: number[], digits = 6) => values.map((v) => expect.closeTo(v, digits));

describe('a page with inserted lines', () => {
  it('grows by the room, draws its image above and below it, and the text in it', async () => {
    const t = await open({ inserts: [gapInsert], cues: [cue('on', 0.5, { insertID: 'g', x: 0.12 }), cue('below', 0.6), cue('above', 0.3)] });
    const extra = 2 * 0.02 * insertLineK;
    const width = parseFloat(t.page.style.width);
    // Page 2 has no inserted line and keeps its height.
    expect([t.page, host.querySelector<HTMLElement>('.page[data-page="1"]')!].map((p) => parseFloat(p.style.height)))
      .toEqual(near([width * (1 + extra), width], 3));

    const pieces = [...t.page.querySelectorAll<HTMLElement>('.page-band')];
    expect(pieces.map((b) => [parseFloat(b.style.top) / width, parseFloat(b.style.height) / width])).toEqual([
      [0, expect.closeTo(0.5, 6)],
      [expect.closeTo(0.5 + extra, 6), expect.closeTo(0.5, 6)],
    ]);
    // The lower piece shows the lower half of the image.
    expect(parseFloat(pieces[1].querySelector('img')!.style.top) / width).toBeCloseTo(-0.5, 6);

    const text = t.page.querySelector('.insert-room .insert-text')!;
    expect([...text.children].map((c) => c.textContent)).toEqual(['Enter the king', 'with drums']);

    const scale = 1 + extra;
    const box = (id: string) => t.page.querySelector<HTMLElement>(`.cue[data-cue="${id}"]`)!.style;
    // The last two: on the inserted line's first row.
    expect([box('above').top, box('below').top, box('on').top, box('on').height].map(parseFloat))
      .toEqual(near([30 / scale, ((0.6 + extra) / scale) * 100, (0.5 / scale) * 100, ((0.02 * insertLineK) / scale) * 100]));
  });

  it('splits the row of an insertion inside a line into three pieces, the right one moved right', async () => {
    const t = await open({ inserts: [inlineInsert], cues: [cue('moved', 0.3, { x: 0.45 })] });
    const width = parseFloat(t.page.style.width);
    const pieces = [...t.page.querySelectorAll<HTMLElement>('.page-band')];
    // Above the row, the row's left part, its right part, below the row.
    expect([parseFloat(t.page.style.height) / width, pieces.length, parseFloat(pieces[1].style.width) / width])
      .toEqual([expect.closeTo(1, 3), 4, expect.closeTo(0.4, 6)]);
    const dR = parseFloat(pieces[2].style.left) / width - 0.4;
    expect(dR).toBeGreaterThan(0);
    expect(parseFloat(t.page.querySelector<HTMLElement>('.cue[data-cue="moved"]')!.style.left)).toBeCloseTo((0.45 + dR) * 100, 4);
    expect(t.page.querySelector('.insert-room.inline')?.textContent).toBe('softly');
    // Selected with a click on it in Cue Mode: outlined and named.
    t.cueMode.set(true);
    t.inserts.select('n');
    await flush();
    expect([t.page.querySelectorAll('.insert-selected').length, host.querySelector('[data-testid="insert-selection"]')?.textContent])
      .toEqual([1, 'Selected inserted line, page 1: softly']);
  });
});

describe('typing an inserted line from the keys', () => {
  it('Ctrl+E, n, i opens the field below the line; Shift+Return is a new row, Return sends it, not GO', async () => {
    const t = await open({}, {
      pageLines: () => [[0.1, 0.1, 0.5, 0.02], [0.1, 0.2, 0.5, 0.02]],
      textRect: () => ({ rect: [0.1, 0.1, 0.5, 0.02], text: 'line', lineEnd: 0.6, gapL: 0, gapR: 0 }),
    });
    keydown(document.body, 'e', { ctrlKey: true });
    keydown(document.body, 'n');
    await flush();
    keydown(document.body, 'i');
    await flush();
    const field = host.querySelector('.insert-field') as HTMLTextAreaElement;
    expect(document.activeElement).toBe(field);
    const heightBefore = parseFloat(t.page.style.height);
    expect(heightBefore).toBeGreaterThan(parseFloat(t.page.style.width));

    field.value = 'Thunder';
    field.dispatchEvent(new Event('input', { bubbles: true }));
    keydown(field, 'Enter', { shiftKey: true });
    field.value = 'Thunder\nand rain';
    field.dispatchEvent(new Event('input', { bubbles: true }));
    await flush();
    expect(parseFloat(t.page.style.height)).toBeGreaterThan(heightBefore);
    expect(t.named('upsertInsert')).toEqual([]);
    keydown(field, 'Enter');
    await flush();
    expect([t.named('go'), t.named('upsertInsert'), host.querySelector('.insert-field')]).toEqual([
      [], [[expect.objectContaining({ text: 'Thunder\nand rain', page: 0, afterY: expect.closeTo(0.16, 9), x: 0.1 })]], null]);
  });
});
