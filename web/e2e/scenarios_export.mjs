// The marked export, end to end: marks, an inserted line and cues made through
// the page's bridge, exported from the page, and the PDF read back with
// poppler's tools: boxes and label where the page showed them, hidden text white.

import { execFileSync } from 'node:child_process';
import { existsSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { fail, menu } from './harness.mjs';
import { call, goToPage, until } from './operator.mjs';

const PAGE = 2;
const LABEL = 'Export check';
const INSERTED = 'An inserted line for the export';
// PDF pixels at 72 dpi: one pixel a point.
const TOLERANCE = 3;

// A binary PPM (P6) as { width, height, at(x, y) -> [r, g, b] }.
export function readPPM(bytes) {
  let pos = 0;
  const token = () => {
    while (/\s/.test(String.fromCharCode(bytes[pos]))) pos++;
    let s = '';
    while (!/\s/.test(String.fromCharCode(bytes[pos]))) s += String.fromCharCode(bytes[pos++]);
    return s;
  };
  if (token() !== 'P6') throw fail('pdftoppm did not write a binary PPM');
  const [width, height, max] = [token(), token(), token()].map(Number);
  pos++;  // the one white space before the pixels
  if (max !== 255) throw fail(`PPM with maximum ${max}, expected 255`);
  const data = bytes.subarray(pos);
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

function tool(cmd, args) {
  return execFileSync(cmd, args, { encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'] });
}

// The column of the strongest cue colour within [from, to] on row y.
function reddestColumn(img, y, from, to) {
  let best = from;
  for (let x = Math.floor(from); x <= to; x++) if (redness(img.at(x, y)) > redness(img.at(best, y))) best = x;
  return best;
}

// Marks, an inserted line and two cues on page PAGE, made as the tools make them.
async function markPage(t) {
  const { page } = t;
  const lines = await call(page, 'pageLines', [PAGE]);
  if (!Array.isArray(lines) || lines.length < 12) throw fail(`pageLines(${PAGE}) answered ${JSON.stringify(lines)?.slice(0, 80)}`);
  const [cueLine, cutLine, hideLine, insertLine] = [lines[2], lines[4], lines[6], lines[9]];
  const box = ([x, y, w, h]) => ({ page: PAGE, x, y, w, h });
  for (const [kind, line] of [['cut', cutLine], ['hide', hideLine]]) await call(page, 'upsertMark', [{ id: `exp-${kind}`, kind, ...box(line) }]);
  const afterY = insertLine[1] + insertLine[3];
  await call(page, 'upsertInsert', [{
    id: 'exp-ins', text: INSERTED, page: PAGE, afterY, lineMidY: afterY + insertLine[3] / 2, lineH: insertLine[3], x: insertLine[0],
  }]);
  const [x, y, w, h] = cueLine;
  await call(page, 'upsertCue', [{
    id: 'exp-x1', number: '901', kind: 'LX', label: LABEL, color: '#d8391d', page: PAGE, x, y, w: Math.min(w / 2, 0.3), h,
    labelX: x + w, padL: -1, padR: -1,
  }]);
  await call(page, 'upsertCue', [{
    id: 'exp-on-insert', number: '902', kind: 'SFX', label: 'On the new line', color: '#d8391d', page: PAGE, insertID: 'exp-ins',
    x: insertLine[0], y: afterY, w: 0.15, h: insertLine[3], labelX: insertLine[0] + 0.2, padL: -1, padR: -1,
  }]);
  return { hideLine, afterY, lineH: insertLine[3] };
}

async function statusSays(page, text) {
  let seen = '';
  await until(async () => {
    seen = (await page.locator('.show-panel [role="status"]').allInnerTexts().catch(() => [])).join(' | ');
    return seen.includes(text) ? true : undefined;
  }, () => `expected "${text}" under the show panel, it shows "${seen}"`, 20000);
}

export async function exportMarked(t) {
  const { page } = t;
  // The monitor's window was the last one opened.
  await page.bringToFront();
  await menu(page, 'theme', 'light');
  const { hideLine, afterY, lineH } = await markPage(t);
  const doc = await call(page, 'currentDocument');
  const aspect = doc.aspects[PAGE];

  // The page with the cue in view, as the operator sees it before exporting.
  await goToPage(page, PAGE + 1);
  const cueSel = `.page[data-page="${PAGE}"] .cue[data-cue="exp-x1"]`;
  const insertCueSel = `.page[data-page="${PAGE}"] .cue[data-cue="exp-on-insert"]`;
  const labelSel = `.page[data-page="${PAGE}"] .cue-label[title="${LABEL}"]`;
  // The edits reach the page as events: every one of them drawn before the page is measured.
  for (const [sel, what] of [[cueSel, 'the new cue'], [insertCueSel, 'the cue on the inserted line'], [labelSel, 'the new label']]) {
    await page.waitForSelector(sel, { timeout: 10000 }).catch(() => { throw fail(`${what} is not drawn on its page`); });
  }
  await page.locator(labelSel).scrollIntoViewIfNeeded();
  const rects = await page.evaluate(([p, c, l, ic]) => {
    const r = (sel) => {
      const b = document.querySelector(sel).getBoundingClientRect();
      return { left: b.left, top: b.top, width: b.width, height: b.height };
    };
    const padX = parseFloat(getComputedStyle(document.querySelector(l)).paddingLeft);
    const outlineW = parseFloat(getComputedStyle(document.querySelector(c)).borderLeftWidth);
    const pageEl = document.querySelector(`.page[data-page="${p}"]`);
    const gutter = { side: pageEl.getAttribute('data-gutter'), width: r(`.page[data-page="${p}"] .label-gutter`).width };
    return { page: r(`.page[data-page="${p}"]`), cue: r(c), insertCue: r(ic), label: r(l), padX, outlineW, gutter };
  }, [PAGE, cueSel, labelSel, insertCueSel]);
  await t.shot('export-screen');

  // A destination that is the script itself is refused, in the core's words.
  writeFileSync(join(t.panels, 'save-path'), t.pdf);
  await menu(page, 'exportMarkedPDF');
  await statusSays(page, 'The marked script would replace the script');
  rmSync(join(t.panels, 'save-path'));

  const out = join(t.panels, `${t.pdfName.replace(/\.pdf$/, '')} (marked).pdf`);
  await page.keyboard.press('Control+Shift+E');
  await statusSays(page, 'Exported');
  if (!existsSync(out)) throw fail(`the export reported success, but ${out} is not there`);
  const revealed = existsSync(join(t.panels, 'revealed')) ? readFileSync(join(t.panels, 'revealed'), 'utf8') : '';
  if (!revealed.split('\n').includes(out)) throw fail(`the file viewer was not shown the export (revealed: ${JSON.stringify(revealed)})`);

  const info = tool('pdfinfo', ['-f', String(PAGE + 1), '-l', String(PAGE + 1), out]);
  const pages = Number(/^Pages:\s+(\d+)/m.exec(info)?.[1]);
  if (pages !== doc.pageCount) throw fail(`the export has ${pages} pages, the script ${doc.pageCount}`);
  const size = /^Page\s+\d+ size:\s+([\d.]+) x ([\d.]+)/m.exec(info);
  // The exported page is the script's page and its label gutter, as on screen.
  const [grownW, grownH] = [Number(size?.[1]), Number(size?.[2])];
  const cw = (grownW * rects.page.width) / (rects.page.width + rects.gutter.width);
  const gutterLeft = rects.gutter.side === 'left' ? grownW - cw : 0;
  const extra = lineH * 1.3;
  if (Math.abs(grownH - (cw / aspect) * (1 + extra)) > 1) {
    throw fail(`page ${PAGE + 1} is ${grownH} pt tall, expected ${((cw / aspect) * (1 + extra)).toFixed(1)} with the room of the inserted line`);
  }

  // In the order drawn: a label laid over the line must not split its words.
  const text = tool('pdftotext', ['-raw', '-f', String(PAGE + 1), '-l', String(PAGE + 1), out, '-']);
  if (!text.replace(/\s+/g, ' ').includes(INSERTED)) throw fail(`the inserted line is not in the exported page's text: ${text.slice(0, 200)}`);

  const base = join(t.panels, 'page');
  // PPM is pdftoppm's own format when no other is asked for.
  tool('pdftoppm', ['-r', '72', '-f', String(PAGE + 1), '-l', String(PAGE + 1), '-singlefile', out, base]);
  const img = readPPM(readFileSync(`${base}.ppm`));
  if (Math.abs(img.width - grownW) > 1) throw fail(`the rendered page is ${img.width} px wide, its PDF page ${grownW} pt`);
  // Screen px to PDF px: the page grew on screen as in the export, at one
  // scale, the gutter beside it on the same side.
  const k = cw / rects.page.width;
  const toPdf = (x, y) => [(x - rects.page.left) * k + gutterLeft, (y - rects.page.top) * k];

  // A cue box: the page draws its outline as the box's border, inside it;
  // the export strokes it there, so the strongest cue colour across the
  // middle of the box is the middle of that border on its left side, and
  // down its middle on its top.
  // One cue above the inserted line, one on it (below the opened room's top).
  const border = (rects.outlineW / 2) * k;
  for (const [what, rect] of [['the cue box', rects.cue], ['the box of the cue on the inserted line', rects.insertCue]]) {
    const [l, t0] = toPdf(rect.left, rect.top);
    const [r, b] = toPdf(rect.left + rect.width, rect.top + rect.height);
    const left = reddestColumn(img, (t0 + b) / 2, l - 12, l + 12);
    if (Math.abs(left - (l + border)) > TOLERANCE) throw fail(`${what}: its left edge is at ${left} px in the export, the page showed it at ${l.toFixed(1)}`);
    let top = t0 - 12;
    for (let y = Math.floor(t0 - 12); y <= Math.min(t0 + 12, (t0 + b) / 2); y++) if (redness(img.at((l + r) / 2, y)) > redness(img.at((l + r) / 2, top))) top = y;
    if (Math.abs(top - (t0 + border)) > TOLERANCE) throw fail(`${what}: its top edge is at ${top} px in the export, the page showed it at ${t0.toFixed(1)}`);
  }

  // The label, in the gutter: its first letter starts at the label's inset,
  // and its ink is centred where the page centred the label. Its frame, in
  // the cue's colour too, lies just outside the rows and columns looked at.
  const [labL, labT] = toPdf(rects.label.left + rects.padX, rects.label.top);
  const [labR, labB] = toPdf(rects.label.left + rects.label.width, rects.label.top + rects.label.height);
  if (rects.gutter.side === 'right' ? labL < cw : labR > gutterLeft) throw fail(`the label is not in the page's gutter (${labL.toFixed(0)}-${labR.toFixed(0)} px, page ${cw.toFixed(0)} pt)`);
  let inkLeft = Infinity;
  let inkSum = 0;
  let inkCount = 0;
  for (let y = Math.ceil(labT + 2); y <= labB - 2; y++) {
    for (let x = Math.floor(labL - 2); x <= labR - 2; x++) {
      if (redness(img.at(x, y)) > 90) {
        inkLeft = Math.min(inkLeft, x);
        inkSum += y;
        inkCount++;
      }
    }
  }
  if (!inkCount) throw fail(`no label ink in the export around (${labL.toFixed(0)}, ${labT.toFixed(0)})`);
  if (Math.abs(inkLeft - labL) > TOLERANCE) throw fail(`the label's text starts at ${inkLeft} px in the export, on the page at ${labL.toFixed(1)}`);
  const inkMid = inkSum / inkCount;
  if (Math.abs(inkMid - (labT + labB) / 2) > TOLERANCE) throw fail(`the label's text is centred at ${inkMid.toFixed(1)} px in the export, on the page at ${((labT + labB) / 2).toFixed(1)}`);

  // The hidden line: white all through (its words were there: pageLines found them).
  const ptPerFraction = cw;
  const hx0 = gutterLeft + hideLine[0] * ptPerFraction + 1;
  const hx1 = gutterLeft + (hideLine[0] + hideLine[2]) * ptPerFraction - 1;
  const hy0 = hideLine[1] * (cw / aspect) + 1;
  const hy1 = (hideLine[1] + hideLine[3]) * (cw / aspect) - 1;
  if (hy1 > afterY * (cw / aspect)) throw fail('the hidden line is meant to lie above the inserted line');
  for (let y = Math.ceil(hy0); y <= hy1; y++) {
    for (let x = Math.ceil(hx0); x <= hx1; x++) {
      const [r, g, b] = img.at(x, y);
      if (Math.min(r, g, b) < 240) throw fail(`the hidden line shows ink at (${x}, ${y}) in the export: rgb(${r}, ${g}, ${b})`);
    }
  }

  // For a look beside the screen.
  tool('pdftoppm', ['-r', String(Math.round((72 * rects.page.width) / cw)), '-f', String(PAGE + 1), '-l', String(PAGE + 1),
    '-singlefile', '-png', out, join(t.out, 'page-e2e-export-pdf')]);
}
