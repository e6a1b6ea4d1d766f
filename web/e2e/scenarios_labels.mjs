// Cue labels never cover the script: every label in view stands in its
// page's gutter, clear of every word box the core finds on that page
// ("pageLines") and of the other labels, with one page, two pages side by
// side and on the confidence monitor.

import { fail, menu, waitFor } from './harness.mjs';

// The labels drawn on the pages in the document, each against the word boxes
// of its page as the page shows them.
async function labelsAgainstWords(page) {
  return page.evaluate(async () => {
    const call = (name, args) => window.webkit.messageHandlers[name].postMessage(args);
    const meet = (a, b) => a.left < b.right && a.right > b.left && a.top < b.bottom && a.bottom > b.top;
    const found = { labels: 0, words: 0, problems: [] };
    for (const el of document.querySelectorAll('.page')) {
      const labels = [...el.querySelectorAll('.cue-label')].map((l) => ({ text: l.textContent, box: l.getBoundingClientRect() }));
      if (labels.length === 0) continue;
      const index = Number(el.getAttribute('data-page'));
      const p = el.getBoundingClientRect();
      const lines = await call('pageLines', [index]);
      const words = (Array.isArray(lines) ? lines : []).map(([x, y, w, h]) => ({
        left: p.left + x * p.width, right: p.left + (x + w) * p.width, top: p.top + y * p.height, bottom: p.top + (y + h) * p.height,
      }));
      found.labels += labels.length;
      found.words += words.length;
      labels.forEach((l, i) => {
        const word = words.find((w) => meet(l.box, w));
        if (word) found.problems.push(`page ${index + 1}: "${l.text}" covers words at (${word.left.toFixed(0)}, ${word.top.toFixed(0)})`);
        if (meet(l.box, p)) found.problems.push(`page ${index + 1}: "${l.text}" lies over the page`);
        const other = labels.slice(i + 1).find((o) => meet(l.box, o.box));
        if (other) found.problems.push(`page ${index + 1}: "${l.text}" overlaps "${other.text}"`);
      });
    }
    return found;
  });
}

async function checkView(page, mode) {
  let found;
  await waitFor(`labels drawn (${mode})`, async () => {
    found = await labelsAgainstWords(page);
    return found.labels > 0 && found.words > 0 ? true : undefined;
  }, 10000).catch(() => { throw fail(`${mode}: no labels or no words in view to check (${JSON.stringify(found)})`); });
  if (found.problems.length) throw fail(`${mode}: ${found.problems.slice(0, 3).join('; ')}`);
  return found;
}

export async function clearOfWords(t) {
  const { page } = t;
  await checkView(page, 'one page');
  await t.shot('labels-one-page');
  await menu(page, 'twoPages');
  await waitFor('two pages side by side', async () => ((await page.locator('.page[data-gutter="left"]').count()) > 0 ? true : undefined));
  await checkView(page, 'two pages');
  await t.shot('labels-two-pages');
  await menu(page, 'onePage');
  await waitFor('one page again', async () => ((await page.locator('.page[data-gutter="left"]').count()) === 0 ? true : undefined));
}

export async function monitorClearOfWords(monitorPage) {
  await checkView(monitorPage, 'monitor');
}
