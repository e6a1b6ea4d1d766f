// Events from the native side: one typed handler per event name.

import type { CarryProgress, CueState, DocumentInfo, LogEntry, RunChange, ScanProgress, ShareStatus } from './types';

export interface EventPayloads {
  cueState: CueState;
  runState: RunChange;
  controlLog: LogEntry;
  controlStatus: Record<string, unknown>;
  pageCommand: { value: number; relative: boolean };
  dimCommand: { dim: boolean };
  midiEvent: { note: number; velocity: number; channel: number };
  documentChanged: DocumentInfo;
  windowChrome: { reserve: number };
  openPath: { path: string };
  menuCommand: { command: string; value?: string };
  updateAvailable: { stamp: string };
  updateProgress: { text: string; failed?: boolean };
  goIgnored: { source: string; sinceMs: number };
  showLock: { locked: boolean };
  shareStatus: ShareStatus;
  carryProgress: CarryProgress;
  scanProgress: ScanProgress;
}

export type EventName = keyof EventPayloads;
export type EventHandlers = { [K in EventName]?: (payload: EventPayloads[K]) => void };

const eventNames: ReadonlySet<string> = new Set<EventName>([
  'cueState', 'runState', 'controlLog', 'controlStatus', 'pageCommand', 'dimCommand', 'midiEvent',
  'documentChanged', 'windowChrome', 'openPath', 'menuCommand', 'updateAvailable', 'updateProgress', 'goIgnored',
  'showLock', 'shareStatus', 'carryProgress', 'scanProgress',
]);

// Payloads the handlers rely on being objects; anything else is a damaged event.
function isRecord(value: unknown): value is Record<string, unknown> {
  return typeof value === 'object' && value !== null && !Array.isArray(value);
}

// Unknown names and damaged payloads are ignored; a handler that throws must not
// stop the native side's script or the events after it. Returns whether a
// handler ran.
export function dispatchEvent(handlers: EventHandlers, name: unknown, payload: unknown): boolean {
  if (typeof name !== 'string' || !eventNames.has(name) || !isRecord(payload)) return false;
  const h = handlers[name as EventName] as ((p: unknown) => void) | undefined;
  if (!h) return false;
  try {
    h(payload);
  } catch (error) {
    console.error(`event ${name} failed`, error);
  }
  return true;
}

// The native side calls the hook once per event, several in one task; each
// handler only notes what arrived (the store draws once per frame).
export function installEventHook(target: Window, handlers: EventHandlers): void {
  target.__tallowmarkEvent = (name, payload) => {
    dispatchEvent(handlers, name, payload);
  };
}
