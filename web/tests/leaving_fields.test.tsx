// @vitest-environment happy-dom
// Every field over the script keeps what was typed when the focus leaves it
// (the native side blurs the focused field on quit); Escape alone drops it.
import { describe, expect, it } from 'vitest';
import { emptyCueState } from '../src/bridge/types';
import { cue, doc } from './fake_bridge';
import { flush, host, keydown, mountPage, usePageDom } from './page_dom';

usePageDom();

const state = { ...emptyCueState, cues: [cue('1', 0, 0.2, { label: 'old' })], standbyID: '1' };

async function mount() {
  return mountPage({
    openDocumentPath: (p: never) => doc(p, { state }),
    upsertCue: () => 'id',
    pageLines: () => [[0.1, 0.1, 0.5, 0.02], [0.1, 0.5, 0.5, 0.02]],
    textRect: () => ({ rect: [0.1, 0.5, 0.5, 0.02], text: 'line', lineEnd: 0.6, gapL: 0, gapR: 0 }),
  }, { open: '/s/show.pdf' });
}

type Page = Awaited<ReturnType<typeof mount>>;

// How each editor opens, the field typed in, a field of the same editor the
// focus may move to without ending it, and the call that keeps the text.
const editors: [string, (t: Page) => Promise<unknown>, string, string | null, string, (t: Page) => unknown][] = [
  ['the label of a cue (F2)', async (t) => {
    t.cueMode.set(true);
    t.selection.select('1');
    t.commands.key('editLabel');
  }, '.cue-label-edit', null, 'upsertCue', (t) => t.named('upsertCue').map((a) => (a[0] as { label: string }).label)],
  ['an inserted line', async () => {
    keydown(document.body, 'e', { ctrlKey: true });
    keydown(document.body, 'n');
    await flush();
    keydown(document.body, 'i');
  }, '.insert-field', null, 'upsertInsert', (t) => t.named('upsertInsert').map((a) => (a[0] as { text: string }).text)],
  ['the unfinished cue', async (t) => {
    t.cueMode.set(true);
    await flush();
    await t.cueMode.placeCue(0, { x: 0.1, y: 0.5 }, { x: 0.6, y: 0.5 });
  }, '.cue-draft-label', '.cue-draft-number', 'upsertCue', (t) => t.named('upsertCue').map((a) => (a[0] as { label: string }).label)],
  ['the page note', async (t) => {
    t.commands.key('pageNotes');
  }, '[aria-label="Note on this page"]', '[aria-label="This page is numbered"]', 'setPageText', (t) => t.named('setPageText').map((a) => a[1])],
  ['the cue settings', async (t) => {
    t.cueMode.set(true);
    t.selection.select('1');
    t.selection.openSheet();
  }, '.cue-sheet input[name="label"]', '.cue-sheet input[name="number"]', 'upsertCue', (t) => t.named('upsertCue').map((a) => (a[0] as { label: string }).label)],
];

function typeInto(selector: string, text: string): HTMLInputElement {
  const field = host.querySelector(selector) as HTMLInputElement;
  expect(field, selector).not.toBeNull();
  field.focus();
  field.value = text;
  field.dispatchEvent(new Event('input', { bubbles: true }));
  return field;
}

function focusAway(): void {
  const away = document.createElement('button');
  host.appendChild(away);
  away.focus();
}

describe('leaving a field', () => {
  it.each(editors)('%s keeps what was typed', async (_name, open, selector, inside, call, sent) => {
    const t = await mount();
    await open(t);
    await flush();
    typeInto(selector, 'Storm');
    if (inside) {
      (host.querySelector(inside) as HTMLElement).focus();
      await flush();
      expect(t.named(call)).toEqual([]);
    }
    focusAway();
    await flush();
    expect(sent(t)).toEqual(['Storm']);
    expect(host.querySelector(selector)).toBeNull();
  });

  it.each(editors)('%s is dropped by Escape alone', async (_name, open, selector, _inside, call) => {
    const t = await mount();
    await open(t);
    await flush();
    keydown(typeInto(selector, 'Storm'), 'Escape');
    await flush();
    focusAway();
    await flush();
    expect(t.named(call)).toEqual([]);
    expect(host.querySelector(selector)).toBeNull();
  });
});
