// @vitest-environment happy-dom
// No text can blank the script: each place lays out a bounded start of a
// text of any length; the editor gets and saves the whole text.
import { expect, it } from 'vitest';
import { maxInsertRows } from '../src/state/inserts';
import { maxLabelRows } from '../src/state/labels';
import { cue, doc, insert, mark, memo, stateWith } from './fake_bridge';
import { flush, host, mountPage, usePageDom } from './page_dom';

usePageDom();

const texts: [string, string][] = [
  ['a million characters in words', 'storm '.repeat(170_000)], ['a million characters in one word', 'x'.repeat(1_000_000)],
  ['two hundred thousand lines', 'line\n'.repeat(200_000)],
];

async function open(text: string) {
  const state = stateWith({
    cues: [cue('a', 0, 0.2, { label: text, note: text }), cue('b', 0, 0.4, { label: 'short' })], standbyID: 'a',
    memos: [memo('m', { text, x: 0.5, y: 0.6, h: 0.1 })], flags: [{ id: 'f', text, role: text, color: '', page: 0, x: 0.1, y: 0.7 }],
    marks: [mark('r', { kind: 'region', text, y: 0.8, w: 0.5, h: 0.1 })], inserts: [insert('g', 0.5, text)], pageTexts: { '0': text },
  });
  const t = await mountPage({
    openDocumentPath: (p: never) => doc(p, { state, pageCount: 2, aspects: [0.7, 0.7] }),
    renderPage: (i: never) => ({ index: i, png: 'iVBORw0KGgo=' }),
  }, { open: '/s/show.pdf' });
  return { ...t, state };
}

const shown = (sel: string) => [...host.querySelectorAll<HTMLElement>(sel)].map((e) => e.textContent ?? '');

it.each(texts)('a text of any length: %s: each place lays out a bounded start of it; the records keep it whole', async (_n, text) => {
  const t = await open(text);
  // Where each kind of text shows, and the most characters it may lay out.
  const places: [string, string, number][] = [
    ['cue label', '.cue[data-cue="a"] + .cue-label', 2_000], ['standby label', '.standby-label', 200],
    ['standby note', '.standby-note', 300], ['cue list row', '[data-row="0"] .cue-row-label', 201], ['memo', '.memo-text', 5_000],
    ['flag', '.flag', 400], ['region tab', '.mark-tab', 200], ['inserted line', '.insert-text > div:first-child', 501],
    ['page note', '.page-note', 301],
  ];
  for (const [name, sel, most] of places) {
    const found = shown(sel);
    expect([found.length, found[0].length > 0 && found[0].length <= most], name).toEqual([1, true]);
    const start = found[0].replace(/^LX a(\s|$)/, '').replace(/\u2026$/, '').slice(0, 20).trim();
    expect(text.replace(/\s+/g, ' ').includes(start.replace(/\s+/g, ' ')), name).toBe(true);
  }
  expect([shown('.cue-label')[0].split('\n').length <= maxLabelRows, host.querySelectorAll('.insert-text > div').length <= maxInsertRows,
    shown('.insert-text')[0].length <= maxInsertRows * 502]).toEqual([true, true, true]);
  // Tooltips and spoken names are bounded too. The export draws what the page drew (export_view.test.tsx).
  for (const el of host.querySelectorAll('*'))
    for (const attr of el.getAttributeNames()) expect(el.getAttribute(attr)!.length, `${el.className} ${attr}`).toBeLessThan(2_000);
  const held = t.store.cueState.value;
  expect([held.cues[0].label, held.cues[0].note, held.memos[0].text, held.flags[0].text, held.marks[0].text, held.inserts[0].text, held.pageTexts['0']])
    .toEqual(Array(7).fill(text));
});

it('a text of any length: the label editor holds the whole label, and the whole edited label is saved', async () => {
  const text = 'cue '.repeat(50_000).trim();
  const t = await open(text);
  t.cueMode.set(true);
  t.store.selectedID.value = 'a';
  t.selection.editLabel();
  await flush();
  const shown = host.querySelector<HTMLInputElement>('.cue-label-edit')!.value;
  t.selection.commitLabel(`${text} more`);
  expect([shown === text, t.sent<{ label: string }>('upsertCue').pop()!.label === `${text} more`]).toEqual([true, true]);
});
