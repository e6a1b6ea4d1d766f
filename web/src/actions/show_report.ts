// "Show Report…": the performances of the open script, asked of the core when
// the sheet opens, one of them shown at a time, and the whole report written
// as CSV or PDF where the operator says. Nothing here waits on GO's path: the
// sheet asks and draws when the answer comes.

import { effect, signal } from '@preact/signals';
import type { ReportFormat, ShowReport } from '../bridge/types';
import { readReport } from '../state/show_report';
import { traceReportShown } from '../state/turn_trace';
import { errorText, tracing, type Base } from './common';

export type ReportLoad = { state: 'loading' } | { state: 'failed'; error: string } | { state: 'ready'; report: ShowReport };

export interface ReportHooks {
  open: () => void;
  close: (refocus?: boolean) => void;
}

export const exportingReportText = 'Exporting…';
export const exportedReportText = 'Exported';
export const unreadableReportText = 'The show report could not be read.';

export function createShowReport({ store, bridge }: Base, hooks: ReportHooks) {
  const load = signal<ReportLoad>({ state: 'loading' });
  // The performance shown, as its place in the list (newest first).
  const selected = signal(0);
  const exporting = signal(false);
  // "Exported", or why the report was not written.
  const exportNote = signal('');
  const exportFailed = signal(false);
  // Each open asks again; an answer for an earlier open or script is dropped.
  let asked = 0;

  // The report belongs to the script it was asked for: another script
  // shown (or none) closes it.
  let generation = store.generation.peek();
  effect(() => {
    const now = store.generation.value;
    if (now === generation) return;
    generation = now;
    if (store.pageSheet.peek() === 'report') hooks.close(false);
  });

  const report = {
    load,
    selected,
    exporting,
    exportNote,
    exportFailed,

    open(): void {
      if (store.confidence || !store.doc.peek()) return;
      const mine = ++asked;
      load.value = { state: 'loading' };
      selected.value = 0;
      // An export still running from the last open goes on telling how it went.
      if (!exporting.peek()) {
        exportNote.value = '';
        exportFailed.value = false;
      }
      hooks.open();
      bridge.showReport().then(
        (answer) => {
          if (mine !== asked) return;
          const read = readReport(answer);
          load.value = read ? { state: 'ready', report: read } : { state: 'failed', error: unreadableReportText };
          if (read && tracing()) traceReportShown(read.performances.length, (line) => void bridge.debugLog(line).catch(() => undefined));
        },
        (error: unknown) => {
          if (mine === asked) load.value = { state: 'failed', error: errorText(error) || unreadableReportText };
        },
      );
    },

    // A performance's cues are asked for when it is chosen: a long day's cues
    // all at once would cost the sheet's opening more than it can show.
    select(index: number): void {
      const l = load.peek();
      if (l.state !== 'ready') return;
      if (!Number.isInteger(index) || index < 0 || index >= l.report.performances.length) return;
      selected.value = index;
      if (l.report.performances[index].cuesLoaded) return;
      const mine = ++asked;
      bridge.showReport(index).then(
        (answer) => {
          if (mine !== asked) return;
          const read = readReport(answer);
          const now = load.peek();
          if (!read) return;
          // Cues read before stay, so going back to a performance asks nothing.
          const before = now.state === 'ready' ? now.report.performances : [];
          const performances = read.performances.map((p, i) =>
            !p.cuesLoaded && before[i]?.cuesLoaded && before[i].start === p.start ? before[i] : p);
          load.value = { state: 'ready', report: { ...read, performances } };
        },
        (error: unknown) => {
          if (mine === asked) load.value = { state: 'failed', error: errorText(error) || unreadableReportText };
        },
      );
    },

    // One export at a time; a cancelled save panel says nothing.
    exportAs(format: ReportFormat): void {
      if (exporting.peek()) return;
      exporting.value = true;
      exportFailed.value = false;
      exportNote.value = exportingReportText;
      const finish = (note: string, failed = false) => {
        exporting.value = false;
        exportNote.value = note;
        exportFailed.value = failed;
      };
      bridge.exportShowReport(format).then(
        (written) => finish(written === true ? exportedReportText : ''),
        (error: unknown) => finish(errorText(error) || 'The report could not be written.', true),
      );
    },
  };
  return report;
}

export type ShowReportActions = ReturnType<typeof createShowReport>;
