import { useLayoutEffect, useRef } from 'preact/hooks';

// A one-line field over the script: Return keeps what was typed, Escape drops
// it; neither goes on to be GO or the leaving of a mode.
export function keepOrDrop(finish: (text: string | null) => void): (e: KeyboardEvent) => void {
  return (e) => {
    if (e.key === 'Enter') {
      e.preventDefault();
      finish((e.target as HTMLInputElement).value);
    } else if (e.key === 'Escape') {
      e.preventDefault();
      finish(null);
    }
  };
}

// Return in an "add" field adds, and goes no further (not GO, not the
// sheet's own Return).
export function enterAdds(add: () => void): (e: KeyboardEvent) => void {
  return (e) => {
    if (e.key !== 'Enter') return;
    e.preventDefault();
    e.stopPropagation();
    add();
  };
}

// A field opened over the script to type in: it has the keys before the
// first paint (so keys typed right after F2 reach it), and it ends once,
// whichever of Return, Escape or leaving it comes first.
export function useEditField<T extends HTMLInputElement | HTMLTextAreaElement>(
  onDone: (text: string | null, left?: boolean) => void, selectAll = false,
): { field: { current: T | null }; finish: (text: string | null, left?: boolean) => void } {
  const field = useRef<T>(null);
  const done = useRef(false);
  useLayoutEffect(() => {
    field.current?.focus({ preventScroll: true });
    if (selectAll) field.current?.select();
  }, []);
  // `left`: the focus went elsewhere, so the field keeps no claim on it.
  const finish = (text: string | null, left?: boolean) => {
    if (done.current) return;
    done.current = true;
    onDone(text, left);
  };
  return { field, finish };
}

// Whether the focus went to `node` inside `box` (Tab between the fields of one
// editor), walked by hand: form elements answer contains() wrongly in some DOMs.
export function within(box: Node | null, node: EventTarget | null): boolean {
  for (let n = node as Node | null; n; n = n.parentNode) if (n === box) return true;
  return false;
}
