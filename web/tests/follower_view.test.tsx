// @vitest-environment happy-dom
// A follower screen over a scripted WebSocket: it connects, shows the show,
// follows the run, filters to one department, and rides out a lost link.
import { afterEach, beforeEach, expect, it, vi } from 'vitest';
import type { SocketLike } from '../src/actions/follower_link';
import { startFollower } from '../src/views/Follower';

class FakeSocket implements SocketLike {
  static made: FakeSocket[] = [];
  readyState = 0;
  sent: string[] = [];
  closed = false;
  onopen: SocketLike['onopen'] = null;
  onmessage: SocketLike['onmessage'] = null;
  onclose: SocketLike['onclose'] = null;
  onerror: SocketLike['onerror'] = null;
  constructor(readonly url: string) {
    FakeSocket.made.push(this);
  }
  send(data: string) {
    this.sent.push(data);
  }
  close() {
    this.closed = true;
    this.readyState = 3;
  }
  open() {
    this.readyState = 1;
    this.onopen?.(new Event('open'));
  }
  push(message: unknown) {
    this.onmessage?.({ data: JSON.stringify(message) } as MessageEvent);
  }
  drop() {
    this.readyState = 3;
    this.onclose?.({} as CloseEvent);
  }
}

const token = '0123456789abcdef0123456789abcdef';
const kinds = ['LX', 'SND', 'LX', 'SND', 'LX', 'LX'];
const script = {
  type: 'script',
  document: { title: 'Lantern', pageCount: 3, aspects: [0.707, 0.707, 0.707] },
  cues: kinds.map((kind, i) => ({
    id: `C${i + 1}`, number: String(10 + i), label: `Cue ${i + 1}`, kind, page: Math.floor(i / 2), x: 0.1, y: 0.3 + 0.2 * (i % 2), w: 0.3, h: 0.02,
  })),
};
const run = (i: number) => ({
  type: 'run', standby: i <= 6 ? `C${i}` : null, next: i < 6 ? `C${i + 1}` : null, lastFired: i > 1 ? `C${i - 1}` : null, firedCount: i - 1, total: 6,
});

let host: HTMLDivElement;
let stop: () => void;
const kept = new Map<string, string>();
const storage = { getItem: (k: string) => kept.get(k) ?? null, setItem: (k: string, v: string) => void kept.set(k, v) };

beforeEach(() => {
  vi.useFakeTimers({ toFake: ['setTimeout', 'clearTimeout', 'setInterval', 'clearInterval', 'Date'] });
  Object.defineProperty(HTMLElement.prototype, 'clientWidth', { configurable: true, get: () => 390 });
  Object.defineProperty(HTMLElement.prototype, 'clientHeight', { configurable: true, get: () => 500 });
  FakeSocket.made = [];
  kept.clear();
  host = document.body.appendChild(document.createElement('div'));
  stop = startFollower(host, { token, url: `ws://h/f/${token}/ws`, Socket: FakeSocket, storage, random: () => 0.5 });
});
afterEach(() => {
  stop();
  host.remove();
  vi.useRealTimers();
});

const settle = () => vi.advanceTimersByTimeAsync(120);
const text = (id: string) => host.querySelector(`[data-testid="${id}"]`)?.textContent ?? null;
const seen = () => [
  host.querySelector('.follow-number')?.textContent ?? null, host.querySelector('.follow-label')?.textContent ?? null,
  text('follow-next'), text('follow-count'), host.querySelector('.follow-box.standby')?.getAttribute('data-cue') ?? null,
];
const socket = () => FakeSocket.made[FakeSocket.made.length - 1];
const chip = (name: string) => [...host.querySelectorAll<HTMLButtonElement>('.follow-filter button')].find((b) => b.textContent === name)!;

it('follows the show, filters to one department, and keeps the last state while the link is lost', async () => {
  expect(host.textContent).toContain('Connecting to the show');
  const first = socket();
  expect(first.url).toBe(`ws://h/f/${token}/ws`);
  first.open();
  first.push(script);
  first.push(run(1));
  await settle();
  expect(first.sent).toEqual(['{"type":"hello"}']);
  expect(seen()).toEqual(['10', 'Cue 1', 'next: SND 11 · Cue 2', '0 of 6 fired', 'C1']);
  // 390 css px at ratio 1, rounded up to 128.
  expect(host.querySelector('.follow-page-image')?.getAttribute('src')).toBe(`/f/${token}/page/0/512`);

  for (const [i, expected] of [
    [2, ['11', 'Cue 2', 'next: LX 12 · Cue 3', '1 of 6 fired', 'C2']],
    [3, ['12', 'Cue 3', 'next: SND 13 · Cue 4', '2 of 6 fired', 'C3']],
    [4, ['13', 'Cue 4', 'next: LX 14 · Cue 5', '3 of 6 fired', 'C4']],
  ] as const) {
    first.push(run(i));
    await settle();
    expect(seen()).toEqual(expected);
  }
  expect([host.querySelector('.follow-page')?.getAttribute('data-page'), host.querySelector('.follow-box.done')?.getAttribute('data-cue')])
    .toEqual(['1', 'C3']);

  // Sound's own standby: the first SND at or after the run's standby, then none left.
  first.push(run(3));
  await settle();
  chip('SND').click();
  await settle();
  expect([host.querySelector('.follow-standby .caption')?.textContent, ...seen()])
    .toEqual(['YOUR NEXT STANDBY', '13', 'Cue 4', 'next: —', '2 of 6 fired', 'C4']);
  expect(kept.get(`tallowmark.follow.${token}.kinds`)).toBe('["SND"]');
  first.push(run(5));
  await settle();
  expect(host.querySelector('.follow-none')?.textContent).toBe('No more SND cues');

  // A ping every 10 s; one unanswered for 20 s is a lost link, the last state still shown.
  // (The socket opened some 840 ms of settling ago.)
  await vi.advanceTimersByTimeAsync(10_000);
  expect(first.sent.slice(1)).toEqual(['{"type":"ping"}']);
  first.push({ type: 'pong' });
  await vi.advanceTimersByTimeAsync(29_000);
  expect([first.closed, text('follow-lost'), first.sent.length]).toEqual([false, null, 4]);
  await vi.advanceTimersByTimeAsync(1000);
  expect([first.closed, text('follow-lost')]).toEqual([true, 'Connection lost — showing the last known state']);
  expect(host.querySelector('.follow-none')?.textContent).toBe('No more SND cues');

  // The first try again fails at once; the second waits twice as long, and is current in one push.
  await vi.advanceTimersByTimeAsync(1000);
  expect(FakeSocket.made.length).toBe(2);
  socket().drop();
  await vi.advanceTimersByTimeAsync(1900);
  expect(FakeSocket.made.length).toBe(2);
  await vi.advanceTimersByTimeAsync(100);
  const third = socket();
  expect(FakeSocket.made.length).toBe(3);
  third.open();
  third.push(script);
  third.push(run(2));
  await settle();
  chip('All cues').click();
  await settle();
  expect([text('follow-lost'), third.sent, ...seen()])
    .toEqual([null, ['{"type":"hello"}'], '11', 'Cue 2', 'next: LX 12 · Cue 3', '1 of 6 fired', 'C2']);
});

it('keeps a chosen department for the same show only', async () => {
  kept.set(`tallowmark.follow.${token}.kinds`, '["LX"]');
  kept.set(`tallowmark.follow.${'f'.repeat(32)}.kinds`, '["SND"]');
  stop();
  stop = startFollower(host, { token, url: 'ws://h', Socket: FakeSocket, storage, random: () => 0.5 });
  socket().open();
  socket().push(script);
  socket().push(run(2));
  await settle();
  expect([chip('LX').getAttribute('aria-pressed'), ...seen()]).toEqual(['true', '12', 'Cue 3', 'next: LX 14 · Cue 5', '1 of 6 fired', 'C3']);
  // A closed link shows at once; the next link's first push takes the band away.
  const made = FakeSocket.made.length;
  socket().drop();
  await settle();
  expect([text('follow-lost'), seen()[0]]).toEqual(['Connection lost — showing the last known state', '12']);
  await vi.advanceTimersByTimeAsync(1000);
  socket().open();
  socket().push(run(5));
  await settle();
  expect([FakeSocket.made.length - made, text('follow-lost'), seen()[0]]).toEqual([1, null, '14']);
});
