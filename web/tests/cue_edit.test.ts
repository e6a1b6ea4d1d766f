import { describe, expect, it } from 'vitest';
import type { Cue } from '../src/bridge/types';
import { draftCue, duplicateOf, proposeNumber, textRectArgs } from '../src/state/cue_edit';

function cue(id: string, number: string, page: number, y: number, x = 0.1): Cue {
  return {
    id, number, label: '', kind: 'LX', color: '', snippet: '', note: '', insertID: '', page,
    x, y, w: 0.2, h: 0.02, labelX: 0, padL: 0, padR: 0,
  };
}

describe('the number a new cue is offered', () => {
  it.each([
    // before, after, offered
    [undefined, undefined, '1'],
    ['5', undefined, '6'],
    ['5.5', undefined, '6'],
    ['5', '6', '5.5'],
    ['5', '8', '6'],
    ['5.5', '6', '5.8'],
    ['5', '5.1', '5.05'],
    [undefined, '5', '4'],
    [undefined, '1', '0.5'],
    [undefined, '0.5', '0.3'],
    // Out of order or equal neighbours: the next whole number, they type theirs.
    ['7', '3', '8'],
    ['4', '4', '5'],
    // Letters are passed over as if absent.
    ['A', '3', '2'],
    ['12b', undefined, '1'],
    [' 9 ', undefined, '10'],
  ])('after %s and before %s comes %s', (before, after, offered) => {
    expect(proposeNumber(before, after)).toBe(offered);
  });
});

describe('asking for the words under a click or a drag', () => {
  it.each([
    ['a click is the same point twice', 2, { x: 0.3, y: 0.4 }, { x: 0.3, y: 0.4 }, true, [2, 0.3, 0.4, 0.3, 0.4, true]],
    ['a drag keeps its direction', 0, { x: 0.6, y: 0.5 }, { x: 0.2, y: 0.45 }, false, [0, 0.6, 0.5, 0.2, 0.45, false]],
    ['points off the page are kept on it', 1.7, { x: -0.2, y: 1.3 }, { x: Number.NaN, y: 0.5 }, true, [1, 0, 1, 0, 0.5, true]],
  ])('%s', (_name, page, from, to, snap, args) => {
    expect(textRectArgs(page, from, to, snap)).toEqual(args);
  });
});

describe('the unfinished cue', () => {
  const cues = [cue('a', '1', 0, 0.2), cue('b', '2', 0, 0.6), cue('c', '3', 1, 0.3)];
  const answer = { rect: [0.1, 0.4, 0.25, 0.02], text: 'the storm', lineEnd: 0.82, gapL: 0.01, gapR: -0.5 };

  it('sits on the answered words, labels at the line end, numbers between its neighbours', () => {
    const d = draftCue(answer, 0, cues, 'SND', 'NEW');
    expect(d).toMatchObject({
      id: 'NEW', page: 0, x: 0.1, y: 0.4, w: 0.25, h: 0.02, labelX: 0.82, padL: 0.01, padR: 0,
      number: '1.5', kind: 'SND', snippet: 'the storm', label: '',
    });
    expect(draftCue(answer, 2, cues, 'LX', 'N').number).toBe('4');
    expect(draftCue({ ...answer, rect: [0.1, 0.1, 0.1, 0.02] }, 0, cues, 'LX', 'N').number).toBe('0.5');
    // A line end of 0 means none: the label goes beside the box.
    expect(draftCue({ ...answer, lineEnd: 0 }, 0, cues, 'LX', 'N').labelX).toBe(0);
  });

  it('a duplicate takes the number after its original', () => {
    expect(duplicateOf(cues[0], cues, 'D')).toMatchObject({ id: 'D', number: '1.5', page: 0, y: 0.2 });
    expect(duplicateOf(cues[2], cues, 'D').number).toBe('4');
  });
});
