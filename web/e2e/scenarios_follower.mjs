// The follower page in real Chromium on a phone held upright (390 × 844,
// ratio 3) and on a laptop, against the stand-in server of follower_stub.mjs:
// it shows the standby and its page, follows run pushes, keeps a department
// filter over a reload, and rides out the server going away.
//   node web/e2e/scenarios_follower.mjs --page dist/index_inlined.html --out DIR
// Exit 0 passed, 1 failed, 77 skipped (no /usr/bin/chromium).

import { existsSync } from 'node:fs';
import { createRequire } from 'node:module';
import { join } from 'node:path';
import { CHROMIUM, SKIP, fail, option, waitFor } from './harness.mjs';
import { startFollowerStub } from './follower_stub.mjs';

const token = '5f0c1d2e3a4b5c6d7e8f90a1b2c3d4e5';
const kinds = ['LX', 'SND', 'LX', 'VFX', 'LX', 'SND', 'LX', 'LX', 'SND', 'LX'];
const labels = ['House to half', 'Preshow out', 'Lights up on the kitchen', 'Smoke under the door', 'Window special',
  'Thunder, distant', 'Storm flicker — build over ten seconds until the whole back wall is lit', 'Fade to night',
  'Clock strikes', 'Blackout'];
const script = {
  type: 'script',
  document: { title: 'Lantern', pageCount: 5, aspects: Array(5).fill(0.707) },
  cues: kinds.map((kind, i) => ({
    id: `C${i + 1}`, number: String(10 + i), label: labels[i], kind, page: Math.floor(i / 2),
    x: 0.1, y: 0.25 + 0.45 * (i % 2), w: 0.45, h: 0.018,
  })),
};
const run = (i) => ({
  type: 'run', standby: i <= 10 ? `C${i}` : null, next: i < 10 ? `C${i + 1}` : null, lastFired: i > 1 ? `C${i - 1}` : null,
  firedCount: i - 1, total: 10,
});

// What the screen shows, read as a person would.
const shown = (page) => page.evaluate(() => {
  const q = (s) => document.querySelector(s)?.textContent ?? null;
  const img = document.querySelector('img.follow-page-image');
  return {
    number: q('.follow-number'), label: q('.follow-label'), next: q('[data-testid="follow-next"]'),
    count: q('[data-testid="follow-count"]'), none: q('.follow-none'), lost: q('[data-testid="follow-lost"]'),
    box: document.querySelector('.follow-box.standby')?.getAttribute('data-cue') ?? null,
    image: img instanceof HTMLImageElement && img.complete && img.naturalWidth > 0 ? img.getAttribute('src') : null,
  };
});

const until = (page, what, test, ms) => waitFor(what, async () => {
  const s = await shown(page);
  return test(s) ? s : undefined;
}, ms);

async function phone(browser, stub, out, base) {
  const context = await browser.newContext({ viewport: { width: 390, height: 844 }, deviceScaleFactor: 3, isMobile: true, hasTouch: true });
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(String(e)));
  // The browser's own ask for /favicon.ico is refused like any address without the token.
  page.on('response', (r) => r.status() >= 400 && !r.url().endsWith('/favicon.ico') && errors.push(`${r.status()} ${r.url()}`));
  // The follower never asks for the native side: main.tsx looks once whether it is there.
  await page.addInitScript(() => {
    let reads = 0;
    Object.defineProperty(window, 'webkit', { get: () => void reads++ });
    Object.defineProperty(window, '__webkitReads', { get: () => reads });
  });
  await page.goto(base);
  let s = await until(page, 'the standby and its page', (v) => v.number === '12' && v.image);
  // 390 css px at ratio 3: 1170 device px, asked as 1280.
  if (s.image !== `/f/${token}/page/1/1280`) throw fail(`the page image was asked as ${s.image}`);
  if (s.next !== 'next: VFX 13 · Smoke under the door' || s.count !== '2 of 10 fired' || s.box !== 'C3')
    throw fail(`the phone showed ${JSON.stringify(s)}`);
  await page.screenshot({ path: join(out, 'follower-phone.png') });

  for (const i of [4, 5, 6]) {
    stub.push(run(i));
    await until(page, `the run at C${i}`, (v) => v.box === `C${i}` && v.count === `${i - 1} of 10 fired`);
  }
  await page.getByRole('button', { name: 'SND', exact: true }).click();
  s = await until(page, 'the sound standby', (v) => v.number === '15');
  if (s.next !== 'next: SND 18 · Clock strikes') throw fail(`the sound filter's next was ${s.next}`);
  await page.reload();
  await until(page, 'the filter kept over a reload', (v) => v.number === '15' && v.next === 'next: SND 18 · Clock strikes');
  stub.push(run(10));
  await until(page, 'no more sound cues', (v) => v.none === 'No more SND cues');

  stub.dropAll();
  await until(page, 'the lost band', (v) => v.lost !== null && v.none === 'No more SND cues', 5000);
  await page.screenshot({ path: join(out, 'follower-phone-lost.png') });
  stub.push(run(7));
  await until(page, 'the screen current again', (v) => v.lost === null && v.number === '18', 20000);
  const reads = await page.evaluate(() => window.__webkitReads);
  if (reads !== 1) throw fail(`the page looked for the native side ${reads} times`);
  if (errors.length) throw fail(`page errors: ${errors.join(' | ')}`);
  await context.close();
}

async function laptop(browser, out, base) {
  const context = await browser.newContext({ viewport: { width: 1280, height: 800 } });
  const page = await context.newPage();
  await page.goto(base);
  await until(page, 'the standby and its page', (v) => v.image !== null && v.number !== null);
  const side = await page.evaluate(() => {
    const head = document.querySelector('.follow-head').getBoundingClientRect();
    const column = document.querySelector('.follow-column').getBoundingClientRect();
    return head.left >= column.right - 1;
  });
  if (!side) throw fail('on a laptop the standby is not beside the page');
  await page.screenshot({ path: join(out, 'follower-laptop.png') });
  await context.close();
}

async function main() {
  if (!existsSync(CHROMIUM)) {
    console.log(`follower e2e: skipped, ${CHROMIUM} is not installed`);
    return SKIP;
  }
  const [pageFile, out] = ['page', 'out'].map((name) => option(name));
  const stub = await startFollowerStub(pageFile, { token, script, run: run(3) });
  const require = createRequire(new URL('../package.json', import.meta.url));
  const { chromium } = require('playwright-core');
  const browser = await chromium.launch({ executablePath: CHROMIUM, headless: true, args: ['--no-sandbox', '--disable-gpu'] });
  try {
    const base = `http://127.0.0.1:${stub.port}/f/${token}/`;
    await phone(browser, stub, out, base);
    await laptop(browser, out, base);
    console.log('follower e2e: passed');
    return 0;
  } finally {
    await browser.close();
    await stub.close();
  }
}

main().then((code) => process.exit(code), (error) => {
  console.error(`follower e2e: ${error.isCheck ? error.message : error.stack}`);
  process.exit(1);
});
