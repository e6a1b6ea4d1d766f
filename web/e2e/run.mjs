// The page in a real browser against the real core: the test host serves the
// built page with the demo script open; the browser presses GO three times and
// BACK once, and the run file beside the script must follow each press; then a
// cue placed in Cue Mode must reach the marks file.
//
//   node web/e2e/run.mjs --host PATH --program PATH --page PATH --out DIR
//
// Exit 0 passed, 1 failed, 77 skipped (no /usr/bin/chromium).

import { spawn, execFileSync } from 'node:child_process';
import { existsSync, mkdtempSync, readdirSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { createRequire } from 'node:module';

const CHROMIUM = '/usr/bin/chromium';
const SKIP = 77;

function option(name) {
  const i = process.argv.indexOf(`--${name}`);
  if (i < 0 || i + 1 >= process.argv.length) throw new Error(`missing --${name}`);
  return process.argv[i + 1];
}

function fail(message) {
  const error = new Error(message);
  error.isCheck = true;
  return error;
}

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// Polls until `probe` answers something other than undefined, else fails with `what`.
async function waitFor(what, probe, ms = 15000) {
  const until = Date.now() + ms;
  let last;
  while (Date.now() < until) {
    last = await probe();
    if (last !== undefined) return last;
    await sleep(100);
  }
  throw fail(`timed out waiting for ${what}`);
}

function startHost(hostPath, page, script) {
  const child = spawn(hostPath, [page, '0', script], { stdio: ['ignore', 'pipe', 'inherit'] });
  const port = new Promise((resolve, reject) => {
    let text = '';
    child.stdout.on('data', (chunk) => {
      text += chunk;
      const m = /^PORT (\d+)$/m.exec(text);
      if (m) resolve(Number(m[1]));
    });
    child.on('exit', (code) => reject(fail(`the page host ended before serving (status ${code})`)));
  });
  return { child, port };
}

function readRun(folder) {
  const name = readdirSync(folder).find((n) => n.endsWith('.tallowmark-run'));
  if (!name) return undefined;
  try {
    return JSON.parse(readFileSync(join(folder, name), 'utf8'));
  } catch {
    return undefined;  // caught between writes
  }
}

async function firedBecomes(folder, expected) {
  const want = [...expected].sort().join(',');
  let seen = '(no run file)';
  try {
    return await waitFor(`run file with fired ${want}`, () => {
      const run = readRun(folder);
      if (run) seen = JSON.stringify(run.fired);
      return run && [...run.fired].sort().join(',') === want ? run : undefined;
    }, 5000);
  } catch (e) {
    throw fail(`run file: expected fired [${want}], last seen ${seen}`);
  }
}

async function standbyIs(page, tag, label) {
  let seen = '';
  try {
    await waitFor(`standby ${tag}`, async () => {
      seen = (await page.locator('.show-panel .standby').innerText()).replace(/\s+/g, ' ');
      return seen.includes(tag) && seen.includes(label) ? true : undefined;
    }, 5000);
  } catch {
    throw fail(`standby panel: expected "${tag}" "${label}", shows "${seen}"`);
  }
}

// The marks file beside the script: its name with the extension replaced.
function readMarks(pdfPath) {
  try {
    return JSON.parse(readFileSync(pdfPath.replace(/\.[^./]*$/, '.tallowmark'), 'utf8'));
  } catch {
    return undefined;  // not written yet, or caught between writes
  }
}

// Cue Mode: a drag across two words of the first page, a label typed into the
// field at the line end, Return; the writer thread puts the cue in the marks file.
async function placeCue(page, pdfPath, out) {
  const label = 'E2E thunder roll';
  await page.keyboard.press('Control+e');
  const first = page.locator('.page[data-page="0"]');
  await first.scrollIntoViewIfNeeded();
  const box = await first.boundingBox();
  if (!box) throw fail('the first page has no box on screen');
  // Where the words of the first page lie depends on the demo's layout: try
  // a few heights in the left part until one has words under it.
  let field;
  for (const y of [0.2, 0.3, 0.4, 0.5, 0.6, 0.15, 0.7]) {
    const top = box.y + box.height * y;
    await page.mouse.move(box.x + box.width * 0.15, top);
    await page.mouse.down();
    await page.mouse.move(box.x + box.width * 0.3, top, { steps: 4 });
    await page.mouse.up();
    try {
      field = page.locator('.cue-draft-number');
      await field.waitFor({ state: 'visible', timeout: 1500 });
      break;
    } catch {
      field = undefined;  // no words under that line; try the next
    }
  }
  if (!field) {
    await page.screenshot({ path: join(out, 'page-e2e-failed.png') });
    throw fail('Cue Mode: no label field opened after a drag on the first page');
  }
  await page.keyboard.press('Tab');
  await page.keyboard.type(label);
  await page.keyboard.press('Enter');
  let seen = '(no marks file)';
  try {
    await waitFor(`marks file with the cue "${label}"`, () => {
      const marks = readMarks(pdfPath);
      if (marks) seen = JSON.stringify((marks.cues ?? []).map((c) => c.label));
      return marks && (marks.cues ?? []).some((c) => c.label === label) ? true : undefined;
    }, 5000);
  } catch {
    throw fail(`marks file: expected a cue labelled "${label}", labels seen ${seen}`);
  }
  await page.screenshot({ path: join(out, 'page-e2e-4-cue-placed.png') });
}

async function main() {
  if (!existsSync(CHROMIUM)) {
    console.log(`page_e2e: skipped, ${CHROMIUM} is not installed`);
    return SKIP;
  }
  const hostPath = option('host');
  const program = option('program');
  const pageFile = option('page');
  const out = option('out');
  for (const [what, path] of [['host', hostPath], ['program', program], ['page', pageFile]]) {
    if (!existsSync(path)) throw fail(`the ${what} ${path} does not exist`);
  }

  const work = mkdtempSync(join(tmpdir(), 'tallowmark-e2e-'));
  const demo = join(work, 'demo');
  let host;
  let context;
  try {
    execFileSync(program, ['--make-demo', demo], { stdio: 'inherit' });
    const pdf = existsSync(demo) ? readdirSync(demo).find((n) => n.endsWith('.pdf')) : undefined;
    if (!pdf) throw fail(`--make-demo left no PDF in ${demo}`);

    host = startHost(hostPath, pageFile, join(demo, pdf));
    const port = await host.port;

    // Resolved from the page's own packages, wherever this is run from.
    const require = createRequire(new URL('../package.json', import.meta.url));
    const { chromium } = require('playwright-core');
    context = await chromium.launchPersistentContext(join(work, 'profile'), {
      executablePath: CHROMIUM,
      headless: true,
      viewport: { width: 1280, height: 800 },
      args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
        '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    });
    const page = context.pages()[0] ?? (await context.newPage());
    const pageErrors = [];
    page.on('pageerror', (e) => pageErrors.push(String(e)));
    await page.goto(`http://127.0.0.1:${port}/`);

    try {
      await page.waitForFunction(() => {
        const img = document.querySelector('img.page-image');
        return img instanceof HTMLImageElement && img.complete && img.naturalWidth > 0;
      }, null, { timeout: 30000 });
    } catch {
      await page.screenshot({ path: join(out, 'page-e2e-failed.png') });
      throw fail(`no page image within 30 s${pageErrors.length ? `; page errors: ${pageErrors.join(' | ')}` : ''}`);
    }
    await standbyIs(page, 'CUE 1', 'House out');
    await page.screenshot({ path: join(out, 'page-e2e-1-opened.png') });

    for (let i = 0; i < 3; i++) await page.keyboard.press('Enter');
    await standbyIs(page, 'SFX 4', 'Footsteps on iron stair');
    await firedBecomes(demo, ['demo-1', 'demo-2', 'demo-3']);
    await page.screenshot({ path: join(out, 'page-e2e-2-three-go.png') });

    await page.keyboard.press('Backspace');
    await standbyIs(page, 'LFX 3', 'Night, desk lamp');
    await firedBecomes(demo, ['demo-1', 'demo-2']);
    await page.screenshot({ path: join(out, 'page-e2e-3-back.png') });

    await placeCue(page, join(demo, pdf), out);

    if (pageErrors.length) throw fail(`the page threw: ${pageErrors.join(' | ')}`);
    console.log('page_e2e: passed');
    return 0;
  } finally {
    if (context) await context.close().catch(() => {});
    if (host) {
      host.child.removeAllListeners('exit');
      host.child.kill('SIGTERM');
    }
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
