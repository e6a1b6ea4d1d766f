import { effect } from '@preact/signals';
import { useEffect, useRef } from 'preact/hooks';

// Effects that act on the page (scrolling it) run right after the render that
// the same change caused, so they are drawn in the same frame. useSignalEffect
// waits for the next animation frame: a GO committed in one frame scrolled the
// script in the next, and the script area was drawn twice.

let queue: (() => void)[] = [];

function flush(): void {
  // Work queued by these runs (a scroll that wakes another effect) waits for
  // the render it causes in turn.
  const runs = queue;
  queue = [];
  for (const run of runs) run();
}

// Preact renders in a microtask queued by the change; two turns on, that
// render is done whichever of the two was queued first.
function afterRender(run: () => void): void {
  if (queue.push(run) === 1) queueMicrotask(() => queueMicrotask(flush));
}

// `track` reads the signals the effect follows and nothing of the page; `run`
// gets its newest answer once per render, in the order the effects were woken.
export function useRenderEffect<T>(track: () => T, run: (value: T) => void): void {
  const act = useRef(run);
  act.current = run;
  useEffect(() => {
    let alive = true;
    let queued = false;
    let value: T;
    const dispose = effect(() => {
      value = track();
      if (queued) return;
      queued = true;
      afterRender(() => {
        queued = false;
        if (alive) act.current(value);
      });
    });
    return () => {
      alive = false;
      dispose();
    };
  }, []);
}
