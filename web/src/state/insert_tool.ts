// Inserted lines in Cue Mode: making one (pointer or line cursor), editing
// its text, selecting and removing it, placing a cue on it; and the page
// geometry of every page, computed once per change of the inserts (a GO
// leaves them alone, so it never lays a page out again).

import { computed, signal } from '@preact/signals';
import type { Cue, Insert } from '../bridge/types';
import { draftCue, isTextRectAnswer, newCueID, textRectArgs } from './cue_edit';
import {
  extrasByPage, flatGeometry, insertAt, insertFont, insertFontK, insertPadPx, pageGeometry, pointOnText, rightMargin,
  type InsertPlace, type Measure, type PageGeometry,
} from './inserts';
import { sanitizeAspect } from './layout';
import type { LineRect } from './line_cursor';
import { requestScroll, sameCues, type Store } from './store';

export interface InsertSpot { afterY: number; lineMidY: number; x: number }

// Where an insert being typed goes: as a line of its own (`gap`), or inside
// a line (`inline`) while its text fits beside the words it pushes right.
export interface InsertDraft {
  id: string;
  page: number;
  text: string;
  existing: boolean;
  generation: number;
  lineH: number;
  gap: InsertSpot;
  inline: (InsertSpot & { lineRight: number }) | null;
  // Sent to the engine; shown until its "cueState" carries it.
  sent?: boolean;
}

// Room under a page's last line, and above its first, in line heights.
const endPad = 0.2;
// A word starting this close to its line's left edge is the line's first.
const lineStartSlack = 0.002;

// Under line i: halfway to the next line of the page, or a little below the
// line at the end of the page (or of a column).
export function gapBelow(lines: readonly LineRect[], i: number, x = lines[i][0]): InsertSpot {
  const [, y, , h] = lines[i];
  const bottom = y + h;
  const next = lines[i + 1];
  const afterY = next && next[1] >= bottom - 0.25 * h ? (bottom + Math.max(bottom, next[1])) / 2 : Math.min(1, bottom + endPad * h);
  return { afterY, lineMidY: afterY, x };
}

function gapAbove(lines: readonly LineRect[], i: number): InsertSpot {
  const [x, y, , h] = lines[i];
  if (i > 0) return gapBelow(lines, i - 1, x);
  const afterY = Math.max(0, y - endPad * h);
  return { afterY, lineMidY: afterY, x };
}

// Where a click at `p` (a point of the script's text) inserts: on a line's
// words, before the word there (`wordStart`: its left edge); at a line's
// first word, above that line; past its end, below it; between lines, under
// the line above.
export function spotAt(
  lines: readonly LineRect[], p: { x: number; y: number }, wordStart: number | null,
): { gap: InsertSpot; inline: InsertDraft['inline']; lineH: number } | null {
  if (lines.length === 0) return null;
  const on = lines.findIndex((r) => p.y >= r[1] && p.y <= r[1] + r[3]);
  if (on >= 0) {
    const [x, y, w, h] = lines[on];
    const start = wordStart ?? p.x;
    if (start <= x + lineStartSlack) return { gap: gapAbove(lines, on), inline: null, lineH: h };
    if (start < x + w) {
      return { gap: gapBelow(lines, on), inline: { afterY: y + h, lineMidY: y + h / 2, x: start, lineRight: x + w }, lineH: h };
    }
    return { gap: gapBelow(lines, on), inline: null, lineH: h };
  }
  let above = -1;
  lines.forEach((r, i) => {
    const bottom = r[1] + r[3];
    if (bottom <= p.y && (above < 0 || bottom > lines[above][1] + lines[above][3])) above = i;
  });
  if (above >= 0) return { gap: gapBelow(lines, above), inline: null, lineH: lines[above][3] };
  return { gap: gapAbove(lines, 0), inline: null, lineH: lines[0][3] };
}

// The record a draft makes. Inside a line only while the text is one line
// and the pushed words still end inside the page; otherwise under that line.
// The width ratio needs only the page's aspect (the font scales with it).
export function draftRecord(d: InsertDraft, aspect: number, measure: Measure): Insert {
  let spot: InsertSpot = d.gap;
  if (d.inline && !/\n/.test(d.text)) {
    const wpx = 1000;
    const fontPx = insertFontK * d.lineH * (wpx / sanitizeAspect(aspect));
    const dR = (measure(d.text, fontPx) + measure(' ', fontPx)) / wpx;
    if (d.inline.lineRight + dR <= 1 - rightMargin) spot = d.inline;
  }
  return { id: d.id, text: d.text, page: d.page, afterY: spot.afterY, lineMidY: spot.lineMidY, lineH: d.lineH, x: spot.x };
}

// The words of an inserted line's first row under a drag from `fromX` to
// `toX` (width fractions): their left edge, width and text. A click in a
// space takes the nearest word.
export function insertWords(
  place: InsertPlace, fromX: number, toX: number, wpx: number, fontPx: number, measure: Measure,
): { x: number; w: number; text: string } | null {
  const line = place.lines[0] ?? '';
  const origin = place.x * wpx + insertPadPx;
  const words = [...line.matchAll(/\S+/g)].map((m) => {
    const left = origin + measure(line.slice(0, m.index ?? 0), fontPx);
    return { left, right: left + measure(m[0], fontPx), text: m[0] };
  });
  if (words.length === 0) return null;
  const lo = Math.min(fromX, toX) * wpx;
  const hi = Math.max(fromX, toX) * wpx;
  let picked = words.filter((w) => w.right >= lo && w.left <= hi);
  if (picked.length === 0) {
    const distance = (w: { left: number; right: number }) => Math.max(w.left - hi, lo - w.right, 0);
    picked = [words.reduce((a, b) => (distance(b) < distance(a) ? b : a))];
  }
  const first = picked[0];
  const last = picked[picked.length - 1];
  return { x: first.left / wpx, w: (last.right - first.left) / wpx, text: picked.map((w) => w.text).join(' ') };
}

// Widths in the inserted-line font, measured once per text at 100 px and
// scaled; without a canvas (tests) an average glyph width stands in.
export function canvasMeasure(): Measure {
  let ctx: CanvasRenderingContext2D | null | undefined;
  const cache = new Map<string, number>();
  return (text, fontPx) => {
    let w = cache.get(text);
    if (w === undefined) {
      if (ctx === undefined) {
        try {
          ctx = typeof document === 'undefined' ? null : document.createElement('canvas').getContext('2d');
        } catch {
          ctx = null;
        }
      }
      if (ctx) {
        ctx.font = insertFont(100);
        w = ctx.measureText(text).width;
      } else {
        w = text.length * 45;
      }
      if (cache.size > 2000) cache.clear();
      cache.set(text, w);
    }
    return (w * fontPx) / 100;
  };
}

export interface InsertDeps {
  linesOf: (page: number) => Promise<LineRect[]>;
  quiet: (error: unknown) => void;
  hideLineCursor: () => void;
  enterCueMode: () => void;
  focusScript: () => void;
}

type Calls = {
  upsertInsert: (insert: Insert) => Promise<unknown>;
  removeInsert: (id: string) => Promise<unknown>;
  textRect: (args: [number, number, number, number, number, boolean]) => Promise<unknown>;
};

// What the show panel says while the next click places a line.
export const armedHint = 'Insert Line: click between two lines or on a word. Escape leaves.';

export function createInserts(store: Store, bridge: Calls, deps: InsertDeps, measure: Measure = canvasMeasure()) {
  const draft = signal<InsertDraft | null>(null);
  // The next click on a page picks where a line goes.
  const armed = signal(false);
  const arm = (on: boolean) => {
    armed.value = on;
    if (on) store.status.value = armedHint;
    else if (store.status.peek() === armedHint) store.status.value = '';
  };
  const selectedID = signal('');

  // The engine's list keeps its identity while its records are the same,
  // so a "cueState" after a GO changes nothing below.
  let engineList: Insert[] = [];
  const engine = computed(() => {
    const next = store.cueState.value.inserts ?? [];
    if (!sameCues(engineList as unknown as Cue[], next as unknown as Cue[])) engineList = next;
    return engineList;
  });
  const aspect = (page: number) => sanitizeAspect(store.doc.peek()?.aspects[page]);
  // What the pages show: the engine's inserts and the one being typed.
  const shown = computed(() => {
    const list = engine.value;
    const d = draft.value;
    if (!d || d.generation !== store.generation.value) return list;
    const record = draftRecord(d, aspect(d.page), measure);
    if (d.sent && list.some((i) => i.id === d.id && i.text === d.text)) return list;
    return list.some((i) => i.id === d.id) ? list.map((i) => (i.id === d.id ? record : i)) : [...list, record];
  });
  const extras = computed(() => extrasByPage(shown.value));

  let cachedFor: Insert[] | null = null;
  const cache = new Map<string, PageGeometry>();
  const fresh = (list: Insert[]) => {
    if (list === cachedFor) return;
    cache.clear();
    cachedFor = list;
  };
  // The geometry of a page shown `wpx` wide and `hpx` high (before growing).
  const geometry = (page: number, wpx: number, hpx: number): PageGeometry => {
    const list = shown.value;
    fresh(list);
    const key = `${page}:${Math.round(wpx)}:${Math.round(hpx)}`;
    let g = cache.get(key);
    if (!g) {
      g = pageGeometry(list, page, wpx, hpx, measure);
      // Every zoom step and window width adds entries; a long session of
      // them starts afresh rather than growing without end.
      if (cache.size > 400) cache.clear();
      cache.set(key, g);
    }
    return g;
  };
  // Rooms and rows do not depend on the shown size: scrolling asks these.
  const unsized = (page: number): PageGeometry => {
    const list = shown.value;
    fresh(list);
    let g = cache.get(`${page}:`);
    if (!g) {
      g = pageGeometry(list, page, 1, 1, () => 0);
      cache.set(`${page}:`, g);
    }
    return g;
  };

  const record = (id: string) => store.cueState.peek().inserts?.find((i) => i.id === id);

  function open(page: number, spot: NonNullable<ReturnType<typeof spotAt>>): void {
    arm(false);
    selectedID.value = '';
    store.selectedID.value = '';
    draft.value = {
      id: newCueID(), page, text: '', existing: false, generation: store.generation.peek(),
      lineH: spot.lineH, gap: spot.gap, inline: spot.inline,
    };
  }

  const tool = {
    draft, armed, selectedID, extras,
    geometry, unsized,

    extra(page: number): number {
      return extras.value.get(page) ?? 0;
    },

    // A point of the text (page fraction) as the grown page shows it; a cue
    // on an inserted line sits on that line.
    grownY(page: number, y: number, insertID = ''): number {
      const g = unsized(page);
      const place = insertID ? g.inserts.find((p) => p.id === insertID) : undefined;
      return place ? place.dy : g.toGrown(y);
    },

    textY(page: number, grown: number): number {
      return unsized(page).fromGrown(grown);
    },

    // The Insert Line command (key, menu, toolbar): below the line cursor
    // when it shows, else the next click on a page says where.
    command(): void {
      if (store.confidence || !store.doc.peek() || draft.peek()) return;
      if (!store.cueMode.peek()) deps.enterCueMode();
      if (!store.cueMode.peek()) return;
      if (store.lineCursor.peek()) {
        void tool.belowCursor();
        return;
      }
      arm(!armed.peek());
    },

    async belowCursor(): Promise<void> {
      const cursor = store.lineCursor.peek();
      if (!cursor) return;
      const generation = store.generation.peek();
      const lines = await deps.linesOf(cursor.page);
      const line = lines[cursor.line];
      if (!line || generation !== store.generation.peek() || !store.cueMode.peek()) return;
      deps.hideLineCursor();
      open(cursor.page, { gap: gapBelow(lines, cursor.line), inline: null, lineH: line[3] });
    },

    // The armed click: `p` is a point of the script's text.
    async pointAt(page: number, p: { x: number; y: number }): Promise<void> {
      arm(false);
      const generation = store.generation.peek();
      const lines = await deps.linesOf(page);
      let wordStart: number | null = null;
      if (lines.some((r) => p.y >= r[1] && p.y <= r[1] + r[3])) {
        try {
          const answer = await bridge.textRect(textRectArgs(page, p, p, true));
          if (isTextRectAnswer(answer)) wordStart = answer.rect[0];
        } catch {
          wordStart = null;
        }
      }
      if (generation !== store.generation.peek() || !store.cueMode.peek() || draft.peek()) return;
      const spot = spotAt(lines, p, wordStart);
      if (!spot) {
        store.message.value = 'No text lines on this page.';
        return;
      }
      open(page, spot);
    },

    setText(text: string): void {
      const d = draft.peek();
      if (d && !d.sent) draft.value = { ...d, text };
    },

    // Return in the field, or leaving it (`refocus` false: the focus went
    // elsewhere). An empty line makes nothing; an edit that leaves the text
    // as it was sends nothing.
    commit(text: string, refocus = true): void {
      const d = draft.peek();
      if (!d || d.sent) return;
      if (refocus) deps.focusScript();
      const clean = text.replace(/[ \t]+$/gm, '').replace(/^\n+|\n+$/g, '');
      const before = d.existing ? record(d.id) : undefined;
      if (!clean.trim() || (before && before.text === clean)) {
        draft.value = null;
        return;
      }
      const next = { ...d, text: clean, sent: true };
      draft.value = next;
      const rec = draftRecord(next, aspect(d.page), measure);
      const settle = () => {
        if (draft.peek()?.id === d.id) draft.value = null;
      };
      bridge.upsertInsert(rec).then((answer) => {
        settle();
        if (answer === rec.id) selectedID.value = rec.id;
        else store.message.value = 'The inserted line could not be kept.';
      }, (error: unknown) => {
        settle();
        deps.quiet(error);
      });
    },

    cancel(): void {
      if (!draft.peek()) return;
      draft.value = null;
      deps.focusScript();
    },

    select(id: string): void {
      if (!store.cueMode.peek() || draft.peek()) return;
      store.selectedID.value = '';
      selectedID.value = record(id) ? id : '';
    },

    // Double-click or F2: the text again in its field. An inline line whose
    // new text no longer fits moves under its line, as a new one would.
    async edit(id = selectedID.peek()): Promise<void> {
      const rec = id ? record(id) : undefined;
      if (!rec || !store.cueMode.peek() || draft.peek()) return;
      const generation = store.generation.peek();
      const inline = rec.lineMidY < rec.afterY;
      let gap: InsertSpot = { afterY: rec.afterY, lineMidY: Math.max(rec.lineMidY, rec.afterY), x: rec.x };
      let line: InsertDraft['inline'] = null;
      if (inline) {
        const lines = await deps.linesOf(rec.page);
        const i = lines.findIndex((r) => Math.abs(r[1] + r[3] / 2 - rec.lineMidY) < r[3] / 2);
        line = { afterY: rec.afterY, lineMidY: rec.lineMidY, x: rec.x, lineRight: i >= 0 ? lines[i][0] + lines[i][2] : rec.x };
        if (i >= 0) gap = gapBelow(lines, i);
        else gap = { afterY: rec.afterY, lineMidY: rec.afterY, x: rec.x };
      }
      if (generation !== store.generation.peek() || draft.peek()) return;
      draft.value = { id: rec.id, page: rec.page, text: rec.text, existing: true, generation, lineH: rec.lineH, gap, inline: line };
    },

    // Shift+I: the next inserted line in script order is selected and shown
    // (from the page being read when none is), so the keys alone reach a
    // line to edit or remove.
    selectNext(): void {
      if (!store.cueMode.peek() || draft.peek() || store.draft.peek()) return;
      const list = [...(store.cueState.peek().inserts ?? [])].sort((a, b) => a.page - b.page || a.afterY - b.afterY);
      if (list.length === 0) {
        store.message.value = 'No inserted lines.';
        return;
      }
      const at = list.findIndex((i) => i.id === selectedID.peek());
      const page = store.visiblePage.peek();
      const next = at >= 0 ? list[(at + 1) % list.length] : list.find((i) => i.page >= page) ?? list[0];
      tool.select(next.id);
      store.follow.value = false;
      requestScroll(store, next.page, Math.max(0, next.afterY - 0.1));
    },

    // The engine removes the cues placed on it with it.
    remove(): void {
      const id = selectedID.peek();
      if (!id || !store.cueMode.peek()) return;
      selectedID.value = '';
      bridge.removeInsert(id).then(() => undefined, deps.quiet);
    },

    // A drag over an inserted line's words: the unfinished cue on them.
    placeCue(page: number, place: InsertPlace, fromX: number, toX: number, wpx: number, hpx: number): void {
      const rec = record(place.id);
      if (!rec || !store.cueMode.peek() || store.draft.peek()) return;
      const words = insertWords(place, fromX, toX, wpx, insertFontK * place.lineH * hpx, measure);
      if (!words) return;
      const kind = store.lastKind.peek() || store.settings.peek()?.cueTypes?.[0]?.name || '';
      deps.hideLineCursor();
      selectedID.value = '';
      store.selectedID.value = '';
      const answer = { rect: [words.x, rec.afterY, words.w, rec.lineH], text: words.text, lineEnd: place.x + place.w, gapL: 0, gapR: 0 };
      store.draft.value = { ...draftCue(answer, page, store.cueState.peek().cues, kind, newCueID()), insertID: rec.id };
    },

    // A pointer gesture on a page in Cue Mode, in grown fractions of the
    // page. True when it was the inserts' (the armed click, a click or a drag
    // on an inserted line); otherwise the points of the text for a cue.
    pointer(page: number, geom: PageGeometry, from: { x: number; y: number }, to: { x: number; y: number }, wpx: number, hpx: number):
      { handled: true } | { handled: false; from: { x: number; y: number }; to: { x: number; y: number } } {
      if (armed.peek()) {
        void tool.pointAt(page, pointOnText(geom, to.x, to.y));
        return { handled: true };
      }
      const a = insertAt(geom, from.x, from.y);
      const b = insertAt(geom, to.x, to.y);
      if (a && b && a.place.id === b.place.id) {
        const still = Math.abs(to.x - from.x) * wpx < 4 && Math.abs(to.y - from.y) * hpx < 4;
        if (still) tool.select(a.place.id);
        else tool.placeCue(page, a.place, from.x, to.x, wpx, hpx);
        return { handled: true };
      }
      if (geom === flatGeometry) return { handled: false, from, to };
      return { handled: false, from: pointOnText(geom, from.x, from.y), to: pointOnText(geom, to.x, to.y) };
    },

    // Escape: the field, then the armed tool, then the selection.
    escape(): boolean {
      if (draft.peek()) {
        tool.cancel();
        return true;
      }
      if (armed.peek()) {
        arm(false);
        return true;
      }
      if (selectedID.peek()) {
        selectedID.value = '';
        return true;
      }
      return false;
    },

    reset(): void {
      draft.value = null;
      arm(false);
      selectedID.value = '';
    },
  };
  return tool;
}

export type InsertTool = ReturnType<typeof createInserts>;
