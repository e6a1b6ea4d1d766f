// The page's own store against the real core: a long random sequence of run
// commands, edits and undo goes to the core through the test host, the
// core's events and answers come back through the page's own handlers, and
// after each step the cues and the run the page keeps equal what the core
// holds. Run by CTest (page_run_equality), which names the host, the program
// and a page file in the environment.

import { type ChildProcess, execFileSync, spawn } from 'node:child_process';
import { mkdtempSync, readdirSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { afterAll, beforeAll, expect, it } from 'vitest';
import { dispatchEvent } from '../src/bridge/events';
import { native } from '../src/bridge/native';
import type { Cue, CueState } from '../src/bridge/types';
import { createApp } from '../src/actions/app';
import { applyCueState, applyRunAnswer, createStore, drawNow } from '../src/state/store';

const hostPath = process.env.TALLOWMARK_PAGE_HOST ?? '';
const programPath = process.env.TALLOWMARK_PROGRAM ?? '';
const pagePath = process.env.TALLOWMARK_PAGE ?? '';

let folder = '';
let host: ChildProcess | null = null;
let base = '';
let polling = true;

async function call(name: string, args: unknown[]): Promise<unknown> {
  const r = await fetch(`${base}/call`, { method: 'POST', body: JSON.stringify({ name, args }) });
  const answer = (await r.json()) as { value?: unknown; error?: string };
  if (typeof answer.error === 'string') throw new Error(answer.error);
  return answer.value ?? null;
}

beforeAll(async () => {
  expect(hostPath && programPath && pagePath, 'TALLOWMARK_PAGE_HOST, TALLOWMARK_PROGRAM and TALLOWMARK_PAGE').toBeTruthy();
  folder = mkdtempSync(join(tmpdir(), 'tallowmark-equality-'));
  execFileSync(programPath, ['--make-demo', folder], { stdio: 'ignore' });
  const pdf = readdirSync(folder).find((f) => f.endsWith('.pdf'));
  expect(pdf).toBeTruthy();
  host = spawn(hostPath, [pagePath, '0', join(folder, pdf!)], { env: { ...process.env, XDG_CONFIG_HOME: folder } });
  const port = await new Promise<string>((resolve, reject) => {
    let out = '';
    host!.stdout!.on('data', (d: Buffer) => {
      out += d.toString();
      const m = /PORT (\d+)/.exec(out);
      if (m) resolve(m[1]);
    });
    host!.on('exit', (code) => reject(new Error(`the host ended (${code})`)));
  });
  base = `http://127.0.0.1:${port}`;
  // The page's calls go where the shim in the browser sends them.
  const handlers = new Proxy({}, { get: (_t, name) => ({ postMessage: (args: unknown[]) => call(String(name), args) }) });
  (globalThis as { window?: unknown }).window = { webkit: { messageHandlers: handlers } };
});

afterAll(async () => {
  polling = false;
  // The host writes the marks file as it quits: the folder goes once it has.
  const h = host;
  if (h && h.exitCode === null && h.signalCode === null) {
    const gone = new Promise<void>((resolve) => h.once('exit', () => resolve()));
    h.kill('SIGTERM');
    await Promise.race([gone, new Promise((resolve) => setTimeout(resolve, 5000))]);
  }
  if (folder) rmSync(folder, { recursive: true, force: true, maxRetries: 5, retryDelay: 100 });
});

// A small fixed generator, so a failure names a step that comes again.
function generator(seed: number) {
  let s = seed >>> 0;
  return (n: number) => {
    s = (Math.imul(s, 1664525) + 1013904223) >>> 0;
    return s % n;
  };
}

function engineView(s: CueState) {
  const ids = s.cues.map((c) => c.id);
  const cues = new Set(ids);
  return { ids, standby: s.standbyID, last: s.lastFiredID, fired: s.fired.filter((id) => cues.has(id)).sort() };
}

it('keeps the cues and the run the core holds through a long random show', async () => {
  const frames: (() => void)[] = [];
  const store = createStore(false, { frame: (f) => void frames.push(f) });
  const { handlers } = createApp(store, native);
  const flush = () => {
    for (let i = 0; i < 5 && frames.length > 0; i++) frames.splice(0).forEach((f) => f());
    drawNow(store);
  };
  // The host's event stream, as the page's hook receives it.
  void (async () => {
    while (polling) {
      try {
        const batches = (await (await fetch(`${base}/events`)).json()) as string[];
        for (const b of batches) for (const e of JSON.parse(b) as { name: string; payload: unknown }[]) dispatchEvent(handlers, e.name, e.payload);
      } catch {
        await new Promise((r) => setTimeout(r, 50));
      }
    }
  })();

  const opened = (await call('currentDocument', [])) as { state: CueState };
  applyCueState(store, opened.state);
  flush();

  const pageView = () => {
    const cues = store.cues.value;
    const known = new Set(cues.map((c) => c.id));
    return {
      ids: cues.map((c) => c.id),
      standby: store.standbyID.value,
      last: store.lastFiredID.value,
      fired: [...store.sync.fired].filter((id) => known.has(id)).sort(),
    };
  };
  // Until the page holds the core's state (its events may still be on the way).
  const settle = async (truth: CueState) => {
    for (let i = 0; i < 200; i++) {
      flush();
      if ((store.sync.inbox.seq ?? -1) >= (truth.seq ?? 0) && !store.sync.inbox.gap) return;
      await new Promise((r) => setTimeout(r, 5));
    }
  };

  const pick = generator(20261207);
  const cueIDs = () => store.cues.peek().map((c: Cue) => c.id);
  let made = 0;
  for (let step = 0; step < 1200; step++) {
    const ids = cueIDs();
    const some = ids.length > 0 ? ids[pick(ids.length)] : 'none';
    const what = pick(100);
    if (what < 40) applyRunAnswer(store, await native.go());
    else if (what < 52) applyRunAnswer(store, await native.back());
    else if (what < 55) applyRunAnswer(store, await native.reset());
    else if (what < 63) await native.standbyCue(some);
    else if (what < 70) await native.upsertCue({ ...(store.cues.peek().find((c) => c.id === some) ?? ({} as Cue)), id: `n${made++}`, page: pick(5), y: pick(1000) / 1000 });
    else if (what < 75) await native.removeCue(some);
    else if (what < 80) applyCueState(store, await native.undo());
    else if (what < 83) applyCueState(store, await native.redo());
    else if (what < 86) await native.restoreRun();
    else if (what < 88) await native.discardRun();
    else applyRunAnswer(store, await native.go());
    // Now and then several steps before the page looks: its events pile up and merge.
    if (pick(3) !== 0) continue;
    const truth = (await native.getState()) as CueState;
    await settle(truth);
    expect(pageView(), `step ${step}`).toEqual(engineView(truth));
  }
  const truth = (await native.getState()) as CueState;
  await settle(truth);
  expect(pageView()).toEqual(engineView(truth));
}, 120_000);
