// The script's files, Crop mode and the marked export over a scripted native side.
import { expect, it } from 'vitest';
import { dispatchEvent } from '../src/bridge/events';
import type { CueState, DocumentInfo, Settings } from '../src/bridge/types';
import type { Layout } from '../src/export/measure';
import { exportedText, exportingText } from '../src/export/run';
import { frameBetween, reframedY, shownPart, startFrame, stepFrame, toShownPage, toWholePage, type Rect } from '../src/state/crop';
import { earlierVersionMarks, marksPathFor, titleStem } from '../src/state/files';
import { doc, insert, nearAll, openedScript, settings, stateWith, turn, type Answers } from './fake_bridge';

const nearRect = nearAll<number[]>;

it.each([
  ...['Show.pdf', 'Show v2.pdf', 'Show_rev3.pdf', 'Show-draft4.PDF', 'Show (1).pdf', 'Show 2026-12-01.pdf', 'Show_20261201.pdf',
    'Show v2 (1).pdf', 'Show_2026-12-01_rev2.pdf', 'Show V1.2.pdf'].map((n) => [`/s/${n}`, 'show']),
  ['/s/Big_Show  v1.pdf', 'big show'],
  // A number that is not a version belongs to the title.
  ['/s/Act 2.pdf', 'act 2'], ['/s/Showv2.pdf', 'showv2'], ['/s/Revue.pdf', 'revue'],
  // A name that is only a version keeps it.
  ['/s/v2.pdf', 'v2'], ['/s/2026-12-01.pdf', '2026-12-01'],
])('the versions of a script: %s has the title stem %j', (path, stem) => {
  expect(titleStem(path)).toBe(stem);
});

it('the versions of a script: finds the most recent other version among the recent scripts, by its marks file', () => {
  const recent = ['/s/Show v3.pdf', '/b/Other.pdf', '/a/Show v2.pdf', '/old/Show.pdf'];
  expect([marksPathFor('/a/Show v2.pdf'), marksPathFor('/a/b.c/Script')]).toEqual(['/a/Show v2.tallowmark', '/a/b.c/Script.tallowmark']);
  expect([
    earlierVersionMarks('/s/Show v3.pdf', recent), earlierVersionMarks('/new/Show_final (1).pdf', recent),
    earlierVersionMarks('/new/SHOW-draft9.pdf', recent),
    // Only itself, or a file that shares its marks file, is no other version.
    earlierVersionMarks('/s/Show v3.pdf', ['/s/Show v3.pdf', '/s/Show v3.PDF']), earlierVersionMarks('/b/Other.pdf', recent),
  ]).toEqual(['/a/Show v2.tallowmark', null, '/s/Show v3.tallowmark', null, null]);
});

const brought = stateWith({ cues: [{ id: 'Q1' } as CueState['cues'][0]] });

async function open(state: CueState, offer: () => unknown = () => null) {
  const recent = { ...settings, recentDocuments: ['/s/Show v2.pdf', '/s/Show v1.pdf', '/s/Other.pdf'] } as Settings;
  const t = await openedScript({ getSettings: () => recent, offerMarks: offer }, state);
  // openedScript opened /s/show.pdf first: an earlier version of itself.
  t.calls.length = 0;
  await t.documents.openPath('/s/Show v2.pdf');
  await turn();
  return t;
}

it.each([
  ['nothing marked', stateWith(), [['/s/Show v1.tallowmark']]],
  ['a memo', stateWith({ memos: [{ id: 'm', text: 'x', color: '', page: 0, x: 0, y: 0, w: 0.1, h: 0.1 }] }), []],
  ['a run under way', stateWith({ fired: ['a'] }), []],
] as [string, CueState, unknown[]][])('the marks of an earlier version: are offered for a script opened with %s: %j', async (_what, state, offers) => {
  expect((await open(state)).named('offerMarks')).toEqual(offers);
});

it('the marks of an earlier version: are asked for once per script, shown when brought, and a failure said quietly', async () => {
  const t = await open(stateWith(), () => brought);
  const shown = t.store.cueState.value.cues.map((c) => c.id);
  // The same script opened again (or laid out again) is not asked about twice.
  await t.documents.openPath('/s/Show v2.pdf');
  dispatchEvent(t.handlers, 'documentChanged', doc('/s/Show v2.pdf'));
  await turn();
  const f = await open(stateWith(), () => Promise.reject(new Error('no alert')));
  expect([shown, t.named('offerMarks').length, f.store.message.value]).toEqual([['Q1'], 1, 'no alert']);
});

it.each([
  ['a copy, opened', () => doc('/s/copy.pdf'), '/s/copy.pdf', ''],
  ['a copy that would not open', () => ({ error: 'copy.pdf is damaged' }), '/s/show.pdf', 'copy.pdf is damaged'],
  ['a cancel', () => '', '/s/show.pdf', ''],
  ['a refusal', () => { throw new Error('That is the current script - choose a new name or folder'); }, '/s/show.pdf',
    'That is the current script - choose a new name or folder'],
] as [string, () => unknown, string, string][])('Save Script As, Show in Files, Take Marks: Save Script As answered with %s', async (_what, answer, shown, message) => {
  const t = await openedScript({ saveScriptAs: answer });
  dispatchEvent(t.handlers, 'menuCommand', { command: 'saveAs' });
  await turn();
  expect([t.named('saveScriptAs').length, t.store.doc.value?.path, t.store.message.value]).toEqual([1, shown, message]);
});

it('Save Script As, Show in Files, Take Marks: reveal the files and take the marks of another version from the menu and the key', async () => {
  let answer: unknown = null;
  const t = await openedScript({ importSidecar: () => answer, revealSidecar: () => true, saveScriptAs: () => '' });
  dispatchEvent(t.handlers, 'menuCommand', { command: 'revealSidecar' });
  dispatchEvent(t.handlers, 'menuCommand', { command: 'importMarks' });
  await turn();
  expect([t.named('revealSidecar').length, t.store.cueState.value.cues]).toEqual([1, []]);
  answer = stateWith({ cues: [{ id: 'Q9' } as CueState['cues'][0]] });
  dispatchEvent(t.handlers, 'menuCommand', { command: 'importMarks' });
  t.commands.key('saveAs');
  await turn();
  expect([t.store.cueState.value.cues.map((c) => c.id), t.named('saveScriptAs').length]).toEqual([['Q9'], 1]);
});

const two: Partial<DocumentInfo> = { autoCrop: [0.1, 0.1, 0.8, 0.6], cropRects: [[0.1, 0.1, 0.8, 0.6], [0.1, 0.3, 0.8, 0.5]] };
it.each([
  ['each page by its own frame', two, 1, [0.1, 0.3, 0.8, 0.5]], ['the first page', two, 0, [0.1, 0.1, 0.8, 0.6]],
  ['a page the list lacks: shown whole', two, 5, [0, 0, 1, 1]],
  ['without per-page frames: the automatic crop', { autoCrop: [0.2, 0.1, 0.6, 0.7] }, 3, [0.2, 0.1, 0.6, 0.7]],
  ['without any crop: the whole page', {}, 3, [0, 0, 1, 1]],
  ['with a damaged frame: the whole page', { cropRects: [[0.1, 0.1, 0, 0.5]], autoCrop: [0.2, 0.1, 0.6, 0.7] }, 0, [0, 0, 1, 1]],
] as [string, Partial<DocumentInfo>, number, Rect][])('a crop frame on a shown page and the same frame on the whole page: %s', (_what, fields, page, shown) => {
  expect(shownPart(doc('/s/show.pdf', fields), page)).toEqual(shown);
  // Half the shown page, from its middle: there and back again.
  const whole = toWholePage([0.25, 0.5, 0.5, 0.25], shown);
  expect(whole).toEqual(nearRect([shown[0] + 0.25 * shown[2], shown[1] + 0.5 * shown[3], 0.5 * shown[2], 0.25 * shown[3]]));
  expect(toShownPage(whole, shown)).toEqual(nearRect([0.25, 0.5, 0.5, 0.25]));
});

it.each([
  // Above the shown part the frame is cut at the page's top edge.
  ['starts on the manual crop where the page shows it', startFrame(doc('', { crop: [0.2, 0, 0.5, 0.9], cropRects: [[0.1, 0.1, 0.8, 0.6]] }), 0), [0.125, 0, 0.625, 1]],
  ['else on the whole shown page', startFrame(doc('', { crop: [], cropRects: [[0.1, 0.1, 0.8, 0.6]] }), 0), [0, 0, 1, 1]],
  ['is drawn from either corner', frameBetween({ x: 0.8, y: 0.9 }, { x: 0.2, y: 0.1 }), [0.2, 0.1, 0.6, 0.8]],
  ['is cut at the page edges', frameBetween({ x: -0.5, y: 0.2 }, { x: 0.5, y: 1.5 }), [0, 0.2, 0.5, 0.8]],
  // A click is no frame: it keeps the smallest one.
  ['is never smaller than the smallest', frameBetween({ x: 0.5, y: 0.5 }, { x: 0.5, y: 0.5 }), [0.5, 0.5, 0.02, 0.02]],
  ['moves by the keys', stepFrame([0.1, 0.1, 0.5, 0.5], 0.01, -0.01, false), [0.11, 0.09, 0.5, 0.5]],
  ['moves no further than the edge', stepFrame([0.5, 0, 0.5, 0.5], 0.01, -0.01, false), [0.5, 0, 0.5, 0.5]],
  ['sizes by the keys', stepFrame([0.1, 0.1, 0.5, 0.5], 0.01, -0.01, true), [0.1, 0.1, 0.51, 0.49]],
  ['sizes down no further than the smallest', stepFrame([0.5, 0.5, 0.5, 0.02], 0.01, -0.01, true), [0.5, 0.5, 0.5, 0.02]],
] as [string, Rect, Rect][])('a crop frame on a shown page and the same frame on the whole page: the frame %s', (_what, got, want) => {
  expect(got).toEqual(nearRect(want));
});

it.each([
  ['shown whole, then cropped', {}, { cropRects: [[0.1, 0.2, 0.8, 0.5]] }, 0.45, 0.5],
  ['cropped, then shown whole', { cropRects: [[0.1, 0.2, 0.8, 0.5]] }, {}, 0.5, 0.45],
  ['from one crop to another', { cropRects: [[0, 0.1, 1, 0.8]] }, { cropRects: [[0, 0.3, 1, 0.4]] }, 0.5, 0.5],
  ['a line the new crop leaves out above: its top', {}, { cropRects: [[0.1, 0.2, 0.8, 0.5]] }, 0.1, 0],
  ['a line the new crop leaves out below: its foot', {}, { cropRects: [[0.1, 0.2, 0.8, 0.5]] }, 0.95, 1],
] as [string, Partial<DocumentInfo>, Partial<DocumentInfo>, number, number][])('a crop frame on a shown page and the same frame on the whole page: the line read stays in view: %s', (_w, before, after, y, want) => {
  expect(reframedY(doc('/s/show.pdf', before), doc('/s/show.pdf', after), 0, y)).toBeCloseTo(want, 9);
});

const cropped = doc('/s/show.pdf', { cropRects: [0, 1, 2, 3, 4, 5].map(() => [0.1, 0.2, 0.8, 0.5]) });

async function setup(answer: (crop: unknown) => unknown = (c) => doc('/s/show.pdf', { crop: (c as number[]) ?? [] })) {
  const t = await openedScript({ openDocumentPath: () => cropped, setCrop: answer as never });
  t.view.goToPage(3);
  t.documents.visiblePageChanged(3);
  return t;
}

// Drawn with the pointer and applied with Return in the page: page_notes.test.tsx.
it('Crop mode: applies the frame as a crop of the whole page and shows the answer at the same page', async () => {
  const t = await setup();
  t.cueMode.set(true);
  t.commands.key('crop');
  const crop = t.tools.crop;
  expect([t.store.cueMode.value, crop.frame.value, t.commands.keyMode().crop]).toEqual([false, { page: 3, rect: [0, 0, 1, 1] }, true]);
  crop.draw(3, { x: 0.5, y: 0.4 }, { x: 0, y: 0 });
  t.commands.key('cropRight');
  t.commands.key('cropDownSize');
  expect(crop.frame.value!.rect).toEqual(nearRect([0.01, 0, 0.5, 0.41]));
  const generation = t.store.generation.value;
  t.commands.key('cropApply');
  await turn();
  const [sent] = t.sent<number[]>('setCrop');
  expect(sent).toEqual(nearRect([0.1 + 0.01 * 0.8, 0.2, 0.5 * 0.8, 0.41 * 0.5]));
  expect([crop.frame.value, t.store.generation.value, t.store.doc.value?.crop, t.store.scrollRequest.value?.page]).toEqual([null, generation + 1, sent, 3]);
});

it('Crop mode: goes back to the automatic crop, leaves with Escape, and says a failure quietly', async () => {
  const t = await setup();
  dispatchEvent(t.handlers, 'menuCommand', { command: 'crop' });
  t.commands.escape();
  expect([t.tools.crop.frame.value, t.named('setCrop')]).toEqual([null, []]);
  t.commands.key('crop');
  dispatchEvent(t.handlers, 'menuCommand', { command: 'resetCrop' });
  await turn();
  expect([t.named('setCrop'), t.tools.crop.frame.value]).toEqual([[[null]], null]);
  // A sheet over Crop mode closes first; a closed script ends the mode, so
  // Return is the start view's again.
  t.commands.key('crop');
  t.commands.key('pageNotes');
  expect(t.commands.keyMode().crop).toBeUndefined();
  t.commands.escape();
  expect([t.store.pageSheet.value, t.commands.keyMode().crop]).toEqual([null, true]);
  await t.documents.closeScript();
  expect(t.commands.keyMode().crop).toBeUndefined();

  const f = await setup(() => Promise.reject(new Error('no document')));
  f.commands.key('crop');
  f.commands.key('cropApply');
  await turn();
  expect([f.store.message.value, f.store.doc.value]).toEqual(['no document', cropped]);
});

it('Crop mode: keeps the page, the word shown and the following when the crop arrives unasked', async () => {
  const t = await openedScript();
  t.view.goToPage(3);
  t.documents.visiblePageChanged(3);
  t.store.follow.value = false;
  t.store.message.value = 'The marks file was repaired.';
  const generation = t.store.generation.value;
  dispatchEvent(t.handlers, 'documentChanged', doc('/s/show.pdf', { cropRects: [[0, 0, 1, 1], [0, 0, 1, 1], [0, 0, 1, 1], [0.1, 0.2, 0.8, 0.5]] }));
  await turn();
  expect([t.store.scrollRequest.value?.page, t.store.follow.value, t.store.message.value, t.store.doc.value?.cropRects?.[3], t.store.generation.value])
    .toEqual([3, false, 'The marks file was repaired.', [0.1, 0.2, 0.8, 0.5], generation + 1]);
  // Another script's geometry: nothing is laid out.
  dispatchEvent(t.handlers, 'documentChanged', doc('/s/other.pdf'));
  await turn();
  expect(t.store.generation.value).toBe(generation + 1);
});

const exported = async (t: Awaited<ReturnType<typeof openedScript>>) => {
  await turn();
  await turn();
  return t.sent<Layout>('exportMarkedPDF');
};

it.each([
  ['written: the status says so', () => true, exportedText, ''], ['panel cancelled: nothing is said', () => false, '', ''],
  ['the export failed', () => { throw new Error('vienti epaonnistui'); }, '', 'The marked script could not be exported.'],
  ['a refusal is shown as the core words it',
    () => { throw new Error('The marked script would replace the script (show.pdf) - choose a new name or folder'); },
    '', 'The marked script would replace the script (show.pdf) - choose a new name or folder'],
  ['no script open in the core', () => { throw new Error('no open script'); }, '', 'no open script'],
] as [string, Answers['exportMarkedPDF'], string, string][])('Export Marked Script: %s', async (_name, answer, status, message) => {
  const t = await openedScript({ exportMarkedPDF: answer });
  t.store.message.value = 'an earlier failure';
  t.commands.menuCommand('exportMarkedPDF');
  // Said at once, before the pages are measured.
  expect([t.store.status.value, t.store.message.value, t.named('exportMarkedPDF')]).toEqual([exportingText, '', []]);
  const [layout] = await exported(t);
  expect([layout.pages.map((p) => p.index), t.store.status.value, t.store.message.value]).toEqual([[0, 1, 2, 3, 4, 5], status, message]);
});

it('Export Marked Script: returns at once: GO works while the panel is open, and a second export waits for the first', async () => {
  let settle: (v: boolean) => void = () => undefined;
  const t = await openedScript({ exportMarkedPDF: () => new Promise<boolean>((r) => (settle = r)) });
  t.commands.key('exportMarked');
  await turn();
  t.commands.key('go');
  t.commands.key('exportMarked');
  await turn();
  expect([t.named('go').length, t.named('exportMarkedPDF').length]).toEqual([1, 1]);
  settle(true);
  await turn();
  t.commands.key('exportMarked');
  await turn();
  expect(t.named('exportMarkedPDF')).toHaveLength(2);
});

it('Export Marked Script: measures the marks the core holds, also an edit whose event has not arrived yet', async () => {
  const line = insert('i1', 0.5, 'A new line', { page: 1, lineMidY: 0.51 });
  const t = await openedScript({ getState: () => stateWith({ inserts: [line] }) });
  expect(t.store.cueState.value.inserts).toHaveLength(0);
  t.commands.menuCommand('exportMarkedPDF');
  const [layout] = await exported(t);
  expect([layout.pages[1].inserts.map((i) => i.text), layout.pages[1].extra > 0]).toEqual([['A new line'], true]);
});
