import { describe, expect, it } from 'vitest';
import { resumeBannerText, resumeText } from '../src/state/resume';

describe('the saved-run banner', () => {
  const offer = { count: 12, total: 48, standbyID: 'c13', number: '13', label: ' Lights fade ' };

  it('says how far the run got and names the standby; nothing for an empty or damaged offer', () => {
    const cases: [unknown, string | null][] = [
      [offer, '12 of 48 cues fired, standby 13 Lights fade'],
      [{ ...offer, label: '' }, '12 of 48 cues fired, standby 13'],
      [{ ...offer, number: '', label: '' }, '12 of 48 cues fired, standby unnumbered cue'],
      [{ ...offer, count: 0 }, '0 of 48 cues fired, standby 13 Lights fade'],
      [{}, null],
      [null, null],
      [{ ...offer, standbyID: '' }, null],
      [{ ...offer, total: 0, count: 0 }, null],
      [{ ...offer, count: 49 }, null],
      [{ ...offer, count: -1 }, null],
      [{ ...offer, count: '12' }, null],
      [{ ...offer, total: 4.5 }, null],
    ];
    for (const [run, text] of cases) expect(resumeText(run as never), JSON.stringify(run)).toBe(text);
  });

  it('is gone once answered or once the live run has fired a cue, and never on the monitor', () => {
    expect(resumeBannerText(offer, false, false)).not.toBeNull();
    expect(resumeBannerText(offer, false, false, 0)).not.toBeNull();
    // The offer then describes the run in progress, not one to go back to.
    expect(resumeBannerText(offer, false, false, 1)).toBeNull();
    expect(resumeBannerText(offer, true, false)).toBeNull();
    expect(resumeBannerText(offer, false, true)).toBeNull();
  });
});
