// What the browser scenarios do and read as an operator would.

import { fail, firstImage, menu, readRun, waitFor } from './harness.mjs';

export const oneLine = (s) => s.replace(/\s+/g, ' ').trim();
export const near = (a, b, slack) => Math.abs(a - b) <= slack;

// Waits until `locator` is in `state`, else fails with `problem`.
export async function shows(locator, problem, ms = 3000, state = 'visible') {
  await locator.waitFor({ state, timeout: ms }).catch(() => { throw fail(problem); });
}

// Polls `probe` until it answers, else fails with `problem` (a text, or a
// function that says what was last seen).
export async function until(probe, problem, ms = 5000) {
  return waitFor('', probe, ms).catch(async () => { throw fail(typeof problem === 'function' ? await problem() : problem); });
}

// A native call or an event as the page and the core exchange them.
export const call = (page, name, args = []) => page.evaluate(([n, a]) => window.webkit.messageHandlers[n].postMessage(a), [name, args]);
export const event = (page, name, payload) => page.evaluate(([n, p]) => window.__tallowmarkEvent(n, p), [name, payload]);
// A desk's "page N" (from 1).
export const goToPage = (page, n) => event(page, 'pageCommand', { value: n, relative: false });

export const showPanel = (page) => page.getByRole('complementary', { name: 'Show' });

// The show panel says every one of `texts`.
export async function panelSays(page, ...texts) {
  let seen = '';
  await until(async () => {
    seen = oneLine(await showPanel(page).innerText());
    return texts.every((x) => seen.includes(x)) || undefined;
  }, () => `show panel: expected ${texts.map((x) => `"${x}"`).join(', ')}, it shows "${seen}"`);
}

export const standbyIs = (page, tag, label) => panelSays(page, `STANDBY ${tag}`, label);

export async function firedBecomes(folder, expected) {
  const want = [...expected].sort().join(',');
  let seen = '(no run file)';
  return until(() => {
    const run = readRun(folder);
    if (run) seen = JSON.stringify(run.fired);
    return run && [...run.fired].sort().join(',') === want ? run : undefined;
  }, () => `run file: expected fired [${want}], last seen ${seen}`);
}

// The core's resume offer follows every run file write; during the show it
// must not be offered back to the operator.
export async function noResumeOffer(page, when) {
  if (await page.getByRole('button', { name: 'Resume' }).isVisible()) {
    const text = oneLine(await page.getByRole('status').filter({ hasText: 'cues fired' }).first().innerText().catch(() => ''));
    throw fail(`${when}: a banner offers to resume the run in progress ("${text}")`);
  }
}

// Closes the script and opens it from the recent scripts again.
export async function reopen(t) {
  const { page } = t;
  await menu(page, 'closeScript');
  const recents = page.getByRole('region', { name: 'Recent scripts' });
  await shows(recents, 'closed script: the start view lists no recent scripts', 5000);
  await recents.getByRole('button', { name: t.pdfName }).click();
  await firstImage(page).catch(() => { throw fail('reopened script: no page image within 30 s'); });
}

export async function cueMode(page, on) {
  if (((await page.locator('.page.cue-mode').count()) > 0) !== on) await page.keyboard.press('Control+e');
}

// Waits for the text field named `name`, types `text` and presses `key`.
export async function typeIn(page, name, text, problem, key = 'Enter') {
  const field = page.getByRole('textbox', { name });
  await shows(field, problem);
  await field.focus();
  await page.keyboard.type(text);
  await page.keyboard.press(key);
}

// A drag with the primary button from `a` to `b` (screen px) in `steps` moves;
// `held` runs before the button is let go.
export async function drag(page, a, b, { steps = 2, held } = {}) {
  await page.mouse.move(a.x, a.y);
  await page.mouse.down();
  await page.mouse.move(b.x, b.y, { steps });
  if (held) await held();
  await page.mouse.up();
}

// The middle of `locator` on screen.
export async function middle(locator, what) {
  const box = await locator.boundingBox();
  if (!box) throw fail(`${what}: not on screen`);
  return { x: box.x + box.width / 2, y: box.y + box.height / 2, box };
}

// Every cue label in view stands clear of the words the core finds on its
// page ("pageLines"), of the page itself and of the other labels.
export async function labelsClear(page, mode) {
  let found;
  await until(async () => {
    found = await page.evaluate(async () => {
      const meet = (a, b) => a.left < b.right && a.right > b.left && a.top < b.bottom && a.bottom > b.top;
      const seen = { labels: 0, words: 0, problems: [] };
      for (const el of document.querySelectorAll('.page')) {
        const labels = [...el.querySelectorAll('.cue-label')].map((l) => ({ text: l.textContent, box: l.getBoundingClientRect() }));
        if (labels.length === 0) continue;
        const index = Number(el.getAttribute('data-page'));
        const p = el.getBoundingClientRect();
        const lines = await window.webkit.messageHandlers.pageLines.postMessage([index]);
        const words = (Array.isArray(lines) ? lines : []).map(([x, y, w, h]) => ({
          left: p.left + x * p.width, right: p.left + (x + w) * p.width, top: p.top + y * p.height, bottom: p.top + (y + h) * p.height,
        }));
        seen.labels += labels.length;
        seen.words += words.length;
        labels.forEach((l, i) => {
          const word = words.find((w) => meet(l.box, w));
          if (word) seen.problems.push(`page ${index + 1}: "${l.text}" covers words at (${word.left.toFixed(0)}, ${word.top.toFixed(0)})`);
          if (meet(l.box, p)) seen.problems.push(`page ${index + 1}: "${l.text}" lies over the page`);
          const other = labels.slice(i + 1).find((o) => meet(l.box, o.box));
          if (other) seen.problems.push(`page ${index + 1}: "${l.text}" overlaps "${other.text}"`);
        });
      }
      return seen;
    });
    return found.labels > 0 && found.words > 0 ? true : undefined;
  }, () => `${mode}: no labels or no words in view to check (${JSON.stringify(found)})`, 10000);
  if (found.problems.length) throw fail(`${mode}: ${found.problems.slice(0, 3).join('; ')}`);
}

// Resumes the run the banner offers, its text saying `text`; the banner is
// kept as the picture `shot`.
export async function resumeFromBanner(t, text, shot) {
  const { page } = t;
  const banner = page.getByRole('status').filter({ has: page.getByRole('button', { name: 'Resume' }) });
  await shows(banner, 'reopened script: no banner offering to resume the saved run', 8000);
  const said = oneLine(await banner.innerText());
  if (!said.includes(text)) throw fail(`resume banner: expected "${text}", it says "${said}"`);
  await t.shot(shot);
  await banner.getByRole('button', { name: 'Resume' }).click();
  await shows(banner, 'resume banner: still shown after Resume', 3000, 'hidden');
}
