// @vitest-environment happy-dom
// The new controls as the operator meets them: the Go to Page sheet, the
// update notice, the glow, and the selected cue named and edited from keys.
import { describe, expect, it } from 'vitest';
import { dispatchEvent } from '../src/bridge/events';
import type { CueState, Settings } from '../src/bridge/types';
import { emptyCueState } from '../src/bridge/types';
import { labelGutter } from '../src/state/labels';
import { cue as baseCue, doc, settings } from './fake_bridge';
import { flush, host, keydown as key, mountPage, usePageDom } from './page_dom';


const cue = (id: string, page: number, y: number) => baseCue(id, page, y, { label: `cue ${id}`, w: 0.3, padL: -1, padR: -1 });

const state: CueState = { ...emptyCueState, cues: [cue('1', 0, 0.2), cue('2', 0, 0.6), cue('3', 1, 0.3)], standbyID: '2' };
usePageDom();

async function mount(overrides = {}, extra: Partial<Settings> = {}) {
  return mountPage(
    {
      getSettings: () => ({ ...settings, ...extra }),
      openDocumentPath: (p: never) => doc(p, { state }),
      upsertCue: () => 'id',
      installUpdate: () => true,
      ...overrides,
    },
    { open: '/s/show.pdf' },
  );
}

// Whether the field `selector` names already has the focus when it first
// appears in the page, so a key typed at once lands in it.
async function focusedOnArrival(selector: string, act: () => unknown): Promise<boolean | undefined> {
  let focused: boolean | undefined;
  const watcher = new MutationObserver(() => {
    const field = host.querySelector(selector);
    if (field && focused === undefined) focused = document.activeElement === field;
  });
  watcher.observe(host, { childList: true, subtree: true });
  await act();
  await flush();
  watcher.disconnect();
  return focused;
}

function named(label: string): HTMLElement {
  const el = host.querySelector(`[aria-label="${label}"]`);
  if (!el) throw new Error(`nothing named ${label}`);
  return el as HTMLElement;
}

describe('Go to Page', () => {
  it('has its field focused by the time it is in the page, so a Return typed at once never reaches GO', async () => {
    await mount();
    expect(await focusedOnArrival('.goto-sheet input', () => key(document.body, 'g', { ctrlKey: true }))).toBe(true);
  });

  it('opens on Ctrl+G; Return in its field goes and never fires GO; a bad page is answered in place', async () => {
    const t = await mount();
    key(document.body, 'g', { ctrlKey: true });
    await flush();
    const field = named('Page') as HTMLInputElement;
    expect(document.activeElement).toBe(field);
    field.value = '40';
    key(field, 'Enter');
    await flush();
    expect(host.querySelector('.goto-error')?.textContent).toBe('No page 40');
    field.value = '5';
    key(field, 'Enter');
    await flush();
    expect(host.querySelector('.goto-sheet')).toBeNull();
    expect(t.store.scrollRequest.value?.page).toBe(4);
    expect(t.store.follow.value).toBe(false);
    expect(t.named('go')).toEqual([]);
    // The toolbar reads the page by its label too once the marks shift them.
    dispatchEvent(t.handlers, 'cueState', { ...state, pageLabelOffset: -2 });
    t.documents.visiblePageChanged(4);
    await flush();
    expect(host.querySelector('.page-of')?.textContent).toBe('page 3 (5 of 6)');
    key(document.body, 'g', { ctrlKey: true });
    await flush();
    key(named('Page'), 'Escape');
    await flush();
    expect(host.querySelector('.goto-sheet')).toBeNull();
  });
});

describe('the update notice', () => {
  it('offers the build, shows progress in place without its buttons, and brings Install back as "Try again" on failure', async () => {
    const t = await mount();
    expect(host.querySelector('.update-notice')).toBeNull();
    dispatchEvent(t.handlers, 'updateAvailable', { stamp: '20261206.1' });
    await flush();
    const notice = named('Update');
    expect(notice.textContent).toContain('A new build 20261206.1 is available');
    // Not over the show panel: the notice lives outside it.
    expect(host.querySelector('.show-panel .update-notice')).toBeNull();
    [...notice.querySelectorAll('button')].find((b) => b.textContent === 'Install')!.click();
    dispatchEvent(t.handlers, 'updateProgress', { text: 'Downloading 40 %' });
    await flush();
    expect(named('Update').textContent).toBe('Downloading 40 %');
    expect(named('Update').querySelectorAll('button')).toHaveLength(0);
    dispatchEvent(t.handlers, 'updateProgress', { text: 'signature does not match', failed: true });
    await flush();
    expect(named('Update').textContent).toContain('The update failed: signature does not match');
    expect(t.named('installUpdate')).toHaveLength(1);
    named('Dismiss update notice').click();
    await flush();
    expect(host.querySelector('.update-notice')).toBeNull();
  });
});

describe('cues from the keyboard', () => {
  it('glows the cue glowTarget names, names the selection for screen readers, and edits its label with F2', async () => {
    const t = await mount({}, { glowTarget: 'next' });
    const glowing = () => [...host.querySelectorAll('.cue.glow')].map((b) => b.getAttribute('data-cue'));
    expect(glowing()).toEqual(['3']);
    key(document.body, 'e', { ctrlKey: true });
    key(document.body, '.');
    await flush();
    expect(host.querySelector('[data-testid="cue-selection"]')?.textContent).toBe('Selected cue LX 1, cue 1, page 1');
    key(document.body, '.');
    await flush();
    expect(host.querySelector('.cue.selected')?.getAttribute('data-cue')).toBe('2');
    key(document.body, 'F2');
    await flush();
    const field = named('Label of cue LX 2') as HTMLInputElement;
    expect(field.value).toBe('cue 2');
    field.value = 'Storm';
    key(field, 'Enter');
    await flush();
    expect(t.named('upsertCue')).toEqual([[{ ...state.cues[1], label: 'Storm' }]]);
    expect(t.named('go')).toEqual([]);
    // Return outside a field is still GO with a cue selected.
    key(document.body, 'Enter');
    expect(t.named('go')).toHaveLength(1);
    key(document.body, 'Delete');
    expect(t.named('removeCue')).toEqual([['2']]);
  });
});

describe('following standby', () => {
  // 800 px wide view less its gaps and the label gutters; page 0 is tall,
  // page 1 square, side by side in two-page view.
  const aspects = [0.5, 1, 0.7, 0.7];
  const twoUp: CueState = { ...emptyCueState, cues: [cue('1', 0, 0.1), cue('2', 1, 0.9), cue('3', 3, 0.5)], standbyID: '2' };
  it.each([1, 2])('with %i pages per view the cue is brought to the reading line, and back after scrolling away', async (per) => {
    const t = await mount({ openDocumentPath: (p: never) => doc(p, { state: twoUp, pageCount: 4, aspects }) }, { pagesPerSpread: per });
    const scroller = host.querySelector('.script') as HTMLElement;
    const gutter = labelGutter(776, per, 14).px;
    const width = per === 2 ? (776 - 12 - 2 * gutter) / 2 : 776 - gutter;
    // Two pages: the right page's own height; one page: page 1 is the second
    // row, under the tall first page.
    const top1 = per === 2 ? 12 : 12 + width / 0.5 + 12;
    const want = Math.round(top1 + 0.9 * width - 200);
    expect(want).toBeGreaterThan(0);
    expect(scroller.scrollTop).toBe(want);
    // A browser answers the page's own scrolling with a scroll event; this DOM does not.
    scroller.dispatchEvent(new Event('scroll'));
    // The operator scrolls the cue out of view: following stops, the button shows.
    scroller.scrollTop = want + 2000;
    scroller.dispatchEvent(new Event('scroll'));
    await flush();
    expect(t.store.follow.value).toBe(false);
    const back = [...host.querySelectorAll('button')].find((b) => b.textContent?.trim() === 'Back to standby')!;
    back.click();
    await flush();
    expect(scroller.scrollTop).toBe(want);
    expect(host.querySelector('.back-to-standby')).toBeNull();
  });
});

describe('the unfinished cue', () => {
  it('has its label focused by the time its fields are in the page, so a label typed at once is the label', async () => {
    const t = await mount({ textRect: () => ({ rect: [0.1, 0.3, 0.2, 0.02], text: 'storm', lineEnd: 0.5, gapL: 0, gapR: 0 }) });
    t.cueMode.set(true);
    await flush();
    expect(await focusedOnArrival('.cue-draft-label', () => t.cueMode.placeCue(0, { x: 0.1, y: 0.3 }, { x: 0.3, y: 0.3 }))).toBe(true);
    // The proposed number is one Shift+Tab back.
    const fields = [...host.querySelectorAll<HTMLInputElement>('.cue-draft-fields input')];
    expect(fields.map((f) => [f.className, f.hasAttribute('tabindex')])).toEqual([['cue-draft-number', false], ['cue-draft-label', false]]);
    expect(fields[0].value).toBe('1.5');
  });
});
