// @vitest-environment happy-dom
// Scanned pages on the rendered page: the quiet line under the show's
// controls and the badge on the pages read by text recognition.
import { expect, it } from 'vitest';
import { emptyCueState } from '../src/bridge/types';
import { doc } from './fake_bridge';
import { $, $$, clicked, mountPage, mountScript, text, told, usePageDom } from './page_dom';

usePageDom();

const reading = { recognisedPages: [1], scanReading: { done: 1, total: 3 } };
const badged = () => $$('.page .scan-badge').map((b) => b.closest('.page')!.getAttribute('data-page'));

it('shows the reading under the show\'s controls without taking the focus, a badge on each recognised page, and a closable problem', async () => {
  const t = await mountScript(emptyCueState, {}, reading);
  const focused = document.activeElement;
  expect([text('.show-panel .scan-line'), badged()]).toEqual(['Reading scanned pages: 1 of 3', ['1']]);
  await told(t.handlers, 'scanProgress', { generation: 1, done: 2, total: 3, recognisedPages: [1, 0] });
  expect([text('.scan-line'), badged().sort(), document.activeElement === focused]).toEqual(['Reading scanned pages: 2 of 3', ['0', '1'], true]);
  await told(t.handlers, 'scanProgress', { generation: 1, done: 3, total: 3, recognisedPages: [1, 0] });
  expect($('.scan-line')).toBeNull();
  await told(t.handlers, 'scanProgress', { generation: 1, done: 0, total: 3, recognisedPages: [], problem: 'No data.' });
  expect(text('.scan-line span')).toBe('Scanned pages are not read: No data.');
  await clicked($('.scan-line button')!);
  expect([$('.scan-line'), badged().sort()]).toEqual([null, ['0', '1']]);
});

it('the monitor shows the script without the badges', async () => {
  await mountPage({ currentDocument: () => doc('/s/show.pdf', { recognisedPages: [0, 1] }) }, { confidence: true });
  expect([$$('.page[data-page="0"]').length, badged()]).toEqual([1, []]);
});
