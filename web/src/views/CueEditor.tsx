import { useEffect, useLayoutEffect, useRef } from 'preact/hooks';
import type { Cue } from '../bridge/types';
import { labelLeft } from '../state/cues';
import { useApp } from './context';
import { within } from './field_keys';

// The unfinished cue on its page: the box, and the number and label fields at
// the line end. The page's key handler leaves fields alone, so Return and
// Backspace here never reach GO or BACK.
export function DraftCue({ cue, color }: { cue: Cue; color?: string }) {
  const { store, cueMode } = useApp();
  const fields = useRef<HTMLDivElement>(null);
  const numberField = useRef<HTMLInputElement>(null);
  const labelField = useRef<HTMLInputElement>(null);
  // Before the first paint, so a key pressed as soon as the fields show lands
  // in them. The number is proposed already: what is typed next is the label
  // (Shift+Tab reaches the number).
  useLayoutEffect(() => {
    labelField.current?.focus();
  }, [cue.id]);

  const commit = () => {
    // Once: Return, Escape and leaving may all come for the same draft.
    if (store.draft.peek()?.id !== cue.id) return;
    cueMode.commitDraft(numberField.current?.value ?? cue.number, labelField.current?.value ?? '');
  };
  const onKey = (e: KeyboardEvent) => {
    if (e.key === 'Enter') {
      e.preventDefault();
      commit();
    } else if (e.key === 'Escape') {
      e.preventDefault();
      cueMode.cancelDraft();
    }
    // Tab moves between the two fields as the browser does.
  };
  // Leaving the editor keeps the cue (the native side blurs the field on
  // quit); moving between its own two fields does not.
  const onLeave = (e: FocusEvent) => {
    if (!within(fields.current, e.relatedTarget)) commit();
  };

  const colorStyle = color ? { '--cue-color': color } : {};
  return (
    <>
      <div
        class="cue draft"
        style={{ left: `${cue.x * 100}%`, top: `${cue.y * 100}%`, width: `${cue.w * 100}%`, height: `${cue.h * 100}%`, ...colorStyle }}
      />
      <div ref={fields} class="cue-draft-fields" style={{ left: `${labelLeft(cue) * 100}%`, top: `${(cue.y + cue.h / 2) * 100}%`, ...colorStyle }} onFocusOut={onLeave}>
        {cue.kind && <span class="cue-chip">{cue.kind}</span>}
        <input ref={numberField} class="cue-draft-number" aria-label="Cue number" defaultValue={cue.number} onKeyDown={onKey} size={4} />
        <input ref={labelField} class="cue-draft-label" aria-label="Cue label" placeholder="Label" onKeyDown={onKey} />
      </div>
    </>
  );
}

// The settings of the selected cue: Return commits, Escape closes.
export function CueSheet({ cue }: { cue: Cue }) {
  const { store, selection } = useApp();
  const form = useRef<HTMLFormElement>(null);
  useEffect(() => {
    form.current?.querySelector<HTMLInputElement>('input')?.focus();
  }, [cue.id]);
  const types = store.settings.value?.cueTypes ?? [];
  const kinds = types.some((t) => t.name === cue.kind) || !cue.kind ? types.map((t) => t.name) : [cue.kind, ...types.map((t) => t.name)];

  const commit = () => {
    const f = form.current;
    // Once: the sheet may be closed already (Escape, Cancel) when focus leaves.
    if (!f || store.sheet.peek() !== cue) return;
    const value = (name: string) => (f.elements.namedItem(name) as HTMLInputElement | HTMLSelectElement | null)?.value ?? '';
    selection.commitSheet({ number: value('number'), label: value('label'), kind: value('kind'), color: value('color'), note: value('note') });
  };
  const onKey = (e: KeyboardEvent) => {
    if (e.key === 'Escape') {
      e.preventDefault();
      selection.closeSheet();
    } else if (e.key === 'Enter' && !(e.target instanceof HTMLTextAreaElement)) {
      e.preventDefault();
      commit();
    }
  };
  // Leaving the sheet keeps what was typed, as Return does.
  const onLeave = (e: FocusEvent) => {
    if (!within(form.current, e.relatedTarget)) commit();
  };
  return (
    <form ref={form} class="cue-sheet" role="dialog" aria-label="Cue settings" onKeyDown={onKey} onFocusOut={onLeave} onSubmit={(e) => { e.preventDefault(); commit(); }}>
      <label>Number <input name="number" defaultValue={cue.number} /></label>
      <label>Label <input name="label" defaultValue={cue.label} /></label>
      <label>
        Type{' '}
        <select name="kind" defaultValue={cue.kind}>
          {kinds.length === 0 && <option value="">—</option>}
          {kinds.map((k) => (
            <option key={k} value={k}>{k}</option>
          ))}
        </select>
      </label>
      <label>Colour <input name="color" defaultValue={cue.color} placeholder="type colour" /></label>
      <label>Note <textarea name="note" defaultValue={cue.note} rows={2} /></label>
      <div class="cue-sheet-buttons">
        <button type="button" onMouseDown={(e) => e.preventDefault()} onClick={() => selection.closeSheet()}>Cancel</button>
        <button type="submit">Save</button>
      </div>
    </form>
  );
}
