import { useRef } from 'preact/hooks';
import { pageLabel } from '../state/layout';
import { useApp } from './context';
import { usePageGeometry } from './PageBands';
import '../files.css';

type Point = { x: number; y: number };

// A click leaves the keys where they were: Return stays the crop's, Space GO.
const keep = (e: MouseEvent) => e.preventDefault();

// Over every drawn page while Crop mode is on: a drag draws the frame on that
// page; the page it is on shows it, with the rest dimmed.
export function CropLayer({ index }: { index: number }) {
  const { store, tools } = useApp();
  const crop = tools.crop;
  const frame = crop.frame.value;
  // A page opened up for inserted lines is taller than the script page the
  // crop is made of: the frame is kept in script-page fractions.
  const { geom } = usePageGeometry();
  const start = useRef<Point | null>(null);
  if (!frame || store.confidence) return null;
  const at = (e: PointerEvent): Point => {
    const r = (e.currentTarget as HTMLElement).getBoundingClientRect();
    return { x: r.width > 0 ? (e.clientX - r.left) / r.width : 0, y: r.height > 0 ? geom.fromGrown((e.clientY - r.top) / r.height) : 0 };
  };
  const rect = frame.page === index ? frame.rect : null;
  const mine = rect && [rect[0], geom.toGrown(rect[1]), rect[2], geom.toGrown(rect[1] + rect[3]) - geom.toGrown(rect[1])];
  return (
    <div
      class="crop-layer"
      data-crop-page={index}
      onPointerDown={(e) => {
        if (e.button !== 0) return;
        e.stopPropagation();
        start.current = at(e);
        (e.currentTarget as HTMLElement).setPointerCapture?.(e.pointerId);
      }}
      onPointerMove={(e) => {
        const from = start.current;
        if (from) crop.draw(index, from, at(e));
      }}
      onPointerUp={(e) => {
        const from = start.current;
        start.current = null;
        e.stopPropagation();
        if (from) crop.draw(index, from, at(e));
      }}
    >
      {mine && (
        <div
          class="crop-frame"
          data-testid="crop-frame"
          style={{ left: `${mine[0] * 100}%`, top: `${mine[1] * 100}%`, width: `${mine[2] * 100}%`, height: `${mine[3] * 100}%` }}
        />
      )}
    </div>
  );
}

// What Crop mode offers, over the script: apply, back to the automatic crop,
// or leave.
export function CropBar() {
  const { store, tools } = useApp();
  const crop = tools.crop;
  const frame = crop.frame.value;
  if (!frame || store.confidence) return null;
  const label = pageLabel(frame.page, store.cueState.value.pageLabelOffset);
  return (
    <div class="crop-bar" role="toolbar" aria-label="Crop">
      <span class="crop-hint">
        Crop: drag a frame on a page (now page {label}); arrows move it, Shift+arrows size it
      </span>
      <button type="button" onMouseDown={keep} onClick={() => void crop.apply()}>Apply Crop</button>
      <button type="button" onMouseDown={keep} onClick={() => void crop.reset()}>Reset to Automatic Crop</button>
      <button type="button" onMouseDown={keep} onClick={() => crop.leave()}>Cancel</button>
    </div>
  );
}
