import { createElement, type ComponentChildren, type FunctionComponent } from 'preact';

// A component drawn again only when one of its props changed (or a signal
// it reads did). The signals' own check does not spare components that use
// the context, as every view here does, so a list of many (the cue boxes, the
// cue list's rows) wraps each in this.
export function memo<P extends object>(render: FunctionComponent<P>): FunctionComponent<P> {
  function changed(this: { props: P }, next: P): boolean {
    const now = this.props as Record<string, unknown>;
    const to = next as Record<string, unknown>;
    for (const k in to) if (to[k] !== now[k]) return true;
    for (const k in now) if (!(k in to)) return true;
    return false;
  }
  function Memoed(this: { shouldComponentUpdate?: unknown }, props: P & { children?: ComponentChildren }) {
    this.shouldComponentUpdate = changed;
    return createElement(render, props);
  }
  Memoed.displayName = `Memo(${render.displayName || render.name})`;
  return Memoed as FunctionComponent<P>;
}
