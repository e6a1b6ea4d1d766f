// The marked export, end to end: marks, an inserted line and cues made through
// the page's bridge, exported from the page, and the PDF read back with
// poppler's tools: grown by the gutter and the room, boxes and label where the
// page showed them. What the exporter draws of each mark is the core's tests.

import { execFileSync } from 'node:child_process';
import { existsSync, readFileSync } from 'node:fs';
import { join } from 'node:path';
import { fail, menu } from './harness.mjs';
import { call, goToPage, until } from './operator.mjs';

const PAGE = 2;
const LABEL = 'Export check';
const INSERTED = 'An inserted line for the export';
// PDF pixels at 72 dpi: one pixel a point.
const TOLERANCE = 3;

// pdftoppm's binary PPM (P6) as { width, height, at(x, y) -> [r, g, b] }, white outside.
function readPPM(bytes) {
  const head = /^P6\s+(\d+)\s+(\d+)\s+255\s/.exec(bytes.subarray(0, 40).toString('latin1'));
  if (!head) throw fail('pdftoppm did not write a binary PPM of 8-bit channels');
  const [width, height] = [Number(head[1]), Number(head[2])];
  const data = bytes.subarray(head[0].length);
  const at = (x, y) => {
    const [xi, yi] = [Math.round(x), Math.round(y)];
    if (xi < 0 || yi < 0 || xi >= width || yi >= height) return [255, 255, 255];
    const i = 3 * (yi * width + xi);
    return [data[i], data[i + 1], data[i + 2]];
  };
  return { width, height, at };
}

// How strongly a pixel shows the cue colour (#d8391d) rather than black text or paper.
const redness = ([r, g, b]) => r - (g + b) / 2;
const tool = (cmd, args) => execFileSync(cmd, args, { encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'] });
const onPage = (...args) => ['-f', String(PAGE + 1), '-l', String(PAGE + 1), ...args];

// Of the points `from` to `to` along one axis, the one of the strongest cue colour.
function reddest(img, from, to, point) {
  let best = from;
  for (let v = Math.floor(from); v <= to; v++) if (redness(img.at(...point(v))) > redness(img.at(...point(best)))) best = v;
  return best;
}

// A struck line, an inserted line and two cues on page PAGE, made as the tools make them.
async function markPage(page) {
  const lines = await call(page, 'pageLines', [PAGE]);
  if (!Array.isArray(lines) || lines.length < 12) throw fail(`pageLines(${PAGE}) answered ${JSON.stringify(lines)?.slice(0, 80)}`);
  const [[x, y, w, h], [cx, cy, cw, ch], insertLine] = [lines[2], lines[4], lines[9]];
  await call(page, 'upsertMark', [{ id: 'exp-cut', kind: 'cut', page: PAGE, x: cx, y: cy, w: cw, h: ch }]);
  const afterY = insertLine[1] + insertLine[3];
  const lineH = insertLine[3];
  await call(page, 'upsertInsert', [{ id: 'exp-ins', text: INSERTED, page: PAGE, afterY, lineMidY: afterY + lineH / 2, lineH, x: insertLine[0] }]);
  const cue = { color: '#d8391d', page: PAGE, h: lineH, padL: -1, padR: -1 };
  await call(page, 'upsertCue', [{ ...cue, id: 'exp-x1', number: '901', kind: 'LX', label: LABEL, x, y, w: Math.min(w / 2, 0.3), h, labelX: x + w }]);
  await call(page, 'upsertCue', [{
    ...cue, id: 'exp-on-insert', number: '902', kind: 'SFX', label: 'On the new line', insertID: 'exp-ins', x: insertLine[0], y: afterY, w: 0.15,
    labelX: insertLine[0] + 0.2,
  }]);
  return { lineH };
}

export async function exportMarked(t) {
  const { page } = t;
  // One page to a row, its labels in full in the gutter.
  await page.keyboard.press('Control+1');
  await menu(page, 'theme', 'light');
  const { lineH } = await markPage(page);
  const doc = await call(page, 'currentDocument');
  const aspect = doc.aspects[PAGE];

  // The page with the cue in view, as the operator sees it before exporting;
  // the edits reach the page as events: all of them drawn before it is measured.
  await goToPage(page, PAGE + 1);
  const sel = { page: `.page[data-page="${PAGE}"]` };
  Object.assign(sel, { cue: `${sel.page} .cue[data-cue="exp-x1"]`, insertCue: `${sel.page} .cue[data-cue="exp-on-insert"]`,
    label: `${sel.page} .cue-label[title="${LABEL}"]`, gutter: `${sel.page} .label-gutter` });
  for (const what of ['cue', 'insertCue', 'label']) {
    await page.waitForSelector(sel[what], { timeout: 10000 }).catch(() => { throw fail(`${what}: not drawn on its page`); });
  }
  await page.locator(sel.label).scrollIntoViewIfNeeded();
  const rects = await page.evaluate((s) => {
    const r = (q) => {
      const b = document.querySelector(q).getBoundingClientRect();
      return { left: b.left, top: b.top, width: b.width, height: b.height };
    };
    const style = (q) => getComputedStyle(document.querySelector(q));
    return { ...Object.fromEntries(['page', 'cue', 'insertCue', 'label', 'gutter'].map((k) => [k, r(s[k])])),
      side: document.querySelector(s.page).getAttribute('data-gutter'), padX: parseFloat(style(s.label).paddingLeft),
      outlineW: parseFloat(style(s.cue).borderLeftWidth) };
  }, sel);
  await t.shot('export-screen');

  const out = join(t.panels, `${t.pdfName.replace(/\.pdf$/, '')} (marked).pdf`);
  await page.keyboard.press('Control+Shift+E');
  let said = '';
  await until(async () => (said = (await page.locator('.show-panel [role="status"]').allInnerTexts()).join(' | ')).includes('Exported') || undefined,
    () => `expected "Exported" under the show panel, it shows "${said}"`, 20000);
  if (!existsSync(out)) throw fail(`the export reported success, but ${out} is not there`);
  const revealed = existsSync(join(t.panels, 'revealed')) ? readFileSync(join(t.panels, 'revealed'), 'utf8') : '';
  if (!revealed.split('\n').includes(out)) throw fail(`the file viewer was not shown the export (revealed: ${JSON.stringify(revealed)})`);

  const info = tool('pdfinfo', onPage(out));
  const pages = Number(/^Pages:\s+(\d+)/m.exec(info)?.[1]);
  if (pages !== doc.pageCount) throw fail(`the export has ${pages} pages, the script ${doc.pageCount}`);
  // The exported page is the script's page and its label gutter, as on screen,
  // grown by the room of the inserted line.
  const size = /^Page\s+\d+ size:\s+([\d.]+) x ([\d.]+)/m.exec(info);
  const [grownW, grownH] = [Number(size?.[1]), Number(size?.[2])];
  const cw = (grownW * rects.page.width) / (rects.page.width + rects.gutter.width);
  const ch = cw / aspect;
  const gutterLeft = rects.side === 'left' ? grownW - cw : 0;
  if (Math.abs(grownH - ch * (1 + lineH * 1.3)) > 1) {
    throw fail(`page ${PAGE + 1} is ${grownH} pt tall, expected ${(ch * (1 + lineH * 1.3)).toFixed(1)} with the room of the inserted line`);
  }

  const base = join(t.panels, 'page');
  tool('pdftoppm', ['-r', '72', ...onPage('-singlefile', out, base)]);
  const img = readPPM(readFileSync(`${base}.ppm`));
  if (Math.abs(img.width - grownW) > 1) throw fail(`the rendered page is ${img.width} px wide, its PDF page ${grownW} pt`);
  // Screen px to PDF px: the page grew on screen as in the export, at one
  // scale, the gutter beside it on the same side.
  const k = cw / rects.page.width;
  const toPdf = (x, y) => [(x - rects.page.left) * k + gutterLeft, (y - rects.page.top) * k];

  // A cue box: the page draws its outline as the box's border, inside it, and
  // the export strokes it there: the strongest cue colour across the middle
  // of the box is the middle of that border. One cue above the inserted line, one on it.
  const border = (rects.outlineW / 2) * k;
  for (const [what, rect] of [['the cue box', rects.cue], ['the box of the cue on the inserted line', rects.insertCue]]) {
    const [l, t0] = toPdf(rect.left, rect.top);
    const [r, b] = toPdf(rect.left + rect.width, rect.top + rect.height);
    const left = reddest(img, l - 12, l + 12, (x) => [x, (t0 + b) / 2]);
    if (Math.abs(left - (l + border)) > TOLERANCE) throw fail(`${what}: its left edge is at ${left} px in the export, the page showed it at ${l.toFixed(1)}`);
    const top = reddest(img, t0 - 12, Math.min(t0 + 12, (t0 + b) / 2), (y) => [(l + r) / 2, y]);
    if (Math.abs(top - (t0 + border)) > TOLERANCE) throw fail(`${what}: its top edge is at ${top} px in the export, the page showed it at ${t0.toFixed(1)}`);
  }

  // The label, in the gutter: its first letter starts at the label's inset,
  // and its ink is centred where the page centred the label. Its frame, in
  // the cue's colour too, lies just outside the rows and columns looked at.
  const [labL, labT] = toPdf(rects.label.left + rects.padX, rects.label.top);
  const [labR, labB] = toPdf(rects.label.left + rects.label.width, rects.label.top + rects.label.height);
  if (rects.side === 'right' ? labL < cw : labR > gutterLeft) throw fail(`the label is not in the page's gutter (${labL.toFixed(0)}-${labR.toFixed(0)} px, page ${cw.toFixed(0)} pt)`);
  const ink = [];
  for (let y = Math.ceil(labT + 2); y <= labB - 2; y++) for (let x = Math.floor(labL - 2); x <= labR - 2; x++) if (redness(img.at(x, y)) > 90) ink.push([x, y]);
  if (!ink.length) throw fail(`no label ink in the export around (${labL.toFixed(0)}, ${labT.toFixed(0)})`);
  const inkLeft = Math.min(...ink.map(([x]) => x));
  const inkMid = ink.reduce((s, [, y]) => s + y, 0) / ink.length;
  if (Math.abs(inkLeft - labL) > TOLERANCE) throw fail(`the label's text starts at ${inkLeft} px in the export, on the page at ${labL.toFixed(1)}`);
  if (Math.abs(inkMid - (labT + labB) / 2) > TOLERANCE) throw fail(`the label's text is centred at ${inkMid.toFixed(1)} px in the export, on the page at ${((labT + labB) / 2).toFixed(1)}`);

  // For a look beside the screen.
  tool('pdftoppm', ['-r', String(Math.round((72 * rects.page.width) / cw)), ...onPage('-singlefile', '-png', out, join(t.out, 'page-e2e-export-pdf'))]);
}
