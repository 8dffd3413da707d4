// Turning a drawn stroke into a few smooth cubic segments, once the pen is lifted. The raw
// points are evened out, thinned (simplify-js) and fitted with Schneider's method
// (fit-curve), and the result is then measured against every drawn point: when it strays
// further than the tolerance, a closer fit is tried, and as a last resort the stroke is kept
// as a thinned polyline, which is always close enough. So the promise "within the tolerance
// of what was drawn" holds whatever the fitter does (and it does bulge now and then).
import fitCurve from 'fit-curve';
import simplify from 'simplify-js';
import { type Pt, distToSegment } from './geometry.js';
import { type Segment, type Subpath, samplePoints } from './path.js';

export interface Fitted {
  subpaths: Subpath[];
  /** The largest distance, in points, between the drawn points and the result, both ways. */
  error: number;
}

/** Drops repeated points, which carry no shape and upset the fitter's tangents. */
export function dedupe(points: readonly Pt[], minGap = 0.01): Pt[] {
  const out: Pt[] = [];
  for (const p of points) {
    if (!Number.isFinite(p.x) || !Number.isFinite(p.y)) continue;
    const last = out[out.length - 1];
    if (!last || Math.hypot(p.x - last.x, p.y - last.y) >= minGap) out.push({ x: p.x, y: p.y });
  }
  return out;
}

/**
 * Ways to fit, from the most compact to the most faithful: a hand's tremor is first evened
 * out over a few neighbours (so the fitter sees the line the hand meant, not its jitter),
 * then thinned and fitted. The first result that stays within the tolerance of the drawn
 * points wins; fast, careless strokes fail the smoothed tries (they would cut corners) and
 * get a closer fit.
 */
const TRIES: readonly { smooth: number; thin: number; fit: number }[] = [
  { smooth: 4, thin: 0.2, fit: 0.5 },
  { smooth: 4, thin: 0.1, fit: 0.3 },
  { smooth: 2, thin: 0.2, fit: 0.5 },
  { smooth: 0, thin: 0.2, fit: 0.7 },
  { smooth: 0, thin: 0.1, fit: 0.5 },
  { smooth: 0, thin: 0.1, fit: 0.25 },
];

export function fitStroke(points: readonly Pt[], tolerance = 0.5): Fitted {
  const pts = dedupe(points);
  if (pts.length === 0) return { subpaths: [], error: 0 };
  if (pts.length === 1) {
    // A tap: a dot, drawn as the shortest line the slide keeps.
    const p = pts[0];
    return { subpaths: [{ start: p, segs: [{ kind: 'L', to: { x: p.x + 0.01, y: p.y } }], closed: false }], error: 0 };
  }
  if (pts.length === 2) {
    return { subpaths: [{ start: pts[0], segs: [{ kind: 'L', to: pts[1] }], closed: false }], error: 0 };
  }
  // No fit may come out larger than the thinned polyline, which is always close enough.
  const line = simplify(pts, tolerance * 0.5, true);
  const lineSp: Subpath = { start: line[0], segs: line.slice(1).map((to): Segment => ({ kind: 'L', to })), closed: false };
  for (const t of TRIES) {
    const thin = simplify(smooth(pts, t.smooth), tolerance * t.thin, true);
    const allowed = tolerance * t.fit;
    const curves = fitCurve(thin.map((p) => [p.x, p.y] as [number, number]), allowed * allowed);
    if (curves.length === 0 || curves.some((c) => c.some(([x, y]) => !Number.isFinite(x) || !Number.isFinite(y)))) continue;
    const sp: Subpath = {
      start: { x: curves[0][0][0], y: curves[0][0][1] },
      segs: curves.map(([, c1, c2, to]): Segment => ({ kind: 'C', c1: { x: c1[0], y: c1[1] }, c2: { x: c2[0], y: c2[1] }, to: { x: to[0], y: to[1] } })),
      closed: false,
    };
    // A cubic carries three points; past twice the polyline's size, closer tries only grow.
    if (sp.segs.length * 3 > lineSp.segs.length * 2) break;
    const error = deviation(pts, [sp]);
    if (error <= tolerance) return { subpaths: [sp], error };
  }
  return { subpaths: [lineSp], error: deviation(pts, [lineSp]) };
}

/** Each point moved to the mean of itself and k neighbours either side; the ends stay put. */
export function smooth(points: readonly Pt[], k: number): Pt[] {
  if (k === 0 || points.length < 2 * k + 1) return points.slice();
  return points.map((p, i) => {
    const r = Math.min(k, i, points.length - 1 - i);
    if (r === 0) return p;
    let x = 0, y = 0;
    for (let j = -r; j <= r; j++) { x += points[i + j].x; y += points[i + j].y; }
    return { x: x / (2 * r + 1), y: y / (2 * r + 1) };
  });
}

/**
 * The larger of: the furthest drawn point from the outline, and the furthest point of the
 * outline from the drawn polyline. Both run in order along the stroke, so each search starts
 * near the previous answer and only falls back to a full search when the near one is not
 * good enough; a near answer is never smaller than the true one, so nothing is missed.
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
