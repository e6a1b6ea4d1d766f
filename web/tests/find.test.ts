import { afterEach, expect, it, vi } from 'vitest';
import type { SearchHit } from '../src/bridge/types';
import { createFinder, findDebounceMs, stepHit } from '../src/state/find';

const hit = (page: number, y = 0.5): SearchHit => ({ page, rect: [0.1, y, 0.2, 0.02], snippet: '', lineEnd: false });

afterEach(() => vi.useRealTimers());

it.each([
  [-1, 3, 1, 0], [-1, 3, -1, 2], [0, 3, 1, 1], [2, 3, 1, 0], [0, 3, -1, 2], [1, 1, 1, 0], [0, 0, 1, -1], [5, 3, 1, 0],
])('stepping through hits: from %i of %i by %i lands on %i', (index, count, delta, expected) => {
  expect(stepHit(index, count, delta as 1 | -1)).toBe(expected);
});

it('stepping through hits: Enter searches a new query and shows its first hit, then steps and wraps both ways', async () => {
  const shown: number[] = [];
  const search = vi.fn(async () => [hit(4), hit(7), { page: 9, rect: [1] }, hit(12)]);
  const f = createFinder(search, (h) => shown.push(h.page));
  f.query.value = 'storm';
  await f.enter(1);
  expect(search).toHaveBeenCalledWith('storm');
  expect(f.hits.value).toHaveLength(3);
  f.enter(1);
  f.enter(1);
  f.enter(1);
  f.enter(-1);
  expect(shown).toEqual([4, 7, 12, 4, 12]);
  expect(search).toHaveBeenCalledTimes(1);
});

it('searching while typing: keeps only the answer of the newest query, whatever order they arrive in', async () => {
  const pending = new Map<string, (hits: SearchHit[]) => void>();
  const f = createFinder((q) => new Promise((resolve) => pending.set(q, resolve)), () => undefined);
  f.query.value = 'sto';
  const first = f.run(false);
  f.query.value = 'storm';
  const second = f.run(false);
  pending.get('storm')!([hit(1)]);
  await second;
  pending.get('sto')!([hit(2), hit(3)]);
  await first;
  expect([f.searched.value, f.hits.value.map((h) => h.page), f.busy.value]).toEqual(['storm', [1], false]);

  // Closing drops an answer still on its way.
  f.query.value = 'wind';
  const late = f.run(false);
  f.close();
  pending.get('wind')!([hit(5)]);
  await late;
  expect(f.hits.value).toEqual([]);
});

it('searching while typing: asks once per pause in typing, and not for one character', async () => {
  vi.useFakeTimers();
  const search = vi.fn(async () => [hit(1)]);
  const f = createFinder(search, () => undefined);
  f.type('s');
  await vi.advanceTimersByTimeAsync(findDebounceMs);
  expect(search).not.toHaveBeenCalled();
  f.type('st');
  f.type('sto');
  await vi.advanceTimersByTimeAsync(findDebounceMs - 1);
  f.type('stor');
  await vi.advanceTimersByTimeAsync(findDebounceMs);
  expect([search.mock.calls, f.hits.value.length]).toEqual([[['stor']], 1]);
});
