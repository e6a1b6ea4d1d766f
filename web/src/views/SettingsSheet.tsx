// The Settings sheet: every setting the page may change, in the sections an
// operator looks for. Each change is sent alone (the lists whole) and the
// control then shows what the core kept; a refusal stays quietly beside its
// control. Return in a field commits it and never reaches GO; Escape ends a
// MIDI learn first, then closes the sheet.

import { Fragment } from 'preact';
import { useEffect, useRef } from 'preact/hooks';
import type { Settings } from '../bridge/types';
import {
  answerNote, choicesFor, displayValue, languageChoices, languageCodes, parseField, rangeText, settingsSections, toggledLanguages,
  type SettingsField,
} from '../state/settings_form';
import { remoteScreensLine } from '../state/share';
import { useApp } from './context';
import { CueTypesEditor } from './CueTypesEditor';
import { MidiBindingsEditor } from './MidiBindingsEditor';
import { CommitCheck, CommitInput, CommitSelect, Note, useAnswer } from './SettingsControls';
import '../settings.css';

function FieldRow({ field, settings }: { field: SettingsField; settings: Settings }) {
  const { sheets } = useApp();
  const { note, rev, settle, refuse } = useAnswer();
  const stored = settings[field.key];
  const id = `setting-${field.key}`;
  const range = rangeText(field);
  const described = [range && `${id}-range`, note && `${id}-note`].filter(Boolean).join(' ') || undefined;

  const commit = (raw: string | boolean) => {
    const parsed = parseField(field, raw);
    if ('error' in parsed) return refuse(String(raw).trim() ? `“${String(raw)}” refused: ${parsed.error}` : parsed.error);
    const sent = parsed.change[field.key];
    void sheets.changeSetting(parsed.change).then((a) => settle(a, (s) => answerNote(field, sent, s[field.key])));
  };

  let control;
  if (field.kind === 'bool')
    control = <CommitCheck id={id} name={field.key} stored={stored === true} rev={rev} onCommit={commit} aria-describedby={described} />;
  else if (field.kind === 'choice')
    control = (
      <CommitSelect id={id} name={field.key} stored={String(stored ?? '')} rev={rev} options={choicesFor(field, stored)}
        onCommit={commit} aria-describedby={described} />
    );
  else
    control = (
      <CommitInput id={id} name={field.key} stored={displayValue(field, stored)} rev={rev} onCommit={commit}
        type={field.kind === 'int' ? 'number' : 'text'} aria-describedby={described}
        {...(field.kind === 'int' ? { min: field.min, max: field.max, step: 1 } : { size: field.kind === 'hosts' || field.kind === 'destinations' ? 28 : 5 })} />
    );
  return (
    <div class={`settings-row settings-${field.kind}`}>
      <label for={id}>{field.label}</label>
      <span class="settings-control">
        {control}
        {range && <span id={`${id}-range`} class="settings-range">{range}</span>}
      </span>
      <Note id={`${id}-note`} text={note} />
    </div>
  );
}

// One checkbox per installed language. Each click is worked out from the
// settings the core holds when it is sent, so two quick clicks both count.
function LanguagesRow({ field, settings }: { field: SettingsField & { kind: 'languages' }; settings: Settings }) {
  const { sheets } = useApp();
  const { note, rev, settle } = useAnswer();
  const id = `setting-${field.key}`;
  const choices = languageChoices(settings.ocrInstalled, settings.ocrLanguages);
  const checked = new Set(languageCodes(settings.ocrLanguages));
  const described = [`${id}-range`, note && `${id}-note`].filter(Boolean).join(' ');

  const commit = (code: string, on: boolean) => {
    let sent: unknown;
    void sheets.changeSetting((s) => {
      const parsed = parseField(field, toggledLanguages(s.ocrLanguages, s.ocrInstalled, code, on));
      if ('error' in parsed) return parsed;
      sent = parsed.change.ocrLanguages;
      return parsed.change;
    }).then((a) => settle(a, (s) => answerNote(field, sent, s.ocrLanguages)));
  };

  return (
    <div class="settings-row settings-languages">
      <span class="settings-caption" aria-hidden="true">{field.label}</span>
      <span class="settings-control">
        <span id={id} role="group" aria-label={field.label} aria-describedby={described} class="settings-language-list">
          {choices.map((c) => (
            <label key={c.code} class="settings-language">
              <CommitCheck name={`${field.key}-${c.code}`} stored={checked.has(c.code)} rev={rev} onCommit={(on) => commit(c.code, on)} />
              <span class="settings-language-code">{c.code}</span>
              {c.name && <span class="settings-range">{c.name}</span>}
              {!c.installed && <span class="settings-range">(not installed)</span>}
            </label>
          ))}
          {choices.length === 0 && <span class="settings-range">No language data is installed.</span>}
        </span>
      </span>
      <span id={`${id}-range`} class="settings-range settings-languages-hint">{rangeText(field)}</span>
      <Note id={`${id}-note`} text={note} />
    </div>
  );
}

// Where the OSC listener stands, as the core last reported it.
function OscStatusLine() {
  const { store } = useApp();
  const s = store.controlStatus.value;
  let text = 'Status unknown';
  if (s) text = s.oscListening ? `Listening on port ${s.oscPort}` : s.oscError ? `Port ${s.oscPort}: ${s.oscError}` : 'Not listening';
  return <p class={`settings-status${s?.oscError ? ' status-error' : ''}`} aria-live="polite">OSC status: {text}</p>;
}

// Where sharing stands, so a changed port can be seen to work.
function ScreensStatusLine() {
  const { share } = useApp();
  const line = remoteScreensLine(share.status.value);
  return (
    <p class={`settings-status${line?.error ? ' status-error' : ''}`} aria-live="polite">
      Screens: {line ? line.text : 'not sharing (Window › Share to Screens…)'}
    </p>
  );
}

function MidiSources() {
  const { store } = useApp();
  const sources = store.controlStatus.value?.midiSources ?? [];
  return (
    <p class="settings-status" aria-live="polite">
      MIDI sources: {sources.length > 0 ? sources.join(', ') : 'none found'}
    </p>
  );
}

export function SettingsSheet() {
  const { store, sheets, commands } = useApp();
  const sheet = useRef<HTMLFormElement>(null);
  useEffect(() => {
    sheet.current?.querySelector<HTMLElement>('select, input')?.focus();
    // A learn belongs to the open sheet.
    return () => void sheets.midiLearn.cancel();
  }, []);
  const s = store.settings.value;
  const onKey = (e: KeyboardEvent) => {
    // The page's own key handler saw it first when the focus is not in a field.
    if (e.key !== 'Escape' || e.defaultPrevented) return;
    e.preventDefault();
    e.stopPropagation();
    commands.escape();
  };
  return (
    <form ref={sheet} class="page-sheet settings-sheet" role="dialog" aria-label="Settings" onKeyDown={onKey}
      onSubmit={(e) => e.preventDefault()}>
      <div class="page-sheet-head">
        <h2>Settings</h2>
        <button type="button" onClick={() => sheets.closePageSheet()}>Close</button>
      </div>
      {!s && <p class="sheet-error">The settings have not arrived.</p>}
      {s &&
        settingsSections.map((section) => (
          <Fragment key={section.title}>
            <section aria-label={section.title}>
              <h3>{section.title}</h3>
              {section.fields.map((f) =>
                f.kind === 'languages' ? <LanguagesRow key={f.key} field={f} settings={s} /> : <FieldRow key={f.key} field={f} settings={s} />)}
              {section.title === 'Remote: OSC' && <OscStatusLine />}
              {section.title === 'Remote: Screens' && <ScreensStatusLine />}
              {section.title === 'Remote: MIDI' && (
                <>
                  <MidiSources />
                  <MidiBindingsEditor settings={s} />
                </>
              )}
            </section>
            {/* The types come right after the labels they colour. */}
            {section.title === 'Cue labels' && <CueTypesEditor settings={s} />}
          </Fragment>
        ))}
    </form>
  );
}
