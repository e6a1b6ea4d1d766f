// A page note, its printed number and a crop: kept in the marks file, shown
// again after reopening; Reset to Automatic Crop undoes the crop.

import { fail, marksUntil, readMarks } from './harness.mjs';
import { drag, reopen, shows, until } from './operator.mjs';

const marksSay = (pdf, what, test) => marksUntil(pdf, what, (m) => Boolean(test(m)),
  (m) => ({ pageTexts: m.pageTexts, pageLabelOffset: m.pageLabelOffset, crop: m.crop }));

export async function pageNotesAndCrop(t) {
  const { page } = t;
  // The monitor's window may be in front: the main one takes the keys again.
  await page.bringToFront();
  const note = 'E2E storm builds here';
  const goTo = async (text) => {
    await page.keyboard.press('Control+g');
    await page.getByLabel('Page', { exact: true }).fill(text);
    await page.getByLabel('Page', { exact: true }).press('Enter');
  };
  // Width over height of the shown page, as laid out.
  const aspect = () => page.locator(`.page[data-page="${index}"]`).evaluate((el) => el.offsetWidth / el.offsetHeight);
  // One page to a row, so the script scrolls and the third sheet (a full page
  // of text) can be the one shown.
  await page.keyboard.press('Control+1');
  await goTo('#3');
  await page.keyboard.press('Control+Shift+P');
  const sheet = page.getByRole('dialog', { name: 'Page' });
  await shows(sheet, 'Ctrl+Shift+P: no Page sheet', 5000);
  const index = Number(/sheet (\d+)/.exec(await page.locator('.page-notes-sheet h2').innerText())?.[1]) - 1;
  if (index !== 2) throw fail(`Page sheet: expected the third sheet after Go to Page #3, it is about sheet ${index + 1}`);
  await sheet.getByLabel('Note on this page').fill(note);
  await sheet.getByLabel('This page is numbered').fill('10');
  await sheet.getByLabel('This page is numbered').press('Enter');
  await shows(sheet, 'Page sheet: still open after Return', 3000, 'hidden');
  const offset = 10 - (index + 1);
  await marksSay(t.pdf, `the note on sheet ${index + 1} and offset ${offset}`, (m) => m.pageTexts?.[String(index)] === note && m.pageLabelOffset === offset);
  const noteLine = page.locator(`.page[data-page="${index}"] [data-testid="page-note"]`);
  await shows(noteLine, 'the note is not shown above its page');
  const pageOf = await page.locator('.toolbar .page-of').innerText();
  if (!pageOf.startsWith('page 10 ')) throw fail(`toolbar: expected the page read as 10, it shows "${pageOf}"`);

  // Crop: a frame over the upper part of the shown page, Return applies it.
  const before = await aspect();
  await page.keyboard.press('Control+Shift+C');
  const layer = page.locator(`.crop-layer[data-crop-page="${index}"]`);
  await shows(layer, 'Ctrl+Shift+C: no crop layer on the shown page');
  const box = await layer.boundingBox();
  if (!box) throw fail('the crop layer has no box');
  await drag(page, { x: box.x + box.width * 0.05, y: box.y + box.height * 0.05 }, { x: box.x + box.width * 0.95, y: box.y + box.height * 0.5 }, { steps: 5 });
  await page.getByRole('toolbar', { name: 'Crop' }).waitFor({ state: 'visible', timeout: 3000 });
  await t.shot('crop');
  await page.keyboard.press('Enter');
  const cropped = await marksSay(t.pdf, 'a manual crop', (m) => Array.isArray(m.crop) && m.crop.length === 4);
  await until(async () => ((await page.locator('.crop-layer').count()) === 0 && Math.abs((await aspect()) - before) > 0.05 ? true : undefined),
    `after the crop the page keeps its aspect ${before.toFixed(3)}`);
  const croppedAspect = await aspect();

  // Closed and opened again: the note, the numbering and the crop are back.
  await reopen(t);
  await goTo('10');
  await shows(noteLine, 'reopened: page 10 shows no note', 5000);
  const reopenedAspect = await aspect();
  if (Math.abs(reopenedAspect - croppedAspect) > 0.01)
    throw fail(`reopened: the page's aspect is ${reopenedAspect.toFixed(3)}, cropped it was ${croppedAspect.toFixed(3)}`);
  if (JSON.stringify(readMarks(t.pdf)?.crop) !== JSON.stringify(cropped.crop)) throw fail('reopened: the crop in the marks file changed');

  // Back to the automatic crop, from the crop bar.
  await page.keyboard.press('Control+Shift+C');
  await page.getByRole('button', { name: 'Reset to Automatic Crop' }).click();
  await marksSay(t.pdf, 'no manual crop', (m) => !m.crop || m.crop.length === 0);
  await until(async () => (Math.abs((await aspect()) - before) < 0.01 ? true : undefined),
    `after Reset to Automatic Crop the page's aspect is not ${before.toFixed(3)} again`);
}
