// The follower screen's rules: a read-only view of the show that a browser on
// the local network opens at /f/TOKEN/. Everything the server sends is read
// here and nowhere else, checked field by field: a follower is any phone in
// the building, and the server is only trusted as far as its frames parse.

import { sanitizeAspect } from './layout';
import { shortText } from './shown_text';

export const maxCues = 10_000;
export const maxPages = 100_000;
// A label is shown in a few lines at most; the standby block clamps it further.
export const maxLabelChars = 200;
const maxTitleChars = 200;
const maxNumberChars = 40;
const maxKindChars = 40;
const maxIdChars = 200;
// 10,000 cues with 200-character labels are about 3 MB; a frame ten times
// larger is not a script the page can show, so it is not parsed at all.
export const maxFrameChars = 32 * 1024 * 1024;
// The filter chips on the follower: more kinds than this are not departments.
export const maxKinds = 40;

export const pingEveryMs = 10_000;
export const pongWithinMs = 20_000;
export const connectWithinMs = 10_000;

export interface FollowDocument {
  title: string;
  pageCount: number;
  aspects: number[];
}

export interface FollowCue {
  id: string;
  number: string;
  label: string;
  kind: string;
  // -1: the cue has no place on a page this screen can draw.
  page: number;
  // Fractions of the page; null when the server sent no usable box.
  box: { x: number; y: number; w: number; h: number } | null;
}

export interface FollowScript {
  document: FollowDocument;
  cues: FollowCue[];
  // Each id's place in script order (the first cue of a repeated id wins).
  order: Map<string, number>;
}

export interface FollowRun {
  standby: string | null;
  next: string | null;
  lastFired: string | null;
  firedCount: number;
  total: number;
}

export type ServerMessage = { type: 'script'; script: FollowScript } | { type: 'run'; run: FollowRun } | { type: 'pong' };

type Json = Record<string, unknown>;
const isObject = (v: unknown): v is Json => typeof v === 'object' && v !== null && !Array.isArray(v);

function text(v: unknown, max: number): string {
  return typeof v === 'string' ? shortText(v, max, 4) : '';
}

function count(v: unknown): number {
  return typeof v === 'number' && Number.isFinite(v) && v >= 0 ? Math.min(Math.floor(v), 1e9) : 0;
}

function fraction(v: unknown): number | null {
  return typeof v === 'number' && Number.isFinite(v) ? Math.min(Math.max(v, 0), 1) : null;
}

function readId(v: unknown): string | null {
  return typeof v === 'string' && v.length > 0 && v.length <= maxIdChars ? v : null;
}

function readDocument(v: Json): FollowDocument {
  const pageCount = Math.min(count(v.pageCount), maxPages);
  const aspects = Array.isArray(v.aspects) ? v.aspects.slice(0, pageCount) : [];
  return {
    title: text(v.title, maxTitleChars).replace(/\s+/g, ' '),
    pageCount,
    aspects: aspects.map((a) => sanitizeAspect(typeof a === 'number' ? a : undefined)),
  };
}

function readCue(v: unknown, pageCount: number): FollowCue | null {
  if (!isObject(v)) return null;
  const id = readId(v.id);
  if (id === null) return null;
  const page = typeof v.page === 'number' && Number.isInteger(v.page) && v.page >= 0 && v.page < pageCount ? v.page : -1;
  const [x, y, w, h] = [v.x, v.y, v.w, v.h].map(fraction);
  const box = x !== null && y !== null && w !== null && h !== null ? { x, y, w: Math.min(w, 1 - x), h: Math.min(h, 1 - y) } : null;
  return {
    id,
    number: text(v.number, maxNumberChars).trim(),
    label: text(v.label, maxLabelChars),
    kind: text(v.kind, maxKindChars).trim(),
    page,
    box,
  };
}

function readScript(m: Json): FollowScript | null {
  if (!isObject(m.document) || !Array.isArray(m.cues)) return null;
  const document = readDocument(m.document);
  const cues: FollowCue[] = [];
  const order = new Map<string, number>();
  // Only the first maxCues entries are looked at, whatever they hold.
  const sent = m.cues.length > maxCues ? m.cues.slice(0, maxCues) : m.cues;
  for (const raw of sent) {
    const cue = readCue(raw, document.pageCount);
    if (!cue) continue;
    if (!order.has(cue.id)) order.set(cue.id, cues.length);
    cues.push(cue);
  }
  return { document, cues, order };
}

function readRun(m: Json): FollowRun {
  return {
    standby: readId(m.standby),
    next: readId(m.next),
    lastFired: readId(m.lastFired),
    firedCount: count(m.firedCount),
    total: count(m.total),
  };
}

// One text frame from the server, or null for anything the page does not use.
export function readServerMessage(frame: unknown): ServerMessage | null {
  if (typeof frame !== 'string' || frame.length > maxFrameChars) return null;
  let m: unknown;
  try {
    m = JSON.parse(frame);
  } catch {
    return null;
  }
  if (!isObject(m)) return null;
  if (m.type === 'pong') return { type: 'pong' };
  if (m.type === 'run') return { type: 'run', run: readRun(m) };
  if (m.type === 'script') {
    const script = readScript(m);
    return script ? { type: 'script', script } : null;
  }
  return null;
}

// The kinds a filter chip is offered for: those in the script, in the order
// they first appear, then any chosen kind the script no longer has (so it can
// be switched off).
export function kindsOf(cues: readonly FollowCue[], chosen: ReadonlySet<string> = new Set()): string[] {
  const seen = new Set<string>();
  for (const c of cues) {
    if (seen.size >= maxKinds) break;
    if (c.kind) seen.add(c.kind);
  }
  for (const k of chosen) seen.add(k);
  return [...seen];
}

export interface Followed {
  // The big cue: the run's standby, or with a filter the first cue of the
  // chosen kinds at or after it.
  standby: FollowCue | undefined;
  next: FollowCue | undefined;
  // Cues before this index in script order are done.
  doneBefore: number;
  // The page the script column shows.
  page: number;
}

// Where the run stands in the script: the standby's index; with a standby
// this script does not hold, just after the last fired cue; past the end
// when neither is known (the show is over, or no cue was ever stood by).
function runIndex(script: FollowScript, run: FollowRun): number {
  if (run.standby !== null) {
    const at = script.order.get(run.standby);
    if (at !== undefined) return at;
  }
  if (run.lastFired !== null) {
    const at = script.order.get(run.lastFired);
    if (at !== undefined) return at + 1;
  }
  return run.standby === null && run.lastFired === null && run.firedCount === 0 ? 0 : script.cues.length;
}

function firstOf(cues: readonly FollowCue[], from: number, kinds: ReadonlySet<string> | null): number {
  for (let i = Math.max(0, from); i < cues.length; i++) if (!kinds || kinds.has(cues[i].kind)) return i;
  return -1;
}

// What the follower shows for a run; `kinds` null or empty is "All cues".
export function followedCues(script: FollowScript, run: FollowRun, kinds: ReadonlySet<string> | null): Followed {
  const cues = script.cues;
  const filter = kinds && kinds.size > 0 ? kinds : null;
  const start = runIndex(script, run);
  const at = firstOf(cues, start, filter);
  const standby = at >= 0 ? cues[at] : undefined;
  let next: FollowCue | undefined;
  if (standby) {
    // Unfiltered, the run's own next is the one the caller will call (it may
    // skip cues the script lists); filtered, the script order decides.
    const runNext = !filter && run.next !== null ? script.order.get(run.next) : undefined;
    const n = runNext !== undefined && runNext > at ? runNext : firstOf(cues, at + 1, filter);
    next = n >= 0 ? cues[n] : undefined;
  }
  const lastFired = run.lastFired !== null ? script.order.get(run.lastFired) : undefined;
  const pageOf = (c: FollowCue | undefined) => (c && c.page >= 0 ? c.page : undefined);
  const fallback = pageOf(lastFired !== undefined ? cues[lastFired] : undefined) ?? 0;
  const page = Math.min(pageOf(standby) ?? fallback, Math.max(0, script.document.pageCount - 1));
  return { standby, next, doneBefore: start, page };
}

// "No more cues" at the end of the show; "No more LX cues" or "No more LX or
// SND cues" past the last of the chosen kinds.
export function noMoreText(kinds: ReadonlySet<string> | null): string {
  const list = kinds ? [...kinds] : [];
  if (list.length === 0) return 'No more cues';
  if (list.length === 1) return `No more ${list[0]} cues`;
  return `No more ${list.slice(0, -1).join(', ')} or ${list[list.length - 1]} cues`;
}

export function firedText(run: FollowRun): string {
  return `${run.firedCount} of ${run.total} fired`;
}

// The wait before reconnect attempt `attempt` (0 first): 1, 2, 4, 8, then
// 15 s, each within ±25 % so that thirty phones that lost the same access
// point do not all knock at once; never more than 15 s.
const backoffSteps = [1000, 2000, 4000, 8000, 15000];
export function backoffDelay(attempt: number, random: number): number {
  const step = backoffSteps[Math.min(Math.max(0, Math.floor(attempt) || 0), backoffSteps.length - 1)];
  const r = Number.isFinite(random) ? Math.min(Math.max(random, 0), 1) : 0.5;
  return Math.min(15000, Math.round(step * (0.75 + 0.5 * r)));
}

// The width asked of the server for a page image: the column's width in
// device pixels, rounded up to a multiple of 128 so that screens of about the
// same size share the server's cached image; 128 to 4096.
export function imageWidth(cssWidth: number, devicePixelRatio: number): number {
  const ratio = Number.isFinite(devicePixelRatio) && devicePixelRatio > 0 ? devicePixelRatio : 1;
  const px = Number.isFinite(cssWidth) && cssWidth > 0 ? cssWidth * ratio : 0;
  return Math.min(4096, Math.max(128, Math.ceil(px / 128) * 128));
}

const followPath = /^\/f\/([0-9a-f]{32,})\/$/;

// The token of a follower page: one served over http(s) at /f/TOKEN/ with no
// native message handlers (the app's own window has them); null otherwise.
export function followerToken(
  location: { protocol: string; pathname: string }, hasNativeHandlers: boolean, confidence: boolean,
): string | null {
  if (hasNativeHandlers || confidence) return null;
  if (location.protocol !== 'http:' && location.protocol !== 'https:') return null;
  const m = followPath.exec(location.pathname);
  return m ? m[1] : null;
}

export function socketURL(location: { protocol: string; host: string }, token: string): string {
  return `${location.protocol === 'https:' ? 'wss' : 'ws'}://${location.host}/f/${token}/ws`;
}

export function pageImageURL(token: string, index: number, width: number): string {
  return `/f/${token}/page/${index}/${width}`;
}

// The chosen kinds are kept per token: each show's followers choose their own.
export const filterKey = (token: string) => `tallowmark.follow.${token}.kinds`;

export function readFilter(stored: string | null): Set<string> {
  if (!stored || stored.length > 4096) return new Set();
  try {
    const v: unknown = JSON.parse(stored);
    if (!Array.isArray(v)) return new Set();
    return new Set(v.filter((k): k is string => typeof k === 'string' && k.length > 0 && k.length <= maxKindChars).slice(0, maxKinds));
  } catch {
    return new Set();
  }
}

export function writeFilter(kinds: ReadonlySet<string>): string {
  return JSON.stringify([...kinds]);
}
