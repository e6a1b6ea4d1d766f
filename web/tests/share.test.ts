// Sharing to follower screens: the core's status read into a bounded record,
// the QR code's image address, and the words of the sheet and the sidebar.
import { expect, it } from 'vitest';
import {
  maxAddresses, maxQrChars, qrDataURL, readShareStatus, remoteScreensLine, screensText,
} from '../src/state/share';
import { shareOff, shareOn, shareQr } from './fake_bridge';

it('the share status: takes what the core sends and bounds or drops what a damaged answer holds', () => {
  const cases: [string, unknown, unknown][] = [
    ['sharing', shareOn, shareOn],
    ['off', shareOff, shareOff],
    ['not a status', null, null], ['a list', [shareOn], null], ['no choice', { ...shareOn, sharing: 'yes' }, null],
    // Without a server there is nothing to scan, whatever else came.
    ['not listening', { ...shareOn, listening: false, error: ' portti 53180 on varattu\n' },
      { ...shareOn, listening: false, error: 'portti 53180 on varattu', addresses: [], qr: null }],
    ['damaged fields', { sharing: true, listening: true, port: 1e9, screens: -3, pinned: 'yes', addresses: ['', 7, 'http://a/'], qr: 5 },
      { sharing: true, listening: true, port: 65535, error: '', screens: 0, pinned: false, addresses: ['http://a/'], qr: null }],
    ['a fraction of a screen', { ...shareOn, screens: 2.7, port: Number.NaN }, { ...shareOn, screens: 2, port: 0 }],
    ['a flood of addresses', { ...shareOn, addresses: Array.from({ length: 50 }, (_, i) => `http://10.0.0.${i}/`) },
      { ...shareOn, addresses: Array.from({ length: maxAddresses }, (_, i) => `http://10.0.0.${i}/`) }],
    ['a QR code too large to draw', { ...shareOn, qr: `<svg>${'x'.repeat(maxQrChars)}</svg>` }, { ...shareOn, qr: null }],
  ];
  for (const [name, answer, want] of cases) expect(readShareStatus(answer), name).toEqual(want);
  const long = readShareStatus({ ...shareOn, error: 'e'.repeat(100_000), addresses: ['x'.repeat(100_000), 'http://a/'] });
  expect([long?.error.length, long?.addresses]).toEqual([301, ['http://a/']]);
});

it('the QR code: an SVG document becomes an image address that decodes to it; anything else draws nothing', () => {
  const prefix = 'data:image/svg+xml;charset=utf-8,';
  const prolog = `<?xml version="1.0"?>\n${shareQr}`;
  for (const svg of [shareQr, prolog, `  ${shareQr}\n`]) {
    const url = qrDataURL(svg)!;
    // A bare '#' would end the address at the first colour; quotes and brackets break it.
    expect([url.startsWith(prefix), /[#"<> ]/.test(url.slice(prefix.length)), decodeURIComponent(url.slice(prefix.length))])
      .toEqual([true, false, svg.trim()]);
  }
  for (const bad of [null, '', 'portti varattu', '<html><svg></svg></html>', '<svgx/>', '<script>alert(1)</script>'])
    expect(qrDataURL(bad), String(bad)).toBeNull();
});

it('the screens: counted in words in the sheet, and on one line of the sidebar only while sharing', () => {
  expect([0, 1, 2, 40].map(screensText)).toEqual(['No screens following', '1 screen following', '2 screens following', '40 screens following']);
  const cases: [string, Parameters<typeof remoteScreensLine>[0], ReturnType<typeof remoteScreensLine>][] = [
    ['unknown', null, null],
    ['off', shareOff, null],
    ['on', { ...shareOn, screens: 2 }, { text: 'sharing on port 53180, 2 following', error: false }],
    ['port taken', { ...shareOn, listening: false, error: 'portti 53180 on varattu' }, { text: 'port 53180: portti 53180 on varattu', error: true }],
    ['no server, no reason', { ...shareOn, listening: false }, { text: 'not running', error: true }],
  ];
  for (const [name, s, want] of cases) expect(remoteScreensLine(s), name).toEqual(want);
});
