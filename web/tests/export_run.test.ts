import { describe, expect, it } from 'vitest';
import type { Layout } from '../src/export/measure';
import { exportedText, exportingText } from '../src/export/run';
import { keyAction } from '../src/state/keys';
import { emptyCueState } from '../src/bridge/types';
import { openedScript } from './fake_bridge';

const turn = () => new Promise((r) => setTimeout(r, 0));

describe('Export Marked Script', () => {
  it.each([
    ['written: the status says so', () => true, exportedText, ''],
    ['panel cancelled: nothing is said', () => false, '', ''],
    ['the export failed', () => { throw new Error('vienti epaonnistui'); }, '', 'The marked script could not be exported.'],
    ['a refusal is shown as the core words it',
      () => { throw new Error('The marked script would replace the script (show.pdf) - choose a new name or folder'); },
      '', 'The marked script would replace the script (show.pdf) - choose a new name or folder'],
    ['no script open in the core', () => { throw new Error('no open script'); }, '', 'no open script'],
  ] as [string, () => unknown, string, string][])('%s', async (_name, answer, status, message) => {
    const t = await openedScript({ exportMarkedPDF: answer });
    t.store.message.value = 'an earlier failure';
    t.commands.menuCommand('exportMarkedPDF');
    // Said at once, before the pages are measured.
    expect(t.store.status.value).toBe(exportingText);
    expect(t.store.message.value).toBe('');
    expect(t.named('exportMarkedPDF')).toHaveLength(0);
    await turn();
    await turn();
    const [[layout]] = t.named('exportMarkedPDF') as [[Layout]];
    expect(layout.pages.map((p) => p.index)).toEqual([0, 1, 2, 3, 4, 5]);
    expect(t.store.status.value).toBe(status);
    expect(t.store.message.value).toBe(message);
  });

  it('returns at once: GO works while the panel is open, and a second export waits for the first', async () => {
    let settle: (v: boolean) => void = () => undefined;
    const t = await openedScript({ exportMarkedPDF: () => new Promise<boolean>((r) => (settle = r)) });
    t.commands.key('exportMarked');
    await turn();
    t.commands.key('go');
    t.commands.key('exportMarked');
    await turn();
    expect(t.named('go')).toHaveLength(1);
    expect(t.named('exportMarkedPDF')).toHaveLength(1);
    settle(true);
    await turn();
    expect(t.store.status.value).toBe(exportedText);
    t.commands.key('exportMarked');
    await turn();
    expect(t.named('exportMarkedPDF')).toHaveLength(2);
  });

  it('measures the marks the core holds, also an edit whose event has not arrived yet', async () => {
    const insert = { id: 'i1', text: 'A new line', page: 1, afterY: 0.5, lineMidY: 0.51, lineH: 0.02, x: 0.1 };
    const t = await openedScript({ getState: () => ({ ...emptyCueState, inserts: [insert] }) });
    expect(t.store.cueState.value.inserts).toHaveLength(0);
    t.commands.menuCommand('exportMarkedPDF');
    await turn();
    await turn();
    const [[layout]] = t.named('exportMarkedPDF') as [[Layout]];
    expect(layout.pages[1].inserts.map((i) => i.text)).toEqual(['A new line']);
    expect(layout.pages[1].extra).toBeGreaterThan(0);
  });

  it('is reached by Ctrl+Shift+E, not by Ctrl+E or inside a field', () => {
    const key = (k: string, shiftKey: boolean, target: unknown = null) =>
      keyAction({ key: k, ctrlKey: true, shiftKey, altKey: false, metaKey: false, repeat: false, target });
    expect([key('E', true), key('e', true), key('e', false), key('E', true, { tagName: 'INPUT', type: 'text' })])
      .toEqual(['exportMarked', 'exportMarked', 'cueMode', null]);
  });
});
