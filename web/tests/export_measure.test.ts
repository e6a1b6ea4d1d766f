import { describe, expect, it } from 'vitest';
import type { Cue, Insert, Mark } from '../src/bridge/types';
import { measureLayout, type MeasureInput, type PageLayout } from '../src/export/measure';
import { insertLineK } from '../src/state/inserts';
import { overlayMetrics } from '../src/state/labels';
import { cue as baseCue, insert, mark as baseMark } from './fake_bridge';

// 10 px a label character; half an em an inserted-line character.
const labelMeasure = (s: string) => 10 * [...s].length;
const insertMeasure = (s: string, px: number) => s.length * px * 0.5;
const W = 600;
const pad = 2 * overlayMetrics.labelPadX_px;
const lineBox = overlayMetrics.labelLineH * 14 + 2 * overlayMetrics.labelPadY_px;

const cue = (id: string, fields: Partial<Cue> = {}) => baseCue(id, 0, 0.5, { labelX: 0.5, padL: -1, padR: -1, ...fields });
const mark = (id: string, kind: string, fields: Partial<Mark> = {}) => baseMark(id, { kind, x: 0.2, y: 0.3, w: 0.3, ...fields });
const ins = (id: string, afterY: number, text: string, fields: Partial<Insert> = {}) => insert(id, afterY, text, { lineMidY: afterY + 0.01, ...fields });

function layout(state: Partial<MeasureInput['state']>, more: Partial<MeasureInput> = {}) {
  return measureLayout({
    state: { cues: [], marks: [], inserts: [], ...state }, pageCount: 3, aspects: [0.75, 0.5, 0.75],
    pageWidthPx: W, labelFontPx: 14, labelMeasure, insertMeasure, resolvedFonts: ['Liberation Mono'],
    gutter: { px: 140, chip: false }, side: (p) => (p === 1 ? 'left' : 'right'), ...more,
  });
}
const page0 = (l: ReturnType<typeof layout>): PageLayout => l.pages[0];

describe('the export layout of a script', () => {
  it('has every page, with its shown size, and the overlay measures the CSS uses', () => {
    const l = layout({ cues: [cue('a', { page: 2 })] });
    expect(l.pages.map((p) => [p.index, p.pageWpx, p.pageHpx, p.extra])).toEqual([[0, W, 800, 0], [1, W, 1200, 0], [2, W, 800, 0]]);
    expect(l.pages[2].cues).toHaveLength(1);
    // A cue on a page the script lacks gets an empty page, so the export still runs.
    const stray = layout({ cues: [cue('gone', { page: 7 })], inserts: [ins('i', 0.5, 'x', { page: -1 })] });
    expect(stray.pages.map((p) => [p.index, p.cues.length, p.inserts.length, p.pageWpx > 0])).toEqual([
      [0, 0, 0, true], [1, 0, 0, true], [2, 0, 0, true], [7, 0, 0, true], [-1, 0, 0, true]]);
    const { outlineOffset_px: _, ...metrics } = overlayMetrics;
    expect(l).toMatchObject({ ...metrics, labelFontPx: 14, resolvedFonts: ['Liberation Mono'] });
  });

  it('puts a cue box on its words and its label in the gutter on its line, with a leader from the box', () => {
    const l = layout({ cues: [cue('a', { label: 'Fade', color: '#112233' }), cue('b', { page: 1, label: 'Fade' })] });
    const p = page0(l);
    expect(p.cues[0]).toEqual({
      id: 'a', color: '#112233', x: 0.1, w: 0.2, dy: 0.5, dh: expect.closeTo(0.02, 12),
      padL_px: 0, padR_px: 0, outlineOffset_px: -overlayMetrics.outlineW_px,
    });
    // Right of the page: the exported page grows by the gutter on that side.
    expect(p.gutter).toEqual({ side: 'right', px: 140 });
    const label = p.labels[0];
    expect(label).toMatchObject({ text: 'LX a Fade', rows: 1, padL_px: 0, measuredWpx: 90 + pad });
    expect([label.x * W, label.w * W, label.dh * 800, label.dy + label.dh / 2])
      .toEqual([expect.closeTo(W + 2, 9), expect.closeTo(90 + pad, 9), expect.closeTo(lineBox, 9), expect.closeTo(0.51, 12)]);
    expect(label.leader.map((v) => v.toFixed(9))).toEqual([0.3, 0.51, (W + 2) / W, 0.51].map((v) => v.toFixed(9)));
    // A left-hand page's labels stand left of it, the leader from the box's left edge.
    const left = l.pages[1];
    expect(left.gutter).toEqual({ side: 'left', px: 140 });
    expect([left.labels[0].x * W + left.labels[0].w * W, left.labels[0].leader[0]]).toEqual([expect.closeTo(-2, 9), 0.1]);
  });

  // Where cue boxes and labels go around inserted lines is checked against the
  // drawn page in export_view.test.tsx; here the room, the marks and the text.
  it('opens room for an inserted line and moves the marks below it; splits a row for one inside it', () => {
    const p = page0(layout({ inserts: [ins('i', 0.4, 'A new line\nand another')], marks: [mark('h', 'hide', { y: 0.7 })] }));
    const height = 2 * 0.02 * insertLineK;
    const s = 1 + height;
    expect([p.gaps, p.extra]).toEqual([[{ afterY: 0.4, height: expect.closeTo(height, 12) }], expect.closeTo(height, 12)]);
    expect(p.marks[0].dy).toBeCloseTo((0.7 + height) / s, 12);
    expect(p.inserts).toEqual([expect.objectContaining({ text: 'A new line\nand another', rows: 2, lineH: 0.02, x: 0.1 })]);
    expect(p.inserts[0].dy).toBeCloseTo(0.4 / s, 12);

    // lineMidY above afterY: the insertion point is within the line's words.
    const split = page0(layout({ inserts: [ins('i', 0.5, 'extra', { lineMidY: 0.49, x: 0.3 })] }));
    const dR = (insertMeasure('extra', 0.82 * 0.02 * 800) + insertMeasure(' ', 0.82 * 0.02 * 800)) / W;
    expect(split.hrows).toEqual([{ top: expect.closeTo(0.48, 12), bottom: 0.5, x0: 0.3, x1: 0.3, dL: 0, dR: expect.closeTo(dR, 12) }]);
    expect([split.gaps, split.extra]).toEqual([[{ afterY: 0.5, height: 0 }], 0]);
    expect(split.inserts[0]).toMatchObject({ text: 'extra', rows: 1, x: 0.3, w: expect.closeTo(dR, 12) });
  });

  it('sends hidden and struck text, not highlights or regions, each on its page', () => {
    const l = layout({ marks: [mark('c', 'cut'), mark('h', 'hide', { page: 1 }), mark('x', ''), mark('r', 'region')] });
    expect(l.pages[0].marks).toEqual([{ kind: 'cut', x: 0.2, w: 0.3, dy: 0.3, dh: expect.closeTo(0.02, 12) }]);
    expect([l.pages[1].marks.map((m) => m.kind), l.pages[2].marks]).toEqual([['hide'], []]);
  });

  it('answers finite numbers for damaged records and pages without an aspect', () => {
    const l = layout(
      { cues: [cue('bad', { y: NaN, x: Infinity, labelX: NaN }), cue('ok')], inserts: [ins('i', NaN, 'x')], marks: [mark('m', 'cut', { h: NaN })] },
      { aspects: [] },
    );
    const numbers: number[] = [];
    JSON.stringify(l, (_k, v) => (typeof v === 'number' && numbers.push(v), v));
    expect(numbers.length).toBeGreaterThan(20);
    expect([numbers.every(Number.isFinite), l.pages.length]).toEqual([true, 3]);
  });
});
