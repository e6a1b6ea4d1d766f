// How much of an operator's text the page lays out. A label, note, memo or
// inserted line may hold anything the marks file holds (a pasted chapter, a
// million line feeds); the page shows a bounded start of it, reading no
// further than it keeps, and the record itself is never shortened: the editor
// gets the whole text and the marks file keeps it.

export const ellipsis = '\u2026';

export interface Clipped {
  text: string;
  // Something of the text was left out.
  cut: boolean;
}

// The start of a text with at most `maxChars` code points and `maxLines`
// lines (a line feed ends a line; it counts as a character). A surrogate pair
// is never split. The native export cuts by the same rule
// (src/export/export_text.cpp visiblePrefix).
export function clipText(text: string, maxChars: number, maxLines = Infinity): Clipped {
  const chars = Math.max(0, Math.floor(maxChars));
  const lines = Math.max(1, maxLines);
  if (text.length <= chars && lines === Infinity) return { text, cut: false };
  let count = 0;
  let breaks = 0;
  let i = 0;
  while (i < text.length) {
    if (count >= chars) return { text: text.slice(0, i), cut: true };
    const code = text.charCodeAt(i);
    if (code === 10 && ++breaks >= lines) return { text: text.slice(0, i), cut: true };
    i += code >= 0xd800 && code <= 0xdbff && i + 1 < text.length ? 2 : 1;
    count++;
  }
  return { text, cut: false };
}

// The start of a text for a place of one or a few lines (a tooltip, a row, a
// panel): cut, then an ellipsis says there is more.
export function shortText(text: string, maxChars: number, maxLines = Infinity): string {
  const c = clipText(text, maxChars, maxLines);
  return c.cut ? c.text.replace(/[ \t\r\n\v\f]+$/, '') + ellipsis : c.text;
}

// The most characters a box can show: no glyph of our faces is narrower than
// a fifth of the font size, no line lower than the size itself. Text beyond
// this lies outside the box, so cutting it there changes nothing drawn. The
// export bounds memos and tags by the same rule.
export function visibleChars(widthPx: number, heightPx: number, fontPx: number): { chars: number; lines: number } {
  // Sizes below a tenth of a pixel draw nothing legible; they count as that.
  const size = Number.isFinite(fontPx) ? Math.max(fontPx, 0.1) : 1;
  const perLine = Math.ceil(Math.min(Math.max(widthPx, 0), 1e5) / (0.2 * size)) + 1;
  const lines = Math.ceil(Math.min(Math.max(heightPx, 0), 1e5) / size) + 1;
  return { chars: perLine * lines, lines };
}

// A tag (a flag's chip, a region's tab) holds no more characters than fit
// across the page in its monospaced face (an advance is 0.6 of the size);
// the export cuts its tags at the same count, so both show the same words.
export function tagChars(pageWpx: number, fontPx: number): number {
  const w = Number.isFinite(pageWpx) ? Math.min(pageWpx, 1e5) : 0;
  return Math.max(1, Math.floor((w - 16) / (0.6 * (Number.isFinite(fontPx) ? Math.max(fontPx, 0.1) : 1))));
}
