// The cue types as the Settings sheet edits them. The core keeps the list in
// the order sent (the first type is the one a new cue gets when none was used
// yet), trims each name, drops names outside 1 to 12 characters and gives a
// bad colour its own red; the page refuses those values instead, so what the
// operator typed is never silently changed.

import type { Cue, CueType, Settings } from '../bridge/types';

// The core looks at the first 24 entries only.
export const maxCueTypes = 24;
export const maxCueTypeName = 12;

export type TypesChange = Pick<Settings, 'cueTypes'> | { error: string };

// The core trims what GLib calls space (tab, line feed, carriage return, form
// feed, the Z categories) plus vertical tab and NEXT LINE; JavaScript's trim
// would also take U+FEFF, which the core keeps and counts.
// Stryker disable next-line Regex: it turns \v into \V, which /u refuses; the module would not
// load and its tests would drop out of the run unnoticed.
const edge = /^[\t\n\v\f\r\u0085\p{Zs}\u2028\u2029]+|[\t\n\v\f\r\u0085\p{Zs}\u2028\u2029]+$/gu;

export function trimName(raw: string): string {
  return raw.replace(edge, '');
}

type SegmenterLike = new (locale?: string, options?: { granularity: string }) => {
  segment(text: string): Iterable<unknown>;
};
const Segmenter = (Intl as unknown as { Segmenter?: SegmenterLike }).Segmenter;
const graphemes = Segmenter ? new Segmenter(undefined, { granularity: 'grapheme' }) : null;

// Characters as the operator sees them, as the core counts them: an accent
// typed as a combining mark, a flag or a family emoji is one.
export function nameLength(name: string): number {
  if (!graphemes) return [...name].length;
  let n = 0;
  for (const _ of graphemes.segment(name)) n++;
  return n;
}

export function isHexColor(text: string): boolean {
  return /^#[0-9a-fA-F]{6}$/.test(text);
}

// The name the core would store, or why the page does not send it. A name
// already in the list (but the one being renamed) is refused too: cues find
// their type by name, so two types of one name could never both be chosen.
export function checkName(raw: string, types: readonly CueType[], except = -1): { name: string } | { error: string } {
  const name = trimName(raw);
  if (!name) return { error: 'A type needs a name.' };
  // A lone half of a surrogate pair is not text the core can store.
  if (/\p{Surrogate}/u.test(name)) return { error: 'The name holds a broken character.' };
  const n = nameLength(name);
  if (n > maxCueTypeName) return { error: `At most ${maxCueTypeName} characters (this has ${n}).` };
  if (types.some((t, i) => i !== except && t.name === name)) return { error: `There is already a type “${name}”.` };
  return { name };
}

function colourError(color: string): { error: string } | null {
  return isHexColor(color) ? null : { error: 'A colour is # and six hexadecimal digits.' };
}

export function addType(types: readonly CueType[], rawName: string, color: string): TypesChange {
  if (types.length >= maxCueTypes) return { error: `At most ${maxCueTypes} types.` };
  const checked = checkName(rawName, types);
  if ('error' in checked) return checked;
  return colourError(color) ?? { cueTypes: [...types, { name: checked.name, color }] };
}

export function renameType(types: readonly CueType[], index: number, rawName: string): TypesChange {
  if (!types[index]) return { error: 'That type is gone.' };
  const checked = checkName(rawName, types, index);
  if ('error' in checked) return checked;
  return { cueTypes: types.map((t, i) => (i === index ? { ...t, name: checked.name } : t)) };
}

export function recolourType(types: readonly CueType[], index: number, color: string): TypesChange {
  if (!types[index]) return { error: 'That type is gone.' };
  return colourError(color) ?? { cueTypes: types.map((t, i) => (i === index ? { ...t, color } : t)) };
}

// The core keeps the old list when the new one is empty, so the last type
// cannot go.
export function removeType(types: readonly CueType[], index: number): TypesChange {
  if (!types[index]) return { error: 'That type is gone.' };
  if (types.length <= 1) return { error: 'One type at least stays.' };
  return { cueTypes: types.filter((_, i) => i !== index) };
}

export function moveType(types: readonly CueType[], index: number, delta: -1 | 1): TypesChange {
  const to = index + delta;
  if (!types[index] || to < 0 || to >= types.length) return { error: 'That type cannot move further.' };
  const next = [...types];
  [next[index], next[to]] = [next[to], next[index]];
  return { cueTypes: next };
}

// How many cues of the shown script name this type; renaming or removing a
// type leaves them as they are.
export function typeUsage(cues: readonly Cue[], name: string): number {
  return cues.reduce((n, c) => (c.kind === name ? n + 1 : n), 0);
}

// The quiet line after the core answered a list change: the core may still
// drop a name it counts longer than the page did (its counting of some
// scripts' clusters differs), and the operator must see that.
export function keptNote(sent: readonly CueType[] | undefined, stored: readonly CueType[] | undefined): string {
  if (!sent || !stored) return '';
  const same = sent.length === stored.length && sent.every((t, i) => t.name === stored[i].name && t.color === stored[i].color);
  return same ? '' : `The core kept: ${stored.map((t) => t.name).join(', ')}`;
}

// After a rename or removal: the cues of the shown script that still name a
// type the list no longer has. The core leaves them as they are; the
// operator hears of it once.
export function leftBehind(cues: readonly Cue[], name: string, now: readonly CueType[]): string {
  const n = typeUsage(cues, name);
  if (n === 0 || now.some((t) => t.name === name)) return '';
  const who = n === 1 ? '1 cue of this script still names' : `${n} cues of this script still name`;
  return `${who} “${name}”, now without a type colour unless a cue has its own.`;
}
