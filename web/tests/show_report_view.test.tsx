// @vitest-environment happy-dom
// The Show Report sheet as the operator works it: opened from the menu (a
// locked show too), a performance chosen, an export that fails, Escape.
import { expect, it } from 'vitest';
import { $, $$, button, clicked, flush, keyed, mountPage, text, told, usePageDom } from './page_dom';
import { doc, performance, showReport } from './fake_bridge';

usePageDom();

const rows = (selector: string) => $$(`.report-sheet ${selector} tr`).map((tr) => [...tr.children].map((c) => c.textContent));

it('opens from the menu with the recorded performances, shows the chosen one, and Escape gives the focus back', async () => {
  const t = await mountPage({ openDocumentPath: (p: never) => doc(p, { locked: true }) }, { open: '/s/show.pdf' });
  // The focus was on a toolbar button, not on the script.
  const before = $('button.page-of')!;
  before.focus();
  await told(t.handlers, 'menuCommand', { command: 'showReport' });
  expect([t.named('showReport'), t.store.status.value]).toEqual([[[]], '']);
  expect($$('.report-performances button').map((b) => [b.getAttribute('aria-pressed'), b.textContent])).toEqual([
    ['true', 'Sat 7 Dec 202419:30:00–21:43:202:13:203 cues'],
    ['false', 'Fri 6 Dec 202419:30:00–19:40:000:10:001 cueresumed'],
  ]);
  expect(rows('.report-spans tbody')).toEqual([
    ['Act 1', '19:30:00', '20:38:20', '1:08:20', '2'],
    ['Interval', '20:38:20', '20:59:50', '0:21:30', ''],
    ['Act 2', '20:59:50', '21:43:20', '0:43:30', '1'],
    ['Running time', '19:30:00', '21:43:20', '2:13:20', ''],
  ]);
  expect($$('.report-counts li').map((li) => li.textContent))
    .toEqual(['3 cues', '2 BACKs', '5 standby moves', '1 GO ignored by the guard']);
  expect([$$('.report-timeline path').length, rows('.report-cues tbody').map((r) => r.slice(0, 4))]).toEqual([2, [
    ['1', 'House to half', 'LX', '19:30:00'], ['2', 'Storm', 'LX', '20:38:20'], ['3', 'Blackout', 'LX', '21:43:20'],
  ]]);

  // Its cues are asked for when it is chosen.
  await clicked($$('.report-performances button')[1]);
  expect([rows('.report-spans tbody'), rows('.report-cues tbody'), text('.report-detail h3'), t.named('showReport')]).toEqual([
    [['Running time', '19:30:00', '19:40:00', '0:10:00', '']], [], 'Fri 6 Dec 2024, 19:30:00 (resumed after a crash)', [[], [1]],
  ]);
  await clicked($$('.report-performances button')[0]);
  expect(t.named('showReport')).toHaveLength(2);  // the newest came with its cues

  await keyed(document.activeElement ?? document.body, 'Escape');
  expect([$('.report-sheet'), document.activeElement]).toEqual([null, before]);
});

it('says why an export failed, in the sheet, and that nothing is recorded yet', async () => {
  let fail = (_e: Error) => undefined as void;
  let answer: () => unknown = () => new Promise((_ok, no) => (fail = no));
  const t = await mountPage({ exportShowReport: () => answer() }, { open: '/s/show.pdf' });
  await told(t.handlers, 'menuCommand', { command: 'showReport' });
  await clicked(button('Export PDF…'));
  expect([text('.report-export-note'), button('Export CSV…').disabled]).toEqual(['Exporting…', true]);
  fail(new Error('Could not write /media/usb/report.pdf: no space left'));
  await flush();
  expect([t.sent('exportShowReport'), text('.report-export-note'), $('.report-export-note.failed') !== null])
    .toEqual([['pdf'], 'Could not write /media/usb/report.pdf: no space left', true]);
  // A cancelled save panel says nothing.
  answer = () => false;
  await clicked(button('Export CSV…'));
  expect([t.sent('exportShowReport'), text('.report-export-note')]).toEqual([['pdf', 'csv'], '']);

  await clicked(button('Close'));
  const empty = await mountPage({ showReport: () => ({ ...showReport, performances: [] }) }, { open: '/s/show.pdf' });
  await told(empty.handlers, 'menuCommand', { command: 'showReport' });
  expect([text('.report-empty'), button('Export CSV…').disabled]).toEqual([
    'No performances recorded yet. The report starts with the first GO after the script opens or after RESET.', true,
  ]);
});

it('draws 20 performances of 2,000 cues with one path for the GOs and the rows in view only', async () => {
  const chapter = 'a pasted chapter '.repeat(6000);
  const start = 1_733_600_000_000;
  const cues = Array.from({ length: 2000 }, (_, i) => ({
    number: String(i + 1), label: `${i} ${chapter}`, type: 'SND', source: 'osc', at: i * 4, held: 4, act: 0, wall: start + i * 4000,
  }));
  const long = performance({ start, end: start + 1999 * 4000, cues, cueCount: 2400, cuesOmitted: 400 });
  const t = await mountPage({ showReport: () => ({ ...showReport, performances: Array(20).fill(long) }) }, { open: '/s/show.pdf' });
  const began = Date.now();
  await told(t.handlers, 'menuCommand', { command: 'showReport' });
  expect(Date.now() - began).toBeLessThan(3000);
  const drawn = $$('.report-cues tbody tr:not(.report-spacer)');
  expect([$$('.report-performances li').length, $$('.report-timeline path').length]).toEqual([20, 2]);
  expect(drawn.length).toBeGreaterThan(0);
  expect(drawn.length).toBeLessThan(60);
  expect(Math.max(...drawn.map((r) => r.textContent!.length))).toBeLessThan(300);
  expect(text('.report-detail .status-line')).toBe('400 more cues are not shown here; the CSV export has every cue.');
});

it('answers in the sheet when there is no report to read, and closes when another script is shown', async () => {
  const t = await mountPage({ showReport: () => Promise.reject(new Error('No script is open.')) }, { open: '/s/show.pdf' });
  await told(t.handlers, 'menuCommand', { command: 'showReport' });
  expect([text('.report-sheet .sheet-error'), $('.report-export')]).toEqual(['No script is open.', null]);
  await t.documents.openPath('/s/other.pdf');
  await flush();
  expect([$('.report-sheet'), t.store.pageSheet.value]).toEqual([null, null]);
});
