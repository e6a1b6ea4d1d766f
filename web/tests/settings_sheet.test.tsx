// @vitest-environment happy-dom
// The Settings sheet: controls by their labels, the core's answers, Learn.
import { expect, it } from 'vitest';
import { dispatchEvent } from '../src/bridge/events';
import type { Settings } from '../src/bridge/types';
import { settingsFields } from '../src/state/settings_form';
import { $, $$, button, clicked, flush, keyed, mountPage, text, told, usePageDom } from './page_dom';

usePageDom();

const core = {
  oscEnabled: true, oscPort: 53100, oscLocalOnly: true, oscDeskHosts: [], oscGoUnknownNumber: 'go', goGuardMs: 300, intervalMinutes: 8, oscFeedback: [], followPort: 53180, midiEnabled: true,
  midiMap: [{ note: 36, action: 'go', channel: -1 }, { note: 37, action: 'back', channel: -1 }],
  mscEnabled: true, mscDeviceFilter: -1, mscBareGoFiresStandby: true, renderWidth: 1600, recentDocuments: [],
  dimmed: false, theme: 1, themeName: 'deep', pagesPerSpread: 2, maxText: false, glowTarget: 'standby',
  dropPageNumbers: false, memosVisible: true, cueLabelFontPx: 16, cueLabelAdaptive: true, cueSnapWords: true,
  cueTypes: [{ name: 'CUE', color: '#57b46a' }, { name: 'SFX', color: '#4a63de' }], ocrLanguages: '', ocrInstalled: ['eng', 'fin', 'chi_sim'],
} as Settings;

// `answer` plays the core: what it stores for what was sent.
async function openSheet(answer: (stored: Settings, sent: Partial<Settings>) => Settings | false = (s, c) => ({ ...s, ...c })) {
  let stored = core;
  const page = await mountPage({
    getSettings: () => stored,
    setSettings: (c: never) => {
      const next = answer(stored, c);
      if (next) stored = next;
      return next;
    },
  }, { open: '/s/show.pdf' });
  page.commands.menuCommand('settings');
  await flush();
  return page;
}

function labelled(name: string): HTMLInputElement {
  const id = $$('.settings-sheet label').find((l) => l.textContent === name)?.getAttribute('for');
  const el = $<HTMLInputElement>(id ? `#${id}` : `.settings-sheet [aria-label="${name}"]`);
  if (!el) throw new Error(`no control named ${name}`);
  return el;
}

async function commit(name: string, value: string) {
  labelled(name).value = value;
  await keyed(labelled(name), 'Enter');
}

const values = (...names: string[]) => names.map((n) => labelled(n).value);

it('names every control, shows the stored values in the sections an operator scans, and shows the sources', async () => {
  await openSheet();
  expect($$('.settings-sheet section').map((s) => s.getAttribute('aria-label')))
    .toEqual(['Show', 'GO guard', 'Script view', 'Cue labels', 'Cue types', 'Remote: OSC', 'Remote: Screens', 'Remote: MIDI', 'Remote: MSC']);
  for (const f of settingsFields) expect(labelled(f.label), f.label).toBeTruthy();
  expect(values('Cue label size (px)', 'MSC device ID', 'Theme', 'Name of cue type 2', 'Note of binding 1', 'Channel of binding 1'))
    .toEqual(['16', 'all', 'deep', 'SFX', '36', 'any']);
  expect(['OSC status: Listening on port 53000', 'MIDI sources: none found'].map((s) => text('.settings-sheet')?.includes(s))).toEqual([true, true]);
});

// The rules of the values and the notes' words are settings_form.test.ts and cue_types.test.ts; here they show beside their fields.
it('shows what the core kept, and puts a refused value back to the stored one', async () => {
  // This core keeps its port whatever is sent, and answers nothing for the screen dimming.
  const t = await openSheet((s, c) => ('dimmed' in c ? false : { ...s, ...c, oscPort: s.oscPort }));
  await commit('OSC port', '9000');
  expect([t.sent('setSettings'), values('OSC port'), text('#setting-oscPort-note')]).toEqual([[{ oscPort: 9000 }], ['53100'], 'Kept: 53100']);
  await commit('Cue label size (px)', '40');
  await commit('Name of cue type 2', 'ABCDEFGHIJKLM');
  expect([t.named('setSettings').length, values('Cue label size (px)', 'Name of cue type 2'), text('#setting-cueLabelFontPx-note')?.includes('from 10 to 32'),
    text('.cue-type-row .sheet-error')?.includes('this has 13')]).toEqual([1, ['16', 'SFX'], true, true]);
  await commit('Name of cue type 2', ' Sound ');
  const dim = labelled('Dim the screen');
  await clicked(dim);
  expect([t.sent('setSettings').slice(1), values('Name of cue type 2'), dim.checked, text('#setting-dimmed-note')])
    .toEqual([[{ cueTypes: [core.cueTypes[0], { name: 'Sound', color: '#4a63de' }] }, { dimmed: true }], ['Sound'], false, 'The settings were not changed.']);
  await keyed(labelled('OSC port'), 'Escape');
  expect($('.settings-sheet')).toBeNull();
});

it('the recognition languages: a checkbox per installed one; a click sends the checked codes, never the installed list', async () => {
  const t = await openSheet();
  const box = (code: string) => $<HTMLInputElement>(`.settings-sheet input[name="ocrLanguages-${code}"]`)!;
  expect($$('.settings-language').map((l) => l.textContent)).toEqual(['engEnglish', 'finFinnish', 'chi_sim']);
  await clicked(box('fin'));
  await clicked(box('eng'));
  await clicked(box('fin'));
  expect([t.sent('setSettings'), ['eng', 'fin', 'chi_sim'].map((c) => box(c).checked)])
    .toEqual([[{ ocrLanguages: 'fin' }, { ocrLanguages: 'eng+fin' }, { ocrLanguages: 'eng' }], [true, false, false]]);
});

it('learns a binding from the next note; Escape ends the learn and leaves the sheet open; so does closing the sheet', async () => {
  const t = await openSheet();
  await clicked(labelled('Learn binding 2'));
  expect(text('.learn-status')).toContain('Waiting for a MIDI note… (Escape cancels)');
  await keyed(labelled('Learn binding 2'), 'Escape');
  expect([$('.learn-status'), $('.settings-sheet') !== null]).toEqual([null, true]);
  await told(t.handlers, 'midiEvent', { note: 50, velocity: 100, channel: 0 });
  expect(t.named('setSettings')).toEqual([]);
  await clicked(labelled('Learn binding 2'));
  // A damaged note (midi_bindings.test.ts) keeps the learn waiting for a good one.
  dispatchEvent(t.handlers, 'midiEvent', { note: 300, velocity: 100, channel: 0 });
  dispatchEvent(t.handlers, 'midiEvent', { note: 50, velocity: 100, channel: 9 });
  await told(t.handlers, 'midiEvent', { note: 51, velocity: 100, channel: 9 });
  expect([t.sent('setSettings'), values('Note of binding 2', 'Channel of binding 2'), $('.learn-status')])
    .toEqual([[{ midiMap: [core.midiMap[0], { note: 50, action: 'back', channel: 9 }] }], ['50', '10'], null]);
  expect(text('.midi-bindings')).toContain('Learned note 50 (D3) on channel 10.');
  await clicked(labelled('Learn new binding'));
  expect(t.sheets.midiLearn.learning.value).toEqual({ kind: 'new', action: 'go' });
  await clicked(button('Close', $('.settings-sheet')!));
  expect([$('.settings-sheet'), t.sheets.midiLearn.learning.value]).toEqual([null, null]);
});
