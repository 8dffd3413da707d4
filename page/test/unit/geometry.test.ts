import assert from 'node:assert/strict';
import { test } from 'node:test';
import { type View, scaleOf, snapAngle, squareCorner, toLayer, toSlide } from '../../src/geometry.js';

const close = (a: number, b: number, eps = 1e-9) => assert.ok(Math.abs(a - b) <= eps, `${a} is not ${b}`);

test('layer and slide points map both ways at any zoom, with the nudge', () => {
  const view: View = { rect: { x: 120, y: 90, w: 800, h: 450 }, sw: 960, sh: 540, nudge: { x: 3, y: -10 } };
  close(scaleOf(view), 800 / 960);
  // The slide's corners land on the shown frame's corners.
  assert.deepEqual(toLayer(view, { x: 0, y: 0 }), { x: 123, y: 80 });
  const br = toLayer(view, { x: 960, y: 540 });
  close(br.x, 923);
  close(br.y, 530);
  for (const p of [{ x: 0, y: 0 }, { x: 480.25, y: 17.5 }, { x: -40, y: 600 }]) {
    const back = toSlide(view, toLayer(view, p));
    close(back.x, p.x);
    close(back.y, p.y);
  }
});

test('a slide without a usable width falls back to a scale of 1 instead of dividing by zero', () => {
  const view: View = { rect: { x: 0, y: 0, w: 500, h: 300 }, sw: 0, sh: 0, nudge: { x: 0, y: 0 } };
  assert.equal(scaleOf(view), 1);
  assert.deepEqual(toSlide(view, { x: 10, y: 20 }), { x: 10, y: 20 });
});

test('Shift holds a line to multiples of 45 degrees and a box to a square', () => {
  const o = { x: 10, y: 10 };
  assert.deepEqual(snapAngle(o, { x: 110, y: 14 }), { x: 110, y: 10 }, 'nearly level goes level');
  assert.deepEqual(snapAngle(o, { x: 12, y: -90 }), { x: 10, y: -90 }, 'nearly upright goes upright');
  const d = snapAngle(o, { x: 60, y: 70 });
  close(d.x - o.x, d.y - o.y, 1e-9);
  assert.deepEqual(squareCorner(o, { x: 40, y: -5 }), { x: 40, y: -20 });
  assert.deepEqual(squareCorner(o, { x: -20, y: 15 }), { x: -20, y: 40 });
});
