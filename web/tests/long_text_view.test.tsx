// @vitest-environment happy-dom
// No text can blank the script: whatever a label, note, memo, flag, inserted
// line or page note holds, the page lays out a bounded start of it (on the
// page, in the standby panel, the cue list and the export layout), the
// editor gets the whole text and what is saved is the whole text.
import { describe, expect, it } from 'vitest';
import type { CueState } from '../src/bridge/types';
import { emptyCueState } from '../src/bridge/types';
import { currentLayout } from '../src/export/run';
import { maxInsertRows } from '../src/state/inserts';
import { maxLabelRows } from '../src/state/labels';
import { cue, doc } from './fake_bridge';
import { flush, host, mountPage, usePageDom } from './page_dom';

usePageDom();

const texts: [string, string][] = [
  ['a million characters in words', 'storm '.repeat(170_000)], ['a million characters in one word', 'x'.repeat(1_000_000)],
  ['two hundred thousand lines', 'line\n'.repeat(200_000)],
];

function stateWith(text: string): CueState {
  return {
    ...emptyCueState,
    cues: [cue('a', 0, 0.2, { label: text, note: text }), cue('b', 0, 0.4, { label: 'short' })],
    standbyID: 'a',
    memos: [{ id: 'm', text, color: '', page: 0, x: 0.5, y: 0.6, w: 0.3, h: 0.1 }],
    flags: [{ id: 'f', text, role: text, color: '', page: 0, x: 0.1, y: 0.7 }],
    marks: [{ id: 'r', kind: 'region', text, color: '', group: '', page: 0, x: 0.1, y: 0.8, w: 0.5, h: 0.1 }],
    inserts: [{ id: 'g', text, page: 0, afterY: 0.5, lineMidY: 0.5, lineH: 0.02, x: 0.1 }],
    pageTexts: { '0': text },
  };
}

async function open(text: string) {
  const state = stateWith(text);
  const t = await mountPage({
    openDocumentPath: (p: never) => doc(p, { state, pageCount: 2, aspects: [0.7, 0.7] }),
    renderPage: (i: never) => ({ index: i, png: 'iVBORw0KGgo=' }),
  }, { open: '/s/show.pdf' });
  return { ...t, state };
}

const shown = (sel: string) => [...host.querySelectorAll<HTMLElement>(sel)].map((e) => e.textContent ?? '');

describe('a text of any length', () => {
  it.each(texts)('%s: each place lays out a bounded start of it; the records keep it whole', async (_n, text) => {
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
      expect(found, name).toHaveLength(1);
      expect(found[0].length, name).toBeGreaterThan(0);
      expect(found[0].length, name).toBeLessThanOrEqual(most);
      // What shows is the text's start.
      const start = found[0].replace(/^LX a(\s|$)/, '').replace(/\u2026$/, '').slice(0, 20).trim();
      expect(text.replace(/\s+/g, ' ').includes(start.replace(/\s+/g, ' ')), name).toBe(true);
    }
    expect(shown('.cue-label')[0].split('\n').length).toBeLessThanOrEqual(maxLabelRows);
    expect(host.querySelectorAll('.insert-text > div').length).toBeLessThanOrEqual(maxInsertRows);
    expect(shown('.insert-text')[0].length).toBeLessThanOrEqual(maxInsertRows * 502);
    // Tooltips and spoken names are bounded too.
    for (const el of host.querySelectorAll('*'))
      for (const attr of el.getAttributeNames()) expect(el.getAttribute(attr)!.length, `${el.className} ${attr}`).toBeLessThan(2_000);

    // The export gets the same bounded rows the page drew.
    const layout = currentLayout(t.store, 800)!;
    const page = layout.pages[0];
    expect(page.labels.find((l) => l.id === 'a')!.text.split('\n').length).toBeLessThanOrEqual(maxLabelRows);
    expect(page.labels.find((l) => l.id === 'a')!.text.length).toBeLessThan(2_000);
    expect(page.inserts[0].text.length).toBeLessThanOrEqual(maxInsertRows * 502);
    expect(page.inserts[0].rows).toBeLessThanOrEqual(maxInsertRows);

    // Nothing of the records was shortened.
    const held = t.store.cueState.value;
    expect(held.cues[0].label).toBe(text);
    expect(held.cues[0].note).toBe(text);
    expect([held.memos[0].text, held.flags[0].text, held.marks[0].text, held.inserts[0].text, held.pageTexts['0']])
      .toEqual([text, text, text, text, text]);
  });

  it('the label editor holds the whole label, and the whole edited label is saved', async () => {
    const text = 'cue '.repeat(50_000).trim();
    const t = await open(text);
    t.cueMode.set(true);
    t.store.selectedID.value = 'a';
    t.selection.editLabel();
    await flush();
    const field = host.querySelector<HTMLInputElement>('.cue-label-edit')!;
    expect(field.value).toBe(text);
    t.selection.commitLabel(`${text} more`);
    await flush();
    const sent = t.named('upsertCue');
    expect((sent[sent.length - 1][0] as { label: string }).label).toBe(`${text} more`);
  });
});
