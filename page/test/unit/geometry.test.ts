import assert from 'node:assert/strict';
import { test } from 'node:test';
import { type View, intersect, scaleOf, snapAngle, squareCorner, toLayer, toSlide, visibleRect } from '../../src/geometry.js';

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

test('the part of the slide the program shows: the slide within its editor, the nudge included', () => {
  const pane = { x: 280, y: 200, w: 1080, h: 647 };
  // Zoomed in: the slide runs on beyond the editor on every side.
  const zoomed: View = { rect: { x: 218.8, y: 158.3, w: 1440, h: 810 }, sw: 960, sh: 540, nudge: { x: 0, y: 0 }, pane };
  assert.deepEqual(visibleRect(zoomed), pane);
  // Zoomed out, nudged: all of it shows, where the nudge put it.
  const small: View = { rect: { x: 460, y: 321, w: 720, h: 405 }, sw: 960, sh: 540, nudge: { x: 2, y: -4 }, pane };
  assert.deepEqual(visibleRect(small), { x: 462, y: 317, w: 720, h: 405 });
  // Scrolled so only its right part shows.
  assert.deepEqual(visibleRect({ ...small, rect: { x: 0, y: 300, w: 400, h: 225 }, nudge: { x: 0, y: 0 } }), { x: 280, y: 300, w: 120, h: 225 });
  // Not known: the whole slide. Scrolled right out of the editor: the editor.
  assert.deepEqual(visibleRect({ ...small, pane: null }), { x: 462, y: 317, w: 720, h: 405 });
  assert.deepEqual(visibleRect({ ...small, rect: { x: 0, y: 0, w: 200, h: 100 }, nudge: { x: 0, y: 0 } }), pane);
});

test('rectangles that only touch or miss each other have nothing in common', () => {
  const a = { x: 0, y: 0, w: 10, h: 10 };
  assert.deepEqual(intersect(a, { x: 5, y: -5, w: 10, h: 10 }), { x: 5, y: 0, w: 5, h: 5 });
  assert.deepEqual(intersect(a, { x: 2, y: 2, w: 3, h: 3 }), { x: 2, y: 2, w: 3, h: 3 });
  assert.equal(intersect(a, { x: 10, y: 0, w: 5, h: 5 }), null, 'edge to edge');
  assert.equal(intersect(a, { x: 0, y: 20, w: 5, h: 5 }), null);
});
