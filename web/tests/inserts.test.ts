// Inserted lines: the room they open, where one goes, and the tool over a scripted engine.
import { expect, it } from 'vitest';
import { dispatchEvent } from '../src/bridge/events';
import type { CueState, Insert } from '../src/bridge/types';
import { draftRecord, insertWords, spotAt, type InsertDraft } from '../src/state/insert_tool';
import {
  bands, extrasByPage, flatGeometry, grownBox, grownCue, insertAt, insertLineK, pageExtra, pageGeometry, pointOnText, type InsertPlace,
} from '../src/state/inserts';
import type { LineRect } from '../src/state/line_cursor';
import { doc, insert, near, nearAll, openedScript, stateWith, turn } from './fake_bridge';

// Half an em per character: widths are easy to work out by hand.
const measure = (text: string, px: number) => text.length * px * 0.5;
const W = 1000;
const H = 1000;
const ins = (id: string, afterY: number, text: string, more: Partial<Insert> = {}) => insert(id, afterY, text, { lineMidY: afterY + 0.01, ...more });

it.each([
  [[ins('a', 0.5, 'one')], [[0.5, 0.02 * insertLineK]]], [[ins('a', 0.5, 'two\nlines')], [[0.5, 2 * 0.02 * insertLineK]]],
  [[ins('a', 0.5, '')], [[0.5, 0.02 * insertLineK]]], [[ins('b', 0.7, 'x'), ins('a', 0.3, 'y')], [[0.3, 0.026], [0.7, 0.026]]],
  [[ins('a', 0.4, 'x', { lineH: 0.01 }), ins('b', 0.4, 'y\nz')], [[0.4, 0.013], [0.4, 0.052]]],
  [[ins('a', 0.4, 'x', { lineH: 0 })], [[0.4, 0.016 * insertLineK]]],
] as [Insert[], number[][]][])('gaps: sorted, stacked, and the room they add: %#', (inserts, expected) => {
  const g = pageGeometry(inserts, 0, W, H, measure);
  expect(g.gaps.map((x) => [x.afterY, x.height])).toEqual(expected.map(([a, h]) => [a, expect.closeTo(h, 9)]));
  expect(g.extra).toBeCloseTo(expected.reduce((s, [, h]) => s + h, 0), 9);
  expect(pageExtra(inserts, 0)).toBeCloseTo(g.extra, 12);
});

it('gaps: sorted, stacked, and the room they add: stacks the boxes of inserts at one afterY in list order, each below the one before', () => {
  const g = pageGeometry([ins('a', 0.4, 'first'), ins('b', 0.4, 'second\nrow'), ins('c', 0.2, 'c')], 0, W, H, measure);
  const s = 1 + g.extra;
  const [a, b, c] = ['a', 'b', 'c'].map((id) => g.inserts.find((p) => p.id === id)!);
  expect([c.dy, a.dy, b.dy]).toEqual([0.2 / s, (0.4 + 0.026) / s, a.dy + a.dh].map((v) => expect.closeTo(v, 9)));
  // Widest line "second": 6 × 8.2 px × 0.5 plus the inset on both sides.
  expect(b).toMatchObject({ rows: 2, lines: ['second', 'row'], dh: expect.closeTo(0.052 / s, 9), w: expect.closeTo((6 * 0.82 * 20 * 0.5 + 4) / W, 9) });
});

const g = pageGeometry([ins('a', 0.5, 'x'), ins('b', 0.25, 'y\nz')], 0, W, H, measure);
const s = 1 + g.extra;

// y, gap height counted above it: a point at afterY is below the room.
it.each([[0, 0], [0.2499, 0], [0.25, 0.052], [0.3, 0.052], [0.5, 0.078], [1, 0.078]])('grown positions: the boundary rule and the way back: toGrown(%f)', (y, above) => {
  expect(g.toGrown(y)).toBeCloseTo((y + above) / s, 9);
});

it('grown positions: the boundary rule and the way back: comes back from every point of the text, and a point in the room maps to its cut', () => {
  for (let y = 0; y <= 1; y += 0.01) expect(g.fromGrown(g.toGrown(y))).toBeCloseTo(y, 9);
  expect([g.fromGrown(0.25 / s), g.fromGrown((0.25 + 0.03) / s)]).toEqual([expect.closeTo(0.25, 9), expect.closeTo(0.25, 9)]);
});

// Line from 0.30 to 0.32 (middle 0.31); inserted at x 0.4.
const inline = ins('i', 0.32, 'new words', { lineMidY: 0.31, x: 0.4 });
// Font 0.82 × 20 px; nine characters and a space at half an em.
const dR = (10 * 16.4 * 0.5) / W;

it('an insertion inside a line splits its row: moves the words from the point on by the text and a space, only on its row, opens no height; maps the pointer back', () => {
  const g = pageGeometry([inline], 0, W, H, measure);
  expect([g.extra, g.gaps]).toEqual([0, [{ afterY: 0.32, height: 0 }]]);
  expect(g.hrows).toEqual([expect.objectContaining({ top: expect.closeTo(0.3, 9), bottom: 0.32, x0: 0.4, x1: 0.4, dL: 0, dR: expect.closeTo(dR, 9) })]);
  expect(g.inserts).toEqual([expect.objectContaining(
    { inline: true, rows: 1, x: 0.4, dy: expect.closeTo(0.3, 9), dh: expect.closeTo(0.02, 9), w: expect.closeTo(dR, 9) })]);
  // Right of the point, at the point itself, left of it, on another line.
  expect([[0.5, 0.31], [0.4, 0.31], [0.2, 0.31], [0.5, 0.35]].map(([x, y]) => g.shiftX(x, y)))
    .toEqual([dR, dR, 0, 0].map((v) => expect.closeTo(v, 9)));
  // Moved words, words left of the point, the inserted words (back to the point).
  expect([0.5 + dR, 0.2, 0.4 + dR / 2].map((x) => pointOnText(g, x, 0.31).x)).toEqual([0.5, 0.2, 0.4].map((v) => expect.closeTo(v, 9)));
  expect([insertAt(g, 0.4 + dR / 2, 0.31)?.place.id, insertAt(g, 0.2, 0.31)]).toEqual(['i', null]);
  // A cue on the inserted words sits on the row; one on the moved words moves.
  expect(grownBox(g, { x: 0.41, y: 0.32, w: 0.02, h: 0.02 }, 'i')).toMatchObject({ x: 0.41, y: expect.closeTo(0.3, 9) });
  expect(grownBox(g, { x: 0.5, y: 0.3, w: 0.05, h: 0.02 })).toMatchObject({ x: expect.closeTo(0.5 + dR, 9), w: expect.closeTo(0.05, 9) });
  // A line's box across the point widens over the inserted words.
  expect(grownBox(g, { x: 0.1, y: 0.3, w: 0.5, h: 0.02 })).toMatchObject({ x: 0.1, w: expect.closeTo(0.5 + dR, 9) });
});

it('an insertion inside a line splits its row: splits a row once: a second insertion in it opens a gap under the row', () => {
  const g = pageGeometry([inline, { ...inline, id: 'j', x: 0.6, text: 'more' }], 0, W, H, measure);
  expect([g.hrows.length, g.gaps.map((x) => x.height)]).toEqual([1, [0, expect.closeTo(0.02 * insertLineK, 9)]]);
  expect(g.inserts.find((p) => p.id === 'j')).toMatchObject({ inline: false, dy: expect.closeTo(0.32 / (1 + g.extra), 9) });
});

const list = [ins('a', 0.5, 'x'), ins('b', 0.5, 'y\nz', { page: 2 }), ins('c', 0.3, 'w', { page: 2 }),
  ins('d', 0.3, 'inline', { page: 3, lineMidY: 0.29 })];

it('several pages: each has its own inserts and room; places a cue on an inserted line on its first row and finds the row under the pointer', () => {
  expect([...extrasByPage(list).entries()]).toEqual([[0, expect.closeTo(0.026, 9)], [2, expect.closeTo(0.078, 9)]]);
  const g = pageGeometry(list, 2, W, H, measure);
  expect([g.inserts.map((p) => p.id), (pageGeometry(list, 3, W, H, measure).hrows).length]).toEqual([['b', 'c'], 1]);
  expect(pageGeometry(list, 1, W, H, measure)).toBe(flatGeometry);
  const b = g.inserts.find((p) => p.id === 'b')!;
  expect(grownBox(g, { x: 0.2, y: 0.5, w: 0.1, h: 0.02 }, 'b')).toEqual({ x: 0.2, y: b.dy, w: 0.1, h: b.dh / 2 });
  // A cue of an insert that is gone is drawn where its record says.
  expect(grownBox(g, { x: 0.2, y: 0.6, w: 0.1, h: 0.02 }, 'gone').y).toBeCloseTo(g.toGrown(0.6), 9);
  expect(insertAt(g, 0.15, b.dy + 0.75 * b.dh)).toEqual({ place: b, row: 1 });
  // Its label starts after the line's words, however long they were typed since.
  const on = { x: 0.2, y: 0.5, w: 0.1, h: 0.02, labelX: 0.05, insertID: 'b' };
  expect([grownCue(g, on).labelX, grownCue(g, { ...on, labelX: 0.95 }).labelX]).toEqual([expect.closeTo(b.x + b.w, 9), 0.95]);
  expect(insertAt(g, 0.15, b.dy - 0.001)?.place.id).not.toBe('b');
});

const piece = (top: number, bottom: number, left: number, right: number, shift: number, dx: number) =>
  ({ top: expect.closeTo(top, 9), bottom: expect.closeTo(bottom, 9), left, right, shift: expect.closeTo(shift, 9), dx: expect.closeTo(dx, 9) });

it.each([
  ['no inserts: the whole page', [], [piece(0, 1, 0, 1, 0, 0)]],
  ['a gap: the part below moves down by it', [ins('a', 0.5, 'x', { lineH: 0.1 / insertLineK })],
    [piece(0, 0.5, 0, 1, 0, 0), piece(0.5, 1, 0, 1, 0.1, 0)]],
  ['a split row: left, middle (empty), right moved', [ins('i', 0.32, 'ab', { lineMidY: 0.31, x: 0.4 })],
    [piece(0, 0.3, 0, 1, 0, 0), piece(0.3, 0.32, 0, 0.4, 0, 0), piece(0.3, 0.32, 0.4, 1, 0, 3 * 8.2 / W), piece(0.32, 1, 0, 1, 0, 0)]],
] as [string, Insert[], unknown[]][])('the bands the image is drawn in: %s', (_name, inserts, expected) => {
  expect(bands(pageGeometry(inserts, 0, W, H, measure))).toEqual(expected);
});

// Three lines, 0.02 high, 0.01 apart; the last ends the page's text.
const lines: LineRect[] = [[0.1, 0.1, 0.5, 0.02], [0.1, 0.13, 0.6, 0.02], [0.15, 0.16, 0.3, 0.02]];

it.each([
  // point, word start under it, expected gap afterY, inline x (or null)
  ['on a word inside a line', { x: 0.3, y: 0.14 }, 0.28, 0.155, 0.28], ['at a line\'s first word', { x: 0.1, y: 0.14 }, 0.1, 0.125, null],
  ['on the first line\'s first word', { x: 0.1, y: 0.11 }, 0.1, 0.1 - 0.004, null],
  ['past a line\'s end', { x: 0.9, y: 0.11 }, null, 0.125, null], ['between two lines', { x: 0.5, y: 0.125 }, null, 0.125, null],
  ['under the last line', { x: 0.5, y: 0.5 }, null, 0.18 + 0.004, null],
  ['above the first line', { x: 0.5, y: 0.02 }, null, 0.1 - 0.004, null],
])('a click inserts %s', (_name, p, word, afterY, inlineX) => {
  const spot = spotAt(lines, p, word)!;
  const inline = inlineX === null ? null : { afterY: expect.closeTo(0.15, 9), lineMidY: expect.closeTo(0.14, 9), x: inlineX, lineRight: expect.closeTo(0.7, 9) };
  expect(spot).toMatchObject({ gap: { afterY: expect.closeTo(afterY, 9) }, lineH: expect.closeTo(0.02, 9), inline });
  // A line of its own: never read as inside a line.
  expect(spot.gap.lineMidY).toBeGreaterThanOrEqual(spot.gap.afterY);
  expect(spotAt([], p, word)).toBeNull();
});

const base: InsertDraft = {
  id: 'n', page: 0, text: '', existing: false, generation: 1, lineH: 0.02,
  gap: { afterY: 0.16, lineMidY: 0.16, x: 0.1 }, inline: { afterY: 0.15, lineMidY: 0.14, x: 0.3, lineRight: 0.7 },
};
// Aspect 1: font 16.4 px on a 1000 px page, 8.2 px a character.
it.each([
  ['a short word fits', 'so', true],
  // 0.7 + (n + 1) × 0.0082 must stay within 0.994: 34 characters do, 35 do not.
  ['the longest that fits', 'x'.repeat(34), true], ['one more does not', 'x'.repeat(35), false],
  ['two rows never go inside a line', 'a\nb', false],
])('inside a line only while the pushed words stay on the page: %s', (_name, text, inline) => {
  const rec = draftRecord({ ...base, text }, 1, measure);
  expect(rec.lineMidY < rec.afterY).toBe(inline);
  expect(rec).toMatchObject({ id: 'n', text, page: 0, lineH: 0.02, ...(inline ? { afterY: 0.15, x: 0.3 } : { afterY: 0.16, lineMidY: 0.16, x: 0.1 }) });
});

// "Enter the king": 10 px a character at font 20, text from 100 + 2 px.
const place: InsertPlace = { id: 'a', inline: false, lines: ['Enter the king'], rows: 1, x: 0.1, w: 0.2, dy: 0.5, dh: 0.03, lineH: 0.02 };
const at = (px: number) => px / 1000;
it.each([
  ['one word', 165, 175, 'the', 162, 30], ['across two words', 110, 170, 'Enter the', 102, 90],
  ['a click in a space takes the nearest word', 155, 155, 'Enter', 102, 50], ['a drag backwards', 240, 205, 'king', 202, 40],
])('the words of an inserted line under a drag: %s', (_name, from, to, text, left, width) => {
  const words = insertWords(place, at(from), at(to), 1000, 20, measure)!;
  expect([words.text, words.x * 1000, words.w * 1000]).toEqual([text, expect.closeTo(left, 6), expect.closeTo(width, 6)]);
  expect(insertWords({ ...place, lines: [''] }, at(from), at(to), 1000, 20, measure)).toBeNull();
});

async function opened(fields: Partial<CueState> = {}) {
  const first = stateWith(fields);
  const t = await openedScript({
    openDocumentPath: (p: never) => doc(p, { state: first, aspects: Array(6).fill(1) }),
    pageLines: () => lines,
    textRect: (a: never) => ({ rect: [(a as unknown as number[])[1], 0.13, 0.05, 0.02], text: 'w', lineEnd: 0.7, gapL: 0, gapR: 0 }),
  });
  const send = (s: Partial<CueState>) => dispatchEvent(t.handlers, 'cueState', { ...first, ...s });
  return { ...t, send };
}

it('the inserted-line tool: lays the geometry out once per change of the inserts: kept through a GO, made anew when they change', async () => {
  const t = await opened({ inserts: [insert('a', 0.5, 'line')] });
  const g = t.inserts.geometry(0, 800, 800);
  expect(g.extra).toBeCloseTo(0.02 * insertLineK, 9);
  expect(t.inserts.geometry(0, 800, 800)).toBe(g);
  // A GO: new lists with the same records.
  t.send({ inserts: [insert('a', 0.5, 'line')], standbyID: 'x', fired: ['y'] });
  expect(t.inserts.geometry(0, 800, 800) === g && t.inserts.geometry(1, 800, 800) === flatGeometry).toBe(true);
  t.send({ inserts: [insert('a', 0.5, 'line\ntwo')] });
  const again = t.inserts.geometry(0, 800, 800);
  expect([again === g, again.extra, t.inserts.grownY(0, 0.6)]).toEqual([false, near(0.04 * insertLineK), near((0.6 + again.extra) / (1 + again.extra))]);
});

// The field in the page (focus, Shift+Return, Return not GO): insert_view.test.tsx.
it('the inserted-line tool: i with the line cursor opens a line below it; Return sends it, Escape drops one', async () => {
  const t = await opened();
  t.cueMode.set(true);
  await t.cursor.key();
  t.commands.key('insertLine');
  await turn();
  const d = t.inserts.draft.value!;
  expect([t.store.lineCursor.value, d.gap.afterY]).toEqual([null, expect.closeTo(0.125, 9)]);
  t.inserts.setText('A new line');
  expect(t.inserts.extra(0)).toBeCloseTo(0.026, 9);
  t.inserts.commit('A new line  ');
  expect(t.sent('upsertInsert')).toEqual([insert(d.id, d.gap.afterY, 'A new line')]);
  await turn();
  expect([t.inserts.draft.value, t.inserts.selectedID.value]).toEqual([null, d.id]);

  // Empty text sends nothing; Escape closes the field before anything else.
  t.inserts.reset();
  t.commands.key('insertLine');
  expect([t.inserts.armed.value, t.store.status.value]).toEqual([true, expect.stringContaining('Insert Line')]);
  await t.inserts.pointAt(0, { x: 0.5, y: 0.125 });
  expect(t.store.status.value).toBe('');
  t.inserts.commit('   ');
  expect(t.named('upsertInsert')).toHaveLength(1);
  t.commands.key('insertLine');
  await t.inserts.pointAt(0, { x: 0.5, y: 0.125 });
  t.commands.escape();
  expect([t.inserts.draft.value, t.store.cueMode.value]).toEqual([null, true]);
});

it('the inserted-line tool: a click on a word inside a line asks for the word and splits the row there', async () => {
  const t = await opened();
  t.inserts.command();
  expect(t.store.cueMode.value).toBe(true);
  await t.inserts.pointAt(0, { x: 0.33, y: 0.14 });
  expect(t.named('textRect')).toEqual([[[0, 0.33, 0.14, 0.33, 0.14, true]]]);
  t.inserts.commit('so');
  expect(t.sent('upsertInsert')[0]).toMatchObject({ afterY: 0.15, lineMidY: 0.14, x: 0.33, text: 'so' });
});

it('the inserted-line tool: selects, edits and removes; F2 and Delete reach it only while selected', async () => {
  const t = await opened({ inserts: [insert('a', 0.125, 'old words')] });
  t.cueMode.set(true);
  expect(t.commands.keyMode().insertSelection).toBeUndefined();
  t.inserts.select('a');
  expect(t.commands.keyMode()).toMatchObject({ cueMode: true, selection: false, insertSelection: true });
  t.commands.key('editInsert');
  await turn();
  expect(t.inserts.draft.value).toMatchObject({ id: 'a', text: 'old words', existing: true });
  t.inserts.commit('old words');
  expect(t.named('upsertInsert')).toEqual([]);
  await t.inserts.edit('a');
  t.inserts.commit('new words');
  expect(t.sent('upsertInsert')).toEqual([insert('a', 0.125, 'new words')]);
  t.inserts.reset();
  t.commands.key('selectInsert');
  expect(t.inserts.selectedID.value).toBe('a');
  expect(t.store.scrollRequest.value).toMatchObject({ page: 0, y: expect.closeTo(0.025, 9) });
  t.commands.key('deleteInsert');
  expect([t.named('removeInsert'), t.inserts.selectedID.value]).toEqual([[['a']], '']);
});

it('the inserted-line tool: a drag over an inserted line makes the unfinished cue on it; a click selects the line', async () => {
  const t = await opened({ inserts: [insert('a', 0.125, 'Enter the king')] });
  t.cueMode.set(true);
  const geom = pageGeometry(t.store.cueState.value.inserts, 0, 1000, 1000, measure);
  const place = geom.inserts[0];
  const mid = place.dy + place.dh / 2;
  expect(t.inserts.pointer(0, geom, { x: 0.105, y: mid }, { x: 0.105, y: mid }, 1000, 1000)).toEqual({ handled: true });
  expect(t.inserts.selectedID.value).toBe('a');
  expect(t.inserts.pointer(0, geom, { x: 0.102, y: mid }, { x: 0.2, y: mid }, 1000, 1000)).toEqual({ handled: true });
  expect(t.store.draft.value).toMatchObject({ insertID: 'a', y: 0.125, h: 0.02, page: 0, number: '1', snippet: expect.stringMatching(/./) });
  // Elsewhere the points go back through the room to the text.
  t.store.draft.value = null;
  const r = t.inserts.pointer(0, geom, { x: 0.3, y: geom.toGrown(0.5) }, { x: 0.4, y: geom.toGrown(0.5) }, 1000, 1000);
  expect(r).toEqual({ handled: false, from: nearAll({ x: 0.3, y: 0.5 }), to: nearAll({ x: 0.4, y: 0.5 }) });
});
