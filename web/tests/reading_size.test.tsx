// @vitest-environment happy-dom
// The size each script is read at, and the monitor following standby a page at a time.
import { expect, it } from 'vitest';
import type { Settings, SettingsChange } from '../src/bridge/types';
import { labelGutter } from '../src/state/labels';
import { cue, doc, runChange, settings, stateWith } from './fake_bridge';
import { $, $$, flush, mountPage, text, told, usePageDom } from './page_dom';

usePageDom();

it('keeps the reading size of each script: back when it opens again; a script without one opens at the pages setting', async () => {
  // The native side's keeping, as the page sees it: newest first, one per script.
  let kept: Settings = { ...settings, pagesPerSpread: 1, readingSizes: [] };
  const setSettings = (c: never) => {
    const { readingSize, ...rest } = c as SettingsChange;
    kept = { ...kept, ...rest, readingSizes: [...(readingSize ? [readingSize] : []), ...kept.readingSizes!.filter((r) => r.path !== readingSize?.path)] };
    return kept;
  };
  const t = await mountPage({ getSettings: () => kept, setSettings }, { open: '/s/a.pdf' });
  const shownAfter = async (path: string) => {
    await t.documents.openPath(path);
    await flush();
    return [t.store.pagesPerSpread.value, t.store.zoom.value];
  };
  t.commands.menuCommand('textLarger');
  t.commands.menuCommand('textLarger');
  expect(await shownAfter('/s/b.pdf')).toEqual([1, 1]);
  t.commands.menuCommand('twoPages');
  expect(await shownAfter('/s/a.pdf')).toEqual([1, 1.25]);
  // New scripts now open in spreads; a change in the Settings sheet leaves this one alone.
  await t.sheets.changeSetting({ dimmed: true });
  expect([[t.store.pagesPerSpread.value, t.store.zoom.value], await shownAfter('/s/b.pdf')]).toEqual([[1, 1.25], [2, 1]]);
  t.commands.key('fitWidth');
  expect(t.sent('setSettings').pop()).toEqual({ pagesPerSpread: 1, readingSize: { path: '/s/b.pdf', pages: 1, zoom: 1 } });
});

const monitor = (fields: Parameters<typeof stateWith>[0]) =>
  mountPage({ currentDocument: () => doc('/s/show.pdf', { state: stateWith(fields), pageCount: 5, aspects: Array(5).fill(0.5) }) }, { confidence: true });
const pages = () => $$('.page').map((p) => p.dataset.page);
const head = (kind: string) => text(`[data-testid="monitor-${kind}"]`);

it("shows on the monitor only the standby cue's page and follows standby; a GO on the same page keeps the page", async () => {
  const cues = [cue('a', 1, 0.2, { label: 'Rain' }), cue('b', 1, 0.6, { label: 'Thunder' }), cue('c', 3, 0.3)];
  const t = await monitor({ seq: 10, cues, standbyID: 'a' });
  const go = (from: number, standbyID: string, fired: string) =>
    told(t.handlers, 'runState', runChange({ from, seq: from + 1, standbyID, lastFiredID: fired, fired: [fired], total: 3 }));
  await flush();
  // As wide as the monitor's view (800 here, less its 12 px gaps and the label gutter).
  expect([pages(), parseFloat($('.page')!.style.width), head('standby'), head('next')])
    .toEqual([['1'], expect.closeTo(776 - labelGutter(776, 1, 14).px, 6), 'STANDBYLX aRain', 'NEXTLX bThunder']);
  const page = $('.page');
  await go(10, 'b', 'a');
  expect($('.page')).toBe(page);
  await go(11, 'c', 'b');
  expect(pages()).toEqual(['3']);
  // Past the last cue the page of the last one fired stays.
  await go(12, '', 'c');
  expect([pages(), head('standby')]).toEqual([['3'], 'STANDBY—']);
});

it("shows on the monitor the page of the saved run's standby while the resume offer is open", async () => {
  const savedRun = { count: 2, total: 3, standbyID: 'c', number: 'c', label: 'Storm' };
  await monitor({ seq: 4, cues: [cue('a', 0, 0.2), cue('b', 1, 0.6), cue('c', 3, 0.3, { label: 'Storm' })], standbyID: 'a', savedRun });
  await flush();
  expect([pages(), head('standby')]).toEqual([['3'], 'STANDBYLX cStorm']);
});
