// The cue list drawn as a window of rows, whatever the number of cues.
import { expect, it } from 'vitest';
import { rowWindow, scrollToRow } from '../src/state/sidebar';

it('the cue list window: draws the rows meeting the viewport and a margin, never outside the list', () => {
  // count, scrollTop, viewHeight, overscan -> [first, end) with 20 px rows
  const cases: [number, number, number, number, [number, number]][] = [
    [0, 0, 500, 8, [0, 0]], [5, 0, 500, 8, [0, 5]], [1000, 0, 100, 0, [0, 5]], [1000, 0, 100, 3, [0, 8]], [1000, 2000, 100, 3, [97, 108]],
    [1000, 2010, 100, 0, [100, 106]], [1000, 19_990, 100, 3, [996, 1000]],
    // A list scrolled past its end (rows removed) still draws its tail.
    [10, 5000, 100, 2, [10, 10]], [1000, -40, 100, 0, [0, 5]], [1000, 0, 0, 0, [0, 0]],
  ];
  for (const [count, top, height, overscan, want] of cases) {
    const w = rowWindow(count, 20, top, height, overscan);
    expect([w.first, w.end], `${count} rows at ${top}+${height}`).toEqual(want);
  }
});

it('the cue list window: scrolls only as far as needed to show a row, and not at all when it shows', () => {
  // index, scrollTop, viewHeight -> new scrollTop (20 px rows)
  const cases: [number, number, number, number | null][] = [
    [0, 0, 100, null], [4, 0, 100, null], [5, 0, 100, 20], [50, 0, 100, 920], [3, 200, 100, 60], [10, 200, 100, null],
    [14, 200, 100, null], [15, 200, 100, 220], [-1, 200, 100, null],
  ];
  for (const [index, top, height, want] of cases) expect(scrollToRow(index, 20, top, height), `row ${index}`).toBe(want);
});
