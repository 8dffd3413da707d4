// Strokes as a mouse reports them, for the unit tests and the ink benchmark: positions in
// whole screen pixels, one per event, with the small wobble of a hand. Seeded, so every run
// draws the same strokes.
import { type Pt, distToSegment } from '../src/geometry.js';
import { type Subpath, samplePoints } from '../src/path.js';

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
 * bunch up at the corners, as they do), a gentle bow and the faint tremor of a hand (which
 * wanders over several reports, as a hand's does, rather than jumping at each; the same as
 * handPaced's). `path` is the
 * path the hand drew, bow and all, before the tremor and the rounding.
 */
export function mousePolyline(seed: number, corners: readonly Pt[], spacing = 2.5, bow = 1.5): Drawn {
  const rnd = rng(seed);
  const out: Pt[] = [];
  const path: Pt[] = [];
  let tx = 0, ty = 0;
  for (let c = 0; c + 1 < corners.length; c++) {
    const a = corners[c], b = corners[c + 1];
    const len = Math.hypot(b.x - a.x, b.y - a.y);
    const n = Math.max(2, Math.round(len / spacing));
    const nx = -(b.y - a.y) / len, ny = (b.x - a.x) / len;
    for (let i = 0; i < n; i++) {
      const f = i / n;
      const e = (1 - Math.cos(Math.PI * f)) / 2;
      const off = bow * Math.sin(Math.PI * f);
      const p = { x: a.x + (b.x - a.x) * e + nx * off, y: a.y + (b.y - a.y) * e + ny * off };
      tx = 0.7 * tx + 0.3 * (rnd() - 0.5);
      ty = 0.7 * ty + 0.3 * (rnd() - 0.5);
      path.push(p);
      out.push({ x: Math.round(p.x + 0.3 * tx), y: Math.round(p.y + 0.3 * ty) });
    }
  }
  const last = corners[corners.length - 1];
  path.push(last);
  out.push({ x: Math.round(last.x), y: Math.round(last.y) });
  return Object.assign(out, { path });
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

/**
 * Reports along a path as a hand moving at the speed it does: slower where the path bends
 * (speed grows with the cube root of the radius of curvature, as measured hands do), one
 * report every 8 ms, each with a faint tremor and rounded to a whole pixel. It sets off and
 * comes to rest over the first and last 20 px. `fine` is the path as a dense polyline;
 * `speed` is px per ms on a bend of radius 100 px.
 */
export function handPaced(fine: readonly Pt[], speed = 0.5, seed = 1): Drawn {
  const rnd = rng(seed);
  const n = fine.length - 1;
  const out: Pt[] = [];
  let tx = 0, ty = 0;
  let left = 0;
  const report = (p: Pt) => {
    tx = 0.7 * tx + 0.3 * (rnd() - 0.5);
    ty = 0.7 * ty + 0.3 * (rnd() - 0.5);
    const q = { x: Math.round(p.x + 0.3 * tx), y: Math.round(p.y + 0.3 * ty) };
    const last = out[out.length - 1];
    if (!last || last.x !== q.x || last.y !== q.y) out.push(q);
  };
  report(fine[0]);
  const along = [0];
  for (let i = 1; i <= n; i++) along.push(along[i - 1] + Math.hypot(fine[i].x - fine[i - 1].x, fine[i].y - fine[i - 1].y));
  for (let i = 1; i <= n; i++) {
    const a = fine[Math.max(0, i - 3)], p = fine[i], b = fine[Math.min(n, i + 3)];
    // The radius of the circle through three nearby points.
    const ab = Math.hypot(b.x - a.x, b.y - a.y), ap = Math.hypot(p.x - a.x, p.y - a.y), pb = Math.hypot(b.x - p.x, b.y - p.y);
    const cross = Math.abs((p.x - a.x) * (b.y - a.y) - (p.y - a.y) * (b.x - a.x));
    const radius = cross > 1e-12 ? (ab * ap * pb) / (2 * cross) : 1e6;
    const ramp = Math.max(0.12, Math.min(1, along[i] / 20, (along[n] - along[i]) / 20));
    const v = speed * ramp * Math.min(3, Math.cbrt(radius / 100));
    left -= Math.hypot(p.x - fine[i - 1].x, p.y - fine[i - 1].y) / v;
    if (left <= 0 || i === n) {
      report(p);
      left += 8;
    }
  }
  return Object.assign(out, { path: fine });
}

/** What the mouse reported, with the path the hand drew (before the rounding) as `path`. */
export type Drawn = Pt[] & { path: readonly Pt[] };

/**
 * A path drawn as a turtle walks: from `at` heading right, each step either straight on
 * (`len` px) or round a bend (`turn` degrees, anticlockwise as seen on the screen, on a circle
 * of `r` px). Given as a polyline a tenth of a pixel fine.
 */
export function turtle(at: Pt, steps: readonly ({ len: number } | { turn: number; r: number })[]): Pt[] {
  let x = at.x, y = at.y, h = 0;
  const out: Pt[] = [{ x, y }];
  for (const s of steps) {
    const len = 'len' in s ? s.len : (Math.abs(s.turn) * Math.PI * s.r) / 180;
    const n = Math.max(1, Math.ceil(len / 0.1));
    const dh = 'len' in s ? 0 : ((s.turn * Math.PI) / 180) / n;
    for (let i = 0; i < n; i++) {
      h += dh / 2;
      x += (len / n) * Math.cos(h);
      y -= (len / n) * Math.sin(h);
      h += dh / 2;
      out.push({ x, y });
    }
  }
  return out;
}

/**
 * A line of joined-up handwriting: tall loops like "l"s and short ones like "e"s, with tight
 * tops (3 to 7 px round), leaning a little, drawn at a hand's pace with the mouse (`speed` as
 * handPaced's; at a third of the default, careful writing, the whole pixels step round the tops).
 */
export function handwriting(seed: number, speed = 0.45, loops = 6, at: Pt = { x: 200, y: 400 }): Drawn {
  const rnd = rng(seed * 7919);
  const steps: ({ len: number } | { turn: number; r: number })[] = [{ len: 6 }];
  for (let k = 0; k < loops; k++) {
    const tall = rnd() < 0.5;
    const top = 3 + 4 * rnd();
    if (tall) steps.push({ turn: 72, r: 18 }, { len: 55 + 20 * rnd() }, { turn: 200, r: top }, { len: 60 + 15 * rnd() }, { turn: 88, r: 9 }, { len: 4 });
    else steps.push({ turn: 55, r: 16 }, { len: 12 + 6 * rnd() }, { turn: 245, r: top + 1 }, { len: 14 + 6 * rnd() }, { turn: 60, r: 10 }, { len: 4 });
  }
  return handPaced(turtle(at, steps), speed, seed);
}

/**
 * A circle drawn round to where it began and stopped there: one turn exactly, the hand
 * slowing into the end, at a hand's pace with the mouse (`speed` as handPaced's).
 */
export function closedCircle(seed: number, radius = 90, at: Pt = { x: 480, y: 300 }, speed = 0.6): Drawn {
  const rnd = rng(seed * 104729);
  const a0 = rnd() * 2 * Math.PI, p2 = rnd() * 2 * Math.PI;
  const fine = Array.from({ length: 6001 }, (_, i) => {
    const t = i / 6000;
    const a = a0 + 2 * Math.PI * t;
    const r = radius + 2.5 * Math.sin(a - a0 + p2) * Math.sin(Math.PI * t);
    return { x: at.x + r * Math.cos(a), y: at.y + r * Math.sin(a) };
  });
  return handPaced(fine, speed, seed);
}

/**
 * How far the outline strays from what was drawn: the furthest any point of it lies from the
 * polyline through the drawn points, in the units of both. A flick past a loop's top or a leg
 * bent near a corner shows here; the drawn points' own rounding does not.
 */
export function strayFrom(drawn: readonly Pt[], subpaths: readonly Subpath[], step = 0.25): number {
  const outline = samplePoints(subpaths, step).flat();
  let worst = 0;
  for (const p of outline) {
    let best = Infinity;
    for (let i = 1; i < drawn.length; i++) {
      const d = distToSegment(p, drawn[i - 1], drawn[i]);
      if (d < best) best = d;
      if (best <= worst) break;
    }
    if (drawn.length === 1) best = Math.hypot(p.x - drawn[0].x, p.y - drawn[0].y);
    if (best > worst) worst = best;
  }
  return worst;
}
