import { useSignal } from '@preact/signals';
import { useRef } from 'preact/hooks';
import type { Carry } from '../actions/carry';
import type { ReviewItem } from '../state/carry';
import { grownBox, pointOnText, type PageGeometry } from '../state/inserts';
import { pageLabel } from '../state/layout';
import { rowWindow } from '../state/sidebar';
import { useApp } from './context';
import { memo } from './memo';
import { useScrollBox } from './scroll_box';
import '../carry.css';

// A click leaves the focus where it was, so Space and Return stay GO.
const keep = (e: MouseEvent) => e.preventDefault();

// Every row the same height, so only the rows in view are drawn: a carry
// that left thousands of records to review costs no more than a screenful.
export const carryRowHeight = 64;

const tagWords = { changed: 'changed', review: 'review' } as const;

const CarryRow = memo(function carryRow({ item, index, count, current, locked, pageOffset }: {
  item: ReviewItem; index: number; count: number; current: boolean; locked: boolean; pageOffset: number;
}) {
  const { carry } = useApp();
  const page = pageLabel(item.page, pageOffset);
  return (
    <li
      aria-setsize={count}
      aria-posinset={index + 1}
      class={`carry-row${current ? ' current' : ''}`}
      style={{ top: `${index * carryRowHeight}px`, height: `${carryRowHeight}px` }}
    >
      <button
        type="button"
        class="carry-item"
        aria-current={current ? 'true' : undefined}
        onMouseDown={keep}
        onClick={() => carry.show(item.key)}
        title={item.snippet}
      >
        <span class="carry-head">
          <span class={`carry-tag ${item.tag}`}>{tagWords[item.tag]}</span>
          <span class="carry-name">{item.name}</span>
          <span class="carry-page">p. {page}</span>
        </span>
        <span class="carry-snippet">{item.snippet || '(no words)'}</span>
      </button>
      <span class="carry-actions">
        <button type="button" onMouseDown={keep} disabled={locked} onClick={() => void carry.accept(item.key)}>Accept</button>
        <button
          type="button"
          onMouseDown={keep}
          disabled={locked}
          aria-pressed={carry.placing.value?.key === item.key}
          onClick={() => carry.startPlacing(item.key)}
        >
          Place by Dragging
        </button>
        <button type="button" onMouseDown={keep} disabled={locked} onClick={() => void carry.remove(item.key)}>Delete</button>
      </span>
    </li>
  );
});

// The sidebar's list of the carried records that want a look: none, no section.
export function CarryReview() {
  const { store, carry } = useApp();
  const scroller = useRef<HTMLDivElement>(null);
  const scrollTop = useSignal(0);
  const viewHeight = useSignal(0);
  const list = carry.items.value;
  useScrollBox(scroller, { height: viewHeight, top: scrollTop }, [list.length === 0]);
  if (list.length === 0 || !store.doc.value) return null;
  const locked = store.locked.value;
  const changed = list.reduce((n, i) => n + (i.tag === 'changed' ? 1 : 0), 0);
  const currentKey = carry.focused.value?.key ?? '';
  const offset = store.cueState.value.pageLabelOffset;
  const { first, end } = rowWindow(list.length, carryRowHeight, scrollTop.value, viewHeight.value);
  return (
    <section class="side-carry" aria-label="Carried marks to review">
      <h2>
        To Review <span class="carry-count">{list.length}</span>
        {changed > 0 && (
          <button
            type="button"
            class="carry-all"
            onMouseDown={keep}
            disabled={locked || carry.busy.value}
            onClick={() => void carry.acceptAllChanged()}
          >
            Accept All Changed
          </button>
        )}
      </h2>
      <div class="carry-list" ref={scroller} onScroll={(e) => (scrollTop.value = (e.currentTarget as HTMLElement).scrollTop)}>
        <ol class="carry-rows" role="list" style={{ height: `${list.length * carryRowHeight}px` }}>
          {list.slice(first, end).map((item, k) => (
            <CarryRow
              key={item.key} item={item} index={first + k} count={list.length} current={item.key === currentKey} locked={locked}
              pageOffset={offset}
            />
          ))}
        </ol>
      </div>
    </section>
  );
}

// A quiet line over the script: the carry's progress while it runs, what the
// next drag will place, or what the carry did.
export function CarryBanner() {
  const { store, carry } = useApp();
  if (store.confidence) return null;
  const progress = carry.progressLine.value;
  const hint = carry.hint.value;
  const summary = carry.summaryLine.value;
  if (progress) return <div class="carry-banner" role="status">{progress}</div>;
  if (hint) {
    return (
      <div class="carry-banner placing" role="status">
        <span>{hint}</span>
        <button type="button" onMouseDown={keep} onClick={() => carry.cancelPlacing()}>Cancel</button>
      </div>
    );
  }
  if (!summary) return null;
  return (
    <div class="carry-banner" role="status">
      <span>{summary}</span>
      {carry.items.value.length > 0 && <button type="button" onMouseDown={keep} onClick={() => carry.review()}>Review</button>}
      <button type="button" onMouseDown={keep} aria-label="Close" onClick={() => carry.dismiss()}>×</button>
    </div>
  );
}

const boxStyle = (b: { x: number; y: number; w: number; h: number }) =>
  ({ left: `${b.x * 100}%`, top: `${b.y * 100}%`, width: `${b.w * 100}%`, height: `${b.h * 100}%` });

// On a page: the box of the item shown from the list, and the frame of a
// placing drag.
export function CarryPageLayer({ page, geom }: { page: number; geom: PageGeometry }) {
  const { carry } = useApp();
  const item = carry.focused.value;
  const drag = carry.dragBox.value;
  const shown = item && item.page === page ? item : null;
  if (!shown && drag?.page !== page) return null;
  return (
    <>
      {shown?.rects.map((r, i) => <div key={i} class="carry-focus" style={boxStyle(grownBox(geom, r, shown.insertID))} />)}
      {drag && drag.page === page && <div class="carry-drag" style={boxStyle(grownBox(geom, drag.rect))} />}
    </>
  );
}

// The page's pointer while a record waits to be placed: in the capture phase,
// so no box, memo or tool under it takes the drag. Positions go back through
// the page's geometry to the script's text.
export function carryPointer(carry: Carry, page: number, geom: PageGeometry) {
  const at = (e: PointerEvent) => {
    const r = (e.currentTarget as HTMLElement).getBoundingClientRect();
    const x = r.width > 0 ? (e.clientX - r.left) / r.width : 0;
    const y = r.height > 0 ? (e.clientY - r.top) / r.height : 0;
    return pointOnText(geom, x, y);
  };
  return {
    onPointerDownCapture: (e: PointerEvent) => {
      e.stopPropagation();
      if (e.button !== 0 || !carry.begin(page, at(e))) return;
      e.preventDefault();
      (e.currentTarget as HTMLElement).setPointerCapture?.(e.pointerId);
    },
    onPointerMoveCapture: (e: PointerEvent) => {
      e.stopPropagation();
      carry.move(at(e));
    },
    onPointerUpCapture: (e: PointerEvent) => {
      e.stopPropagation();
      void carry.end(at(e));
    },
    onPointerCancelCapture: () => carry.cancelDrag(),
    onDblClickCapture: (e: MouseEvent) => e.stopPropagation(),
  };
}
