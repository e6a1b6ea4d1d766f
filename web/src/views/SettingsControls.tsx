// Controls of the Settings sheet that show what the core keeps. They are not
// bound to the value: the operator types freely, a commit sends it, and when
// the answer (or a refusal) comes back the control is set to the stored value
// again, without losing the focus.

import type { JSX } from 'preact';
import { useLayoutEffect, useRef, useState } from 'preact/hooks';
import type { Settings } from '../bridge/types';
import type { ChangeAnswer } from '../state/settings_form';

// A quiet line beside a control and the turn counter that puts the stored
// value back after each answer.
export function useAnswer() {
  const [note, setNote] = useState('');
  const [rev, setRev] = useState(0);
  // `kept`: the note for an accepted change (empty when the core kept what was sent).
  const settle = (answer: ChangeAnswer, kept?: (s: Settings) => string) => {
    setNote('error' in answer ? answer.error : kept ? kept(answer.settings) : '');
    setRev((r) => r + 1);
  };
  return { note, rev, settle, refuse: (error: string) => settle({ error }) };
}

type InputAttrs = Omit<JSX.InputHTMLAttributes<HTMLInputElement>, 'onChange' | 'onKeyDown' | 'ref' | 'value' | 'defaultValue'>;

// Commits on Return (which never reaches GO from a field) or when the value
// changed and the field loses focus; the same text is not sent twice.
export function CommitInput({ stored, rev, onCommit, ...attrs }: { stored: string; rev: number; onCommit: (raw: string) => void } & InputAttrs) {
  const ref = useRef<HTMLInputElement>(null);
  const sent = useRef<string | null>(null);
  useLayoutEffect(() => {
    sent.current = null;
    if (ref.current) ref.current.value = stored;
  }, [stored, rev]);
  const commit = () => {
    const el = ref.current;
    if (!el || el.value === stored || el.value === sent.current) return;
    sent.current = el.value;
    onCommit(el.value);
  };
  const onKeyDown = (e: KeyboardEvent) => {
    if (e.key !== 'Enter') return;
    e.preventDefault();
    e.stopPropagation();
    commit();
  };
  return <input ref={ref} {...attrs} onKeyDown={onKeyDown} onChange={commit} />;
}

type SelectAttrs = Omit<JSX.SelectHTMLAttributes<HTMLSelectElement>, 'onChange' | 'ref' | 'value' | 'defaultValue'>;

export function CommitSelect({ stored, rev, options, onCommit, ...attrs }: {
  stored: string;
  rev: number;
  options: [string, string][];
  onCommit: (raw: string) => void;
} & SelectAttrs) {
  const ref = useRef<HTMLSelectElement>(null);
  useLayoutEffect(() => {
    if (ref.current) ref.current.value = stored;
  }, [stored, rev, options.length]);
  return (
    <select ref={ref} {...attrs} onChange={(e) => onCommit(e.currentTarget.value)}>
      {options.map(([v, text]) => <option key={v} value={v}>{text}</option>)}
    </select>
  );
}

export function CommitCheck({ stored, rev, onCommit, ...attrs }: { stored: boolean; rev: number; onCommit: (on: boolean) => void } & InputAttrs) {
  const ref = useRef<HTMLInputElement>(null);
  useLayoutEffect(() => {
    if (ref.current) ref.current.checked = stored;
  }, [stored, rev]);
  return <input ref={ref} type="checkbox" {...attrs} onChange={(e) => onCommit(e.currentTarget.checked)} />;
}

// The quiet line itself; named so a control can point at it.
export function Note({ id, text }: { id: string; text: string }) {
  return text ? <span id={id} class="sheet-error" role="status">{text}</span> : null;
}
