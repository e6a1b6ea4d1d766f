import { expect, it } from 'vitest';
import { labelGutter } from '../src/state/labels';
import {
  fitWidth, layoutRows, nearRows, nextZoom, pageLabel, pageShare, parsePageInput, readingSizeFor, renderPixelWidth, spreads, stepTextSize,
  textSizeSteps, visiblePage, type ReadingSize,
} from '../src/state/layout';
import { numberOf, offsetForNumber } from '../src/state/page_notes';
import { nearAll } from './fake_bridge';

it.each([
  [5, 1, 0, [[0], [1], [2], [3], [4]]], [5, 1, 1, [[0], [1], [2], [3], [4]]], [5, 2, 0, [[0, 1], [2, 3], [4]]],
  [5, 2, 1, [[0], [1, 2], [3, 4]]], [4, 2, -1, [[0], [1, 2], [3]]], [4, 2, 2, [[0, 1], [2, 3]]], [1, 2, 1, [[0]]], [0, 2, 0, []],
  [6, 2, 0, [[0, 1], [2, 3], [4, 5]]], [6, 2, 1, [[0], [1, 2], [3, 4], [5]]],
])('spread pairing: %i pages, %i per view, offset %i', (count, per, offset, expected) => {
  expect(spreads(count, per, offset)).toEqual(expected);
});

// The printed number of a page is its index from 1 plus the marks' offset;
// before the first numbered page it is read by its sheet ("#1").
it.each([
  [0, 0, '1'], [0, -1, '#1'], [1, -1, '1'], [2, 3, '6'],
])('page labels: page index %i with label offset %i reads %j', (index, offset, label) => {
  expect(pageLabel(index, offset)).toBe(label);
});

it.each([
  [' 1 ', 1], ['#1', 0], ['# 6', 5], ['5', 5], ['-2', { error: 'No page -2' }], ['0', { error: 'No page 0' }],
  ['6', { error: 'No page 6' }], ['#7', { error: 'No page #7' }], ['x', { error: '"x" is not a page' }], ['', { error: 'Type a page' }],
  ['2.5', { error: '"2.5" is not a page' }],
] as [string, number | { error: string }][])('page labels: Go to Page %j with label offset -1 of 6 pages is %j', (text, result) => {
  expect(parsePageInput(text, 6, -1)).toEqual(typeof result === 'number' ? { page: result } : result);
});

it.each([
  // The third sheet printed as page 1: two pages of front matter.
  [2, '1', { offset: -2 }], [4, '12', { offset: 7 }], [0, ' 3 ', { offset: 2 }], [2, '0', { error: '"0" is not a page number' }],
  [2, 'xii', { error: '"xii" is not a page number' }], [2, '1.5', { error: '"1.5" is not a page number' }],
  [2, '', { error: 'Type a page number' }],
] as [number, string, object][])('page labels: sheet %i said to be numbered %j', (index, text, answer) => {
  expect(offsetForNumber(index, text)).toEqual(answer);
});

it('page labels: proposes the number a sheet reads, and none before the first numbered page', () => {
  expect([numberOf(4, 0), numberOf(4, -2), numberOf(1, -2), numberOf(0, 5)]).toEqual(['5', '3', '', '6']);
});

const view = { width: 1000, zoom: 1, gap: 10 };

it('row layout from the aspects alone: places pages from their aspects, with a fallback for damaged ones, at the zoom', () => {
  const rows = layoutRows([[0], [1]], [0.5, Number.NaN], 1, view);
  expect(rows[0]).toMatchObject({ top: 10, height: 2000, widths: [1000] });
  expect([rows[1].top, rows[1].height, layoutRows([[0]], [1], 1, { ...view, zoom: 2 })[0].widths[0]]).toEqual([2020, expect.closeTo(1000 / 0.7071, 6), 2000]);
});

it('row layout from the aspects alone: shows the pages of a spread and a lone page at one scale', () => {
  // A short cropped title page beside a full page: same width, own height.
  const rows = layoutRows([[0], [1, 2]], [0.75, 2, 0.5], 2, view);
  expect(rows.map((r) => [r.widths, r.heights, r.height])).toEqual([[[495], [660], 660], [[495, 495], [247.5, 990], 990]].map(nearAll));
});

it('row layout from the aspects alone: grows a page by the room its inserted lines open, at the same width', () => {
  const rows = layoutRows([[0, 1], [2]], [0.5, 0.5, 1], 2, view, new Map([[1, 0.25], [2, 0.1]]));
  expect([rows[0].heights, rows[0].height, rows[1].top, rows[1].heights[0], rows[1].widths[0]])
    .toEqual([[990, 990 * 1.25], 990 * 1.25, 10 + 990 * 1.25 + 10, expect.closeTo(495 * 1.1, 9), 495]);
});

// Rows of 100 px at 0, 110, 220, ... (gap 10).
const rows = Array.from({ length: 10 }, (_, i) => ({ pages: [i], top: i * 110, height: 100, widths: [70], heights: [100] }));

it.each([
  [0, 150, 0, [0, 1]], [330, 100, 0, [3]], [330, 120, 0, [3, 4]], [330, 100, 110, [2, 3, 4]], [5000, 100, 0, []], [-50, 40, 0, []],
])('pages near the viewport and the page being read: scrollTop %i, viewport %i, margin %i', (top, height, margin, expected) => {
  expect(nearRows(rows, top, height, margin)).toEqual(expected);
});

it.each([
  [0, 300, 0], [0, 400, 1], [540, 300, 5], [100000, 300, 9],
])('pages near the viewport and the page being read: scrollTop %i, viewport %i reads page %i', (top, height, page) => {
  expect(visiblePage(rows, top, height)).toBe(page);
});

it.each([
  [500, 1, 512], [500, 2, 1024], [10, 1, 64], [6000, 2, 8192], [500, Number.NaN, 512], [500, 0, 512],
])('render width and zoom steps: %f css px at ratio %f asks %i px', (css, ratio, px) => {
  expect(renderPixelWidth(css, ratio)).toBe(px);
});

it('render width and zoom steps: steps through the zoom table and stops at its ends', () => {
  expect([nextZoom(1, 1), nextZoom(1, -1), nextZoom(1.05, -1), nextZoom(3, 1), nextZoom(0.5, -1)]).toEqual([1.1, 0.9, 1, 3, 0.5]);
});

const gap = 12;
const size = (pages: 1 | 2, zoom: number): ReadingSize => ({ pages, zoom });
const pageWidth = (s: ReadingSize, column: number) =>
  layoutRows(spreads(3, s.pages, 0), [0.5, 0.5, 0.5], s.pages, { width: column, zoom: s.zoom, gap })[0].widths[0];

it.each([
  [686, fitWidth, 686], [686, size(2, 1), 337], [300, size(2, 0.5), 69],
])('reading size: column %d at %j: pages of %d px, as their share says', (column, s, width) => {
  expect([pageWidth(s, column), pageShare(s, column, gap) * column]).toEqual([expect.closeTo(width, 6), expect.closeTo(width, 6)]);
});

it("reading size: takes the script's kept size inside the zoom's bounds, else the settings' pages fitted", () => {
  const settings = { pagesPerSpread: 2, readingSizes: [{ path: '/a', pages: 2, zoom: 1.25 }, { path: '/b', pages: 7, zoom: 40 }] };
  expect(['/a', '/b', '/new'].map((p) => readingSizeFor(settings, p))).toEqual([size(2, 1.25), size(1, 3), size(2, 1)]);
  expect(readingSizeFor({ pagesPerSpread: 1, readingSizes: 'damaged' }, '/a')).toEqual(fitWidth);
});

it('reading size: steps the text size through ever larger pages and stays at either end', () => {
  for (const column of [300, 686, 1400]) {
    const seen = [textSizeSteps[0]];
    for (let i = 0; i < 20; i++) seen.push(stepTextSize(seen[i], 1, column, gap));
    expect([seen.slice(0, textSizeSteps.length), seen[seen.length - 1]]).toEqual([textSizeSteps, size(1, 2)]);
    expect(stepTextSize(textSizeSteps[0], -1, column, gap)).toEqual(textSizeSteps[0]);
  }
  // Two pages fitted grow into one page, never into a spread wider than the column;
  // a zoom past either end is not stepped the wrong way.
  expect([stepTextSize(size(2, 1), 1, 686, gap), stepTextSize(size(1, 3), 1, 686, gap)]).toEqual([size(1, 0.6), size(1, 3)]);
  expect(stepTextSize(size(2, 0.5), -1, 686, gap)).toEqual(size(2, 0.5));
});

it('reading size: opens the demo with its body text at 14 px or more in the first window', () => {
  // 1280 CSS px less the sidebar (260), the show panel (300), the scrollbar (10)
  // and the view's 12 px gaps. The demo's 12 pt body text sits in a crop no
  // wider than 360 pt (its 352 pt column and the margins; tests/demo checks it).
  // The label gutter beside each page comes off the column too.
  const column = 1280 - 260 - 300 - 10 - 2 * gap;
  const bodyPx = (s: ReadingSize) =>
    (12 * layoutRows(spreads(3, s.pages, 0), [0.5, 0.5, 0.5], s.pages, { width: column, zoom: s.zoom, gap, gutter: labelGutter(column, s.pages, 14).px })[0].widths[0]) / 360;
  // A new script opens at the settings' pages: one by default, as the native side has it.
  expect([bodyPx(readingSizeFor({ pagesPerSpread: 1, readingSizes: [] }, '/demo.pdf')) >= 14, bodyPx(fitWidth), bodyPx(size(2, 1)) < 14])
    .toEqual([true, expect.closeTo(18.3, 1), true]);
});
