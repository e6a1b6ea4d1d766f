import { describe, expect, it } from 'vitest';
import type { Insert } from '../src/bridge/types';
import {
  bands, extrasByPage, flatGeometry, grownBox, grownCue, insertAt, insertLineK, pageExtra, pageGeometry, pointOnText,
} from '../src/state/inserts';

// Half an em per character: widths are easy to work out by hand.
const measure = (text: string, px: number) => text.length * px * 0.5;
const W = 1000;
const H = 1000;

function ins(id: string, afterY: number, text: string, more: Partial<Insert> = {}): Insert {
  return { id, text, page: 0, afterY, lineMidY: afterY + 0.01, lineH: 0.02, x: 0.1, ...more };
}

describe('gaps: sorted, stacked, and the room they add', () => {
  it.each([
    // inserts, expected gaps [afterY, height]
    [[ins('a', 0.5, 'one')], [[0.5, 0.02 * insertLineK]]],
    [[ins('a', 0.5, 'two\nlines')], [[0.5, 2 * 0.02 * insertLineK]]],
    [[ins('a', 0.5, '')], [[0.5, 0.02 * insertLineK]]],
    [[ins('b', 0.7, 'x'), ins('a', 0.3, 'y')], [[0.3, 0.026], [0.7, 0.026]]],
    [[ins('a', 0.4, 'x', { lineH: 0.01 }), ins('b', 0.4, 'y\nz')], [[0.4, 0.013], [0.4, 0.052]]],
    [[ins('a', 0.4, 'x', { lineH: 0 })], [[0.4, 0.016 * insertLineK]]],
  ] as [Insert[], number[][]][])('%#', (inserts, expected) => {
    const g = pageGeometry(inserts, 0, W, H, measure);
    expect(g.gaps.map((x) => [x.afterY, x.height])).toEqual(expected.map(([a, h]) => [a, expect.closeTo(h, 9)]));
    expect(g.extra).toBeCloseTo(expected.reduce((s, [, h]) => s + h, 0), 9);
    expect(pageExtra(inserts, 0)).toBeCloseTo(g.extra, 12);
  });

  it('stacks the boxes of inserts at one afterY in list order, each below the one before', () => {
    const g = pageGeometry([ins('a', 0.4, 'first'), ins('b', 0.4, 'second\nrow'), ins('c', 0.2, 'c')], 0, W, H, measure);
    const s = 1 + g.extra;
    const [a, b, c] = ['a', 'b', 'c'].map((id) => g.inserts.find((p) => p.id === id)!);
    expect([c.dy, a.dy, b.dy]).toEqual([0.2 / s, (0.4 + 0.026) / s, a.dy + a.dh].map((v) => expect.closeTo(v, 9)));
    // Widest line "second": 6 × 8.2 px × 0.5 plus the inset on both sides.
    expect(b).toMatchObject({ rows: 2, lines: ['second', 'row'], dh: expect.closeTo(0.052 / s, 9), w: expect.closeTo((6 * 0.82 * 20 * 0.5 + 4) / W, 9) });
  });
});

describe('grown positions: the boundary rule and the way back', () => {
  const g = pageGeometry([ins('a', 0.5, 'x'), ins('b', 0.25, 'y\nz')], 0, W, H, measure);
  const s = 1 + g.extra;

  it.each([
    // y, gap height counted above it
    [0, 0],
    [0.2499, 0],
    [0.25, 0.052],  // a point at afterY is below the room
    [0.3, 0.052],
    [0.5, 0.078],
    [1, 0.078],
  ])('toGrown(%f)', (y, above) => {
    expect(g.toGrown(y)).toBeCloseTo((y + above) / s, 9);
  });

  it('comes back from every point of the text, and a point in the room maps to its cut', () => {
    for (let y = 0; y <= 1; y += 0.01) expect(g.fromGrown(g.toGrown(y))).toBeCloseTo(y, 9);
    const roomTop = 0.25 / s;
    expect(g.fromGrown(roomTop)).toBeCloseTo(0.25, 9);
    expect(g.fromGrown(roomTop + 0.03 / s)).toBeCloseTo(0.25, 9);
    expect(g.toGrown(1)).toBeCloseTo(1, 9);
  });
});

describe('an insertion inside a line splits its row', () => {
  // Line from 0.30 to 0.32 (middle 0.31); inserted at x 0.4.
  const inline = ins('i', 0.32, 'new words', { lineMidY: 0.31, x: 0.4 });
  // Font 0.82 × 20 px; nine characters and a space at half an em.
  const dR = (10 * 16.4 * 0.5) / W;

  it('moves the words right of the point by the text and a space, opens no height', () => {
    const g = pageGeometry([inline], 0, W, H, measure);
    expect([g.extra, g.gaps]).toEqual([0, [{ afterY: 0.32, height: 0 }]]);
    expect(g.hrows).toEqual([expect.objectContaining({ top: expect.closeTo(0.3, 9), bottom: 0.32, x0: 0.4, x1: 0.4, dL: 0, dR: expect.closeTo(dR, 9) })]);
    expect(g.inserts).toEqual([expect.objectContaining(
      { inline: true, rows: 1, x: 0.4, dy: expect.closeTo(0.3, 9), dh: expect.closeTo(0.02, 9), w: expect.closeTo(dR, 9) })]);
  });

  it('moves the words from the point on, only on its row; maps the pointer back and finds the inserted words', () => {
    const g = pageGeometry([inline], 0, W, H, measure);
    // Right of the point, at the point itself, left of it, on another line.
    expect([[0.5, 0.31], [0.4, 0.31], [0.2, 0.31], [0.5, 0.35]].map(([x, y]) => g.shiftX(x, y)))
      .toEqual([dR, dR, 0, 0].map((v) => expect.closeTo(v, 9)));
    // Moved words, words left of the point, the inserted words (back to the point).
    expect([0.5 + dR, 0.2, 0.4 + dR / 2].map((x) => pointOnText(g, x, 0.31).x)).toEqual([0.5, 0.2, 0.4].map((v) => expect.closeTo(v, 9)));
    expect(insertAt(g, 0.4 + dR / 2, 0.31)?.place.id).toBe('i');
    expect(insertAt(g, 0.2, 0.31)).toBeNull();
    // A cue on the inserted words sits on the row; one on the moved words moves.
    expect(grownBox(g, { x: 0.41, y: 0.32, w: 0.02, h: 0.02 }, 'i')).toMatchObject({ x: 0.41, y: expect.closeTo(0.3, 9) });
    expect(grownBox(g, { x: 0.5, y: 0.3, w: 0.05, h: 0.02 })).toMatchObject({ x: expect.closeTo(0.5 + dR, 9), w: expect.closeTo(0.05, 9) });
    // A line's box across the point widens over the inserted words.
    expect(grownBox(g, { x: 0.1, y: 0.3, w: 0.5, h: 0.02 })).toMatchObject({ x: 0.1, w: expect.closeTo(0.5 + dR, 9) });
  });

  it('splits a row once: a second insertion in it opens a gap under the row', () => {
    const g = pageGeometry([inline, { ...inline, id: 'j', x: 0.6, text: 'more' }], 0, W, H, measure);
    expect(g.hrows).toHaveLength(1);
    expect(g.gaps.map((x) => x.height)).toEqual([0, expect.closeTo(0.02 * insertLineK, 9)]);
    expect(g.inserts.find((p) => p.id === 'j')).toMatchObject({ inline: false, dy: expect.closeTo(0.32 / (1 + g.extra), 9) });
  });
});

describe('several pages', () => {
  const list = [ins('a', 0.5, 'x'), ins('b', 0.5, 'y\nz', { page: 2 }), ins('c', 0.3, 'w', { page: 2 }),
    ins('d', 0.3, 'inline', { page: 3, lineMidY: 0.29 })];

  it('gives each page its own inserts and room', () => {
    expect([...extrasByPage(list).entries()]).toEqual([[0, expect.closeTo(0.026, 9)], [2, expect.closeTo(0.078, 9)]]);
    const g2 = pageGeometry(list, 2, W, H, measure);
    expect(g2.inserts.map((p) => p.id)).toEqual(['b', 'c']);
    expect(pageGeometry(list, 3, W, H, measure).hrows).toHaveLength(1);
    expect(pageGeometry(list, 1, W, H, measure)).toBe(flatGeometry);
  });

  it('places a cue on an inserted line on its first row and finds the row under the pointer', () => {
    const g = pageGeometry(list, 2, W, H, measure);
    const b = g.inserts.find((p) => p.id === 'b')!;
    expect(grownBox(g, { x: 0.2, y: 0.5, w: 0.1, h: 0.02 }, 'b')).toEqual({ x: 0.2, y: b.dy, w: 0.1, h: b.dh / 2 });
    // A cue of an insert that is gone is drawn where its record says.
    expect(grownBox(g, { x: 0.2, y: 0.6, w: 0.1, h: 0.02 }, 'gone').y).toBeCloseTo(g.toGrown(0.6), 9);
    expect(insertAt(g, 0.15, b.dy + 0.75 * b.dh)).toEqual({ place: b, row: 1 });
    // Its label starts after the line's words, however long they were typed since.
    const on = { x: 0.2, y: 0.5, w: 0.1, h: 0.02, labelX: 0.05, insertID: 'b' };
    expect(grownCue(g, on).labelX).toBeCloseTo(b.x + b.w, 9);
    expect(grownCue(g, { ...on, labelX: 0.95 }).labelX).toBe(0.95);
    expect(insertAt(g, 0.15, b.dy - 0.001)?.place.id).not.toBe('b');
  });
});

describe('the bands the image is drawn in', () => {
  const piece = (top: number, bottom: number, left: number, right: number, shift: number, dx: number) =>
    ({ top: expect.closeTo(top, 9), bottom: expect.closeTo(bottom, 9), left, right, shift: expect.closeTo(shift, 9), dx: expect.closeTo(dx, 9) });

  it.each([
    ['no inserts: the whole page', [], [piece(0, 1, 0, 1, 0, 0)]],
    ['a gap: the part below moves down by it', [ins('a', 0.5, 'x', { lineH: 0.1 / insertLineK })],
      [piece(0, 0.5, 0, 1, 0, 0), piece(0.5, 1, 0, 1, 0.1, 0)]],
    ['a split row: left, middle (empty), right moved', [ins('i', 0.32, 'ab', { lineMidY: 0.31, x: 0.4 })],
      [piece(0, 0.3, 0, 1, 0, 0), piece(0.3, 0.32, 0, 0.4, 0, 0), piece(0.3, 0.32, 0.4, 1, 0, 3 * 8.2 / W), piece(0.32, 1, 0, 1, 0, 0)]],
  ] as [string, Insert[], unknown[]][])('%s', (_name, inserts, expected) => {
    expect(bands(pageGeometry(inserts, 0, W, H, measure))).toEqual(expected);
  });
});
