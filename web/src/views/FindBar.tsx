import { useEffect, useRef } from 'preact/hooks';
import { useApp } from './context';

export function FindBar() {
  const { finder: f, view } = useApp();
  const input = useRef<HTMLInputElement>(null);
  const focusRequest = f.focusRequest.value;
  useEffect(() => {
    input.current?.focus();
    input.current?.select();
  }, [focusRequest]);

  // The page's key handler leaves text fields alone, so Return here never
  // reaches GO; this handler owns Enter and Escape inside the field.
  const onKey = (e: KeyboardEvent) => {
    if (e.key === 'Enter') {
      e.preventDefault();
      void f.enter(e.shiftKey ? -1 : 1);
    } else if (e.key === 'Escape') {
      e.preventDefault();
      view.closeFind();
    }
  };

  const count = f.hits.value.length;
  const searched = f.searched.value;
  const status = f.busy.value
    ? 'Searching…'
    : searched.length < 2
      ? ''
      : count === 0
        ? 'No hits'
        : f.index.value >= 0
          ? `${f.index.value + 1} of ${count}`
          : `${count} ${count === 1 ? 'hit' : 'hits'}`;
  return (
    <div class="find-bar" role="search">
      <input
        ref={input}
        type="search"
        aria-label="Find in script"
        placeholder="Find in script"
        value={f.query.value}
        onInput={(e) => f.type((e.target as HTMLInputElement).value)}
        onKeyDown={onKey}
      />
      <span class="find-status" aria-live="polite">{status}</span>
      <button type="button" onMouseDown={(e) => e.preventDefault()} onClick={() => view.closeFind()} aria-label="Close find">
        ×
      </button>
    </div>
  );
}
