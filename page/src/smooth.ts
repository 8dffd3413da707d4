// Evening out the pointer's path before it is fitted. A mouse or trackpad reports whole screen
// pixels, so a slow stroke arrives as a staircase and a curve as a chain of one-pixel kinks;
// fitted as reported, that noise becomes corners and wiggles. The smoother works in screen
// pixels, so it behaves the same at any zoom, and along the path's length rather than per
// report, so a slow, dense stroke is averaged over many reports.
//
// How widely it averages adapts to the stroke, as good ink filters adapt to speed: widely
// where the path runs straight (there the rounding is all there is to remove), less where it
// bends (an average over a bend pulls it inwards, and that pull is kept under a tenth of a
// pixel), and hardly at all where the reports come far apart (a fast stroke: each report says
// more about the shape than its rounding does). It never averages across a corner: where the
// stroke turns sharply at one place (a square, a zigzag, a check mark) it is cut, and each part
// is smoothed on its own. A tight round, such as the top of a handwritten loop, turns as far but
// spreads the turn along its length, and is smoothed as the curve it is.
//
// A part's ends are not held on the pixel the pen reported there (a whole pixel, up to half a
// pixel off the line the hand drew, and bending the last pixels of a straight leg towards it):
// a corner lies where the two legs' lines meet, a stroke's ends on the line its first and last
// few pixels follow.
//
// It runs as the stroke grows. A point is given out once nothing drawn later can change it:
// the pen has gone far enough on to show the whole averaging window and to tell whether a
// corner falls inside it.
import { type Pt, turnThrough } from './geometry.js';

export interface InkPoint {
  x: number;
  y: number;
  /** Unit tangent arriving at the point and the one leaving it; they differ only at a corner. */
  tin: Pt;
  tout: Pt;
  corner: boolean;
}

export interface SmoothOptions {
  /** The widest averaging (a Gaussian's sigma along the path), on straight runs, in pixels. */
  widest: number;
  /** How far an average may pull a bend inwards, in pixels; it narrows the averaging there. */
  pull: number;
  /** Reports further apart than this, in pixels, are averaged less and less. */
  dense: number;
}

export const SMOOTHING: SmoothOptions = { widest: 5, pull: 0.1, dense: 5 };

/** How far either side of a point the turn that makes a corner is measured, in pixels. */
export const CORNER_REACH_PX = 6;
/** A turn at least this sharp over that reach is a corner (a circle of 6 px radius turns this much). */
export const CORNER_ANGLE = (60 * Math.PI) / 180;
/**
 * A corner turns at one place: over half the reach it turns nearly as far as over the whole
 * (a round turns half as far, as its turn grows with the length measured).
 */
const CORNER_SHARE = 0.5;
/** How far either side the turn is measured again, in pixels, to tell a corner from a round. */
const CORNER_WIDE_PX = 12;
/** A corner turns over that reach no more than this many times as far as over its own. */
const CORNER_SPREAD = 1.3;
/**
 * And again further out: a loop's top drawn slowly, its whole pixels stepping, can turn at one
 * pixel almost as a corner does for 12 px either side, but not for 18.
 */
const CORNER_WIDER_PX = 18;
const CORNER_SPREAD_WIDER = 1.45;
/** How far on the pen must be before a point can be called a corner or not, in pixels. */
const CORNER_AHEAD_PX = Math.max(2 * CORNER_REACH_PX, CORNER_WIDER_PX);
/** How much of a part's ends, in pixels, the line they lie on is taken from. */
const END_FIT_PX = 8;
/**
 * How far a part's end may move off the reported pixel onto that line, in pixels: a whole
 * pixel is within half a pixel of where the hand was, so no further.
 */
const END_SHIFT_PX = 0.45;
/** How far either side of a point its bend is measured, to choose the averaging there. */
const BEND_REACH_PX = 12;
/** Reports closer than this, in pixels, add nothing but trouble for the tangents. */
const MIN_GAP_PX = 0.01;

export class Smoother {
  private readonly xs: number[] = [];
  private readonly ys: number[] = [];
  /** Length along the raw path up to each point. */
  private readonly ss: number[] = [];
  private readonly turn: number[] = [];
  /** Where each corner found so far lies (the legs' meeting point), by point index. */
  private readonly cornerPos = new Map<number, Pt>();
  /** Where the stroke's first and last points lie, once known. */
  private startPos: Pt | null = null;
  private endPos: Pt | null = null;
  /** The corners found so far, in order, and whether each point is one. */
  private readonly cornerAt: number[] = [];
  private readonly isC: boolean[] = [];
  private emitted = 0;
  private ended = false;
  private readonly window: number;
  private readonly o: SmoothOptions;

  constructor(options: Partial<SmoothOptions> = {}) {
    this.o = { ...SMOOTHING, ...options };
    this.window = 3 * this.o.widest;
  }

  /** Raw points kept so far (repeats and non-finite ones are dropped). */
  get count(): number { return this.xs.length; }
  /** How many of them have been given out smoothed. */
  get done(): number { return this.emitted; }

  /** Adds a pointer position in screen pixels; answers the points that became final. */
  push(x: number, y: number): InkPoint[] {
    if (this.ended || !Number.isFinite(x) || !Number.isFinite(y)) return [];
    const n = this.xs.length;
    if (n > 0) {
      const d = Math.hypot(x - this.xs[n - 1], y - this.ys[n - 1]);
      if (d < MIN_GAP_PX) return [];
      this.ss.push(this.ss[n - 1] + d);
    } else {
      this.ss.push(0);
    }
    this.xs.push(x);
    this.ys.push(y);
    return this.advance();
  }

  /** The pen is up: everything left becomes final. */
  end(): InkPoint[] {
    if (this.ended) return [];
    this.ended = true;
    return this.advance();
  }

  private get length(): number { return this.ss.length === 0 ? 0 : this.ss[this.ss.length - 1]; }

  private advance(): InkPoint[] {
    const total = this.length;
    const n = this.xs.length;
    const reach = CORNER_REACH_PX;
    // Turns first: each needs the path `reach` beyond it.
    while (this.turn.length < n && (this.ended || this.ss[this.turn.length] + reach <= total)) {
      this.turn.push(this.turnAt(this.turn.length, reach));
    }
    // A corner is the sharpest turn within `reach` either side, so deciding one needs the
    // turns that far on, and the path as far as the widest turn it is measured against.
    while (this.isC.length < n && (this.ended || this.ss[this.isC.length] + CORNER_AHEAD_PX <= total)) {
      const i = this.isC.length;
      const c = this.isCorner(i);
      this.isC.push(c);
      if (c) {
        this.cornerPos.set(i, this.meeting(i, this.cornerAt.length > 0 ? this.cornerAt[this.cornerAt.length - 1] : 0));
        this.cornerAt.push(i);
      }
    }
    const out: InkPoint[] = [];
    const known = this.isC.length < n ? this.ss[this.isC.length] : Infinity;
    while (this.emitted < n && (this.ended || (this.ss[this.emitted] + this.window < known && this.ss[this.emitted] + Math.max(this.window, BEND_REACH_PX) <= total))) {
      out.push(this.smoothed(this.emitted));
      this.emitted += 1;
    }
    return out;
  }

  /** The angle the path turns through over `reach` either side of point i; 0 near the ends. */
  private turnAt(i: number, reach: number): number {
    const s = this.ss[i];
    const total = this.length;
    const r = Math.min(reach, s, total - s);
    return r < reach / 2 ? 0 : this.bend(i, r);
  }

  private isCorner(i: number): boolean {
    const t = this.turn[i];
    if (!(t >= CORNER_ANGLE)) return false;
    const s = this.ss[i];
    for (let j = i - 1; j >= 0 && s - this.ss[j] <= CORNER_REACH_PX; j--) if (this.turn[j] >= t) return false;
    for (let j = i + 1; j < this.turn.length && this.ss[j] - s <= CORNER_REACH_PX; j++) if (this.turn[j] > t) return false;
    // A round turns along its length; a corner, where the hand turned, at one place.
    if (this.turnAt(i, CORNER_REACH_PX / 2) < CORNER_SHARE * t) return false;
    // And past the reach it turns no further: a loop's tight top may turn nearly all at once
    // when the reports are whole pixels, but it goes on turning, being round.
    const wide = this.turnAt(i, CORNER_WIDE_PX);
    if (wide !== 0 && wide > CORNER_SPREAD * t) return false;
    const wider = this.turnAt(i, CORNER_WIDER_PX);
    return wider === 0 || wider <= CORNER_SPREAD_WIDER * t;
  }

  /**
   * The part point i belongs to, as point indices: from the corner before (or the start) to
   * the corner after (or the end; or -1 while the pen is still going and no corner is known).
   * At a corner, `after` picks the part that leaves it.
   */
  private section(i: number, after: boolean): [number, number] {
    // The first corner at or past i.
    const cs = this.cornerAt;
    let a = 0, b = cs.length;
    while (a < b) {
      const m = (a + b) >> 1;
      if (cs[m] < i) a = m + 1; else b = m;
    }
    const here = a < cs.length && cs[a] === i;
    const before = here && after ? i : a > 0 ? cs[a - 1] : 0;
    const next = here && !after ? i : here ? (a + 1 < cs.length ? cs[a + 1] : -1) : a < cs.length ? cs[a] : -1;
    return [before, next >= 0 ? next : this.ended ? this.xs.length - 1 : -1];
  }

  private smoothed(i: number): InkPoint {
    const corner = this.isC[i] === true;
    const first = i === 0, last = this.ended && i === this.xs.length - 1;
    if (corner || first || last) {
      // Where the legs meet, or on the line the stroke's end follows; the tangents come from
      // the parts on either side.
      const tin = first ? null : this.average(i, ...this.section(i, false)).t;
      const tout = last ? null : this.average(i, ...this.section(i, true)).t;
      const t = tin ?? tout ?? { x: 1, y: 0 };
      const p = this.anchor(i);
      return { x: p.x, y: p.y, tin: t, tout: tout ?? t, corner };
    }
    const { p, t } = this.average(i, ...this.section(i, true));
    return { x: p.x, y: p.y, tin: t, tout: t, corner: false };
  }

  /** The angle between the chords r either side of point i. */
  private bend(i: number, r: number): number {
    const s = this.ss[i];
    return turnThrough(this.at(s - r), { x: this.xs[i], y: this.ys[i] }, this.at(s + r));
  }

  /** The width of the averaging at point i, within the part [lo, hi] (see the top of the file). */
  private sigmaAt(i: number, lo: number, hi: number): number {
    const { widest, pull, dense } = this.o;
    const n = this.ss.length;
    const j0 = Math.max(0, i - 1), j1 = Math.min(n - 1, i + 1);
    const gap = j1 > j0 ? (this.ss[j1] - this.ss[j0]) / (j1 - j0) : 0;
    let sigma = gap > dense ? widest * (dense / gap) ** 2 : widest;
    // A circle's average over sigma pulls it in by sigma^2 / 2r.
    const s = this.ss[i];
    const r = Math.min(BEND_REACH_PX, s - lo, hi - s);
    if (r >= 1) {
      let curvature = this.bend(i, r) / r;
      // A tight round (a loop's top) turns through more than half a turn over the long reach,
      // which then reads as less; over the short one it shows, less the rounding's noise.
      const near = Math.min(r, CORNER_REACH_PX);
      if (near >= 1) curvature = Math.max(curvature, (this.bend(i, near) - 0.2) / near);
      if (curvature > 0) sigma = Math.min(sigma, Math.sqrt((2 * pull) / curvature));
    }
    return Math.max(0.1, sigma);
  }

  /**
   * The Gaussian average of the reports around point i within its part (points lo to hi, hi
   * -1 for not known yet), and the direction there. Each report counts for the stretch of path
   * it stands for, so a burst of slow reports weighs no more than one fast one over the same
   * length. Beyond either end the part is continued by turning it about its end point, which
   * keeps the end point fixed and a straight end straight.
   */
  private average(i: number, lo: number, hi: number): { p: Pt; t: Pt } {
    const ss = this.ss, xs = this.xs, ys = this.ys;
    const s = ss[i];
    const lo0 = ss[lo], hi0 = hi >= 0 ? ss[hi] : Infinity;
    const sigma = this.sigmaAt(i, lo0, hi0);
    // The direction is taken over at least a couple of pixels, even where the position is not averaged.
    const sigmaT = Math.max(sigma, 2);
    const reach = 3 * sigmaT;
    const top = hi >= 0 ? hi : xs.length - 1;
    // The reports in reach, in order along the path: mirrored ones before the part's start,
    // the part's own, mirrored ones past its end.
    const at: number[] = [], px: number[] = [], py: number[] = [];
    const a0 = s - lo0 < reach ? this.anchor(lo) : null;
    const a1 = hi >= 0 && hi0 < s + reach ? this.anchor(hi) : null;
    if (a0) {
      for (let k = this.lastBefore(lo + 1, top, lo0 + reach - (s - lo0)); k > lo; k--) {
        at.push(2 * lo0 - ss[k]); px.push(2 * a0.x - xs[k]); py.push(2 * a0.y - ys[k]);
      }
    }
    let j = this.firstFrom(lo, top, s - reach);
    for (; j <= top && ss[j] <= s + reach; j++) { at.push(ss[j]); px.push(xs[j]); py.push(ys[j]); }
    if (a1) {
      for (let k = hi - 1; k >= lo && 2 * hi0 - ss[k] <= s + reach; k--) {
        at.push(2 * hi0 - ss[k]); px.push(2 * a1.x - xs[k]); py.push(2 * a1.y - ys[k]);
      }
    }
    let wx = 0, wy = 0, w = 0, dx = 0, dy = 0;
    const m = at.length;
    for (let k = 0; k < m; k++) {
      const share = ((k + 1 < m ? at[k + 1] : at[k]) - (k > 0 ? at[k - 1] : at[k])) / 2 || 1;
      const off = at[k] - s;
      const kp = Math.exp(-(off * off) / (2 * sigma * sigma)) * share;
      const kt = Math.exp(-(off * off) / (2 * sigmaT * sigmaT)) * share * off;
      wx += kp * px[k]; wy += kp * py[k]; w += kp;
      // Taken from the point itself: the weights' own sum is not quite zero where the reports
      // are unevenly spaced, and times the position that would swamp the direction.
      dx += kt * (px[k] - xs[i]); dy += kt * (py[k] - ys[i]);
    }
    let len = Math.hypot(dx, dy);
    if (!(len > 1e-9)) {
      // No direction to be had from the average (reports far apart): the neighbours' chord.
      const b = Math.min(i + 1, top), a = Math.max(lo, Math.min(i, b) - 1);
      dx = xs[b] - xs[a]; dy = ys[b] - ys[a];
      len = Math.hypot(dx, dy);
      if (!(len > 1e-9)) { dx = 1; dy = 0; len = 1; }
    }
    return { p: w > 0 ? { x: wx / w, y: wy / w } : { x: xs[i], y: ys[i] }, t: { x: dx / len, y: dy / len } };
  }

  /**
   * Where a part's end at point j lies: a corner where its legs meet, the stroke's first and
   * last points on the line their ends follow (see the top of the file).
   */
  private anchor(j: number): Pt {
    const c = this.cornerPos.get(j);
    if (c) return c;
    const n = this.xs.length;
    if (j === 0) {
      if (!this.startPos) {
        const b = this.cornerAt.length > 0 ? this.cornerAt[0] : n - 1;
        this.startPos = this.held(0, this.lineEnd(0, b));
      }
      return this.startPos;
    }
    if (this.ended && j === n - 1) {
      if (!this.endPos) {
        const a = this.cornerAt.length > 0 ? this.cornerAt[this.cornerAt.length - 1] : 0;
        this.endPos = this.held(j, this.lineEnd(j, a));
      }
      return this.endPos;
    }
    return { x: this.xs[j], y: this.ys[j] };
  }

  /** Where the leg from corner `from` into corner c and the leg leaving c meet. */
  private meeting(c: number, from: number): Pt {
    const a = this.lineEnd(c, from), b = this.lineEnd(c, this.xs.length - 1);
    if (!a || !b) return this.held(c, a ?? b);
    // The lines p + t u: where a's meets b's.
    const cross = a.t.x * b.t.y - a.t.y * b.t.x;
    if (Math.abs(cross) < 0.3) return this.held(c, { p: { x: (a.p.x + b.p.x) / 2, y: (a.p.y + b.p.y) / 2 } });
    const u = ((b.p.x - a.p.x) * b.t.y - (b.p.y - a.p.y) * b.t.x) / cross;
    return this.held(c, { p: { x: a.p.x + a.t.x * u, y: a.p.y + a.t.y * u } });
  }

  /** Point j moved onto a line's position, but never further than END_SHIFT_PX. */
  private held(j: number, line: { p: Pt } | null): Pt {
    const x = this.xs[j], y = this.ys[j];
    if (!line) return { x, y };
    const dx = line.p.x - x, dy = line.p.y - y;
    const d = Math.hypot(dx, dy);
    if (!(d > END_SHIFT_PX)) return Number.isFinite(d) ? { x: line.p.x, y: line.p.y } : { x, y };
    return { x: x + (dx * END_SHIFT_PX) / d, y: y + (dy * END_SHIFT_PX) / d };
  }

  /**
   * The line the path follows over its first END_FIT_PX from point j towards point `to`
   * (either way along it, not past `to`): the best line through those reports (least squares
   * across it, each report weighted by the stretch of path it stands for), with point j put
   * on it and its direction from j into the part. Null when there is too little to tell.
   */
  private lineEnd(j: number, to: number): { p: Pt; t: Pt } | null {
    const ss = this.ss, xs = this.xs, ys = this.ys;
    const dir = to >= j ? 1 : -1;
    const s0 = ss[j];
    const idx: number[] = [];
    for (let k = j; dir > 0 ? k <= to : k >= to; k += dir) {
      if (Math.abs(ss[k] - s0) > END_FIT_PX) break;
      idx.push(k);
    }
    const last = idx[idx.length - 1];
    if (idx.length < 3 || Math.abs(ss[last] - s0) < END_FIT_PX / 2) return null;
    let w = 0, mx = 0, my = 0;
    const share = idx.map((k, m) => Math.abs(ss[idx[Math.min(idx.length - 1, m + 1)]] - ss[idx[Math.max(0, m - 1)]]) / 2 || 0.5);
    idx.forEach((k, m) => { w += share[m]; mx += share[m] * xs[k]; my += share[m] * ys[k]; });
    mx /= w; my /= w;
    let sxx = 0, syy = 0, sxy = 0;
    idx.forEach((k, m) => {
      const dx = xs[k] - mx, dy = ys[k] - my;
      sxx += share[m] * dx * dx; syy += share[m] * dy * dy; sxy += share[m] * dx * dy;
    });
    // The direction of most spread.
    const ang = 0.5 * Math.atan2(2 * sxy, sxx - syy);
    let tx = Math.cos(ang), ty = Math.sin(ang);
    if (tx * (xs[last] - xs[j]) + ty * (ys[last] - ys[j]) < 0) { tx = -tx; ty = -ty; }
    const along = (xs[j] - mx) * tx + (ys[j] - my) * ty;
    return { p: { x: mx + tx * along, y: my + ty * along }, t: { x: tx, y: ty } };
  }

  /** The first point in [lo, hi] at or past length s along the path. */
  private firstFrom(lo: number, hi: number, s: number): number {
    let a = lo, b = hi + 1;
    while (a < b) {
      const m = (a + b) >> 1;
      if (this.ss[m] < s) a = m + 1; else b = m;
    }
    return a;
  }

  /** The last point in [lo, hi] at or before length s along the path. */
  private lastBefore(lo: number, hi: number, s: number): number {
    return this.firstFrom(lo, hi, s + 1e-12) - 1;
  }

  /** The point at length s along the raw path. */
  private at(s: number): Pt {
    const ss = this.ss;
    const n = ss.length;
    if (s <= 0 || n === 1) return { x: this.xs[0], y: this.ys[0] };
    if (s >= ss[n - 1]) return { x: this.xs[n - 1], y: this.ys[n - 1] };
    let lo = 0, hi = n - 1;
    while (hi - lo > 1) {
      const mid = (lo + hi) >> 1;
      if (ss[mid] <= s) lo = mid; else hi = mid;
    }
    const f = (s - ss[lo]) / (ss[hi] - ss[lo]);
    return { x: this.xs[lo] + f * (this.xs[hi] - this.xs[lo]), y: this.ys[lo] + f * (this.ys[hi] - this.ys[lo]) };
  }
}

/**
 * The whole stroke smoothed at once, every point of it, in the units it came in (`ptPerPx` of
 * them to a screen pixel): what the fitter is measured against.
 */
export function smoothStroke(points: readonly Pt[], ptPerPx = 1, options: Partial<SmoothOptions> = {}): InkPoint[] {
  const sm = new Smoother(options);
  const out: InkPoint[] = [];
  for (const p of points) out.push(...sm.push(p.x / ptPerPx, p.y / ptPerPx));
  out.push(...sm.end());
  return out.map((q) => ({ ...q, x: q.x * ptPerPx, y: q.y * ptPerPx }));
}
