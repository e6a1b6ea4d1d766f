// The Settings sheet's fields, how a typed value becomes a settings change,
// and how the core's answer is read back. Number ranges are the core's own
// limits (or, where the core takes any number, the values that can work), so
// what the form accepts is what the core keeps.

import type { FeedbackDestination, SettableSettings, Settings } from '../bridge/types';

type Key = keyof SettableSettings;

export type SettingsField =
  | { key: Key; label: string; kind: 'bool' }
  | { key: Key; label: string; kind: 'int'; min: number; max: number }
  // `numeric`: the value goes to the core as a number.
  | { key: Key; label: string; kind: 'choice'; choices: [string, string][]; numeric?: boolean }
  // A device ID from 0 to 127, or "all" (the core's negative filter).
  | { key: Key; label: string; kind: 'device' }
  // Numeric IP addresses, typed separated by commas or spaces.
  | { key: Key; label: string; kind: 'hosts'; max: number }
  // Where the show's state is sent: host:port, an IPv6 host in brackets.
  | { key: Key; label: string; kind: 'destinations'; max: number }
  // Language codes joined by '+', one checkbox per installed language;
  // none checked is "" (the installed ones, English first).
  | { key: Key; label: string; kind: 'languages'; max: number };

export interface SettingsSection {
  title: string;
  fields: SettingsField[];
}

// Sheet order. The cue type list and the MIDI bindings have their own
// editors inside "Cue types" and "Remote: MIDI". Not here: the recent
// scripts (the core's own list). The theme level (0 to 1) is the brightness
// of the script's pages within the theme: a booth may want them dimmer than
// the controls.
export const settingsSections: SettingsSection[] = [
  {
    title: 'Show',
    fields: [
      { key: 'themeName', label: 'Theme', kind: 'choice', choices: [['deep', 'Booth'], ['dark', 'Studio'], ['light', 'Daylight']] },
      { key: 'theme', label: 'Page brightness', kind: 'choice', numeric: true,
        choices: [['1', 'Full'], ['0.85', 'Softer'], ['0.7', 'Dim'], ['0.55', 'Dimmest']] },
      { key: 'pagesPerSpread', label: 'Pages side by side', kind: 'choice', numeric: true, choices: [['1', 'One page'], ['2', 'Two pages']] },
      { key: 'glowTarget', label: 'Glowing cue', kind: 'choice', choices: [['standby', 'The standby cue'], ['next', 'The cue after standby']] },
      { key: 'dimmed', label: 'Dim the screen', kind: 'bool' },
      { key: 'maxText', label: 'Maximize text (hide toolbar and title bar)', kind: 'bool' },
    ],
  },
  {
    title: 'GO guard',
    fields: [
      // Every input passes it: keys, the GO button, OSC, MIDI notes and MSC.
      { key: 'goGuardMs', label: 'Least time between two GOs (ms, 0 = off)', kind: 'int', min: 0, max: 2000 },
      // The show report calls a longer pause between two GOs an interval.
      { key: 'intervalMinutes', label: 'Interval after (minutes without a GO)', kind: 'int', min: 1, max: 120 },
    ],
  },
  {
    title: 'Script view',
    fields: [
      { key: 'memosVisible', label: 'Show memos', kind: 'bool' },
      { key: 'dropPageNumbers', label: 'Hide page numbers', kind: 'bool' },
      { key: 'cueSnapWords', label: 'Cues snap to words', kind: 'bool' },
      { key: 'renderWidth', label: 'Render width (px)', kind: 'int', min: 600, max: 3000 },
      // Read beneath scanned pages, so cues snap and search finds on them.
      { key: 'ocrLanguages', label: 'Text recognition languages', kind: 'languages', max: 16 },
    ],
  },
  {
    title: 'Cue labels',
    fields: [
      { key: 'cueLabelFontPx', label: 'Cue label size (px)', kind: 'int', min: 10, max: 32 },
      { key: 'cueLabelAdaptive', label: 'Cue labels fit the line', kind: 'bool' },
    ],
  },
  {
    title: 'Remote: OSC',
    fields: [
      { key: 'oscEnabled', label: 'OSC remote', kind: 'bool' },
      // The core takes any number; the listener refuses anything that is not a UDP port.
      { key: 'oscPort', label: 'OSC port', kind: 'int', min: 1, max: 65535 },
      { key: 'oscLocalOnly', label: 'OSC from this computer only', kind: 'bool' },
      // Each desk keeps a share of its own, whatever else floods the port.
      { key: 'oscDeskHosts', label: 'Desk addresses (always heard)', kind: 'hosts', max: 16 },
      { key: 'oscFeedback', label: 'Send the show state to (host:port)', kind: 'destinations', max: 16 },
      { key: 'oscGoUnknownNumber', label: '/go with a number not in the script', kind: 'choice',
        choices: [['go', 'Fires the standby cue (desks that send their own numbers)'], ['ignore', 'Fires nothing; the log names the number']] },
    ],
  },
  {
    title: 'Remote: Screens',
    // Below 1024 needs privileges the program does not have. Sharing itself
    // is turned on and off in its own sheet (Window › Share to Screens…).
    fields: [{ key: 'followPort', label: 'Follower screens port', kind: 'int', min: 1024, max: 65535 }],
  },
  {
    title: 'Remote: MIDI',
    fields: [{ key: 'midiEnabled', label: 'MIDI remote', kind: 'bool' }],
  },
  {
    title: 'Remote: MSC',
    fields: [
      { key: 'mscEnabled', label: 'MIDI Show Control', kind: 'bool' },
      { key: 'mscDeviceFilter', label: 'MSC device ID', kind: 'device' },
      { key: 'mscBareGoFiresStandby', label: 'MSC GO without a number fires standby', kind: 'bool' },
    ],
  },
];

export const settingsFields: SettingsField[] = settingsSections.flatMap((s) => s.fields);

export function fieldOf(key: string): SettingsField | undefined {
  return settingsFields.find((f) => f.key === key);
}

// The range shown beside a field.
export function rangeText(field: SettingsField): string {
  if (field.kind === 'int') return `${field.min}–${field.max}`;
  if (field.kind === 'device') return '0–127, or all';
  if (field.kind === 'hosts') return 'e.g. 192.168.1.20, 10.0.0.5';
  if (field.kind === 'destinations') return 'e.g. 192.168.1.20:8000, localhost:9000';
  if (field.kind === 'languages') return 'None checked: every installed one, English first. Scanned pages are read in them at the next open';
  return '';
}

export type Parsed = { change: Partial<SettableSettings> } | { error: string };

// A checkbox gives its checked state, the others their text.
export function parseField(field: SettingsField, raw: string | boolean): Parsed {
  switch (field.kind) {
    case 'bool':
      if (typeof raw !== 'boolean') return { error: `${field.label}: on or off` };
      return { change: { [field.key]: raw } };
    case 'choice': {
      const value = String(raw);
      if (!field.choices.some(([v]) => v === value)) return { error: `${field.label}: not a choice` };
      return { change: { [field.key]: field.numeric ? Number(value) : value } };
    }
    case 'int': {
      const text = String(raw).trim();
      if (!/^-?\d+$/.test(text)) return { error: `${field.label}: a whole number from ${field.min} to ${field.max}` };
      const n = Number(text);
      if (n < field.min || n > field.max) return { error: `${field.label}: from ${field.min} to ${field.max}` };
      return { change: { [field.key]: n } };
    }
    case 'hosts': {
      const hosts = String(raw).split(/[\s,]+/).filter((h) => h !== '');
      const bad = hosts.find((h) => !isNumericHost(h));
      if (bad !== undefined) return { error: `${field.label}: ${bad} is not a numeric address like 192.168.1.20` };
      if (hosts.length > field.max) return { error: `${field.label}: at most ${field.max} addresses` };
      return { change: { [field.key]: hosts } };
    }
    case 'destinations': {
      const typed = String(raw).split(/[\s,]+/).filter((d) => d !== '');
      const destinations: FeedbackDestination[] = [];
      for (const text of typed) {
        const d = destinationOf(text);
        if (!d) return { error: `${field.label}: ${text} is not host:port, like 192.168.1.20:8000` };
        destinations.push(d);
      }
      if (destinations.length > field.max) return { error: `${field.label}: at most ${field.max} destinations` };
      return { change: { [field.key]: destinations } };
    }
    case 'device': {
      const text = String(raw).trim().toLowerCase();
      if (text === 'all') return { change: { [field.key]: -1 } };
      if (!/^\d+$/.test(text) || Number(text) > 127) return { error: `${field.label}: a number from 0 to 127, or all` };
      return { change: { [field.key]: Number(text) } };
    }
    case 'languages': {
      if (typeof raw !== 'string') return { error: `${field.label}: language codes joined by +` };
      const text = raw.trim();
      if (text === '') return { change: { [field.key]: '' } };
      const codes = text.split('+').map((c) => c.trim());
      const bad = codes.find((c) => !isLanguageCode(c));
      if (bad !== undefined)
        return { error: `${field.label}: ${bad ? `${bad} is not a language code like eng` : 'a code is missing between two +'}` };
      const unique = [...new Set(codes)];
      if (unique.length > field.max) return { error: `${field.label}: at most ${field.max} languages` };
      return { change: { [field.key]: unique.join('+') } };
    }
  }
}

// --- Text recognition languages ---

// A language as the recognition names its data: letters, digits, '_' and '-'
// (the core refuses anything else, so no name reaches outside its data folder).
export function isLanguageCode(text: string): boolean {
  return /^[A-Za-z0-9_-]{1,64}$/.test(text);
}

// The codes of a stored value ("eng+fin"), each once; what is not a code is left out.
export function languageCodes(value: unknown): string[] {
  if (typeof value !== 'string') return [];
  return [...new Set(value.split('+').map((c) => c.trim()).filter(isLanguageCode))];
}

const languageNames = new Map(Object.entries({
  eng: 'English', fin: 'Finnish', swe: 'Swedish', nor: 'Norwegian', dan: 'Danish', est: 'Estonian', deu: 'German',
  fra: 'French', spa: 'Spanish', ita: 'Italian', nld: 'Dutch', por: 'Portuguese', pol: 'Polish', rus: 'Russian',
}));

export interface LanguageChoice {
  code: string;
  // '' for a code without a short name here.
  name: string;
  // A stored code whose data is not installed (any more) is still offered,
  // so the field never hides what the core holds.
  installed: boolean;
}

// No machine has more language data than this installed.
const maxInstalled = 200;

// One checkbox each: the installed languages in the core's order (English
// first), then any stored code that is not installed.
export function languageChoices(installed: unknown, stored: unknown): LanguageChoice[] {
  const list = Array.isArray(installed) ? installed.slice(0, maxInstalled) : [];
  const codes = new Set(list.filter((c): c is string => typeof c === 'string' && isLanguageCode(c)));
  const choice = (code: string, on: boolean): LanguageChoice =>
    ({ code, name: languageNames.get(code) ?? '', installed: on });
  return [...[...codes].map((c) => choice(c, true)), ...languageCodes(stored).filter((c) => !codes.has(c)).map((c) => choice(c, false))];
}

// The value with `code` checked or not: the checked codes in the choices'
// order, joined by '+'; none checked is "".
export function toggledLanguages(stored: unknown, installed: unknown, code: string, on: boolean): string {
  const checked = new Set(languageCodes(stored));
  if (on) checked.add(code);
  else checked.delete(code);
  return languageChoices(installed, [...checked].join('+')).map((c) => c.code).filter((c) => checked.has(c)).join('+');
}

// An IPv4 address in dotted form, or something an IPv6 address can be; the
// core reads each exactly and leaves out what it cannot.
export function isNumericHost(text: string): boolean {
  const v4 = /^(\d{1,3})\.(\d{1,3})\.(\d{1,3})\.(\d{1,3})$/.exec(text);
  if (v4) return v4.slice(1).every((part) => Number(part) <= 255);
  return text.includes(':') && text.length <= 45 && /^[0-9a-fA-F:.]+$/.test(text);
}

// "192.168.1.20:8000", "localhost:9000" or "[fe80::1]:9000".
export function destinationOf(text: string): FeedbackDestination | null {
  const m = /^(?:\[([^\]]+)\]|([^:]+)):(\d{1,5})$/.exec(text);
  if (!m) return null;
  const host = m[1] ?? m[2];
  const port = Number(m[3]);
  if (port < 1 || port > 65535) return null;
  if (host !== 'localhost' && !isNumericHost(host)) return null;
  return { host, port };
}

// What a field shows for a stored value.
export function displayValue(field: SettingsField, value: unknown): string {
  if (field.kind === 'destinations' && Array.isArray(value))
    return value.map((d: FeedbackDestination) => (d.host.includes(':') ? `[${d.host}]:${d.port}` : `${d.host}:${d.port}`)).join(', ');
  if (Array.isArray(value)) return value.join(', ');
  if (field.kind === 'device') return typeof value === 'number' && value < 0 ? 'all' : String(value ?? '');
  return value === undefined || value === null ? '' : String(value);
}

// A choice field's options: a stored value the sheet does not know (written by
// another version, or by hand) is offered too, so the field never shows a
// value the core does not hold.
export function choicesFor(field: SettingsField & { kind: 'choice' }, stored: unknown): [string, string][] {
  const value = String(stored ?? '');
  if (stored === undefined || field.choices.some(([v]) => v === value)) return field.choices;
  return [...field.choices, [value, value]];
}

// A quiet line beside the field when the core kept something else than was
// sent (it limits some values and ignores others); empty when it kept it.
export function answerNote(field: SettingsField, sent: unknown, stored: unknown): string {
  if (sent === stored || (Array.isArray(sent) && JSON.stringify(sent) === JSON.stringify(stored))) return '';
  if (field.kind === 'languages') return `Kept: ${stored ? String(stored) : 'every installed language'}`;
  if (field.kind === 'choice') {
    const text = field.choices.find(([v]) => v === String(stored))?.[1] ?? String(stored);
    return `Kept: ${text}`;
  }
  return `Kept: ${displayValue(field, stored)}`;
}

export type ChangeAnswer = { settings: Settings } | { error: string };
// A change is either the keys to send or, for the lists, worked out from
// the settings the core holds when it is its turn; none means nothing to send.
export type Change = Partial<SettableSettings> | ((current: Settings) => Partial<SettableSettings> | { error: string } | null);

function errorText(error: unknown): string {
  return error instanceof Error ? error.message : String(error);
}

// Sends one change at a time, each after the answer to the one before: two
// quick edits of the binding list must not each start from the old list and
// undo the other.
export function createSettingsSender(
  call: (change: Partial<SettableSettings>) => Promise<unknown>,
  current: () => Settings | null,
  take: (s: Settings) => void,
): (change: Change) => Promise<ChangeAnswer> {
  let tail: Promise<unknown> = Promise.resolve();
  return (change) => {
    const run = async (): Promise<ChangeAnswer> => {
      const now = current();
      if (!now) return { error: 'The settings have not arrived.' };
      try {
        const made = typeof change === 'function' ? change(now) : change;
        if (!made) return { settings: now };
        if ('error' in made && typeof made.error === 'string') return { error: made.error };
        const answer = await call(made as Partial<SettableSettings>);
        if (!answer || typeof answer !== 'object') return { error: 'The settings were not changed.' };
        take(answer as Settings);
        return { settings: answer as Settings };
      } catch (error) {
        return { error: `The settings were not changed: ${errorText(error)}` };
      }
    };
    const next = tail.then(run, run);
    tail = next;
    return next;
  };
}
