// A script whose first cue has a very long label: the page loaded against the
// test host with it already open, timed from the page's navigation to its
// first cue box, its first page image on screen and its "first page shown"
// line, with the longest task on the way. One label of one word (no space to
// wrap at) and one of words.
//
//   node bench/page/long_label.mjs [--build build] [--runs 5] [--chars 100000] [--pages 50] [--json FILE]
//
// Needs the targets of run.mjs. Prints the median of the runs with their
// spread and the goal.

import { writeFileSync } from 'node:fs';
import { loadavg } from 'node:os';
import { resolve } from 'node:path';
import { firstImage, option } from '../../web/e2e/harness.mjs';
import { benchSession, median, writeCues } from './bench_files.mjs';
import { openProbe, probe } from './probe.mjs';

const build = resolve(option('build', 'build'));
const runs = Number(option('runs', '5'));
const chars = Number(option('chars', '100000'));
const pageCount = Number(option('pages', '50'));
const jsonOut = option('json', '');

const labels = {
  'one word': 'x'.repeat(chars),
  words: 'storm '.repeat(Math.ceil(chars / 6)).slice(0, chars),
};

// Two cues a page on lines 5 and 25 of the benchmarks' layout (A4, 40 lines
// from 72 pt, 17 pt apart); the first one carries the long label.
function marksWriter(label) {
  return (pdf) => {
    const cues = Array.from({ length: 2 * pageCount }, (_, i) => ({
      color: '', h: 15 / 842, id: `l-${i + 1}`, insertID: '', kind: 'LX', label: i === 0 ? label : `Cue ${i + 1}`,
      labelX: 72 / 595 + 0.6, note: '', number: String(i + 1), padL: -1, padR: -1, page: Math.floor(i / 2),
      snippet: '', w: 0.6, x: 72 / 595, y: (72 + (i % 2 === 0 ? 5 : 25) * 17) / 842,
    }));
    writeCues(pdf, cues);
  };
}


async function oneRun(context, port) {
  const page = await context.newPage();
  await page.addInitScript(probe);
  await page.addInitScript(openProbe);
  const errors = [];
  page.on('pageerror', (e) => errors.push(String(e)));
  await page.goto(`http://127.0.0.1:${port}/`);
  await firstImage(page, 120000);
  await page.waitForFunction(() => !Number.isNaN(window.__open.shownAt), null, { timeout: 30000 }).catch(() => undefined);
  const out = await page.evaluate(() => ({
    ...window.__open,
    longTasks: window.__bench.longTasks.map((l) => l.duration),
    labelChars: document.querySelector('.cue-label')?.textContent?.length ?? 0,
  }));
  out.errors = errors;
  await page.close();
  return out;
}

function line(name, values, unit, goal, ok) {
  const m = median(values);
  const spread = `${Math.min(...values).toFixed(1)}-${Math.max(...values).toFixed(1)}`;
  console.log(`${name.padEnd(48)} ${m.toFixed(1).padStart(8)} ${unit.padEnd(6)} (runs ${spread})  goal ${goal}${ok(m) ? '' : '  MISSED'}`);
  return { name, median: m, values, unit, goal, met: ok(m) };
}

async function main() {
  const rows = [];
  const all = {};
  for (const [kind, label] of Object.entries(labels)) {
    const code = await benchSession({ build, name: 'long-label', pageCount, writeMarks: marksWriter(label) }, async ({ port, context }) => {
      const results = [];
      for (let r = 0; r < runs; r++) {
        results.push(await oneRun(context, port));
        const errs = results[r].errors;
        console.log(`${kind}: run ${r + 1}/${runs}${errs.length ? `, page errors: ${errs.join(' | ')}` : ''}`);
      }
      all[kind] = results;
      return 0;
    });
    if (code !== 0) return code;
  }
  console.log(`\n${pageCount} pages, first label ${chars} characters, ${runs} runs; medians; load average ${loadavg().map((l) => l.toFixed(1)).join(' ')}\n`);
  for (const [kind, results] of Object.entries(all)) {
    const per = (f) => results.map(f);
    rows.push(
      line(`${kind}: navigation to the first cue box`, per((o) => o.cueAt), 'ms', '-', () => true),
      line(`${kind}: navigation to "first page shown"`, per((o) => o.shownAt), 'ms', '< 2000 ms', (m) => m < 2000),
      line(`${kind}: longest task while opening`, per((o) => Math.max(0, ...o.longTasks)), 'ms', '< 50 ms', (m) => m < 50),
      line(`${kind}: characters the label shows`, per((o) => o.labelChars), 'chars', '-', () => true),
    );
  }
  if (jsonOut) writeFileSync(jsonOut, JSON.stringify({ rows, all }, null, 1));
  return 0;
}

main().then((code) => process.exit(code), (e) => {
  console.error(`bench/page/long_label: ${e.stack ?? e}`);
  process.exit(1);
});
