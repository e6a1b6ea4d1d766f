import { describe, expect, it } from 'vitest';
import { dispatchEvent } from '../src/bridge/events';
import type { LogEntry } from '../src/bridge/types';
import { appendLog, logLimit, rowWindow, scrollToRow } from '../src/state/sidebar';
import { actions } from './fake_bridge';

const line = (n: number, source = 'osc'): LogEntry => ({ time: `20:00:${n}`, source, text: `line ${n}` });

function setup(overrides = {}) {
  return actions(overrides);
}

describe('the control log', () => {
  it('keeps the newest lines only, oldest first, and leaves damaged entries out', () => {
    const many = Array.from({ length: logLimit + 20 }, (_, i) => line(i));
    const bounded = appendLog([], many);
    expect(bounded).toHaveLength(logLimit);
    expect(bounded[0].text).toBe('line 20');
    expect(bounded[logLimit - 1].text).toBe(`line ${logLimit + 19}`);
    const after = appendLog(bounded, [null, { text: 'no time' }, line(999)]);
    expect(after).toHaveLength(logLimit);
    expect(after[logLimit - 1].text).toBe('line 999');
    expect(after[0].text).toBe('line 21');
  });

  it('starts from the history, then appends each "controlLog" event, up to the bound', async () => {
    const t = setup({ getLog: () => [line(1), line(2)] });
    // An event before the history answer is part of that history already.
    dispatchEvent(t.handlers, 'controlLog', line(2));
    await t.documents.loadSidebar();
    expect(t.store.logLines.value.map((l) => l.text)).toEqual(['line 1', 'line 2']);
    for (let i = 3; i < logLimit + 10; i++) dispatchEvent(t.handlers, 'controlLog', line(i));
    const lines = t.store.logLines.value;
    expect(lines).toHaveLength(logLimit);
    expect(lines[lines.length - 1].text).toBe(`line ${logLimit + 9}`);
  });

  it('follows "controlStatus" and ignores a damaged one', async () => {
    const t = setup();
    await t.boot();
    expect(t.store.controlStatus.value?.oscPort).toBe(53000);
    dispatchEvent(t.handlers, 'controlStatus', { oscListening: false, oscPort: 8000, oscError: 'in use', midiSources: ['Desk', 3] });
    expect(t.store.controlStatus.value).toEqual({ oscListening: false, oscPort: 8000, oscError: 'in use', midiSources: ['Desk'] });
    dispatchEvent(t.handlers, 'controlStatus', { oscPort: 'x' });
    expect(t.store.controlStatus.value?.oscPort).toBe(8000);
  });
});

describe('the cue list', () => {
  it('asks the engine for a new standby and toggles with the menu', async () => {
    const t = setup();
    t.run.standbyCue('c');
    expect(t.named('standbyCue')).toEqual([['c']]);
    expect(t.store.sidebarVisible.value).toBe(true);
    dispatchEvent(t.handlers, 'menuCommand', { command: 'toggleSidebar' });
    expect(t.store.sidebarVisible.value).toBe(false);
    expect(t.store.menuState.value.sidebarVisible).toBe(false);
  });
});

describe('the cue list window', () => {
  it('draws the rows meeting the viewport and a margin, never outside the list', () => {
    // count, scrollTop, viewHeight, overscan -> [first, end) with 20 px rows
    const cases: [number, number, number, number, [number, number]][] = [
      [0, 0, 500, 8, [0, 0]],
      [5, 0, 500, 8, [0, 5]],
      [1000, 0, 100, 0, [0, 5]],
      [1000, 0, 100, 3, [0, 8]],
      [1000, 2000, 100, 3, [97, 108]],
      [1000, 2010, 100, 0, [100, 106]],
      [1000, 19_990, 100, 3, [996, 1000]],
      // A list scrolled past its end (rows removed) still draws its tail.
      [10, 5000, 100, 2, [10, 10]],
      [1000, -40, 100, 0, [0, 5]],
      [1000, 0, 0, 0, [0, 0]],
    ];
    for (const [count, top, height, overscan, want] of cases) {
      const w = rowWindow(count, 20, top, height, overscan);
      expect([w.first, w.end], `${count} rows at ${top}+${height}`).toEqual(want);
    }
  });

  it('scrolls only as far as needed to show a row, and not at all when it shows', () => {
    // index, scrollTop, viewHeight -> new scrollTop (20 px rows)
    const cases: [number, number, number, number | null][] = [
      [0, 0, 100, null],
      [4, 0, 100, null],
      [5, 0, 100, 20],
      [50, 0, 100, 920],
      [3, 200, 100, 60],
      [10, 200, 100, null],
      [14, 200, 100, null],
      [15, 200, 100, 220],
      [-1, 200, 100, null],
    ];
    for (const [index, top, height, want] of cases) expect(scrollToRow(index, 20, top, height), `row ${index}`).toBe(want);
  });
});
