// Plain 2-D geometry in one place: points, rectangles, the mapping between the layer (CSS
// pixels, which are screen points) and the slide (slide points, origin at its top-left), and
// the measurements the tools need. Nothing here touches the DOM.

export interface Pt {
  x: number;
  y: number;
}

export interface Rect {
  x: number;
  y: number;
  w: number;
  h: number;
}

/** Where the slide lies in the layer and how big it is in points. */
export interface View {
  /** The slide rectangle in layer coordinates, as the application measured it. */
  rect: Rect;
  /** Slide size in points. */
  sw: number;
  sh: number;
  /** The user's lining-up offset in layer points, added to the measured rectangle. */
  nudge: Pt;
  /**
   * The program's slide editor in layer coordinates, when known. Zoomed in, the slide runs on
   * under the ribbon, the thumbnails and off the window; only this part of it can be seen.
   */
  pane?: Rect | null;
}

export const pt = (x: number, y: number): Pt => ({ x, y });

/** Layer points per slide point. */
export function scaleOf(view: View): number {
  const s = view.rect.w / view.sw;
  return Number.isFinite(s) && s > 0 ? s : 1;
}

/** The slide rectangle where it is shown, nudge included. */
export function shownRect(view: View): Rect {
  return { x: view.rect.x + view.nudge.x, y: view.rect.y + view.nudge.y, w: view.rect.w, h: view.rect.h };
}

/** The common part of two rectangles, or null when they don't overlap. */
export function intersect(a: Rect, b: Rect): Rect | null {
  const x = Math.max(a.x, b.x), y = Math.max(a.y, b.y);
  const r = Math.min(a.x + a.w, b.x + b.w), btm = Math.min(a.y + a.h, b.y + b.h);
  return r > x && btm > y ? { x, y, w: r - x, h: btm - y } : null;
}

/**
 * The part of the shown slide the program lets the user see: the slide within the editor.
 * With the slide scrolled right out of the editor, the editor itself.
 */
export function visibleRect(view: View): Rect {
  const r = shownRect(view);
  if (!view.pane) return r;
  return intersect(r, view.pane) ?? view.pane;
}

export function toSlide(view: View, p: Pt): Pt {
  const s = scaleOf(view);
  const r = shownRect(view);
  return { x: (p.x - r.x) / s, y: (p.y - r.y) / s };
}

export function toLayer(view: View, p: Pt): Pt {
  const s = scaleOf(view);
  const r = shownRect(view);
  return { x: r.x + p.x * s, y: r.y + p.y * s };
}

export function dist(a: Pt, b: Pt): number {
  return Math.hypot(a.x - b.x, a.y - b.y);
}

/** How far a path from a through p to b turns at p, in radians (0 to pi, either way round). */
export function turnThrough(a: Pt, p: Pt, b: Pt): number {
  const ux = p.x - a.x, uy = p.y - a.y, vx = b.x - p.x, vy = b.y - p.y;
  return Math.abs(Math.atan2(ux * vy - uy * vx, ux * vx + uy * vy));
}

/** Distance from p to the segment a–b. */
export function distToSegment(p: Pt, a: Pt, b: Pt): number {
  const dx = b.x - a.x;
  const dy = b.y - a.y;
  const len2 = dx * dx + dy * dy;
  if (len2 === 0) return dist(p, a);
  let t = ((p.x - a.x) * dx + (p.y - a.y) * dy) / len2;
  t = Math.max(0, Math.min(1, t));
  return Math.hypot(p.x - (a.x + t * dx), p.y - (a.y + t * dy));
}

/** Shortest distance between the segments a–b and c–d: 0 where they cross or touch. */
export function distSegments(a: Pt, b: Pt, c: Pt, d: Pt): number {
  const side = (p: Pt, q: Pt, r: Pt) => (q.x - p.x) * (r.y - p.y) - (q.y - p.y) * (r.x - p.x);
  // Strictly on opposite sides of each other: they cross. Touching and overlapping come out as
  // 0 from the end point distances below.
  if (side(a, b, c) * side(a, b, d) < 0 && side(c, d, a) * side(c, d, b) < 0) return 0;
  return Math.min(distToSegment(a, c, d), distToSegment(b, c, d), distToSegment(c, a, b), distToSegment(d, a, b));
}

/** The rectangle spanned by two corners, with non-negative size. */
export function rectFrom(a: Pt, b: Pt): Rect {
  return { x: Math.min(a.x, b.x), y: Math.min(a.y, b.y), w: Math.abs(b.x - a.x), h: Math.abs(b.y - a.y) };
}

export function boundsOf(points: readonly Pt[]): Rect | null {
  if (points.length === 0) return null;
  let x0 = Infinity, y0 = Infinity, x1 = -Infinity, y1 = -Infinity;
  for (const p of points) {
    if (p.x < x0) x0 = p.x;
    if (p.y < y0) y0 = p.y;
    if (p.x > x1) x1 = p.x;
    if (p.y > y1) y1 = p.y;
  }
  return { x: x0, y: y0, w: x1 - x0, h: y1 - y0 };
}

export function unionRect(a: Rect | null, b: Rect | null): Rect | null {
  if (!a) return b;
  if (!b) return a;
  const x = Math.min(a.x, b.x);
  const y = Math.min(a.y, b.y);
  return { x, y, w: Math.max(a.x + a.w, b.x + b.w) - x, h: Math.max(a.y + a.h, b.y + b.h) - y };
}

export function inflate(r: Rect, by: number): Rect {
  return { x: r.x - by, y: r.y - by, w: r.w + 2 * by, h: r.h + 2 * by };
}

export function containsPt(r: Rect, p: Pt): boolean {
  return p.x >= r.x && p.x <= r.x + r.w && p.y >= r.y && p.y <= r.y + r.h;
}

export function intersects(a: Rect, b: Rect): boolean {
  return a.x <= b.x + b.w && b.x <= a.x + a.w && a.y <= b.y + b.h && b.y <= a.y + a.h;
}

export function cubicAt(p0: Pt, c1: Pt, c2: Pt, p3: Pt, t: number): Pt {
  const u = 1 - t;
  const a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
  return { x: a * p0.x + b * c1.x + c * c2.x + d * p3.x, y: a * p0.y + b * c1.y + c * c2.y + d * p3.y };
}

/**
 * The end of a drag from `from` to `to`, held to the nearest multiple of 45 degrees
 * (Shift while drawing a line).
 */
export function snapAngle(from: Pt, to: Pt): Pt {
  const dx = to.x - from.x;
  const dy = to.y - from.y;
  const len = Math.hypot(dx, dy);
  if (len === 0) return { ...to };
  const step = Math.PI / 4;
  const a = Math.round(Math.atan2(dy, dx) / step) * step;
  // Project onto the chosen direction so the end stays under the pointer as far as it can.
  const ux = Math.cos(a), uy = Math.sin(a);
  const along = dx * ux + dy * uy;
  return { x: from.x + clean(along * ux), y: from.y + clean(along * uy) };
}

/** The corner opposite `from` of a square that the drag from `from` to `to` spans. */
export function squareCorner(from: Pt, to: Pt): Pt {
  const dx = to.x - from.x;
  const dy = to.y - from.y;
  const side = Math.max(Math.abs(dx), Math.abs(dy));
  return { x: from.x + side * (dx < 0 ? -1 : 1), y: from.y + side * (dy < 0 ? -1 : 1) };
}

// Trigonometry leaves 1e-17 where an axis-aligned line should have exactly 0.
function clean(v: number): number {
  return Math.abs(v) < 1e-9 ? 0 : v;
}
