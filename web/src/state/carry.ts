// Marks carried from another version of the script: what the native side
// tells of a carry (its summary, its progress), the review list of the records
// it could not place cleanly, and what a drag does to each kind of record
// placed by hand. The pure parts; the actions are actions/carry.ts.

import type { CarryProgress, CarrySummary, CarryTag, Cue, Flag, Insert, Mark, Memo, ScriptState } from '../bridge/types';
import { draftCue, isTextRectAnswer } from './cue_edit';
import { cueTag } from './cues';
import { spotAt } from './insert_tool';
import type { LineRect } from './line_cursor';
import { answerLines, marksOfLines, movedGroup, movedRect, pointOnPage, type MarkKind, type Pt, type Rect } from './mark_shapes';
import { shortText } from './shown_text';

// --- What the native side tells ---

const count = (v: unknown): number => (typeof v === 'number' && Number.isFinite(v) && v > 0 ? Math.min(Math.floor(v), 1e9) : 0);
// One line of a record's text for a row; a damaged record's missing text is none.
const oneLine = (text: unknown, chars: number): string =>
  typeof text === 'string' ? shortText(text, chars).replace(/\s+/g, ' ').trim() : '';

// The "carried" key of an answer of "importSidecar" or "offerMarks"; null
// for an older answer (copied by position, nothing to tell) or a damaged one.
export function readCarried(answer: unknown): CarrySummary | null {
  const c = typeof answer === 'object' && answer !== null ? (answer as { carried?: unknown }).carried : undefined;
  if (typeof c !== 'object' || c === null || Array.isArray(c)) return null;
  const s = c as Record<string, unknown>;
  return {
    mode: s.mode === 'positions' ? 'positions' : 'words',
    placed: count(s.placed),
    changed: count(s.changed),
    review: count(s.review),
    message: typeof s.message === 'string' ? oneLine(s.message, 400) : '',
  };
}

export function readProgress(payload: unknown): CarryProgress | null {
  if (typeof payload !== 'object' || payload === null) return null;
  const p = payload as Record<string, unknown>;
  if (typeof p.step !== 'string') return null;
  return { step: oneLine(p.step, 80), done: count(p.done), total: count(p.total) };
}

export function progressText(p: CarryProgress): string {
  const step = p.step ? ` ${p.step}` : '';
  return p.total > 0 ? `Carrying marks:${step} ${Math.min(p.done, p.total)} of ${p.total}` : `Carrying marks:${step}`;
}

export function summaryText(s: CarrySummary): string {
  const counts = `${s.placed} placed, ${s.changed} changed, ${s.review} to review`;
  if (s.mode === 'positions') return `Marks copied by page and position${s.message ? `: ${s.message}` : ''} (${counts})`;
  return s.message ? `${counts}. ${s.message}` : counts;
}

// --- The review list ---

export type CarryKind = 'cue' | 'marks' | 'memo' | 'flag' | 'insert';

export interface ReviewItem {
  // Unique in the list and stable while the record is: the kind and the id
  // (a mark group's group id).
  key: string;
  kind: CarryKind;
  // The records Accept and Delete act on: one, or every line of a mark group.
  ids: string[];
  name: string;
  // The words it stood on in the old script, cut for one row.
  snippet: string;
  tag: CarryTag;
  // Where its box is: the page, boxes as fractions of it, and the inserted
  // line it sits on (a cue on one, or the line itself).
  page: number;
  rects: Rect[];
  insertID: string;
  // A mark group's kind (highlight, cut, hide, region).
  markKind?: string;
}

// A record's tag, or null when it was placed cleanly. A value this page does
// not know (a newer core) is something to look at, not something to hide.
export function tagOf(rec: { carry?: unknown }): CarryTag | null {
  const c = rec.carry;
  if (typeof c !== 'string' || c === '') return null;
  return c === 'changed' ? 'changed' : 'review';
}

// The words shown for an item: a row holds about this many characters.
export const snippetChars = 120;

// Texts joined until the row is full: a group of many long lines is read no further.
function joinedSnippet(texts: readonly string[]): string {
  let out = '';
  for (const t of texts) {
    if (out.length > snippetChars) break;
    const part = oneLine(t, snippetChars);
    if (part) out = out ? `${out} ${part}` : part;
  }
  return oneLine(out, snippetChars);
}

const markNames: Record<string, string> = { highlight: 'Highlight', cut: 'Cut', hide: 'Hidden words', region: 'Region' };

function markName(kind: string, lines: number): string {
  const name = markNames[kind] ?? 'Highlight';
  return kind !== 'region' && lines > 1 ? `${name}, ${lines} lines` : name;
}

// A record without its tag: what Accept sends, and what a placed record becomes.
export function withoutCarry<T extends { carry?: unknown }>(rec: T): T {
  if (!('carry' in rec)) return rec;
  const { carry: _carry, ...rest } = rec;
  return rest as T;
}

// The marks drawn together with `m`: one per line of one drag share a group id.
const groupKey = (m: Mark) => (m.group ? `marks:${m.group}` : `mark:${m.id}`);

// Every record with a tag, in script order (page, then down, then across).
// Each mark group is one item; its tag is "review" when any of its lines is.
export function reviewItems(state: Pick<ScriptState, 'cues' | 'marks' | 'memos' | 'flags' | 'inserts'>): ReviewItem[] {
  const items: ReviewItem[] = [];
  for (const c of state.cues ?? []) {
    const tag = tagOf(c);
    if (!tag) continue;
    const label = oneLine(c.label, 80);
    items.push({
      key: `cue:${c.id}`, kind: 'cue', ids: [c.id], name: `Cue ${oneLine(cueTag(c), 40)}${label ? ` ${label}` : ''}`,
      snippet: oneLine(c.snippet, snippetChars), tag, page: c.page, rects: [c], insertID: c.insertID,
    });
  }
  // One pass: the groups in the order their first line comes.
  const groups = new Map<string, Mark[]>();
  for (const m of state.marks ?? []) {
    const k = groupKey(m);
    const g = groups.get(k);
    if (g) g.push(m);
    else groups.set(k, [m]);
  }
  for (const [key, recs] of groups) {
    const tags = recs.map(tagOf).filter((t): t is CarryTag => t !== null);
    if (tags.length === 0) continue;
    const first = recs.reduce((a, b) => (b.page < a.page || (b.page === a.page && b.y < a.y) ? b : a));
    items.push({
      key, kind: 'marks', ids: recs.map((m) => m.id), name: markName(first.kind, recs.length),
      snippet: joinedSnippet(recs.map((m) => m.text)), tag: tags.includes('review') ? 'review' : 'changed',
      page: first.page, rects: recs.filter((m) => m.page === first.page), insertID: '', markKind: first.kind,
    });
  }
  for (const m of state.memos ?? []) {
    const tag = tagOf(m);
    if (!tag) continue;
    items.push({
      key: `memo:${m.id}`, kind: 'memo', ids: [m.id], name: 'Memo', snippet: oneLine(m.text, snippetChars), tag, page: m.page, rects: [m],
      insertID: '',
    });
  }
  for (const f of state.flags ?? []) {
    const tag = tagOf(f);
    if (!tag) continue;
    const role = oneLine(f.role, 40);
    items.push({
      key: `flag:${f.id}`, kind: 'flag', ids: [f.id], name: role ? `Flag ${role}` : 'Flag', snippet: oneLine(f.text, snippetChars),
      tag, page: f.page, rects: [{ x: f.x - 0.01, y: f.y - 0.01, w: 0.02, h: 0.02 }], insertID: '',
    });
  }
  for (const i of state.inserts ?? []) {
    const tag = tagOf(i);
    if (!tag) continue;
    items.push({
      key: `insert:${i.id}`, kind: 'insert', ids: [i.id], name: 'Inserted line', snippet: oneLine(i.text, snippetChars), tag,
      page: i.page, rects: [{ x: i.x, y: i.afterY, w: Math.max(0.05, 0.95 - i.x), h: i.lineH }], insertID: i.id,
    });
  }
  const top = (it: ReviewItem) => it.rects[0] ?? { x: 0, y: 0 };
  return items.sort((a, b) => a.page - b.page || top(a).y - top(b).y || top(a).x - top(b).x);
}

// --- The records of an item, as the state has them now ---

export type CarryTarget =
  | { kind: 'cue'; rec: Cue }
  | { kind: 'marks'; recs: Mark[] }
  | { kind: 'memo'; rec: Memo }
  | { kind: 'flag'; rec: Flag }
  | { kind: 'insert'; rec: Insert };

// Null when they are gone (deleted, undone, accepted elsewhere).
export function targetOf(state: Pick<ScriptState, 'cues' | 'marks' | 'memos' | 'flags' | 'inserts'>, item: ReviewItem): CarryTarget | null {
  const id = item.ids[0];
  switch (item.kind) {
    case 'cue': {
      const rec = (state.cues ?? []).find((r) => r.id === id);
      return rec ? { kind: 'cue', rec } : null;
    }
    case 'marks': {
      const wanted = new Set(item.ids);
      const recs = (state.marks ?? []).filter((m) => wanted.has(m.id));
      return recs.length > 0 ? { kind: 'marks', recs } : null;
    }
    case 'memo': {
      const rec = (state.memos ?? []).find((r) => r.id === id);
      return rec ? { kind: 'memo', rec } : null;
    }
    case 'flag': {
      const rec = (state.flags ?? []).find((r) => r.id === id);
      return rec ? { kind: 'flag', rec } : null;
    }
    case 'insert': {
      const rec = (state.inserts ?? []).find((r) => r.id === id);
      return rec ? { kind: 'insert', rec } : null;
    }
  }
}

// Marks over words, as the page draws them: any kind but a region is one.
const textKind = (kind: string): MarkKind | null => (kind === 'region' ? null : kind === 'cut' || kind === 'hide' ? kind : 'highlight');

// What the drag has to learn from the native side first: the words under it
// (a cue, marks over words), the page's lines (an inserted line), or nothing.
export function dragAsks(target: CarryTarget): 'words' | 'lines' | null {
  if (target.kind === 'cue') return 'words';
  if (target.kind === 'marks') return textKind(target.recs[0].kind) ? 'words' : null;
  return target.kind === 'insert' ? 'lines' : null;
}

// --- Placed by a drag ---

export interface PlaceDrag {
  page: number;
  // Points of the script's text, fractions of the page.
  from: Pt;
  to: Pt;
}

export type Placement =
  | { kind: 'cue'; cue: Cue }
  // `remove`: lines of the group the new drag no longer has.
  | { kind: 'marks'; upsert: Mark[]; remove: string[] }
  | { kind: 'memo'; memo: Memo }
  | { kind: 'flag'; flag: Flag }
  | { kind: 'insert'; insert: Insert };

// What a drag does to the record it places, without its tag: a cue takes the
// box, label place, paddings and words of the drag, keeping what the operator
// gave it; marks over words become the lines of the drag (ids kept where they
// can be, so an undo and the marks file see the same records); a region,
// memo or flag moves its corner to where the drag started, its size kept; an
// inserted line goes under the line the drag started on. Null when the drag
// found no words to put marks or a cue on.
export function placeByDrag(
  target: CarryTarget, drag: PlaceDrag, answer: unknown, lines: readonly LineRect[], newID: () => string,
): Placement | null {
  const page = Math.max(0, Math.trunc(drag.page));
  const from = pointOnPage(drag.from);
  switch (target.kind) {
    case 'cue': {
      if (!isTextRectAnswer(answer)) return null;
      const { id, number, label, kind, color, note } = target.rec;
      return { kind: 'cue', cue: { ...draftCue(answer, page, [], kind, id), number, label, color, note } };
    }
    case 'marks': {
      const recs = target.recs;
      const first = recs[0];
      const kind = textKind(first.kind);
      if (kind) {
        const found = answerLines(answer);
        if (!found) return null;
        const ids = recs.map((m) => m.id);
        let k = 0;
        const group = first.group || (found.lines.length > 1 ? newID() : '');
        const upsert = marksOfLines(found, kind, page, first.color, group, () => (k < ids.length ? ids[k++] : newID()));
        return { kind: 'marks', upsert, remove: ids.slice(upsert.length) };
      }
      // A region (or a group of them) keeps its shape: its top-left goes to the point.
      const minX = Math.min(...recs.map((m) => m.x));
      const minY = Math.min(...recs.map((m) => m.y));
      const moved = movedGroup(recs.map((m) => ({ ...withoutCarry(m), page })), from.x - minX, from.y - minY);
      return { kind: 'marks', upsert: moved, remove: [] };
    }
    case 'memo': {
      const m = target.rec;
      return { kind: 'memo', memo: { ...withoutCarry(m), page, ...movedRect({ x: from.x, y: from.y, w: m.w, h: m.h }, 0, 0) } };
    }
    case 'flag':
      return { kind: 'flag', flag: { ...withoutCarry(target.rec), page, ...from } };
    case 'insert': {
      const spot = spotAt(lines, from, null);
      const at = spot ? spot.gap : { afterY: from.y, lineMidY: from.y, x: from.x };
      const lineH = spot?.lineH ?? target.rec.lineH;
      return { kind: 'insert', insert: { ...withoutCarry(target.rec), page, afterY: at.afterY, lineMidY: at.lineMidY, x: at.x, lineH } };
    }
  }
}

// What the operator is told the next drag will do.
export function placingHint(item: ReviewItem): string {
  const words = item.kind === 'marks' ? textKind(item.markKind ?? '') : null;
  const how =
    item.kind === 'cue' ? `Drag over the words for ${item.name}`
    : item.kind === 'insert' ? 'Click the line the inserted line goes under'
    : words ? `Drag over the words the ${words === 'hide' ? 'hiding' : words} goes on`
    : `Click where the ${item.kind === 'marks' ? 'region' : item.kind} goes (its top-left corner)`;
  return `${how} · Escape cancels`;
}
