import { describe, expect, it } from 'vitest';
import type { CueState } from '../src/bridge/types';
import { emptyCueState } from '../src/bridge/types';
import { keyAction, type KeyInput, type KeyMode } from '../src/state/keys';
import { cursorAnnouncement, firstLineBelow, lineDrag, readLines, stepLine, type LineRect } from '../src/state/line_cursor';
import { cue, doc, openedScript } from './fake_bridge';

const body = { tagName: 'BODY' };
const textInput = { tagName: 'INPUT', type: 'text' };
const press = (key: string, target: unknown, mods: Partial<KeyInput> = {}): KeyInput =>
  ({ key, target, ctrlKey: false, shiftKey: false, altKey: false, metaKey: false, repeat: false, ...mods });

describe('the line cursor keys route only in Cue Mode and never from a field', () => {
  const none: KeyMode = { cueMode: false, selection: false, lineCursor: false };
  const mode: KeyMode = { cueMode: true, selection: false, lineCursor: false };
  const shown: KeyMode = { cueMode: true, selection: false, lineCursor: true };
  const shownPicked: KeyMode = { cueMode: true, selection: true, lineCursor: true };
  it.each([
    ['n', body, {}, mode, 'lineCursor'],
    ['Insert', body, {}, mode, 'lineCursor'],
    ['n', body, {}, shown, 'lineCursor'],
    ['n', body, {}, none, null],
    ['Insert', body, {}, none, null],
    ['n', textInput, {}, mode, null],
    ['n', body, { ctrlKey: true }, mode, null],
    ['N', body, { shiftKey: true }, mode, null],
    ['n', body, { repeat: true }, shown, null],
    ['ArrowDown', body, {}, shown, 'cursorDown'],
    ['ArrowUp', body, {}, shown, 'cursorUp'],
    ['j', body, {}, shown, 'cursorDown'],
    ['k', body, {}, shown, 'cursorUp'],
    ['Home', body, {}, shown, 'cursorHome'],
    ['End', body, {}, shown, 'cursorEnd'],
    // Without the cursor the arrows keep their old meaning.
    ['ArrowDown', body, {}, mode, null],
    ['j', body, {}, mode, null],
    ['ArrowDown', textInput, {}, shown, null],
    // Alt+arrows still nudge the selected box; Return and Space stay GO.
    ['ArrowDown', body, { altKey: true }, shownPicked, 'nudgeDown'],
    ['ArrowRight', body, {}, shown, 'nextPage'],
    ['Enter', body, {}, shown, 'go'],
    [' ', body, {}, shown, 'go'],
    ['Escape', body, {}, shown, 'escape'],
  ] as [string, unknown, Partial<KeyInput>, KeyMode, string | null][])('%j on %j with %j in %j', (key, target, mods, m, action) => {
    expect(keyAction(press(key, target, mods), m)).toBe(action);
  });
});

// Four pages: two lines, none (a picture), one, two.
const pages: LineRect[][] = [
  [[0.1, 0.1, 0.5, 0.02], [0.1, 0.5, 0.6, 0.02]],
  [],
  [[0.2, 0.3, 0.4, 0.02]],
  [[0.1, 0.2, 0.3, 0.02], [0.1, 0.8, 0.3, 0.02]],
];
const linesOf = (p: number) => Promise.resolve(pages[p] ?? []);

describe('the cursor steps line by line across pages', () => {
  it.each([
    [{ page: 0, line: 0 }, 1, { page: 0, line: 1 }],
    [{ page: 0, line: 1 }, 1, { page: 2, line: 0 }],
    [{ page: 2, line: 0 }, 1, { page: 3, line: 0 }],
    [{ page: 3, line: 1 }, 1, null],
    [{ page: 3, line: 0 }, -1, { page: 2, line: 0 }],
    [{ page: 2, line: 0 }, -1, { page: 0, line: 1 }],
    [{ page: 0, line: 0 }, -1, null],
  ] as const)('from %j by %i to %j', async (at, delta, to) => {
    expect(await stepLine(at, delta, 4, linesOf)).toEqual(to);
  });

  it.each([
    [0, 0, { page: 0, line: 0 }],
    [0, 0.2, { page: 0, line: 1 }],
    [0, 0.6, { page: 2, line: 0 }],
    [1, 0, { page: 2, line: 0 }],
    [3, 0.9, null],
  ])('the first line of page %i below %f is %j', async (page, y, to) => {
    expect(await firstLineBelow(page, y, 4, linesOf)).toEqual(to);
  });

  it('reads only well-formed line boxes and drags along the whole line', () => {
    expect(readLines([[0, 0.1, 0.5, 0.02], [0, 0, 0, 0.02], ['x', 0, 1, 1], [0.1, 0.2], null, [0, NaN, 1, 1]])).toEqual([[0, 0.1, 0.5, 0.02]]);
    expect(readLines({ lines: [] })).toEqual([]);
    const { from, to } = lineDrag([0.1, 0.4, 0.5, 0.02]);
    expect(from.y).toBeCloseTo(0.41);
    expect(to.y).toBeCloseTo(0.41);
    expect(from.x).toBeGreaterThan(0.1);
    expect(to.x).toBeLessThan(0.6);
    expect(to.x - from.x).toBeGreaterThan(0.49);
    expect(cursorAnnouncement('3', 11, ' ODA  Boots ')).toBe('Page 3, line 12: ODA Boots.');
    expect(cursorAnnouncement('iv', 0, 'Exit.')).toBe('Page iv, line 1: Exit.');
  });
});

describe('placing a cue with the line cursor', () => {
  const state: CueState = { ...emptyCueState, cues: [cue('a', 0, 0.1, { number: '5', w: 0.5 }), cue('b', 3, 0.2, { number: '6', w: 0.5 })], standbyID: 'a' };
  const setup = (overrides: Parameters<typeof openedScript>[0] = {}) =>
    openedScript({
      openDocumentPath: (p: never) => doc(p, { state, pageCount: 4, aspects: [0.7, 0.7, 0.7, 0.7] }),
      pageLines: (p: never) => pages[p as number],
      textRect: (a: never) => {
        const [page, , y] = a as unknown as number[];
        const line = pages[page].find((r) => y > r[1] && y < r[1] + r[3]);
        return line ? { rect: line, text: `words ${page}`, lineEnd: 0.8, gapL: 0, gapR: 0, lines: [] } : null;
      },
      upsertCue: () => 'id',
      ...overrides,
    });

  it('starts after the selected cue, moves, places through textRect and commits with the next number', async () => {
    const t = await setup();
    // Outside Cue Mode the key does nothing.
    await t.cursor.key();
    expect(t.store.lineCursor.value).toBeNull();
    t.cueMode.set(true);
    t.selection.select('a');
    await t.cursor.key();
    expect(t.store.lineCursor.value).toMatchObject({ page: 0, line: 1, text: 'words 0' });
    expect(t.commands.keyMode().lineCursor).toBe(true);
    expect(t.cursor.announcement()).toBe('Page 1, line 2: words 0.');
    await t.cursor.move('down');
    expect(t.store.lineCursor.value).toMatchObject({ page: 2, line: 0 });
    await t.cursor.move('down');
    await t.cursor.move('home');
    expect(t.store.lineCursor.value).toMatchObject({ page: 3, line: 0 });
    await t.cursor.move('end');
    expect(t.store.lineCursor.value).toMatchObject({ page: 3, line: 1 });
    // Each page's lines are asked once.
    expect(t.named('pageLines').map((a) => a[0]).sort()).toEqual([0, 1, 2, 3]);

    t.store.lastKind.value = 'SND';
    await t.cursor.key();
    const rects = t.named('textRect');
    const asked = rects[rects.length - 1][0] as number[];
    expect(asked[0]).toBe(3);
    expect(asked[2]).toBeCloseTo(0.81);
    expect(asked[4]).toBeCloseTo(0.81);
    expect(t.store.lineCursor.value).toBeNull();
    // After cue 6, the last cue; the type last used.
    expect(t.store.draft.value).toMatchObject({ page: 3, number: '7', snippet: 'words 3', kind: 'SND', y: 0.8 });
    expect(t.commands.keyMode().cueMode).toBe(false);
    t.cueMode.commitDraft('7', 'Boots');
    expect(t.named('upsertCue')[0][0]).toMatchObject({ page: 3, number: '7', label: 'Boots' });
  });

  it('quick keys run in order: two Downs over pages still being asked for are two lines, n places on the second', async () => {
    // The lines of every page come a turn late, as from a busy native side.
    const t = await setup({ pageLines: (p: never) => new Promise((r) => setTimeout(() => r(pages[p as number]), 5)) });
    t.cueMode.set(true);
    t.selection.select('a');
    await t.cursor.key();
    expect(t.store.lineCursor.value).toMatchObject({ page: 0, line: 1 });
    t.commands.key('cursorDown');
    t.commands.key('cursorDown');
    t.commands.key('lineCursor');
    await t.cursor.move('up');
    expect(t.store.lineCursor.value).toBeNull();
    expect(t.store.draft.value).toMatchObject({ page: 3, y: 0.2 });
  });

  it('Escape hides the cursor, leaving Cue Mode hides it, and a new script drops it', async () => {
    const t = await setup();
    t.cueMode.set(true);
    await t.cursor.key();
    expect(t.store.lineCursor.value).toMatchObject({ page: 0, line: 0 });
    t.commands.key('escape');
    expect(t.store.lineCursor.value).toBeNull();
    expect(t.store.cueMode.value).toBe(true);
    await t.cursor.key();
    t.cueMode.set(false);
    expect(t.store.lineCursor.value).toBeNull();
    t.cueMode.set(true);
    await t.cursor.key();
    await t.documents.openPath('/s/other.pdf');
    expect(t.store.lineCursor.value).toBeNull();
  });

  it('a line without words keeps the cursor and places nothing; a failed pageLines is asked again', async () => {
    let fail = true;
    const t = await setup({
      pageLines: (p: never) => {
        if (fail) throw new Error('no lines');
        return pages[p as number];
      },
      textRect: () => null,
    });
    t.cueMode.set(true);
    await t.cursor.key();
    expect(t.store.lineCursor.value).toBeNull();
    expect(t.store.message.value).not.toBe('');
    fail = false;
    await t.cursor.key();
    expect(t.store.lineCursor.value).toMatchObject({ page: 0, line: 0, text: '' });
    await t.cursor.key();
    expect(t.store.draft.value).toBeNull();
    expect(t.store.lineCursor.value).toMatchObject({ page: 0, line: 0 });
  });
});
