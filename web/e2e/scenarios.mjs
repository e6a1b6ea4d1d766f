// The operator's scenarios in the order an evening goes; each takes the world
// `t` ({ page, demo, pdf, config, shot }) and fails with what the operator saw.

import { fail, firstImage, menu, readMarks, readSettings } from './harness.mjs';
import {
  cueInMarks, drag, firedBecomes, labelsClear, middle, noResumeOffer, oneLine, panelSays, reopen, shows, standbyIs, until,
} from './operator.mjs';

export async function opened(t) {
  const total = (readMarks(t.pdf)?.cues ?? []).length;
  if (total === 0) throw fail('the demo script has no cues in its marks file');
  t.total = total;
  await standbyIs(t.page, 'CUE 1', 'House out');
  await panelSays(t.page, `0 of ${total} fired`);
  await t.shot('1-opened');
}

// Cue labels never cover the script: with one page and two side by side.
export async function labelsClearOfWords(t) {
  const { page } = t;
  const left = async () => page.locator('.page[data-gutter="left"]').count();
  await labelsClear(page, 'one page');
  await t.shot('labels-one-page');
  await menu(page, 'twoPages');
  await until(async () => ((await left()) > 0 ? true : undefined), 'two pages side by side: no page has its gutter on the left');
  await labelsClear(page, 'two pages');
  await t.shot('labels-two-pages');
  await menu(page, 'onePage');
  await until(async () => ((await left()) === 0 ? true : undefined), 'one page again: a gutter is still on the left');
}

export async function goThreeTimesAndBack(t) {
  const { page } = t;
  for (let i = 0; i < 3; i++) await page.keyboard.press('Enter');
  await standbyIs(page, 'SFX 4', 'Footsteps on iron stair');
  await panelSays(page, `3 of ${t.total} fired`, 'next: ');
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

// A drag across words of the first page in Cue Mode, a label typed, Return.
export async function placeCue(t) {
  const { page } = t;
  const label = 'E2E thunder roll';
  await page.keyboard.press('Control+e');
  const first = page.getByRole('img', { name: 'Page 1', exact: true });
  await first.scrollIntoViewIfNeeded();
  const { box } = await middle(first, 'the first page image');
  const field = page.getByRole('textbox', { name: 'Cue label' });
  // Where the words of the first page lie depends on the demo's layout: try
  // a few heights until one has words under it (and no cue there already).
  let opened = false;
  for (const y of [0.55, 0.6, 0.65, 0.7, 0.52, 0.3]) {
    const top = box.y + box.height * y;
    await drag(page, { x: box.x + box.width * 0.15, y: top }, { x: box.x + box.width * 0.3, y: top }, { steps: 4 });
    if ((opened = await field.waitFor({ state: 'visible', timeout: 1500 }).then(() => true, () => false))) break;
  }
  if (!opened) {
    await t.shot('failed');
    throw fail('Cue Mode: no label field opened after a drag on the first page');
  }
  await field.click();
  await page.keyboard.type(label);
  await page.keyboard.press('Enter');
  const cue = await cueInMarks(t.pdf, `a cue labelled "${label}"`, (c) => c.label === label);
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
  const { x, y } = await middle(page.locator(`[data-cue="${placed.id}"]`), `the placed cue ${placed.number}`);
  await page.mouse.click(x, y);
  await menu(page, 'cueSettings');
  const sheet = page.getByRole('dialog', { name: 'Cue settings' });
  await shows(sheet, 'Cue Settings: no sheet opened for the selected cue');
  await sheet.getByLabel('Type').selectOption(kind);
  await t.shot('5-cue-settings');
  await sheet.getByRole('button', { name: 'Save' }).click();
  await cueInMarks(t.pdf, `the cue "${placed.label}" with the type ${kind}`, (c) => c.id === placed.id && c.kind === kind);
  await shows(sheet, 'Cue Settings: the sheet stayed open after Save', 3000, 'hidden');
  await page.keyboard.press('Control+e');  // out of Cue Mode
  // The run is untouched by editing.
  await standbyIs(page, 'LFX 3', 'Night, desk lamp');
}

// Ctrl+F, a phrase of the demo, Enter: the hit drawn where the operator sees it.
export async function find(t) {
  const { page } = t;
  const phrase = 'Rain hammers';
  await page.keyboard.press('Control+f');
  const field = page.getByRole('searchbox', { name: 'Find in script' });
  await shows(field, 'Find: Ctrl+F opened no find field');
  await field.fill(phrase);
  const bar = page.getByRole('search');
  const says = async (pattern, problem) => until(async () => (pattern.test(await bar.innerText()) ? true : undefined),
    async () => `Find: ${problem}, the bar shows "${oneLine(await bar.innerText())}"`);
  await says(/\bhits?\b/, `no hits reported for "${phrase}"`);
  await field.press('Enter');
  await says(/\b1 of \d+/, 'Enter did not step to a hit');
  const where = await until(async () => {
    const b = await page.locator('.find-hit').boundingBox().catch(() => null);
    return b && b.width > 0 && b.height > 0 ? b : undefined;
  }, 'Find: the hit is not highlighted on any page');
  const view = page.viewportSize();
  if (where.y < 0 || where.y + where.height > view.height) {
    throw fail(`Find: the highlighted hit is off screen (at y ${Math.round(where.y)} of ${view.height})`);
  }
  await t.shot('6-find');
  await field.press('Escape');
  await shows(bar, 'Find: Escape left the find bar open', 3000, 'hidden');
}

// One setting changed: kept in the settings file, the labels drawn at the new size.
export async function changeSetting(t) {
  const { page } = t;
  const px = 20;
  await menu(page, 'settings');
  const sheet = page.getByRole('dialog', { name: 'Settings' });
  await shows(sheet, 'Settings: the menu opened no Settings sheet');
  const field = sheet.getByLabel('Cue label size (px)');
  await field.fill(String(px));
  await field.press('Enter');
  let seen;
  await until(() => ((seen = readSettings(t.config)?.cueLabelFontPx) === px ? true : undefined),
    () => `settings file: expected cueLabelFontPx ${px}, found ${seen}`);
  await t.shot('7-settings');
  await page.keyboard.press('Escape');
  await shows(sheet, 'Settings: Escape left the sheet open', 3000, 'hidden');
  await labelsAt(page, px, 'after the size was set');
}

async function labelsAt(page, px, when) {
  const size = await page.locator('.cue-label').first().evaluate((e) => getComputedStyle(e).fontSize);
  if (size !== `${px}px`) throw fail(`cue labels: drawn at ${size} ${when}, the setting is ${px} px`);
}

async function resumeFromBanner(t, text) {
  const { page } = t;
  const banner = page.getByRole('status').filter({ has: page.getByRole('button', { name: 'Resume' }) });
  await shows(banner, 'reopened script: no banner offering to resume the saved run', 8000);
  const said = oneLine(await banner.innerText());
  if (!said.includes(text)) throw fail(`resume banner: expected "${text}", it says "${said}"`);
  await t.shot(t.restarted ? '9-restart-banner' : '8-resume-banner');
  await banner.getByRole('button', { name: 'Resume' }).click();
  await shows(banner, 'resume banner: still shown after Resume', 3000, 'hidden');
}

// Closed, reopened from the recent scripts, resumed: the run goes on where it was.
export async function closeAndResume(t) {
  await reopen(t);
  await resumeFromBanner(t, `2 of ${t.total + 1} cues fired, standby 3 Night, desk lamp`);
  await standbyIs(t.page, 'LFX 3', 'Night, desk lamp');
  await t.page.keyboard.press('Enter');
  await standbyIs(t.page, 'SFX 4', 'Footsteps on iron stair');
  await firedBecomes(t.demo, ['demo-1', 'demo-2', 'demo-3']);
  await noResumeOffer(t.page, 'after a GO on the resumed run');
}

// The host restarted as after a crash: the run offered again, the setting kept.
export async function restartAndResume(t, restart) {
  t.page = await restart();
  t.restarted = true;
  await resumeFromBanner(t, `3 of ${t.total + 1} cues fired, standby 4 Footsteps on iron stair`);
  await standbyIs(t.page, 'SFX 4', 'Footsteps on iron stair');
  await labelsAt(t.page, 20, 'after a restart');
}

// The monitor: no controls, the main window's standby large enough to read
// across a booth, its labels clear of the words.
export async function monitor(t, openMonitor) {
  const tag = oneLine(await t.page.locator('.show-panel .standby-tag').innerText());
  const label = oneLine(await t.page.locator('.show-panel .standby-label').innerText());
  if (!tag || !label) throw fail(`monitor: the main window shows no standby cue ("${tag}", "${label}")`);
  const page = await openMonitor();
  const strip = page.getByText('STANDBY', { exact: true }).locator('..');
  let seen = '';
  await until(async () => {
    seen = oneLine(await strip.innerText().catch(() => ''));
    return seen.includes(tag) && seen.includes(label) ? true : undefined;
  }, () => `monitor: expected standby "${tag} ${label}", it shows "${seen}"`, 8000);
  const controls = await page.locator('button, input, select, textarea, [contenteditable="true"]').count();
  if (controls > 0) throw fail(`monitor: ${controls} editing controls shown, expected none`);
  const sizes = await strip.evaluate((el, texts) => texts.map((text) => {
    const walker = document.createTreeWalker(el, NodeFilter.SHOW_TEXT);
    for (let n = walker.nextNode(); n; n = walker.nextNode()) if (n.textContent.includes(text)) return parseFloat(getComputedStyle(n.parentElement).fontSize);
    return 0;
  }), [tag, label]);
  if (sizes[0] < 48 || sizes[1] < 28) {
    throw fail(`monitor: standby drawn at ${sizes[0]}px (number) and ${sizes[1]}px (label), expected large (48/28 px or more)`);
  }
  await firstImage(page).catch(() => { throw fail('monitor: no page image within 30 s'); });
  await labelsClear(page, 'monitor');
  await t.shot('10-monitor', page);
}
