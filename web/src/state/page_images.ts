// Page images for the pages near the viewport. Each page has its own signal,
// so an arriving image redraws one <img> and nothing else.

import { signal, type Signal } from '@preact/signals';
import type { RenderedPage } from '../bridge/types';

export interface PageImage {
  url: string;
  width: number;
}

export interface Wanted {
  index: number;
  width: number;
  // The image's height in pixels when known, for the memory it will take.
  height?: number;
  // Drawn ahead of the reader, beyond the view: asked for only while nothing
  // the view shows is waiting, so it never holds up a page in view.
  ahead?: boolean;
}

// An image ready to show: its address, the bytes it holds decoded, and what
// lets go of it once the page no longer shows it.
export interface LoadedImage {
  url: string;
  bytes: number;
  release?: () => void;
}

// `ahead`: for a page beyond the view, which may take its time.
export type Load = (index: number, width: number, ahead?: boolean) => Promise<LoadedImage | null>;

// What the decoded images near the view may hold together. A page at 1600 px
// is about 15 MB decoded, so this keeps some eight of them; the pages in view
// are always kept, whatever their size.
export const defaultMaxBytes = 128 * 1024 * 1024;
const alwaysKept = 2;
// A script page is taller than wide; until an image is in, its height is a guess.
const guessedAspect = 1.5;

const bytesOf = (p: Wanted) => p.width * (p.height ?? p.width * guessedAspect) * 4;

// The page images as Base64 PNG in the reply of "renderPage": for a host that
// serves no image addresses.
export function base64Loader(render: (index: number, width: number) => Promise<RenderedPage | null>): Load {
  return (index, width) =>
    render(index, width).then((answer) =>
      answer && answer.index === index && typeof answer.png === 'string' && answer.png.length > 0
        ? { url: `data:image/png;base64,${answer.png}`, bytes: width * width * guessedAspect * 4 }
        : null,
    );
}

// The page images by address under `base` (the native side's image scheme,
// or the test host's folder), fetched before the page shows them; the <img>
// then takes the fetched one from the memory cache. A page in view shows as
// soon as its bytes are in (waiting for the decode as well cost WebKit a few
// frames); a page drawn ahead is decoded too, so a turn to it paints in one
// frame. Each request has an address of its own, so no cache can answer
// with another script's page.
export function addressLoader(base: string, makeImage: () => HTMLImageElement = () => new Image()): Load {
  const session = `${Date.now().toString(36)}${Math.floor(Math.random() * 0x100000).toString(36)}`;
  let serial = 0;
  return (index, width, ahead) => {
    const url = `${base}${index}/${width}?v=${session}.${++serial}`;
    const img = makeImage();
    img.decoding = 'async';
    img.src = url;
    // The element that fetched the image holds it until the page lets go of
    // it, so the <img> shown takes the decoded one; then it lets go too, or
    // the bitmap would live until the next garbage collection.
    const release = () => img.removeAttribute('src');
    const done = () => (img.naturalWidth > 0 ? { url, bytes: img.naturalWidth * img.naturalHeight * 4, release } : null);
    if (ahead && typeof img.decode === 'function') return img.decode().then(done, () => null);
    return new Promise((resolve) => {
      img.onload = () => resolve(done());
      img.onerror = () => resolve(null);
    });
  };
}

// The address base the native side gives the page before its scripts run;
// without one the images come as Base64 from "renderPage".
export function pageImageLoader(render: (index: number, width: number) => Promise<RenderedPage | null>): Load {
  const base = (globalThis as { __tallowmarkPageImages?: unknown }).__tallowmarkPageImages;
  return typeof base === 'string' && base.length > 0 ? addressLoader(base) : base64Loader(render);
}

export class PageImages {
  private generation = 0;
  private readonly slots = new Map<number, Signal<PageImage | null>>();
  private readonly bytes = new Map<number, number>();
  private readonly releases = new Map<number, () => void>();
  private readonly inFlight = new Map<string, boolean>(); // key -> ahead
  // Keys that answered no image; not asked again for this script.
  private readonly failed = new Set<string>();
  private queue: Wanted[] = [];

  constructor(
    private readonly load: Load,
    private readonly maxInFlight = 2,
    private readonly maxBytes = defaultMaxBytes,
  ) {}

  // A new script: every image and pending answer of the old one is dropped.
  reset(): void {
    this.generation++;
    for (const [index, slot] of this.slots) {
      slot.value = null;
      this.release(index);
    }
    this.inFlight.clear();
    this.failed.clear();
    this.queue = [];
  }

  image(index: number): Signal<PageImage | null> {
    let slot = this.slots.get(index);
    if (!slot) {
      slot = signal<PageImage | null>(null);
      this.slots.set(index, slot);
    }
    return slot;
  }

  // The pages wanted now, nearest first. Images of other pages are released,
  // and so are the furthest once the images together would pass the byte
  // budget; a page whose width changed keeps its old image (scaled) until the
  // new one arrives.
  want(pages: Wanted[]): void {
    let total = 0;
    const kept = pages.filter((p, i) => {
      const current = this.slots.get(p.index)?.peek();
      total += current && current.width === p.width ? (this.bytes.get(p.index) ?? bytesOf(p)) : bytesOf(p);
      return i < alwaysKept || total <= this.maxBytes;
    });
    const wanted = new Set(kept.map((p) => p.index));
    for (const [index, slot] of this.slots) {
      if (!wanted.has(index) && slot.peek()) {
        slot.value = null;
        this.release(index);
      }
    }
    const needed = kept.filter((p) => {
      const key = `${p.index}@${p.width}`;
      const current = this.slots.get(p.index)?.peek();
      return !(current && current.width === p.width) && !this.inFlight.has(key) && !this.failed.has(key);
    });
    this.queue = [...needed.filter((p) => !p.ahead), ...needed.filter((p) => p.ahead)];
    this.pump();
  }

  pending(): number {
    return this.inFlight.size;
  }

  private pump(): void {
    while (this.inFlight.size < this.maxInFlight && this.queue.length > 0) {
      const next = this.queue[0];
      if (next.ahead) {
        // Ahead of the reader one at a time, and only with nothing in view waiting.
        const viewWaiting = [...this.inFlight.values()].some((ahead) => !ahead);
        const aheadRunning = [...this.inFlight.values()].some((ahead) => ahead);
        if (viewWaiting || aheadRunning) return;
      }
      this.queue.shift();
      this.request(next);
    }
  }

  private release(index: number): void {
    this.bytes.delete(index);
    this.releases.get(index)?.();
    this.releases.delete(index);
  }

  private request({ index, width, ahead }: Wanted): void {
    const key = `${index}@${width}`;
    const generation = this.generation;
    this.inFlight.set(key, ahead === true);
    const settle = (loaded: LoadedImage | null) => {
      if (generation !== this.generation) {
        loaded?.release?.();
        return;
      }
      this.inFlight.delete(key);
      if (loaded) {
        const before = this.releases.get(index);
        this.image(index).value = { url: loaded.url, width };
        this.bytes.set(index, loaded.bytes);
        if (loaded.release) this.releases.set(index, loaded.release);
        else this.releases.delete(index);
        // The image it replaces (another width) is off the page with this render.
        if (before) queueMicrotask(before);
      } else {
        this.failed.add(key);
      }
      this.pump();
    };
    this.load(index, width, ahead).then(settle, () => settle(null));
  }
}
