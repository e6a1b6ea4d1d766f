import type { Signal } from '@preact/signals';
import { useEffect, type Inputs, type MutableRef } from 'preact/hooks';

// Keeps a scrolling element's size and scroll position in signals, so that
// only the rows around the view are drawn. `deps` re-attach it when the
// element itself is replaced.
export function useScrollBox(
  el: MutableRef<HTMLElement | null>,
  box: { width?: Signal<number>; height: Signal<number>; top: Signal<number> },
  deps: Inputs = [],
): void {
  useEffect(() => {
    const node = el.current;
    if (!node) return;
    const measure = () => {
      if (box.width) box.width.value = node.clientWidth;
      box.height.value = node.clientHeight;
      box.top.value = node.scrollTop;
    };
    measure();
    const ro = new ResizeObserver(measure);
    ro.observe(node);
    return () => ro.disconnect();
  }, deps);
}
