// What the native side said since the last frame, kept until the next frame
// draws it: the newest full state and the run changes after it, merged. The
// engine's change counter (`seq`) orders everything that arrives, events and
// replies alike, so nothing older than what the page holds is ever taken.
// Work per arrival is the size of the change, never the number of cues.

import type { CueState, RunChange, SavedRun } from '../bridge/types';

const isCount = (v: unknown): v is number => typeof v === 'number' && Number.isInteger(v);
const isIDs = (v: unknown): v is string[] => Array.isArray(v) && v.every((x) => typeof x === 'string');

export function isRunChange(v: unknown): v is RunChange {
  const r = v as RunChange | null;
  return typeof r === 'object' && r !== null && isCount(r.seq) && isCount(r.from) && r.from <= r.seq &&
    typeof r.standbyID === 'string' && isIDs(r.fired) && isIDs(r.unfired);
}

// Run changes in a row, as one: every cue they touched with its last status.
// Applying it to any state the first of them was valid on gives the state
// after the last.
export interface RunDelta {
  from: number;
  seq: number;
  clear: boolean;
  // id -> fired
  status: Map<string, boolean>;
  standbyID: string;
  lastFiredID: string;
  savedRun: SavedRun;
  // The engine's count of fired cues, when it sent a usable one.
  firedCount: number | null;
}

export function mergeRun(into: RunDelta | null, r: RunChange): RunDelta {
  // A cleared run forgets what came before it.
  const d: RunDelta = into && !r.clear
    ? into
    : { from: into?.from ?? r.from, seq: r.seq, clear: r.clear || (into?.clear ?? false), status: new Map(), standbyID: '', lastFiredID: '', savedRun: {}, firedCount: null };
  for (const id of r.unfired) d.status.set(id, false);
  for (const id of r.fired) d.status.set(id, true);
  d.seq = r.seq;
  d.standbyID = r.standbyID;
  d.lastFiredID = typeof r.lastFiredID === 'string' ? r.lastFiredID : '';
  d.savedRun = typeof r.savedRun === 'object' && r.savedRun !== null && !Array.isArray(r.savedRun) ? r.savedRun : {};
  d.firedCount = isCount(r.firedCount) && r.firedCount >= 0 ? r.firedCount : null;
  return d;
}

function seqOf(s: CueState): number | null {
  return isCount(s.seq) ? s.seq : null;
}

// Run changes that arrived ahead of what the page holds (a reply overtaking
// the events before it), kept until the state they build on is here; more
// than this and the full state asked for replaces them anyway.
const heldLimit = 64;

export class Inbox {
  // The counter of the newest thing taken, drawn or not; null until a state
  // carried one (an older core never sends it: then everything is newest).
  seq: number | null = null;
  state: CueState | null = null;
  run: RunDelta | null = null;
  // Something was missed: the owner asks for a full state.
  gap = false;
  private held: RunChange[] = [];

  // A full state; false when it is older than what the page holds. One with
  // the same counter is the same state and is taken.
  offerState(s: CueState): boolean {
    const seq = seqOf(s);
    if (seq !== null && this.seq !== null && seq < this.seq) return false;
    this.state = s;
    this.run = null;
    this.seq = seq;
    this.drain();
    return true;
  }

  // `reply`: the answer of the page's own GO, BACK or RESET. It may overtake
  // events still on their way; those bring the same change, so an answer that
  // does not fit on is left to them rather than asking for the whole state.
  offerRun(r: RunChange, reply = false): boolean {
    if (this.seq !== null) {
      // A GO past the last cue changes nothing (seq == from): nothing to hold.
      if (r.seq <= this.seq || r.seq === r.from) return false;
      if (r.from > this.seq) {
        if (reply) return false;
        this.held.push(r);
        if (this.held.length > heldLimit) this.held.shift();
        this.gap = true;
        return false;
      }
    }
    this.run = mergeRun(this.run, r);
    this.seq = r.seq;
    this.drain();
    return true;
  }

  // What is waiting to be drawn, once.
  take(): { state: CueState | null; run: RunDelta | null } | null {
    if (!this.state && !this.run) return null;
    const out = { state: this.state, run: this.run };
    this.state = null;
    this.run = null;
    return out;
  }

  // Held changes that now fit on are taken in order; those the page has
  // passed are dropped.
  private drain(): void {
    if (this.seq === null) this.held = [];
    let taken = true;
    while (taken && this.held.length > 0) {
      taken = false;
      const now = this.seq!;
      this.held = this.held.filter((r) => r.seq > now);
      const next = this.held.find((r) => r.from <= now);
      if (next) {
        this.held.splice(this.held.indexOf(next), 1);
        this.run = mergeRun(this.run, next);
        this.seq = next.seq;
        taken = true;
      }
    }
    this.gap = this.held.length > 0;
  }
}
