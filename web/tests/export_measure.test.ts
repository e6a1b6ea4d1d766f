import { expect, it } from 'vitest';
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

it('the export layout of a script: has every page, with its shown size, and the overlay measures the CSS uses', () => {
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

// Where labels go in the gutter is labels.test.ts, the same as drawn export_view.test.tsx; here the units.
it('the export layout of a script: puts a cue box on its words and its label in the gutter, in fractions of the grown page', () => {
  const l = layout({ cues: [cue('a', { label: 'Fade', color: '#112233' }), cue('b', { page: 1, label: 'Fade' })] });
  const p = page0(l);
  expect(p.cues[0]).toEqual({
    id: 'a', color: '#112233', x: 0.1, w: 0.2, dy: 0.5, dh: expect.closeTo(0.02, 12), padL_px: 0, padR_px: 0, outlineOffset_px: -overlayMetrics.outlineW_px,
  });
  const label = p.labels[0];
  expect([p.gutter, l.pages[1].gutter!.side, label.text, label.rows, label.measuredWpx]).toEqual([{ side: 'right', px: 140 }, 'left', 'LX a Fade', 1, 90 + pad]);
  expect([label.x * W, label.w * W, label.dh * 800, label.dy + label.dh / 2, label.leader[0], label.leader[2]].map((v) => v.toFixed(9)))
    .toEqual([W + 2, 90 + pad, lineBox, 0.51, 0.3, (W + 2) / W].map((v) => v.toFixed(9)));
});

// The geometry of the room is inserts.test.ts; here the marks below it move and the inserted text is sent.
it('the export layout of a script: opens room for an inserted line and moves the marks below it; splits a row for one inside it', () => {
  const p = page0(layout({ inserts: [ins('i', 0.4, 'A new line\nand another')], marks: [mark('h', 'hide', { y: 0.7 })] }));
  const height = 2 * 0.02 * insertLineK;
  expect([p.extra, p.marks[0].dy, p.inserts[0].dy]).toEqual([height, (0.7 + height) / (1 + height), 0.4 / (1 + height)].map((v) => expect.closeTo(v, 12)));
  expect(p.inserts).toEqual([expect.objectContaining({ text: 'A new line\nand another', rows: 2, lineH: 0.02, x: 0.1 })]);
  const split = page0(layout({ inserts: [ins('i', 0.5, 'extra', { lineMidY: 0.49, x: 0.3 })] }));
  expect([split.hrows.length, split.extra, split.inserts[0]]).toEqual([1, 0, expect.objectContaining({ text: 'extra', rows: 1, x: 0.3 })]);
});

it('the export layout of a script: sends hidden and struck text, not highlights or regions, each on its page', () => {
  const l = layout({ marks: [mark('c', 'cut'), mark('h', 'hide', { page: 1 }), mark('x', ''), mark('r', 'region')] });
  expect(l.pages[0].marks).toEqual([{ kind: 'cut', x: 0.2, w: 0.3, dy: 0.3, dh: expect.closeTo(0.02, 12) }]);
  expect([l.pages[1].marks.map((m) => m.kind), l.pages[2].marks]).toEqual([['hide'], []]);
});

it('the export layout of a script: answers finite numbers for damaged records and pages without an aspect', () => {
  const l = layout(
    { cues: [cue('bad', { y: NaN, x: Infinity, labelX: NaN }), cue('ok')], inserts: [ins('i', NaN, 'x')], marks: [mark('m', 'cut', { h: NaN })] },
    { aspects: [] },
  );
  const numbers: number[] = [];
  JSON.stringify(l, (_k, v) => (typeof v === 'number' && numbers.push(v), v));
  expect(numbers.length).toBeGreaterThan(20);
  expect([numbers.every(Number.isFinite), l.pages.length]).toEqual([true, 3]);
});
