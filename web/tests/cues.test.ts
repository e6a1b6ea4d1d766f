import { describe, expect, it } from 'vitest';
import type { Cue } from '../src/bridge/types';
import { cueColor, cueTag, labelLeft, orderOf, showSummary } from '../src/state/cues';

function cue(id: string, fields: Partial<Cue> = {}): Cue {
  return {
    id, number: id, label: '', kind: 'LX', color: '', snippet: '', note: '', insertID: '', page: 0,
    x: 0.1, y: 0.1, w: 0.2, h: 0.02, labelX: 0, padL: -1, padR: -1, ...fields,
  };
}

describe('show summary', () => {
  const cues = [cue('1'), cue('2'), cue('3'), cue('4')];
  const order = orderOf(cues);

  it.each([
    ['2', '2', ['3', '4']],
    ['4', '4', []],
    ['', undefined, []],
    // An id no longer among the cues: no standby.
    ['gone', undefined, []],
  ])('standby %j is %j with next %j', (standbyID, standby, next) => {
    const s = showSummary(cues, order, standbyID);
    expect(s.standby?.id).toBe(standby);
    expect(s.next.map((c) => c.id)).toEqual(next);
  });
});

describe('cue labels', () => {
  it.each([
    [{ kind: 'LX', number: '23' }, 'LX 23'],
    [{ kind: ' SFX ', number: ' 4a ' }, 'SFX 4a'],
    [{ kind: '', number: '7' }, '7'],
    [{ kind: 'FLY', number: '' }, 'FLY'],
    [{ kind: '', number: '' }, '?'],
  ])('%j reads %s', (fields, text) => {
    expect(cueTag(cue('x', fields))).toBe(text);
  });

  it('sits where the page put it, else right of the box, never off the page', () => {
    expect(labelLeft(cue('a', { labelX: 0.8 }))).toBe(0.8);
    expect(labelLeft(cue('b', { x: 0.1, w: 0.2 }))).toBeCloseTo(0.306, 6);
    expect(labelLeft(cue('c', { x: 0.9, w: 0.2 }))).toBe(1);
  });
});

describe('cue colours', () => {
  const types = [
    { name: 'LX', color: '#3a7bd5' },
    { name: 'SFX', color: '#d8391d' },
  ];
  it.each([
    // own colour, type, types, expected
    ['#00ff00', 'LX', types, '#00ff00'],
    ['', 'LX', types, '#3a7bd5'],
    ['', 'FLY', types, undefined],
    ['', 'SFX', undefined, undefined],
  ] as const)('own %s, type %s', (color, kind, list, expected) => {
    expect(cueColor(cue('x', { color, kind }), list)).toBe(expected);
  });
});
