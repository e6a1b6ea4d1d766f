import { pageLabel } from '../state/layout';
import { useApp } from './context';
import { FileTools } from './FileTools';

// With a page-label offset the label is what Go to Page takes; the sheet
// count stays beside it.
function pageOf(visible: number, count: number, labelOffset: number): string {
  const n = Math.min(visible + 1, count);
  if (!labelOffset) return `page ${n} / ${count}`;
  return `page ${pageLabel(n - 1, labelOffset)} (${n} of ${count})`;
}

export function Toolbar() {
  const { store, tools, inserts, view } = useApp();
  const doc = store.doc.value;
  if (!doc) return null;
  const per = store.pagesPerSpread.value;
  return (
    <header class={`toolbar${store.locked.value ? ' locked' : ''}`}>
      {/* Seen from two metres: the booth knows at a glance that the marks are safe. */}
      {store.locked.value && <span class="locked-badge" role="status" title="Show locked: Ctrl+Shift+L unlocks">LOCKED</span>}
      <span class="doc-title" title={doc.path}>{doc.title || doc.path.split('/').pop()}</span>
      <button type="button" class="page-of" title="Page note and numbering (Ctrl+Shift+P)" onMouseDown={(e) => e.preventDefault()} onClick={() => tools.notes.open()}>
        {pageOf(store.visiblePage.value, doc.pageCount, store.cueState.value.pageLabelOffset)}
      </button>
      <span class="spacer" />
      <button type="button" aria-pressed={inserts.armed.value} title="Insert Line: i in Cue Mode" disabled={store.locked.value}
        onClick={() => inserts.command()}>Insert Line</button>
      <FileTools />
      <div class="group" role="group" aria-label="Pages per view">
        <button type="button" aria-pressed={per === 1} onClick={() => view.setPagesPerSpread(1)}>1</button>
        <button type="button" aria-pressed={per === 2} onClick={() => view.setPagesPerSpread(2)}>2</button>
      </div>
      <div class="group" role="group" aria-label="Zoom">
        <button type="button" aria-label="Zoom out" onClick={() => view.zoom(-1)}>−</button>
        <button type="button" aria-label="Fit to window" title="Fit to Window (Ctrl+0); Fit Width: Ctrl+3" onClick={() => view.zoom(0)}>{Math.round(store.zoom.value * 100)}%</button>
        <button type="button" aria-label="Zoom in" onClick={() => view.zoom(1)}>+</button>
      </div>
    </header>
  );
}
