// The find bar's logic: searching the script as the operator types, keeping
// only the answer of the newest query, and stepping through the hits.

import { signal } from '@preact/signals';
import type { SearchHit } from '../bridge/types';

// Typing pauses shorter than this are one query; the core searches on a
// worker, but a query per key would still queue work behind itself.
export const findDebounceMs = 250;

// The core answers nothing below two characters.
export const minQueryLength = 2;

// The hit after `index` going `delta` steps, wrapping at both ends; -1 when
// there are none. From "no hit shown" (-1) a step back lands on the last.
export function stepHit(index: number, count: number, delta: 1 | -1): number {
  if (count <= 0) return -1;
  if (index < 0 || index >= count) return delta > 0 ? 0 : count - 1;
  return (index + delta + count) % count;
}

function isHit(v: unknown): v is SearchHit {
  const h = v as SearchHit | null;
  return typeof h === 'object' && h !== null && typeof h.page === 'number' && Array.isArray(h.rect) &&
    h.rect.length === 4 && h.rect.every((n) => typeof n === 'number' && Number.isFinite(n));
}

export function createFinder(search: (query: string) => Promise<unknown>, showHit: (hit: SearchHit) => void) {
  const open = signal(false);
  const query = signal('');
  // The query the hits belong to; differs from `query` while typing.
  const searched = signal('');
  const hits = signal<SearchHit[]>([]);
  const index = signal(-1);
  const busy = signal(false);
  // Bumped on every Ctrl+F, so an open bar takes the keyboard again.
  const focusRequest = signal(0);
  let seq = 0;
  let timer: ReturnType<typeof setTimeout> | undefined;

  const cancelTimer = () => {
    if (timer !== undefined) clearTimeout(timer);
    timer = undefined;
  };

  const finder = {
    open, query, searched, hits, index, busy, focusRequest,

    show(): void {
      open.value = true;
      focusRequest.value++;
    },

    close(): void {
      cancelTimer();
      // An answer still on its way belongs to a bar that is gone.
      seq++;
      open.value = false;
      busy.value = false;
      hits.value = [];
      index.value = -1;
      searched.value = '';
    },

    // Typing: the search runs when the operator pauses.
    type(text: string): void {
      query.value = text;
      cancelTimer();
      timer = setTimeout(() => {
        timer = undefined;
        void finder.run(false);
      }, findDebounceMs);
    },

    // Runs the current query; only the newest call's answer is kept. With
    // `showFirst` the first hit is brought into view (Enter).
    async run(showFirst: boolean): Promise<void> {
      cancelTimer();
      const text = query.peek().trim();
      const mine = ++seq;
      if (text.length < minQueryLength) {
        busy.value = false;
        hits.value = [];
        index.value = -1;
        searched.value = text;
        return;
      }
      busy.value = true;
      let answer: unknown;
      try {
        answer = await search(text);
      } catch {
        answer = [];
      }
      if (mine !== seq) return;
      busy.value = false;
      hits.value = Array.isArray(answer) ? answer.filter(isHit) : [];
      searched.value = text;
      index.value = -1;
      if (showFirst) finder.step(1);
    },

    // Enter: a new query is searched first; the same query steps on.
    enter(delta: 1 | -1): Promise<void> | void {
      if (query.peek().trim() !== searched.peek() || timer !== undefined) return finder.run(true);
      finder.step(delta);
    },

    step(delta: 1 | -1): void {
      const next = stepHit(index.peek(), hits.peek().length, delta);
      index.value = next;
      if (next >= 0) showHit(hits.peek()[next]);
    },
  };
  return finder;
}

export type Finder = ReturnType<typeof createFinder>;
