// Page notes and the page-label offset: what the Page sheet sends, and the
// note each page shows.

// The note of a page (index from 0); "" when it has none.
export function noteOf(pageTexts: Record<string, string> | undefined, page: number): string {
  const text = pageTexts?.[String(page)];
  return typeof text === 'string' ? text.trim() : '';
}

// "This page is numbered N": the offset that makes page `index` read N. Only
// whole numbers from 1; anything else is a text for the sheet.
export function offsetForNumber(index: number, text: string): { offset: number } | { error: string } {
  const t = text.trim();
  if (!/^\d+$/.test(t) || Number(t) < 1) return { error: t ? `"${t}" is not a page number` : 'Type a page number' };
  const n = Number(t);
  if (!Number.isSafeInteger(n) || n > 100000) return { error: `"${t}" is not a page number` };
  return { offset: n - (index + 1) };
}

// The number page `index` reads with `offset`, as the sheet proposes it; ""
// for a page before the first numbered one.
export function numberOf(index: number, offset: number): string {
  const n = index + 1 + Math.trunc(offset || 0);
  return n >= 1 ? String(n) : '';
}
