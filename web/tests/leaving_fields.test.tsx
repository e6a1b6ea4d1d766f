// @vitest-environment happy-dom
// The native side blurs the focused field on quit: every field keeps what was typed; Escape drops it.
import { expect, it } from 'vitest';
import { cue, stateWith } from './fake_bridge';
import { $, flush, focusAway, keydown, keyed, mountScript, typeInto, usePageDom } from './page_dom';

usePageDom();

const mount = () => mountScript(stateWith({ cues: [cue('1', 0, 0.2, { label: 'old' })], standbyID: '1' }), {
  pageLines: () => [[0.1, 0.1, 0.5, 0.02], [0.1, 0.5, 0.5, 0.02]],
  textRect: () => ({ rect: [0.1, 0.5, 0.5, 0.02], text: 'line', lineEnd: 0.6, gapL: 0, gapR: 0 }),
});
type Page = Awaited<ReturnType<typeof mount>>;
const selected = (t: Page) => {
  t.cueMode.set(true);
  t.selection.select('1');
};

// How each editor opens, the field typed in, a field of the same editor the
// focus may move to without ending it, the call that keeps the text and the text it sent.
const editors: [string, (t: Page) => unknown, string, string | null, string, (sent: unknown[]) => unknown][] = [
  ['the label of a cue (F2)', (t) => (selected(t), t.commands.key('editLabel')), '.cue-label-edit', null, 'upsertCue', (a) => (a[0] as { label: string }).label],
  ['an inserted line', async (t) => {
    t.cueMode.set(true);
    await flush();
    await keyed(document.body, 'n');
    keydown(document.body, 'i');
  }, '.insert-field', null, 'upsertInsert', (a) => (a[0] as { text: string }).text],
  ['the unfinished cue', async (t) => {
    t.cueMode.set(true);
    await flush();
    await t.cueMode.placeCue(0, { x: 0.1, y: 0.5 }, { x: 0.6, y: 0.5 });
  }, '.cue-draft-label', '.cue-draft-number', 'upsertCue', (a) => (a[0] as { label: string }).label],
  ['the page note', (t) => t.commands.key('pageNotes'), '[aria-label="Note on this page"]', '[aria-label="This page is numbered"]', 'setPageText', (a) => a[1]],
  ['the cue settings', (t) => (selected(t), t.selection.openSheet()), '.cue-sheet input[name="label"]', '.cue-sheet input[name="number"]', 'upsertCue',
    (a) => (a[0] as { label: string }).label],
];

it.each(editors)('%s is dropped by Escape alone, and kept when the focus leaves it', async (_name, open, selector, inside, call, sent) => {
  const t = await mount();
  await open(t);
  await flush();
  await keyed(typeInto(selector, 'Escaped'), 'Escape');
  focusAway();
  await flush();
  expect([t.named(call), $(selector)]).toEqual([[], null]);
  await open(t);
  await flush();
  typeInto(selector, 'Storm');
  if (inside) {
    $(inside)!.focus();
    await flush();
    expect(t.named(call)).toEqual([]);
  }
  focusAway();
  await flush();
  expect([t.named(call).map(sent), $(selector)]).toEqual([['Storm'], null]);
});
