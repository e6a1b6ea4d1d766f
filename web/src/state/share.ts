// The pure parts of sharing to follower screens: the core's status read into
// a bounded record, the QR code as an image address, and the words the sheet
// and the sidebar show.

import type { ShareStatus } from '../bridge/types';
import { shortText } from './shown_text';

// A machine has a few networks; more is a damaged answer, and each one is a
// line of the sheet.
export const maxAddresses = 8;
const addressChars = 300;
const errorChars = 300;
// A QR code of one address is a few tens of kilobytes of SVG at most; a
// larger one is not drawn (decoding it would cost the sheet's opening).
export const maxQrChars = 512 * 1024;

const count = (v: unknown, max: number): number =>
  typeof v === 'number' && Number.isFinite(v) ? Math.min(max, Math.max(0, Math.trunc(v))) : 0;

// Null when the answer is not a status at all; otherwise every field is
// taken as far as it can be and the rest left empty.
export function readShareStatus(v: unknown): ShareStatus | null {
  if (typeof v !== 'object' || v === null || Array.isArray(v)) return null;
  const o = v as Record<string, unknown>;
  if (typeof o.sharing !== 'boolean') return null;
  const addresses = (Array.isArray(o.addresses) ? o.addresses.slice(0, maxAddresses) : [])
    .filter((a): a is string => typeof a === 'string' && a !== '' && a.length <= addressChars);
  const listening = o.listening === true;
  return {
    sharing: o.sharing,
    listening,
    port: count(o.port, 65535),
    error: typeof o.error === 'string' ? shortText(o.error.trim(), errorChars, 3) : '',
    screens: count(o.screens, 1_000_000),
    pinned: o.pinned === true,
    addresses: listening ? addresses : [],
    qr: listening && typeof o.qr === 'string' && o.qr.length <= maxQrChars ? o.qr : null,
  };
}

// The QR code as an <img> source: the SVG is never put into the page itself,
// so nothing in it can run or reach the page's styles.
export function qrDataURL(svg: string | null): string | null {
  if (svg === null) return null;
  const text = svg.trim();
  if (!/^(<\?xml[^>]*\?>\s*)?<svg[\s>]/i.test(text)) return null;
  return `data:image/svg+xml;charset=utf-8,${encodeURIComponent(text)}`;
}

export function screensText(n: number): string {
  if (n === 0) return 'No screens following';
  return n === 1 ? '1 screen following' : `${n} screens following`;
}

// Why sharing is on but nothing is served.
export function notListeningText(s: ShareStatus): string {
  return s.error || (s.port > 0 ? `Port ${s.port} is not being served.` : 'The screens are not being served.');
}

export const portHintText = 'Another program may hold the port: choose another in Settings › Remote: Screens, then Try Again.';

// The sidebar's remote line: null when not sharing.
export function remoteScreensLine(s: ShareStatus | null): { text: string; error: boolean } | null {
  if (!s?.sharing) return null;
  if (!s.listening) return { text: s.error ? `port ${s.port}: ${s.error}` : 'not running', error: true };
  return { text: `sharing on port ${s.port}, ${s.screens} following`, error: false };
}
