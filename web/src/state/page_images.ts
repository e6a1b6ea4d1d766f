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

export class PageImages {
  private generation = 0;
  private readonly slots = new Map<number, Signal<PageImage | null>>();
  private readonly inFlight = new Set<string>();
  // Keys that answered no image; not asked again for this script.
  private readonly failed = new Set<string>();
  private queue: Wanted[] = [];

  constructor(private readonly render: Render, private readonly maxInFlight = 2) {}

  // A new script: every image and pending answer of the old one is dropped.
  reset(): void {
    this.generation++;
    for (const slot of this.slots.values()) slot.value = null;
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
    for (const [index, slot] of this.slots) if (!wanted.has(index) && slot.peek()) slot.value = null;
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
      if (answer && answer.index === index && typeof answer.png === 'string' && answer.png.length > 0) {
        this.image(index).value = { url: `data:image/png;base64,${answer.png}`, width };
      } else {
        this.failed.add(key);
      }
      this.pump();
    };
    this.render(index, width).then(settle, () => settle(null));
  }
}
