// The page's actions, composed: each group acts on the bridge for one concern
// and is handed the few others it needs. Views take the groups they use from
// the context (views/context.ts); the tests drive them over a scripted bridge.

import { isDocument } from '../bridge/native';
import { createExport } from '../export/run';
import { newCueID } from '../state/cue_edit';
import { createFinder } from '../state/find';
import { PageImages, pageImageLoader } from '../state/page_images';
import { applySettings, requestScroll, type Store } from '../state/store';
import { createCarry } from './carry';
import { createCommands } from './commands';
import { createScriptView, errorText, type Base, type Bridge } from './common';
import { createCueMode } from './cue_mode';
import { createDocuments } from './documents';
import { createEventHandlers } from './events';
import { createFileTools } from './file_tools';
import { createInserts } from './inserts';
import { createLineCursor } from './line_cursor';
import { createMarks } from './marks';
import { createRun } from './run';
import { createScan } from './scan';
import { createSelection } from './selection';
import { createShare } from './share';
import { createSheets } from './sheets';
import { createShowReport } from './show_report';
import { createUpdate } from './update';
import { createView } from './view';

export function createApp(store: Store, bridge: Bridge) {
  const base: Base = { store, bridge, quiet: (error) => void (store.message.value = errorText(error)) };
  const { quiet } = base;
  const scriptView = createScriptView(store);
  const images = new PageImages(pageImageLoader((i, w) => bridge.renderPage(i, w)));
  // A hit is shown where the operator reads: a little below the view's top.
  const finder = createFinder(
    (query) => bridge.searchDocument(query),
    (hit) => {
      store.follow.value = false;
      requestScroll(store, hit.page, Math.max(0, hit.rect[1] - 0.1));
    },
  );
  const run = createRun(base);
  const update = createUpdate(base);
  const sheets = createSheets(base, scriptView);
  const view = createView(base, { finder, scriptView, saveSettings: sheets.saveSettings });
  // The groups below reach each other both ways (Cue Mode leaves the line
  // cursor, the cursor places a cue): each is reached through a function
  // called only once all exist.
  const cursor = createLineCursor(base, {
    selected: () => selection.selected(), viewTop: scriptView.top, place: (page, from, to) => cueMode.placeCue(page, from, to),
  });
  const inserts = createInserts(store, bridge, {
    linesOf: cursor.linesOf, quiet, hideLineCursor: cursor.hide, enterCueMode: () => cueMode.set(true), focusScript: scriptView.focus,
  });
  const marks = createMarks(store, bridge, {
    linesOf: cursor.linesOf, quiet, newID: newCueID, othersSelected: () => inserts.selectedID.value !== '',
    clearOthers: () => {
      inserts.armed.value = false;
      inserts.selectedID.value = '';
    },
  });
  const selection = createSelection(base, {
    clearInsertSelection: () => void (inserts.selectedID.value = ''), showCue: view.showCue, focusScript: scriptView.focus,
  });
  const carry = createCarry(base, { linesOf: cursor.linesOf, newID: newCueID });
  const scan = createScan();
  const tools = createFileTools(store, bridge, {
    show: (doc) => documents.show(doc), quiet, carry, relayout: (doc) => documents.relayout(doc), leaveOtherModes: () => cueMode.set(false),
    openNotes: () => sheets.openPageSheet('page'), closeNotes: (refocus) => sheets.closePageSheet(refocus),
  });
  const cueMode = createCueMode(base, { leaveCrop: tools.crop.leave, resetInserts: inserts.reset, hideCursor: cursor.hide });
  const documents = createDocuments(base, { images, finder, tools, scan, takeReadingSize: view.takeReadingSize, viewTop: scriptView.top });
  const exporter = createExport(store, bridge);
  const report = createShowReport(base, {
    open: () => sheets.openPageSheet('report'), close: (refocus) => sheets.closePageSheet(refocus),
  });
  const share = createShare(base, { open: () => sheets.openPageSheet('share') });
  const actions = { run, cueMode, cursor, selection, view, sheets, documents, tools, marks, inserts, finder, exporter, report, share, carry, scan };
  const commands = createCommands(base, actions);
  const handlers = createEventHandlers(store, { documents, view, sheets, update, commands, share, carry, scan });

  async function boot(): Promise<void> {
    const [settings, chrome, current] = await Promise.allSettled([
      bridge.getSettings(),
      bridge.windowChrome(),
      bridge.currentDocument(),
    ]);
    if (settings.status === 'fulfilled' && settings.value) applySettings(store, settings.value);
    if (chrome.status === 'fulfilled' && chrome.value) view.setReserve(chrome.value.reserve);
    // A build found before the page could hear "updateAvailable".
    if (!store.confidence) void bridge.updateStatus().then((u) => {
      if (u && typeof u.available === 'string' && u.available.trim()) update.available(u.available);
    }, () => undefined);
    // Sharing the core resumed at launch, for the sidebar's remote status.
    share.refresh();
    // A script the native side opened before the page loaded (launch with a file).
    if (current.status === 'fulfilled' && isDocument(current.value) && store.doc.peek() === null)
      documents.show(current.value);
    if (!store.confidence) await documents.loadSidebar();
  }

  return { ...actions, scriptView, images, update, commands, handlers, boot };
}

export type App = ReturnType<typeof createApp>;
