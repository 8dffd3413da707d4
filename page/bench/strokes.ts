// Strokes as a mouse reports them, for the unit tests and the ink benchmark: positions in
// whole screen pixels, one per event, with the small wobble of a hand. Seeded, so every run
// draws the same strokes.
import type { Pt } from '../src/geometry.js';
import type { Subpath } from '../src/path.js';

export function rng(seed: number): () => number {
  let s = seed >>> 0 || 1;
  return () => {
    s = (Math.imul(s, 1664525) + 1013904223) >>> 0;
    return s / 2 ** 32;
  };
}

/**
 * A slow circle drawn by hand: a little more than one turn, the hand speeding up and slowing
 * down by 30 %, the shape a little egg-like (radius off by up to 4 px, over half a turn and
 * less), a faint tremor, and every position rounded to a whole pixel.
 */
export function mouseCircle(seed: number, events = 200, radius = 100, at: Pt = { x: 480, y: 330 }): Pt[] {
  const rnd = rng(seed);
  const a0 = rnd() * 2 * Math.PI, p2 = rnd() * 2 * Math.PI, p3 = rnd() * 2 * Math.PI, p7 = rnd() * 2 * Math.PI;
  let tx = 0, ty = 0;
  const out: Pt[] = [];
  for (let i = 0; i < events; i++) {
    const f = i / (events - 1);
    const a = a0 + 2 * Math.PI * 1.03 * (f - (0.3 * Math.sin(2 * Math.PI * f)) / (2 * Math.PI));
    const r = radius + 2 * Math.sin(2 * a + p2) + 1.5 * Math.sin(3 * a + p3) + 0.4 * Math.sin(7 * a + p7);
    tx = 0.7 * tx + 0.3 * (rnd() - 0.5);
    ty = 0.7 * ty + 0.3 * (rnd() - 0.5);
    out.push({ x: Math.round(at.x + r * Math.cos(a) + tx), y: Math.round(at.y + r * Math.sin(a) + ty) });
  }
  return out;
}

/**
 * A stroke through the given corners, each side drawn with a slow start and stop (so reports
 * bunch up at the corners, as they do), a gentle bow and a little jitter.
 */
export function mousePolyline(seed: number, corners: readonly Pt[], spacing = 2.5, bow = 1.5): Pt[] {
  const rnd = rng(seed);
  const out: Pt[] = [];
  for (let c = 0; c + 1 < corners.length; c++) {
    const a = corners[c], b = corners[c + 1];
    const len = Math.hypot(b.x - a.x, b.y - a.y);
    const n = Math.max(2, Math.round(len / spacing));
    const nx = -(b.y - a.y) / len, ny = (b.x - a.x) / len;
    for (let i = 0; i < n; i++) {
      const f = i / n;
      const e = (1 - Math.cos(Math.PI * f)) / 2;
      const off = bow * Math.sin(Math.PI * f) + (rnd() - 0.5) * 0.6;
      out.push({ x: Math.round(a.x + (b.x - a.x) * e + nx * off), y: Math.round(a.y + (b.y - a.y) * e + ny * off) });
    }
  }
  const last = corners[corners.length - 1];
  out.push({ x: Math.round(last.x), y: Math.round(last.y) });
  return out;
}

/** A hand-drawn square, 200 px a side, from its top-left corner round and back. */
export const SQUARE: Pt[] = [{ x: 300, y: 200 }, { x: 500, y: 204 }, { x: 497, y: 401 }, { x: 302, y: 397 }, { x: 301, y: 205 }];
export const ZIGZAG: Pt[] = [{ x: 100, y: 300 }, { x: 160, y: 200 }, { x: 220, y: 300 }, { x: 280, y: 200 }, { x: 340, y: 300 }];
export const CHECK: Pt[] = [{ x: 100, y: 250 }, { x: 140, y: 300 }, { x: 240, y: 160 }];

/** The long flourish the page's frame-time test draws, in layer points (not rounded). */
export function flourish(n: number): Pt[] {
  return Array.from({ length: n }, (_, i) => {
    const t = i / (n - 1);
    return {
      x: 200 + 640 * t + 40 * Math.cos(t * 2 * Math.PI * 6),
      y: 315 + 110 * Math.sin(t * 2 * Math.PI * 1.5) + 40 * Math.sin(t * 2 * Math.PI * 6),
    };
  });
}

export const scale = (pts: readonly Pt[], k: number): Pt[] => pts.map((p) => ({ x: p.x * k, y: p.y * k }));

/**
 * The turn at each join between neighbouring segments, in degrees: between the direction a
 * segment arrives in and the one the next leaves in (0 is a smooth join).
 */
export function joinAngles(sp: Subpath): number[] {
  const out: number[] = [];
  let from = sp.start;
  for (let i = 0; i + 1 < sp.segs.length; i++) {
    const a = sp.segs[i], b = sp.segs[i + 1];
    const back = a.kind === 'C' ? [a.c2, a.c1, from] : [from];
    const fwd = b.kind === 'C' ? [b.c1, b.c2, b.to] : [b.to];
    const p = back.find((q) => Math.hypot(a.to.x - q.x, a.to.y - q.y) > 1e-9) ?? from;
    const q = fwd.find((r) => Math.hypot(r.x - a.to.x, r.y - a.to.y) > 1e-9) ?? b.to;
    const ux = a.to.x - p.x, uy = a.to.y - p.y, vx = q.x - a.to.x, vy = q.y - a.to.y;
    out.push((Math.abs(Math.atan2(ux * vy - uy * vx, ux * vx + uy * vy)) * 180) / Math.PI);
    from = a.to;
  }
  return out;
}
