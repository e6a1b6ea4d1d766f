// A page that opened room for inserted lines: its image in bands, each moved
// down by the room above it (a split row in three pieces, the words right of
// the insertion point moved right), and the inserted lines in their room.
import { createContext } from 'preact';
import { useContext, useLayoutEffect, useRef } from 'preact/hooks';
import { bands, flatGeometry, insertFontFamily, insertFontK, insertLineK, insertPadPx, type InsertPlace, type PageGeometry } from '../state/inserts';
import { pageLabel } from '../state/layout';
import { shortText } from '../state/shown_text';
import { useApp } from './context';

// What a layer drawn over a page needs to put a point of the script's text
// where the grown page shows it (geom.toGrown, geom.shiftX, grownBox).
export interface PageFrame {
  page: number;
  geom: PageGeometry;
  // Shown width and the page's own height before it grew, px.
  width: number;
  baseHeight: number;
}

export const PageFrameContext = createContext<PageFrame>({ page: -1, geom: flatGeometry, width: 0, baseHeight: 0 });

export function usePageGeometry(): PageFrame {
  return useContext(PageFrameContext);
}

export function PageImage({ url, index, frame, onLoad }: { url: string; index: number; frame: PageFrame; onLoad: () => void }) {
  const { geom, width, baseHeight } = frame;
  if (geom === flatGeometry || geom.gaps.length === 0) {
    return <img class="page-image" src={url} decoding="async" alt={`Page ${index + 1}`} draggable={false} onLoad={onLoad} />;
  }
  return (
    <>
      {bands(geom).map((b, i) => {
        const left = b.left + b.dx;
        // A piece moved right ends at the page's edge; only margin is lost.
        const w = Math.min(b.right - b.left, 1 - left);
        if (w <= 0 || left >= 1) return null;
        return (
          <div
            key={i}
            class="page-band"
            style={{ left: `${left * width}px`, top: `${(b.top + b.shift) * baseHeight}px`, width: `${w * width}px`, height: `${(b.bottom - b.top) * baseHeight}px` }}
          >
            <img
              class="page-image"
              src={url}
              decoding="async"
              alt={i === 0 ? `Page ${index + 1}` : ''}
              draggable={false}
              onLoad={onLoad}
              style={{ left: `${-b.left * width}px`, top: `${-b.top * baseHeight}px`, width: `${width}px`, height: `${baseHeight}px` }}
            />
          </div>
        );
      })}
    </>
  );
}

// The text of an inserted line sits as the export draws it: rows
// insertLineK line heights apart, the first row's line box starting half the
// extra leading above the box.
function textStyle(p: InsertPlace, baseHeight: number): Record<string, string> {
  const L = p.lineH * baseHeight;
  return {
    fontFamily: insertFontFamily,
    fontStyle: 'italic',
    fontSize: `${insertFontK * L}px`,
    lineHeight: `${insertLineK * L}px`,
    top: `${(-(insertLineK - 1) * L) / 2}px`,
    paddingLeft: `${insertPadPx}px`,
  };
}

function boxStyle(p: InsertPlace, frame: PageFrame, wide: boolean): Record<string, string> {
  const grownH = frame.baseHeight * (1 + frame.geom.extra);
  return {
    left: wide ? '0px' : `${p.x * frame.width}px`,
    top: `${p.dy * grownH}px`,
    width: wide ? '100%' : `${p.w * frame.width}px`,
    height: `${p.dh * grownH}px`,
  };
}

// The opened room with the inserted text, drawn as paper: the page's own
// filter applies, so on every theme the line reads like the script's text.
export function InsertRooms({ frame, hideID }: { frame: PageFrame; hideID: string }) {
  const { geom, width } = frame;
  if (geom.inserts.length === 0) return null;
  return (
    <div class="insert-rooms">
      {geom.inserts.map((p) => (
        <div key={p.id} class={`insert-room${p.inline ? ' inline' : ''}`} style={boxStyle(p, frame, !p.inline)} data-insert={p.id}>
          {p.id !== hideID && (
            <div class="insert-text" style={{ ...textStyle(p, frame.baseHeight), left: p.inline ? '0px' : `${p.x * width}px` }}>
              {p.lines.map((line, i) => <div key={i}>{line || ' '}</div>)}
            </div>
          )}
        </div>
      ))}
    </div>
  );
}

// The selected inserted line's outline, over the page.
export function InsertSelection({ frame, id }: { frame: PageFrame; id: string }) {
  const p = frame.geom.inserts.find((q) => q.id === id);
  if (!p) return null;
  return <div class="insert-selected" style={boxStyle(p, frame, false)} />;
}

// The field an inserted line is typed in, in its room: Return or leaving the
// field keeps it, Shift+Return starts another row, Escape drops it.
export function InsertField({ frame, id }: { frame: PageFrame; id: string }) {
  const { inserts } = useApp();
  const field = useRef<HTMLTextAreaElement>(null);
  const done = useRef(false);
  useLayoutEffect(() => {
    field.current?.focus({ preventScroll: true });
    const len = field.current?.value.length ?? 0;
    field.current?.setSelectionRange(len, len);
  }, [id]);
  const p = frame.geom.inserts.find((q) => q.id === id);
  if (!p) return null;
  const draft = inserts.draft.peek();
  const box = boxStyle(p, frame, false);
  const text = textStyle(p, frame.baseHeight);
  const width = p.inline ? Math.max(p.w * frame.width, insertFontK * p.lineH * frame.baseHeight) : (1 - p.x) * frame.width;
  const finish = (commit: boolean, refocus = true) => {
    if (done.current) return;
    done.current = true;
    if (commit) inserts.commit(field.current?.value ?? '', refocus);
    else inserts.cancel();
  };
  return (
    <textarea
      key="insert-field"
      ref={field}
      class="insert-field"
      aria-label="Inserted line"
      rows={p.rows}
      defaultValue={draft?.text ?? ''}
      spellcheck={false}
      style={{ ...text, left: box.left, top: `calc(${box.top} + ${text.top})`, width: `${width}px`, height: `${p.rows * insertLineK * p.lineH * frame.baseHeight}px` }}
      onPointerDown={(e) => e.stopPropagation()}
      onInput={(e) => inserts.setText((e.target as HTMLTextAreaElement).value)}
      onKeyDown={(e) => {
        if (e.key === 'Enter' && !e.shiftKey) {
          e.preventDefault();
          finish(true);
        } else if (e.key === 'Escape') {
          e.preventDefault();
          finish(false);
        }
      }}
      onBlur={() => finish(true, false)}
    />
  );
}

// Names the selected inserted line for a screen reader.
export function InsertSelectionLine() {
  const { store, inserts } = useApp();
  const id = store.selectedID.value ? '' : inserts.selectedID.value;
  const line = id ? store.cueState.value.inserts?.find((i) => i.id === id) : undefined;
  const text = line ? `Selected inserted line, page ${pageLabel(line.page, store.cueState.value.pageLabelOffset)}: ${shortText(line.text, 300).replace(/\s+/g, ' ').trim()}` : '';
  return (
    <div class="sr-only" aria-live="polite" data-testid="insert-selection">
      {text}
    </div>
  );
}
