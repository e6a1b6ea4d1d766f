// @vitest-environment happy-dom
// The Settings sheet as the operator meets it: every control found by its
// label, the core's answer shown beside the field, Learn waiting for a note.
import { describe, expect, it } from 'vitest';
import { dispatchEvent } from '../src/bridge/events';
import type { Settings } from '../src/bridge/types';
import { settingsFields } from '../src/state/settings_form';
import { doc } from './fake_bridge';
import { flush, host, keydown as key, mountPage, usePageDom } from './page_dom';


const core = {
  oscEnabled: true, oscPort: 53100, oscLocalOnly: true, midiEnabled: true,
  midiMap: [{ note: 36, action: 'go', channel: -1 }, { note: 37, action: 'back', channel: -1 }],
  mscEnabled: true, mscDeviceFilter: -1, mscBareGoFiresStandby: true, renderWidth: 1600, recentDocuments: [],
  dimmed: false, theme: 1, themeName: 'deep', pagesPerSpread: 2, maxText: false, glowTarget: 'standby',
  dropPageNumbers: false, memosVisible: true, cueLabelFontPx: 16, cueLabelAdaptive: true, cueSnapWords: true,
  cueTypes: [{ name: 'CUE', color: '#57b46a' }, { name: 'SFX', color: '#4a63de' }],
} as Settings;

usePageDom();

// `answer` plays the core: what it stores for what was sent.
async function openSheet(answer: (stored: Settings, sent: Partial<Settings>) => Settings | false = (s, c) => ({ ...s, ...c })) {
  let stored = core;
  const overrides = {
    getSettings: () => stored,
    setSettings: (c: never) => {
      const next = answer(stored, c);
      if (next) stored = next;
      return next;
    },
    openDocumentPath: (p: never) => doc(p),
  };
  const page = await mountPage(overrides, { open: '/s/show.pdf' });
  page.commands.menuCommand('settings');
  await flush();
  return page;
}

function labelled(name: string): HTMLInputElement {
  const byFor = [...host.querySelectorAll('.settings-sheet label')].find((l) => l.textContent === name);
  const id = byFor?.getAttribute('for');
  const el = id ? host.querySelector(`#${id}`) : host.querySelector(`.settings-sheet [aria-label="${name}"]`);
  if (!el) throw new Error(`no control named ${name}`);
  return el as HTMLInputElement;
}

function commit(el: HTMLInputElement, value: string) {
  el.value = value;
  key(el, 'Enter');
}

describe('the settings sheet', () => {
  it('names every control, shows the stored values in the sections an operator scans, and shows the sources', async () => {
    await openSheet();
    const sections = [...host.querySelectorAll('.settings-sheet section')].map((s) => s.getAttribute('aria-label'));
    expect(sections).toEqual(['Show', 'Script view', 'Cue labels', 'Cue types', 'Remote: OSC', 'Remote: MIDI', 'Remote: MSC']);
    for (const f of settingsFields) expect(labelled(f.label), f.label).toBeTruthy();
    expect(labelled('Cue label size (px)').value).toBe('16');
    expect(labelled('MSC device ID').value).toBe('all');
    expect(labelled('Theme').value).toBe('deep');
    expect(labelled('Name of cue type 2').value).toBe('SFX');
    expect(labelled('Note of binding 1').value).toBe('36');
    expect(labelled('Channel of binding 1').value).toBe('any');
    const text = host.querySelector('.settings-sheet')?.textContent;
    expect(text).toContain('OSC status: Listening on port 53000');
    expect(text).toContain('MIDI sources: none found');
  });

  it('shows what the core kept, and puts a refused value back to the stored one', async () => {
    // This core keeps its port whatever is sent, and answers nothing for the screen dimming.
    const t = await openSheet((s, c) => ('dimmed' in c ? false : { ...s, ...c, oscPort: s.oscPort }));
    commit(labelled('OSC port'), '9000');
    await flush();
    expect(t.named('setSettings')).toEqual([[{ oscPort: 9000 }]]);
    expect(labelled('OSC port').value).toBe('53100');
    expect(host.querySelector('#setting-oscPort-note')?.textContent).toBe('Kept: 53100');

    commit(labelled('Cue label size (px)'), '40');
    await flush();
    expect(t.named('setSettings')).toHaveLength(1);
    expect(labelled('Cue label size (px)').value).toBe('16');
    expect(host.querySelector('#setting-cueLabelFontPx-note')?.textContent).toContain('from 10 to 32');

    const dim = labelled('Dim the screen');
    dim.click();
    await flush();
    expect(t.named('setSettings')[1]).toEqual([{ dimmed: true }]);
    expect(dim.checked).toBe(false);
    expect(host.querySelector('#setting-dimmed-note')?.textContent).toBe('The settings were not changed.');
    expect(t.named('go')).toEqual([]);
    key(labelled('OSC port'), 'Escape');
    await flush();
    expect(host.querySelector('.settings-sheet')).toBeNull();
  });

  it('renames a cue type by the core rule and refuses a thirteenth character beside the field', async () => {
    const t = await openSheet();
    commit(labelled('Name of cue type 2'), 'ABCDEFGHIJKLM');
    await flush();
    expect(t.named('setSettings')).toEqual([]);
    expect(labelled('Name of cue type 2').value).toBe('SFX');
    expect(host.querySelector('.cue-type-row .sheet-error')?.textContent).toContain('this has 13');

    commit(labelled('Name of cue type 2'), ' Sound ');
    await flush();
    expect(t.named('setSettings')).toEqual([[{ cueTypes: [core.cueTypes[0], { name: 'Sound', color: '#4a63de' }] }]]);
    expect(labelled('Name of cue type 2').value).toBe('Sound');
  });

  it('learns a binding from the next note; Escape ends the learn and leaves the sheet open', async () => {
    const t = await openSheet();
    const learn = labelled('Learn binding 2');
    learn.click();
    await flush();
    expect(host.querySelector('.learn-status')?.textContent).toContain('Waiting for a MIDI note… (Escape cancels)');
    key(learn, 'Escape');
    await flush();
    expect(host.querySelector('.learn-status')).toBeNull();
    expect(host.querySelector('.settings-sheet')).not.toBeNull();
    dispatchEvent(t.handlers, 'midiEvent', { note: 50, velocity: 100, channel: 0 });
    await flush();
    expect(t.named('setSettings')).toEqual([]);

    labelled('Learn binding 2').click();
    await flush();
    // A damaged note keeps the learn waiting for a good one.
    dispatchEvent(t.handlers, 'midiEvent', { note: 300, velocity: 100, channel: 0 });
    dispatchEvent(t.handlers, 'midiEvent', { note: 50, velocity: 100, channel: 9 });
    dispatchEvent(t.handlers, 'midiEvent', { note: 51, velocity: 100, channel: 9 });
    await flush();
    expect(t.named('setSettings')).toEqual([[{ midiMap: [core.midiMap[0], { note: 50, action: 'back', channel: 9 }] }]]);
    expect(labelled('Note of binding 2').value).toBe('50');
    expect(labelled('Channel of binding 2').value).toBe('10');
    expect(host.querySelector('.learn-status')).toBeNull();
    expect(host.querySelector('.midi-bindings')?.textContent).toContain('Learned note 50 (D3) on channel 10.');

    // Closing the sheet ends a learn too.
    labelled('Learn new binding').click();
    await flush();
    expect(t.sheets.midiLearn.learning.value).toEqual({ kind: 'new', action: 'go' });
    [...host.querySelectorAll<HTMLButtonElement>('.settings-sheet button')].find((b) => b.textContent === 'Close')!.click();
    await flush();
    expect(host.querySelector('.settings-sheet')).toBeNull();
    expect(t.sheets.midiLearn.learning.value).toBeNull();
  });
});
