// Shared by the browser tests and the page measurements: the test host,
// Chromium, polling, and the files the core writes beside the script.

import { spawn } from 'node:child_process';
import { mkdirSync, readdirSync, readFileSync } from 'node:fs';
import { join } from 'node:path';
import { createRequire } from 'node:module';

export const CHROMIUM = '/usr/bin/chromium';
export const SKIP = 77;

export function option(name, fallback) {
  const i = process.argv.indexOf(`--${name}`);
  if (i < 0 || i + 1 >= process.argv.length) {
    if (fallback !== undefined) return fallback;
    throw new Error(`missing --${name}`);
  }
  return process.argv[i + 1];
}

// A failed check: its message is what the operator would have seen.
export function fail(message) {
  const error = new Error(message);
  error.isCheck = true;
  return error;
}

export const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// Polls until `probe` answers something other than undefined, else fails with `what`.
export async function waitFor(what, probe, ms = 15000) {
  const until = Date.now() + ms;
  while (Date.now() < until) {
    const last = await probe();
    if (last !== undefined) return last;
    await sleep(100);
  }
  throw fail(`timed out waiting for ${what}`);
}

// The host serves `page` with `script` open; its settings live in a file under
// `configHome`, so a restart with the same folder finds what the last run kept.
// With `panels` (a folder) the host's save and open panels, confirmations and
// reveals answer from files there (see tests/page_host/page_host.cpp).
export function startHost(hostPath, page, script, configHome, { panels } = {}) {
  mkdirSync(configHome, { recursive: true });
  if (panels) mkdirSync(panels, { recursive: true });
  const child = spawn(hostPath, [...(panels ? ['--panels', panels] : []), page, '0', script], {
    stdio: ['ignore', 'pipe', 'inherit'],
    // The show report goes to the data folder: beside the settings, never the user's own.
    env: { ...process.env, XDG_CONFIG_HOME: configHome, XDG_DATA_HOME: `${configHome}/data` },
  });
  const port = new Promise((resolve, reject) => {
    let text = '';
    child.stdout.on('data', (chunk) => {
      text += chunk;
      const m = /^PORT (\d+)$/m.exec(text);
      if (m) resolve(Number(m[1]));
    });
    child.on('exit', (code) => reject(fail(`the page host ended before serving (status ${code})`)));
  });
  return {
    child,
    port,
    // SIGTERM ends the host's main loop, which lets the writer threads finish.
    async stop() {
      child.removeAllListeners('exit');
      if (child.exitCode === null && child.signalCode === null) {
        const done = new Promise((resolve) => child.once('exit', resolve));
        child.kill('SIGTERM');
        await Promise.race([done, sleep(5000)]);
      }
    },
  };
}

export async function launchChromium(profile) {
  // Resolved from the page's own packages, wherever this is run from.
  const require = createRequire(new URL('../package.json', import.meta.url));
  const { chromium } = require('playwright-core');
  return chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: true,
    viewport: { width: 1280, height: 800 },
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
      '--enable-precise-memory-info'],
  });
}

// Waits for the first page image of the open script to be decoded.
export async function firstImage(page, ms = 30000) {
  await page.waitForFunction(() => {
    const img = document.querySelector('img.page-image');
    return img instanceof HTMLImageElement && img.complete && img.naturalWidth > 0;
  }, null, { timeout: ms });
}

function readJson(path) {
  try {
    return JSON.parse(readFileSync(path, 'utf8'));
  } catch {
    return undefined;  // not written yet, or caught between writes
  }
}

export function readRun(folder) {
  const name = readdirSync(folder).find((n) => n.endsWith('.tallowmark-run'));
  return name ? readJson(join(folder, name)) : undefined;
}

// The marks file beside the script: its name with the extension replaced.
export const marksPath = (pdfPath) => pdfPath.replace(/\.[^./]*$/, '.tallowmark');
export const readMarks = (pdfPath) => readJson(marksPath(pdfPath));
export const readSettings = (configHome) => readJson(join(configHome, 'TALLOWMARK', 'settings.json'));

// What a failed wait on the marks file says it held.
const marksSummary = (m) => ({
  cues: (m.cues ?? []).map((c) => `${c.kind} ${c.number} ${c.label}${c.insertID ? ` on ${c.insertID}` : ''}`),
  marks: (m.marks ?? []).map((x) => x.kind), memos: (m.memos ?? []).map((x) => `${x.color} ${x.text}`), flags: (m.flags ?? []).length,
  inserts: m.inserts, pageTexts: m.pageTexts, pageLabelOffset: m.pageLabelOffset, crop: m.crop,
});

// Waits until the script's marks file passes `test`, and answers what the test
// found (the file itself for a plain true); else fails with `what` and what
// the file held.
export async function marksUntil(pdf, what, test) {
  let seen = '(no marks file)';
  try {
    return await waitFor(what, () => {
      const marks = readMarks(pdf);
      if (!marks) return undefined;
      seen = JSON.stringify(marksSummary(marks));
      const found = test(marks);
      return found === true ? marks : found || undefined;
    }, 5000);
  } catch {
    throw fail(`marks file: expected ${what}; it holds ${seen}`);
  }
}

// What the menu of the app window sends the page.
export async function menu(page, command, value) {
  await page.evaluate(([c, v]) => window.__tallowmarkEvent('menuCommand', v === undefined ? { command: c } : { command: c, value: v }),
    [command, value]);
}
