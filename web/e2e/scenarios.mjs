// The operator's scenarios, one function each, in the order an evening goes:
// each takes the test's world `t` ({ page, demo, pdf, config, shot }) and fails
// with what the operator would have seen.

import { fail, firstImage, marksUntil, menu, readMarks, readRun, readSettings, waitFor } from './harness.mjs';

const oneLine = (s) => s.replace(/\s+/g, ' ').trim();

export function showPanel(page) {
  return page.getByRole('complementary', { name: 'Show' });
}

// The standby part of the show panel shows the tag and the label.
export async function standbyIs(page, tag, label) {
  let seen = '';
  try {
    await waitFor(`standby ${tag}`, async () => {
      seen = oneLine(await showPanel(page).innerText());
      return seen.includes(`STANDBY ${tag}`) && seen.includes(label) ? true : undefined;
    }, 5000);
  } catch {
    throw fail(`show panel: expected standby "${tag}" "${label}", it shows "${seen}"`);
  }
}

async function panelSays(page, text) {
  let seen = '';
  try {
    await waitFor(`"${text}" in the show panel`, async () => {
      seen = oneLine(await showPanel(page).innerText());
      return seen.includes(text) ? true : undefined;
    }, 5000);
  } catch {
    throw fail(`show panel: expected "${text}", it shows "${seen}"`);
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
  } catch {
    throw fail(`run file: expected fired [${want}], last seen ${seen}`);
  }
}

const marksHave = (pdf, what, test) => marksUntil(pdf, what, (m) => (m.cues ?? []).find(test),
  (m) => (m.cues ?? []).map((c) => `${c.kind} ${c.number} ${c.label}`));

export async function opened(t) {
  const total = (readMarks(t.pdf)?.cues ?? []).length;
  if (total === 0) throw fail('the demo script has no cues in its marks file');
  t.total = total;
  await standbyIs(t.page, 'CUE 1', 'House out');
  await panelSays(t.page, `0 of ${total} fired`);
  await t.shot('1-opened');
}

// The core's resume offer follows every run file write; during the show it
// must not be offered back to the operator.
async function noResumeOffer(page, when) {
  if (await page.getByRole('button', { name: 'Resume' }).isVisible()) {
    const text = oneLine(await page.getByRole('status').filter({ hasText: 'cues fired' }).first().innerText().catch(() => ''));
    throw fail(`${when}: a banner offers to resume the run in progress ("${text}")`);
  }
}

export async function goThreeTimesAndBack(t) {
  const { page } = t;
  for (let i = 0; i < 3; i++) await page.keyboard.press('Enter');
  await standbyIs(page, 'SFX 4', 'Footsteps on iron stair');
  await panelSays(page, `3 of ${t.total} fired`);
  await panelSays(page, 'next: ');
  await firedBecomes(t.demo, ['demo-1', 'demo-2', 'demo-3']);
  await noResumeOffer(page, 'after three GOs');
  await t.shot('2-three-go');

  await page.keyboard.press('Backspace');
  await standbyIs(page, 'LFX 3', 'Night, desk lamp');
  await panelSays(page, `2 of ${t.total} fired`);
  await firedBecomes(t.demo, ['demo-1', 'demo-2']);
  await noResumeOffer(page, 'after BACK');
  await t.shot('3-back');
}

// Cue Mode: a drag across words of the first page, a label typed into the
// field at the line end, Return; the writer thread puts the cue in the marks file.
export async function placeCue(t) {
  const { page } = t;
  const label = 'E2E thunder roll';
  await page.keyboard.press('Control+e');
  const first = page.getByRole('img', { name: 'Page 1', exact: true });
  await first.scrollIntoViewIfNeeded();
  const box = await first.boundingBox();
  if (!box) throw fail('the first page has no image on screen');
  // Where the words of the first page lie depends on the demo's layout: try
  // a few heights until one has words under it.
  let field;
  for (const y of [0.55, 0.6, 0.65, 0.7, 0.52, 0.3]) {
    const top = box.y + box.height * y;
    await page.mouse.move(box.x + box.width * 0.15, top);
    await page.mouse.down();
    await page.mouse.move(box.x + box.width * 0.3, top, { steps: 4 });
    await page.mouse.up();
    try {
      field = page.getByRole('textbox', { name: 'Cue label' });
      await field.waitFor({ state: 'visible', timeout: 1500 });
      break;
    } catch {
      field = undefined;  // no words under that line, or a cue already there
    }
  }
  if (!field) {
    await t.shot('failed');
    throw fail('Cue Mode: no label field opened after a drag on the first page');
  }
  await field.click();
  await page.keyboard.type(label);
  await page.keyboard.press('Enter');
  const cue = await marksHave(t.pdf, `a cue labelled "${label}"`, (c) => c.label === label);
  if (cue.page !== 0) throw fail(`marks file: the placed cue is on page index ${cue.page}, it was dragged on the first page (0)`);
  t.placed = cue;
  await t.shot('4-cue-placed');
}

// The Cue Settings sheet on the placed cue: a new type, saved, in the marks file.
export async function changeCueType(t) {
  const { page, placed } = t;
  const types = (readSettings(t.config)?.cueTypes ?? []).map((c) => c.name);
  const kind = types.find((k) => k && k !== placed.kind);
  if (!kind) throw fail(`settings: no cue type other than "${placed.kind}" to change to (${types.join(', ')})`);
  // A click on the box selects it; the menu's Cue Settings opens the sheet.
  const cueBox = page.locator(`[data-cue="${placed.id}"]`);
  const box = await cueBox.boundingBox();
  if (!box) throw fail(`the placed cue ${placed.number} has no box on the page`);
  await page.mouse.click(box.x + box.width / 2, box.y + box.height / 2);
  await menu(page, 'cueSettings');
  const sheet = page.getByRole('dialog', { name: 'Cue settings' });
  try {
    await sheet.waitFor({ state: 'visible', timeout: 3000 });
  } catch {
    throw fail('Cue Settings: no sheet opened for the selected cue');
  }
  await sheet.getByLabel('Type').selectOption(kind);
  await t.shot('5-cue-settings');
  await sheet.getByRole('button', { name: 'Save' }).click();
  await marksHave(t.pdf, `the cue "${placed.label}" with the type ${kind}`, (c) => c.id === placed.id && c.kind === kind);
  await sheet.waitFor({ state: 'hidden', timeout: 3000 }).catch(() => {
    throw fail('Cue Settings: the sheet stayed open after Save');
  });
  await page.keyboard.press('Control+e');  // out of Cue Mode
  // The run is untouched by editing.
  await standbyIs(page, 'LFX 3', 'Night, desk lamp');
}

// Cue Mode from the keyboard alone: the line cursor walks two lines down and
// places a cue on its line; the label typed goes into the marks file. The cue
// is deleted again (Delete on the new, selected cue) so the run's cue counts
// in the later steps stay as they were.
export async function placeCueByKeys(t) {
  const { page } = t;
  const label = 'E2E keyboard cue';
  await page.keyboard.press('Control+e');
  await page.keyboard.press('n');
  const outline = page.locator('.line-cursor');
  await outline.waitFor({ state: 'visible', timeout: 3000 }).catch(() => { throw fail('line cursor: n in Cue Mode showed no outline'); });
  const first = await page.getByTestId('line-cursor').innerText();
  await page.keyboard.press('ArrowDown');
  await page.keyboard.press('ArrowDown');
  let said = '';
  await waitFor('the line cursor two lines down', async () => {
    said = oneLine(await page.getByTestId('line-cursor').innerText());
    return said && said !== oneLine(first) && /^Page \S+, line \d+: /.test(said) ? true : undefined;
  }, 3000).catch(() => { throw fail(`line cursor: Down did not move it (it names "${said}", it started on "${oneLine(first)}")`); });
  await t.shot('5b-line-cursor');
  await page.keyboard.press('n');
  const field = page.getByRole('textbox', { name: 'Cue label' });
  await field.waitFor({ state: 'visible', timeout: 3000 }).catch(() => { throw fail(`line cursor: n placed no cue on "${said}"`); });
  const focused = await field.evaluate((el) => el === document.activeElement);
  if (!focused) throw fail('line cursor: the label field of the placed cue does not have the focus');
  await page.keyboard.type(label);
  await page.keyboard.press('Enter');
  const cue = await marksHave(t.pdf, `a cue labelled "${label}"`, (c) => c.label === label);
  await t.shot('5c-keyboard-cue');
  await page.keyboard.press('Delete');
  await waitFor('the keyboard cue deleted', () => ((readMarks(t.pdf)?.cues ?? []).some((c) => c.id === cue.id) ? undefined : true), 5000)
    .catch(() => { throw fail('Delete on the new, selected cue left it in the marks file'); });
  await page.keyboard.press('Control+e');  // out of Cue Mode
  await standbyIs(page, 'LFX 3', 'Night, desk lamp');
}

// Find: Ctrl+F, a phrase from the demo, Enter steps to the hit, which is drawn
// on its page where the operator can see it.
export async function find(t) {
  const { page } = t;
  const phrase = 'Rain hammers';
  await page.keyboard.press('Control+f');
  const field = page.getByRole('searchbox', { name: 'Find in script' });
  try {
    await field.waitFor({ state: 'visible', timeout: 3000 });
  } catch {
    throw fail('Find: Ctrl+F opened no find field');
  }
  await field.fill(phrase);
  const bar = page.getByRole('search');
  await waitFor(`hits for "${phrase}"`, async () => (/\bhits?\b/.test(await bar.innerText()) ? true : undefined), 5000)
    .catch(async () => { throw fail(`Find: no hits reported for "${phrase}", the bar shows "${oneLine(await bar.innerText())}"`); });
  await field.press('Enter');
  await waitFor('the first hit selected', async () => (/\b1 of \d+/.test(await bar.innerText()) ? true : undefined), 5000)
    .catch(async () => { throw fail(`Find: Enter did not step to a hit, the bar shows "${oneLine(await bar.innerText())}"`); });
  const hit = page.locator('.find-hit');
  const where = await waitFor('the hit drawn on its page', async () => {
    const b = await hit.boundingBox().catch(() => null);
    return b && b.width > 0 && b.height > 0 ? b : undefined;
  }, 5000).catch(() => { throw fail('Find: the hit is not highlighted on any page'); });
  const view = page.viewportSize();
  if (where.y < 0 || where.y + where.height > view.height) {
    throw fail(`Find: the highlighted hit is off screen (at y ${Math.round(where.y)} of ${view.height})`);
  }
  await t.shot('6-find');
  await field.press('Escape');
  await bar.waitFor({ state: 'hidden', timeout: 3000 }).catch(() => { throw fail('Find: Escape left the find bar open'); });
}

// The Settings sheet: one field changed, the core keeps it in the settings file
// and the page draws the cue labels at the new size.
export async function changeSetting(t) {
  const { page } = t;
  const px = 20;
  await menu(page, 'settings');
  const sheet = page.getByRole('dialog', { name: 'Settings' });
  try {
    await sheet.waitFor({ state: 'visible', timeout: 3000 });
  } catch {
    throw fail('Settings: the menu opened no Settings sheet');
  }
  const field = sheet.getByLabel('Cue label size (px)');
  await field.fill(String(px));
  await field.press('Enter');
  let seen;
  await waitFor('the label size in the settings file', () => {
    seen = readSettings(t.config)?.cueLabelFontPx;
    return seen === px ? true : undefined;
  }, 5000).catch(() => { throw fail(`settings file: expected cueLabelFontPx ${px}, found ${seen}`); });
  await t.shot('7-settings');
  await page.keyboard.press('Escape');
  await sheet.waitFor({ state: 'hidden', timeout: 3000 }).catch(() => { throw fail('Settings: Escape left the sheet open'); });
  const size = await page.locator('.cue-label').first().evaluate((e) => getComputedStyle(e).fontSize);
  if (size !== `${px}px`) throw fail(`cue labels: drawn at ${size} after the size was set to ${px} px`);
}

async function resumeFromBanner(t, text) {
  const { page } = t;
  const banner = page.getByRole('status').filter({ has: page.getByRole('button', { name: 'Resume' }) });
  try {
    await banner.waitFor({ state: 'visible', timeout: 8000 });
  } catch {
    throw fail('reopened script: no banner offering to resume the saved run');
  }
  const said = oneLine(await banner.innerText());
  if (!said.includes(text)) throw fail(`resume banner: expected "${text}", it says "${said}"`);
  await t.shot(t.restarted ? '9-restart-banner' : '8-resume-banner');
  await banner.getByRole('button', { name: 'Resume' }).click();
  await banner.waitFor({ state: 'hidden', timeout: 3000 }).catch(() => { throw fail('resume banner: still shown after Resume'); });
}

// Close the script, open it again from the recent scripts, resume from the
// banner: the run continues where it was.
export async function closeAndResume(t) {
  const { page } = t;
  await menu(page, 'closeScript');
  const recents = page.getByRole('region', { name: 'Recent scripts' });
  try {
    await recents.waitFor({ state: 'visible', timeout: 5000 });
  } catch {
    throw fail('closed script: the start view lists no recent scripts');
  }
  await recents.getByRole('button', { name: t.pdfName }).click();
  await firstImage(page).catch(() => { throw fail('reopened script: no page image within 30 s'); });
  await resumeFromBanner(t, `2 of ${t.total + 1} cues fired, standby 3 Night, desk lamp`);
  await standbyIs(page, 'LFX 3', 'Night, desk lamp');
  await page.keyboard.press('Enter');
  await standbyIs(page, 'SFX 4', 'Footsteps on iron stair');
  await firedBecomes(t.demo, ['demo-1', 'demo-2', 'demo-3']);
  await noResumeOffer(page, 'after a GO on the resumed run');
}

// The host ends and starts again with the same script and settings folder, as
// the app would after a crash: the run is offered again, the setting kept.
export async function restartAndResume(t, restart) {
  t.page = await restart();
  t.restarted = true;
  await resumeFromBanner(t, `3 of ${t.total + 1} cues fired, standby 4 Footsteps on iron stair`);
  await standbyIs(t.page, 'SFX 4', 'Footsteps on iron stair');
  const size = await t.page.locator('.cue-label').first().evaluate((e) => getComputedStyle(e).fontSize);
  if (size !== '20px') throw fail(`after a restart the cue labels are drawn at ${size}, the setting was 20 px`);
}

// The confidence monitor: nothing to press or type into, the standby cue's
// number and label large enough to read across a booth.
export async function monitor(t, openMonitor, labelsClear) {
  // Whatever the evening left in standby, the monitor shows the same cue.
  const tag = oneLine(await t.page.locator('.show-panel .standby-tag').innerText());
  const label = oneLine(await t.page.locator('.show-panel .standby-label').innerText());
  if (!tag || !label) throw fail(`monitor: the main window shows no standby cue ("${tag}", "${label}")`);
  const page = await openMonitor();
  const strip = page.getByText('STANDBY', { exact: true }).locator('..');
  let seen = '';
  await waitFor('the monitor standby', async () => {
    seen = oneLine(await strip.innerText().catch(() => ''));
    return seen.includes(tag) && seen.includes(label) ? true : undefined;
  }, 8000).catch(() => { throw fail(`monitor: expected standby "${tag} ${label}", it shows "${seen}"`); });
  const controls = await page.locator('button, input, select, textarea, [contenteditable="true"]').count();
  if (controls > 0) throw fail(`monitor: ${controls} editing controls shown, expected none`);
  const sizes = await strip.evaluate((el, [tag, label]) => {
    const px = (text) => {
      const walker = document.createTreeWalker(el, NodeFilter.SHOW_TEXT);
      for (let n = walker.nextNode(); n; n = walker.nextNode()) {
        if (n.textContent.includes(text)) return parseFloat(getComputedStyle(n.parentElement).fontSize);
      }
      return 0;
    };
    return { tag: px(tag), label: px(label) };
  }, [tag, label]);
  if (sizes.tag < 48 || sizes.label < 28) {
    throw fail(`monitor: standby drawn at ${sizes.tag}px (number) and ${sizes.label}px (label), expected large (48/28 px or more)`);
  }
  await firstImage(page).catch(() => { throw fail('monitor: no page image within 30 s'); });
  await labelsClear(page);
  await t.shot('10-monitor', page);
}
