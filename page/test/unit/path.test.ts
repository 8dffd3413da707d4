import assert from 'node:assert/strict';
import { test } from 'node:test';
import { ellipseOutline, editablePoints, movePoint, num, parsePathText, pathText, rectOutline, samplePoints, type Subpath } from '../../src/path.js';

test('numbers are written with at most two decimals and never as -0 or in exponent form', () => {
  assert.equal(num(12), '12');
  assert.equal(num(12.345), '12.35');
  assert.equal(num(-0.001), '0');
  assert.equal(num(0.1 + 0.2), '0.3');
  assert.equal(num(1e-7), '0');
  assert.equal(num(123456.789), '123456.79');
  assert.equal(num(NaN), '0');
});

test('the path text uses only absolute M, L, C and Z, one M per subpath', () => {
  const sps: Subpath[] = [
    ...rectOutline({ x: 10, y: 20, w: 30.5, h: 40 }),
    { start: { x: 1, y: 2 }, segs: [{ kind: 'C', c1: { x: 3, y: 4 }, c2: { x: 5, y: 6 }, to: { x: 7, y: 8 } }], closed: false },
  ];
  const text = pathText(sps);
  assert.equal(text, 'M10 20 L40.5 20 L40.5 60 L10 60 Z M1 2 C3 4 5 6 7 8');
  assert.match(text, /^[MLCZ0-9 .\-]+$/);
  assert.deepEqual(parsePathText(text), sps, 'reads back to the same outline');
});

test('path text that this page would not write is refused whole', () => {
  for (const bad of ['m10 10 l5 5', 'M10 10 Q1 2 3 4', 'L1 2', 'M1', 'M1 2 C3 4 5 6', 'M1 2 Z L3 4', 'M1 2 L3 x']) {
    assert.equal(parsePathText(bad), null, bad);
  }
});

test('the ellipse outline stays on the true ellipse', () => {
  const r = { x: 100, y: 50, w: 300, h: 120 };
  const [pts] = samplePoints(ellipseOutline(r), 1);
  const worst = Math.max(...pts.map((p) => {
    const u = (p.x - 250) / 150, v = (p.y - 110) / 60;
    return Math.abs(Math.hypot(u, v) - 1);
  }));
  assert.ok(worst < 0.001, `radius error ${worst}`);
});

test('moving an anchor carries its handles; a handle moves alone', () => {
  const sp: Subpath[] = [{
    start: { x: 0, y: 0 },
    segs: [
      { kind: 'C', c1: { x: 10, y: 0 }, c2: { x: 20, y: 10 }, to: { x: 30, y: 10 } },
      { kind: 'C', c1: { x: 40, y: 10 }, c2: { x: 50, y: 0 }, to: { x: 60, y: 0 } },
    ],
    closed: false,
  }];
  const moved = movePoint(sp, { sub: 0, seg: 0, role: 'to' }, 5, -5);
  assert.deepEqual(moved[0].segs[0], { kind: 'C', c1: { x: 10, y: 0 }, c2: { x: 25, y: 5 }, to: { x: 35, y: 5 } });
  assert.deepEqual(moved[0].segs[1], { kind: 'C', c1: { x: 45, y: 5 }, c2: { x: 50, y: 0 }, to: { x: 60, y: 0 } });
  assert.deepEqual(sp[0].segs[0].to, { x: 30, y: 10 }, 'the original is untouched');
  const handle = movePoint(sp, { sub: 0, seg: 1, role: 'c2' }, 1, 1);
  assert.deepEqual(handle[0].segs[1], { kind: 'C', c1: { x: 40, y: 10 }, c2: { x: 51, y: 1 }, to: { x: 60, y: 0 } });
  assert.deepEqual(handle[0].segs[0], sp[0].segs[0]);
});

test('a closed ellipse shows its joining anchor once and moves both ends of it together', () => {
  const e = ellipseOutline({ x: 0, y: 0, w: 100, h: 50 });
  const anchors = editablePoints(e).filter((p) => !p.anchor);
  assert.equal(anchors.length, 4);
  const moved = movePoint(e, { sub: 0, seg: -1, role: 'to' }, 10, 0);
  assert.deepEqual(moved[0].start, { x: 110, y: 25 });
  assert.deepEqual(moved[0].segs[3].to, { x: 110, y: 25 }, 'the last segment still ends on the start');
  assert.equal(moved[0].segs[3].kind === 'C' && moved[0].segs[3].c2.x, e[0].segs[3].kind === 'C' && e[0].segs[3].c2.x + 10);
});
