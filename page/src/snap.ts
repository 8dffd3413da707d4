// Recognising a stroke that was meant to be a line, a rectangle or an ellipse. It runs only
// when the pen is held still at the end of a stroke, so it can afford to be strict: a
// doubtful stroke stays ink.
import { type Pt, type Rect, boundsOf, dist, distToSegment } from './geometry.js';

export type Snapped =
  | { kind: 'line'; a: Pt; b: Pt }
  | { kind: 'rect'; r: Rect }
  | { kind: 'ellipse'; r: Rect };

/** How far a point may stray, as a share of the shape's size. */
const LINE_SLACK = 0.05;
const CLOSED_SLACK = 0.09;

export function recognise(points: readonly Pt[]): Snapped | null {
  if (points.length < 3) return null;
  const box = boundsOf(points)!;
  const size = Math.hypot(box.w, box.h);
  if (size < 8) return null;
  const a = points[0];
  const b = points[points.length - 1];

  const chord = dist(a, b);
  if (chord > size * 0.8) {
    const worst = Math.max(...points.map((p) => distToSegment(p, a, b)));
    return worst <= Math.max(2, chord * LINE_SLACK) ? { kind: 'line', a: { ...a }, b: { ...b } } : null;
  }

  // A closed shape: the stroke comes back near where it began and goes round once.
  if (chord > size * 0.25 || Math.min(box.w, box.h) < size * 0.12) return null;
  const turn = Math.abs(turning(points, Math.max(4, size * 0.05)));
  // A rectangle turns three corners between its first side and its last, an ellipse all the
  // way round; past that it is a spiral or a scribble.
  if (turn < 1.3 * Math.PI || turn > 2.6 * Math.PI) return null;

  const rectErr = meanOf(points, (p) => distToRectEdge(p, box)) / Math.min(box.w, box.h);
  const ellErr = meanOf(points, (p) => distToEllipse(p, box)) / Math.min(box.w, box.h);
  if (rectErr < ellErr && rectErr <= CLOSED_SLACK && cornersVisited(points, box)) return { kind: 'rect', r: box };
  if (ellErr <= CLOSED_SLACK) return { kind: 'ellipse', r: box };
  return null;
}

function meanOf(points: readonly Pt[], f: (p: Pt) => number): number {
  let s = 0;
  for (const p of points) s += f(p);
  return s / points.length;
}

/**
 * Total signed turning of the stroke's direction, in radians, looked at in steps of `step`
 * so that the hand's jitter doesn't count as turning.
 */
function turning(points: readonly Pt[], step: number): number {
  let total = 0;
  let prev: number | null = null;
  let from = points[0];
  for (const p of points) {
    if (dist(p, from) < step) continue;
    const a = Math.atan2(p.y - from.y, p.x - from.x);
    if (prev !== null) {
      let d = a - prev;
      while (d > Math.PI) d -= 2 * Math.PI;
      while (d < -Math.PI) d += 2 * Math.PI;
      total += d;
    }
    prev = a;
    from = p;
  }
  return total;
}

function distToRectEdge(p: Pt, r: Rect): number {
  const inside = p.x >= r.x && p.x <= r.x + r.w && p.y >= r.y && p.y <= r.y + r.h;
  const dx = Math.min(Math.abs(p.x - r.x), Math.abs(p.x - r.x - r.w));
  const dy = Math.min(Math.abs(p.y - r.y), Math.abs(p.y - r.y - r.h));
  return inside ? Math.min(dx, dy) : Math.hypot(Math.max(r.x - p.x, 0, p.x - r.x - r.w), Math.max(r.y - p.y, 0, p.y - r.y - r.h));
}

/** Distance to the ellipse inscribed in r, measured along the ray from its centre. */
function distToEllipse(p: Pt, r: Rect): number {
  const rx = r.w / 2, ry = r.h / 2;
  const dx = p.x - (r.x + rx), dy = p.y - (r.y + ry);
  const d = Math.hypot(dx, dy);
  if (d === 0) return Math.min(rx, ry);
  const k = 1 / Math.sqrt((dx * dx) / (rx * rx) + (dy * dy) / (ry * ry));
  return Math.abs(d - d * k);
}

/** A rectangle drawn by hand passes close to all four corners of its box; an ellipse doesn't. */
function cornersVisited(points: readonly Pt[], r: Rect): boolean {
  const reach = Math.min(r.w, r.h) * 0.2;
  const corners = [
    { x: r.x, y: r.y }, { x: r.x + r.w, y: r.y },
    { x: r.x + r.w, y: r.y + r.h }, { x: r.x, y: r.y + r.h },
  ];
  return corners.every((c) => points.some((p) => dist(p, c) <= reach));
}
