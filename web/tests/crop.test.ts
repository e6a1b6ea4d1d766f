import { describe, expect, it } from 'vitest';
import { dispatchEvent } from '../src/bridge/events';
import type { DocumentInfo } from '../src/bridge/types';
import { frameBetween, reframedY, shownPart, startFrame, stepFrame, toShownPage, toWholePage, type Rect } from '../src/state/crop';
import { keyAction, type KeyInput, type KeyMode } from '../src/state/keys';
import { doc, openedScript } from './fake_bridge';

const flush = () => new Promise((r) => setTimeout(r, 0));
const near = (a: number[], b: number[]) => a.forEach((v, i) => expect(v).toBeCloseTo(b[i], 9));

describe('a frame on a shown page and the same frame on the whole page', () => {
  const two: Partial<DocumentInfo> = { autoCrop: [0.1, 0.1, 0.8, 0.6], cropRects: [[0.1, 0.1, 0.8, 0.6], [0.1, 0.3, 0.8, 0.5]] };
  it.each([
    ['each page by its own frame', two, 1, [0.1, 0.3, 0.8, 0.5]],
    ['the first page', two, 0, [0.1, 0.1, 0.8, 0.6]],
    ['a page the list lacks: shown whole', two, 5, [0, 0, 1, 1]],
    ['without per-page frames: the automatic crop', { autoCrop: [0.2, 0.1, 0.6, 0.7] }, 3, [0.2, 0.1, 0.6, 0.7]],
    ['without any crop: the whole page', {}, 3, [0, 0, 1, 1]],
    ['with a damaged frame: the whole page', { cropRects: [[0.1, 0.1, 0, 0.5]], autoCrop: [0.2, 0.1, 0.6, 0.7] }, 0, [0, 0, 1, 1]],
  ] as [string, Partial<DocumentInfo>, number, Rect][])('%s', (_what, fields, page, shown) => {
    const d = doc('/s/show.pdf', fields);
    expect(shownPart(d, page)).toEqual(shown);
    // Half the shown page, from its middle: there and back again.
    const frame: Rect = [0.25, 0.5, 0.5, 0.25];
    const whole = toWholePage(frame, shown);
    near(whole, [shown[0] + 0.25 * shown[2], shown[1] + 0.5 * shown[3], 0.5 * shown[2], 0.25 * shown[3]]);
    near(toShownPage(whole, shown), frame);
  });

  it('starts on the manual crop where the page shows it, else on the whole shown page', () => {
    const manual = doc('/s/show.pdf', { crop: [0.2, 0.0, 0.5, 0.9], cropRects: [[0.1, 0.1, 0.8, 0.6]] });
    // Above the shown part the frame is cut at the page's top edge.
    near(startFrame(manual, 0), [0.125, 0, 0.625, 1]);
    expect(startFrame(doc('/s/show.pdf', { crop: [], cropRects: [[0.1, 0.1, 0.8, 0.6]] }), 0)).toEqual([0, 0, 1, 1]);
  });

  it('is drawn from either corner and stays on the page as the keys move or size it', () => {
    near(frameBetween({ x: 0.8, y: 0.9 }, { x: 0.2, y: 0.1 }), [0.2, 0.1, 0.6, 0.8]);
    near(frameBetween({ x: -0.5, y: 0.2 }, { x: 0.5, y: 1.5 }), [0, 0.2, 0.5, 0.8]);
    // A click is no frame: it keeps the smallest one.
    near(frameBetween({ x: 0.5, y: 0.5 }, { x: 0.5, y: 0.5 }), [0.5, 0.5, 0.02, 0.02]);
    near(stepFrame([0.1, 0.1, 0.5, 0.5], 0.01, -0.01, false), [0.11, 0.09, 0.5, 0.5]);
    near(stepFrame([0.5, 0, 0.5, 0.5], 0.01, -0.01, false), [0.5, 0, 0.5, 0.5]);
    near(stepFrame([0.1, 0.1, 0.5, 0.5], 0.01, -0.01, true), [0.1, 0.1, 0.51, 0.49]);
    near(stepFrame([0.5, 0.5, 0.5, 0.02], 0.01, -0.01, true), [0.5, 0.5, 0.5, 0.02]);
  });
});

describe('the keys of files and Crop mode', () => {
  const none: KeyMode = { cueMode: false, selection: false };
  const crop: KeyMode = { ...none, crop: true };
  const input = (key: string, mods: Partial<KeyInput> = {}): KeyInput =>
    ({ key, ctrlKey: false, shiftKey: false, altKey: false, metaKey: false, repeat: false, target: null, ...mods });
  // Ctrl+Shift+C/P/N and Ctrl+Alt+0 are pressed on the page in page_notes.test.tsx.
  it.each([
    [input('S', { ctrlKey: true, shiftKey: true }), none, 'saveAs'],
    [input('c', { ctrlKey: true, shiftKey: true }), none, 'crop'],
    // In Crop mode Return applies and the arrows work the frame; Space stays GO.
    [input('Enter'), crop, 'cropApply'],
    [input(' '), crop, 'go'],
    [input('ArrowLeft'), crop, 'cropLeft'],
    [input('ArrowDown', { shiftKey: true }), crop, 'cropDownSize'],
    // A field keeps its keys, in Crop mode too.
    [input('Enter', { target: { tagName: 'INPUT', type: 'text' } }), crop, null],
  ] as [KeyInput, KeyMode, string | null][])('%j in %j is %j', (e, mode, action) => {
    expect(keyAction(e, mode)).toBe(action);
  });
});

describe('Crop mode', () => {
  const cropped = doc('/s/show.pdf', { cropRects: [0, 1, 2, 3, 4, 5].map(() => [0.1, 0.2, 0.8, 0.5]) });

  async function setup(answer: (crop: unknown) => unknown = (c) => doc('/s/show.pdf', { crop: (c as number[]) ?? [] })) {
    const t = await openedScript({ openDocumentPath: () => cropped, setCrop: answer as never });
    t.view.goToPage(3);
    t.documents.visiblePageChanged(3);
    return t;
  }

  it('applies the frame as a crop of the whole page and shows the answer at the same page', async () => {
    const t = await setup();
    t.cueMode.set(true);
    t.commands.key('crop');
    const crop = t.tools.crop;
    expect([t.store.cueMode.value, crop.frame.value, t.commands.keyMode().crop]).toEqual([false, { page: 3, rect: [0, 0, 1, 1] }, true]);
    crop.draw(3, { x: 0.5, y: 0.4 }, { x: 0, y: 0 });
    t.commands.key('cropRight');
    t.commands.key('cropDownSize');
    near(crop.frame.value!.rect, [0.01, 0, 0.5, 0.41]);
    const generation = t.store.generation.value;
    t.commands.key('cropApply');
    await flush();
    const [[sent]] = t.named('setCrop') as [[number[]]];
    near(sent, [0.1 + 0.01 * 0.8, 0.2, 0.5 * 0.8, 0.41 * 0.5]);
    const shown = [crop.frame.value, t.store.generation.value, t.store.doc.value?.crop, t.store.scrollRequest.value?.page];
    expect(shown).toEqual([null, generation + 1, sent, 3]);
  });

  it('goes back to the automatic crop, leaves with Escape, and says a failure quietly', async () => {
    const t = await setup();
    dispatchEvent(t.handlers, 'menuCommand', { command: 'crop' });
    t.commands.escape();
    expect([t.tools.crop.frame.value, t.named('setCrop')]).toEqual([null, []]);
    t.commands.key('crop');
    dispatchEvent(t.handlers, 'menuCommand', { command: 'resetCrop' });
    await flush();
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
    await flush();
    expect(f.store.message.value).toBe('no document');
    expect(f.store.doc.value).toBe(cropped);
  });
});

describe('the place kept when the crop of a script changes', () => {
  const cropped: Partial<DocumentInfo> = { cropRects: [[0.1, 0.2, 0.8, 0.5]] };
  it.each([
    ['shown whole, then cropped', {}, cropped, 0.45, 0.5],
    ['cropped, then shown whole', cropped, {}, 0.5, 0.45],
    ['from one crop to another', { cropRects: [[0, 0.1, 1, 0.8]] }, { cropRects: [[0, 0.3, 1, 0.4]] }, 0.5, 0.5],
    ['a line the new crop leaves out above: its top', {}, cropped, 0.1, 0],
    ['a line the new crop leaves out below: its foot', {}, cropped, 0.95, 1],
  ] as [string, Partial<DocumentInfo>, Partial<DocumentInfo>, number, number][])('%s', (_what, before, after, y, expected) => {
    expect(reframedY(doc('/s/show.pdf', before), doc('/s/show.pdf', after), 0, y)).toBeCloseTo(expected, 9);
  });

  it('keeps the page, the word shown and the following when the crop arrives unasked', async () => {
    const t = await openedScript();
    t.view.goToPage(3);
    t.documents.visiblePageChanged(3);
    t.store.follow.value = false;
    t.store.message.value = 'The marks file was repaired.';
    dispatchEvent(t.handlers, 'documentChanged', doc('/s/show.pdf', { cropRects: [[0, 0, 1, 1], [0, 0, 1, 1], [0, 0, 1, 1], [0.1, 0.2, 0.8, 0.5]] }));
    await flush();
    expect([t.store.scrollRequest.value?.page, t.store.follow.value, t.store.message.value]).toEqual([3, false, 'The marks file was repaired.']);
    expect(t.store.doc.value?.cropRects?.[3]).toEqual([0.1, 0.2, 0.8, 0.5]);
    // Another script's geometry, or none shown: nothing is laid out.
    const generation = t.store.generation.value;
    dispatchEvent(t.handlers, 'documentChanged', doc('/s/other.pdf'));
    await flush();
    expect(t.store.generation.value).toBe(generation);
  });
});
