// The MIDI note bindings in the Settings sheet: note, channel and action of
// each, edited in place, removed, or learned from the next note the core
// hears; a row adds one by hand or by learning. Each change sends the whole
// list, which the core takes as it is.

import { useRef } from 'preact/hooks';
import type { Settings } from '../bridge/types';
import {
  addBinding, editBinding, midiActions, noteName, parseChannel, parseNote, readMidiMap, removeBinding,
  shadowedBy, type MapChange, type MidiBinding,
} from '../state/midi_bindings';
import { useApp } from './context';
import { enterAdds } from './field_keys';
import { CommitInput, CommitSelect, Note, useAnswer } from './SettingsControls';

const channelOptions: [string, string][] = [['any', 'Any'], ...Array.from({ length: 16 }, (_, i): [string, string] => [String(i + 1), String(i + 1)])];

function actionOptions(action: string): [string, string][] {
  // A text the core does not know does nothing; shown as it is, so it is not mistaken for GO.
  return midiActions.some(([a]) => a === action) ? midiActions : [...midiActions, [action, `${action} (does nothing)`]];
}

function channelValue(channel: number): string {
  return channel < 0 ? 'any' : String(channel + 1);
}

function BindingRow({ binding, index, map }: { binding: MidiBinding; index: number; map: MidiBinding[] }) {
  const { sheets } = useApp();
  const { note, rev, settle, refuse } = useAnswer();
  const learning = sheets.midiLearn.learning.value;
  const waiting = learning?.kind === 'edit' && learning.index === index;
  const send = (make: (m: MidiBinding[]) => MapChange) =>
    void sheets.changeSetting((s) => make(readMidiMap(s.midiMap))).then((a) => settle(a));
  const shadow = shadowedBy(map, index);
  const n = index + 1;
  return (
    <tr class={waiting ? 'midi-binding learning' : 'midi-binding'}>
      <td>
        <CommitInput type="number" min={0} max={127} step={1} class="midi-note" stored={String(binding.note)} rev={rev}
          aria-label={`Note of binding ${n}`} onCommit={(raw) => {
            const p = parseNote(raw);
            if ('error' in p) return refuse(p.error);
            send((m) => editBinding(m, index, { note: p.note }));
          }} />
        <span class="midi-note-name">{noteName(binding.note)}</span>
      </td>
      <td>
        <CommitSelect stored={channelValue(binding.channel)} rev={rev} options={channelOptions} aria-label={`Channel of binding ${n}`}
          onCommit={(raw) => {
            const p = parseChannel(raw);
            if ('error' in p) return refuse(p.error);
            send((m) => editBinding(m, index, { channel: p.channel }));
          }} />
      </td>
      <td>
        <CommitSelect stored={binding.action} rev={rev} options={actionOptions(binding.action)} aria-label={`Action of binding ${n}`}
          onCommit={(raw) => send((m) => editBinding(m, index, { action: raw }))} />
      </td>
      <td class="midi-binding-buttons">
        <button type="button" aria-pressed={waiting} aria-label={`Learn binding ${n}`}
          onClick={() => (waiting ? sheets.midiLearn.cancel() : sheets.midiLearn.start({ kind: 'edit', index, was: binding }))}>
          {waiting ? 'Waiting…' : 'Learn'}
        </button>
        <button type="button" aria-label={`Remove binding ${n}`} onClick={() => send((m) => removeBinding(m, index))}>Remove</button>
        {shadow >= 0 && <span class="settings-hint">Never acts: binding {shadow + 1} takes this note first.</span>}
        <Note id={`midi-binding-${index}-note`} text={note} />
      </td>
    </tr>
  );
}

function AddBindingRow() {
  const { sheets } = useApp();
  const { note, settle, refuse } = useAnswer();
  const noteInput = useRef<HTMLInputElement>(null);
  const channel = useRef<HTMLSelectElement>(null);
  const action = useRef<HTMLSelectElement>(null);
  const learning = sheets.midiLearn.learning.value;
  const waiting = learning?.kind === 'new';
  const add = () => {
    const n = parseNote(noteInput.current?.value ?? '');
    if ('error' in n) return refuse(n.error);
    const c = parseChannel(channel.current?.value ?? 'any');
    if ('error' in c) return refuse(c.error);
    const b = { note: n.note, channel: c.channel, action: action.current?.value ?? 'go' };
    void sheets.changeSetting((s) => addBinding(readMidiMap(s.midiMap), b)).then((a) => {
      settle(a);
      if (!('error' in a) && noteInput.current) noteInput.current.value = '';
    });
  };
  return (
    <tr class={waiting ? 'midi-binding-add learning' : 'midi-binding-add'}>
      <td>
        <input ref={noteInput} type="number" min={0} max={127} step={1} class="midi-note" aria-label="New binding note" placeholder="Note"
          onKeyDown={enterAdds(add)} />
      </td>
      <td>
        <select ref={channel} aria-label="New binding channel">
          {channelOptions.map(([v, t]) => <option key={v} value={v}>{t}</option>)}
        </select>
      </td>
      <td>
        <select ref={action} aria-label="New binding action">
          {midiActions.map(([v, t]) => <option key={v} value={v}>{t}</option>)}
        </select>
      </td>
      <td class="midi-binding-buttons">
        <button type="button" onClick={add}>Add binding</button>
        <button type="button" aria-pressed={waiting} aria-label="Learn new binding"
          onClick={() => (waiting ? sheets.midiLearn.cancel() : sheets.midiLearn.start({ kind: 'new', action: action.current?.value ?? 'go' }))}>
          {waiting ? 'Waiting…' : 'Learn'}
        </button>
        <Note id="midi-binding-add-note" text={note} />
      </td>
    </tr>
  );
}

export function MidiBindingsEditor({ settings }: { settings: Settings }) {
  const { sheets } = useApp();
  const map = readMidiMap(settings.midiMap);
  const learning = sheets.midiLearn.learning.value;
  return (
    <div class="midi-bindings">
      <h4 id="midi-bindings-title">Note bindings</h4>
      <p class="settings-hint">The first binding that matches a note acts. Channels count from 1.</p>
      <table aria-labelledby="midi-bindings-title">
        <thead>
          <tr><th scope="col">Note</th><th scope="col">Channel</th><th scope="col">Action</th><th scope="col"><span class="visually-hidden">Edit</span></th></tr>
        </thead>
        <tbody>
          {map.length === 0 && (
            <tr><td colSpan={4} class="settings-hint">No bindings: MIDI notes do nothing.</td></tr>
          )}
          {map.map((b, i) => <BindingRow key={i} binding={b} index={i} map={map} />)}
          <AddBindingRow />
        </tbody>
      </table>
      {learning ? (
        <p class="learn-status" role="status">
          Waiting for a MIDI note… (Escape cancels)
          <span class="settings-hint"> A note that is already bound still does its action.</span>
        </p>
      ) : (
        sheets.midiLearn.said.value && <p class="settings-hint" role="status">{sheets.midiLearn.said.value}</p>
      )}
    </div>
  );
}
