// The page's speed, measured in Chromium against the real core (the test
// host): a 500-page script with 1,000 cues, timed from inside the page with
// the Performance API and the JS heap read after a garbage collection.
//
//   node bench/page/run.mjs [--build build] [--runs 3] [--soak-runs 1] [--pages 500] [--cues 1000] [--json FILE]
//
// Needs the targets tallowmark_page, tallowmark_page_host and
// tallowmark_page_script built in the build folder. Prints one line per
// measurement: the median of the runs' medians, the spread over runs, the goal.

import { writeFileSync } from 'node:fs';
import { loadavg } from 'node:os';
import { join, resolve } from 'node:path';
import { firstImage, marksPath, menu, option, sleep } from '../../web/e2e/harness.mjs';
import { benchSession, median } from './bench_files.mjs';
import { probe } from './probe.mjs';

const build = resolve(option('build', 'build'));
const runs = Number(option('runs', '3'));
const pageCount = Number(option('pages', '500'));
const cueCount = Number(option('cues', '1000'));
const jsonOut = option('json', '');
const soakRuns = Number(option('soak-runs', '1'));

const FRAME = 1000 / 60;

// ---- the script and its marks ----------------------------------------------

// Two cues on each page, on lines 5 and 25 of the benchmarks' layout (A4,
// 40 lines from 72 pt, 17 pt apart), numbered in script order.
function writeMarks(pdf, pages, cues) {
  const list = [];
  for (let i = 0; i < cues; i++) {
    const page = Math.floor((i * pages) / cues);
    const line = i % 2 === 0 ? 5 : 25;
    const x = 72 / 595;
    const w = 0.6;
    list.push({
      color: '', h: 15 / 842, id: `b-${i + 1}`, insertID: '', kind: i % 3 === 0 ? 'SFX' : 'LFX',
      label: `Bench cue ${i + 1}`, labelX: x + w, note: '', number: String(i + 1), padL: -1, padR: -1,
      page, snippet: '', w, x, y: (72 + line * 17) / 842,
    });
  }
  const marks = {
    crop: [], cues: list, documentName: pdf.split('/').pop(), flags: [], inserts: [], marks: [], memos: [],
    pageLabelOffset: 0, pageTexts: {}, spreadOffset: 0, version: 1,
  };
  writeFileSync(marksPath(pdf), JSON.stringify(marks));
}

// ---- small statistics ------------------------------------------------------

const pct = (xs, p) => {
  const s = [...xs].sort((a, b) => a - b);
  return s[Math.min(s.length - 1, Math.floor((p / 100) * s.length))];
};

// ---- inside the page -------------------------------------------------------

// The heap after a full collection, in MB (CDP: the same number the devtools show).
async function heapMB(cdp) {
  await cdp.send('HeapProfiler.collectGarbage');
  await cdp.send('HeapProfiler.collectGarbage');
  const { usedSize } = await cdp.send('Runtime.getHeapUsage');
  return usedSize / 1048576;
}

// One GO by its key, timed to the frame that shows the new standby: the show
// panel's tag and the standby box on the page.
async function timedGo(page) {
  return page.evaluate(() => new Promise((done) => {
    const b = window.__bench;
    const tag = () => document.querySelector('.show-panel .standby-tag')?.textContent ?? '';
    const box = () => document.querySelector('.cue.standby')?.getAttribute('data-cue') ?? '';
    const before = tag();
    const beforeBox = box();
    const answered = b.calls.go?.answered ?? 0;
    const timeout = setTimeout(() => {
      mo.disconnect();
      done({ handler: NaN, answer: NaN, drawn: NaN, frame: NaN, frames: NaN, pagePart: NaN });
    }, 3000);
    const mo = new MutationObserver(() => {
      // The panel's tag and, when the standby cue is on a drawn page, its box.
      if (tag() === before || (beforeBox !== '' && box() === beforeBox)) return;
      mo.disconnect();
      clearTimeout(timeout);
      const drawnAt = performance.now();
      requestAnimationFrame(() => {
        const frameAt = performance.now();
        done({
          handler: b.keyHandledAt - b.keyAt,
          answer: (b.calls.go?.answered ?? 0) > answered ? b.calls.go.lastAnswerAt - b.keyAt : NaN,
          drawn: drawnAt - b.keyAt,
          frame: frameAt - b.keyAt,
          // The frame showing it is the one after the rAF that saw the change.
          frames: b.frames + 1 - b.keyFrame,
          pagePart: drawnAt - b.calls.go.lastAnswerAt,
        });
      });
    });
    mo.observe(document.body, { subtree: true, childList: true, characterData: true, attributes: true });
    document.body.dispatchEvent(new KeyboardEvent('keydown', { key: 'Enter', bubbles: true, cancelable: true }));
  }));
}

// A page turn by Page Down, or a jump by a desk's page command: the time the
// handler took, the frame that shows the new position, and when the target
// page's image is on screen.
async function timedTurn(page, how) {
  return page.evaluate((how) => new Promise((done) => {
    const b = window.__bench;
    const scroller = document.querySelector('.script');
    const top = scroller.scrollTop;
    const t0 = performance.now();
    const f0 = b.frames;
    if (how.key) {
      document.body.dispatchEvent(new KeyboardEvent('keydown', { key: 'PageDown', bubbles: true, cancelable: true }));
    } else {
      window.__tallowmarkEvent('pageCommand', { value: how.page + 1, relative: false });
    }
    const handler = performance.now() - t0;
    requestAnimationFrame(() => {
      const frame = performance.now() - t0;
      const moved = scroller.scrollTop !== top;
      // Which page is at the top of the view now, and is its image there?
      const rect = scroller.getBoundingClientRect();
      const target = [...document.querySelectorAll('.page')].find((p) => {
        const r = p.getBoundingClientRect();
        return r.bottom > rect.top + 20 && r.top < rect.top + rect.height / 2;
      });
      const index = Number(target?.getAttribute('data-page') ?? -1);
      const shown = () => {
        const img = target?.querySelector('img.page-image');
        return img instanceof HTMLImageElement && img.complete && img.naturalWidth > 0;
      };
      const cached = shown();
      const wait = () => {
        if (shown() || performance.now() - t0 > 10000) {
          done({ handler, frame, frames: b.frames + 1 - f0, moved, index, cached, imageShown: shown() ? performance.now() - t0 : NaN });
        } else requestAnimationFrame(wait);
      };
      wait();
    });
  }), how);
}

// A cueState of every cue applied as the core sends it: the handler (it only
// notes the state; the page draws it with the next animation frame), and the
// frame after the one that drew it done (a task posted from the animation
// frame after that runs once the drawn frame's style, layout and paint are
// through). An older page renders in a microtask: `rendered` catches that.
async function timedCueState(page, state) {
  return page.evaluate((state) => new Promise((done) => {
    const t0 = performance.now();
    const f0 = window.__bench.frames;
    window.__tallowmarkEvent('cueState', state);
    const handler = performance.now() - t0;
    queueMicrotask(() => queueMicrotask(() => queueMicrotask(() => {
      const rendered = performance.now() - t0;
      requestAnimationFrame(() => requestAnimationFrame(() => {
        const frame = performance.now() - t0;
        const channel = new MessageChannel();
        channel.port1.onmessage = () => done({ handler, rendered, frame, frameDone: performance.now() - t0, frames: window.__bench.frames + 1 - f0 });
        channel.port2.postMessage(0);
      }));
    })));
  }), state);
}

// Main-thread time by kind (CDP Performance metrics), in ms.
async function metrics(cdp) {
  const { metrics: list } = await cdp.send('Performance.getMetrics');
  const m = Object.fromEntries(list.map((x) => [x.name, x.value]));
  return { script: m.ScriptDuration * 1000, style: m.RecalcStyleDuration * 1000, layout: m.LayoutDuration * 1000, task: m.TaskDuration * 1000 };
}

// Scrolls the script at `speed` px/s for `seconds`, one step per frame as a
// wheel would, and reports the frame intervals and the page images asked for.
async function timedScroll(page, speed, seconds) {
  return page.evaluate(([speed, seconds]) => new Promise((done) => {
    const b = window.__bench;
    const scroller = document.querySelector('.script');
    const renders0 = b.calls.renderPage?.sent ?? 0;
    const pages0 = b.calls.renderPage?.pages.length ?? 0;
    const long0 = b.longTasks.length;
    b.frameTimes = [];
    let maxImages = 0;
    let farImages = 0; // images kept further than two screens from the view
    const t0 = performance.now();
    const step = (t) => {
      const elapsed = (t - t0) / 1000;
      scroller.scrollTop = Math.min(scroller.scrollHeight, elapsed * speed);
      const view = scroller.getBoundingClientRect();
      const imgs = document.querySelectorAll('img.page-image');
      maxImages = Math.max(maxImages, imgs.length);
      for (const img of imgs) {
        const r = img.getBoundingClientRect();
        if (r.bottom < view.top - 2 * view.height || r.top > view.bottom + 2 * view.height) farImages++;
      }
      if (elapsed < seconds) requestAnimationFrame(step);
      else {
        const times = b.frameTimes;
        b.frameTimes = null;
        const gaps = times.slice(1).map((x, i) => x - times[i]);
        const asked = (b.calls.renderPage?.pages ?? []).slice(pages0);
        done({
          fps: (times.length - 1) / ((times[times.length - 1] - times[0]) / 1000),
          gaps,
          long: b.longTasks.slice(long0).map((l) => l.duration),
          renders: (b.calls.renderPage?.sent ?? 0) - renders0,
          distinctPages: new Set(asked).size,
          maxImages,
          farImages,
          imagesAtEnd: imgs.length,
          scrollTop: scroller.scrollTop,
          scrollHeight: scroller.scrollHeight,
        });
      }
    };
    requestAnimationFrame(step);
  }), [speed, seconds]);
}

async function resetRun(page) {
  await page.evaluate(() => window.webkit.messageHandlers.reset.postMessage(['ui']));
  await page.waitForFunction(() => document.querySelector('.show-panel .count')?.textContent?.trim().startsWith('0 of'));
}

// GOs as fast as the core answers, the run reset before it ends.
async function manyGos(page, n) {
  await page.evaluate(async (n) => {
    const b = window.__bench;
    for (let i = 0; i < n; i++) {
      const answered = b.calls.go?.answered ?? 0;
      document.body.dispatchEvent(new KeyboardEvent('keydown', { key: 'Enter', bubbles: true, cancelable: true }));
      while ((b.calls.go?.answered ?? 0) <= answered) await new Promise((r) => setTimeout(r, 0));
      await new Promise((r) => requestAnimationFrame(r));
      const fired = Number((document.querySelector('.show-panel .count')?.textContent ?? '0').trim().split(' ')[0]);
      if (fired >= 900) {
        await window.webkit.messageHandlers.reset.postMessage(['ui']);
        await new Promise((r) => setTimeout(r, 50));
      }
    }
  }, n);
}

// Page Down and back up in turns, with a frame between, over the whole script.
async function manyTurns(page, n) {
  await page.evaluate(async (n) => {
    for (let i = 0; i < n; i++) {
      const key = Math.floor(i / 50) % 2 === 0 ? 'PageDown' : 'PageUp';
      document.body.dispatchEvent(new KeyboardEvent('keydown', { key, bubbles: true, cancelable: true }));
      await new Promise((r) => requestAnimationFrame(r));
      await new Promise((r) => setTimeout(r, 20));
    }
  }, n);
}

// ---- one run ---------------------------------------------------------------

async function oneRun(context, port, r) {
  const page = await context.newPage();
  await page.addInitScript(probe);
  const errors = [];
  page.on('pageerror', (e) => errors.push(String(e)));
  await page.goto(`http://127.0.0.1:${port}/`);
  await firstImage(page);
  await resetRun(page);
  const cdp = await context.newCDPSession(page);
  await cdp.send('Performance.enable');
  await sleep(1000); // the first screen's images
  const out = { heapOpened: await heapMB(cdp) };

  // GO to the redrawn standby, and a cueState of every cue applied as the
  // core sends it (alternating two states so each one changes standby and
  // the fired set): with the sidebar's cue list shown, as the page opens,
  // and hidden, which shows what the list costs.
  // The two states are one GO apart (the next cue fired, standby on the one
  // after), near where the view is, so the view follows without a long jump.
  const statesNow = async () => {
    const state = await page.evaluate(() => window.webkit.messageHandlers.getState.postMessage([]));
    if (!Array.isArray(state?.cues) || state.cues.length < cueCount) throw new Error(`the core's state has ${state?.cues?.length} cues, expected ${cueCount}`);
    const at = state.cues.findIndex((c) => c.id === state.standbyID);
    if (at < 0 || at + 1 >= state.cues.length) throw new Error('the core has no standby cue to step from');
    return [state, { ...state, fired: [...state.fired, state.standbyID], standbyID: state.cues[at + 1].id }];
  };
  for (const side of ['shown', 'hidden']) {
    const shown = await page.evaluate(() => document.querySelector('[aria-label="Sidebar"]') !== null);
    if (shown !== (side === 'shown')) {
      await menu(page, 'toggleSidebar');
      await sleep(300);
    }
    await resetRun(page);
    out[`go_${side}`] = [];
    const goBefore = await metrics(cdp);
    for (let i = 0; i < 30; i++) {
      out[`go_${side}`].push(await timedGo(page));
      await sleep(30);
    }
    const goAfter = await metrics(cdp);
    out[`goWork_${side}`] = Object.fromEntries(Object.keys(goAfter).map((k) => [k, (goAfter[k] - goBefore[k]) / 30]));
    const [state, other] = await statesNow();
    out[`cueState_${side}`] = [];
    const before = await metrics(cdp);
    for (let i = 0; i < 30; i++) {
      out[`cueState_${side}`].push(await timedCueState(page, i % 2 ? state : other));
      await sleep(20);
    }
    const after = await metrics(cdp);
    out[`cueStateWork_${side}`] = Object.fromEntries(Object.keys(after).map((k) => [k, (after[k] - before[k]) / 30]));
    // The core's own state back, so the run goes on from there.
    await page.evaluate(() => window.webkit.messageHandlers.getState.postMessage([]).then((s) => window.__tallowmarkEvent('cueState', s)));
  }

  // Page turns: Page Down with the next spread's images already there, and
  // jumps by a desk's page command to pages not seen yet.
  await page.evaluate(() => window.__tallowmarkEvent('pageCommand', { value: 1, relative: false }));
  await sleep(800);
  out.turnCached = [];
  for (let i = 0; i < 15; i++) {
    out.turnCached.push(await timedTurn(page, { key: true }));
    await sleep(700);
  }
  out.turnUncached = [];
  const far = [];
  for (let i = 0; i < 10; i++) far.push(60 + Math.floor(((i * 37 + r * 11) % 40) * (pageCount - 80) / 40));
  for (const p of far) {
    out.turnUncached.push(await timedTurn(page, { page: p }));
    await sleep(200);
  }

  // Scrolling the whole script from the top at about two screens a second.
  await page.evaluate(() => { document.querySelector('.script').scrollTop = 0; });
  await sleep(800);
  out.scroll = await timedScroll(page, 1600, 8);
  await sleep(500);
  out.heapAfterScroll = await heapMB(cdp);

  // Many GOs and page turns (the sidebar hidden, so it takes minutes, not a
  // quarter of an hour): the heap after the first 100 against the end.
  if (r >= soakRuns) {
    out.longTasks = await page.evaluate(() => window.__bench.longTasks.length);
    out.errors = errors;
    await cdp.detach();
    await page.close();
    return out;
  }
  await resetRun(page);
  await page.evaluate(() => window.__tallowmarkEvent('pageCommand', { value: 1, relative: false }));
  await manyGos(page, 100);
  await manyTurns(page, 25);
  await sleep(300);
  out.heapAfter100 = await heapMB(cdp);
  await manyGos(page, 1900);
  await manyTurns(page, 475);
  await sleep(300);
  out.heapAfterAll = await heapMB(cdp);
  out.longTasks = await page.evaluate(() => window.__bench.longTasks.length);
  out.errors = errors;
  await cdp.detach();
  await page.close();
  return out;
}

// ---- report ----------------------------------------------------------------

function summarize(results) {
  const perRun = (f) => results.map(f);
  const line = (name, values, unit, goal, ok) => {
    const m = median(values);
    const spread = `${Math.min(...values).toFixed(2)}-${Math.max(...values).toFixed(2)}`;
    console.log(`${name.padEnd(44)} ${m.toFixed(2).padStart(8)} ${unit.padEnd(6)} (runs ${spread})  goal ${goal}${ok(m) ? '' : '  MISSED'}`);
    return { name, median: m, values, unit, goal, met: ok(m) };
  };
  const rows = [];
  for (const side of ['shown', 'hidden']) {
    const go = (o) => o[`go_${side}`];
    const cs = (o) => o[`cueState_${side}`];
    const tag = `(sidebar ${side})`;
    rows.push(line(`GO key to redrawn standby ${tag}`, perRun((o) => median(go(o).map((g) => g.frame))), 'ms', '< 16 ms', (m) => m < 16));
    rows.push(line(`  frames from the key ${tag}`, perRun((o) => median(go(o).map((g) => g.frames))), 'frames', '1 frame', (m) => m <= 1));
    rows.push(line(`  core answer over loopback HTTP ${tag}`, perRun((o) => median(go(o).map((g) => g.answer))), 'ms', '-', () => true));
    rows.push(line(`  key handler ${tag}`, perRun((o) => median(go(o).map((g) => g.handler))), 'ms', '-', () => true));
    for (const k of ['script', 'style', 'layout', 'task'])
      rows.push(line(`  main thread ${k} per GO ${tag}`, perRun((o) => o[`goWork_${side}`][k]), 'ms', '-', () => true));
    rows.push(line(`cueState of ${cueCount} cues, handler ${tag}`, perRun((o) => median(cs(o).map((c) => c.handler))), 'ms', '< 8 ms', (m) => m < 8));
    rows.push(line(`  until the frame after the one drawing it is done ${tag}`, perRun((o) => median(cs(o).map((c) => c.frameDone))), 'ms', '< 40 ms', (m) => m < 40));
    for (const k of ['script', 'style', 'layout', 'task'])
      rows.push(line(`  main thread ${k} per state ${tag}`, perRun((o) => o[`cueStateWork_${side}`][k]), 'ms', '-', () => true));
  }
  rows.push(line('page turn cached: handler', perRun((o) => median(o.turnCached.map((t) => t.handler))), 'ms', '-', () => true));
  rows.push(line('page turn cached: key to frame', perRun((o) => median(o.turnCached.map((t) => t.frame))), 'ms', '< 16 ms', (m) => m < 16));
  rows.push(line('page turn cached: image there at the frame', perRun((o) => o.turnCached.filter((t) => t.cached).length / o.turnCached.length * 100), '%', '100 %', (m) => m === 100));
  rows.push(line('page turn uncached: command to frame', perRun((o) => median(o.turnUncached.map((t) => t.frame))), 'ms', '< 16 ms', (m) => m < 16));
  rows.push(line('page turn uncached: image shown', perRun((o) => median(o.turnUncached.map((t) => t.imageShown))), 'ms', '-', () => true));
  rows.push(line('scroll 500 pages: frames per second', perRun((o) => o.scroll.fps), 'fps', '60 fps', (m) => m >= 58));
  rows.push(line('scroll: frames over 25 ms', perRun((o) => o.scroll.gaps.filter((g) => g > 25).length), 'frames', '0', (m) => m <= 2));
  rows.push(line('scroll: longest frame', perRun((o) => Math.max(...o.scroll.gaps)), 'ms', '-', () => true));
  rows.push(line('scroll: p95 frame', perRun((o) => pct(o.scroll.gaps, 95)), 'ms', '< 17 ms', (m) => m < 17.5));
  rows.push(line('scroll: page renders asked', perRun((o) => o.scroll.renders), 'calls', 'near pages only', () => true));
  rows.push(line('scroll: most page images at once', perRun((o) => o.scroll.maxImages), 'images', 'a few screens', (m) => m <= 12));
  rows.push(line('scroll: images kept beyond two screens', perRun((o) => o.scroll.farImages), 'frames', '0', (m) => m === 0));
  rows.push(line('JS heap: opened', perRun((o) => o.heapOpened), 'MB', '-', () => true));
  rows.push(line('JS heap: after the scroll', perRun((o) => o.heapAfterScroll), 'MB', '< 150 MB', (m) => m < 150));
  const soaked = results.filter((o) => o.heapAfterAll !== undefined);
  const perSoak = (f) => soaked.map(f);
  rows.push(line('JS heap: after 100 GOs + 25 turns', perSoak((o) => o.heapAfter100), 'MB', '-', () => true));
  rows.push(line('JS heap: after 2,000 GOs + 500 turns', perSoak((o) => o.heapAfterAll), 'MB', 'flat', () => true));
  rows.push(line('JS heap: growth, all against first 100', perSoak((o) => o.heapAfterAll - o.heapAfter100), 'MB', '< 2 MB (flat)', (m) => m < 2));
  rows.push(line('long tasks (> 50 ms) in a run', perRun((o) => o.longTasks), 'tasks', '0', (m) => m === 0));
  return rows;
}

async function main() {
  return benchSession({ build, name: 'page', pageCount, writeMarks: (pdf) => writeMarks(pdf, pageCount, cueCount) }, async ({ port, context }) => {
    const results = [];
    for (let r = 0; r < runs; r++) {
      const began = Date.now();
      results.push(await oneRun(context, port, r));
      const errs = results[r].errors;
      console.log(`run ${r + 1}/${runs}: ${((Date.now() - began) / 1000).toFixed(1)} s${errs.length ? `, page errors: ${errs.join(' | ')}` : ''}`);
    }
    // The machine's load changes every figure here: say what it was.
    console.log(`\n${pageCount} pages, ${cueCount} cues, ${runs} runs; median of the runs' medians; load average ${loadavg().map((l) => l.toFixed(1)).join(' ')}\n`);
    const rows = summarize(results);
    if (jsonOut) writeFileSync(jsonOut, JSON.stringify({ rows, results }, null, 1));
    return 0;
  });
}

main().then((code) => process.exit(code), (e) => {
  console.error(`bench/page: ${e.stack ?? e}`);
  process.exit(1);
});
