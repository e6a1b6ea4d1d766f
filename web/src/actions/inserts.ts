// Inserted lines in Cue Mode: making one (pointer or line cursor), editing
// its text, selecting and removing it, placing a cue on it; and the page
// geometry of every page, computed once per change of the inserts (a GO
// leaves them alone, so it never lays a page out again). The rules of where a
// line goes are in state/insert_tool.ts.

import { computed, signal } from '@preact/signals';
import type { Cue, Insert } from '../bridge/types';
import { draftCue, isTextRectAnswer, newCueID, textRectArgs } from '../state/cue_edit';
import {
  extrasByPage, flatGeometry, insertAt, insertFontK, pageGeometry, pointOnText, type InsertPlace, type Measure, type PageGeometry,
} from '../state/inserts';
import { canvasMeasure, draftRecord, gapBelow, insertWords, spotAt, type InsertDraft, type InsertSpot } from '../state/insert_tool';
import { sanitizeAspect } from '../state/layout';
import type { LineRect } from '../state/line_cursor';
import { requestScroll, sameCues, type Store } from '../state/store';
import type { Bridge } from './common';

export interface InsertDeps {
  linesOf: (page: number) => Promise<LineRect[]>;
  quiet: (error: unknown) => void;
  hideLineCursor: () => void;
  enterCueMode: () => void;
  focusScript: () => void;
}

// What the show panel says while the next click places a line.
export const armedHint = 'Insert Line: click between two lines or on a word. Escape leaves.';

export function createInserts(
  store: Store, bridge: Pick<Bridge, 'upsertInsert' | 'removeInsert' | 'textRect'>, deps: InsertDeps, measure: Measure = canvasMeasure(),
) {
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
