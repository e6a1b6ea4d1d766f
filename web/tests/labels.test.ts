import { expect, it } from 'vitest';
import {
  gutterSide, labelGutter, labelSpacing, layoutGutterText, maxLabelRows, overlayMetrics, placeGutterLabels, type GutterItem,
} from '../src/state/labels';
import { ellipsis } from '../src/state/shown_text';

// 10 px a character: widths are easy to read off.
const measure = (s: string) => 10 * [...s].length;
const pad = 2 * overlayMetrics.labelPadX_px;
// Room for 58 characters of text a row.
const wideGutter = { px: 600, chip: false };

// Counts what a layout measures: the calls and the characters handed over (a
// canvas measures in time growing with the text).
function counting() {
  const seen = { calls: 0, chars: 0 };
  const m = (s: string) => {
    seen.calls++;
    seen.chars += s.length;
    return measure(s);
  };
  return { m, seen };
}

// The work is bounded by what three rows hold, not by the text: a label a
// hundred times longer is measured no more. (Cutting long words one
// character at a time from the whole remainder grew with its square.)
it('a label of any length: is measured as much at 100,000 characters as at 2,000', () => {
  for (const unit of ['x', 'word ', 'a\n']) {
    const work = [2_000, 100_000].map((n) => {
      const { m, seen } = counting();
      layoutGutterText(`LX 1 ${unit.repeat(n / unit.length)}`, 'LX 1', wideGutter, 14, m);
      return seen;
    });
    expect([work[1].calls, work[1].chars, work[1].chars < 50_000], unit).toEqual([work[0].calls, work[0].chars, true]);
  }
});

it.each([
  ['a million characters in one word', `Q1 ${'x'.repeat(1_000_000)}`, wideGutter], ['line feeds only', `Q1 ${'\n'.repeat(500_000)}end`, wideGutter],
  ['astral characters', `Q1 ${'\u{1F3AD}'.repeat(300_000)}`, wideGutter], ['words in a narrow gutter', `Q1 ${'word '.repeat(100_000)}`, { px: 140, chip: false }],
])('a label of any length: %s: three rows within the gutter, ending in an ellipsis', (_n, text, gutter) => {
  const l = layoutGutterText(text, 'Q1', gutter, 14, measure);
  expect([l.rows <= maxLabelRows, l.lines.length, l.lines[l.rows - 1].endsWith(ellipsis)]).toEqual([true, l.rows, true]);
  for (const line of l.lines) {
    expect(measure(line)).toBeLessThanOrEqual(gutter.px - 4 - pad);
    // No line break kept, no surrogate pair split at a cut.
    expect(line).not.toMatch(/[\r\n]|[\ud800-\udbff](?![\udc00-\udfff])/);
  }
});

const frame = 2 * overlayMetrics.labelPadX_px + 4;
const per = 0.63 * 14;
it.each([
  ['one page in a wide column: a fifth of it', 700, 1, { px: 140, chip: false }],
  ['a very wide column: no more than 20 characters', 3000, 1, { px: 20 * per + frame, chip: false }],
  ['two pages in a narrow column: number chips', 686, 2, { px: 7 * per + frame, chip: true }],
  ['the 480 px monitor: still labels', 456, 1, { px: 91.2, chip: false }],
] as const)('labels in the gutter: %s', (_n, column, pages, want) => {
  expect(labelGutter(column, pages, 14)).toEqual({ chip: want.chip, px: expect.closeTo(want.px, 6) });
});

it.each([
  [1, 0, [0, 1, 2], ['right', 'right', 'right']], [2, 0, [0, 1, 2, 3], ['left', 'right', 'left', 'right']],
  [2, 1, [0, 1, 2, 3], ['right', 'left', 'right', 'left']],
] as const)('labels in the gutter: %i page(s) side by side, offset %i: the outer side of each page', (pages, offset, list, sides) => {
  expect(list.map((p) => gutterSide(p, pages, offset))).toEqual(sides);
});

const item = (id: string, centreY: number, text = `LX ${id}`): GutterItem =>
  ({ id, text, tag: `LX ${id}`, centreY, boxLeft: 100, boxRight: 200 });
const place = (items: GutterItem[], height = 800, side: 'left' | 'right' = 'right') =>
  placeGutterLabels(items, 600, height, side, { px: 140, chip: false }, 14, measure);

it.each([
  ['apart: each on its line', [item('1', 100), item('2', 400)], 800, [100, 400]],
  ['sharing a line region: stacked downward in line order', [item('2', 205), item('1', 200), item('3', 210)], 800, 'stacked'],
  ['a stack at the foot: moved up to end on the page', [item('1', 790), item('2', 795)], 800, 'above-foot'],
  ['more rows than the page holds: from its top, none overlapping', Array.from({ length: 30 }, (_, i) => item(String(i), 20)), 300, 'from-top'],
] as const)('labels in the gutter: %s', (_n, items, height, want) => {
  const placed = place([...items], height);
  const sorted = [...placed].sort((a, b) => a.top - b.top);
  for (let i = 1; i < sorted.length; i++) expect(sorted[i].top).toBeGreaterThanOrEqual(sorted[i - 1].top + sorted[i - 1].height + labelSpacing - 1e-9);
  for (const l of placed) {
    expect(l.left).toBe(602);
    // The leader runs from the box's right edge on its line to the label's middle.
    const own = items.find((i) => i.id === l.id)!;
    expect(l.leader).toEqual([200, own.centreY, 602, l.top + l.height / 2]);
  }
  if (want === 'stacked') expect(placed.map((l) => l.id)).toEqual(['1', '2', '3']);
  else if (want === 'above-foot') expect(Math.max(...placed.map((l) => l.top + l.height))).toBeCloseTo(height, 9);
  else if (want === 'from-top') expect(sorted[0].top).toBe(0);
  else expect(placed.map((l) => l.top + l.height / 2)).toEqual(want);
});

it('labels in the gutter: in a left gutter ends short of the page, the leader from the box left edge', () => {
  const [l] = place([item('1', 300)], 800, 'left');
  expect([l.left + l.width, l.leader[0]]).toEqual([-2, 100]);
});

it('labels in the gutter: shows in a chip the number only, cut to the chip', () => {
  const chip = (text: string, tag: string) => layoutGutterText(text, tag, { px: 60, chip: true }, 14, measure).lines;
  expect([chip('LX 1 Fade up the storm', 'LX 1'), chip('', 'SQ 1234567')[0].endsWith(ellipsis)]).toEqual([['LX 1'], true]);
});
