// @vitest-environment happy-dom
// Marks, memos and flags on a rendered page, the Marks strip, a memo and a flag moved.
import { expect, it } from 'vitest';
import type { CueState } from '../src/bridge/types';
import { insert, mark, memo, near, nearAll, stateWith } from './fake_bridge';
import { $$, $, clicked, dragged, flush, keyed, mountScript, placeAt, pointer, text, usePageDom } from './page_dom';

usePageDom();

const state: CueState = stateWith({
  marks: [
    mark('h1', { text: 'rain', group: 'g', y: 0.2, w: 0.3 }), mark('h2', { group: 'g', y: 0.23 }),
    mark('r', { kind: 'region', text: 'FLY 3', color: '#2a7a41', y: 0.5, w: 0.5, h: 0.1 }),
    mark('c', { kind: 'cut', group: 'k', page: 1, y: 0.3, w: 0.4 }),
  ],
  memos: [memo('m', { text: 'fog here', color: 'rose', x: 0.6 })],
  flags: [{ id: 'f', text: 'check', color: '', role: 'LX', page: 1, x: 0.05, y: 0.4 }],
});
const open = (more: Partial<CueState> = {}) => mountScript({ ...state, ...more }, { setSettings: () => false });
const on = (p: number, sel: string) => $$(`.page[data-page="${p}"] ${sel}`);
const strip = () => $('[role="toolbar"][aria-label="Marks"]');

it('draws each record on its page in its kind, memos only while shown; outside Cue Mode no strip', async () => {
  const t = await open();
  expect([on(0, '.mark').map((e) => e.dataset.kind), on(1, '.mark').map((e) => e.dataset.kind)]).toEqual([['highlight', 'highlight', 'region'], ['cut']]);
  const region = on(0, '.mark-region')[0];
  expect([text('.mark-region .mark-tab'), region.style.getPropertyValue('--mark-color')]).toEqual(['FLY 3', '#2a7a41']);
  const drawn = on(0, '.memo')[0];
  expect([drawn.dataset.color, drawn.textContent, drawn.style.getPropertyValue('--memo-paper'), on(1, '.flag')[0].textContent])
    .toEqual(['rose', 'fog here', '#ffe0d8', 'LXcheck']);
  t.commands.menuCommand('toggleMemos');
  await flush();
  expect([$$('.memo').length, strip()]).toEqual([0, null]);
});

it('shows the strip in Cue Mode; its keys pick a tool, and the memo tool offers the memo colours', async () => {
  const t = await open();
  t.cueMode.set(true);
  await flush();
  expect($$('.mark-tool', strip()!).map((b) => b.textContent)).toEqual(['1Highlight', '2Region', '3Cut', '4Hide', '5Memo', '6Flag']);
  await keyed(document.body, '5');
  expect([text('[role="toolbar"][aria-label="Marks"] [aria-pressed="true"]'), $$('.mark-swatch', strip()!).map((b) => b.getAttribute('aria-label'))])
    .toEqual(['5Memo', ['Yellow', 'Rose', 'Green', 'Blue', 'Grey']]);
});

it('moves marks below an inserted line down with the text, and brings the pointer back through the room', async () => {
  // A line inserted after y 0.3 opens 0.026 of room (one row of 0.02 × 1.3).
  const t = await open({ inserts: [insert('i', 0.3, 'added', { lineMidY: 0.31 })] });
  const region = on(0, '.mark-region')[0];
  expect([region.style.top, region.style.height].map(parseFloat)).toEqual([(0.5 + 0.026) / 1.026 * 100, 0.1 / 1.026 * 100].map((v) => near(v, 6)));
  t.cueMode.set(true);
  t.marks.setTool('region');
  await flush();
  const page = $('.page[data-page="0"]')!;
  placeAt(page, 0, 0, 100, 102.6);
  await dragged(page, [10, 10], [30, 40], [50, 71.82]);
  // 71.82 px down the grown page is 0.7 of it: 0.7 × 1.026 − 0.026 of the script.
  expect(t.marks.regionEdit.value?.rec).toMatchObject({ x: 0.1, y: 0.1, w: 0.4, h: near(0.7 * 1.026 - 0.026 - 0.1, 6) });
});

it('selects a memo with a click and types in it with a second; its strip moves it (drawn at each step, sent once when let go), its corner sizes it, its dots colour it', async () => {
  const t = await open();
  t.cueMode.set(true);
  await flush();
  placeAt($('.page[data-page="0"]')!, 0, 0, 200, 400);
  const drawn = () => $('.memo[data-memo="m"]')!;
  const click = () => dragged(drawn(), [150, 50], [150, 50]);
  const named = () => text('[data-testid="mark-selection"]');
  await click();
  expect([drawn().classList.contains('selected'), named()]).toEqual([true, 'Selected memo: fog here']);
  t.marks.selectMark(state.marks[0]);
  await flush();
  expect(named()).toBe('Selected highlight over 2 lines: rain');
  t.marks.selectMemo('m');
  await flush();
  const head = drawn().querySelector('.memo-head')!;
  pointer(head, 'pointerdown', 130, 36);
  for (const dx of [-10, -20, -40]) pointer(head, 'pointermove', 130 + dx, 76);
  await flush();
  expect([parseFloat(drawn().style.left), t.named('upsertMemo')]).toEqual([near(40, 6), []]);
  pointer(head, 'pointerup', 90, 76);
  await flush();
  expect(t.sent('upsertMemo')).toEqual([expect.objectContaining({ id: 'm', ...nearAll({ x: 0.4, y: 0.2 }), w: 0.3, h: 0.08 })]);
  const corner = drawn().querySelector('.memo-resize')!;
  pointer(corner, 'pointerdown', 140, 70);
  pointer(corner, 'pointermove', 160, 90);
  pointer(corner, 'pointerup', 160, 90);
  await clicked($<HTMLButtonElement>('[aria-label="Memo colour Blue"]')!);
  expect(t.sent('upsertMemo').slice(1)).toEqual([expect.objectContaining(nearAll({ x: 0.6, y: 0.1, w: 0.4, h: 0.13 })), expect.objectContaining({ id: 'm', color: 'blue' })]);
  await click();
  expect($('textarea[aria-label="Memo text"]')).not.toBeNull();
});

it('moves a flag by dragging it, sent once when let go', async () => {
  const t = await open();
  t.cueMode.set(true);
  await flush();
  placeAt($('.page[data-page="1"]')!, 0, 0, 200, 400);
  await dragged($('.flag[data-flag="f"]')!, [10, 160], [30, 170], [30, 170]);
  expect(t.sent('upsertFlag')).toEqual([expect.objectContaining({ id: 'f', role: 'LX', ...nearAll({ x: 0.15, y: 0.425 }) })]);
});
