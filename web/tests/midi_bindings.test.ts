import { expect, it } from 'vitest';
import {
  addBinding, channelText, editBinding, learnInto, noteName, parseChannel, parseNote, readMidiEvent, readMidiMap,
  removeBinding, shadowedBy, type MidiBinding,
} from '../src/state/midi_bindings';
import { refused } from './fake_bridge';

const map: MidiBinding[] = [
  { note: 36, action: 'go', channel: -1 }, { note: 37, action: 'back', channel: 9 },
];

it('MIDI binding fields: reads notes 0 to 127 and channels 1 to 16 or any, and refuses the rest', () => {
  const notes: [string, number | null][] = [
    ['0', 0], [' 127 ', 127], ['60', 60], ['128', null], ['-1', null], ['36.5', null], ['', null], ['C4', null],
  ];
  expect(notes.map(([raw]) => parseNote(raw))).toEqual(notes.map(([, note]) => (note === null ? refused : { note })));
  // Operators count channels from 1; the core from 0.
  const channels: [string, number | null][] = [['any', -1], ['1', 0], ['16', 15], ['0', null], ['17', null], ['', null]];
  expect(channels.map(([raw]) => parseChannel(raw))).toEqual(channels.map(([, channel]) => (channel === null ? refused : { channel })));
  expect([channelText(-1), channelText(0), channelText(15), noteName(60), noteName(36), noteName(0), noteName(127)])
    .toEqual(['Any', '1', '16', 'C4', 'C2', 'C-1', 'G9']);
});

it('MIDI binding fields: takes the core list as it is, with any channel as -1, and leaves damaged entries out', () => {
  const sent = [
    { note: 36, action: 'go', channel: -1 }, { note: 38, action: 'pagePrev' }, { note: 39, action: 'custom', channel: 3 },
    { note: '40', action: 'go', channel: 0 }, { note: 41.5, action: 'go', channel: 0 }, { note: 42, channel: 0 },
    null,
  ];
  expect(readMidiMap(sent)).toEqual([
    { note: 36, action: 'go', channel: -1 }, { note: 38, action: 'pagePrev', channel: -1 }, { note: 39, action: 'custom', channel: 3 },
  ]);
  expect(readMidiMap('nothing')).toEqual([]);
});

it('MIDI binding fields: changes one binding at a time, the empty list included, and names a binding that can never act', () => {
  const changes: [string, unknown, unknown][] = [
    ['add', addBinding(map, { note: 38, action: 'reset', channel: 0 }), [...map, { note: 38, action: 'reset', channel: 0 }]],
    ['edit', editBinding(map, 1, { channel: -1 }), [map[0], { note: 37, action: 'back', channel: -1 }]],
    ['edit a gone one', editBinding(map, 2, { note: 1 }), null], ['remove', removeBinding(map, 0), [map[1]]],
    ['remove the last', removeBinding([map[0]], 0), []], ['remove a gone one', removeBinding(map, 5), null],
  ];
  for (const [what, change, want] of changes) expect(change, what).toEqual(want === null ? refused : { midiMap: want });
  const b = (note: number, channel: number): MidiBinding => ({ note, channel, action: 'go' });
  const shadows: [MidiBinding[], number, number][] = [
    [[b(36, -1), b(36, 2)], 1, 0], [[b(36, 2), b(36, -1)], 1, -1], [[b(36, 2), b(36, 2)], 1, 0], [[b(36, 2), b(36, 3)], 1, -1],
    [[b(36, -1), b(37, -1)], 1, -1], [[b(36, -1)], 0, -1],
  ];
  for (const [m, i, by] of shadows) expect(shadowedBy(m, i), JSON.stringify(m)).toBe(by);
});

it('learning fills the learned binding with the heard note and channel, unless it changed meanwhile', () => {
  const heard = { note: 60, channel: 2 };
  const cases: [string, Parameters<typeof learnInto>[1], MidiBinding[] | null][] = [
    ['edit', { kind: 'edit', index: 1, was: map[1] }, [map[0], { note: 60, action: 'back', channel: 2 }]],
    ['new', { kind: 'new', action: 'pageNext' }, [...map, { note: 60, action: 'pageNext', channel: 2 }]],
    ['changed', { kind: 'edit', index: 1, was: { ...map[1], action: 'go' } }, null],
    ['gone', { kind: 'edit', index: 2, was: map[1] }, null],
  ];
  for (const [what, target, want] of cases) expect(learnInto(map, target, heard), what).toEqual(want);
  // Only a note-on as the wire carries it is learned.
  const events: [unknown, unknown][] = [
    [{ note: 0, velocity: 1, channel: 15 }, { note: 0, channel: 15 }], [{ note: 128, velocity: 1, channel: 0 }, null],
    [{ note: 60, velocity: 1, channel: 16 }, null], [{ note: 60.5, velocity: 1, channel: 0 }, null], [{ note: 60, velocity: 1 }, null],
  ];
  for (const [e, want] of events) expect(readMidiEvent(e), JSON.stringify(e)).toEqual(want);
});
