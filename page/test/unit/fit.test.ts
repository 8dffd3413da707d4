import assert from 'node:assert/strict';
import { test } from 'node:test';
import { dedupe, deviation, fitStroke } from '../../src/fit.js';
import type { Pt } from '../../src/geometry.js';
import { pathText, polylineText } from '../../src/path.js';

/** A hand-drawn-like stroke: a loop and a wave with a slight tremor, n points. */
function stroke(n: number, tremor = 0.15): Pt[] {
  const pts: Pt[] = [];
  for (let i = 0; i < n; i++) {
    const t = i / (n - 1);
    const x = 80 + 700 * t + 60 * Math.cos(t * 9);
    const y = 270 + 120 * Math.sin(t * 7) + 40 * Math.sin(t * 19);
    pts.push({ x: x + tremor * Math.sin(i * 1.7), y: y + tremor * Math.cos(i * 2.3) });
  }
  return pts;
}

test('a long stroke becomes a few cubics within half a point of every drawn point', () => {
  const pts = stroke(2000);
  const fitted = fitStroke(pts, 0.5);
  assert.ok(fitted.error <= 0.5, `error ${fitted.error}`);
  assert.ok(deviation(pts, fitted.subpaths) <= 0.5);
  const text = pathText(fitted.subpaths);
  assert.match(text, /^M[^MLZ]+$/, 'one subpath of cubics');
  const ratio = text.length / polylineText(pts).length;
  assert.ok(ratio < 0.1, `fitted text is ${(ratio * 100).toFixed(1)} % of the polyline`);
});

test('the fitted stroke starts and ends where the pen did', () => {
  const pts = stroke(300);
  const sp = fitStroke(pts).subpaths[0];
  const end = sp.segs[sp.segs.length - 1].to;
  assert.ok(Math.hypot(sp.start.x - pts[0].x, sp.start.y - pts[0].y) < 1e-6);
  assert.ok(Math.hypot(end.x - pts[299].x, end.y - pts[299].y) < 1e-6);
});

test('a jagged stroke that no smooth curve follows still stays within the tolerance', () => {
  // A tight zigzag: curves overshoot its corners, so the result must fall back or split.
  const pts: Pt[] = [];
  for (let i = 0; i < 400; i++) pts.push({ x: i * 0.8, y: (i % 8 < 4 ? i % 4 : 4 - (i % 4)) * 3 });
  const fitted = fitStroke(pts, 0.5);
  assert.ok(deviation(pts, fitted.subpaths) <= 0.5, `error ${fitted.error}`);
});

test('taps, two points and repeated points make sensible strokes', () => {
  const dot = fitStroke([{ x: 5, y: 5 }, { x: 5, y: 5 }, { x: 5, y: 5.001 }]);
  assert.equal(pathText(dot.subpaths), 'M5 5 L5.01 5');
  assert.equal(pathText(fitStroke([{ x: 0, y: 0 }, { x: 10, y: 0 }]).subpaths), 'M0 0 L10 0');
  assert.deepEqual(fitStroke([]).subpaths, []);
  assert.deepEqual(dedupe([{ x: 1, y: 1 }, { x: NaN, y: 2 }, { x: 1, y: 1 }, { x: 2, y: Infinity }, { x: 3, y: 1 }]), [{ x: 1, y: 1 }, { x: 3, y: 1 }]);
});

test('the deviation sees a curve that bulges away between the drawn points', () => {
  const pts: Pt[] = Array.from({ length: 50 }, (_, i) => ({ x: i * 2, y: 0 }));
  const bulge = [{ start: { x: 0, y: 0 }, segs: [{ kind: 'C' as const, c1: { x: 30, y: 40 }, c2: { x: 70, y: 40 }, to: { x: 98, y: 0 } }], closed: false }];
  assert.ok(deviation(pts, bulge) > 25);
  const straight = [{ start: { x: 0, y: 0 }, segs: [{ kind: 'L' as const, to: { x: 98, y: 0 } }], closed: false }];
  assert.ok(deviation(pts, straight) < 1e-9);
});
