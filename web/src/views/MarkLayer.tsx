import { Component } from 'preact';
import { useEffect, useLayoutEffect, useRef } from 'preact/hooks';
import type { Flag, Mark, Memo } from '../bridge/types';
import type { Marks } from '../actions/marks';
import {
  flatMarkGeometry, memoPalette, movedRect, resizedRect, shownBox, shownColor, shownRect,
  type MarkGeometry, type Pt, type Rect,
} from '../state/mark_shapes';
import { flatGeometry, pointOnText, type PageGeometry } from '../state/inserts';
import { clipText, shortText, tagChars, visibleChars } from '../state/shown_text';
import { useApp } from './context';
import { usePageGeometry } from './PageBands';
import { keepOrDrop, useEditField } from './field_keys';

const pct = (r: Rect) => ({ left: `${r.x * 100}%`, top: `${r.y * 100}%`, width: `${r.w * 100}%`, height: `${r.h * 100}%` });

// Tag faces (marks.css): a flag's role and the text of tags, px.
const tagRolePx = 12;
const tagTextPx = 9.84;
// The smallest memo font (marks.css clamps it).
const memoMinFontPx = 8;

// The page's shown size, px; a stand-in as large as a page gets before the
// page has one.
function usePagePx(): { w: number; h: number } {
  const f = usePageGeometry();
  return { w: f.width > 0 ? f.width : 4000, h: f.baseHeight > 0 ? f.baseHeight * (1 + f.geom.extra) : 6000 };
}

// A pointer that travelled less than this is a click.
const clickPx = 4;

// The page element a pointer event happened over, for its size on screen.
const pageRect = (e: PointerEvent): DOMRect | null =>
  (e.currentTarget as HTMLElement | null)?.closest('.page')?.getBoundingClientRect() ?? null;

// The one pointer drag of a tool on a page (there is one pointer).
let down: { x: number; y: number } | null = null;

// Handlers spread on a page while a mark tool is in hand: positions go back
// through the page's geometry (opened room, split rows) to the script's text.
export function markPointer(m: Marks, page: number, geometry: PageGeometry = flatGeometry) {
  const at = (e: PointerEvent): Pt => {
    const r = pageRect(e);
    if (!r || r.width <= 0 || r.height <= 0) return { x: 0, y: 0 };
    return pointOnText(geometry, (e.clientX - r.left) / r.width, (e.clientY - r.top) / r.height);
  };
  return {
    onPointerDown: (e: PointerEvent) => {
      if (e.button !== 0 || !m.begin(page, at(e))) return;
      down = { x: e.clientX, y: e.clientY };
      e.preventDefault();
      (e.currentTarget as HTMLElement).setPointerCapture?.(e.pointerId);
    },
    onPointerMove: (e: PointerEvent) => {
      if (down) m.move(at(e));
    },
    onPointerUp: (e: PointerEvent) => {
      if (!down) return;
      const click = Math.hypot(e.clientX - down.x, e.clientY - down.y) < clickPx;
      down = null;
      void m.end(at(e), click);
    },
    onPointerCancel: () => {
      down = null;
      m.cancelDrag();
    },
  };
}

// A move or resize of a memo or flag by its own handle: drawn as a draft
// while the pointer moves, sent once when it lets go (one undo step).
function useHandleDrag<T>(
  start: () => T, moved: (from: T, dx: number, dy: number, page: DOMRect) => T | null,
  onMove: (next: T) => void, onDone: (next: T | null, travelled: boolean) => void,
) {
  const state = useRef<{ x: number; y: number; from: T; last: T | null; travelled: boolean; page: DOMRect } | null>(null);
  return {
    onPointerDown: (e: PointerEvent) => {
      if (e.button !== 0) return;
      const page = pageRect(e);
      if (!page) return;
      e.stopPropagation();
      e.preventDefault();
      (e.currentTarget as HTMLElement).setPointerCapture?.(e.pointerId);
      state.current = { x: e.clientX, y: e.clientY, from: start(), last: null, travelled: false, page };
    },
    onPointerMove: (e: PointerEvent) => {
      const s = state.current;
      if (!s || (!s.travelled && Math.hypot(e.clientX - s.x, e.clientY - s.y) < clickPx)) return;
      s.travelled = true;
      s.last = moved(s.from, e.clientX - s.x, e.clientY - s.y, s.page);
      if (s.last) onMove(s.last);
    },
    onPointerUp: (e: PointerEvent) => {
      const s = state.current;
      state.current = null;
      if (s) {
        e.stopPropagation();
        onDone(s.last, s.travelled);
      }
    },
    onPointerCancel: () => {
      const s = state.current;
      state.current = null;
      if (s) onDone(null, false);
    },
  };
}

function MarkBox({ mark, geometry, selected }: { mark: Mark; geometry: MarkGeometry; selected: boolean }) {
  const kind = mark.kind === 'region' || mark.kind === 'cut' || mark.kind === 'hide' ? mark.kind : 'highlight';
  const style = { ...pct(shownRect(mark, geometry)), ...(kind === 'region' ? { '--mark-color': shownColor('region', mark.color) } : {}) };
  const page = usePagePx();
  return (
    <div class={`mark mark-${kind}${selected ? ' selected' : ''}`} data-mark={mark.id} data-kind={kind} style={style}>
      {kind === 'region' && mark.text && <span class="mark-tab">{shortText(mark.text, tagChars(page.w, tagTextPx))}</span>}
    </div>
  );
}

// The tab text of a new region, or of a selected one (F2): Return or leaving
// the field keeps it, Escape drops a new region.
function RegionEditor({ mark, geometry }: { mark: Mark; geometry: MarkGeometry }) {
  const { marks } = useApp();
  const { field, finish } = useEditField<HTMLInputElement>((text) =>
    text === null ? marks.cancelRegion() : marks.commitRegion(text));
  return (
    <div class="mark mark-region editing" style={{ ...pct(shownRect(mark, geometry)), '--mark-color': shownColor('region', mark.color) }}>
      <input
        ref={field}
        class="mark-tab-edit"
        aria-label="Region tab text"
        placeholder="Tab text (optional)"
        defaultValue={mark.text}
        onPointerDown={(e) => e.stopPropagation()}
        onKeyDown={keepOrDrop(finish)}
        onBlur={(e) => finish((e.target as HTMLInputElement).value)}
      />
    </div>
  );
}

function MemoText({ memo }: { memo: Memo }) {
  const { marks } = useApp();
  const { field, finish } = useEditField<HTMLTextAreaElement>((text) =>
    text === null ? marks.cancelMemoText() : marks.commitMemoText(text));
  return (
    <textarea
      ref={field}
      class="memo-edit"
      aria-label="Memo text"
      defaultValue={memo.text}
      onPointerDown={(e) => e.stopPropagation()}
      onKeyDown={(e) => {
        // Return is a new line here; Ctrl+Return keeps the text.
        if (e.key === 'Enter' && (e.ctrlKey || e.metaKey)) {
          e.preventDefault();
          finish((e.target as HTMLTextAreaElement).value);
        } else if (e.key === 'Escape') {
          e.preventDefault();
          finish(null);
        }
      }}
      onBlur={(e) => finish((e.target as HTMLTextAreaElement).value)}
    />
  );
}

const memoColorList: [string, string][] = [['', 'Yellow'], ['rose', 'Rose'], ['green', 'Green'], ['blue', 'Blue'], ['grey', 'Grey']];

function MemoView({ memo, geometry, editable, selected, editing }: {
  memo: Memo; geometry: MarkGeometry; editable: boolean; selected: boolean; editing: boolean;
}) {
  const { marks: m } = useApp();
  const palette = memoPalette(memo.color);
  const box = shownBox(memo, geometry);
  const page = usePagePx();
  // Only what the box can show is laid out: the rest lies past its edges.
  const room = visibleChars(box.w * page.w, box.h * page.h, memoMinFontPx);
  const extra = 1 + Math.max(0, geometry.extra);
  const wasSelected = useRef(false);
  const move = useHandleDrag<Memo>(
    () => memo,
    (from, dx, dy, page) => {
      const top = geometry.fromGrown(geometry.toGrown(from.y) + dy / page.height);
      return { ...from, ...movedRect({ ...from, x: from.x + dx / page.width, y: top }, 0, 0) };
    },
    (next) => m.drafting({ type: 'memo', rec: next }),
    (next) => (next ? void m.commitMemo(next) : m.undraft(memo.id)),
  );
  const resize = useHandleDrag<Memo>(
    () => memo,
    (from, dx, dy, page) => ({ ...from, ...resizedRect(from, dx / page.width, (dy / page.height) * extra) }),
    (next) => m.drafting({ type: 'memo', rec: next }),
    (next) => (next ? void m.commitMemo(next) : m.undraft(memo.id)),
  );
  // The body: a click selects, a click on the selected memo types in it.
  const body = useHandleDrag<Memo>(
    () => {
      wasSelected.current = selected;
      m.selectMemo(memo.id);
      return memo;
    },
    () => null,
    () => undefined,
    (_next, travelled) => {
      if (!travelled && wasSelected.current) m.editSelected();
    },
  );
  // Font as the export sizes it: a fifth of the memo's height, within bounds.
  const fontPx = `clamp(8px, calc(${(0.22 * box.h * 100).toFixed(3)}cqh), 14px)`;
  return (
    <div
      class={`memo${selected ? ' selected' : ''}${editable ? ' editable' : ''}`}
      data-memo={memo.id}
      data-color={memo.color || 'yellow'}
      role="note"
      aria-label={`Memo${memo.text ? `: ${shortText(memo.text, 300)}` : ''}`}
      style={{ ...pct(box), '--memo-paper': palette.paper, '--memo-edge': palette.edge, '--memo-font': fontPx }}
      {...(editable && !editing ? body : {})}
    >
      {editing ? <MemoText memo={memo} /> : <div class="memo-text">{clipText(memo.text, room.chars, room.lines).text}</div>}
      {editable && selected && !editing && (
        <>
          <div class="memo-head" title="Drag to move" {...move}>
            <span class="memo-grip" aria-hidden="true">⠿</span>
            {memoColorList.map(([id, name]) => (
              <button
                type="button"
                key={id || 'yellow'}
                class="memo-dot"
                aria-label={`Memo colour ${name}`}
                aria-pressed={(memo.color || '') === id}
                style={{ '--swatch': memoPalette(id).paper }}
                onPointerDown={(e) => e.stopPropagation()}
                onMouseDown={(e) => e.preventDefault()}
                onClick={() => m.setMemoColor(memo.id, id)}
              />
            ))}
          </div>
          <div class="memo-resize" title="Drag to resize" {...resize} />
        </>
      )}
    </div>
  );
}

// A flag hangs down from its point: role bold above its text, a bullet when
// it has neither.
function FlagChip({ flag, geometry, editable, selected }: { flag: Flag; geometry: MarkGeometry; editable: boolean; selected: boolean }) {
  const { marks: m } = useApp();
  const wasSelected = useRef(false);
  const drag = useHandleDrag<Flag>(
    () => {
      wasSelected.current = selected;
      m.selectFlag(flag.id);
      return flag;
    },
    (from, dx, dy, page) => {
      const y = geometry.fromGrown(geometry.toGrown(from.y) + dy / page.height);
      return { ...from, x: Math.min(Math.max(from.x + dx / page.width, 0), 1), y: Math.min(Math.max(y, 0), 1) };
    },
    (next) => m.drafting({ type: 'flag', rec: next }),
    (next, travelled) => {
      if (next) void m.commitFlag(next);
      else if (!travelled && wasSelected.current) m.editSelected();
    },
  );
  const page = usePagePx();
  const role = shortText(flag.role.trim(), tagChars(page.w, tagRolePx));
  const text = shortText(flag.text, tagChars(page.w, tagTextPx));
  const x = flag.x + geometry.shiftX(flag.x, flag.y);
  return (
    <div
      class={`flag${selected ? ' selected' : ''}${editable ? ' editable' : ''}`}
      data-flag={flag.id}
      role="note"
      aria-label={`Flag${role ? ` ${role}` : ''}${text ? `: ${text}` : ''}`}
      style={{ '--x': String(x), top: `${geometry.toGrown(flag.y) * 100}%`, '--flag-color': shownColor('flag', flag.color) }}
      {...(editable ? drag : {})}
    >
      {role && <span class="flag-role">{role}</span>}
      {text && <span class="flag-text">{text}</span>}
      {!role && !text && <span class="flag-role">•</span>}
    </div>
  );
}

// The role and text of a new flag (or of the selected one, F2).
function FlagForm({ flag, geometry }: { flag: Flag; geometry: MarkGeometry }) {
  const { marks } = useApp();
  const form = useRef<HTMLDivElement>(null);
  const done = useRef(false);
  useLayoutEffect(() => form.current?.querySelector('input')?.focus({ preventScroll: true }), []);
  const value = (name: string) => form.current?.querySelector<HTMLInputElement>(`input[name="${name}"]`)?.value ?? '';
  const finish = (keep: boolean) => {
    if (done.current) return;
    done.current = true;
    if (keep) marks.commitFlagForm(value('role'), value('text'));
    else marks.cancelFlagForm();
  };
  const onKey = (e: KeyboardEvent) => {
    if (e.key === 'Enter') {
      e.preventDefault();
      finish(true);
    } else if (e.key === 'Escape') {
      e.preventDefault();
      finish(false);
    }
  };
  return (
    <div
      ref={form}
      class="flag-form"
      role="group"
      aria-label="Flag"
      style={{ left: `${Math.min(flag.x, 0.7) * 100}%`, top: `${geometry.toGrown(flag.y) * 100}%`, '--flag-color': shownColor('flag', flag.color) }}
      onPointerDown={(e) => e.stopPropagation()}
      onFocusOut={(e) => {
        // Moving between its own fields is not leaving the form.
        if (!form.current?.contains(e.relatedTarget as Node | null)) finish(true);
      }}
    >
      <input name="role" aria-label="Flag role" placeholder="Role" defaultValue={flag.role} size={8} onKeyDown={onKey} />
      <input name="text" aria-label="Flag text" placeholder="Text" defaultValue={flag.text} size={16} onKeyDown={onKey} />
    </div>
  );
}

// The marks, memos and flags of one page, under the cue boxes as the export
// draws them: marks, memos, flags. A GO draws the page's cues again, not
// these: the layer follows its own signals only.
interface LayerProps { page: number; geometry?: MarkGeometry }

export class MarkLayer extends Component<LayerProps> {
  shouldComponentUpdate(next: LayerProps): boolean {
    return next.page !== this.props.page || next.geometry !== this.props.geometry;
  }

  render() {
    return <PageMarksView {...this.props} />;
  }
}

function PageMarksView({ page, geometry = flatMarkGeometry }: LayerProps) {
  const { store, marks: m } = useApp();
  useEffect(() => m.noteGeometry(page, geometry), [page, geometry]);
  const items = m.pageItems(page);
  const editable = store.cueMode.value && !store.confidence;
  const sel = m.selected.value;
  const selectedIDs = new Set(sel ? (sel.kind === 'marks' ? sel.recs.map((r) => r.id) : [sel.rec.id]) : []);
  const preview = m.preview.value;
  const region = m.regionEdit.value;
  const memo = m.memoEdit.value;
  const flag = m.flagEdit.value;
  const tool = editable ? m.tool.value : null;
  const memos = store.memosVisible.value ? items.memos : [];
  return (
    <div class="mark-layer" data-tool={tool ?? undefined}>
      {items.marks.map((mk) =>
        region && !region.isNew && region.rec.id === mk.id ? null : (
          <MarkBox key={mk.id} mark={mk} geometry={geometry} selected={selectedIDs.has(mk.id)} />
        ),
      )}
      {preview && preview.page === page &&
        preview.rects.map((r, i) => (
          <div
            key={i}
            class={`mark mark-${preview.kind === 'memo' ? 'memo-shape' : preview.kind} preview`}
            style={{ ...pct(shownRect(r, geometry)), ...(preview.kind === 'region' ? { '--mark-color': shownColor('region', m.colors.value.region) } : {}) }}
          />
        ))}
      {region && region.rec.page === page && <RegionEditor key={region.rec.id} mark={region.rec} geometry={geometry} />}
      {memos.map((x) => (
        <MemoView key={x.id} memo={x} geometry={geometry} editable={editable} selected={selectedIDs.has(x.id)} editing={memo?.rec.id === x.id} />
      ))}
      {memo && memo.isNew && memo.rec.page === page && (
        <MemoView key={memo.rec.id} memo={memo.rec} geometry={geometry} editable={editable} selected={false} editing />
      )}
      {items.flags.map((f) => (
        <FlagChip key={f.id} flag={f} geometry={geometry} editable={editable} selected={selectedIDs.has(f.id)} />
      ))}
      {flag && flag.rec.page === page && <FlagForm key={flag.rec.id} flag={flag.rec} geometry={geometry} />}
    </div>
  );
}
