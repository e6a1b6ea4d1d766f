import { useApp } from './context';
import '../files.css';

// A click leaves the focus where it was, so Space and Return stay GO.
const keep = (e: MouseEvent) => e.preventDefault();

// The toolbar's File area: the script's files and its crop.
export function FileTools() {
  const { ctl } = useApp();
  const t = ctl.tools;
  const cropping = t.crop.frame.value !== null;
  return (
    <div class="group" role="group" aria-label="File">
      <button type="button" onMouseDown={keep} title="Save Script As… (Ctrl+Shift+S)" onClick={() => void t.files.saveAs()}>Save As…</button>
      <button type="button" onMouseDown={keep} title="Show Script in Files" onClick={() => void t.files.reveal()}>Show in Files</button>
      <button type="button" onMouseDown={keep} title="Take the marks of another version of the script" onClick={() => void t.files.importMarks()}>
        Take Marks…
      </button>
      <button type="button" onMouseDown={keep} aria-pressed={cropping} title="Crop (Ctrl+Shift+C)" onClick={() => t.crop.toggle()}>Crop</button>
    </div>
  );
}
