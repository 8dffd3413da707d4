// Messages to the application, through the web view's "scribbet" handler. In a plain
// browser there is no such handler; the page works all the same and the messages go nowhere.
import type { Rect } from './geometry.js';
import type { Box, Message } from './protocol.js';

interface Handler { postMessage(body: unknown): void }

function handler(): Handler | null {
  const w = window as unknown as { webkit?: { messageHandlers?: { scribbet?: Handler } } };
  return w.webkit?.messageHandlers?.scribbet ?? null;
}

export function post(body: Message): void {
  try {
    handler()?.postMessage(body);
  } catch {
    // A handler that throws has nowhere to report to either.
  }
}

/** A line for the application's log; it keeps only the first 500 characters anyway. */
export function log(msg: string): void {
  post({ type: 'log', msg: msg.slice(0, 500) });
}

/**
 * The areas that must get the mouse. Everything else of the layer lets clicks through to the
 * program below, so this is sent whenever it changes, and only then. The rectangles are
 * rounded outwards to whole points: a region must never end short of what it covers.
 */
export class Regions {
  private last = '';

  update(rects: readonly Rect[], all: boolean): boolean {
    const out = rects
      .filter((r) => [r.x, r.y, r.w, r.h].every(Number.isFinite) && r.w > 0 && r.h > 0)
      .map((r): Box => {
        const x = Math.floor(r.x), y = Math.floor(r.y);
        return [x, y, Math.ceil(r.x + r.w) - x, Math.ceil(r.y + r.h) - y];
      });
    const text = JSON.stringify([out, all]);
    if (text === this.last) return false;
    this.last = text;
    post({ type: 'regions', rects: out, all });
    return true;
  }
}
