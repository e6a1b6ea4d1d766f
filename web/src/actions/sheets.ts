// The page's sheets and the settings: Settings, Keyboard Shortcuts, the Page
// sheet and the Show Report over the script; a settings change sent and the
// core's answer taken; the theme and the dim veil; a MIDI note learned into a
// binding.

import type { SettingsChange, ThemeName } from '../bridge/types';
import { createMidiLearn } from '../state/midi_bindings';
import { createSettingsSender, type Change, type ChangeAnswer } from '../state/settings_form';
import { applySettings, type PageSheetName } from '../state/store';
import type { Base, ScriptView } from './common';

// The element that has the focus, when it is one the focus can go back to.
function focusedElement(): HTMLElement | null {
  const d = (globalThis as { document?: Document }).document;
  const el = d?.activeElement;
  return el && el !== d.body && typeof (el as HTMLElement).focus === 'function' ? (el as HTMLElement) : null;
}

export function createSheets({ store, bridge, quiet }: Base, scriptView: ScriptView) {
  const midiLearn = createMidiLearn();
  // Where the focus was when a sheet that only reads or shares opened: it
  // goes back there (a sheet that edits goes back to the script, where GO is).
  let focusBefore: HTMLElement | null = null;

  const sendSettings = createSettingsSender((c) => bridge.setSettings(c), () => store.settings.peek(), (s) => {
    const pages = store.pagesPerSpread.peek();
    applySettings(store, s);
    // The sheet's pages side by side are the shown script's size too.
    const doc = store.doc.peek();
    if (doc && !store.confidence && store.pagesPerSpread.peek() !== pages)
      sheets.saveSettings({ readingSize: { path: doc.path, pages: store.pagesPerSpread.peek(), zoom: store.zoom.peek() } });
  });

  const sheets = {
    midiLearn,

    saveSettings(changes: SettingsChange): void {
      bridge.setSettings(changes).then((s) => {
        if (s) store.settings.value = s;
      }, quiet);
    },

    // One change from the Settings sheet, sent after the one before it is
    // answered: the core's answer replaces the settings (and the view
    // follows it); the sheet shows what was kept or why nothing changed.
    changeSetting(change: Change): Promise<ChangeAnswer> {
      return sendSettings(change);
    },

    // A note heard while a binding learns: the binding takes it.
    hearMidi(payload: unknown): void {
      const change = midiLearn.hear(payload);
      if (change) void sheets.changeSetting(change).then(midiLearn.answered);
    },

    setTheme(name: string | undefined): void {
      if (name !== 'deep' && name !== 'dark' && name !== 'light') return;
      store.theme.value = name as ThemeName;
      sheets.saveSettings({ themeName: name as ThemeName });
    },

    setDimmed(on: boolean): void {
      store.dimmed.value = on;
      sheets.saveSettings({ dimmed: on });
    },

    openPageSheet(which: PageSheetName): void {
      const keepsFocus = which === 'report' || which === 'share';
      focusBefore = keepsFocus ? (store.pageSheet.peek() === null ? focusedElement() : null) : null;
      store.sheet.value = null;
      store.settingsError.value = '';
      store.pageSheet.value = which;
    },

    // `refocus` is false when the operator left the sheet for somewhere else.
    closePageSheet(refocus = true): void {
      const back = focusBefore;
      focusBefore = null;
      store.pageSheet.value = null;
      if (!refocus) return;
      if (back?.isConnected) back.focus();
      else scriptView.focus();
    },
  };
  return sheets;
}

export type Sheets = ReturnType<typeof createSheets>;
