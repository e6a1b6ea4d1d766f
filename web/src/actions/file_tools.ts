// The script's files (Save Script As…, Show Script in Files, taking over the
// marks of another version, offering an earlier version's marks when a script
// opens with none), and with them Crop mode, the page notes and the text view,
// with their keys and menu commands.

import { isDocument, isOpenFailure } from '../bridge/native';
import type { DocumentInfo } from '../bridge/types';
import { frameStep } from '../state/crop';
import { cropStep, type FileKeyAction } from '../state/file_keys';
import { earlierVersionMarks, hasNoMarks } from '../state/files';
import { applyCueState, applySettings, isCueState, type Store } from '../state/store';
import type { Bridge } from './common';
import { createCrop } from './crop';
import { createPageNotes } from './page_notes';

export interface FilesHooks {
  // Shows a document answered by the native side as an opened script.
  show: (doc: DocumentInfo) => void;
  quiet: (error: unknown) => void;
  // Taking another version's marks carries them by their words: the call's
  // progress is shown while it runs, and what it did once it answers.
  carry?: { run: <T>(call: () => Promise<T>) => Promise<T>; answered: (state: unknown) => void };
}

export function createFiles(store: Store, bridge: Bridge, hooks: FilesHooks) {
  // Scripts whose marks were offered this session: one question per script.
  const offered = new Set<string>();
  const carrying = <T>(call: () => Promise<T>): Promise<T> => (hooks.carry ? hooks.carry.run(call) : call());
  // The marks of another version, taken while the same script is shown.
  const take = (doc: DocumentInfo, state: unknown) => {
    if (store.doc.peek() !== doc || !isCueState(state)) return;
    applyCueState(store, state);
    hooks.carry?.answered(state);
  };

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
      return carrying(() => bridge.importSidecar()).then((state) => take(doc, state), hooks.quiet);
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
      return carrying(() => bridge.offerMarks(source)).then((answer) => take(doc, answer), hooks.quiet);
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
