import { useComputed, useSignal } from '@preact/signals';
import { useCallback, useEffect, useMemo, useRef } from 'preact/hooks';
import type { Cue } from '../bridge/types';
import { cueColor, cueTag } from '../state/cues';
import {
  cueGutterItems, gutterSide, labelEdge, labelGutter, labelMeasurer, labelText, layoutGutterText, placeGutterLabels,
  type Gutter, type GutterLabel, type GutterSide,
} from '../state/labels';
import { shortText } from '../state/shown_text';
import {
  layoutRows, monitorPage, nearRows, pageLabel, pageOffset, renderPixelWidth, rowOfPage, spreads, totalHeight, visiblePage, type Row,
} from '../state/layout';
import { flatGeometry, grownBox, grownCue, insertAt } from '../state/inserts';
import { firedBit, glowBit, standbyBit } from '../state/store';
import { useApp } from './context';
import { keepOrDrop, useEditField } from './field_keys';
import { memo } from './memo';
import { useRenderEffect } from './render_effect';
import { useScrollBox } from './scroll_box';
import { InsertField, InsertRooms, InsertSelection, InsertSelectionLine, PageFrameContext, PageImage, type PageFrame } from './PageBands';
import { CueSheet, DraftCue } from './CueEditor';
import { CropBar, CropLayer } from './CropFrame';
import { PageNote } from './PageNotesSheet';
import { PageSheet } from './PageSheets';
import { ResumeBanner } from './ResumeBanner';
import { FindBar } from './FindBar';
import { GoToPage } from './GoToPage';
import { MarkLayer, markPointer } from './MarkLayer';
import { MarkTools } from './MarkTools';
import { CarryBanner, CarryPageLayer, carryPointer } from './CarryReview';
import { ScanBadge } from './ScanStatus';

const gap = 12;

// Consecutive row indexes as text ("first:last", empty for none): equal
// while the range is, so a scroll step that changes no row wakes nothing.
function rowRange(indexes: number[]): string {
  return indexes.length === 0 ? '' : `${indexes[0]}:${indexes[indexes.length - 1]}`;
}

function rowsIn(range: string): number[] {
  if (range === '') return [];
  const [from, to] = range.split(':').map(Number);
  const rows: number[] = [];
  for (let i = from; i <= to; i++) rows.push(i);
  return rows;
}
// A tooltip or a spoken line holds the start of a long label only.
const tipChars = 300;
const tipLines = 6;

// One cue on its page. It reads its own run status, so a GO draws again only
// the boxes of the cues it changed; its label's place in the gutter comes from
// the page, laid out again only when the page's cues or size do.
const CueBox = memo(function cueBox({ cue, place, gutter, side, fontPx, pageWidth, color, selected, editing, selectable }: {
  cue: Cue; place: GutterLabel | undefined; gutter: Gutter; side: GutterSide; fontPx: number; pageWidth: number; color?: string;
  selected?: boolean; editing?: boolean; selectable?: boolean;
}) {
  const { store, selection } = useApp();
  const bits = store.runStatus(cue.id).value;
  const standby = (bits & standbyBit) !== 0;
  const glow = (bits & glowBit) !== 0;
  const fired = (bits & firedBit) !== 0;
  const tag = cueTag(cue);
  // A chip shows the whole label while its cue is selected, over the page
  // beside the gutter rather than past the view's edge.
  const wide = useMemo(() => {
    if (!place || !gutter.chip || !selected) return null;
    const room = { px: Math.max(gutter.px, Math.min(16 * fontPx, pageWidth)), chip: false };
    const text = layoutGutterText(labelText(cue), tag, room, fontPx, labelMeasurer(fontPx));
    return { ...text, left: outerBox(side, pageWidth, gutter, text.width).left };
  }, [place, gutter, selected, cue, side, pageWidth, fontPx]);
  const cls = `cue${standby ? ' standby' : ''}${glow ? ' glow' : ''}${fired ? ' fired' : ''}${selected ? ' selected' : ''}${selectable ? ' editable' : ''}${cue.carry === 'review' ? ' carry-review' : ''}`;
  const shown = wide ?? place;
  const labelStyle = shown && place ? {
    left: `${shown.left}px`,
    width: `${shown.width}px`,
    top: `${place.top + place.height / 2}px`,
    fontSize: `${fontPx}px`,
    ...(color ? { '--cue-color': color } : {}),
  } : null;
  return (
    <>
      <div
        class={cls}
        data-cue={cue.id}
        onPointerDown={selectable ? (e) => { e.stopPropagation(); selection.select(cue.id); } : undefined}
        style={{
          left: `${cue.x * 100}%`,
          top: `${cue.y * 100}%`,
          width: `${cue.w * 100}%`,
          height: `${cue.h * 100}%`,
          ...(color ? { '--cue-color': color } : {}),
        }}
      />
      {labelStyle && (editing ? (
        <LabelEditor
          cue={cue}
          style={{ ...labelStyle, ...editorBox(side, pageWidth, gutter, fontPx) }}
          onDone={(text, left) => (text === null ? selection.cancelLabel() : selection.commitLabel(text, !left))}
        />
      ) : (
        <div
          class={`cue-label${glow ? ' glow' : ''}${fired ? ' fired' : ''}${gutter.chip ? ' chip' : ''}${wide ? ' expanded' : ''}`}
          style={labelStyle}
          data-side={side}
          title={shortText(cue.label, tipChars, tipLines)}
          onPointerDown={gutter.chip ? (e) => { e.stopPropagation(); if (selectable) selection.select(cue.id); } : undefined}
        >
          {labelSpans(tag, shown!.lines.join('\n'))}
        </div>
      ))}
    </>
  );
});

// A box `width` wide against the gutter's outer edge: it may reach over the
// page, never past the gutter into the next page or off the view.
function outerBox(side: GutterSide, pageWidth: number, gutter: Gutter, width: number): { left: number } {
  return { left: side === 'right' ? pageWidth + gutter.px - labelEdge - width : -gutter.px + labelEdge };
}

// The tag and the label's words in their own colours; the lines as laid out.
function labelSpans(tag: string, text: string) {
  if (!text.startsWith(tag)) return <span class="cue-label-tag">{text}</span>;
  return (
    <>
      <span class="cue-label-tag">{tag}</span>
      {text.length > tag.length && <span class="cue-label-text">{text.slice(tag.length)}</span>}
    </>
  );
}

// The label field stands where the label does, against the gutter's outer
// edge: focusing a field that ran past the view would scroll the script
// sideways.
function editorBox(side: GutterSide, pageWidth: number, gutter: Gutter, fontPx: number): Record<string, string> {
  const width = Math.max(gutter.px - 2 * labelEdge, Math.min(16 * fontPx, Math.max(0, pageWidth - 4)));
  return { left: `${outerBox(side, pageWidth, gutter, width).left}px`, width: `${width}px` };
}

// The thin lines from the cue boxes to their labels in the gutter.
function Leaders({ placed, colors }: { placed: readonly GutterLabel[]; colors: ReadonlyMap<string, string | undefined> }) {
  if (placed.length === 0) return null;
  return (
    <svg class="label-leaders" aria-hidden="true">
      {placed.map((l) => (
        <line key={l.id} x1={l.leader[0]} y1={l.leader[1]} x2={l.leader[2]} y2={l.leader[3]} style={colors.get(l.id) ? { '--cue-color': colors.get(l.id) } : undefined} />
      ))}
    </svg>
  );
}

// The selected cue's label edited in place (F2 or Ctrl+Return): Return or
// leaving the field keeps it (the native side blurs the field on quit),
// Escape drops the change.
function LabelEditor({ cue, style, onDone }: { cue: Cue; style: Record<string, string>; onDone: (text: string | null, left?: boolean) => void }) {
  const { field, finish } = useEditField<HTMLInputElement>(onDone, true);
  return (
    <input
      ref={field}
      class="cue-label-edit"
      style={style}
      aria-label={`Label of cue ${cueTag(cue)}`}
      defaultValue={cue.label}
      onKeyDown={keepOrDrop(finish)}
      onBlur={(e) => finish((e.currentTarget as HTMLInputElement).value, true)}
    />
  );
}

const noCues: Cue[] = [];

// A page and what is drawn on it. Nothing of the run is read here: a GO draws
// only the cue boxes it changed (CueBox).
const PageView = memo(function pageView({ index, width, height, gutter, side, onLoaded }: {
  index: number; width: number; height: number; gutter: Gutter; side: GutterSide; onLoaded: (index: number) => void;
}) {
  const { store, images, finder, inserts, marks, cueMode: placing, carry } = useApp();
  const image = images.image(index).value;
  // Until a long script's crop is known its marks would be drawn off their
  // words, in a frame about to change: the page shows the script alone.
  const pending = store.doc.value?.linesPending === true;
  const cues = pending ? noCues : store.cueIndex.value.get(index) ?? noCues;
  const editingLabel = store.editingLabel.value;
  const fontPx = store.settings.value?.cueLabelFontPx ?? 14;
  const types = store.settings.value?.cueTypes;
  const hitIndex = finder.index.value;
  const hit = hitIndex >= 0 ? finder.hits.value[hitIndex] : undefined;
  const cueMode = store.cueMode.value && !pending;
  const selectedID = store.selectedID.value;
  const draft = store.draft.value;
  const cursor = cueMode ? store.lineCursor.value : null;
  // The page grows by the room its inserted lines open; everything placed
  // on it goes through its geometry.
  const baseHeight = height / (1 + inserts.extra(index));
  const geom = inserts.geometry(index, width, baseHeight);
  const frame = useMemo<PageFrame>(() => ({ page: index, geom, width, baseHeight }), [index, geom, width, baseHeight]);
  const shown = useMemo(() => cues.map((c) => grownCue(geom, c)), [cues, geom]);
  const placed = useMemo(
    () => placeGutterLabels(cueGutterItems(shown, width, height), width, height, side, gutter, fontPx, labelMeasurer(fontPx)),
    [shown, width, height, side, gutter, fontPx],
  );
  const placeOf = useMemo(() => new Map(placed.map((l) => [l.id, l])), [placed]);
  const colors = useMemo(() => new Map(shown.map((c) => [c.id, cueColor(c, types)])), [shown, types]);
  const insertDraft = inserts.draft.value;
  const typing = insertDraft && insertDraft.page === index && !insertDraft.sent ? insertDraft.id : '';
  const insertSelected = cueMode && !selectedID ? inserts.selectedID.value : '';
  const armed = cueMode && inserts.armed.value;
  const start = useRef<{ x: number; y: number } | null>(null);
  const overlay = useRef<HTMLDivElement>(null);
  const grown = (r: number[]) => grownBox(geom, { x: r[0], y: r[1], w: r[2], h: r[3] });
  const boxStyle = (b: { x: number; y: number; w: number; h: number }) =>
    ({ left: `${b.x * 100}%`, top: `${b.y * 100}%`, width: `${b.w * 100}%`, height: `${b.h * 100}%` });
  // Pointer positions as fractions of the displayed page.
  const at = (e: PointerEvent) => {
    const r = (e.currentTarget as HTMLElement).getBoundingClientRect();
    return { x: r.width > 0 ? (e.clientX - r.left) / r.width : 0, y: r.height > 0 ? (e.clientY - r.top) / r.height : 0 };
  };
  // A carried record waiting for its drag takes the next one, in Cue Mode or out of it.
  const carrying = !store.confidence && !pending && carry.placing.value !== null;
  const pointer = carrying
    ? carryPointer(carry, index, geom)
    : cueMode && !armed && marks.tool.value
    ? markPointer(marks, index, geom)
    : cueMode
    ? {
        onPointerDown: (e: PointerEvent) => {
          if (e.button !== 0 || store.draft.peek() || inserts.draft.peek()) return;
          start.current = at(e);
          store.selectedID.value = '';
          inserts.selectedID.value = '';
        },
        onPointerUp: (e: PointerEvent) => {
          const from = start.current;
          start.current = null;
          if (!from) return;
          const r = inserts.pointer(index, geom, from, at(e), width, baseHeight);
          if (!r.handled) void placing.placeCue(index, r.from, r.to);
        },
        onDblClick: (e: MouseEvent) => {
          const p = at(e as PointerEvent);
          const hit = insertAt(geom, p.x, p.y);
          if (hit) void inserts.edit(hit.place.id);
        },
      }
    : {};
  return (
    <PageFrameContext.Provider value={frame}>
    <div
      class={`page${cueMode ? ' cue-mode' : ''}${armed ? ' inserting' : ''}${carrying ? ' carry-placing' : ''}`}
      style={{ width: `${width}px`, height: `${height}px`, [side === 'right' ? 'marginRight' : 'marginLeft']: `${gutter.px}px` }}
      data-page={index}
      data-gutter={side}
      {...pointer}
    >
      <div class={`label-gutter ${side}`} style={{ width: `${gutter.px}px` }} aria-hidden="true" />
      {image && <PageImage url={image.url} index={index} frame={frame} onLoad={() => onLoaded(index)} />}
      {geom !== flatGeometry && <InsertRooms frame={frame} hideID={typing} />}
      {/* Under the marks, so none is hidden by it; the monitor has no use for it. */}
      {!store.confidence && <ScanBadge page={index} />}
      <div class="overlays" ref={overlay}>
        {!pending && <MarkLayer page={index} geometry={geom} />}
        <Leaders placed={placed} colors={colors} />
        {shown.map((c) => (
          <CueBox
            key={c.id}
            cue={c}
            place={placeOf.get(c.id)}
            gutter={gutter}
            side={side}
            fontPx={fontPx}
            pageWidth={width}
            color={colors.get(c.id)}
            selected={cueMode && c.id === selectedID}
            editing={cueMode && editingLabel && c.id === selectedID}
            selectable={cueMode}
          />
        ))}
        {draft && draft.page === index && <DraftCue cue={grownCue(geom, draft)} color={cueColor(draft, types)} />}
        {cursor && cursor.page === index && <div class="line-cursor" data-line={cursor.line} style={boxStyle(grown(cursor.rect))} />}
        {hit && hit.page === index && <div class="find-hit" style={boxStyle(grown(hit.rect))} />}
        {insertSelected && <InsertSelection frame={frame} id={insertSelected} />}
        {!store.confidence && !pending && <CarryPageLayer page={index} geom={geom} />}
      </div>
      {typing && <InsertField key={typing} frame={frame} id={typing} />}
      <PageNote index={index} />
      <CropLayer index={index} />
    </div>
    </PageFrameContext.Provider>
  );
});

// Names the selected cue for a screen reader as the keys move the selection.
function SelectionLine() {
  const { store } = useApp();
  const i = store.cueOrder.value.get(store.selectedID.value);
  const cue = i === undefined ? undefined : store.cues.value[i];
  const text = cue
    ? `Selected cue ${cueTag(cue)}${cue.label ? `, ${shortText(cue.label, tipChars, 1)}` : ''}, page ${pageLabel(cue.page, store.cueState.value.pageLabelOffset)}`
    : '';
  return (
    <div class="sr-only" aria-live="polite" data-testid="cue-selection">
      {text}
    </div>
  );
}

// Names the line under the line cursor as the keys move it.
function CursorLine() {
  const { cursor } = useApp();
  return (
    <div class="sr-only" aria-live="polite" data-testid="line-cursor">
      {cursor.announcement()}
    </div>
  );
}

export function ScriptView() {
  const { store, inserts, images, finder, documents, scriptView } = useApp();
  const scroller = useRef<HTMLDivElement>(null);
  const viewWidth = useSignal(0);
  const viewHeight = useSignal(0);
  const scrollTop = useSignal(0);
  // Set while the page moves the scroll position itself, so that only the
  // operator's own scrolling stops following the standby cue.
  const programmatic = useRef(false);
  const loaded = useMemo(() => ({ generation: -1, pages: new Set<number>() }), []);

  // The monitor reads one page at a time, as wide as its window: the page of
  // the standby cue its head shows (a saved run's while the resume offer is
  // open, as that is what GO will fire). A number, so a GO on the same page
  // lays nothing out again.
  const shownPage = useComputed(() => {
    const doc = store.doc.value;
    if (!store.confidence || !doc) return -1;
    const i = store.cueOrder.value.get(store.lastFiredID.value);
    return monitorPage(store.summary.value.standby, i === undefined ? undefined : store.cues.value[i], store.visiblePage.peek(), doc.pageCount);
  });

  // The label gutter beside each page: its width follows the label font and
  // the column, the same for every page.
  const gutter = useComputed(() =>
    labelGutter(viewWidth.value - 2 * gap, store.confidence ? 1 : store.pagesPerSpread.value, store.settings.value?.cueLabelFontPx ?? 14));

  const rows = useComputed<Row[]>(() => {
    const doc = store.doc.value;
    if (!doc || viewWidth.value <= 0) return [];
    const view = { width: viewWidth.value - 2 * gap, gap, gutter: gutter.value.px };
    if (store.confidence)
      return layoutRows([[shownPage.value]], doc.aspects, 1, { ...view, zoom: 1 }, inserts.extras.value);
    const per = store.pagesPerSpread.value;
    const groups = spreads(doc.pageCount, per, store.cueState.value.spreadOffset);
    return layoutRows(groups, doc.aspects, per, { ...view, zoom: store.zoom.value }, inserts.extras.value);
  });

  // Closing the find bar gives the keyboard back here, so Return is GO again.
  useEffect(() => {
    scriptView.setFocus(() => scroller.current?.focus());
    return () => scriptView.setFocus(() => undefined);
  }, []);

  // The text-size steps measure against the column the pages are laid out in.
  useEffect(() => {
    if (store.confidence) return;
    scriptView.setColumnWidth(() => viewWidth.peek() - 2 * gap);
    return () => scriptView.setColumnWidth(() => 0);
  }, []);

  useScrollBox(scroller, { width: viewWidth, height: viewHeight, top: scrollTop });

  const content = useRef<HTMLDivElement>(null);
  const scrollTo = (top: number) => {
    const el = scroller.current;
    if (!el) return;
    // A new layout (one page per row, a zoom step) is scrolled to before it
    // is drawn: the content takes its new height now, or the browser would
    // clamp the place to the old, shorter script.
    const height = totalHeight(rows.peek(), gap);
    if (content.current && content.current.offsetHeight < height) content.current.style.height = `${height}px`;
    const target = Math.round(Math.max(0, Math.min(top, el.scrollHeight - el.clientHeight)));
    if (Math.abs(el.scrollTop - target) < 1) return;
    programmatic.current = true;
    el.scrollTop = target;
    scrollTop.value = el.scrollTop;
  };

  const standbyCue = store.standbyCue;

  const cueOffset = (cue: Cue, rs: Row[]): number | null => pageOffset(rs, cue.page, inserts.grownY(cue.page, cue.y, cue.insertID));

  // Where the reading line sits (page and fraction down it), so that a new
  // layout (zoom, resize, one or two pages) keeps the operator's place.
  const anchor = useRef<{ generation: number; page: number; fraction: number } | null>(null);
  const handledRequest = useRef(0);
  const noteAnchor = () => {
    const rs = rows.peek();
    if (rs.length === 0) return;
    const line = scrollTop.peek() + viewHeight.peek() / 3;
    const r = rowOfPage(rs, visiblePage(rs, scrollTop.peek(), viewHeight.peek()));
    if (r < 0) return;
    const fraction = Math.min(1, Math.max(0, (line - rs[r].top) / rs[r].height));
    anchor.current = { generation: store.generation.peek(), page: rs[r].pages[0], fraction };
  };

  // Scroll requests from the actions (open, page keys, pedals), each
  // carried out once; otherwise a new layout keeps the anchored place.
  useRenderEffect(() => {
    const req = store.scrollRequest.value;
    const rs = rows.value;
    if (rs.length === 0) return null;
    const fresh = req && req.seq !== handledRequest.current;
    return { rs, seq: fresh ? req.seq : null, y: fresh ? pageOffset(rs, req.page, inserts.grownY(req.page, req.y)) : null };
  }, (to) => {
    if (!to) return;
    if (to.seq !== null && to.seq !== handledRequest.current) {
      handledRequest.current = to.seq;
      if (to.y !== null) scrollTo(to.y - gap);
      noteAnchor();
      return;
    }
    const a = anchor.current;
    if (!a || a.generation !== store.generation.peek() || store.follow.peek() || store.confidence) return;
    const r = rowOfPage(to.rs, a.page);
    if (r >= 0) scrollTo(to.rs[r].top + a.fraction * to.rs[r].height - viewHeight.peek() / 3);
  });

  // The line cursor stays in view: a line outside it is brought to the
  // reading line; one already in view does not move the script.
  useRenderEffect(() => {
    const c = store.lineCursor.value;
    const rs = rows.value;
    if (!c || rs.length === 0) return null;
    const top = pageOffset(rs, c.page, inserts.grownY(c.page, c.rect[1]));
    const bottom = pageOffset(rs, c.page, inserts.grownY(c.page, c.rect[1] + c.rect[3]));
    return top === null || bottom === null ? null : { top, bottom };
  }, (line) => {
    if (!line) return;
    const viewTopPx = scrollTop.peek();
    if (line.top < viewTopPx || line.bottom > viewTopPx + viewHeight.peek()) scrollTo(line.top - viewHeight.peek() / 3);
  });

  // The top of the view as a page and a fraction down it, where the line
  // cursor starts with no cue selected.
  useEffect(() => {
    scriptView.setTop(() => {
      const rs = rows.peek();
      const r = rowOfPage(rs, visiblePage(rs, scrollTop.peek(), viewHeight.peek()));
      if (r < 0) return { page: store.visiblePage.peek(), y: 0 };
      const y = Math.min(1, Math.max(0, (scrollTop.peek() - rs[r].top) / rs[r].height));
      return { page: rs[r].pages[0], y: inserts.textY(rs[r].pages[0], y) };
    });
  }, []);

  // Follow the standby cue: after a GO (in the frame that draws it), and
  // always on the monitor.
  useRenderEffect(() => {
    const cue = standbyCue.value;
    const rs = rows.value;
    const follow = store.follow.value || store.confidence;
    return cue && follow && rs.length > 0 ? cueOffset(cue, rs) : null;
  }, (y) => {
    if (y !== null) scrollTo(y - viewHeight.peek() / 3);
  });

  const checkShown = () => {
    if (loaded.generation !== store.generation.peek()) return;
    const rs = rows.peek();
    for (const i of nearRows(rs, scrollTop.peek(), viewHeight.peek(), 0))
      for (const p of rs[i].pages) if (loaded.pages.has(p)) return documents.pageShown(loaded.generation, p);
  };

  // One function for the life of the view, so the pages need not draw again
  // when the view does (a scroll, a GO that moves it).
  const onLoaded = useCallback((index: number) => {
    const generation = store.generation.peek();
    if (loaded.generation !== generation) {
      loaded.generation = generation;
      loaded.pages.clear();
    }
    loaded.pages.add(index);
    checkShown();
  }, []);

  // Images for the rows within one screen of the viewport, nearest first;
  // those beyond the view are drawn ahead, after the ones in it. Worked out
  // again only when the rows near the view or the page read change, not on
  // every step of a scroll.
  const near = useComputed(() => rowRange(nearRows(rows.value, scrollTop.value, viewHeight.value, viewHeight.value)));
  const inView = useComputed(() => rowRange(nearRows(rows.value, scrollTop.value, viewHeight.value, 0)));
  const readPage = useComputed(() => (rows.value.length > 0 ? visiblePage(rows.value, scrollTop.value, viewHeight.value) : -1));
  useRenderEffect(() => {
    const rs = rows.value;
    const seen = new Set(rowsIn(inView.value));
    const ratio = globalThis.devicePixelRatio || 1;
    const centre = scrollTop.peek() + viewHeight.value / 2;
    const wanted = rowsIn(near.value)
      .sort((a, b) => Math.abs(rs[a].top + rs[a].height / 2 - centre) - Math.abs(rs[b].top + rs[b].height / 2 - centre))
      .flatMap((i) => rs[i].pages.map((p, k) => {
        const width = renderPixelWidth(rs[i].widths[k], ratio);
        const height = rs[i].widths[k] > 0 ? Math.round((width * rs[i].heights[k]) / rs[i].widths[k]) : undefined;
        return { index: p, width, height, ahead: !seen.has(i) };
      }));
    return { wanted, visible: readPage.value };
  }, ({ wanted, visible }) => {
    images.want(wanted);
    if (visible >= 0 && !store.confidence) documents.visiblePageChanged(visible);
  });

  // The rows in the document change only every few hundred pixels of a
  // scroll; the view draws again then, not on every step.
  const drawnRange = useComputed(() => rowRange(nearRows(rows.value, scrollTop.value, viewHeight.value, 2 * viewHeight.value)));

  const onScroll = () => {
    const el = scroller.current;
    if (!el) return;
    scrollTop.value = el.scrollTop;
    noteAnchor();
    if (programmatic.current) {
      programmatic.current = false;
    } else {
      const cue = standbyCue.peek();
      const y = cue ? cueOffset(cue, rows.peek()) : null;
      if (y !== null && (y < el.scrollTop || y > el.scrollTop + el.clientHeight)) store.follow.value = false;
    }
    checkShown();
  };

  const rs = rows.value;
  const height = totalHeight(rs, gap);
  const g = gutter.value;
  const slots = store.confidence ? 1 : store.pagesPerSpread.value;
  const offset = store.cueState.peek().spreadOffset;
  const sideOf = (p: number) => gutterSide(p, slots, offset);
  // Rows beyond the image margin are not in the document at all: a long
  // script costs only the rows around the viewport.
  const drawn = rowsIn(drawnRange.value);
  const showBack = useComputed(() => !store.confidence && !store.follow.value && standbyCue.value !== undefined).value;

  return (
    <div class="script-wrap">
      {/* In the flow above the script: it pushes the pages down rather than
          covering cue labels or the find bar. */}
      <ResumeBanner />
      <CarryBanner />
      <div class="script-area">
        {finder.open.value && !store.confidence && <FindBar />}
        <PageSheet />
        <CropBar />
        {store.gotoOpen.value && !store.confidence && <GoToPage />}
        {store.sheet.value && !store.confidence && <CueSheet cue={store.sheet.value} />}
        {!store.confidence && store.cueMode.value && <MarkTools />}
        <div class="script" ref={scroller} onScroll={onScroll} tabIndex={-1}>
          <div class="script-content" ref={content} style={{ height: `${height}px`, width: `${Math.max(viewWidth.value, rs[0] ? slots * (rs[0].widths[0] + g.px) + (slots + 1) * gap : 0)}px` }}>
            {drawn.map((i) => {
              const row = rs[i];
              return (
                <div class="row" key={`${store.generation.value}:${row.pages.join('-')}`} style={{ top: `${row.top}px`, height: `${row.height}px` }}>
                  {row.pages.map((p, k) => (
                    <PageView key={p} index={p} width={row.widths[k]} height={row.heights[k]} gutter={g} side={sideOf(p)} onLoaded={onLoaded} />
                  ))}
                </div>
              );
            })}
          </div>
        </div>
        {!store.confidence && store.cueMode.value && <SelectionLine />}
        {!store.confidence && store.cueMode.value && <CursorLine />}
        {!store.confidence && store.cueMode.value && <InsertSelectionLine />}
        {showBack && (
          <button type="button" class="back-to-standby" onMouseDown={(e) => e.preventDefault()} onClick={() => (store.follow.value = true)}>
            Back to standby
          </button>
        )}
      </div>
    </div>
  );
}
