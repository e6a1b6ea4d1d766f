// The page in real Chromium against the real core (the test host serving the
// demo), through an evening in order; each main state saved as page-e2e-*.png.
//   node web/e2e/run.mjs --host PATH --program PATH --page PATH --out DIR
// Exit 0 passed, 1 failed, 77 skipped (no /usr/bin/chromium).

import { execFileSync } from 'node:child_process';
import { existsSync, mkdtempSync, readdirSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { CHROMIUM, SKIP, fail, firstImage, launchChromium, option, startHost } from './harness.mjs';
import * as s from './scenarios.mjs';
import { exportMarked } from './scenarios_export.mjs';
import { insertLine } from './scenarios_inserts.mjs';
import { followerScreen } from './scenarios_share.mjs';

async function main() {
  if (!existsSync(CHROMIUM)) {
    console.log(`page_e2e: skipped, ${CHROMIUM} is not installed`);
    return SKIP;
  }
  const [hostPath, program, pageFile, out] = ['host', 'program', 'page', 'out'].map((name) => option(name));
  for (const path of [hostPath, program, pageFile]) if (!existsSync(path)) throw fail(`${path} does not exist`);

  // A picture left from an earlier run must not pass for this one's.
  for (const n of readdirSync(out)) if (/^page-e2e-.*\.png$/.test(n)) rmSync(join(out, n));

  const work = mkdtempSync(join(tmpdir(), 'tallowmark-e2e-'));
  const [demo, config, panels] = ['demo', 'config', 'panels'].map((name) => join(work, name));
  let host, context;
  const pageErrors = [];
  try {
    execFileSync(program, ['--make-demo', demo], { stdio: ['ignore', 'ignore', 'inherit'] });
    const pdfName = existsSync(demo) ? readdirSync(demo).find((n) => n.endsWith('.pdf')) : undefined;
    if (!pdfName) throw fail(`--make-demo left no PDF in ${demo}`);
    const pdf = join(demo, pdfName);

    context = await launchChromium(join(work, 'profile'));
    let port;
    const open = async (page) => {
      page.on('pageerror', (e) => pageErrors.push(String(e)));
      await page.goto(`http://127.0.0.1:${port}/`);
      await firstImage(page).catch(async () => {
        await page.screenshot({ path: join(out, 'page-e2e-failed.png') });
        throw fail(`no page image within 30 s${pageErrors.length ? `; page errors: ${pageErrors.join(' | ')}` : ''}`);
      });
      return page;
    };
    const serve = async () => void (port = await (host = startHost(hostPath, pageFile, pdf, config, { panels })).port);
    await serve();

    const t = {
      page: await open(context.pages()[0] ?? (await context.newPage())),
      demo, pdf, pdfName, config, panels, out,
      shot: (name, page = t.page) => page.screenshot({ path: join(out, `page-e2e-${name}.png`) }),
    };
    const restart = async () => {
      await t.page.close();
      await host.stop();
      await serve();
      return open(await context.newPage());
    };
    const openMonitor = async () => {
      const page = await context.newPage();
      await page.addInitScript(() => { window.__confidenceMode = true; });
      return open(page);
    };

    const steps = [
      ['script opened', () => s.opened(t)],
      ['labels clear of the words', () => s.labelsClearOfWords(t)],
      ['GO three times, BACK', () => s.goThreeTimesAndBack(t)],
      ['cue placed in Cue Mode', () => s.placeCue(t)],
      ['setting changed', () => s.changeSetting(t)],
      ['closed, reopened, resumed', () => s.closeAndResume(t)],
      ['host restarted, resumed', () => s.restartAndResume(t, restart)],
      ['inserted line', () => insertLine(t)],
      ['marked script exported', () => exportMarked(t)],
      ['follower screen', () => followerScreen(t, context)],
      // Last: the host hands its events to one poller at a time, so with the
      // monitor's page open as well the main page would miss some of them.
      ['confidence monitor', () => s.monitor(t, openMonitor)],
    ];
    for (const [name, step] of steps) {
      const began = Date.now();
      try {
        await step();
      } catch (e) {
        await t.page.screenshot({ path: join(out, 'page-e2e-failed.png') }).catch(() => {});
        if (e.isCheck) e.message = `${name}: ${e.message}`;
        throw e;
      }
      console.log(`page_e2e: ${name} (${Date.now() - began} ms)`);
      if (pageErrors.length) throw fail(`${name}: the page threw: ${pageErrors.join(' | ')}`);
    }
    console.log('page_e2e: passed');
    return 0;
  } finally {
    if (context) await context.close().catch(() => {});
    if (host) await host.stop();
    rmSync(work, { recursive: true, force: true });
  }
}

main().then(
  (code) => process.exit(code),
  (error) => {
    console.error(`page_e2e: FAILED: ${error.isCheck ? error.message : error.stack ?? error}`);
    process.exit(1);
  },
);
