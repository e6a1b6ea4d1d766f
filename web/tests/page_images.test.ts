import { expect, it } from 'vitest';
import type { RenderedPage } from '../src/bridge/types';
import { PageImages, addressLoader, base64Loader, type LoadedImage } from '../src/state/page_images';
import { turn as flush } from './fake_bridge';

// A renderer whose answers the test releases by hand.
function scriptedRenderer() {
  const calls: { index: number; width: number; answer: (v: RenderedPage | null) => void; fail: () => void }[] = [];
  const render = (index: number, width: number) =>
    new Promise<RenderedPage | null>((resolve, reject) => {
      calls.push({ index, width, answer: resolve, fail: () => reject(new Error('render failed')) });
    });
  return { calls, render };
}
const rendered = (...args: [number?, number?]) => {
  const r = scriptedRenderer();
  return { r, images: new PageImages(base64Loader(r.render), ...args) };
};
const w512 = (...indexes: number[]) => indexes.map((index) => ({ index, width: 512 }));

it('page images: asks at most two at a time, nearest first, and fills each page when it answers', async () => {
  const { r, images } = rendered();
  images.want(w512(3, 2, 4));
  expect(r.calls.map((c) => c.index)).toEqual([3, 2]);
  r.calls[0].answer({ index: 3, png: 'AAAA' });
  await flush();
  images.want(w512(3, 2, 4));
  expect([images.image(3).value, r.calls.map((c) => c.index)]).toEqual([{ url: 'data:image/png;base64,AAAA', width: 512 }, [3, 2, 4]]);
});

it('page images: drops the answers of the previous script', async () => {
  const { r, images } = rendered();
  images.want(w512(0));
  images.reset();
  images.want(w512(0));
  r.calls[0].answer({ index: 0, png: 'OLD' });
  await flush();
  const old = images.image(0).value;
  r.calls[1].answer({ index: 0, png: 'NEW' });
  await flush();
  expect([old, images.image(0).value?.url]).toEqual([null, 'data:image/png;base64,NEW']);
});

it('page images: does not ask again for a page that failed, and frees the slot for the next', async () => {
  const { r, images } = rendered(1);
  images.want(w512(0, 1));
  r.calls[0].fail();
  await flush();
  expect(r.calls.map((c) => c.index)).toEqual([0, 1]);
  r.calls[1].answer(null);
  await flush();
  images.want(w512(0, 1));
  expect([r.calls.length, images.pending()]).toEqual([2, 0]);
});

it('page images: keeps the old image while a new width renders and releases pages no longer near', async () => {
  const { r, images } = rendered();
  images.want(w512(0, 1));
  r.calls[0].answer({ index: 0, png: 'A' });
  r.calls[1].answer({ index: 1, png: 'B' });
  await flush();
  images.want([{ index: 0, width: 1024 }]);
  expect([images.image(0).value?.width, images.image(1).value, r.calls[2].index, r.calls[2].width]).toEqual([512, null, 0, 1024]);
});

it('page images: keeps what the byte budget holds, nearest first, but always the pages in view', async () => {
  // 100 x 150 pixels are 60,000 bytes decoded; the budget holds two and a half.
  const { r, images } = rendered(8, 150_000);
  const page = (index: number) => ({ index, width: 100, height: 150 });
  images.want([page(5), page(6), page(4), page(7)]);
  expect(r.calls.map((c) => c.index)).toEqual([5, 6]);
  for (const c of r.calls) c.answer({ index: c.index, png: 'P' });
  await flush();
  // Pages too large for the budget: the first two still come.
  const big = (index: number) => ({ index, width: 1000, height: 1500 });
  images.want([big(5), big(6), big(7)]);
  expect([r.calls.slice(2).map((c) => c.index), images.image(7).value]).toEqual([[5, 6], null]);
});

it('page images: draws ahead one page at a time, and only with nothing in view waiting', async () => {
  const { r, images } = rendered(2);
  images.want([{ index: 9, width: 64, ahead: true }, { index: 1, width: 64 }, { index: 10, width: 64, ahead: true }]);
  expect(r.calls.map((c) => c.index)).toEqual([1]);
  r.calls[0].answer({ index: 1, png: 'P' });
  await flush();
  expect(r.calls.map((c) => c.index)).toEqual([1, 9]);
  // A page in view asked for meanwhile goes out beside the one ahead.
  images.want([{ index: 2, width: 64 }, { index: 9, width: 64, ahead: true }, { index: 10, width: 64, ahead: true }]);
  expect(r.calls.map((c) => c.index)).toEqual([1, 9, 2]);
});

// Image elements that load (or fail) when the test says.
function fakeImages() {
  const made: { img: HTMLImageElement; finish: (ok: boolean) => void }[] = [];
  const make = () => {
    const img = { src: '', removeAttribute: () => (img.src = '') } as unknown as HTMLImageElement;
    made.push({ img, finish: (ok) => (ok ? (Object.assign(img, { naturalWidth: 40, naturalHeight: 50 }), img.onload) : img.onerror)?.call(img, {} as Event) });
    return img;
  };
  return { made, make };
}

it('by address: asks each image at an address of its own, shows it once loaded with its decoded size, and lets go of it once not wanted', async () => {
  const f = fakeImages();
  const answers: (LoadedImage | null)[] = [];
  const load = addressLoader('tallowmark-page://images/', f.make);
  void load(3, 1600).then((a) => answers.push(a));
  void load(3, 1600).then((a) => answers.push(a));
  const [a, b] = f.made.map((m) => m.img.src);
  expect([/^tallowmark-page:\/\/images\/3\/1600\?v=/.test(a), a !== b]).toEqual([true, true]);
  f.made[0].finish(true);
  f.made[1].finish(false);
  await flush();
  expect(answers).toEqual([{ url: a, bytes: 40 * 50 * 4, release: expect.any(Function) }, null]);
  const images = new PageImages(addressLoader('/page-images/', f.make));
  images.want([{ index: 0, width: 64 }]);
  f.made[2].finish(true);
  await flush();
  expect(images.image(0).value).toEqual({ url: f.made[2].img.src, width: 64 });
  images.want([{ index: 1, width: 64 }]);
  expect([images.image(0).value, f.made[2].img.src]).toEqual([null, '']);
});
