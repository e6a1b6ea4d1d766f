// The cue types in the Settings sheet: the list in the core's order (the
// first is the one a new cue gets), each renamed, recoloured, moved or
// removed in place, and a row to add one. Each change sends the whole list.

import { useRef, useState } from 'preact/hooks';
import type { Sheets } from '../actions/sheets';
import type { CueType, Settings } from '../bridge/types';
import {
  addType, keptNote, leftBehind, maxCueTypeName, maxCueTypes, moveType, recolourType, removeType, renameType, typeUsage, type TypesChange,
} from '../state/cue_types';
import type { ChangeAnswer } from '../state/settings_form';
import { useApp } from './context';
import { enterAdds } from './field_keys';
import { CommitInput, Note, useAnswer } from './SettingsControls';

function usageText(n: number): string {
  return n === 0 ? 'not used in this script' : n === 1 ? 'used by 1 cue' : `used by ${n} cues`;
}

// Sends a list change worked out from the list the core holds, and settles
// the row with what the core kept.
function sendTypes(
  sheets: Sheets,
  make: (types: CueType[]) => TypesChange,
  settle: (a: ChangeAnswer, kept: (s: Settings) => string) => void,
): void {
  let sent: CueType[] | undefined;
  void sheets
    .changeSetting((s) => {
      const change = make(s.cueTypes ?? []);
      if ('cueTypes' in change) sent = change.cueTypes;
      return change;
    })
    .then((a) => settle(a, (s) => keptNote(sent, s.cueTypes)));
}

function TypeRow({ type, index, count, tell }: { type: CueType; index: number; count: number; tell: (text: string) => void }) {
  const { store, sheets } = useApp();
  const { note, rev, settle } = useAnswer();
  const used = typeUsage(store.cueState.value.cues, type.name);
  const send = (make: (types: CueType[]) => TypesChange) =>
    sendTypes(sheets, make, (a, kept) => {
      settle(a, kept);
      if (!('error' in a)) tell(leftBehind(store.cueState.peek().cues, type.name, a.settings.cueTypes ?? []));
    });
  const id = `cue-type-${index}`;
  return (
    <li class="cue-type-row">
      <span class="cue-type-swatch" style={{ background: type.color }} aria-hidden="true" />
      <CommitInput class="cue-type-name" stored={type.name} rev={rev} aria-label={`Name of cue type ${index + 1}`}
        aria-describedby={note ? `${id}-note` : undefined} onCommit={(raw) => send((t) => renameType(t, index, raw))} />
      <input type="color" class="cue-type-color" value={type.color} aria-label={`Colour of ${type.name}`}
        onChange={(e) => send((t) => recolourType(t, index, e.currentTarget.value))} />
      <span class="cue-type-usage">{usageText(used)}</span>
      <button type="button" aria-label={`Move ${type.name} up`} disabled={index === 0}
        onClick={() => send((t) => moveType(t, index, -1))}>↑</button>
      <button type="button" aria-label={`Move ${type.name} down`} disabled={index === count - 1}
        onClick={() => send((t) => moveType(t, index, 1))}>↓</button>
      <button type="button" aria-label={`Remove ${type.name}`} disabled={count <= 1}
        onClick={() => send((t) => removeType(t, index))}>Remove</button>
      <Note id={`${id}-note`} text={note} />
    </li>
  );
}

function AddTypeRow({ full }: { full: boolean }) {
  const { sheets } = useApp();
  const { note, settle, refuse } = useAnswer();
  const name = useRef<HTMLInputElement>(null);
  const color = useRef<HTMLInputElement>(null);
  const add = () => {
    const raw = name.current?.value ?? '';
    if (!raw.trim()) return refuse('Type a name first.');
    sendTypes(sheets, (t) => addType(t, raw, color.current?.value ?? ''), (a, kept) => {
      settle(a, kept);
      if (!('error' in a) && name.current) name.current.value = '';
    });
  };
  return (
    <div class="cue-type-add">
      <input ref={name} type="text" aria-label="New cue type name" placeholder="New type" disabled={full}
        onKeyDown={enterAdds(add)} />
      <input ref={color} type="color" aria-label="New cue type colour" defaultValue="#8b949e" disabled={full} />
      <button type="button" onClick={add} disabled={full}>Add type</button>
      <Note id="cue-type-add-note" text={full ? `At most ${maxCueTypes} types.` : note} />
    </div>
  );
}

export function CueTypesEditor({ settings }: { settings: Settings }) {
  const types = settings.cueTypes ?? [];
  const [said, tell] = useState('');
  return (
    <section aria-label="Cue types" class="cue-types">
      <h3>Cue types</h3>
      <p class="settings-hint">
        Names up to {maxCueTypeName} characters. A new cue gets the first type until another is used. Cues keep
        their type name when a type is renamed or removed; a cue whose type is gone is drawn in the plain cue
        colour unless it has its own.
      </p>
      <ol class="cue-type-list">
        {types.map((t, i) => <TypeRow key={i} type={t} index={i} count={types.length} tell={tell} />)}
      </ol>
      {said && <p class="settings-hint" role="status">{said}</p>}
      <AddTypeRow full={types.length >= maxCueTypes} />
    </section>
  );
}
