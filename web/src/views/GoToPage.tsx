import { useLayoutEffect, useRef } from 'preact/hooks';
import { pageLabel } from '../state/layout';
import { useApp } from './context';

// A small sheet over the script: a page label or "#sheet number", Return
// goes, Escape closes. A page the script lacks is answered in the sheet.
export function GoToPage() {
  const { store, view } = useApp();
  const input = useRef<HTMLInputElement>(null);
  // Focused before the first paint: "Ctrl+G 5 Return" typed at once must
  // land in the field, never a Return on the script (GO).
  useLayoutEffect(() => {
    input.current?.focus();
    input.current?.select();
  }, []);
  const doc = store.doc.value;
  if (!doc || store.confidence) return null;
  const offset = store.cueState.value.pageLabelOffset;
  const first = pageLabel(0, offset);
  const last = pageLabel(doc.pageCount - 1, offset);

  // Text fields keep their keys from the page's handler: Return here is
  // "go to the page", never GO.
  const onKey = (e: KeyboardEvent) => {
    if (e.key === 'Enter') {
      e.preventDefault();
      view.submitGoTo((e.target as HTMLInputElement).value);
    } else if (e.key === 'Escape') {
      e.preventDefault();
      view.closeGoTo();
    }
  };
  return (
    <div class="goto-sheet" role="dialog" aria-label="Go to page">
      <label>
        Go to page{' '}
        <input
          ref={input}
          aria-label="Page"
          placeholder={`${first}–${last}`}
          inputMode="numeric"
          onKeyDown={onKey}
          onInput={() => (store.gotoError.value = '')}
        />
      </label>
      <span class="goto-error" aria-live="polite">{store.gotoError.value}</span>
      <button type="button" aria-label="Close go to page" onMouseDown={(e) => e.preventDefault()} onClick={() => view.closeGoTo()}>
        ×
      </button>
    </div>
  );
}
