// MIDI note bindings as the Settings sheet edits them, and "Learn": the next
// note the core hears fills the binding being learned. The core acts on the
// first binding whose note matches and whose channel is any (-1 here) or the
// note's own; every change sends the whole list, which replaces the old one.

import { signal } from '@preact/signals';
import type { Settings } from '../bridge/types';

export interface MidiBinding {
  note: number;
  action: string;
  // 0 to 15 as the wire counts them; -1 for any channel.
  channel: number;
}

// The actions the core carries out; any other text does nothing.
export const midiActions: [string, string][] = [
  ['go', 'GO'],
  ['back', 'BACK'],
  ['reset', 'Reset standby'],
  ['pageNext', 'Next page'],
  ['pagePrev', 'Previous page'],
];

export type MapChange = Pick<Settings, 'midiMap'> | { error: string };

const noteNames = ['C', 'C♯', 'D', 'D♯', 'E', 'F', 'F♯', 'G', 'G♯', 'A', 'A♯', 'B'];

// Middle C (60) is C4.
export function noteName(note: number): string {
  return `${noteNames[note % 12]}${Math.floor(note / 12) - 1}`;
}

// Operators count channels from 1, as the control log does.
export function channelText(channel: number): string {
  return channel < 0 ? 'Any' : String(channel + 1);
}

const isInt = (v: unknown): v is number => typeof v === 'number' && Number.isInteger(v);

// The list as sent by the core; a damaged entry is left out rather than shown
// as something it is not.
export function readMidiMap(v: unknown): MidiBinding[] {
  if (!Array.isArray(v)) return [];
  return v.flatMap((e) => {
    const b = e as Partial<MidiBinding> | null;
    if (typeof b !== 'object' || b === null || !isInt(b.note) || typeof b.action !== 'string') return [];
    return [{ note: b.note, action: b.action, channel: isInt(b.channel) && b.channel >= 0 ? b.channel : -1 }];
  });
}

// A typed note: 0 to 127, the range a note-on can carry.
export function parseNote(raw: string): { note: number } | { error: string } {
  const text = raw.trim();
  if (!/^\d+$/.test(text) || Number(text) > 127) return { error: 'A note is a whole number from 0 to 127.' };
  return { note: Number(text) };
}

// The channel select's value: "any" or 1 to 16.
export function parseChannel(raw: string): { channel: number } | { error: string } {
  if (raw === 'any') return { channel: -1 };
  if (!/^\d+$/.test(raw) || Number(raw) < 1 || Number(raw) > 16) return { error: 'A channel is 1 to 16, or any.' };
  return { channel: Number(raw) - 1 };
}

export function addBinding(map: readonly MidiBinding[], b: MidiBinding): MapChange {
  return { midiMap: [...map, b] };
}

export function editBinding(map: readonly MidiBinding[], index: number, change: Partial<MidiBinding>): MapChange {
  if (!map[index]) return { error: 'That binding is gone.' };
  return { midiMap: map.map((b, i) => (i === index ? { ...b, ...change } : b)) };
}

// An empty list is taken: the core then answers no note at all.
export function removeBinding(map: readonly MidiBinding[], index: number): MapChange {
  if (!map[index]) return { error: 'That binding is gone.' };
  return { midiMap: map.filter((_, i) => i !== index) };
}

// The earlier binding that catches every note this one would, so this one
// never acts; -1 when it can act.
export function shadowedBy(map: readonly MidiBinding[], index: number): number {
  const b = map[index];
  if (!b) return -1;
  return map.findIndex((e, i) => i < index && e.note === b.note && (e.channel < 0 || e.channel === b.channel));
}

export interface HeardNote {
  note: number;
  channel: number;
}

// A "midiEvent" payload: the note and its channel as the wire gave them.
export function readMidiEvent(v: unknown): HeardNote | null {
  const e = v as { note?: unknown; channel?: unknown } | null;
  if (typeof e !== 'object' || e === null || !isInt(e.note) || !isInt(e.channel)) return null;
  if (e.note < 0 || e.note > 127 || e.channel < 0 || e.channel > 15) return null;
  return { note: e.note, channel: e.channel };
}

// What is being learned: an existing binding (its place and what it was when
// Learn was pressed), or a new one with the chosen action.
export type LearnTarget = { kind: 'edit'; index: number; was: MidiBinding } | { kind: 'new'; action: string };

// The heard note's binding put in place: note and channel both, so the
// binding answers exactly the key that was pressed. None when the learned
// binding changed meanwhile (another change came first).
export function learnInto(map: readonly MidiBinding[], target: LearnTarget, heard: HeardNote): MidiBinding[] | null {
  if (target.kind === 'new') return [...map, { note: heard.note, channel: heard.channel, action: target.action }];
  const was = target.was;
  const at = map[target.index];
  if (!at || at.note !== was.note || at.channel !== was.channel || at.action !== was.action) return null;
  return map.map((b, i) => (i === target.index ? { ...b, note: heard.note, channel: heard.channel } : b));
}

export function createMidiLearn() {
  const learning = signal<LearnTarget | null>(null);
  // What the last learn came to, shown under the bindings until the next.
  const said = signal('');
  let heardLast: HeardNote | null = null;
  return {
    learning,
    said,
    start(target: LearnTarget): void {
      said.value = '';
      learning.value = target;
    },
    // Whether there was a learn to cancel: Escape then ends only the learn.
    cancel(): boolean {
      if (!learning.peek()) return false;
      learning.value = null;
      return true;
    },
    // A "midiEvent": while learning, the change that puts the note in place
    // (worked out against the settings when it is sent); otherwise none.
    hear(payload: unknown): ((s: Settings) => MapChange | null) | null {
      const target = learning.peek();
      const heard = readMidiEvent(payload);
      if (!target || !heard) return null;
      learning.value = null;
      heardLast = heard;
      return (s) => {
        const next = learnInto(readMidiMap(s.midiMap), target, heard);
        return next ? { midiMap: next } : { error: 'The binding changed while learning; nothing was learned.' };
      };
    },
    // The core's answer to the learned change.
    answered(answer: { error: string } | object): void {
      const h = heardLast;
      if ('error' in answer && typeof answer.error === 'string') said.value = answer.error;
      else if (h) said.value = `Learned note ${h.note} (${noteName(h.note)}) on channel ${channelText(h.channel)}.`;
    },
  };
}

export type MidiLearn = ReturnType<typeof createMidiLearn>;
