import { describe, expect, it } from 'vitest';
import {
  backoffDelay, followedCues, followerToken, imageWidth, kindsOf, maxCues, noMoreText, readFilter, readServerMessage,
  socketURL, type FollowRun, type FollowScript,
} from '../src/state/follower';

const frame = (v: unknown) => JSON.stringify(v);
const scriptOf = (cues: unknown[], document: unknown = { title: 'Lantern', pageCount: 3, aspects: [0.7, 0.7, 0.7] }) => {
  const m = readServerMessage(frame({ type: 'script', document, cues }));
  if (m?.type !== 'script') throw new Error('not a script');
  return m.script;
};
const run = (standby: string | null, over: Partial<FollowRun> = {}): FollowRun => ({
  standby, next: null, lastFired: null, firedCount: 0, total: 0, ...over,
});

describe('reading what the server sends', () => {
  it.each([
    ['not JSON', '{"type":', null],
    ['an array', '[1]', null],
    ['an unknown type', frame({ type: 'go' }), null],
    ['a script without cues', frame({ type: 'script', document: {} }), null],
    ['a script whose document is a list', frame({ type: 'script', document: [], cues: [] }), null],
    ['a pong', frame({ type: 'pong' }), { type: 'pong' }],
    ['a run of wrong types', frame({ type: 'run', standby: 5, next: '', lastFired: 'C2', firedCount: '3', total: -4 }),
      { type: 'run', run: { standby: null, next: null, lastFired: 'C2', firedCount: 0, total: 0 } }],
    ['a run', frame({ type: 'run', standby: 'C12', next: 'C13', lastFired: 'C11', firedCount: 11.7, total: 431 }),
      { type: 'run', run: { standby: 'C12', next: 'C13', lastFired: 'C11', firedCount: 11, total: 431 } }],
  ])('%s', (_, text, expected) => {
    expect(readServerMessage(text)).toEqual(expected);
  });

  it('refuses what is no text frame or too large to be a script', () => {
    expect([readServerMessage(new ArrayBuffer(4)), readServerMessage(' '.repeat(33 * 1024 * 1024))]).toEqual([null, null]);
  });

  it('keeps each cue it can use and each field of the right type', () => {
    const s = scriptOf([
      { id: 'C1', number: '12', label: 'Lights up', kind: 'LX', page: 0, x: 0.1, y: 0.2, w: 0.3, h: 0.02 },
      { id: 7, number: '13' }, null, 'C3',
      { id: 'C4', number: 14, label: ['x'], kind: ' SND ', page: 3, x: 0.9, y: -1, w: 0.5, h: 0.1 },
      { id: 'C5', label: 'y'.repeat(5000), page: 1.5, x: 0.1, y: 0.1, w: 0.1 },
      { id: 'C1', number: 'again', page: 2 },
    ], { title: 'Lantern\nact one', pageCount: 3, aspects: [0.707, 'wide', -1, 0.5] });
    expect(s.document).toEqual({ title: 'Lantern act one', pageCount: 3, aspects: [0.707, 0.7071, 0.7071] });
    expect(s.cues.map((c) => [c.id, c.number, c.kind, c.page, c.box, c.label.length])).toEqual([
      ['C1', '12', 'LX', 0, { x: 0.1, y: 0.2, w: 0.3, h: 0.02 }, 9],
      // Off the last page; the box kept within the page.
      ['C4', '', 'SND', -1, { x: 0.9, y: 0, w: expect.closeTo(0.1, 9), h: 0.1 }, 0],
      ['C5', '', '', -1, null, 201],
      ['C1', 'again', '', 2, null, 0],
    ]);
    // A repeated id finds its first cue.
    expect(s.order.get('C1')).toBe(0);
  });

  it('looks at no more than the first 10,000 cues', () => {
    const cues = Array.from({ length: maxCues + 5 }, (_, i) => ({ id: `c${i}`, page: 0 }));
    const s = scriptOf(cues);
    expect([s.cues.length, s.cues[s.cues.length - 1].id]).toEqual([maxCues, `c${maxCues - 1}`]);
  });
});

describe('the cue a follower stands by', () => {
  const s: FollowScript = scriptOf(['LX', 'SND', 'LX', 'VFX', 'SND', 'LX'].map((kind, i) => ({
    id: `C${i + 1}`, number: String(i + 1), kind, page: Math.floor(i / 2), x: 0.1, y: 0.1 * (i + 1), w: 0.2, h: 0.02,
  })));
  const ids = (f: ReturnType<typeof followedCues>) => [f.standby?.id ?? null, f.next?.id ?? null, f.doneBefore, f.page];
  it.each([
    ['all cues at the standby', run('C2', { next: 'C3' }), null, ['C2', 'C3', 1, 0]],
    ['all cues, the run skipping a cue', run('C2', { next: 'C4' }), null, ['C2', 'C4', 1, 0]],
    ['all cues, a next behind the standby', run('C3', { next: 'C1' }), null, ['C3', 'C4', 2, 1]],
    ['an empty filter is all cues', run('C2', { next: 'C3' }), new Set<string>(), ['C2', 'C3', 1, 0]],
    ['LX from the standby SND 2', run('C2', { next: 'C3' }), new Set(['LX']), ['C3', 'C6', 1, 1]],
    ['LX at an LX standby', run('C3'), new Set(['LX']), ['C3', 'C6', 2, 1]],
    ['SND and VFX', run('C3'), new Set(['SND', 'VFX']), ['C4', 'C5', 2, 1]],
    ['VFX past its last cue', run('C5', { lastFired: 'C4' }), new Set(['VFX']), [null, null, 4, 1]],
    ['a kind the script lacks', run('C1'), new Set(['FLY']), [null, null, 0, 0]],
    ['the end of the show', run(null, { lastFired: 'C6', firedCount: 6 }), null, [null, null, 6, 2]],
    ['a standby the script lacks, after a known fired cue', run('C99', { lastFired: 'C3' }), null, ['C4', 'C5', 3, 1]],
    ['nothing fired nor stood by', run(null), new Set(['SND']), ['C2', 'C5', 0, 0]],
  ])('%s', (_, r, kinds, expected) => {
    expect(ids(followedCues(s, r, kinds))).toEqual(expected);
  });

  it('offers the kinds in script order, and a chosen one the script lost', () => {
    expect(kindsOf(s.cues, new Set(['FLY', 'LX']))).toEqual(['LX', 'SND', 'VFX', 'FLY']);
  });

  it.each([
    [null, 'No more cues'], [new Set(['LX']), 'No more LX cues'], [new Set(['LX', 'SND']), 'No more LX or SND cues'],
    [new Set(['LX', 'SND', 'VFX']), 'No more LX, SND or VFX cues'],
  ])('past the last of %j: %j', (kinds, expected) => {
    expect(noMoreText(kinds)).toBe(expected);
  });

  it.each([
    [null, []], ['["LX","SND"]', ['LX', 'SND']], ['["LX",3,"",null]', ['LX']], ['{"LX":1}', []], ['[LX', []],
  ])('the kept filter %j', (stored, expected) => {
    expect([...readFilter(stored)]).toEqual(expected);
  });
});

describe('the link and the page images', () => {
  it.each([
    [0, 0.5, 1000], [1, 0.5, 2000], [2, 0.5, 4000], [3, 0.5, 8000], [4, 0.5, 15000], [9, 0.5, 15000],
    [0, 0, 750], [0, 1, 1250], [3, 1, 10000], [4, 1, 15000], [4, 0, 11250], [-1, 0.5, 1000], [2, Number.NaN, 4000],
  ])('attempt %i with jitter %f waits %i ms', (attempt, random, ms) => {
    expect(backoffDelay(attempt, random)).toBe(ms);
  });

  it.each([
    [390, 3, 1280], [390, 2, 896], [256, 1, 256], [257, 1, 384], [0, 2, 128], [20, 1, 128], [3000, 2, 4096],
    [500, Number.NaN, 512], [Number.NaN, 1, 128],
  ])('a %f px column at ratio %f asks for %i px', (css, ratio, px) => {
    expect(imageWidth(css, ratio)).toBe(px);
  });

  const token = 'a'.repeat(32);
  it.each([
    [{ protocol: 'http:', pathname: `/f/${token}/` }, false, false, token],
    [{ protocol: 'https:', pathname: `/f/${token}0f/` }, false, false, `${token}0f`],
    [{ protocol: 'http:', pathname: `/f/${token}/` }, true, false, null],
    [{ protocol: 'http:', pathname: `/f/${token}/` }, false, true, null],
    [{ protocol: 'file:', pathname: `/f/${token}/` }, false, false, null],
    [{ protocol: 'http:', pathname: `/f/${'a'.repeat(31)}/` }, false, false, null],
    [{ protocol: 'http:', pathname: `/f/${token.toUpperCase()}/` }, false, false, null],
    [{ protocol: 'http:', pathname: `/f/${token}/index.html` }, false, false, null],
    [{ protocol: 'http:', pathname: `/x/f/${token}/` }, false, false, null],
  ])('is %j a follower (handlers %s, monitor %s)', (location, handlers, monitor, expected) => {
    expect(followerToken(location, handlers, monitor)).toBe(expected);
  });

  it.each([
    ['http:', 'ws://10.0.0.5:53180/f/T/ws'], ['https:', 'wss://10.0.0.5:53180/f/T/ws'],
  ])('a page over %s talks over %s', (protocol, url) => {
    expect(socketURL({ protocol, host: '10.0.0.5:53180' }, 'T')).toBe(url);
  });
});
