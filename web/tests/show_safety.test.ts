// The page's side of a show's safety: a GO key fires on its way down and arms
// again only on its way up, an ignored GO from the core flashes once, the desks
// heard first are typed as numeric addresses, and a locked show runs but edits
// nothing until the operator has said yes to unlocking.
import { describe, expect, it } from 'vitest';
import { dispatchEvent } from '../src/bridge/events';
import { createKeyLatch, keyLatchStaleMs, type KeyAction } from '../src/state/keys';
import { displayValue, fieldOf, parseField } from '../src/state/settings_form';
import { createStore } from '../src/state/store';
import { createEventHandlers, type EventDeps } from '../src/actions/events';
import { allowedWhileLocked, lockedText } from '../src/actions/commands';
import { doc, openedScript } from './fake_bridge';

describe('the GO key latch', () => {
  it('fires once per press, whatever repeats or bounces in between', () => {
    const latch = createKeyLatch();
    // [event, key, time, fires]
    const steps: [('down' | 'up' | 'blur'), string, number, boolean?][] = [
      ['down', 'Enter', 0, true],
      ['down', 'Enter', 30, false], // repeated while held, marked or not
      ['down', 'Enter', 60, false],
      ['down', 'Space', 70, true], // another key is its own press
      ['up', 'Enter', 80],
      ['down', 'Enter', 90, true],
      ['blur', '', 100], // the key up went to another window: the next press still fires
      ['down', 'Enter', 2000, true],
      ['down', 'Enter', 2000 + keyLatchStaleMs, false],
      // A second of silence from a key that never came up: a new press.
      ['down', 'Enter', 2001 + 2 * keyLatchStaleMs, true],
    ];
    for (const [event, key, at, fires] of steps) {
      if (event === 'down') expect(latch.down(key, at), `${key} at ${at}`).toBe(fires);
      else if (event === 'up') latch.up(key);
      else latch.clear();
    }
  });

  it('counts each ignored GO the core reports, for one flash each', () => {
    const store = createStore(false);
    const handlers = createEventHandlers(store, {} as EventDeps);
    expect(dispatchEvent(handlers, 'goIgnored', { source: 'key', sinceMs: 120 })).toBe(true);
    expect(dispatchEvent(handlers, 'goIgnored', { source: 'osc 10.0.0.5:9000', sinceMs: 40 })).toBe(true);
    expect(dispatchEvent(handlers, 'goIgnored', 'damaged')).toBe(false);
    expect(store.goIgnored.value).toBe(2);
  });
});

describe('the remote addresses', () => {
  const feedback = (host: string, port: number) => ({ host, port });
  it.each([
    ['oscDeskHosts', '192.168.1.20, 10.0.0.5', ['192.168.1.20', '10.0.0.5']],
    ['oscDeskHosts', '  fe80::1  192.168.1.20 ', ['fe80::1', '192.168.1.20']],
    ['oscDeskHosts', '', []],
    ['oscDeskHosts', 'desk.local', null], ['oscDeskHosts', '192.168.1.256', null], ['oscDeskHosts', '1.2.3', null],
    ['oscDeskHosts', Array.from({ length: 17 }, (_, i) => `10.0.0.${i}`).join(','), null],
    ['oscFeedback', '192.168.1.20:8000, localhost:9000', [feedback('192.168.1.20', 8000), feedback('localhost', 9000)]],
    ['oscFeedback', '[fe80::1]:9000', [feedback('fe80::1', 9000)]],
    ['oscFeedback', '192.168.1.20', null], ['oscFeedback', 'desk.local:9000', null], ['oscFeedback', '10.0.0.1:0', null],
    ['oscFeedback', '10.0.0.1:65536', null], ['oscFeedback', 'fe80::1:9000', null],
  ])('%s %j', (key, typed, value) => {
    const field = fieldOf(key)!;
    const parsed = parseField(field, typed);
    if (!value) return expect(parsed).toHaveProperty('error');
    expect(parsed).toEqual({ change: { [key]: value } });
    // What the sheet shows again reads back the same.
    expect(parseField(field, displayValue(field, value))).toEqual(parsed);
  });
});

describe('a locked show', () => {
  it('locks at once, refuses every edit, runs, and unlocks only after one yes', async () => {
    let locked = false;
    const t = await openedScript({ setShowLocked: (l: never) => (locked = l) });
    t.store.cueMode.value = true;
    t.commands.menuCommand('lockShow');
    await Promise.resolve();
    await Promise.resolve();
    expect([t.store.locked.value, t.store.cueMode.value]).toEqual([true, false]);
    expect(t.store.menuState.value.locked).toBe(true);

    const menu = ['cueMode', 'undo', 'deleteCue', 'addMemo', 'crop', 'renumber', 'importCues'];
    for (const name of [...menu, 'deleteMark', 'lineCursor', 'tool1', 'nudgeUp', 'editLabel']) {
      t.store.status.value = '';
      if (menu.includes(name)) t.commands.menuCommand(name);
      else t.commands.key(name as KeyAction);
      expect(t.store.status.value, name).toBe(lockedText);
    }
    expect(t.store.cueMode.value).toBe(false);
    t.commands.key('go');
    expect(t.named('go')).toHaveLength(1);
    for (const name of ['go', 'back', 'reset', 'exportMarkedPDF', 'zoomIn', 'save']) expect(allowedWhileLocked.has(name)).toBe(true);

    // Unlocking asks; Escape keeps it locked, Unlock unlocks.
    t.commands.menuCommand('lockShow');
    expect(t.store.confirmingUnlock.value).toBe(true);
    t.commands.escape();
    expect([t.store.confirmingUnlock.value, t.store.locked.value]).toEqual([false, true]);
    t.commands.menuCommand('lockShow');
    t.commands.confirmUnlock();
    await Promise.resolve();
    await Promise.resolve();
    expect([locked, t.store.locked.value]).toEqual([false, false]);
    expect(t.sent('setShowLocked')).toEqual([true, false]);
  });

  it('follows the core: a script opened locked, and a lock from another view', async () => {
    const t = await openedScript({ openDocumentPath: (p: never) => doc(p, { locked: true }) });
    expect(t.store.locked.value).toBe(true);
    const handlers = createEventHandlers(t.store, {} as EventDeps);
    dispatchEvent(handlers, 'showLock', { locked: false });
    expect(t.store.locked.value).toBe(false);
    t.store.confirmingUnlock.value = true;
    dispatchEvent(handlers, 'showLock', { locked: true });
    expect([t.store.locked.value, t.store.confirmingUnlock.value]).toEqual([true, false]);
  });
});
