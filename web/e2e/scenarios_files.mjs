// A page's note and its printed number set in the Page sheet, a crop drawn in
// Crop mode; the marks file keeps them, the reopened script shows them, and
// Reset to Automatic Crop gives the pages back their own crop.

import { fail, firstImage, marksUntil, menu, readMarks, waitFor } from './harness.mjs';

const marksSay = (pdf, what, test) => marksUntil(pdf, what, (m) => Boolean(test(m)),
  (m) => ({ pageTexts: m.pageTexts, pageLabelOffset: m.pageLabelOffset, crop: m.crop }));

// Width over height of the shown page `index`, as laid out.
function aspectOf(page, index) {
  return page.locator(`.page[data-page="${index}"]`).evaluate((el) => el.offsetWidth / el.offsetHeight);
}

async function shownPage(page) {
  return Number(await page.locator('.page-notes-sheet h2').innerText().then((t) => /sheet (\d+)/.exec(t)?.[1])) - 1;
}

export async function pageNotesAndCrop(t) {
  const { page } = t;
  // The monitor's window may be in front: the main one takes the keys again.
  await page.bringToFront();
  const note = 'E2E storm builds here';
  // One page to a row, so the script scrolls and the third sheet (a full page
  // of text) can be the one shown.
  await page.keyboard.press('Control+1');
  await page.keyboard.press('Control+g');
  await page.getByLabel('Page', { exact: true }).fill('#3');
  await page.getByLabel('Page', { exact: true }).press('Enter');
  await page.keyboard.press('Control+Shift+P');
  const sheet = page.getByRole('dialog', { name: 'Page' });
  await sheet.waitFor({ state: 'visible', timeout: 5000 }).catch(() => { throw fail('Ctrl+Shift+P: no Page sheet'); });
  const index = await shownPage(page);
  if (index !== 2) throw fail(`Page sheet: expected the third sheet after Go to Page #3, it is about sheet ${index + 1}`);
  await sheet.getByLabel('Note on this page').fill(note);
  await sheet.getByLabel('This page is numbered').fill('10');
  await sheet.getByLabel('This page is numbered').press('Enter');
  await sheet.waitFor({ state: 'hidden', timeout: 3000 }).catch(() => { throw fail('Page sheet: still open after Return'); });
  const offset = 10 - (index + 1);
  await marksSay(t.pdf, `the note on sheet ${index + 1} and offset ${offset}`,
    (m) => m.pageTexts?.[String(index)] === note && m.pageLabelOffset === offset);
  const noteLine = page.locator(`.page[data-page="${index}"] [data-testid="page-note"]`);
  await noteLine.waitFor({ state: 'visible', timeout: 3000 }).catch(() => { throw fail('the note is not shown above its page'); });
  const pageOf = await page.locator('.toolbar .page-of').innerText();
  if (!pageOf.startsWith('page 10 ')) throw fail(`toolbar: expected the page read as 10, it shows "${pageOf}"`);

  // Crop: a frame over the upper part of the shown page, Return applies it.
  const before = await aspectOf(page, index);
  await page.keyboard.press('Control+Shift+C');
  const layer = page.locator(`.crop-layer[data-crop-page="${index}"]`);
  await layer.waitFor({ state: 'visible', timeout: 3000 }).catch(() => { throw fail('Ctrl+Shift+C: no crop layer on the shown page'); });
  const box = await layer.boundingBox();
  if (!box) throw fail('the crop layer has no box');
  await page.mouse.move(box.x + box.width * 0.05, box.y + box.height * 0.05);
  await page.mouse.down();
  await page.mouse.move(box.x + box.width * 0.95, box.y + box.height * 0.5, { steps: 5 });
  await page.mouse.up();
  await page.getByRole('toolbar', { name: 'Crop' }).waitFor({ state: 'visible', timeout: 3000 });
  await t.shot('crop');
  await page.keyboard.press('Enter');
  const cropped = await marksSay(t.pdf, 'a manual crop', (m) => Array.isArray(m.crop) && m.crop.length === 4);
  await waitFor('the page laid out again with the crop', async () =>
    (await page.locator('.crop-layer').count()) === 0 && Math.abs((await aspectOf(page, index)) - before) > 0.05 ? true : undefined,
  5000).catch(() => { throw fail(`after the crop the page keeps its aspect ${before.toFixed(3)}`); });
  const croppedAspect = await aspectOf(page, index);

  // Closed and opened again: the note, the numbering and the crop are back.
  await menu(page, 'closeScript');
  const recents = page.getByRole('region', { name: 'Recent scripts' });
  await recents.waitFor({ state: 'visible', timeout: 5000 }).catch(() => { throw fail('closed script: no recent scripts'); });
  await recents.getByRole('button', { name: t.pdfName }).click();
  await firstImage(page).catch(() => { throw fail('reopened script: no page image within 30 s'); });
  await page.keyboard.press('Control+g');
  await page.getByLabel('Page', { exact: true }).fill('10');
  await page.getByLabel('Page', { exact: true }).press('Enter');
  await noteLine.waitFor({ state: 'visible', timeout: 5000 }).catch(() => { throw fail('reopened: page 10 shows no note'); });
  const reopenedAspect = await aspectOf(page, index);
  if (Math.abs(reopenedAspect - croppedAspect) > 0.01)
    throw fail(`reopened: the page's aspect is ${reopenedAspect.toFixed(3)}, cropped it was ${croppedAspect.toFixed(3)}`);
  if (JSON.stringify(readMarks(t.pdf)?.crop) !== JSON.stringify(cropped.crop)) throw fail('reopened: the crop in the marks file changed');

  // Back to the automatic crop, from the crop bar.
  await page.keyboard.press('Control+Shift+C');
  await page.getByRole('button', { name: 'Reset to Automatic Crop' }).click();
  await marksSay(t.pdf, 'no manual crop', (m) => !m.crop || m.crop.length === 0);
  await waitFor('the automatic crop back', async () =>
    Math.abs((await aspectOf(page, index)) - before) < 0.01 ? true : undefined, 5000,
  ).catch(() => { throw fail(`after Reset to Automatic Crop the page's aspect is not ${before.toFixed(3)} again`); });
}
