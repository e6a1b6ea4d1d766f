// Scanned pages read in the background: the quiet line's rules, and the pages
// that get a badge, from the document info and the "scanProgress" events.
import { expect, it } from 'vitest';
import { dispatchEvent } from '../src/bridge/events';
import type { DocumentInfo } from '../src/bridge/types';
import { noScan, scanLine, scanOfDocument, scanOfEvent, dismissedScan, type ScanState } from '../src/state/scan';
import { actions, doc } from './fake_bridge';

const shown = (fields: Partial<DocumentInfo> = {}, path = '/s/scan.pdf') => scanOfDocument(noScan, doc(path, { pageCount: 40, ...fields }));
const progress = (done: number, total: number, more: Record<string, unknown> = {}) =>
  ({ generation: 3, done, total, recognisedPages: [], ...more });
const problem = 'The language data for fin is not installed (package tesseract-ocr-fin).';

type Step = (s: ScanState) => ScanState;
const event = (payload: unknown): Step => (s) => scanOfEvent(s, payload);
const relaid = (fields: Partial<DocumentInfo> = {}): Step => (s) => scanOfDocument(s, doc('/s/scan.pdf', { pageCount: 40, ...fields }));
const dismiss: Step = dismissedScan;

it.each<[string, ScanState, Step[], string | null]>([
  ['nothing while nothing is read', shown(), [], null],
  ['the info says the reading is under way', shown({ scanReading: { done: 3, total: 40 } }), [], 'Reading scanned pages: 3 of 40'],
  ['when it starts, then after each page', shown(), [event(progress(0, 40)), event(progress(12, 40))], 'Reading scanned pages: 12 of 40'],
  ['gone once done reaches total', shown(), [event(progress(39, 40)), event(progress(40, 40))], null],
  ['no scanned pages at all', shown({ scanReading: { done: 0, total: 0 } }), [], null],
  ['a done past total is the end', shown(), [event(progress(41, 40))], null],
  ['a damaged event changes nothing', shown(), [event(progress(5, 40)), event({ done: '6', total: 40 }), event(null)], 'Reading scanned pages: 5 of 40'],
  ['a problem stops the reading', shown(), [event(progress(2, 40)), event(progress(2, 40, { problem }))], `Scanned pages are not read: ${problem}`],
  ['an empty problem is none', shown(), [event(progress(2, 40, { problem: '  ' }))], 'Reading scanned pages: 2 of 40'],
  ['a closed problem stays closed when told again', shown(), [event(progress(0, 4, { problem })), dismiss, event(progress(0, 4, { problem }))], null],
  ['another problem shows again', shown(), [event(progress(0, 4, { problem })), dismiss, event(progress(0, 4, { problem: 'No data.' }))],
    'Scanned pages are not read: No data.'],
  // The events are newer than the info of a relayout that arrives after them.
  ['the info of a relayout after the last event', shown(), [event(progress(40, 40)), relaid({ scanReading: { done: 30, total: 40 } })], null],
  ['the info of a relayout before any event', shown(), [relaid({ scanReading: { done: 30, total: 40 } })], 'Reading scanned pages: 30 of 40'],
  ['another script starts afresh', shown(), [event(progress(1, 4)), () => shown({}, '/s/other.pdf')], null],
])('the scan line: %s', (_name, start, steps, text) => {
  const end = steps.reduce((s, step) => step(s), start);
  expect(scanLine(end)?.text ?? null).toBe(text);
});

it('the badges: the pages the info and the events name, within the script, the same set while none is new', () => {
  let s = shown({ recognisedPages: [2, 0, 2, 40, -1, 1.5, '3' as unknown as number] });
  expect([...s.recognised].sort()).toEqual([0, 2]);
  s = scanOfEvent(s, progress(5, 40, { recognisedPages: [4, 2] }));
  const before = s.recognised;
  s = scanOfEvent(s, progress(6, 40, { recognisedPages: [4, 0] }));
  expect([[...s.recognised].sort(), s.recognised === before]).toEqual([[0, 2, 4], true]);
  // A relayout's info adds to what the events told; another script has its own.
  s = scanOfDocument(s, doc('/s/scan.pdf', { pageCount: 40, recognisedPages: [7] }));
  expect([...s.recognised].sort()).toEqual([0, 2, 4, 7]);
  expect(scanOfDocument(s, doc('/s/other.pdf', { pageCount: 40 })).recognised.size).toBe(0);
  // A hostile list is read only as far as a script can have pages.
  const huge = new Array(5_000_000).fill(1);
  huge.push(9);
  expect([...scanOfEvent(shown(), progress(0, 1, { recognisedPages: huge })).recognised]).toEqual([1]);
});

it('the scan over a scripted native side: kept through a relayout, afresh when opened again, gone when closed', async () => {
  const t = actions({ openDocumentPath: (p: never) => doc(p, { pageCount: 10, recognisedPages: [1], scanReading: { done: 1, total: 4 } }) });
  const seen = () => [t.scan.line.value?.text ?? null, [...t.scan.recognised.value]];
  await t.documents.openPath('/s/scan.pdf');
  dispatchEvent(t.handlers, 'scanProgress', progress(2, 4, { recognisedPages: [1, 3] }));
  dispatchEvent(t.handlers, 'documentChanged', doc('/s/scan.pdf', { pageCount: 10 }));
  const relaid = seen();
  await t.documents.openPath('/s/scan.pdf');
  const reopened = seen();
  await t.documents.closeScript();
  expect([relaid, reopened, seen()]).toEqual([['Reading scanned pages: 2 of 4', [1, 3]], ['Reading scanned pages: 1 of 4', [1]], [null, []]]);
});
