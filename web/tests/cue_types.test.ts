import { expect, it } from 'vitest';
import type { Cue, CueType } from '../src/bridge/types';
import {
  addType, checkName, keptNote, leftBehind, maxCueTypes, moveType, nameLength, recolourType, removeType, renameType, trimName, typeUsage,
} from '../src/state/cue_types';
import { refused } from './fake_bridge';

const types: CueType[] = [
  { name: 'CUE', color: '#57b46a' }, { name: 'SFX', color: '#4a63de' }, { name: 'LFX', color: '#e8c04a' },
];

it('cue type names are trimmed as the core trims and counted by what the operator sees', () => {
  const cases: [string, string | null][] = [
    ['  FLY  ', 'FLY'], ['\u0085\u2028FLY\t\v', 'FLY'], ['\u00a0FLY\u3000', 'FLY'],
    // The core keeps a byte order mark, and counts it.
    ['\ufeffFLY', '\ufeffFLY'], ['ABCDEFGHIJKL', 'ABCDEFGHIJKL'], ['ABCDEFGHIJKLM', null],
    // Twelve letters, each with a combining accent: 24 code points.
    ['e\u0301'.repeat(12), 'e\u0301'.repeat(12)], ['e\u0301'.repeat(13), null],
    // Flags and a family: one character each.
    ['🇫🇮'.repeat(12), '🇫🇮'.repeat(12)], ['👨‍👩‍👧'.repeat(13), null], ['Ääniefekti 1', 'Ääniefekti 1'], ['   ', null], ['', null],
    ['A\ud800', null],
    // Another type's name, trimmed, is refused; case makes a different name.
    [' SFX ', null], ['sfx', 'sfx'],
  ];
  for (const [raw, name] of cases) expect(checkName(raw, types), JSON.stringify(raw)).toEqual(name === null ? refused : { name });
  expect([trimName('\u0085 X \u0085'), nameLength('🇫🇮e\u0301x')]).toEqual(['X', 3]);
  expect(checkName('ABCDEFGHIJKLM', types)).toEqual({ error: 'At most 12 characters (this has 13).' });
});

const names = (c: ReturnType<typeof addType>) => ('error' in c ? c.error : c.cueTypes.map((t) => `${t.name} ${t.color}`));

it('cue type list changes: adds, renames, recolours, moves and removes what the core would keep, and refuses the rest', () => {
  const full = Array.from({ length: maxCueTypes }, (_, i) => ({ name: `T${i}`, color: '#000000' }));
  const cases: [string, ReturnType<typeof addType>, string[] | string][] = [
    ['add', addType(types, ' FLY ', '#AbCdEf'), ['CUE #57b46a', 'SFX #4a63de', 'LFX #e8c04a', 'FLY #AbCdEf']],
    ['add a bad colour', addType(types, 'FLY', 'red'), 'A colour is # and six hexadecimal digits.'],
    ['add a short colour', addType(types, 'FLY', '#abc'), 'A colour is # and six hexadecimal digits.'],
    ['add a taken name', addType(types, 'CUE', '#000000'), 'There is already a type “CUE”.'],
    ['add the 25th', addType(full, 'NEW', '#000000'), 'At most 24 types.'],
    ['rename', renameType(types, 1, ' SND '), ['CUE #57b46a', 'SND #4a63de', 'LFX #e8c04a']],
    ['rename to its own name', renameType(types, 1, 'SFX'), ['CUE #57b46a', 'SFX #4a63de', 'LFX #e8c04a']],
    ['rename to another name', renameType(types, 1, 'LFX'), 'There is already a type “LFX”.'],
    ['rename a gone type', renameType(types, 3, 'X'), 'That type is gone.'],
    ['recolour', recolourType(types, 2, '#123456'), ['CUE #57b46a', 'SFX #4a63de', 'LFX #123456']],
    ['recolour badly', recolourType(types, 2, '123456'), 'A colour is # and six hexadecimal digits.'],
    ['move up', moveType(types, 2, -1), ['CUE #57b46a', 'LFX #e8c04a', 'SFX #4a63de']],
    ['move down', moveType(types, 0, 1), ['SFX #4a63de', 'CUE #57b46a', 'LFX #e8c04a']],
    ['move the first up', moveType(types, 0, -1), 'That type cannot move further.'],
    ['move the last down', moveType(types, 2, 1), 'That type cannot move further.'],
    ['remove', removeType(types, 0), ['SFX #4a63de', 'LFX #e8c04a']],
    ['remove the last one', removeType([types[0]], 0), 'One type at least stays.'],
  ];
  for (const [what, change, want] of cases) expect(names(change), what).toEqual(want);
  // The list given is never changed in place.
  expect(types.map((t) => t.name)).toEqual(['CUE', 'SFX', 'LFX']);
});

it('cue type list changes: counts the cues of the shown script that name a type', () => {
  const cue = (kind: string) => ({ kind }) as Cue;
  const cues = [cue('SFX'), cue('LFX'), cue('SFX'), cue('sfx')];
  expect([typeUsage(cues, 'SFX'), typeUsage(cues, 'LFX'), typeUsage(cues, 'CUE')]).toEqual([2, 1, 0]);
  // After a rename or removal, only a name the list lost and cues still use is told.
  const cases: [string, CueType[], string][] = [
    ['SFX', types.filter((t) => t.name !== 'SFX'), '2 cues of this script still name “SFX”'],
    ['LFX', [{ name: 'Lights', color: '#e8c04a' }], '1 cue of this script still names'], ['SFX', types, ''], ['CUE', [types[1]], ''],
  ];
  for (const [name, now, said] of cases) {
    const text = leftBehind(cues, name, now);
    if (said) expect(text, name).toContain(said);
    else expect(text, name).toBe('');
  }
});

it('cue type list changes: says so when the core kept another list than the one sent', () => {
  const cases: [CueType[] | undefined, CueType[], string][] = [
    [types, types.map((t) => ({ ...t })), ''], [undefined, types, ''],
    // A name the core counts longer is dropped from what was sent.
    [types, types.slice(1), 'The core kept: SFX, LFX'],
    [types, [types[0], types[1], { name: 'LFX', color: '#d8391d' }], 'The core kept: CUE, SFX, LFX'],
  ];
  for (const [sent, stored, note] of cases) expect(keptNote(sent, stored)).toBe(note);
});
