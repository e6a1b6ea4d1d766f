import { expect, it } from 'vitest';
import { contrastRatio, parseColor, parseColorAlpha, relativeLuminance, ruleProperty, themeBlocks, underVeil, type Rgb } from '../src/state/contrast';

// Black on white is the maximum, a colour on itself 1; then published reference pairs (to two decimals), either order.
it.each([
  ['#000', '#ffffff', 21], ['#777777', '#777', 1], ['#767676', '#fff', 4.54], ['#fff', '#767676', 4.54], ['rgb(255, 0, 0)', '#fff', 4.0],
  ['rgb(0 0 255)', '#000', 2.44],
])('contrast arithmetic: %s on %s is %f:1', (a, b, ratio) => {
  expect(contrastRatio(parseColor(a)!, parseColor(b)!)).toBeCloseTo(ratio, 2);
});

it('contrast arithmetic: weighs the channels, parses alpha, refuses what it cannot read, and blends under a veil', () => {
  // Green carries most of the light.
  expect(relativeLuminance([0, 255, 0])).toBeCloseTo(0.7152, 4);
  const rows: [string, { rgb: Rgb; alpha: number } | undefined][] = [
    ['rgb(0 0 0 / 55%)', { rgb: [0, 0, 0], alpha: 0.55 }], ['rgba(10, 20, 30, 0.25)', { rgb: [10, 20, 30], alpha: 0.25 }],
    ['  #AbC ', { rgb: [0xaa, 0xbb, 0xcc], alpha: 1 }], ['#12345', undefined], ['rgb(256 0 0)', undefined],
    ['rgb(0 0 0 / 150%)', undefined], ['var(--bg)', undefined], ['black', undefined],
  ];
  for (const [text, want] of rows) expect(parseColorAlpha(text), text).toEqual(want);
  expect([underVeil([200, 100, 0], [0, 0, 0], 0.5), underVeil([0, 0, 0], [255, 255, 255], 0.2), underVeil([10, 20, 30], [0, 0, 0], 0)])
    .toEqual([[100, 50, 0], [51, 51, 51], [10, 20, 30]]);
});

// The style sheet as it ships (read from the disk: Vite hands CSS to tests empty); a
// theme or colour that themeBlocks or ruleProperty misread fails the tests below.
const fs = (await import('node:' + 'fs')) as { readFileSync(path: URL, encoding: 'utf8'): string };
const css = fs.readFileSync(new URL('../src/styles.css', import.meta.url), 'utf8');

// The pairs the page sets text on: body and quieter text on the background,
// panels and buttons, the accent (standby, focus), the GO button's face, and
// the danger colour of RESET and of a failed call's message.
const pairs: [string, string][] = [
  ['--text', '--bg'], ['--muted', '--bg'], ['--text', '--panel'], ['--muted', '--panel'], ['--text', '--raised'], ['--accent', '--bg'],
  ['--go-text', '--go-bg'], ['--danger', '--bg'], ['--danger', '--panel'],
];
// Under the dim veil: what the operator reads and presses. At the veil's
// strength 3:1 would need the quieter, accent and danger colours as bright as
// the body text, a glare whenever not dimmed.
const dimPairs = pairs.filter(([fg]) => fg === '--text' || fg === '--go-text');

// The dim mode lays this veil over everything, the show panel included.
const veil = parseColorAlpha(ruleProperty(css, '.dim-veil', 'background') ?? '');

function color(theme: Map<string, string>, name: string): Rgb {
  const c = parseColor(theme.get(name) ?? '');
  if (!c) throw new Error(`${name} is not a plain colour: ${theme.get(name)}`);
  return c;
}

const themes = themeBlocks(css);

it('the shipped themes: has the three themes, every text pair at 4.5:1 or more in each', () => {
  expect([...themes.keys()].sort()).toEqual(['dark', 'deep', 'light']);
  // color() throws for a colour a theme lacks or does not write plainly.
  const ratios = [...themes].flatMap(([name, theme]) => pairs.map(([fg, bg]) => [`${name} ${fg} on ${bg}`, contrastRatio(color(theme, fg), color(theme, bg))] as const));
  expect(ratios.filter(([, r]) => r < 4.5)).toEqual([]);
});

it('the shipped themes: keeps the booth theme dark, low-glare and readable under the dim veil', () => {
  const deep = themes.get('deep')!;
  // The text bright enough to read, never a white glare in a dark booth.
  expect([['--bg', 0.01], ['--panel', 0.015], ['--text', 0.7]].filter(([name, most]) => relativeLuminance(color(deep, name as string)) >= (most as number)))
    .toEqual([]);
  expect(veil, 'the .dim-veil background').toBeDefined();
  const dimmed = (name: string) => underVeil(color(deep, name), veil!.rgb, veil!.alpha);
  expect(dimPairs.map(([fg, bg]) => [fg, bg, contrastRatio(dimmed(fg), dimmed(bg))]).filter(([, , r]) => (r as number) < 3)).toEqual([]);
});
