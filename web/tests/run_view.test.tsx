// @vitest-environment happy-dom
// A GO on a long script draws again only the boxes and rows of the cues it changed.
import { options, type VNode } from 'preact';
import { afterEach, beforeEach, expect, it } from 'vitest';
import { emptyCueState } from '../src/bridge/types';
import { cue, doc, runChange } from './fake_bridge';
import { host, mountPage, told, usePageDom } from './page_dom';

usePageDom();

// Renders again per component name, counted from Preact's own hook: a page
// the GO scrolls into view is drawn for the first time, not again.
let renders = new Map<string, number>();
let mounted = new WeakSet<object>();
let chained: typeof options.diffed;
beforeEach(() => {
  chained = options.diffed;
  mounted = new WeakSet();
  options.diffed = (vnode: VNode) => {
    const type = vnode.type as { name?: string };
    const instance = (vnode as unknown as { __c?: object }).__c;
    if (typeof vnode.type === 'function' && type.name && instance) {
      if (mounted.has(instance)) renders.set(type.name, (renders.get(type.name) ?? 0) + 1);
      mounted.add(instance);
    }
    chained?.(vnode);
  };
});
afterEach(() => void (options.diffed = chained));

// `count` cues, two a page, the run at the first; only it and the one after it change in view.
it.each([1000, 5000])('with %i cues draws only the two changed boxes and rows', async (count) => {
  const cues = Array.from({ length: count }, (_, i) => cue(`c${i}`, Math.floor(i / 2), (i % 2) * 0.5 + 0.2, { number: String(i + 1) }));
  const pages = Math.ceil(count / 2);
  const state = { ...emptyCueState, seq: 10, cues, standbyID: 'c0' };
  const t = await mountPage({ openDocumentPath: (p: never) => doc(p, { state, pageCount: pages, aspects: Array(pages).fill(0.7) }) }, { open: '/s/long.pdf' });
  expect([host.querySelectorAll('.cue').length < 40, host.querySelectorAll('.cue-row').length < 60]).toEqual([true, true]);
  renders = new Map();
  await told(t.handlers, 'runState', runChange({ from: 10, seq: 11, standbyID: 'c1', lastFiredID: 'c0', fired: ['c0'], total: count }));
  expect(['cueBox', 'cueRow', 'pageView'].map((name) => renders.get(name) ?? 0)).toEqual([2, 2, 0]);
  expect([host.querySelector('.cue.standby')?.getAttribute('data-cue'), host.querySelector('.cue.fired')?.getAttribute('data-cue'),
    host.querySelector('.cue-row.standby .cue-number')?.textContent, host.querySelector('.count')?.textContent]).toEqual(['c1', 'c0', '2', `1 of ${count} fired`]);
});
