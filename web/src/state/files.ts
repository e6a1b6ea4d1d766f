// The script's files: Save Script As…, Show Script in Files, taking over the
// marks of another version, and offering an earlier version's marks when a
// script opens with none.

import { isDocument, isOpenFailure, type native as nativeCalls } from '../bridge/native';
import type { DocumentInfo, ScriptState } from '../bridge/types';
import { createCrop, frameStep } from './crop';
import { cropStep, type FileKeyAction } from './file_keys';
import { createPageNotes } from './page_notes';
import { applyCueState, applySettings, isCueState, type Store } from './store';

type Bridge = typeof nativeCalls;

// A trailing version part of a file name: " v2", "_rev3", "-draft4", " (1)",
// a date such as "2026-12-01" or "20261201". Taken off one at a time, so
// "Show v2 (1)" and "Show_2026-12-01_rev2" are both "Show".
const versionParts = [
  /\s*\(\d+\)$/,
  /[\s_.-]+(?:v|ver|version|rev|revision|draft|take)[\s_.-]?\d+(?:\.\d+)*$/i,
  /[\s_.-]+\d{4}[-_.]?\d{2}[-_.]?\d{2}$/,
];

// The file name without its folder and extension.
export function fileStem(path: string): string {
  const name = path.slice(path.lastIndexOf('/') + 1);
  const dot = name.lastIndexOf('.');
  return dot > 0 ? name.slice(0, dot) : name;
}

// What two versions of one script have in common: the name without a
// trailing version part, in one case, with runs of spaces and underscores as
// one space. A name that is all version ("v2") keeps what it has.
export function titleStem(path: string): string {
  let stem = fileStem(path).trim();
  for (let changed = true; changed; ) {
    changed = false;
    for (const part of versionParts) {
      const shorter = stem.replace(part, '').trim();
      if (shorter && shorter !== stem) {
        stem = shorter;
        changed = true;
      }
    }
  }
  return stem.replace(/[\s_]+/g, ' ').toLowerCase();
}

// The marks file beside a script: its name with the marks extension.
export function marksPathFor(scriptPath: string): string {
  const slash = scriptPath.lastIndexOf('/');
  return `${scriptPath.slice(0, slash + 1)}${fileStem(scriptPath)}.tallowmark`;
}

// The marks file of the most recent other version of `path` among the recent
// scripts (newest first), or null.
export function earlierVersionMarks(path: string, recent: readonly string[]): string | null {
  const stem = titleStem(path);
  const other = recent.find((p) => p !== path && marksPathFor(p) !== marksPathFor(path) && titleStem(p) === stem);
  return other ? marksPathFor(other) : null;
}

// Nothing marked yet: no cues, marks, flags, memos or inserts.
export function hasNoMarks(s: ScriptState): boolean {
  return s.cues.length === 0 && s.marks.length === 0 && s.flags.length === 0 && s.memos.length === 0 &&
    s.inserts.length === 0;
}

export interface FilesHooks {
  // Shows a document answered by the native side as an opened script.
  show: (doc: DocumentInfo) => void;
  quiet: (error: unknown) => void;
}

export function createFiles(store: Store, bridge: Bridge, hooks: FilesHooks) {
  // Scripts whose marks were offered this session: one question per script.
  const offered = new Set<string>();

  return {
    // A document answer is shown like an open; "" is a cancel, a failure is
    // said quietly.
    saveAs(): Promise<void> {
      if (!store.doc.peek()) return Promise.resolve();
      return bridge.saveScriptAs().then((answer) => {
        if (isDocument(answer)) hooks.show(answer);
        else if (isOpenFailure(answer)) store.message.value = answer.error;
      }, hooks.quiet);
    },

    reveal(): Promise<void> {
      if (!store.doc.peek()) return Promise.resolve();
      return bridge.revealSidecar().then(() => undefined, hooks.quiet);
    },

    importMarks(): Promise<void> {
      const doc = store.doc.peek();
      if (!doc) return Promise.resolve();
      return bridge.importSidecar().then((state) => {
        if (store.doc.peek() === doc && isCueState(state)) applyCueState(store, state);
      }, hooks.quiet);
    },

    // Once per script, when it opened with nothing marked and nothing fired:
    // the marks of its most recent other version, if the native side finds a
    // marks file there and the operator wants them.
    offerMarks(doc: DocumentInfo): Promise<void> {
      const state = store.cueState.peek();
      if (store.confidence || store.doc.peek() !== doc || offered.has(doc.path)) return Promise.resolve();
      if (!hasNoMarks(state) || store.sync.fired.size > 0) return Promise.resolve();
      const source = earlierVersionMarks(doc.path, store.recentDocuments.peek());
      if (!source) return Promise.resolve();
      offered.add(doc.path);
      return bridge.offerMarks(source).then((answer) => {
        if (store.doc.peek() === doc && isCueState(answer)) applyCueState(store, answer);
      }, hooks.quiet);
    },
  };
}

export type Files = ReturnType<typeof createFiles>;

export interface ToolHooks extends FilesHooks {
  // The same script with new geometry, shown at the same page.
  relayout: (doc: DocumentInfo) => void;
  // Cue Mode and the other tools give way to Crop mode.
  leaveOtherModes: () => void;
  openNotes: () => void;
  closeNotes: (refocus?: boolean) => void;
}

// Files, crop, page notes and the text view, with their keys and menu commands.
export function createFileTools(store: Store, bridge: Bridge, hooks: ToolHooks) {
  const files = createFiles(store, bridge, hooks);
  const crop = createCrop(store, bridge, hooks);
  const notes = createPageNotes(store, bridge, { quiet: hooks.quiet, open: hooks.openNotes, close: hooks.closeNotes });

  // A view setting flipped: the core's answer replaces the settings.
  const toggle = (change: { maxText: boolean } | { dropPageNumbers: boolean }) => {
    const before = store.maxText.peek();
    if ('maxText' in change) store.maxText.value = change.maxText;
    bridge.setSettings(change).then(
      (s) => {
        if (s) applySettings(store, s);
        else store.maxText.value = before;
      },
      (error: unknown) => {
        store.maxText.value = before;
        hooks.quiet(error);
      },
    );
  };

  const tools = {
    files,
    crop,
    notes,

    // Maximize Text: the toolbar goes; GO and the show panel stay.
    toggleMaxText(): void {
      toggle({ maxText: !store.maxText.peek() });
    },

    // The native side lays the pages again and says so with "documentChanged".
    toggleDropPageNumbers(): void {
      toggle({ dropPageNumbers: store.settings.peek()?.dropPageNumbers !== true });
    },

    // Any key action; those that are not the files' are ignored.
    key(action: string): void {
      const step = cropStep(action as FileKeyAction);
      if (step) return crop.step(step.dx * frameStep, step.dy * frameStep, step.resize);
      switch (action) {
        case 'saveAs': void files.saveAs(); return;
        case 'crop': return crop.toggle();
        case 'cropApply': void crop.apply(); return;
        case 'pageNotes': return notes.open();
        case 'maxText': return tools.toggleMaxText();
        case 'dropPageNumbers': return tools.toggleDropPageNumbers();
      }
    },

    // True when the command was one of these.
    menuCommand(command: string): boolean {
      switch (command) {
        case 'saveAs': void files.saveAs(); return true;
        case 'revealSidecar': void files.reveal(); return true;
        case 'importMarks':
        case 'importCues': void files.importMarks(); return true;
        case 'maxText': tools.toggleMaxText(); return true;
        case 'dropPageNumbers': tools.toggleDropPageNumbers(); return true;
        case 'crop': crop.toggle(); return true;
        case 'resetCrop': void crop.reset(); return true;
        case 'pageNotes': notes.open(); return true;
      }
      return false;
    },

    // Escape leaves Crop mode once no sheet is over it.
    escape(): boolean {
      if (!crop.active()) return false;
      crop.leave();
      return true;
    },
  };
  return tools;
}

export type FileTools = ReturnType<typeof createFileTools>;
