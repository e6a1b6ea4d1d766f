import { describe, expect, it } from 'vitest';
import type { RenderedPage } from '../src/bridge/types';
import { type ImageUrls, PageImages, blobUrls, pngBytes } from '../src/state/page_images';

// A renderer whose answers the test releases by hand.
function scriptedRenderer() {
  const calls: { index: number; width: number; answer: (v: RenderedPage | null) => void; fail: () => void }[] = [];
  const render = (index: number, width: number) =>
    new Promise<RenderedPage | null>((resolve, reject) => {
      calls.push({ index, width, answer: resolve, fail: () => reject(new Error('render failed')) });
    });
  return { calls, render };
}

const flush = () => new Promise((r) => setTimeout(r, 0));

describe('page images', () => {
  it('asks at most two at a time, nearest first, and fills each page when it answers', async () => {
    const r = scriptedRenderer();
    const images = new PageImages(r.render);
    images.want([{ index: 3, width: 512 }, { index: 2, width: 512 }, { index: 4, width: 512 }]);
    expect(r.calls.map((c) => c.index)).toEqual([3, 2]);
    r.calls[0].answer({ index: 3, png: 'AAAA' });
    await flush();
    expect(images.image(3).value).toEqual({ url: 'data:image/png;base64,AAAA', width: 512 });
    expect(r.calls.map((c) => c.index)).toEqual([3, 2, 4]);
    // Asking again for what is shown or in flight asks nothing new.
    images.want([{ index: 3, width: 512 }, { index: 2, width: 512 }, { index: 4, width: 512 }]);
    expect(r.calls).toHaveLength(3);
  });

  it('drops the answers of the previous script', async () => {
    const r = scriptedRenderer();
    const images = new PageImages(r.render);
    images.want([{ index: 0, width: 512 }]);
    images.reset();
    images.want([{ index: 0, width: 512 }]);
    r.calls[0].answer({ index: 0, png: 'OLD' });
    await flush();
    expect(images.image(0).value).toBeNull();
    r.calls[1].answer({ index: 0, png: 'NEW' });
    await flush();
    expect(images.image(0).value?.url).toBe('data:image/png;base64,NEW');
  });

  it('does not ask again for a page that failed, and frees the slot for the next', async () => {
    const r = scriptedRenderer();
    const images = new PageImages(r.render, 1);
    images.want([{ index: 0, width: 512 }, { index: 1, width: 512 }]);
    r.calls[0].fail();
    await flush();
    expect(r.calls.map((c) => c.index)).toEqual([0, 1]);
    r.calls[1].answer(null);
    await flush();
    images.want([{ index: 0, width: 512 }, { index: 1, width: 512 }]);
    expect(r.calls).toHaveLength(2);
    expect(images.pending()).toBe(0);
  });

  it('keeps the old image while a new width renders and releases pages no longer near', async () => {
    const r = scriptedRenderer();
    const images = new PageImages(r.render);
    images.want([{ index: 0, width: 512 }, { index: 1, width: 512 }]);
    r.calls[0].answer({ index: 0, png: 'A' });
    r.calls[1].answer({ index: 1, png: 'B' });
    await flush();
    images.want([{ index: 0, width: 1024 }]);
    expect(images.image(0).value?.width).toBe(512);
    expect(images.image(1).value).toBeNull();
    expect(r.calls[2]).toMatchObject({ index: 0, width: 1024 });
  });

  it('lets each image address go exactly once: left behind, replaced by a new width, or dropped with the script', async () => {
    // Addresses made and released, so a long scroll keeps only the bytes of the pages near the view.
    const made: string[] = [];
    const released: string[] = [];
    let n = 0;
    const urls: ImageUrls = {
      make: (png) => (png === 'BAD' ? null : (made.push(`u${++n}:${png}`), `u${n}:${png}`)),
      release: (url) => void released.push(url),
    };
    const r = scriptedRenderer();
    const images = new PageImages(r.render, 4, urls);
    const steps: [string, () => void, string[]][] = [
      ['two pages arrive', () => {
        images.want([{ index: 0, width: 512 }, { index: 1, width: 512 }, { index: 2, width: 512 }]);
        r.calls[0].answer({ index: 0, png: 'A' });
        r.calls[1].answer({ index: 1, png: 'B' });
        r.calls[2].answer({ index: 2, png: 'BAD' });
      }, []],
      ['page 1 leaves the view', () => images.want([{ index: 0, width: 512 }]), ['u2:B']],
      ['page 0 at a new width', () => {
        images.want([{ index: 0, width: 1024 }]);
        r.calls[3].answer({ index: 0, png: 'C' });
      }, ['u2:B', 'u1:A']],
      // Page 2 made no address: it failed and is not asked again.
      ['the same want again', () => images.want([{ index: 0, width: 1024 }, { index: 2, width: 512 }]), ['u2:B', 'u1:A']],
      ['another script', () => images.reset(), ['u2:B', 'u1:A', 'u3:C']],
      ['and again, with nothing shown', () => images.reset(), ['u2:B', 'u1:A', 'u3:C']],
    ];
    for (const [what, step, want] of steps) {
      step();
      await flush();
      expect(released, what).toEqual(want);
    }
    expect(made).toEqual(['u1:A', 'u2:B', 'u3:C']);
    expect(r.calls).toHaveLength(4);
  });

  it('decodes the base64 answer into PNG bytes and refuses text that is not base64', () => {
    const cases: [string, number[] | null][] = [
      ['iVBORw0KGgo=', [0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]],
      ['AAEC/w==', [0, 1, 2, 255]],
      ['', null],
      ['not base64!', null],
    ];
    for (const [text, want] of cases) {
      const got = pngBytes(text);
      expect(got === null ? null : [...got], text).toEqual(want);
    }
    const url = blobUrls.make('iVBORw0KGgo=');
    expect(url?.startsWith('blob:')).toBe(true);
    expect(blobUrls.make('@@')).toBeNull();
    blobUrls.release(url!);
  });
});
