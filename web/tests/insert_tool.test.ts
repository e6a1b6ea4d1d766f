import { describe, expect, it } from 'vitest';
import { dispatchEvent } from '../src/bridge/events';
import type { CueState, Insert } from '../src/bridge/types';
import { emptyCueState } from '../src/bridge/types';
import { draftRecord, insertWords, spotAt, type InsertDraft } from '../src/state/insert_tool';
import { flatGeometry, insertLineK, pageGeometry, type InsertPlace } from '../src/state/inserts';
import { keyAction } from '../src/state/keys';
import type { LineRect } from '../src/state/line_cursor';
import { doc, openedScript } from './fake_bridge';

// Half an em per character.
const measure = (text: string, px: number) => text.length * px * 0.5;

// Three lines, 0.02 high, 0.01 apart; the last ends the page's text.
const lines: LineRect[] = [[0.1, 0.1, 0.5, 0.02], [0.1, 0.13, 0.6, 0.02], [0.15, 0.16, 0.3, 0.02]];

describe('where a click inserts', () => {
  it.each([
    // point, word start under it, expected gap afterY, inline x (or null)
    ['on a word inside a line', { x: 0.3, y: 0.14 }, 0.28, 0.155, 0.28],
    ['at a line\'s first word', { x: 0.1, y: 0.14 }, 0.1, 0.125, null],
    ['on the first line\'s first word', { x: 0.1, y: 0.11 }, 0.1, 0.1 - 0.004, null],
    ['past a line\'s end', { x: 0.9, y: 0.11 }, null, 0.125, null],
    ['between two lines', { x: 0.5, y: 0.125 }, null, 0.125, null],
    ['under the last line', { x: 0.5, y: 0.5 }, null, 0.18 + 0.004, null],
    ['above the first line', { x: 0.5, y: 0.02 }, null, 0.1 - 0.004, null],
  ])('%s', (_name, p, word, afterY, inlineX) => {
    const spot = spotAt(lines, p, word)!;
    const inline = inlineX === null ? null : { afterY: expect.closeTo(0.15, 9), lineMidY: expect.closeTo(0.14, 9), x: inlineX, lineRight: expect.closeTo(0.7, 9) };
    expect(spot).toMatchObject({ gap: { afterY: expect.closeTo(afterY, 9) }, lineH: expect.closeTo(0.02, 9), inline });
    // A line of its own: never read as inside a line.
    expect(spot.gap.lineMidY).toBeGreaterThanOrEqual(spot.gap.afterY);
  });

  it('finds nothing on a page without lines', () => {
    expect(spotAt([], { x: 0.5, y: 0.5 }, null)).toBeNull();
  });
});

describe('inside a line only while the pushed words stay on the page', () => {
  const base: InsertDraft = {
    id: 'n', page: 0, text: '', existing: false, generation: 1, lineH: 0.02,
    gap: { afterY: 0.16, lineMidY: 0.16, x: 0.1 }, inline: { afterY: 0.15, lineMidY: 0.14, x: 0.3, lineRight: 0.7 },
  };
  // Aspect 1: font 16.4 px on a 1000 px page, 8.2 px a character.
  it.each([
    ['a short word fits', 'so', true],
    // 0.7 + (n + 1) × 0.0082 must stay within 0.994: 34 characters do, 35 do not.
    ['the longest that fits', 'x'.repeat(34), true],
    ['one more does not', 'x'.repeat(35), false],
    ['two rows never go inside a line', 'a\nb', false],
  ])('%s', (_name, text, inline) => {
    const rec = draftRecord({ ...base, text }, 1, measure);
    expect(rec.lineMidY < rec.afterY).toBe(inline);
    expect(rec).toMatchObject({ id: 'n', text, page: 0, lineH: 0.02, ...(inline ? { afterY: 0.15, x: 0.3 } : { afterY: 0.16, lineMidY: 0.16, x: 0.1 }) });
  });
});

describe('the words of an inserted line under a drag', () => {
  // "Enter the king": 10 px a character at font 20, text from 100 + 2 px.
  const place: InsertPlace = { id: 'a', inline: false, lines: ['Enter the king'], rows: 1, x: 0.1, w: 0.2, dy: 0.5, dh: 0.03, lineH: 0.02 };
  const at = (px: number) => px / 1000;
  it.each([
    ['one word', 165, 175, 'the', 162, 30],
    ['across two words', 110, 170, 'Enter the', 102, 90],
    ['a click in a space takes the nearest word', 155, 155, 'Enter', 102, 50],
    ['a drag backwards', 240, 205, 'king', 202, 40],
  ])('%s', (_name, from, to, text, left, width) => {
    const words = insertWords(place, at(from), at(to), 1000, 20, measure)!;
    expect(words.text).toBe(text);
    expect(words.x * 1000).toBeCloseTo(left, 6);
    expect(words.w * 1000).toBeCloseTo(width, 6);
  });

  it('has no words on an empty line', () => {
    expect(insertWords({ ...place, lines: [''] }, 0.1, 0.2, 1000, 20, measure)).toBeNull();
  });
});

const ins = (id: string, afterY: number, text: string): Insert => ({ id, text, page: 0, afterY, lineMidY: afterY, lineH: 0.02, x: 0.1 });

async function opened(state: Partial<CueState> = {}) {
  const first = { ...emptyCueState, ...state };
  const t = await openedScript({
    openDocumentPath: (p: never) => doc(p, { state: first, aspects: Array(6).fill(1) }),
    pageLines: () => lines,
    textRect: (a: never) => ({ rect: [(a as unknown as number[])[1], 0.13, 0.05, 0.02], text: 'w', lineEnd: 0.7, gapL: 0, gapR: 0 }),
  });
  const send = (s: Partial<CueState>) => dispatchEvent(t.handlers, 'cueState', { ...first, ...s });
  return { ...t, send };
}

describe('the geometry is laid out once per change of the inserts', () => {
  it('keeps it through a GO, makes it anew when the inserts change', async () => {
    const t = await opened({ inserts: [ins('a', 0.5, 'line')] });
    const g = t.inserts.geometry(0, 800, 800);
    expect(g.extra).toBeCloseTo(0.02 * insertLineK, 9);
    expect(t.inserts.geometry(0, 800, 800)).toBe(g);
    // A GO: new lists with the same records.
    t.send({ inserts: [ins('a', 0.5, 'line')], standbyID: 'x', fired: ['y'] });
    expect(t.inserts.geometry(0, 800, 800)).toBe(g);
    expect(t.inserts.geometry(1, 800, 800)).toBe(flatGeometry);
    t.send({ inserts: [ins('a', 0.5, 'line\ntwo')] });
    const again = t.inserts.geometry(0, 800, 800);
    expect([again === g, again.extra]).toEqual([false, expect.closeTo(0.04 * insertLineK, 9)]);
    expect(t.inserts.grownY(0, 0.6)).toBeCloseTo((0.6 + again.extra) / (1 + again.extra), 9);
  });
});

describe('making, editing and removing an inserted line', () => {
  it('i with the line cursor opens a line below it; Return sends it, Escape drops one', async () => {
    const t = await opened();
    t.cueMode.set(true);
    await t.cursor.key();
    expect(t.store.lineCursor.value?.line).toBe(0);
    t.commands.key('insertLine');
    await new Promise((r) => setTimeout(r, 0));
    const d = t.inserts.draft.value!;
    expect([t.store.lineCursor.value, d.gap.afterY]).toEqual([null, expect.closeTo(0.125, 9)]);
    // The room opens while typing.
    t.inserts.setText('A new line');
    expect(t.inserts.extra(0)).toBeCloseTo(0.026, 9);
    t.inserts.commit('A new line  ');
    expect(t.named('upsertInsert')).toEqual([[{ id: d.id, text: 'A new line', page: 0, afterY: d.gap.afterY, lineMidY: d.gap.afterY, lineH: 0.02, x: 0.1 }]]);
    await new Promise((r) => setTimeout(r, 0));
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

  it('a click on a word inside a line asks for the word and splits the row there', async () => {
    const t = await opened();
    t.inserts.command();
    expect(t.store.cueMode.value).toBe(true);
    await t.inserts.pointAt(0, { x: 0.33, y: 0.14 });
    expect(t.named('textRect')).toEqual([[[0, 0.33, 0.14, 0.33, 0.14, true]]]);
    t.inserts.commit('so');
    expect(t.named('upsertInsert')[0][0]).toMatchObject({ afterY: 0.15, lineMidY: 0.14, x: 0.33, text: 'so' });
  });

  it('selects, edits and removes; F2 and Delete reach it only while selected', async () => {
    const t = await opened({ inserts: [ins('a', 0.125, 'old words')] });
    t.cueMode.set(true);
    expect(t.commands.keyMode().insertSelection).toBeUndefined();
    t.inserts.select('a');
    const mode = t.commands.keyMode();
    const press = (key: string, shiftKey = false) => keyAction({ key, ctrlKey: false, shiftKey, altKey: false, metaKey: false, repeat: false, target: null }, mode);
    // Backspace stays BACK with an inserted line selected.
    expect([press('F2'), press('Delete'), press('i'), press('Backspace'), press('I', true)])
      .toEqual(['editInsert', 'deleteInsert', 'insertLine', 'back', 'selectInsert']);
    t.commands.key('editInsert');
    await new Promise((r) => setTimeout(r, 0));
    expect(t.inserts.draft.value).toMatchObject({ id: 'a', text: 'old words', existing: true });
    // The same text again sends nothing.
    t.inserts.commit('old words');
    expect(t.named('upsertInsert')).toEqual([]);
    await t.inserts.edit('a');
    t.inserts.commit('new words');
    expect(t.named('upsertInsert')[0][0]).toEqual({ ...ins('a', 0.125, 'new words') });
    // Shift+I reaches it from the keys alone.
    t.inserts.reset();
    t.commands.key('selectInsert');
    expect(t.inserts.selectedID.value).toBe('a');
    expect(t.store.scrollRequest.value).toMatchObject({ page: 0, y: expect.closeTo(0.025, 9) });
    t.commands.key('deleteInsert');
    expect([t.named('removeInsert'), t.inserts.selectedID.value]).toEqual([[['a']], '']);
  });

  it('a drag over an inserted line makes the unfinished cue on it; a click selects the line', async () => {
    const t = await opened({ inserts: [ins('a', 0.125, 'Enter the king')] });
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
    expect(r).toEqual({ handled: false, from: { x: 0.3, y: expect.closeTo(0.5, 9) }, to: { x: 0.4, y: expect.closeTo(0.5, 9) } });
  });
});
