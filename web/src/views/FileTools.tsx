import { useRef } from 'preact/hooks';
import { useApp } from './context';
import '../files.css';

// A click leaves the focus where it was, so Space and Return stay GO.
const keep = (e: MouseEvent) => e.preventDefault();

// The toolbar's File menu (the script's files and the marked export, all
// also in the window's File menu) and Crop. One button keeps the toolbar on
// one row at the window's first size.
export function FileTools() {
  const { tools: t, exporter, store } = useApp();
  // A locked show keeps its marks and its crop.
  const locked = store.locked.value;
  const cropping = t.crop.frame.value !== null;
  const menu = useRef<HTMLDetailsElement>(null);
  const run = (action: () => void) => () => {
    if (menu.current) menu.current.open = false;
    action();
  };
  return (
    <div class="group" role="group" aria-label="File">
      <details class="file-menu" ref={menu} onKeyDown={(e) => {
        if (e.key === 'Escape' && menu.current?.open) {
          e.stopPropagation();
          menu.current.open = false;
        }
      }}>
        <summary onMouseDown={keep}>File</summary>
        <div class="file-menu-items">
          <button type="button" onMouseDown={keep} title="Ctrl+Shift+S" onClick={run(() => void t.files.saveAs())}>Save Script As…</button>
          <button type="button" onMouseDown={keep} onClick={run(() => void t.files.reveal())}>Show Script in Files</button>
          <button type="button" onMouseDown={keep} disabled={locked} onClick={run(() => void t.files.importMarks())}>Take Marks from Another Version…</button>
          <button type="button" onMouseDown={keep} title="Ctrl+Shift+E" onClick={run(() => exporter.exportMarked())}>Export Marked Script…</button>
        </div>
      </details>
      <button type="button" onMouseDown={keep} aria-pressed={cropping} title="Crop (Ctrl+Shift+C)" disabled={locked} onClick={() => t.crop.toggle()}>Crop</button>
    </div>
  );
}
