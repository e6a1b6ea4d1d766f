// @vitest-environment happy-dom
// Marks, memos and flags on a rendered page: drawn from the state, the Marks
// strip in Cue Mode, and a memo typed in place.
import { describe, expect, it } from 'vitest';
import type { CueState } from '../src/bridge/types';
import { emptyCueState } from '../src/bridge/types';
import { doc } from './fake_bridge';
import { flush, host, keydown, mountPage, placeAt, pointer, usePageDom } from './page_dom';

const state: CueState = {
  ...emptyCueState,
  marks: [
    { id: 'h1', kind: 'highlight', text: 'rain', color: '', group: 'g', page: 0, x: 0.1, y: 0.2, w: 0.3, h: 0.02 },
    { id: 'h2', kind: 'highlight', text: '', color: '', group: 'g', page: 0, x: 0.1, y: 0.23, w: 0.2, h: 0.02 },
    { id: 'r', kind: 'region', text: 'FLY 3', color: '#2a7a41', group: '', page: 0, x: 0.1, y: 0.5, w: 0.5, h: 0.1 },
    { id: 'c', kind: 'cut', text: '', color: '', group: 'k', page: 1, x: 0.1, y: 0.3, w: 0.4, h: 0.02 },
  ],
  memos: [{ id: 'm', text: 'fog here', color: 'rose', page: 0, x: 0.6, y: 0.1, w: 0.3, h: 0.08 }],
  flags: [{ id: 'f', text: 'check', color: '', role: 'LX', page: 1, x: 0.05, y: 0.4 }],
};

usePageDom();

const open = (more: Partial<CueState> = {}) => mountPage(
  { openDocumentPath: (p: never) => doc(p, { state: { ...state, ...more } }), setSettings: () => false },
  { open: '/s/show.pdf' });

describe('marks on the page', () => {
  it('each record is drawn on its page in its kind, memos only while shown', async () => {
    const t = await open();
    const on = (p: number, sel: string) => [...host.querySelectorAll(`.page[data-page="${p}"] ${sel}`)] as HTMLElement[];
    expect(on(0, '.mark').map((e) => e.dataset.kind)).toEqual(['highlight', 'highlight', 'region']);
    expect(on(0, '.mark-region .mark-tab')[0].textContent).toBe('FLY 3');
    expect(on(0, '.mark-region')[0].style.getPropertyValue('--mark-color')).toBe('#2a7a41');
    expect(on(1, '.mark').map((e) => e.dataset.kind)).toEqual(['cut']);
    const memo = on(0, '.memo')[0];
    expect([memo.dataset.color, memo.textContent, memo.style.getPropertyValue('--memo-paper')]).toEqual(['rose', 'fog here', '#ffe0d8']);
    expect(on(1, '.flag')[0].textContent).toBe('LXcheck');
    t.commands.menuCommand('toggleMemos');
    await flush();
    expect(host.querySelectorAll('.memo')).toHaveLength(0);
    // Outside Cue Mode nothing of them takes the pointer, and there is no strip.
    expect(host.querySelector('[role="toolbar"][aria-label="Marks"]')).toBeNull();
  });

  it('Cue Mode shows the strip; its keys pick a tool', async () => {
    const t = await open();
    t.cueMode.set(true);
    await flush();
    const strip = host.querySelector('[role="toolbar"][aria-label="Marks"]')!;
    expect([...strip.querySelectorAll('.mark-tool')].map((b) => b.textContent)).toEqual(
      ['1Highlight', '2Region', '3Cut', '4Hide', '5Memo', '6Flag']);
    keydown(document.body, '5');
    await flush();
    expect(strip.querySelector('[aria-pressed="true"]')?.textContent).toBe('5Memo');
    // The memo tool offers the five memo colours.
    expect([...strip.querySelectorAll('.mark-swatch')].map((b) => b.getAttribute('aria-label'))).toEqual(
      ['Yellow', 'Rose', 'Green', 'Blue', 'Grey']);
  });

  it('a new memo is typed in place: Return is a new line, Ctrl+Return keeps it, never GO', async () => {
    const t = await open();
    t.marks.setReadingPlace(() => ({ page: 0, g: 0.3 }));
    t.commands.menuCommand('addMemo');
    await flush();
    const field = host.querySelector<HTMLTextAreaElement>('textarea[aria-label="Memo text"]')!;
    expect(document.activeElement).toBe(field);
    field.value = 'two\nlines';
    keydown(field, 'Enter');
    keydown(field, 'Enter', { ctrlKey: true });
    await flush();
    const sent = t.named('upsertMemo').map((a) => (a[0] as { text: string }).text);
    expect([t.named('go'), sent, host.querySelector('textarea[aria-label="Memo text"]')]).toEqual([[], ['two\nlines'], null]);
  });

  it('below an inserted line marks move down with the text, and the pointer comes back through the room', async () => {
    // A line inserted after y 0.3 opens 0.026 of room (one row of 0.02 × 1.3).
    const insert = { id: 'i', text: 'added', page: 0, afterY: 0.3, lineMidY: 0.31, lineH: 0.02, x: 0.1 };
    const t = await open({ inserts: [insert] });
    const region = host.querySelector<HTMLElement>('.page[data-page="0"] .mark-region')!;
    expect([region.style.top, region.style.height].map(parseFloat))
      .toEqual([(0.5 + 0.026) / 1.026 * 100, 0.1 / 1.026 * 100].map((v) => expect.closeTo(v, 6)));
    t.cueMode.set(true);
    t.marks.setTool('region');
    await flush();
    const page = host.querySelector<HTMLElement>('.page[data-page="0"]')!;
    placeAt(page, 0, 0, 100, 102.6);
    pointer(page, 'pointerdown', 10, 10);
    pointer(page, 'pointermove', 30, 40);
    pointer(page, 'pointerup', 50, 71.82);
    await flush();
    // 71.82 px down the grown page is 0.7 of it: 0.7 × 1.026 − 0.026 of the script.
    expect(t.marks.regionEdit.value?.rec).toMatchObject({ x: 0.1, y: 0.1, w: 0.4, h: expect.closeTo(0.7 * 1.026 - 0.026 - 0.1, 6) });
  });

  it('a memo: a click selects it, a second click types in it; its strip moves it, sent once when let go', async () => {
    const t = await open();
    t.cueMode.set(true);
    await flush();
    placeAt(host.querySelector('.page[data-page="0"]')!, 0, 0, 200, 400);
    const memo = () => host.querySelector<HTMLElement>('.memo[data-memo="m"]')!;
    pointer(memo(), 'pointerdown', 150, 50);
    pointer(memo(), 'pointerup', 150, 50);
    await flush();
    const named = () => host.querySelector('[data-testid="mark-selection"]')?.textContent;
    expect([memo().classList.contains('selected'), named()]).toEqual([true, 'Selected memo: fog here']);
    t.marks.selectMark(state.marks[0]);
    await flush();
    expect(named()).toBe('Selected highlight over 2 lines: rain');
    t.marks.selectMemo('m');
    await flush();
    // Moved by its strip: drawn at each step, sent once.
    const head = memo().querySelector('.memo-head')!;
    pointer(head, 'pointerdown', 130, 36);
    for (const dx of [-10, -20, -40]) pointer(head, 'pointermove', 130 + dx, 36 + 40);
    await flush();
    expect([parseFloat(memo().style.left), t.named('upsertMemo')]).toEqual([expect.closeTo(40, 6), []]);
    pointer(head, 'pointerup', 90, 76);
    await flush();
    expect(t.named('upsertMemo')).toEqual([[expect.objectContaining({ id: 'm', x: expect.closeTo(0.4, 9), y: expect.closeTo(0.2, 9), w: 0.3, h: 0.08 })]]);
    pointer(memo(), 'pointerdown', 150, 50);
    pointer(memo(), 'pointerup', 150, 50);
    await flush();
    expect(host.querySelector('textarea[aria-label="Memo text"]')).not.toBeNull();
  });
});

