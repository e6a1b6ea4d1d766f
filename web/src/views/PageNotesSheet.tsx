import { useEffect, useRef } from 'preact/hooks';
import { noteOf, numberOf } from '../state/page_notes';
import { pageLabel } from '../state/layout';
import { shortText } from '../state/shown_text';
import { useApp } from './context';
import { within } from './field_keys';
import '../files.css';

// The Page sheet: the shown page's note and the number it is printed with.
// Return, Keep, Close or leaving the sheet keeps both; Escape leaves them as
// they were.
export function PageNotesSheet() {
  const { store, tools, sheets } = useApp();
  const notes = tools.notes;
  const page = notes.page.value;
  const state = store.cueState.value;
  const sheet = useRef<HTMLDivElement>(null);
  const noteField = useRef<HTMLInputElement>(null);
  const numberField = useRef<HTMLInputElement>(null);
  useEffect(() => {
    noteField.current?.focus();
    noteField.current?.select();
  }, []);
  const submit = (refocus = true) => notes.submit(noteField.current?.value ?? '', numberField.current?.value ?? '', refocus);
  // Tab between the fields and buttons stays; leaving the sheet keeps what
  // was typed (the native side blurs the field on quit). Closed already
  // (Escape), there is nothing to keep.
  const onLeave = (e: FocusEvent) => {
    if (!within(sheet.current, e.relatedTarget) && store.pageSheet.peek() === 'page') submit(false);
  };
  const onKey = (e: KeyboardEvent) => {
    if (e.key === 'Enter') {
      e.preventDefault();
      submit();
    } else if (e.key === 'Escape') {
      e.preventDefault();
      sheets.closePageSheet();
    }
  };
  return (
    <div ref={sheet} class="page-sheet page-notes-sheet" role="dialog" aria-label="Page" onFocusOut={onLeave}>
      <div class="page-sheet-head">
        <h2>Page {pageLabel(page, state.pageLabelOffset)} (sheet {page + 1})</h2>
        <button type="button" onClick={() => submit()}>Close</button>
      </div>
      <label>
        Note on this page
        <input ref={noteField} type="text" aria-label="Note on this page" defaultValue={noteOf(state.pageTexts, page)} onKeyDown={onKey} />
      </label>
      <label>
        This page is numbered
        <input
          ref={numberField}
          type="text"
          inputMode="numeric"
          aria-label="This page is numbered"
          defaultValue={numberOf(page, state.pageLabelOffset)}
          onKeyDown={onKey}
        />
      </label>
      <p class="status-line">The pages before and after are numbered on from it.</p>
      {notes.error.value && <p class="sheet-error" role="status">{notes.error.value}</p>}
      <div class="page-notes-buttons">
        <button type="button" onClick={() => submit()}>Keep</button>
      </div>
    </div>
  );
}

// A page's note, in the gap above the page: quiet, one line, its start only
// (the sheet edits the whole note).
export function PageNote({ index }: { index: number }) {
  const { store } = useApp();
  const text = noteOf(store.cueState.value.pageTexts, index);
  if (!text) return null;
  return (
    <div class="page-note" data-testid="page-note" title={shortText(text, 600, 12)}>
      {shortText(text, 300)}
    </div>
  );
}
