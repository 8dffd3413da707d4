// Turning a drawn stroke into a few smooth cubic segments while it is drawn. The pointer's
// positions are smoothed first (smooth.ts), in screen pixels; the smoothed points are then
// fitted with Schneider's least-squares method, one cubic at a time: the last cubic grows with
// the stroke for as long as it stays within the tolerance, and when it can grow no further it
// is kept and the next one starts from its end, in the same direction, so the joins are
// smooth. Only corners the smoother found get a join that turns. The work per pointer event
// is one small fit, and lifting the pen only has to finish the last cubic or two.
//
// The tolerance is in screen pixels too, so what the fit leaves out is the same on the screen
// at any zoom: a stroke drawn at 50 % is as smooth as one drawn at 150 %.
import { type Pt, distToSegment, turnThrough } from './geometry.js';
import { type Segment, type Subpath, outlineBounds, samplePoints } from './path.js';
import { type InkPoint, type SmoothOptions, Smoother } from './smooth.js';

export interface Fitted {
  subpaths: Subpath[];
  /**
   * The largest distance, in points, between the smoothed points the fit was given and the
   * result (measured at those points).
   */
  error: number;
}

/** How far the curves may stray from the smoothed stroke, in screen pixels. */
export const TOLERANCE_PX = 0.4;
/**
 * How far a part's smoothed points may lie from their best line, in screen pixels, for it to be
 * drawn as a straight line: a line's whole-pixel reports lie up to about this far off it (half
 * a pixel each way, across a slanting line up to 0.7 px, and a hand's tremor on top).
 */
const STRAIGHT_PX = 0.9;
/** How far a straight part may bow from its line, end to middle, in screen pixels. */
const STRAIGHT_BOW_PX = 0.6;
/** How much of a straight part's ends, in screen pixels, gives the line its corner or end lies on. */
const END_LINE_PX = 30;
/** Smoothed points this close to the one fitted before them add nothing, in screen pixels. */
const FIT_GAP_PX = 0.05;
/**
 * How far, in screen pixels, a corner between two straight legs moves towards where their lines
 * cross: a leg that bows a little tilts its end line, so beyond this the crossing says less
 * about where the hand turned than the smoother's corner does.
 */
const CORNER_MOVE_PX = 0.3;
/** The most points one cubic is fitted to; a longer one is kept and the next begins. */
const MAX_SPAN = 400;
/** Fits tried per pointer event stay small: a long growing cubic is refitted every few points. */
const TRIES_PER_SPAN = 40;
/**
 * How far, in screen pixels, the stroke may go on past the last point the growing cubic took in
 * before it is kept; also the reach either side over which a join's direction is taken.
 */
const TANGENT_PX = 8;
/**
 * How far the stroke may turn between the chords before and after a point, in radians, for them
 * to give its direction; past it they are halved, down to TANGENT_MIN_PX.
 */
const TANGENT_BEND = (20 * Math.PI) / 180;
const TANGENT_MIN_PX = 2;

/** Drops repeated and non-finite points, which carry no shape and upset the tangents. */
export function dedupe(points: readonly Pt[], minGap = 0.01): Pt[] {
  const out: Pt[] = [];
  for (const p of points) {
    if (!Number.isFinite(p.x) || !Number.isFinite(p.y)) continue;
    const last = out[out.length - 1];
    if (!last || Math.hypot(p.x - last.x, p.y - last.y) >= minGap) out.push({ x: p.x, y: p.y });
  }
  return out;
}

// ---- One cubic -----------------------------------------------------------------------------------

export interface Cubic { p0: Pt; c1: Pt; c2: Pt; p3: Pt }

interface OneFit {
  c: Cubic;
  /** Largest distance of a point from the cubic. */
  err: number;
  /** Where a split would help most. */
  split: number;
}

// The fit runs on every pointer event, over every point of the growing cubic, several rounds
// each: it keeps its scratch numbers in these, rather than in new objects, so that drawing
// leaves the garbage collector little to do (its pauses land in frames, pen-up's among them).
let bx = 0, by = 0;
/** The point at u on the cubic, into bx, by. */
function bezAt(c: Cubic, u: number): void {
  const v = 1 - u;
  const a = v * v * v, b = 3 * v * v * u, d = 3 * v * u * u, e = u * u * u;
  bx = a * c.p0.x + b * c.c1.x + d * c.c2.x + e * c.p3.x;
  by = a * c.p0.y + b * c.c1.y + d * c.c2.y + e * c.p3.y;
}
const bez = (c: Cubic, u: number): Pt => {
  bezAt(c, u);
  return { x: bx, y: by };
};
/** Parameters of the points being fitted, and the best found so far; grown as needed. */
let scratchU = new Float64Array(64), scratchBest = new Float64Array(64);

/** One Newton step towards the parameter of the curve point nearest p. */
function newton(c: Cubic, p: Pt, u: number): number {
  const v = 1 - u;
  bezAt(c, u);
  const ex = bx - p.x, ey = by - p.y;
  // First and second derivatives.
  const d1x = 3 * (v * v * (c.c1.x - c.p0.x) + 2 * v * u * (c.c2.x - c.c1.x) + u * u * (c.p3.x - c.c2.x));
  const d1y = 3 * (v * v * (c.c1.y - c.p0.y) + 2 * v * u * (c.c2.y - c.c1.y) + u * u * (c.p3.y - c.c2.y));
  const d2x = 6 * (v * (c.c2.x - 2 * c.c1.x + c.p0.x) + u * (c.p3.x - 2 * c.c2.x + c.c1.x));
  const d2y = 6 * (v * (c.c2.y - 2 * c.c1.y + c.p0.y) + u * (c.p3.y - 2 * c.c2.y + c.c1.y));
  const den = d1x * d1x + d1y * d1y + ex * d2x + ey * d2y;
  if (!(Math.abs(den) > 1e-12)) return u;
  const next = u - (ex * d1x + ey * d1y) / den;
  return Number.isFinite(next) ? Math.min(1, Math.max(0, next)) : u;
}

/**
 * The cubic from pts[lo] to pts[hi] that fits the points between best: by least squares for
 * the handles, then a few rounds of moving each point's parameter to its nearest curve point.
 * A given tangent (unit, pointing forward) holds that end's handle to that direction, which
 * is how a cubic carries on smoothly from the one before; without one, the points decide the
 * direction too, which is how a cubic's end follows the stroke rather than one noisy estimate.
 */
export function fitOne(pts: readonly InkPoint[], lo: number, hi: number, t0: Pt | null, t1: Pt | null, tolerance: number): OneFit {
  const p0 = pts[lo], p3 = pts[hi];
  const n = hi - lo + 1;
  const chord = Math.hypot(p3.x - p0.x, p3.y - p0.y);
  if (scratchU.length < n) { scratchU = new Float64Array(2 * n); scratchBest = new Float64Array(2 * n); }
  const u = scratchU;
  u[0] = 0;
  let arc = 0;
  for (let k = 1; k < n; k++) {
    arc += Math.hypot(pts[lo + k].x - pts[lo + k - 1].x, pts[lo + k].y - pts[lo + k - 1].y);
    u[k] = arc;
  }
  // Over a few pixels the points cannot tell a free end's direction (a stroke begun slowly
  // steps from pixel to pixel, and its first cubic left 23 degrees off, a kink where a circle
  // closed): the smoother's, taken over more of the stroke, holds it instead.
  if (arc < TANGENT_PX) {
    t0 ??= p0.tout;
    t1 ??= p3.tin;
  }
  for (let k = 1; k < n; k++) u[k] = arc > 0 ? u[k] / arc : k / (n - 1);
  const third = (chord > 1e-9 ? chord : arc) / 3;
  const along = (p: Pt, t: Pt, a: number): Pt => ({ x: p.x + t.x * a, y: p.y + t.y * a });
  if (n <= 2) {
    const a = t0 ?? p0.tout, b = t1 ?? p3.tin;
    return { c: { p0, c1: along(p0, a, third), c2: along(p3, b, -third), p3 }, err: 0, split: lo };
  }

  let best: OneFit | null = null;
  const bestU = scratchBest;
  for (let round = 0; round < 6; round++) {
    const c = handles(pts, lo, hi, u, t0, t1, arc, third);
    let err = 0, split = lo + (n >> 1);
    for (let k = 1; k < n - 1; k++) {
      const p = pts[lo + k];
      u[k] = newton(c, p, u[k]);
      bezAt(c, u[k]);
      const d = Math.hypot(bx - p.x, by - p.y);
      if (d > err) { err = d; split = lo + k; }
    }
    const before = best ? best.err : Infinity;
    if (err < before) {
      best = { c, err, split };
      for (let k = 0; k < n; k++) bestU[k] = u[k];
    }
    if (err <= tolerance || err > 4 * tolerance || err > before * 0.99) break;
  }
  const fit = best!;
  if (fit.err <= tolerance) {
    // The points may be sparse (a fast stroke): between two of them the curve must keep to
    // where a hand drawing through them and their neighbours would pass, not bow out as the
    // handles leave it free to (a straight run between a bend and a loop came out bowed by
    // nearly a pixel, though each point on it lay within half of one).
    for (let k = 0; k < n - 1; k++) {
      const a = pts[lo + k], b = pts[lo + k + 1];
      const gap = Math.hypot(b.x - a.x, b.y - a.y);
      if (gap < 4 * tolerance) continue;
      // Where a hand drawing through the neighbours too would pass between a and b: the middle
      // of the Catmull-Rom segment, whose ends leave along the chords to the points beyond.
      const prev = k > 0 ? pts[lo + k - 1] : a, next = k + 2 < n ? pts[lo + k + 2] : b;
      const t0x = b.x - prev.x, t0y = b.y - prev.y, t1x = next.x - a.x, t1y = next.y - a.y;
      const l0 = Math.hypot(t0x, t0y) || 1, l1 = Math.hypot(t1x, t1y) || 1;
      const m = { x: (a.x + b.x) / 2 + (gap * (t0x / l0 - t1x / l1)) / 8, y: (a.y + b.y) / 2 + (gap * (t0y / l0 - t1y / l1)) / 8 };
      let u = (bestU[k] + bestU[k + 1]) / 2;
      for (let r = 0; r < 3; r++) u = newton(fit.c, m, u);
      const q = bez(fit.c, u);
      const d = Math.hypot(q.x - m.x, q.y - m.y);
      if (d > tolerance && d > fit.err) { fit.err = d; fit.split = lo + Math.min(n - 2, k + 1); }
    }
  }
  return fit;
}

/** The least-squares handles for the given parameters (see fitOne). */
function handles(pts: readonly InkPoint[], lo: number, hi: number, u: Float64Array, t0: Pt | null, t1: Pt | null, arc: number, third: number): Cubic {
  const p0 = pts[lo], p3 = pts[hi];
  const n = hi - lo + 1;
  // The unknowns: a handle length along a given tangent, or both coordinates of a free handle.
  const m = (t0 ? 1 : 2) + (t1 ? 1 : 2);
  const M = Array.from({ length: m }, () => new Float64Array(m + 1));
  const cx = new Float64Array(m), cy = new Float64Array(m);
  for (let k = 0; k < n; k++) {
    const s = u[k], v = 1 - s;
    const b0 = v * v * v, b1 = 3 * v * v * s, b2 = 3 * v * s * s, b3 = s * s * s;
    const p = pts[lo + k];
    // What the fixed parts leave for the handles to explain.
    let dx = p.x - b0 * p0.x - b3 * p3.x, dy = p.y - b0 * p0.y - b3 * p3.y;
    let j = 0;
    if (t0) { dx -= b1 * p0.x; dy -= b1 * p0.y; cx[j] = b1 * t0.x; cy[j] = b1 * t0.y; j++; } else { cx[j] = b1; cy[j] = 0; j++; cx[j] = 0; cy[j] = b1; j++; }
    if (t1) { dx -= b2 * p3.x; dy -= b2 * p3.y; cx[j] = -b2 * t1.x; cy[j] = -b2 * t1.y; j++; } else { cx[j] = b2; cy[j] = 0; j++; cx[j] = 0; cy[j] = b2; j++; }
    for (let a = 0; a < m; a++) {
      const row = M[a];
      for (let b = 0; b < m; b++) row[b] += cx[a] * cx[b] + cy[a] * cy[b];
      row[m] += cx[a] * dx + cy[a] * dy;
    }
  }
  const x = solve(M);
  const cap = arc / 2;
  const limit = (p: Pt, h: Pt): Pt => {
    const len = Math.hypot(h.x - p.x, h.y - p.y);
    return len > cap ? { x: p.x + ((h.x - p.x) * cap) / len, y: p.y + ((h.y - p.y) * cap) / len } : h;
  };
  let c1: Pt | null = null, c2: Pt | null = null;
  if (x) {
    let j = 0;
    if (t0) { if (x[j] > 1e-6 * third) c1 = limit(p0, { x: p0.x + t0.x * x[j], y: p0.y + t0.y * x[j] }); j++; } else { c1 = limit(p0, { x: x[j], y: x[j + 1] }); j += 2; }
    if (t1) { if (x[j] > 1e-6 * third) c2 = limit(p3, { x: p3.x - t1.x * x[j], y: p3.y - t1.y * x[j] }); } else { c2 = limit(p3, { x: x[j], y: x[j + 1] }); }
  }
  // A handle that vanishes or points back against the stroke makes a cusp or a loop; the
  // plain third of the chord along the stroke's direction is safer, and a split follows if
  // that does not fit.
  const dir0 = t0 ?? p0.tout, dir1 = t1 ?? p3.tin;
  if (!c1 || !((c1.x - p0.x) * dir0.x + (c1.y - p0.y) * dir0.y > 1e-9)) c1 = { x: p0.x + dir0.x * third, y: p0.y + dir0.y * third };
  if (!c2 || !((p3.x - c2.x) * dir1.x + (p3.y - c2.y) * dir1.y > 1e-9)) c2 = { x: p3.x - dir1.x * third, y: p3.y - dir1.y * third };
  return { p0, c1, c2, p3 };
}

/** Solves the augmented system in place (Gaussian elimination, partial pivoting); null when singular. */
function solve(M: Float64Array[]): Float64Array | null {
  const m = M.length;
  for (let col = 0; col < m; col++) {
    let piv = col;
    for (let r = col + 1; r < m; r++) if (Math.abs(M[r][col]) > Math.abs(M[piv][col])) piv = r;
    if (!(Math.abs(M[piv][col]) > 1e-12)) return null;
    [M[col], M[piv]] = [M[piv], M[col]];
    for (let r = col + 1; r < m; r++) {
      const f = M[r][col] / M[col][col];
      for (let k = col; k <= m; k++) M[r][k] -= f * M[col][k];
    }
  }
  const x = new Float64Array(m);
  for (let r = m - 1; r >= 0; r--) {
    let v = M[r][m];
    for (let k = r + 1; k < m; k++) v -= M[r][k] * x[k];
    x[r] = v / M[r][r];
  }
  return x.every(Number.isFinite) ? x : null;
}

/**
 * Cubics through pts[lo..hi], leaving along t0 and arriving along t1 (either may be free):
 * split where the fit is worst until each is within the tolerance; at each split both sides
 * take the stroke's direction there, so the join is smooth.
 */
function fitSpan(b: CurveBuilder, lo: number, hi: number, t0: Pt | null, t1: Pt | null): void {
  const f = fitOne(b.pts, lo, hi, t0, t1, b.tolerance);
  if (f.err <= b.tolerance || hi - lo <= 1) {
    b.kept.push({ c: f.c, err: f.err });
    return;
  }
  const m = Math.max(lo + 1, Math.min(hi - 1, f.split));
  const t = b.tangentAt(m, hi);
  fitSpan(b, lo, m, t0, t);
  fitSpan(b, m, hi, t, t1);
}

/** The straight cubic from a to b, its handles at the thirds. */
function straightCubic(a: Pt, b: Pt): Cubic {
  const at = (f: number): Pt => ({ x: a.x + (b.x - a.x) * f, y: a.y + (b.y - a.y) * f });
  return { p0: a, c1: at(1 / 3), c2: at(2 / 3), p3: b };
}

/**
 * The line through pts[lo..hi] that lies nearest them all (least squares across it), each point
 * weighted by the stretch of the stroke it stands for, so a slow end does not outweigh the rest.
 */
function bestLine(pts: readonly Pt[], lo: number, hi: number): { p: Pt; t: Pt } {
  const share = (k: number): number => (Math.hypot(pts[Math.min(hi, k + 1)].x - pts[Math.max(lo, k - 1)].x, pts[Math.min(hi, k + 1)].y - pts[Math.max(lo, k - 1)].y) / 2) || 1e-3;
  let w = 0, mx = 0, my = 0;
  for (let k = lo; k <= hi; k++) { const s = share(k); w += s; mx += s * pts[k].x; my += s * pts[k].y; }
  mx /= w; my /= w;
  let sxx = 0, syy = 0, sxy = 0;
  for (let k = lo; k <= hi; k++) {
    const s = share(k), dx = pts[k].x - mx, dy = pts[k].y - my;
    sxx += s * dx * dx; syy += s * dy * dy; sxy += s * dx * dy;
  }
  const ang = 0.5 * Math.atan2(2 * sxy, sxx - syy);
  return { p: { x: mx, y: my }, t: { x: Math.cos(ang), y: Math.sin(ang) } };
}

/** The point on a line nearest p. */
function onLine(line: { p: Pt; t: Pt }, p: Pt): Pt {
  const f = (p.x - line.p.x) * line.t.x + (p.y - line.p.y) * line.t.y;
  return { x: line.p.x + line.t.x * f, y: line.p.y + line.t.y * f };
}

/**
 * Whether pts[lo..hi] lie along a line: within `slack` of the best one, and bowing from it by
 * no more than STRAIGHT_BOW_PX (the parabola that best fits their offsets across it, in which
 * the pixels' scatter averages out and a gentle arc still shows).
 */
function isStraight(pts: readonly Pt[], lo: number, hi: number, slack: number): boolean {
  const line = bestLine(pts, lo, hi);
  // Offsets across the line against the distance along it, scaled to [-1, 1].
  let amin = Infinity, amax = -Infinity;
  for (let k = lo; k <= hi; k++) {
    const along = (pts[k].x - line.p.x) * line.t.x + (pts[k].y - line.p.y) * line.t.y;
    amin = Math.min(amin, along); amax = Math.max(amax, along);
  }
  const half = (amax - amin) / 2, mid = (amax + amin) / 2;
  if (!(half > 0)) return false;
  // Least squares for off = c0 + c2 u^2 (the line already takes the tilt).
  let s0 = 0, s2 = 0, s4 = 0, r0 = 0, r2 = 0;
  for (let k = lo; k <= hi; k++) {
    const dx = pts[k].x - line.p.x, dy = pts[k].y - line.p.y;
    const off = dx * line.t.y - dy * line.t.x;
    if (Math.abs(off) > slack) return false;
    const u = ((dx * line.t.x + dy * line.t.y) - mid) / half, u2 = u * u;
    s0 += 1; s2 += u2; s4 += u2 * u2; r0 += off; r2 += off * u2;
  }
  const det = s0 * s4 - s2 * s2;
  if (!(Math.abs(det) > 1e-12)) return true;
  const c2 = (s0 * r2 - s2 * r0) / det;
  // The parabola runs from its ends to its middle by c2 (u from +-1 to 0).
  return Math.abs(c2) <= STRAIGHT_BOW_PX;
}

/** Where two lines cross; null when they run too nearly alike for it to be well placed. */
function crossing(a: { p: Pt; t: Pt }, b: { p: Pt; t: Pt }): Pt | null {
  const cross = a.t.x * b.t.y - a.t.y * b.t.x;
  if (Math.abs(cross) < 0.3) return null;
  const u = ((b.p.x - a.p.x) * b.t.y - (b.p.y - a.p.y) * b.t.x) / cross;
  return { x: a.p.x + a.t.x * u, y: a.p.y + a.t.y * u };
}

// ---- The growing fit -------------------------------------------------------------------------------

/**
 * Fits smoothed points as they come, in screen pixels. Kept cubics stay as they are (unless
 * their part turns out straight, see straight()); the last one grows with the stroke. It is fitted to end a few pixels short of the newest point, arriving
 * in the stroke's direction there (the chord between points either side, which the newest ones
 * make known): one noisy end then cannot hand its error on to the next cubic, which leaves in
 * that same direction, so the join is smooth. The growing cubic is kept once it has failed to
 * take in more of the stroke for a few pixels running, as a stray point should not end a cubic
 * that the next points fit again.
 */
class CurveBuilder {
  readonly pts: InkPoint[] = [];
  /** Length along the fitted points up to each. */
  private readonly arcs: number[] = [];
  readonly kept: { c: Cubic; err: number }[] = [];
  /** Where the growing cubic starts, and the direction it must leave in (free at the stroke's start). */
  private from = 0;
  private t0: Pt | null = null;
  /** The growing cubic as last fitted, up to point `end`, arriving along `t`. */
  private good: { c: Cubic; err: number; end: number; t: Pt } | null = null;
  /** The last point the growing cubic was tried to. */
  private tried = 0;
  private sinceTry = 0;
  /** Where the part being drawn began (the start or the last corner), and its first kept cubic. */
  private part = 0;
  private partKept = 0;
  /** The line the part before ended along, when it was straight. */
  private endLine: { p: Pt; t: Pt } | null = null;

  constructor(readonly tolerance: number) {}

  push(p: InkPoint): void {
    const n = this.pts.length;
    this.arcs.push(n === 0 ? 0 : this.arcs[n - 1] + Math.hypot(p.x - this.pts[n - 1].x, p.y - this.pts[n - 1].y));
    this.pts.push(p);
    if (n === 0) return;
    if (p.corner) {
      this.finishPart(n);
      return;
    }
    // The newest point that has TANGENT_PX of the stroke after it.
    let e = this.tried;
    while (e + 1 < n && this.arcs[n] - this.arcs[e + 1] >= TANGENT_PX) e++;
    for (let i = this.tried + 1; i <= e; i++) this.grow(i, n);
  }

  /**
   * The stroke's direction at point i: the chord between the points a few pixels before and
   * after it (fewer round a tight bend), as far as the part it is in reaches and not past point
   * `hi`.
   */
  tangentAt(i: number, hi: number): Pt {
    const s = this.arcs[i];
    let a = i, b = i;
    for (let reach = Math.min(TANGENT_PX, s - this.arcs[this.from], this.arcs[hi] - s); ; reach /= 2) {
      a = i;
      b = i;
      while (a > this.from && s - this.arcs[a] < reach) a--;
      while (b < hi && this.arcs[b] - s < reach) b++;
      // Round a tight bend the chord either side points across the bend rather than along
      // it (at a loop's top it turns as much as the loop); a shorter one follows the stroke.
      if (reach <= TANGENT_MIN_PX || a === i || b === i || turnThrough(this.pts[a], this.pts[i], this.pts[b]) <= TANGENT_BEND) break;
    }
    const dx = this.pts[b].x - this.pts[a].x, dy = this.pts[b].y - this.pts[a].y;
    const len = Math.hypot(dx, dy);
    return len > 1e-9 ? { x: dx / len, y: dy / len } : this.pts[i].tin;
  }

  /** Tries the growing cubic out to point e; the stroke is known up to point n. */
  private grow(e: number, n: number): void {
    this.tried = e;
    const g = this.good;
    if (g && e - this.from > MAX_SPAN) { this.keepGood(n); return; }
    // A long cubic is refitted only every few points, so each event's work stays small.
    this.sinceTry += 1;
    const span = e - this.from;
    if (g && span > TRIES_PER_SPAN && this.sinceTry < Math.ceil(span / TRIES_PER_SPAN)) return;
    this.sinceTry = 0;
    const t = this.tangentAt(e, n);
    const f = fitOne(this.pts, this.from, e, this.t0, t, this.tolerance);
    if (f.err <= this.tolerance) {
      this.good = { c: f.c, err: f.err, end: e, t };
      return;
    }
    if (!g) {
      // Not even the first points from here fit one cubic (a tight hook): split them and go on.
      fitSpan(this, this.from, e, this.t0, t);
      this.from = e;
      this.t0 = t;
      return;
    }
    if (this.arcs[e] - this.arcs[g.end] >= TANGENT_PX) this.keepGood(n);
  }

  private keepGood(n: number): void {
    const g = this.good!;
    this.kept.push({ c: g.c, err: g.err });
    this.from = g.end;
    this.t0 = g.t;
    this.good = null;
    this.sinceTry = 0;
    // The points tried since then start the next cubic.
    const upTo = this.tried;
    this.tried = g.end;
    for (let i = g.end + 1; i <= upTo; i++) this.grow(i, n);
  }

  /** Fits the rest of the part, up to point n: a corner or the end of the stroke. */
  finishPart(n: number): void {
    if (!this.straight(n)) this.fitRest(n);
    this.from = n;
    this.tried = n;
    this.t0 = this.pts[n].tout;
    this.good = null;
    this.sinceTry = 0;
    this.part = n;
    this.partKept = this.kept.length;
  }

  /**
   * A part whose points scatter about a line no further than a mouse's whole pixels scatter a
   * line's reports, and which does not bow, is drawn as one straight cubic, in place of the few
   * the growing fit made of it: a ruler-straight line, or a zigzag's leg, is meant to be one.
   * Its ends are not the points the smoother placed from the few pixels next to each (each up to
   * half a pixel off): a corner between two straight legs lies where the lines their last
   * END_LINE_PX run along cross, and the stroke's own ends on those lines.
   */
  private straight(n: number): boolean {
    const a = this.pts[this.part], b = this.pts[n];
    const len = Math.hypot(b.x - a.x, b.y - a.y);
    const wasEnd = this.endLine;
    this.endLine = null;
    if (!(len > 2 * this.tolerance)) return false;
    if (!isStraight(this.pts, this.part, n, Math.max(this.tolerance, STRAIGHT_PX))) return false;
    const first = this.endBack(this.part, n, 1), last = this.endBack(n, this.part, -1);
    let p0: Pt = this.part === 0 ? onLine(first, a) : a;
    const prev = this.partKept > 0 ? this.kept[this.partKept - 1] : null;
    if (wasEnd && prev && a.corner) {
      const m = crossing(wasEnd, first);
      if (m) {
        const d = Math.hypot(m.x - a.x, m.y - a.y);
        const f = d > CORNER_MOVE_PX ? CORNER_MOVE_PX / d : 1;
        p0 = { x: a.x + (m.x - a.x) * f, y: a.y + (m.y - a.y) * f };
        prev.c = straightCubic(prev.c.p0, p0);
      }
    }
    const p3 = b.corner ? b : onLine(last, b);
    let err = 0;
    for (let i = this.part + 1; i < n; i++) err = Math.max(err, distToSegment(this.pts[i], p0, p3));
    this.kept.length = this.partKept;
    this.kept.push({ c: straightCubic(p0, p3), err });
    this.endLine = last;
    return true;
  }

  /** The best line through the points from i towards `to` over END_LINE_PX of the stroke (`dir` the way to go). */
  private endBack(i: number, to: number, dir: 1 | -1): { p: Pt; t: Pt } {
    let j = i;
    while (j !== to && Math.abs(this.arcs[j + dir] - this.arcs[i]) <= END_LINE_PX) j += dir;
    return dir > 0 ? bestLine(this.pts, i, j) : bestLine(this.pts, j, i);
  }

  /**
   * How the part must arrive at point n: at a corner, along the stroke's direction into it
   * (the few points next to a corner wobble, and a free end would follow the wobble and round
   * the corner off); at the end of the stroke, as the points lead.
   */
  private arrival(n: number): Pt | null {
    return this.pts[n].corner ? this.pts[n].tin : null;
  }

  private fitRest(n: number): void {
    while (this.from < n) {
      const f = fitOne(this.pts, this.from, n, this.t0, this.arrival(n), this.tolerance);
      if (f.err <= this.tolerance) {
        this.kept.push({ c: f.c, err: f.err });
        break;
      }
      if (this.good && this.good.end > this.from) {
        this.keepGood(n);
        // The rest, up to n, is tried with its end now known.
        for (let i = this.tried + 1; i < n; i++) this.grow(i, n);
        if (this.good && this.good.end > this.from) continue;
      }
      fitSpan(this, this.from, n, this.t0, this.arrival(n));
      break;
    }
  }
}

/**
 * A stroke being drawn, fitted as it grows. Points come in slide points; `ptPerPx` (slide
 * points per screen pixel, from the zoom when the pen went down) puts them in screen pixels,
 * where the smoothing and the tolerance are measured.
 */
export class InkFitter {
  private readonly smoother: Smoother;
  private readonly curve: CurveBuilder;
  private readonly raw: Pt[] = [];
  /** The smoothed stroke so far, in slide points, as the fitter sees it. */
  readonly smoothed: Pt[] = [];
  private readonly k: number;

  constructor(readonly ptPerPx = 1, tolerancePx = TOLERANCE_PX, smoothing: Partial<SmoothOptions> = {}) {
    this.k = Number.isFinite(ptPerPx) && ptPerPx > 0 ? ptPerPx : 1;
    this.smoother = new Smoother(smoothing);
    this.curve = new CurveBuilder(tolerancePx);
  }

  add(p: Pt): void {
    if (!Number.isFinite(p.x) || !Number.isFinite(p.y)) return;
    const before = this.smoother.count;
    this.take(this.smoother.push(p.x / this.k, p.y / this.k));
    if (this.smoother.count > before) this.raw.push({ x: p.x, y: p.y });
  }

  /** How many cubics are final already; lifting the pen fits only what comes after them. */
  get settled(): number { return this.curve.kept.length; }

  /** The points drawn but not yet smoothed (the last few pixels), in slide points. */
  pending(): Pt[] { return this.raw.slice(this.smoother.done); }

  private take(ps: InkPoint[], final = false): void {
    const pts = this.curve.pts;
    ps.forEach((q, i) => {
      const last = pts[pts.length - 1];
      // Corners and the end of the stroke always count, however close to the point before.
      const keep = !last || q.corner || (final && i === ps.length - 1) || Math.hypot(q.x - last.x, q.y - last.y) >= FIT_GAP_PX;
      if (!keep) return;
      this.curve.push(q);
      this.smoothed.push({ x: q.x * this.k, y: q.y * this.k });
    });
  }

  /** The pen is up: the rest of the stroke is fitted and the whole outline given. */
  finish(): Fitted {
    const raw = this.raw;
    if (raw.length === 0) return { subpaths: [], error: 0 };
    if (raw.length === 1) {
      // A tap: a dot, drawn as the shortest line the slide keeps.
      const p = raw[0];
      return { subpaths: [{ start: { ...p }, segs: [{ kind: 'L', to: { x: p.x + 0.01, y: p.y } }], closed: false }], error: 0 };
    }
    if (raw.length === 2) return { subpaths: [{ start: { ...raw[0] }, segs: [{ kind: 'L', to: { ...raw[1] } }], closed: false }], error: 0 };
    this.take(this.smoother.end(), true);
    this.curve.finishPart(this.curve.pts.length - 1);
    const k = this.k;
    const pt = (p: Pt): Pt => ({ x: p.x * k, y: p.y * k });
    const segs: Segment[] = this.curve.kept.map(({ c }) => ({ kind: 'C', c1: pt(c.c1), c2: pt(c.c2), to: pt(c.p3) }));
    let error = 0;
    for (const s of this.curve.kept) error = Math.max(error, s.err * k);
    // The ends lie where the smoother put them: on the line the stroke's first and last pixels
    // follow, within a pixel or so of where the pen was reported.
    const sp: Subpath = { start: pt(this.curve.kept[0]?.c.p0 ?? this.curve.pts[0]), segs, closed: false };
    if (segs.length === 0 || !segs.every(finiteSeg)) {
      // Never reached with finite input; a polyline of the smoothed points is always drawable.
      const line = dedupe(this.smoothed.length >= 2 ? this.smoothed : raw);
      return { subpaths: [{ start: line[0], segs: line.slice(1).map((to): Segment => ({ kind: 'L', to })), closed: false }], error: 0 };
    }
    return { subpaths: [sp], error };
  }
}

const finiteSeg = (s: Segment): boolean =>
  s.kind === 'L' ? Number.isFinite(s.to.x + s.to.y) : Number.isFinite(s.c1.x + s.c1.y + s.c2.x + s.c2.y + s.to.x + s.to.y);

/** The whole stroke at once: as if drawn point by point at the given zoom and the pen lifted. */
export function fitStroke(points: readonly Pt[], ptPerPx = 1, tolerancePx = TOLERANCE_PX, smoothing: Partial<SmoothOptions> = {}): Fitted {
  const f = new InkFitter(ptPerPx, tolerancePx, smoothing);
  for (const p of points) f.add(p);
  return f.finish();
}

/**
 * The larger of: the furthest point from the outline, and the furthest point of the outline
 * from the polyline through the points. Both run in order along the stroke, so each search
 * starts near the previous answer and only falls back to a full search when the near one is
 * not good enough; a near answer is never smaller than the true one, so nothing is missed.
 */
export function deviation(points: readonly Pt[], subpaths: readonly Subpath[]): number {
  const outline = samplePoints(subpaths, 0.5).flat();
  return Math.max(oneWay(points, outline), oneWay(outline, points));
}

function oneWay(from: readonly Pt[], line: readonly Pt[]): number {
  if (line.length === 0 || from.length === 0) return from.length === 0 ? 0 : Infinity;
  if (line.length === 1) return Math.max(...from.map((p) => Math.hypot(p.x - line[0].x, p.y - line[0].y)));
  let worst = 0;
  let at = 0;
  const near = (p: Pt, lo: number, hi: number): [number, number] => {
    let best = Infinity, idx = lo;
    for (let i = Math.max(1, lo); i <= Math.min(line.length - 1, hi); i++) {
      const d = distToSegment(p, line[i - 1], line[i]);
      if (d < best) { best = d; idx = i; }
    }
    return [best, idx];
  };
  for (const p of from) {
    let [d, idx] = near(p, at - 8, at + 64);
    if (d > worst) [d, idx] = near(p, 1, line.length - 1);
    at = idx;
    if (d > worst) worst = d;
  }
  return worst;
}

/**
 * Runs the fitter once over a small made-up stroke (a loop, a straight run, a corner) and
 * measures its outline, so that the first stroke the user lifts the pen from runs code the
 * script engine has already compiled: otherwise that first pen-up pays for compiling the
 * fitter's finishing steps, several milliseconds in one frame. Answers the cubics it made.
 */
export function warmInk(): number {
  const pts: Pt[] = [];
  for (let i = 0; i <= 60; i++) {
    const a = (i / 60) * 2.2 * Math.PI;
    pts.push({ x: Math.round(100 + 30 * Math.cos(a) + i * 1.5), y: Math.round(100 + 30 * Math.sin(a)) });
  }
  for (let i = 1; i <= 30; i++) pts.push({ x: pts[60].x + i * 2, y: pts[60].y });
  for (let i = 1; i <= 30; i++) pts.push({ x: pts[90].x, y: pts[90].y + i * 2 });
  let cubics = 0;
  for (const k of [1, 1.25]) {
    const f = new InkFitter(k);
    for (const p of pts) { f.add({ x: p.x * k, y: p.y * k }); f.pending(); }
    const { subpaths } = f.finish();
    outlineBounds(subpaths);
    cubics += subpaths[0]?.segs.length ?? 0;
  }
  return cubics;
}
