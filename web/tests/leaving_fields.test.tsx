// @vitest-environment happy-dom
// Every editor in the page: focused as it opens, its own key keeps the text and
// never reaches GO or BACK, Escape drops it, and leaving the field keeps it (the
// native side blurs the focused field on quit).
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
const inCueMode = async (t: Page) => {
  t.cueMode.set(true);
  await flush();
};
const first = (a: unknown[]) => a[0] as { label: string; text: string };

// How each editor opens, the field typed in, a field of the same editor the
// focus may move to without ending it, the call that keeps the text and the
// text it sent, the key that keeps it and one that stays in the field.
type Key = [string, KeyboardEventInit?];
const editors: [string, (t: Page) => unknown, string, string | null, string, (sent: unknown[]) => unknown, Key, Key | null][] = [
  ['the label of a cue (F2)', (t) => (selected(t), t.commands.key('editLabel')), '.cue-label-edit', null, 'upsertCue', (a) => first(a).label,
    ['Enter'], null],
  ['an inserted line', async (t) => {
    await inCueMode(t);
    await keyed(document.body, 'n');
    keydown(document.body, 'i');
  }, '.insert-field', null, 'upsertInsert', (a) => first(a).text, ['Enter'], ['Enter', { shiftKey: true }]],
  ['the unfinished cue', async (t) => {
    await inCueMode(t);
    await t.cueMode.placeCue(0, { x: 0.1, y: 0.5 }, { x: 0.6, y: 0.5 });
  }, '.cue-draft-label', '.cue-draft-number', 'upsertCue', (a) => first(a).label, ['Enter'], ['Backspace']],
  ['the page note', (t) => t.commands.key('pageNotes'), '[aria-label="Note on this page"]', '[aria-label="This page is numbered"]', 'setPageText',
    (a) => a[1], ['Enter'], null],
  ['the cue settings', (t) => (selected(t), t.selection.openSheet()), '.cue-sheet input[name="label"]', '.cue-sheet input[name="number"]', 'upsertCue',
    (a) => first(a).label, ['Enter'], null],
  ['a new memo', (t) => {
    t.marks.setReadingPlace(() => ({ page: 0, g: 0.3 }));
    t.commands.menuCommand('addMemo');
  }, 'textarea[aria-label="Memo text"]', null, 'upsertMemo', (a) => first(a).text, ['Enter', { ctrlKey: true }], ['Enter']],
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

it.each(editors)('%s has the focus as it opens, and keeps its text on its own key, never GO or BACK', async (_name, open, selector, inside, call, sent, [key, mods], stay) => {
  const t = await mount();
  await open(t);
  await flush();
  expect([$(selector), inside && $(inside)].filter(Boolean)).toContain(document.activeElement);
  const field = typeInto(selector, 'Storm');
  if (stay) await keyed(field, stay[0], stay[1]);
  expect([t.named(call), $(selector) === field]).toEqual([[], true]);
  await keyed(field, key, mods);
  expect([t.named(call).map(sent), $(selector), t.named('go'), t.named('back')]).toEqual([['Storm'], null, [], []]);
});
