// The drawing's outlines and their text form. An outline is a list of subpaths in slide
// points; each subpath starts at a point and goes on with straight or cubic segments, and
// may be closed. The text form is what the add-in turns into freeforms: absolute M, L, C and
// Z only, one subpath per freeform, so it is also valid SVG path data and the page shows
// exactly the text it sends.
import { type Pt, type Rect, boundsOf, cubicAt, distToSegment } from './geometry.js';

export type Segment =
  | { kind: 'L'; to: Pt }
  | { kind: 'C'; c1: Pt; c2: Pt; to: Pt };

export interface Subpath {
  start: Pt;
  segs: Segment[];
  closed: boolean;
}

/** A number as the path text writes it: at most two decimals, no trailing zeros, no "-0". */
export function num(v: number): string {
  if (!Number.isFinite(v)) return '0';
  const r = Math.round(v * 100) / 100;
  if (r === 0) return '0';
  return String(r);
}

const p2 = (p: Pt) => `${num(p.x)} ${num(p.y)}`;

export function subpathText(sp: Subpath): string {
  let out = `M${p2(sp.start)}`;
  for (const s of sp.segs) {
    out += s.kind === 'L' ? ` L${p2(s.to)}` : ` C${p2(s.c1)} ${p2(s.c2)} ${p2(s.to)}`;
  }
  if (sp.closed) out += ' Z';
  return out;
}

export function pathText(subpaths: readonly Subpath[]): string {
  return subpaths.map(subpathText).join(' ');
}

/** The polyline text of raw points, the size a fitted stroke is compared with. */
export function polylineText(points: readonly Pt[]): string {
  if (points.length === 0) return '';
  return `M${p2(points[0])}` + points.slice(1).map((p) => ` L${p2(p)}`).join('');
}

/**
 * Reads path text of the form this page writes (M, L, C, Z, absolute). Anything else gives
 * null: the page only ever needs to read back its own text.
 */
export function parsePathText(text: string): Subpath[] | null {
  const tokens = text.match(/[MLCZ]|[-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?/g);
  if (!tokens || tokens.join('').length !== text.replace(/[\s,]/g, '').length) return null;
  const out: Subpath[] = [];
  let i = 0;
  let cur: Subpath | null = null;
  const readPt = (): Pt | null => {
    if (i + 1 >= tokens.length) return null;
    const x = Number(tokens[i]);
    const y = Number(tokens[i + 1]);
    if (!Number.isFinite(x) || !Number.isFinite(y)) return null;
    i += 2;
    return { x, y };
  };
  while (i < tokens.length) {
    const cmd = tokens[i++];
    if (cmd === 'M') {
      const p = readPt();
      if (!p) return null;
      cur = { start: p, segs: [], closed: false };
      out.push(cur);
    } else if (cmd === 'L' && cur && !cur.closed) {
      const p = readPt();
      if (!p) return null;
      cur.segs.push({ kind: 'L', to: p });
    } else if (cmd === 'C' && cur && !cur.closed) {
      const c1 = readPt(), c2 = readPt(), to = readPt();
      if (!c1 || !c2 || !to) return null;
      cur.segs.push({ kind: 'C', c1, c2, to });
    } else if (cmd === 'Z' && cur && !cur.closed) {
      cur.closed = true;
    } else {
      return null;
    }
  }
  return out;
}

export function mapSubpaths(subpaths: readonly Subpath[], f: (p: Pt) => Pt): Subpath[] {
  return subpaths.map((sp) => ({
    start: f(sp.start),
    closed: sp.closed,
    segs: sp.segs.map((s): Segment => (s.kind === 'L' ? { kind: 'L', to: f(s.to) } : { kind: 'C', c1: f(s.c1), c2: f(s.c2), to: f(s.to) })),
  }));
}

export function translate(subpaths: readonly Subpath[], dx: number, dy: number): Subpath[] {
  return mapSubpaths(subpaths, (p) => ({ x: p.x + dx, y: p.y + dy }));
}

/**
 * Points along the outline, at most `step` apart on straight parts and in small parameter
 * steps on curves, for hit tests, bounds and error measurements.
 */
export function samplePoints(subpaths: readonly Subpath[], step = 2): Pt[][] {
  return subpaths.map((sp) => {
    const out: Pt[] = [sp.start];
    let from = sp.start;
    const segs = sp.closed ? [...sp.segs, { kind: 'L', to: sp.start } as Segment] : sp.segs;
    for (const s of segs) {
      if (s.kind === 'L') {
        out.push(s.to);
      } else {
        const rough = Math.hypot(s.c1.x - from.x, s.c1.y - from.y) + Math.hypot(s.c2.x - s.c1.x, s.c2.y - s.c1.y) + Math.hypot(s.to.x - s.c2.x, s.to.y - s.c2.y);
        const n = Math.max(4, Math.min(200, Math.ceil(rough / step)));
        for (let k = 1; k <= n; k++) out.push(cubicAt(from, s.c1, s.c2, s.to, k / n));
      }
      from = s.to;
    }
    return out;
  });
}

/** The outline's true extent (curves by their points, not their control points). */
export function outlineBounds(subpaths: readonly Subpath[]): Rect | null {
  return boundsOf(samplePoints(subpaths, 1).flat());
}

/** Shortest distance from p to the outline. */
export function distToOutline(subpaths: readonly Subpath[], p: Pt, step = 1): number {
  let best = Infinity;
  for (const line of samplePoints(subpaths, step)) {
    if (line.length === 1) best = Math.min(best, Math.hypot(p.x - line[0].x, p.y - line[0].y));
    for (let i = 1; i < line.length; i++) best = Math.min(best, distToSegment(p, line[i - 1], line[i]));
  }
  return best;
}

// ---- Outlines of the basic shapes -------------------------------------------------------

export function rectOutline(r: Rect): Subpath[] {
  return [{
    start: { x: r.x, y: r.y },
    segs: [
      { kind: 'L', to: { x: r.x + r.w, y: r.y } },
      { kind: 'L', to: { x: r.x + r.w, y: r.y + r.h } },
      { kind: 'L', to: { x: r.x, y: r.y + r.h } },
    ],
    closed: true,
  }];
}

// Four cubic quarter arcs; the usual constant keeps the radius error below 0.03 %.
const KAPPA = 0.5522847498;

export function ellipseOutline(r: Rect): Subpath[] {
  const cx = r.x + r.w / 2, cy = r.y + r.h / 2, rx = r.w / 2, ry = r.h / 2;
  const kx = rx * KAPPA, ky = ry * KAPPA;
  return [{
    start: { x: cx + rx, y: cy },
    segs: [
      { kind: 'C', c1: { x: cx + rx, y: cy + ky }, c2: { x: cx + kx, y: cy + ry }, to: { x: cx, y: cy + ry } },
      { kind: 'C', c1: { x: cx - kx, y: cy + ry }, c2: { x: cx - rx, y: cy + ky }, to: { x: cx - rx, y: cy } },
      { kind: 'C', c1: { x: cx - rx, y: cy - ky }, c2: { x: cx - kx, y: cy - ry }, to: { x: cx, y: cy - ry } },
      { kind: 'C', c1: { x: cx + kx, y: cy - ry }, c2: { x: cx + rx, y: cy - ky }, to: { x: cx + rx, y: cy } },
    ],
    closed: true,
  }];
}

export function lineOutline(a: Pt, b: Pt): Subpath[] {
  return [{ start: { ...a }, segs: [{ kind: 'L', to: { ...b } }], closed: false }];
}

/** How long an arrow's head is for a line width: it grows with the line, so it stays visible. */
export const arrowHeadLength = (width: number): number => Math.max(10, 4 * width);
/** Half the head's width at its base, as a part of its length. */
const HEAD_SPREAD = 0.4;

/**
 * An arrow from a to b as two subpaths: the shaft, an open line that stops at the head's base
 * so that its rounded end never shows past the tip, and the head, a closed triangle with its
 * tip at b, meant to be filled in the line's colour. An open straight shaft has no inside, so
 * the one style fills the head and leaves the shaft a line. The head is never longer than the
 * arrow; an arrow no longer than its head is all head, and its shaft shrinks to a point at
 * the head's base, so the arrow always has both parts.
 */
export function arrowOutline(a: Pt, b: Pt, width: number): Subpath[] {
  const len = Math.hypot(b.x - a.x, b.y - a.y);
  const head = Math.min(arrowHeadLength(width), len);
  // A drag that went nowhere points right, so the outline is still a well-formed arrow.
  const ux = len > 0 ? (b.x - a.x) / len : 1, uy = len > 0 ? (b.y - a.y) / len : 0;
  const base = { x: b.x - ux * head, y: b.y - uy * head };
  const sx = -uy * head * HEAD_SPREAD, sy = ux * head * HEAD_SPREAD;
  const tip: Subpath = {
    start: { ...b },
    segs: [{ kind: 'L', to: { x: base.x + sx, y: base.y + sy } }, { kind: 'L', to: { x: base.x - sx, y: base.y - sy } }],
    closed: true,
  };
  // An arrow no longer than its head is all head: a shaft of no length would still become a
  // freeform of its own on the slide.
  if (len - head < 0.01) return [tip];
  return [{ start: { ...a }, segs: [{ kind: 'L', to: base }], closed: false }, tip];
}

/**
 * An arrow outline as the one open line a program draws with its own arrowhead: from the
 * shaft's start to the head's tip (an arrow that is all head: from the middle of the head's
 * base). Null for an outline that is not a shaft and a three-cornered head, such as one whose
 * points were moved apart: that one goes as it is drawn.
 */
export function arrowLine(subpaths: readonly Subpath[]): Subpath[] | null {
  const tip = subpaths[subpaths.length - 1];
  if (!tip || !tip.closed || tip.segs.length !== 2 || tip.segs.some((s) => s.kind !== 'L')) return null;
  const t = tip.start;
  const [l, r] = tip.segs.map((s) => s.to);
  const mid = { x: (l.x + r.x) / 2, y: (l.y + r.y) / 2 };
  // The program's head is a triangle with equal sides, its tip on the line: one pulled out of
  // that shape (or a shaft bent off it) would not look as drawn.
  const eps = 0.01 + 1e-3 * Math.hypot(t.x - mid.x, t.y - mid.y);
  if (Math.abs(Math.hypot(t.x - l.x, t.y - l.y) - Math.hypot(t.x - r.x, t.y - r.y)) > eps) return null;
  if (subpaths.length === 1) return lineOutline(mid, t);
  const shaft = subpaths[0];
  if (subpaths.length !== 2 || shaft.closed || shaft.segs.length !== 1 || shaft.segs[0].kind !== 'L') return null;
  const end = shaft.segs[0].to;
  if (Math.hypot(end.x - mid.x, end.y - mid.y) > eps) return null;
  const len = Math.hypot(t.x - shaft.start.x, t.y - shaft.start.y);
  const off = Math.abs((t.x - shaft.start.x) * (mid.y - shaft.start.y) - (t.y - shaft.start.y) * (mid.x - shaft.start.x));
  if (len === 0 || off / len > eps) return null;
  return lineOutline(shaft.start, t);
}

// ---- Points an editor can grab -----------------------------------------------------------

/** Names one point of an outline: the start of a subpath, or a segment's end or handle. */
export interface PointRef {
  sub: number;
  /** -1 for the subpath's start. */
  seg: number;
  role: 'to' | 'c1' | 'c2';
}

export function pointAt(subpaths: readonly Subpath[], ref: PointRef): Pt | null {
  const sp = subpaths[ref.sub];
  if (!sp) return null;
  if (ref.seg === -1) return sp.start;
  const s = sp.segs[ref.seg];
  if (!s) return null;
  if (ref.role === 'to') return s.to;
  return s.kind === 'C' ? s[ref.role] : null;
}

/** Every anchor and handle, anchors first, with the anchor each handle belongs to. */
export function editablePoints(subpaths: readonly Subpath[]): { ref: PointRef; p: Pt; anchor?: Pt }[] {
  const anchors: { ref: PointRef; p: Pt; anchor?: Pt }[] = [];
  const handles: { ref: PointRef; p: Pt; anchor?: Pt }[] = [];
  subpaths.forEach((sp, sub) => {
    anchors.push({ ref: { sub, seg: -1, role: 'to' }, p: sp.start });
    let prev = sp.start;
    sp.segs.forEach((s, seg) => {
      // A closed outline that ends on its start shows that anchor once.
      const last = seg === sp.segs.length - 1;
      if (!(last && sp.closed && samePt(s.to, sp.start))) anchors.push({ ref: { sub, seg, role: 'to' }, p: s.to });
      if (s.kind === 'C') {
        handles.push({ ref: { sub, seg, role: 'c1' }, p: s.c1, anchor: prev });
        handles.push({ ref: { sub, seg, role: 'c2' }, p: s.c2, anchor: s.to });
      }
      prev = s.to;
    });
  });
  return [...anchors, ...handles];
}

function samePt(a: Pt, b: Pt): boolean {
  return Math.abs(a.x - b.x) < 1e-6 && Math.abs(a.y - b.y) < 1e-6;
}

/**
 * The outline with one point moved by (dx, dy). Moving an anchor carries the handles on
 * either side of it along, so the curve keeps its shape around the anchor; a closed outline
 * whose last segment ends on its start moves both together.
 */
export function movePoint(subpaths: readonly Subpath[], ref: PointRef, dx: number, dy: number): Subpath[] {
  const mv = (p: Pt): Pt => ({ x: p.x + dx, y: p.y + dy });
  return subpaths.map((sp, sub) => {
    if (sub !== ref.sub) return sp;
    const segs = sp.segs.map((s) => ({ ...s })) as Segment[];
    let start = sp.start;
    if (ref.role !== 'to') {
      const s = segs[ref.seg];
      if (s && s.kind === 'C') s[ref.role] = mv(s[ref.role]);
      return { ...sp, segs };
    }
    const moveAnchor = (seg: number) => {
      // seg -1 is the start; the anchor at the end of segment `seg` otherwise.
      if (seg === -1) start = mv(start);
      else segs[seg].to = mv(segs[seg].to);
      const before = seg === -1 ? undefined : segs[seg];
      const after = segs[seg + 1];
      if (before && before.kind === 'C') before.c2 = mv(before.c2);
      if (after && after.kind === 'C') after.c1 = mv(after.c1);
    };
    const lastIdx = segs.length - 1;
    const joined = sp.closed && lastIdx >= 0 && samePt(segs[lastIdx].to, sp.start);
    if (ref.seg === -1 || (joined && ref.seg === lastIdx)) {
      moveAnchor(-1);
      if (joined) moveAnchor(lastIdx);
    } else {
      moveAnchor(ref.seg);
    }
    return { ...sp, start, segs };
  });
}
