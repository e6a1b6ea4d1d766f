// Legibility of the theme colours: relative luminance and contrast ratio as
// the accessibility guidelines (WCAG 2.x) define them, the colours a
// translucent veil leaves behind (the dim mode), and the theme blocks read
// back out of the style sheet so the themes are checked as they ship.

export type Rgb = readonly [number, number, number];

// "#rgb", "#rrggbb", "rgb(r g b)", "rgb(r, g, b)", each rgb() with an optional
// alpha ("/ 55%", "/ 0.55", ", 0.55"); channels 0..255. Anything else is undefined.
export function parseColorAlpha(text: string): { rgb: Rgb; alpha: number } | undefined {
  const t = text.trim().toLowerCase();
  let m = /^#([0-9a-f]{3})$/.exec(t);
  if (m) {
    const h = m[1];
    return { rgb: [0, 1, 2].map((i) => parseInt(h[i] + h[i], 16)) as unknown as Rgb, alpha: 1 };
  }
  m = /^#([0-9a-f]{6})$/.exec(t);
  if (m) {
    const h = m[1];
    return { rgb: [0, 2, 4].map((i) => parseInt(h.slice(i, i + 2), 16)) as unknown as Rgb, alpha: 1 };
  }
  m = /^rgba?\(\s*(\d+)\s*,?\s*(\d+)\s*,?\s*(\d+)\s*(?:[/,]\s*(\d*\.?\d+)(%?)\s*)?\)$/.exec(t);
  if (!m) return undefined;
  const rgb = [m[1], m[2], m[3]].map(Number);
  const alpha = m[4] === undefined ? 1 : Number(m[4]) / (m[5] ? 100 : 1);
  if (rgb.some((c) => c > 255) || alpha > 1) return undefined;
  return { rgb: rgb as unknown as Rgb, alpha };
}

export function parseColor(text: string): Rgb | undefined {
  return parseColorAlpha(text)?.rgb;
}

function linear(channel: number): number {
  const c = channel / 255;
  return c <= 0.04045 ? c / 12.92 : ((c + 0.055) / 1.055) ** 2.4;
}

export function relativeLuminance([r, g, b]: Rgb): number {
  return 0.2126 * linear(r) + 0.7152 * linear(g) + 0.0722 * linear(b);
}

// 1 (the same) to 21 (black on white), whichever of the two is lighter.
export function contrastRatio(a: Rgb, b: Rgb): number {
  const la = relativeLuminance(a);
  const lb = relativeLuminance(b);
  return (Math.max(la, lb) + 0.05) / (Math.min(la, lb) + 0.05);
}

// What shows through a veil of `veil` at `alpha` laid over `under`: browsers
// blend the encoded sRGB values, not the linear light.
export function underVeil(under: Rgb, veil: Rgb, alpha: number): Rgb {
  return under.map((c, i) => Math.round(c * (1 - alpha) + veil[i] * alpha)) as unknown as Rgb;
}

// The custom properties of each `:root[data-theme='name'] { ... }` block.
export function themeBlocks(css: string): Map<string, Map<string, string>> {
  const themes = new Map<string, Map<string, string>>();
  const block = /:root\[data-theme=['"]?([\w-]+)['"]?\]\s*\{([^}]*)\}/g;
  for (let m = block.exec(css); m; m = block.exec(css)) {
    const vars = themes.get(m[1]) ?? new Map<string, string>();
    const body = m[2].replace(/\/\*[\s\S]*?\*\//g, '');
    for (const decl of body.split(';')) {
      const d = /^\s*(--[\w-]+)\s*:\s*([\s\S]+?)\s*$/.exec(decl);
      if (d) vars.set(d[1], d[2]);
    }
    themes.set(m[1], vars);
  }
  return themes;
}

// The value of `property` in the first rule whose selector is exactly `selector`.
export function ruleProperty(css: string, selector: string, property: string): string | undefined {
  const rule = /([^{}]+)\{([^}]*)\}/g;
  for (let m = rule.exec(css); m; m = rule.exec(css)) {
    if (m[1].replace(/\/\*[\s\S]*?\*\//g, '').trim() !== selector) continue;
    for (const decl of m[2].split(';')) {
      const d = /^\s*([\w-]+)\s*:\s*([\s\S]+?)\s*$/.exec(decl);
      if (d && d[1] === property) return d[2];
    }
  }
  return undefined;
}
