import { describe, expect, it } from 'vitest';
import { parseField, settingsFields } from '../src/state/settings_form';

const field = (key: string) => settingsFields.find((f) => f.key === key)!;

describe('the settings form', () => {
  it('turns a typed value into one change, or a quiet refusal', () => {
    const cases: [string, string | boolean, unknown][] = [
      ['oscPort', ' 9000 ', { oscPort: 9000 }],
      ['oscPort', '65535', { oscPort: 65535 }],
      ['oscPort', '0', null],
      ['oscPort', '65536', null],
      ['oscPort', '90.5', null],
      ['oscPort', '', null],
      ['oscPort', '1e3', null],
      ['cueLabelFontPx', '10', { cueLabelFontPx: 10 }],
      ['cueLabelFontPx', '33', null],
      ['renderWidth', '599', null],
      ['oscEnabled', false, { oscEnabled: false }],
      ['oscEnabled', 'true', null],
      ['themeName', 'light', { themeName: 'light' }],
      ['themeName', 'neon', null],
    ];
    for (const [key, raw, change] of cases) {
      const parsed = parseField(field(key), raw);
      if (change) expect(parsed, `${key} ${String(raw)}`).toEqual({ change });
      else expect('error' in parsed, `${key} ${String(raw)}`).toBe(true);
    }
  });
});
