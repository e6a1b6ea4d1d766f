// The operator's scenarios in the order an evening goes; each takes the world
// `t` ({ page, demo, pdf, config, shot }) and fails with what the operator saw.

import { fail, firstImage, marksUntil, menu, readMarks, readSettings } from './harness.mjs';
import {
  drag, firedBecomes, labelsClear, middle, noResumeOffer, oneLine, panelSays, reopen, resumeFromBanner, shows, standbyIs, typeIn, until,
} from './operator.mjs';

export async function opened(t) {
  t.total = (readMarks(t.pdf)?.cues ?? []).length;
  if (t.total === 0) throw fail('the demo script has no cues in its marks file');
  await standbyIs(t.page, 'CUE 1', 'House out');
  await panelSays(t.page, `0 of ${t.total} fired`);
  await t.shot('1-opened');
}

// Cue labels never cover the script: with one page and two side by side.
export async function labelsClearOfWords(t) {
  const { page } = t;
  const leftGutters = (want, problem) => until(async () => ((await page.locator('.page[data-gutter="left"]').count() > 0) === want || undefined), problem);
  await labelsClear(page, 'one page');
  await t.shot('labels-one-page');
  await menu(page, 'twoPages');
  await leftGutters(true, 'two pages side by side: no page has its gutter on the left');
  await labelsClear(page, 'two pages');
  await t.shot('labels-two-pages');
  await menu(page, 'onePage');
  await leftGutters(false, 'one page again: a gutter is still on the left');
}

export async function goThreeTimesAndBack(t) {
  const { page } = t;
  for (let i = 0; i < 3; i++) await page.keyboard.press('Enter');
  await panelSays(page, 'STANDBY SFX 4', 'Footsteps on iron stair', `3 of ${t.total} fired`, 'next: ');
  await firedBecomes(t.demo, ['demo-1', 'demo-2', 'demo-3']);
  await noResumeOffer(page, 'after three GOs');
  await t.shot('2-three-go');
  await page.keyboard.press('Backspace');
  await panelSays(page, 'STANDBY LFX 3', 'Night, desk lamp', `2 of ${t.total} fired`);
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
  // Where the words lie depends on the demo's layout: a few heights, until one
  // has words under it (and no cue there already).
  let opened = false;
  for (const y of [0.55, 0.6, 0.65, 0.7, 0.52, 0.3]) {
    const top = box.y + box.height * y;
    await drag(page, { x: box.x + box.width * 0.15, y: top }, { x: box.x + box.width * 0.3, y: top }, { steps: 4 });
    if ((opened = await field.waitFor({ state: 'visible', timeout: 1500 }).then(() => true, () => false))) break;
  }
  if (!opened) throw fail('Cue Mode: no label field opened after a drag on the first page');
  await typeIn(page, 'Cue label', label, '');
  const cue = await marksUntil(t.pdf, `a cue labelled "${label}"`, (m) => (m.cues ?? []).find((c) => c.label === label));
  if (cue.page !== 0) throw fail(`marks file: the placed cue is on page index ${cue.page}, it was dragged on the first page (0)`);
  await t.shot('4-cue-placed');
  // Leaving Cue Mode: the run is untouched by editing.
  await page.keyboard.press('Control+e');
  await standbyIs(page, 'LFX 3', 'Night, desk lamp');
}

async function labelsAt(page, px, when) {
  const size = await page.locator('.cue-label').first().evaluate((e) => getComputedStyle(e).fontSize);
  if (size !== `${px}px`) throw fail(`cue labels: drawn at ${size} ${when}, the setting is ${px} px`);
}

// One setting changed: kept in the settings file, the labels drawn at the new size.
export async function changeSetting(t) {
  const { page } = t;
  await menu(page, 'settings');
  const sheet = page.getByRole('dialog', { name: 'Settings' });
  await shows(sheet, 'Settings: the menu opened no Settings sheet');
  await sheet.getByLabel('Cue label size (px)').fill('20');
  await sheet.getByLabel('Cue label size (px)').press('Enter');
  let seen;
  await until(() => (seen = readSettings(t.config)?.cueLabelFontPx) === 20 || undefined, () => `settings file: expected cueLabelFontPx 20, found ${seen}`);
  await t.shot('7-settings');
  await page.keyboard.press('Escape');
  await labelsAt(page, 20, 'after the size was set');
}

// Closed, reopened from the recent scripts, resumed: the run goes on where it was.
export async function closeAndResume(t) {
  await reopen(t);
  await resumeFromBanner(t, `2 of ${t.total + 1} cues fired, standby 3 Night, desk lamp`, '8-resume-banner');
  await standbyIs(t.page, 'LFX 3', 'Night, desk lamp');
  await t.page.keyboard.press('Enter');
  await standbyIs(t.page, 'SFX 4', 'Footsteps on iron stair');
  await firedBecomes(t.demo, ['demo-1', 'demo-2', 'demo-3']);
  await noResumeOffer(t.page, 'after a GO on the resumed run');
}

// The host restarted as after a crash: the run offered again, the setting kept.
export async function restartAndResume(t, restart) {
  t.page = await restart();
  await resumeFromBanner(t, `3 of ${t.total + 1} cues fired, standby 4 Footsteps on iron stair`, '9-restart-banner');
  await standbyIs(t.page, 'SFX 4', 'Footsteps on iron stair');
  await labelsAt(t.page, 20, 'after a restart');
}

// The monitor: no controls, the main window's standby large enough to read
// across a booth, its labels clear of the words.
export async function monitor(t, openMonitor) {
  const [tag, label] = await Promise.all(['tag', 'label'].map(async (k) => oneLine(await t.page.locator(`.show-panel .standby-${k}`).innerText())));
  if (!tag || !label) throw fail(`monitor: the main window shows no standby cue ("${tag}", "${label}")`);
  const page = await openMonitor();
  const strip = page.getByText('STANDBY', { exact: true }).locator('..');
  let seen = '';
  await until(async () => {
    seen = oneLine(await strip.innerText().catch(() => ''));
    return (seen.includes(tag) && seen.includes(label)) || undefined;
  }, () => `monitor: expected standby "${tag} ${label}", it shows "${seen}"`, 8000);
  const controls = await page.locator('button, input, select, textarea, [contenteditable="true"]').count();
  if (controls > 0) throw fail(`monitor: ${controls} editing controls shown, expected none`);
  const sizes = await strip.evaluate((el, texts) => texts.map((text) => {
    const walker = document.createTreeWalker(el, NodeFilter.SHOW_TEXT);
    for (let n = walker.nextNode(); n; n = walker.nextNode()) if (n.textContent.includes(text)) return parseFloat(getComputedStyle(n.parentElement).fontSize);
    return 0;
  }), [tag, label]);
  if (sizes[0] < 48 || sizes[1] < 28) throw fail(`monitor: standby drawn at ${sizes[0]}px (number) and ${sizes[1]}px (label), expected 48/28 px or more`);
  await firstImage(page).catch(() => { throw fail('monitor: no page image within 30 s'); });
  await labelsClear(page, 'monitor');
  await t.shot('10-monitor', page);
}
