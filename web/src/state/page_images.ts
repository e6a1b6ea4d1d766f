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
}

type Render = (index: number, width: number) => Promise<RenderedPage | null>;

// How an answer's PNG becomes an image address, and how that address is let
// go once no page shows it.
export interface ImageUrls {
  make(png: string): string | null;
  release(url: string): void;
}

// The PNG bytes of a base64 answer, or null for text that is not base64.
export function pngBytes(base64: string): Uint8Array | null {
  let text: string;
  try {
    text = atob(base64);
  } catch {
    return null;
  }
  if (text.length === 0) return null;
  const bytes = new Uint8Array(text.length);
  for (let i = 0; i < text.length; i++) bytes[i] = text.charCodeAt(i);
  return bytes;
}

export const dataUrls: ImageUrls = {
  make: (png) => `data:image/png;base64,${png}`,
  release: () => undefined,
};

// A blob address is short: the image element does not carry (and the style
// engine does not copy) a megabyte-long data: address, and the browser
// decodes the bytes it already holds. The bytes live until released.
export const blobUrls: ImageUrls = {
  make(png) {
    const bytes = pngBytes(png);
    return bytes ? URL.createObjectURL(new Blob([bytes], { type: 'image/png' })) : null;
  },
  release: (url) => URL.revokeObjectURL(url),
};

export class PageImages {
  private generation = 0;
  private readonly slots = new Map<number, Signal<PageImage | null>>();
  private readonly inFlight = new Set<string>();
  // Keys that answered no image; not asked again for this script.
  private readonly failed = new Set<string>();
  private queue: Wanted[] = [];

  constructor(private readonly render: Render, private readonly maxInFlight = 2, private readonly urls: ImageUrls = dataUrls) {}

  // Sets a page's image, letting the one it replaces go.
  private put(slot: Signal<PageImage | null>, image: PageImage | null): void {
    const old = slot.peek();
    slot.value = image;
    if (old) this.urls.release(old.url);
  }

  // A new script: every image and pending answer of the old one is dropped.
  reset(): void {
    this.generation++;
    for (const slot of this.slots.values()) if (slot.peek()) this.put(slot, null);
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

  // The pages wanted now, nearest first. Images of other pages are released
  // so a long script does not keep hundreds of bitmaps; a page whose width
  // changed keeps its old image (scaled) until the new one arrives.
  want(pages: Wanted[]): void {
    const wanted = new Set(pages.map((p) => p.index));
    for (const [index, slot] of this.slots) if (!wanted.has(index) && slot.peek()) this.put(slot, null);
    this.queue = pages.filter((p) => {
      const key = `${p.index}@${p.width}`;
      const current = this.slots.get(p.index)?.peek();
      return !(current && current.width === p.width) && !this.inFlight.has(key) && !this.failed.has(key);
    });
    this.pump();
  }

  pending(): number {
    return this.inFlight.size;
  }

  private pump(): void {
    while (this.inFlight.size < this.maxInFlight && this.queue.length > 0) {
      const next = this.queue.shift()!;
      this.request(next);
    }
  }

  private request({ index, width }: Wanted): void {
    const key = `${index}@${width}`;
    const generation = this.generation;
    this.inFlight.add(key);
    const settle = (answer: RenderedPage | null) => {
      if (generation !== this.generation) return;
      this.inFlight.delete(key);
      const url = answer && answer.index === index && typeof answer.png === 'string' && answer.png.length > 0
        ? this.urls.make(answer.png)
        : null;
      if (url) this.put(this.image(index), { url, width });
      else this.failed.add(key);
      this.pump();
    };
    this.render(index, width).then(settle, () => settle(null));
  }
}
