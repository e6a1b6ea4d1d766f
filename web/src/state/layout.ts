// Where the pages sit in the scrolling script view. Pure arithmetic, so the
// sizes are known from the page aspects before any image arrives and nothing
// jumps when the images come in.

export const fallbackAspect = 0.7071;

export interface Row {
  pages: number[];
  top: number;
  // The tallest page of the row.
  height: number;
  // Width and height of each page of the row, in the order of `pages`.
  widths: number[];
  heights: number[];
}

export interface ViewGeometry {
  // Width available for the pages at zoom 1 (CSS pixels).
  width: number;
  zoom: number;
  // Space between the pages of a spread and between rows.
  gap: number;
  // The label gutter beside each page, on its outer side (state/labels.ts).
  gutter?: number;
}

export function sanitizeAspect(aspect: number | undefined): number {
  return typeof aspect === 'number' && Number.isFinite(aspect) && aspect > 0 ? aspect : fallbackAspect;
}

// Pages paired for one or two pages per view. An odd spread offset puts the
// first page alone, as a script whose first page is a right-hand page reads.
export function spreads(pageCount: number, perSpread: number, spreadOffset: number): number[][] {
  const result: number[][] = [];
  if (pageCount <= 0) return result;
  if (perSpread !== 2) {
    for (let i = 0; i < pageCount; i++) result.push([i]);
    return result;
  }
  let start = 0;
  if (Math.abs(spreadOffset) % 2 === 1) {
    result.push([0]);
    start = 1;
  }
  for (let i = start; i < pageCount; i += 2) result.push(i + 1 < pageCount ? [i, i + 1] : [i]);
  return result;
}

// `extras`: the room each page opens for inserted lines, as a fraction of
// its own height; such a page is that much taller at the same width.
export function layoutRows(
  groups: number[][], aspects: number[], perSpread: number, view: ViewGeometry, extras?: ReadonlyMap<number, number>,
): Row[] {
  const rows: Row[] = [];
  const slots = Math.max(1, perSpread);
  const available = Math.max(1, view.width * view.zoom - view.gap * (slots - 1));
  let top = view.gap;
  // Every page gets the same width, so the pages of a spread show at one scale
  // (a script's crop shares its width across pages, not its height): a short
  // title page beside a full page stays as small as its text. A lone page in a
  // two-page view keeps the width it would have beside another.
  const gutter = Number.isFinite(view.gutter) ? Math.max(0, view.gutter ?? 0) : 0;
  const width = Math.max(1, available - gutter * slots) / slots;
  for (const pages of groups) {
    const widths = pages.map(() => width);
    const heights = pages.map((p) => (width / sanitizeAspect(aspects[p])) * (1 + Math.max(0, extras?.get(p) ?? 0)));
    const height = Math.max(...heights);
    rows.push({ pages, top, height, widths, heights });
    top += height + view.gap;
  }
  return rows;
}

export function totalHeight(rows: Row[], gap: number): number {
  if (rows.length === 0) return 0;
  const last = rows[rows.length - 1];
  return last.top + last.height + gap;
}

// Rows that intersect the viewport widened by `margin` on both sides: the
// ones whose images are wanted now.
export function nearRows(rows: Row[], scrollTop: number, viewportHeight: number, margin: number): number[] {
  const from = scrollTop - margin;
  const to = scrollTop + viewportHeight + margin;
  const result: number[] = [];
  for (let i = 0; i < rows.length; i++) {
    const r = rows[i];
    if (r.top + r.height >= from && r.top <= to) result.push(i);
  }
  return result;
}

// The page the operator reads: the first page of the row under the line a
// third of the way down the viewport, or of the nearest row above it.
export function visiblePage(rows: Row[], scrollTop: number, viewportHeight: number): number {
  if (rows.length === 0) return 0;
  const line = scrollTop + viewportHeight / 3;
  let found = rows[0];
  for (const r of rows) {
    if (r.top > line) break;
    found = r;
  }
  return found.pages[0];
}

export function rowOfPage(rows: Row[], page: number): number {
  return rows.findIndex((r) => r.pages.includes(page));
}

// The pixel width asked of the renderer: the displayed width on this screen,
// rounded up to 32 px so that small layout changes reuse the cached image.
export function renderPixelWidth(cssWidth: number, devicePixelRatio: number): number {
  const ratio = Number.isFinite(devicePixelRatio) && devicePixelRatio > 0 ? devicePixelRatio : 1;
  const px = Math.ceil((cssWidth * ratio) / 32) * 32;
  return Math.min(8192, Math.max(64, px));
}

export const zoomSteps = [0.5, 0.67, 0.8, 0.9, 1, 1.1, 1.25, 1.5, 1.75, 2, 2.5, 3];

export function nextZoom(current: number, direction: 1 | -1): number {
  if (direction > 0) return zoomSteps.find((z) => z > current + 1e-6) ?? zoomSteps[zoomSteps.length - 1];
  for (let i = zoomSteps.length - 1; i >= 0; i--) if (zoomSteps[i] < current - 1e-6) return zoomSteps[i];
  return zoomSteps[0];
}

// --- The reading size: pages side by side and the zoom, kept per script ---

export interface ReadingSize {
  pages: 1 | 2;
  zoom: number;
}

// One page as wide as the reading column.
export const fitWidth: ReadingSize = { pages: 1, zoom: 1 };

export function clampZoom(zoom: number): number {
  if (!Number.isFinite(zoom)) return 1;
  return Math.min(zoomSteps[zoomSteps.length - 1], Math.max(zoomSteps[0], zoom));
}

interface SizeSettings {
  pagesPerSpread?: unknown;
  readingSizes?: unknown;
}

// The size kept for the script at `path`; a script without one opens at the
// settings' pages side by side, fitted to the column. The settings file is
// read without ranges, so a kept size is brought inside them here.
export function readingSizeFor(settings: SizeSettings | null | undefined, path: string): ReadingSize {
  const list: unknown = settings?.readingSizes;
  const kept = Array.isArray(list)
    ? (list as unknown[]).find((e) => typeof e === 'object' && e !== null && (e as { path?: unknown }).path === path)
    : undefined;
  if (kept) {
    const { pages, zoom } = kept as { pages?: unknown; zoom?: unknown };
    return { pages: pages === 2 ? 2 : 1, zoom: typeof zoom === 'number' ? clampZoom(zoom) : 1 };
  }
  return { pages: settings && settings.pagesPerSpread !== 1 ? 2 : 1, zoom: 1 };
}

// The width of one page as a share of the reading column (`column` wide, the
// width layoutRows is given): what decides how large the script's text is.
export function pageShare(size: ReadingSize, column: number, gap: number): number {
  const c = Math.max(1, column);
  return Math.max(1, c * size.zoom - gap * (size.pages - 1)) / size.pages / c;
}

// What Larger Text and Smaller Text step through, smallest first: two pages
// side by side, then one page up to the column's width and past it. Larger
// text never means a spread wider than the column.
export const textSizeSteps: readonly ReadingSize[] = [
  { pages: 2, zoom: 0.8 }, { pages: 2, zoom: 0.9 }, { pages: 2, zoom: 1 },
  { pages: 1, zoom: 0.6 }, { pages: 1, zoom: 0.7 }, { pages: 1, zoom: 0.8 }, { pages: 1, zoom: 0.9 }, fitWidth,
  { pages: 1, zoom: 1.1 }, { pages: 1, zoom: 1.25 }, { pages: 1, zoom: 1.5 }, { pages: 1, zoom: 1.75 }, { pages: 1, zoom: 2 },
];

// The next step with larger (1) or smaller (-1) pages than `current`; at
// either end, or past it through the zoom, the size stays.
export function stepTextSize(current: ReadingSize, direction: 1 | -1, column: number, gap: number): ReadingSize {
  const here = pageShare(current, column, gap);
  const shares = textSizeSteps.map((s) => pageShare(s, column, gap));
  if (direction > 0) {
    const i = shares.findIndex((x) => x > here * (1 + 1e-6));
    return i < 0 ? current : textSizeSteps[i];
  }
  for (let i = shares.length - 1; i >= 0; i--) if (shares[i] < here * (1 - 1e-6)) return textSizeSteps[i];
  return current;
}

// The one page the monitor shows: the standby cue's, else the last fired
// cue's (the end of the show stays in view), else the page it had.
export function monitorPage(
  standby: { page: number } | undefined, lastFired: { page: number } | undefined, fallback: number, pageCount: number,
): number {
  const page = standby?.page ?? lastFired?.page ?? fallback;
  return Math.min(Math.max(0, Math.trunc(Number.isFinite(page) ? page : 0)), Math.max(0, pageCount - 1));
}

// The label a page shows: its number shifted by the script's page-label
// offset (front matter before page 1). Pages before label 1 show their sheet
// number with a '#'.
export function pageLabel(index: number, labelOffset: number): string {
  const label = index + 1 + Math.trunc(labelOffset || 0);
  return label >= 1 ? String(label) : `#${index + 1}`;
}

// What the Go to Page sheet accepts: a page label ("12"), or a sheet number
// ("#12", counting from the first page of the file). The page index, or an
// error text for the sheet.
export function parsePageInput(text: string, pageCount: number, labelOffset: number): { page: number } | { error: string } {
  const t = text.trim();
  const sheet = /^#\s*(\d+)$/.exec(t);
  const label = /^-?\d+$/.exec(t);
  if (!sheet && !label) return { error: t ? `"${t}" is not a page` : 'Type a page' };
  // Labels below 1 are never shown (those pages read "#n"), so none is taken.
  if (!sheet && Number(t) < 1) return { error: `No page ${t}` };
  const index = sheet ? Number(sheet[1]) - 1 : Number(t) - 1 - Math.trunc(labelOffset || 0);
  if (!Number.isSafeInteger(index) || index < 0 || index >= pageCount) return { error: `No page ${t}` };
  return { page: index };
}

// The offset in the script of a point `fraction` down a page. The pages of a
// spread share their top but not their height, so the page's own height
// counts, not the row's.
export function pageOffset(rows: Row[], page: number, fraction: number): number | null {
  const r = rowOfPage(rows, page);
  if (r < 0) return null;
  const row = rows[r];
  const k = row.pages.indexOf(page);
  return row.top + fraction * (row.heights[k] ?? row.height);
}
