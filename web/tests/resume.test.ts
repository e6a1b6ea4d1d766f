import { expect, it } from 'vitest';
import type { CueState } from '../src/bridge/types';
import { openingPlace, resumeBannerText, resumeText } from '../src/state/resume';
import { cue, stateWith } from './fake_bridge';

const offer = { count: 12, total: 48, standbyID: 'c13', number: '13', label: ' Lights fade ' };

it('the saved-run banner: says how far the run got and names the standby; nothing for an empty or damaged offer', () => {
  const cases: [unknown, string | null][] = [
    [offer, '12 of 48 cues fired, standby 13 Lights fade'], [{ ...offer, label: '' }, '12 of 48 cues fired, standby 13'],
    [{ ...offer, number: '', label: '' }, '12 of 48 cues fired, standby unnumbered cue'],
    [{ ...offer, count: 0 }, '0 of 48 cues fired, standby 13 Lights fade'], [{}, null], [null, null], [{ ...offer, standbyID: '' }, null],
    [{ ...offer, total: 0, count: 0 }, null], [{ ...offer, count: 49 }, null], [{ ...offer, count: -1 }, null],
    [{ ...offer, count: '12' }, null], [{ ...offer, total: 4.5 }, null],
  ];
  for (const [run, text] of cases) expect(resumeText(run as never), JSON.stringify(run)).toBe(text);
});

it('the saved-run banner: is gone once answered or once the live run has fired a cue, and never on the monitor', () => {
  const text = '12 of 48 cues fired, standby 13 Lights fade';
  // Once a cue fired, the offer describes the run in progress, not one to go back to.
  expect([[false, false], [false, false, 0], [false, false, 1], [true, false], [false, true]]
    .map(([answered, monitor, fired]) => resumeBannerText(offer, answered as boolean, monitor as boolean, fired as number)))
    .toEqual([text, text, null, null, null]);
});

const cues = [cue('a', 0, 0.3), cue('b', 1, 0.5), cue('c', 2, 0.4), cue('d', 30, 0.6)];
const at = (standbyID: string, fired: string[] = [], more: Partial<CueState> = {}) =>
  ({ ...stateWith({ cues, standbyID, fired, ...more }), firedCount: fired.length });

it('a script opens following a standby on the first pages or a run in progress, else starts at the first page', () => {
  const cases: [string, ReturnType<typeof at>, number, number, { page: number; y: number; follow: boolean }][] = [
    ['fresh, first cue on the first page', at('a'), 40, 7, { page: 0, y: 0.3, follow: true }],
    ['fresh, first cue on the second page', at('b'), 40, 7, { page: 1, y: 0.5, follow: true }],
    ['fresh, first cue after the first pages', at('c'), 40, 7, { page: 0, y: 0, follow: false }],
    // The saved run is only offered: the engine still stands at its first cue.
    ['a saved run offered', at('c', [], { savedRun: { ...offer, standbyID: 'd' } }), 40, 7, { page: 0, y: 0, follow: false }],
    ['a run in progress (reload mid-show)', at('d', ['a', 'b', 'c']), 40, 7, { page: 30, y: 0.6, follow: true }],
    ['no cues at all', at(''), 40, 7, { page: 7, y: 0, follow: true }],
    ['every cue fired', at('', ['a', 'b', 'c', 'd']), 40, 7, { page: 7, y: 0, follow: true }],
    ['a fallback past the end', at(''), 5, 7, { page: 4, y: 0, follow: true }],
    ['a standby not among the cues', at('zz'), 40, 0, { page: 0, y: 0, follow: true }],
    ['a standby on a page the script lacks', at('d', ['a']), 10, 0, { page: 9, y: 0.6, follow: true }],
  ];
  for (const [what, state, pages, fallback, want] of cases) expect(openingPlace(state, pages, fallback), what).toEqual(want);
  // The monitor counts every page as near: it opens at the standby cue.
  expect(openingPlace(at('d'), 40, 0, Infinity)).toEqual({ page: 30, y: 0.6, follow: true });
});
