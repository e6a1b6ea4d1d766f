// The native side's events, each handed to the actions it concerns.

import type { EventHandlers } from '../bridge/events';
import { applyCueState, applyLogLine, applyRunChange, setLocked, type Store } from '../state/store';
import type { Carry } from './carry';
import type { Commands } from './commands';
import type { Documents } from './documents';
import type { Scan } from './scan';
import type { Share } from './share';
import type { Sheets } from './sheets';
import type { Update } from './update';
import type { View } from './view';

export interface EventDeps {
  documents: Documents;
  view: View;
  sheets: Sheets;
  update: Update;
  commands: Commands;
  share: Share;
  carry: Carry;
  scan: Scan;
}

export function createEventHandlers(store: Store, { documents, view, sheets, update, commands, share, carry, scan }: EventDeps): EventHandlers {
  return {
    cueState: (s) => void applyCueState(store, s),
    runState: (r) => void applyRunChange(store, r),
    documentChanged: (doc) => documents.changed(doc),
    windowChrome: (p) => view.setReserve(p.reserve),
    controlLog: (entry) => applyLogLine(store, entry),
    controlStatus: (p) => documents.controlStatus(p),
    openPath: (p) => {
      if (typeof p.path === 'string' && p.path) void documents.openPathEvent(p.path);
    },
    menuCommand: (p) => {
      if (typeof p.command === 'string') commands.menuCommand(p.command, typeof p.value === 'string' ? p.value : undefined);
    },
    dimCommand: (p) => {
      if (typeof p.dim === 'boolean') sheets.setDimmed(p.dim);
    },
    updateAvailable: (p) => update.available(p.stamp),
    updateProgress: (p) => update.progress(p.text, p.failed),
    midiEvent: (p) => sheets.hearMidi(p),
    goIgnored: () => void (store.goIgnored.value += 1),
    showLock: (p) => setLocked(store, p.locked === true),
    shareStatus: (p) => share.changed(p),
    carryProgress: (p) => carry.progressed(p),
    scanProgress: (p) => scan.progressed(p),
    pageCommand: (p) => {
      if (typeof p.value !== 'number' || !Number.isFinite(p.value)) return;
      if (p.relative === true) view.stepPage(Math.trunc(p.value));
      else view.goToPage(Math.trunc(p.value) - 1);
    },
  };
}
