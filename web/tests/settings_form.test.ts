import { expect, it } from 'vitest';
import type { Settings } from '../src/bridge/types';
import {
  answerNote, choicesFor, createSettingsSender, displayValue, fieldOf, languageChoices, parseField, rangeText, settingsFields,
  toggledLanguages,
} from '../src/state/settings_form';
import { applySettings, createStore, pageBrightness } from '../src/state/store';
import { refused } from './fake_bridge';
const field = (key: string) => fieldOf(key)!;

it('the settings form: offers every setting the core takes from the page, once', () => {
  // The core's settable keys; the lists have their own editors and the
  // recent list is the core's.
  const settable = [
    'oscEnabled', 'oscPort', 'oscLocalOnly', 'midiEnabled', 'mscEnabled', 'mscDeviceFilter', 'mscBareGoFiresStandby',
    'renderWidth', 'dimmed', 'theme', 'themeName', 'pagesPerSpread', 'maxText', 'glowTarget', 'memosVisible',
    'cueLabelFontPx', 'cueLabelAdaptive', 'cueSnapWords', 'dropPageNumbers', 'oscDeskHosts', 'oscGoUnknownNumber', 'goGuardMs', 'intervalMinutes', 'oscFeedback',
    'followPort', 'ocrLanguages',
  ];
  const keys = settingsFields.map((f) => f.key as string);
  expect([...keys].sort()).toEqual([...settable].sort());
  expect(new Set(settingsFields.map((f) => f.label)).size).toBe(settingsFields.length);
});

it('the settings form: turns a typed value into one change, or a quiet refusal', () => {
  const cases: [string, string | boolean, unknown][] = [
    ['oscPort', ' 9000 ', { oscPort: 9000 }], ['oscPort', '65535', { oscPort: 65535 }], ['oscPort', '0', null],
    ['oscPort', '65536', null], ['oscPort', '90.5', null], ['oscPort', '', null], ['oscPort', '1e3', null],
    ['cueLabelFontPx', '10', { cueLabelFontPx: 10 }], ['cueLabelFontPx', '33', null], ['renderWidth', '599', null],
    ['renderWidth', '3000', { renderWidth: 3000 }], ['oscEnabled', false, { oscEnabled: false }], ['oscEnabled', 'true', null],
    ['themeName', 'light', { themeName: 'light' }], ['themeName', 'neon', null],
    // Sent as a number: the core reads only an integer here.
    ['pagesPerSpread', '1', { pagesPerSpread: 1 }], ['pagesPerSpread', '3', null], ['glowTarget', 'next', { glowTarget: 'next' }],
    ['mscDeviceFilter', ' ALL ', { mscDeviceFilter: -1 }],  // trimmed, any case
    ['mscDeviceFilter', '0', { mscDeviceFilter: 0 }], ['mscDeviceFilter', '127', { mscDeviceFilter: 127 }],
    ['mscDeviceFilter', '128', null], ['mscDeviceFilter', '-1', null], ['mscDeviceFilter', 'any', null],
    // The core's range: a port below 1024 needs privileges the program lacks.
    ['followPort', '1023', null], ['followPort', '1024', { followPort: 1024 }], ['followPort', '65536', null],
    // Language codes as the recognition names its data, each once; none is the installed ones.
    ['ocrLanguages', '', { ocrLanguages: '' }], ['ocrLanguages', ' eng+fin ', { ocrLanguages: 'eng+fin' }],
    ['ocrLanguages', 'chi_sim+eng+chi_sim', { ocrLanguages: 'chi_sim+eng' }], ['ocrLanguages', 'eng++fin', null],
    ['ocrLanguages', '../eng', null], ['ocrLanguages', 'eng+', null], ['ocrLanguages', true, null],
    ['ocrLanguages', Array.from({ length: 17 }, (_, i) => `l${i}`).join('+'), null],
  ];
  for (const [key, raw, change] of cases) expect(parseField(field(key), raw), `${key} ${String(raw)}`).toEqual(change ? { change } : refused);
});

it('the settings form: shows the stored value, its range, and what the core kept when it was not what was sent', () => {
  const cases: [string, unknown, unknown, string][] = [
    ['renderWidth', 5000, 3000, 'Kept: 3000'], ['renderWidth', 900, 900, ''], ['themeName', 'light', 'deep', 'Kept: Booth'],
    ['mscDeviceFilter', 5, -1, 'Kept: all'], ['glowTarget', 'next', 'pulse', 'Kept: pulse'],
  ];
  for (const [key, sent, stored, note] of cases) expect(answerNote(field(key), sent, stored), key).toBe(note);
  expect([displayValue(field('mscDeviceFilter'), -1), displayValue(field('mscDeviceFilter'), 12)]).toEqual(['all', '12']);
  expect([rangeText(field('cueLabelFontPx')), rangeText(field('oscPort'))]).toEqual(['10–32', '1–65535']);
  const glow = field('glowTarget') as Extract<ReturnType<typeof field>, { kind: 'choice' }>;
  expect(choicesFor(glow, 'standby').map(([v]) => v)).toEqual(['standby', 'next']);
  expect(choicesFor(glow, 'pulse').map(([v]) => v)).toEqual(['standby', 'next', 'pulse']);
});

it('the languages field: a checkbox per installed language, English first as the core sends them, and the value it makes', () => {
  const installed = ['eng', 'fin', 'chi_sim', '../x', 7];
  expect(languageChoices(installed, 'swe+fin').map((c) => [c.code, c.name, c.installed])).toEqual([
    ['eng', 'English', true], ['fin', 'Finnish', true], ['chi_sim', '', true], ['swe', 'Swedish', false],
  ]);
  expect(languageChoices(undefined, '').length).toBe(0);
  const cases: [string, string, boolean, string][] = [
    ['', 'fin', true, 'fin'], ['fin', 'eng', true, 'eng+fin'], ['chi_sim+eng', 'fin', true, 'eng+fin+chi_sim'],
    ['eng+fin', 'eng', false, 'fin'], ['fin', 'fin', false, ''],
    // A stored code no longer installed stays until unchecked.
    ['swe+eng', 'fin', true, 'eng+fin+swe'], ['swe+eng', 'swe', false, 'eng'],
  ];
  for (const [stored, code, on, value] of cases) expect(toggledLanguages(stored, installed, code, on), `${stored} ${code} ${on}`).toBe(value);
  expect(answerNote(field('ocrLanguages'), 'fin', '')).toBe('Kept: every installed language');
});

function core(fail: 'none' | 'false' | 'throw' = 'none') {
  let stored = { oscPort: 1, midiMap: [] } as unknown as Settings;
  const sent: unknown[] = [];
  let release: () => void = () => undefined;
  const call = async (c: Partial<Settings>) => {
    sent.push(c);
    // The first answer waits until released, as a slow core would.
    if (sent.length === 1) await new Promise<void>((r) => (release = r));
    if (fail === 'false') return false;
    if (fail === 'throw') throw new Error('bridge gone');
    stored = { ...stored, ...c };
    return stored;
  };
  const send = createSettingsSender(call, () => stored, (s) => (stored = s));
  return { send, sent, release: () => release(), stored: () => stored };
}

it('sending settings changes: works a list change out from the answer to the change before it', async () => {
  const t = core();
  const first = t.send((s) => ({ midiMap: [...s.midiMap, { note: 36, action: 'go', channel: -1 }] }));
  const second = t.send((s) => ({ midiMap: [...s.midiMap, { note: 37, action: 'back', channel: -1 }] }));
  await new Promise((r) => setTimeout(r, 0));
  expect(t.sent).toHaveLength(1);
  t.release();
  await Promise.all([first, second]);
  expect(t.stored().midiMap.map((b) => b.note)).toEqual([36, 37]);
});

it('sending settings changes: answers a refusal, a failed call or a changed mind without changing the settings', async () => {
  const cases: ['none' | 'false' | 'throw', Parameters<ReturnType<typeof core>['send']>[0], string | null][] = [
    ['none', () => ({ error: 'One type at least stays.' }), 'One type at least stays.'], ['none', () => null, null],
    ['false', { oscPort: 2 }, 'The settings were not changed.'], ['throw', { oscPort: 2 }, 'The settings were not changed: bridge gone'],
  ];
  for (const [fail, change, error] of cases) {
    const t = core(fail);
    const answer = t.send(change);
    await new Promise((r) => setTimeout(r, 0));
    t.release();
    const a = await answer;
    if (error) expect(a, error).toEqual({ error });
    else expect('settings' in a).toBe(true);
    expect(t.stored().oscPort).toBe(1);
  }
});

it.each([
  [0, 0.55], [0.5, 0.775], [1.7, 1], [-1, 0.55], ['0.2', 1],
  [Number.NaN, 1],  // like a missing or unreadable level
] as [unknown, number][])('the theme level %j draws the pages at brightness %j', (level, brightness) => {
  const store = createStore(false);
  applySettings(store, { theme: level } as unknown as Settings);
  expect(pageBrightness(store.pageLevel.value)).toBe(brightness);
});
