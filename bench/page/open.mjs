// A big show opening: the page loaded against the test host with a script of
// 10,000 cues already open (as after a launch with a file), timed from the
// page's navigation to its first cue box, its first page image on screen and
// its "first page shown" line; then a full state of every cue and a run change
// arriving as the core sends them (the JSON parse included), each to the frame
// after it is drawn. An older page ignores "runState": its line is then two
// empty frames.
//
//   node bench/page/open.mjs [--build build] [--runs 5] [--pages 2500] [--cues 10000] [--json FILE]
//
// Needs the same targets as run.mjs. Prints the median of the runs with their
// spread and the goal.

import { writeFileSync } from 'node:fs';
import { loadavg } from 'node:os';
import { resolve } from 'node:path';
import { firstImage, option } from '../../web/e2e/harness.mjs';
import { benchSession, median, writeCues } from './bench_files.mjs';
import { openProbe, probe } from './probe.mjs';

const build = resolve(option('build', 'build'));
const runs = Number(option('runs', '5'));
const pageCount = Number(option('pages', '2500'));
const cueCount = Number(option('cues', '10000'));
const jsonOut = option('json', '');

// Cues spread evenly over the pages, on four lines of the benchmarks' layout
// (A4, 40 lines from 72 pt, 17 pt apart), numbered in script order.
function writeMarks(pdf) {
  const lines = [5, 15, 25, 35];
  const cues = Array.from({ length: cueCount }, (_, i) => {
    const x = 72 / 595;
    const w = 0.6;
    return {
      color: '', h: 15 / 842, id: `o-${i + 1}`, insertID: '', kind: i % 3 === 0 ? 'SFX' : 'LFX',
      label: `Open cue ${i + 1}`, labelX: x + w, note: '', number: String(i + 1), padL: -1, padR: -1,
      page: Math.floor((i * pageCount) / cueCount), snippet: '', w, x, y: (72 + lines[i % lines.length] * 17) / 842,
    };
  });
  writeCues(pdf, cues);
}


// An event applied as the core sends it (the envelope parsed from its JSON
// text, then the hook called), to the frame after the one that drew it. The
// text is made in the page first, so nothing of the test's transport is timed.
async function timedEvent(page, name, payload) {
  await page.evaluate(([name, payload]) => { window.__benchEvent = JSON.stringify({ name, payload }); }, [name, payload]);
  return page.evaluate(() => new Promise((done) => {
    const t0 = performance.now();
    const e = JSON.parse(window.__benchEvent);
    window.__tallowmarkEvent(e.name, e.payload);
    const handler = performance.now() - t0;
    requestAnimationFrame(() => requestAnimationFrame(() => {
      const channel = new MessageChannel();
      channel.port1.onmessage = () => done({ handler, drawn: performance.now() - t0 });
      channel.port2.postMessage(0);
    }));
  }));
}

async function oneRun(context, port) {
  const page = await context.newPage();
  await page.addInitScript(probe);
  await page.addInitScript(openProbe);
  const errors = [];
  page.on('pageerror', (e) => errors.push(String(e)));
  await page.goto(`http://127.0.0.1:${port}/`);
  await firstImage(page);
  await page.waitForFunction(() => !Number.isNaN(window.__open.shownAt), null, { timeout: 30000 }).catch(() => undefined);
  const out = await page.evaluate(() => ({ ...window.__open, longTasks: window.__bench.longTasks.map((l) => l.duration) }));

  // The core's own state, applied again as a "cueState" (an edit elsewhere),
  // and one GO's run change built from it.
  const state = await page.evaluate(() => window.webkit.messageHandlers.getState.postMessage([]));
  if (!Array.isArray(state?.cues) || state.cues.length < cueCount) throw new Error(`the core's state has ${state?.cues?.length} cues, expected ${cueCount}`);
  out.state = [];
  out.run = [];
  for (let i = 0; i < 10; i++) {
    out.state.push(await timedEvent(page, 'cueState', state));
    const at = state.cues.findIndex((c) => c.id === state.standbyID);
    const seq = typeof state.seq === 'number' ? state.seq : 0;
    out.run.push(await timedEvent(page, 'runState', {
      seq: seq + 1, from: seq, standbyID: state.cues[at + 1]?.id ?? '', lastFiredID: state.standbyID, clear: false,
      fired: [state.standbyID], unfired: [], firedCount: state.fired.length + 1, total: state.cues.length, savedRun: {},
    }));
    // Back to the core's state for the next round.
    await page.evaluate((s) => window.__tallowmarkEvent('cueState', s), state);
    await page.waitForTimeout(50);
  }
  out.errors = errors;
  await page.close();
  return out;
}

function line(name, values, unit, goal, ok) {
  const m = median(values);
  const spread = `${Math.min(...values).toFixed(1)}-${Math.max(...values).toFixed(1)}`;
  console.log(`${name.padEnd(44)} ${m.toFixed(1).padStart(8)} ${unit.padEnd(6)} (runs ${spread})  goal ${goal}${ok(m) ? '' : '  MISSED'}`);
  return { name, median: m, values, unit, goal, met: ok(m) };
}

async function main() {
  return benchSession({ build, name: 'open', pageCount, writeMarks }, async ({ port, context }) => {
    const results = [];
    for (let r = 0; r < runs; r++) {
      results.push(await oneRun(context, port));
      const errs = results[r].errors;
      console.log(`run ${r + 1}/${runs}${errs.length ? `, page errors: ${errs.join(' | ')}` : ''}`);
    }
    console.log(`\n${pageCount} pages, ${cueCount} cues, ${runs} runs; medians; load average ${loadavg().map((l) => l.toFixed(1)).join(' ')}\n`);
    const per = (f) => results.map(f);
    const rows = [
      line('navigation to the first cue box', per((o) => o.cueAt), 'ms', '-', () => true),
      line('navigation to the first page image shown', per((o) => o.imageAt), 'ms', '< 2000 ms', (m) => m < 2000),
      line('navigation to "first page shown"', per((o) => o.shownAt), 'ms', '< 2000 ms', (m) => m < 2000),
      line('longest task while opening', per((o) => Math.max(0, ...o.longTasks)), 'ms', '< 50 ms', (m) => m < 50),
      line(`cueState of ${cueCount} cues: parse + handler`, per((o) => median(o.state.map((s) => s.handler))), 'ms', '-', () => true),
      line(`cueState of ${cueCount} cues: to the frame after it`, per((o) => median(o.state.map((s) => s.drawn))), 'ms', '-', () => true),
      line('runState (one GO): parse + handler', per((o) => median(o.run.map((s) => s.handler))), 'ms', '-', () => true),
      line('runState (one GO): to the frame after it', per((o) => median(o.run.map((s) => s.drawn))), 'ms', '< 34 ms', (m) => m < 34),
    ];
    if (jsonOut) writeFileSync(jsonOut, JSON.stringify({ rows, results }, null, 1));
    return 0;
  });
}

main().then((code) => process.exit(code), (e) => {
  console.error(`bench/page/open: ${e.stack ?? e}`);
  process.exit(1);
});
