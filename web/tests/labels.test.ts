import { describe, expect, it } from 'vitest';
import { layoutLabel, overlayMetrics } from '../src/state/labels';

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

  it('wider than the page: wraps at spaces within it, a word too long is cut', () => {
    // Room for text: 600 - 4 - 8 = 588 px = 58 characters.
    const words = `SFX 7 ${'word '.repeat(20)}${'x'.repeat(70)}`.trim();
    const l = layoutLabel(words, 200, 600, 14, measure);
    expect(l.left).toBe(2);
    expect(l.padL).toBe(198);
    expect(l.rows).toBe(l.lines.length);
    expect(l.rows).toBe(4);
    for (const line of l.lines) expect(measure(line)).toBeLessThanOrEqual(588);
    // Nothing lost: the lines join back into the text (cut words without a space).
    expect(l.lines.join(' ').replace(/x /g, 'x')).toBe(words);
    expect(l.width).toBeLessThanOrEqual(596);
    expect(l.height).toBeCloseTo(4 * overlayMetrics.labelLineH * 14 + 2 * overlayMetrics.labelPadY_px, 6);
  });
});
