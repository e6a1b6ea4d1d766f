import { describe, expect, it } from 'vitest';
import { layoutLabel, maxLabelRows, overlayMetrics } from '../src/state/labels';
import { ellipsis } from '../src/state/shown_text';

// 10 px a character: widths are easy to read off.
const measure = (s: string) => 10 * [...s].length;
const pad = 2 * overlayMetrics.labelPadX_px;

describe('a label laid out on a 600 px page', () => {
  it.each([
    ['fits at its line end', 'LX 1', 300, { left: 300, padL: 0, lines: ['LX 1'] }],
    ['would pass the edge: moves left on its line', 'LX 12 storm', 550, { left: 598 - 110 - pad, padL: 550 - (598 - 110 - pad), lines: ['LX 12 storm'] }],
    ['line end left of the page starts at the margin', 'Q', -10, { left: 2, padL: 0, lines: ['Q'] }],
  ] as [string, string, number, { left: number; padL: number; lines: string[] }][])('%s', (_n, text, lineEnd, want) => {
    const l = layoutLabel(text, lineEnd, 600, 14, measure);
    expect(l.left).toBeCloseTo(want.left, 6);
    expect(l.padL).toBeCloseTo(want.padL, 6);
    expect(l.lines).toEqual(want.lines);
    expect(l.width).toBe(measure(text) + pad);
    expect(l.rows).toBe(1);
    expect(l.left + l.width).toBeLessThanOrEqual(598 + 1e-9);
  });

  it('wider than the page: wraps at spaces within it, a word too long is cut, three rows at most', () => {
    // Room for text: 600 - 4 - 8 = 588 px = 58 characters.
    const words = `SFX 7 ${'word '.repeat(20)}${'x'.repeat(70)}`.trim();
    const l = layoutLabel(words, 200, 600, 14, measure);
    expect(l.left).toBe(2);
    expect(l.padL).toBe(198);
    expect(l.rows).toBe(l.lines.length);
    expect(l.rows).toBe(maxLabelRows);
    for (const line of l.lines) expect(measure(line)).toBeLessThanOrEqual(588);
    // The rows are the text's start; the last ends in an ellipsis in the room.
    expect(l.lines[2]).toBe(`${'x'.repeat(57)}${ellipsis}`);
    expect(words.startsWith(`${l.lines.slice(0, 2).join(' ')} ${'x'.repeat(57)}`)).toBe(true);
    expect(l.width).toBeLessThanOrEqual(596);
    expect(l.height).toBeCloseTo(3 * overlayMetrics.labelLineH * 14 + 2 * overlayMetrics.labelPadY_px, 6);
  });
});

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

describe('a label of any length', () => {
  // The work is bounded by what three rows hold, not by the text: a label a
  // hundred times longer is measured no more. (Cutting long words one
  // character at a time from the whole remainder grew with its square.)
  it('is measured as much at 100,000 characters as at 2,000', () => {
    for (const unit of ['x', 'word ', 'a\n']) {
      const work = [2_000, 100_000].map((n) => {
        const { m, seen } = counting();
        layoutLabel(`LX 1 ${unit.repeat(n / unit.length)}`, 300, 600, 14, m);
        return seen;
      });
      expect(work[1].calls, unit).toBe(work[0].calls);
      expect(work[1].chars, unit).toBe(work[0].chars);
      expect(work[1].chars, unit).toBeLessThan(50_000);
    }
  });

  it.each([
    ['a million characters in one word', `Q1 ${'x'.repeat(1_000_000)}`],
    ['line feeds only', `Q1 ${'\n'.repeat(500_000)}end`],
    ['astral characters', `Q1 ${'\u{1F3AD}'.repeat(300_000)}`],
  ])('%s: at most three rows within the page, ending in an ellipsis', (_n, text) => {
    const l = layoutLabel(text, 300, 600, 14, measure);
    expect(l.rows).toBeLessThanOrEqual(maxLabelRows);
    for (const line of l.lines) {
      expect(measure(line)).toBeLessThanOrEqual(588);
      // No line break kept, no surrogate pair split at a cut.
      expect(line).not.toMatch(/[\r\n]|[\ud800-\udbff](?![\udc00-\udfff])/);
    }
    expect(l.lines[l.rows - 1].endsWith(ellipsis)).toBe(true);
  });
});
