import { describe, expect, it } from 'vitest';
import type { RenderedPage } from '../src/bridge/types';
import { PageImages } from '../src/state/page_images';

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
});
