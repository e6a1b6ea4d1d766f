// @vitest-environment happy-dom
// The size each script is read at, kept through the settings, and the
// monitor's one page at a time following standby.
import { describe, expect, it } from 'vitest';
import { dispatchEvent } from '../src/bridge/events';
import { emptyCueState, type Settings, type SettingsChange } from '../src/bridge/types';
import { cue, doc, runChange, settings } from './fake_bridge';
import { flush, host, mountPage, usePageDom } from './page_dom';
import { labelGutter } from '../src/state/labels';

usePageDom();

describe('the reading size of each script', () => {
  it('comes back when the script opens again; a script without one opens at the pages setting', async () => {
    // The native side's keeping, as the page sees it: newest first, one per script.
    let kept: Settings = { ...settings, pagesPerSpread: 1, readingSizes: [] };
    const setSettings = (c: never) => {
      const { readingSize, ...rest } = c as SettingsChange;
      kept = { ...kept, ...rest, readingSizes: [...(readingSize ? [readingSize] : []), ...kept.readingSizes!.filter((r) => r.path !== readingSize?.path)] };
      return kept;
    };
    const t = await mountPage({ getSettings: () => kept, setSettings }, { open: '/s/a.pdf' });
    const shown = () => [t.store.pagesPerSpread.value, t.store.zoom.value];
    const open = async (path: string) => { await t.documents.openPath(path); await flush(); };
    t.commands.menuCommand('textLarger');
    t.commands.menuCommand('textLarger');
    await open('/s/b.pdf');
    expect(shown()).toEqual([1, 1]);
    t.commands.menuCommand('twoPages');
    await open('/s/a.pdf');
    expect(shown()).toEqual([1, 1.25]);
    // New scripts now open in spreads; a change in the Settings sheet leaves this one alone.
    await t.sheets.changeSetting({ dimmed: true });
    expect(shown()).toEqual([1, 1.25]);
    await open('/s/b.pdf');
    expect(shown()).toEqual([2, 1]);
    t.commands.key('fitWidth');
    expect(t.named('setSettings').slice(-1)[0][0]).toEqual({ pagesPerSpread: 1, readingSize: { path: '/s/b.pdf', pages: 1, zoom: 1 } });
  });
});

describe('the confidence monitor', () => {
  it("shows only the standby cue's page and follows standby; a GO on the same page keeps the page", async () => {
    const cues = [cue('a', 1, 0.2, { label: 'Rain' }), cue('b', 1, 0.6, { label: 'Thunder' }), cue('c', 3, 0.3)];
    const state = { ...emptyCueState, seq: 10, cues, standbyID: 'a', fired: [] };
    const t = await mountPage({ currentDocument: () => doc('/s/show.pdf', { state, pageCount: 5, aspects: Array(5).fill(0.5) }) }, { confidence: true });
    const pages = () => [...host.querySelectorAll('.page')].map((p) => p.getAttribute('data-page'));
    const head = (kind: string) => host.querySelector(`[data-testid="monitor-${kind}"]`)?.textContent;
    const go = async (from: number, standbyID: string, fired: string) => {
      dispatchEvent(t.handlers, 'runState', runChange({ from, seq: from + 1, standbyID, lastFiredID: fired, fired: [fired], total: 3 }));
      await flush();
    };
    await flush();
    expect(pages()).toEqual(['1']);
    // As wide as the monitor's view (800 here, less its 12 px gaps and the label gutter).
    expect(parseFloat((host.querySelector('.page') as HTMLElement).style.width)).toBeCloseTo(776 - labelGutter(776, 1, 14).px, 6);
    expect([head('standby'), head('next')]).toEqual(['STANDBYLX aRain', 'NEXTLX bThunder']);
    const page = host.querySelector('.page');
    await go(10, 'b', 'a');
    expect(host.querySelector('.page')).toBe(page);
    await go(11, 'c', 'b');
    expect(pages()).toEqual(['3']);
    // Past the last cue the page of the last one fired stays.
    await go(12, '', 'c');
    expect([pages(), head('standby')]).toEqual([['3'], 'STANDBY—']);
  });

  it('shows the page of the saved run\'s standby while the resume offer is open', async () => {
    const cues = [cue('a', 0, 0.2), cue('b', 1, 0.6), cue('c', 3, 0.3, { label: 'Storm' })];
    const savedRun = { count: 2, total: 3, standbyID: 'c', number: 'c', label: 'Storm' };
    const state = { ...emptyCueState, seq: 4, cues, standbyID: 'a', fired: [], savedRun };
    await mountPage({ currentDocument: () => doc('/s/show.pdf', { state, pageCount: 5, aspects: Array(5).fill(0.5) }) }, { confidence: true });
    await flush();
    const pages = [...host.querySelectorAll('.page')].map((p) => p.getAttribute('data-page'));
    expect([pages, host.querySelector('[data-testid="monitor-standby"]')?.textContent]).toEqual([['3'], 'STANDBYLX cStorm']);
  });
});
