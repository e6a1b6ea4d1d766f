// The Settings sheet's fields and how a typed value becomes a settings change.
// Number ranges follow the core's own clamping, so what the form accepts is
// what the core keeps.

import type { Settings } from '../bridge/types';

export type SettingsField =
  | { key: keyof Settings; label: string; kind: 'bool' }
  | { key: keyof Settings; label: string; kind: 'int'; min: number; max: number }
  | { key: keyof Settings; label: string; kind: 'choice'; choices: [string, string][] };

export const settingsFields: SettingsField[] = [
  { key: 'themeName', label: 'Theme', kind: 'choice', choices: [['deep', 'Booth'], ['dark', 'Studio'], ['light', 'Daylight']] },
  { key: 'pagesPerSpread', label: 'Pages side by side', kind: 'int', min: 1, max: 2 },
  { key: 'cueLabelFontPx', label: 'Cue label size (px)', kind: 'int', min: 10, max: 32 },
  { key: 'cueLabelAdaptive', label: 'Cue labels fit the line', kind: 'bool' },
  { key: 'cueSnapWords', label: 'Cues snap to words', kind: 'bool' },
  { key: 'memosVisible', label: 'Show memos', kind: 'bool' },
  { key: 'dropPageNumbers', label: 'Hide page numbers', kind: 'bool' },
  { key: 'renderWidth', label: 'Render width (px)', kind: 'int', min: 600, max: 3000 },
  { key: 'oscEnabled', label: 'OSC remote', kind: 'bool' },
  { key: 'oscPort', label: 'OSC port', kind: 'int', min: 1, max: 65535 },
  { key: 'oscLocalOnly', label: 'OSC from this computer only', kind: 'bool' },
  { key: 'midiEnabled', label: 'MIDI remote', kind: 'bool' },
  { key: 'mscEnabled', label: 'MIDI Show Control', kind: 'bool' },
  { key: 'mscDeviceFilter', label: 'MSC device ID', kind: 'int', min: 0, max: 127 },
  { key: 'mscBareGoFiresStandby', label: 'MSC GO without a number fires standby', kind: 'bool' },
];

export type Parsed = { change: Partial<Settings> } | { error: string };

// A checkbox gives its checked state, the others their text.
export function parseField(field: SettingsField, raw: string | boolean): Parsed {
  switch (field.kind) {
    case 'bool':
      if (typeof raw !== 'boolean') return { error: `${field.label}: on or off` };
      return { change: { [field.key]: raw } };
    case 'choice': {
      const value = String(raw);
      if (!field.choices.some(([v]) => v === value)) return { error: `${field.label}: not a choice` };
      return { change: { [field.key]: value } };
    }
    case 'int': {
      const text = String(raw).trim();
      if (!/^-?\d+$/.test(text)) return { error: `${field.label}: a whole number from ${field.min} to ${field.max}` };
      const n = Number(text);
      if (n < field.min || n > field.max) return { error: `${field.label}: from ${field.min} to ${field.max}` };
      return { change: { [field.key]: n } };
    }
  }
}
