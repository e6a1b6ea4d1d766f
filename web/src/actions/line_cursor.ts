// The line cursor of Cue Mode: n shows an outline on a text line, the arrows
// walk it line by line across pages, n again places a cue over its line as a
// drag along it would. The rules of stepping are in state/line_cursor.ts.

import type { Cue } from '../bridge/types';
import { isTextRectAnswer, textRectArgs } from '../state/cue_edit';
import { pageLabel } from '../state/layout';
import { cursorAnnouncement, cursorStart, firstLineBelow, lineDrag, readLines, stepLine, type LineAt, type LineRect } from '../state/line_cursor';
import type { Base } from './common';

export interface CursorDeps {
  selected: () => Cue | undefined;
  viewTop: () => { page: number; y: number };
  place: (page: number, from: { x: number; y: number }, to: { x: number; y: number }) => Promise<void>;
}

export function createLineCursor({ store, bridge, quiet }: Base, deps: CursorDeps) {
  // The text lines of each page, asked once per script; a failed answer is
  // not kept, so the next key asks again.
  let lineCache = { generation: -1, pages: new Map<number, Promise<LineRect[]>>() };
  const linesOf = (page: number): Promise<LineRect[]> => {
    const generation = store.generation.peek();
    if (lineCache.generation !== generation) lineCache = { generation, pages: new Map() };
    const cache = lineCache.pages;
    let lines = cache.get(page);
    if (!lines) {
      lines = bridge.pageLines(page).then(readLines, (error: unknown) => {
        cache.delete(page);
        quiet(error);
        return [];
      });
      cache.set(page, lines);
    }
    return lines;
  };
  // Each cursor move counts; an answer for an earlier move is dropped.
  let cursorSeq = 0;
  // Cursor keys run one after another, each from where the one before left
  // the cursor: two quick Downs across a page whose lines are still being
  // asked for are two lines, and n right after them places on the second.
  let cursorWork: Promise<void> = Promise.resolve();
  const queued = (work: () => Promise<void>): Promise<void> => (cursorWork = cursorWork.then(work, work));

  const moveTo = async (at: LineAt, seq: number): Promise<void> => {
    const rect = (await linesOf(at.page))[at.line];
    if (!rect || seq !== cursorSeq || !store.cueMode.peek() || store.draft.peek()) return;
    store.follow.value = false;
    store.lineCursor.value = { ...at, rect, text: null };
    // The words of the line, for the screen reader; the same question a drag asks.
    const { from, to } = lineDrag(rect);
    let answer: unknown = null;
    try {
      answer = await bridge.textRect(textRectArgs(at.page, from, to, true));
    } catch {
      answer = null;
    }
    const cursor = store.lineCursor.peek();
    if (seq !== cursorSeq || !cursor || cursor.page !== at.page || cursor.line !== at.line) return;
    store.lineCursor.value = { ...cursor, text: isTextRectAnswer(answer) ? answer.text ?? '' : '' };
  };

  const show = async (): Promise<void> => {
    const doc = store.doc.peek();
    if (!doc || !store.cueMode.peek() || store.draft.peek()) return;
    const seq = ++cursorSeq;
    const start = cursorStart(deps.selected(), deps.viewTop());
    const at = await firstLineBelow(start.page, start.y, doc.pageCount, linesOf);
    if (seq !== cursorSeq) return;
    if (!at) {
      store.message.value = 'No text lines from here on.';
      return;
    }
    await moveTo(at, seq);
  };

  const step = async (how: 'up' | 'down' | 'home' | 'end'): Promise<void> => {
    const doc = store.doc.peek();
    const now = store.lineCursor.peek();
    if (!doc || !now) return;
    const seq = ++cursorSeq;
    let at: LineAt | null;
    if (how === 'up' || how === 'down') {
      at = await stepLine(now, how === 'down' ? 1 : -1, doc.pageCount, linesOf);
    } else {
      const count = (await linesOf(now.page)).length;
      at = count > 0 ? { page: now.page, line: how === 'home' ? 0 : count - 1 } : null;
    }
    if (seq !== cursorSeq || !at) return;
    await moveTo(at, seq);
  };

  // The cue goes over the cursor's line as a drag along it would place it;
  // a line without words keeps the cursor where it was.
  const placeAt = async (): Promise<void> => {
    const cursor = store.lineCursor.peek();
    if (!cursor) return;
    const { from, to } = lineDrag(cursor.rect);
    await deps.place(cursor.page, from, to);
  };

  return {
    linesOf,

    // n or Insert in Cue Mode: the first press shows the line cursor, the
    // second places a cue over its line.
    key(): Promise<void> {
      return queued(() => (store.lineCursor.peek() ? placeAt() : show()));
    },

    // Up/Down (j/k) across pages; Home/End to the page's first or last line.
    move(how: 'up' | 'down' | 'home' | 'end'): Promise<void> {
      return queued(() => step(how));
    },

    hide(): void {
      cursorSeq++;
      store.lineCursor.value = null;
    },

    announcement(): string {
      const c = store.lineCursor.value;
      // Said once, with its words, rather than twice as they arrive.
      if (!c || c.text === null) return '';
      return cursorAnnouncement(pageLabel(c.page, store.cueState.value.pageLabelOffset), c.line, c.text);
    },
  };
}

export type LineCursor = ReturnType<typeof createLineCursor>;
