// The menu commands of the window, the page's keys and Escape, each handed to
// the group of actions it belongs to; what the key rule needs to know of the
// page's mode; and the menu state reported back when it changes.

import type { KeyAction, KeyMode } from '../state/keys';
import { menuStateReporter } from '../state/menu_state';
import { setLocked } from '../state/store';
import type { Finder } from '../state/find';
import type { Carry } from './carry';
import type { Base } from './common';
import type { CueMode } from './cue_mode';
import type { Documents } from './documents';
import type { FileTools } from './file_tools';
import type { InsertTool } from './inserts';
import type { LineCursor } from './line_cursor';
import type { Marks } from './marks';
import type { Run } from './run';
import { nudgeFar, nudgeStep, type Selection } from './selection';
import type { Share } from './share';
import type { Sheets } from './sheets';
import type { ShowReportActions } from './show_report';
import type { View } from './view';

export interface Actions {
  run: Run;
  cueMode: CueMode;
  cursor: LineCursor;
  selection: Selection;
  view: View;
  sheets: Sheets;
  documents: Documents;
  tools: FileTools;
  marks: Marks;
  inserts: InsertTool;
  finder: Finder;
  exporter: { exportMarked(): void };
  report: ShowReportActions;
  share: Share;
  carry: Carry;
}

// What a locked show still does: run, read, share and keep its files. Anything not
// named here waits for the unlock, so a new editing command is locked out too.
export const allowedWhileLocked: ReadonlySet<string> = new Set([
  'go', 'back', 'reset', 'nextCue', 'prevCue', 'escape', 'lockShow',
  'onePage', 'twoPages', 'zoomIn', 'zoomOut', 'zoomFit', 'fitWidth', 'textLarger', 'textSmaller', 'maxText',
  'nextPage', 'prevPage', 'find', 'gotoPage', 'theme', 'dim', 'toggleSidebar', 'toggleMemos', 'shiftPairing',
  'settings', 'shortcuts', 'open', 'closeScript', 'recentsCleared', 'save', 'saveAs', 'revealSidecar',
  'exportMarkedPDF', 'exportMarked', 'showReport', 'shareScreens',
]);
export const lockedText = 'The show is locked - Ctrl+Shift+L unlocks it';

export function createCommands({ store, bridge, quiet }: Base, a: Actions) {
  const { run, cueMode, cursor, selection, view, sheets, documents, tools, marks, inserts, finder, exporter, report, share, carry } = a;
  const reportMenuState = menuStateReporter((m) => void bridge.menuState(m).catch(() => undefined));

  // What the window's menu and the page's keys both ask for, by the same name.
  // The same chord twice confirms, so RESET needs no pointer.
  const both = new Map<string, () => void>([
    ['go', run.go], ['back', run.back], ['reset', run.resetChord], ['nextCue', () => run.stepStandby(1)], ['prevCue', () => run.stepStandby(-1)],
    ['onePage', () => view.setPagesPerSpread(1)], ['twoPages', () => view.setPagesPerSpread(2)],
    ['zoomIn', () => view.zoom(1)], ['zoomOut', () => view.zoom(-1)], ['zoomFit', () => view.zoom(0)], ['fitWidth', view.fitWidth],
    ['textLarger', () => view.stepTextSize(1)], ['textSmaller', () => view.stepTextSize(-1)],
    ['nextPage', () => view.stepPage(1)], ['prevPage', () => view.stepPage(-1)], ['find', view.openFind], ['gotoPage', view.openGoTo],
    ['cueMode', cueMode.toggle], ['deleteCue', selection.remove], ['insertLine', inserts.command],
  ]);

  const refusedWhileLocked = (name: string): boolean => {
    if (!store.locked.peek() || allowedWhileLocked.has(name)) return false;
    store.status.value = lockedText;
    return true;
  };
  const takeLock = (locked: Promise<boolean>) =>
    void locked.then((l) => setLocked(store, l === true), quiet);

  const commands = {
    // Locking is at once; unlocking asks first, once.
    lockShow(): void {
      if (!store.doc.peek()) return;
      if (store.locked.peek()) store.confirmingUnlock.value = true;
      else takeLock(bridge.setShowLocked(true));
    },
    confirmUnlock(): void {
      store.confirmingUnlock.value = false;
      takeLock(bridge.setShowLocked(false));
    },
    cancelUnlock(): void {
      store.confirmingUnlock.value = false;
    },

    menuCommand(command: string, value?: string): void {
      if (refusedWhileLocked(command)) return;
      if (command === 'lockShow') return commands.lockShow();
      const shared = both.get(command);
      if (shared) return shared();
      switch (command) {
        case 'open': void documents.openPanel(); return;
        case 'closeScript': void documents.closeScript(); return;
        case 'theme': return sheets.setTheme(value);
        case 'dim': return sheets.setDimmed(!store.dimmed.peek());
        case 'recentsCleared':
          if (store.settings.peek()) store.settings.value = { ...store.settings.peek()!, recentDocuments: [] };
          return;
        case 'toggleSidebar': return view.toggleSidebar();
        case 'duplicateCue': return selection.duplicate();
        case 'renumber': return documents.renumber();
        case 'undo': return documents.undo();
        case 'redo': return documents.redo();
        case 'cueSettings': return selection.openSheet();
        case 'shortcuts': return sheets.openPageSheet('shortcuts');
        case 'settings': return sheets.openPageSheet('settings');
        case 'shiftPairing': return view.shiftPairing();
        case 'save': return documents.save();
        case 'addMemo': case 'addFlag': case 'toggleMemos': void marks.menu(command); return;
        case 'exportMarkedPDF': return exporter.exportMarked();
        case 'showReport': return report.open();
        case 'shareScreens': return share.open();
        // The file, crop and page tools; a command no one knows is ignored.
        default: tools.menuCommand(command); return;
      }
    },

    key(action: KeyAction): void {
      if (refusedWhileLocked(action)) return;
      if (marks.key(action)) return;
      const shared = both.get(action);
      if (shared) return shared();
      switch (action) {
        case 'escape': return commands.escape();
        case 'exportMarked': return exporter.exportMarked();
        case 'selectNext': return selection.step(1);
        case 'selectPrev': return selection.step(-1);
        case 'editLabel': return selection.editLabel();
        case 'lineCursor': void cursor.key(); return;
        case 'cursorUp': void cursor.move('up'); return;
        case 'cursorDown': void cursor.move('down'); return;
        case 'cursorHome': void cursor.move('home'); return;
        case 'cursorEnd': void cursor.move('end'); return;
        case 'deleteInsert': return inserts.remove();
        case 'editInsert': void inserts.edit(); return;
        case 'selectInsert': return inserts.selectNext();
        case 'nudgeLeft': return selection.nudge(-nudgeStep, 0);
        case 'nudgeRight': return selection.nudge(nudgeStep, 0);
        case 'nudgeUp': return selection.nudge(0, -nudgeStep);
        case 'nudgeDown': return selection.nudge(0, nudgeStep);
        case 'nudgeLeftFar': return selection.nudge(-nudgeFar, 0);
        case 'nudgeRightFar': return selection.nudge(nudgeFar, 0);
        case 'nudgeUpFar': return selection.nudge(0, -nudgeFar);
        case 'nudgeDownFar': return selection.nudge(0, nudgeFar);
        default: return tools.key(action);
      }
    },

    // Escape closes what is uppermost, one thing a press.
    escape(): void {
      // Escape while learning a MIDI note ends the learn only.
      if (sheets.midiLearn.cancel()) return;
      if (store.confirmingUnlock.peek()) return commands.cancelUnlock();
      if (store.gotoOpen.peek()) return view.closeGoTo();
      if (store.editingLabel.peek()) return selection.cancelLabel();
      if (store.pageSheet.peek()) return sheets.closePageSheet();
      if (store.sheet.peek()) return selection.closeSheet();
      if (tools.escape()) return;
      if (carry.cancelPlacing()) return;
      if (store.draft.peek()) return cueMode.cancelDraft();
      if (store.lineCursor.peek()) return cursor.hide();
      if (inserts.escape()) return;
      if (marks.escape()) return;
      if (carry.hideFocus()) return;
      if (store.confirmingReset.peek()) store.confirmingReset.value = false;
      else if (finder.open.peek()) view.closeFind();
      else if (store.message.peek() || store.status.peek()) {
        store.message.value = '';
        store.status.value = '';
      }
      else store.follow.value = true;
    },

    // What the key rule needs to know of the page's mode.
    // Behind a sheet the Cue Mode keys rest: a Delete on a sheet's button must
    // not remove the cue under it.
    keyMode(): KeyMode {
      const free = !store.draft.peek() && !store.sheet.peek() && !store.pageSheet.peek() && !store.gotoOpen.peek() &&
        !store.editingLabel.peek();
      const inCueMode = store.cueMode.peek() && free;
      const insert = inCueMode && !selection.selected() && inserts.selectedID.peek() !== '';
      return {
        cueMode: inCueMode,
        selection: inCueMode && selection.selected() !== undefined,
        lineCursor: inCueMode && store.lineCursor.peek() !== null,
        ...(insert ? { insertSelection: true } : {}), ...marks.keyMode(inCueMode),
        ...(free && tools.crop.active() ? { crop: true } : {}),
      };
    },

    // Sent only when a field of it changed, so a scroll does not flood the bridge.
    reportMenuState(): boolean {
      return reportMenuState(store.menuState.value);
    },
  };
  return commands;
}

export type Commands = ReturnType<typeof createCommands>;
