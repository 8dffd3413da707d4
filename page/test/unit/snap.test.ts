import assert from 'node:assert/strict';
import { test } from 'node:test';
import type { Pt } from '../../src/geometry.js';
import { recognise } from '../../src/snap.js';

const wobble = (i: number, a = 1.5) => a * Math.sin(i * 0.9);

function lineStroke(): Pt[] {
  return Array.from({ length: 80 }, (_, i) => ({ x: 100 + i * 4, y: 200 + i * 1.5 + wobble(i) }));
}

function ellipseStroke(cx: number, cy: number, rx: number, ry: number, turns = 1.03): Pt[] {
  return Array.from({ length: 120 }, (_, i) => {
    const a = (i / 119) * turns * 2 * Math.PI;
    return { x: cx + rx * Math.cos(a) + wobble(i, 2), y: cy + ry * Math.sin(a) + wobble(i + 3, 2) };
  });
}

function rectStroke(x: number, y: number, w: number, h: number): Pt[] {
  const corners = [{ x, y }, { x: x + w, y }, { x: x + w, y: y + h }, { x, y: y + h }, { x: x + 3, y: y + 4 }];
  const pts: Pt[] = [];
  for (let c = 0; c < 4; c++) {
    const a = corners[c], b = corners[c + 1];
    for (let i = 0; i < 30; i++) pts.push({ x: a.x + ((b.x - a.x) * i) / 30 + wobble(i + c, 2), y: a.y + ((b.y - a.y) * i) / 30 + wobble(i + 2 * c, 2) });
  }
  return pts;
}

test('a nearly straight stroke becomes a line between its ends', () => {
  const pts = lineStroke();
  assert.deepEqual(recognise(pts), { kind: 'line', a: pts[0], b: pts[pts.length - 1] });
});

test('closed strokes become an ellipse or a rectangle, by their corners', () => {
  const e = recognise(ellipseStroke(300, 200, 150, 80));
  assert.equal(e?.kind, 'ellipse');
  if (e?.kind === 'ellipse') {
    assert.ok(Math.abs(e.r.w - 300) < 8 && Math.abs(e.r.h - 160) < 8, JSON.stringify(e.r));
  }
  const r = recognise(rectStroke(100, 100, 240, 120));
  assert.equal(r?.kind, 'rect');
  if (r?.kind === 'rect') assert.ok(Math.abs(r.r.x - 100) < 4 && Math.abs(r.r.w - 240) < 6, JSON.stringify(r.r));
});

test('strokes that are none of the shapes stay ink', () => {
  const arc = ellipseStroke(300, 200, 150, 80, 0.5); // half an ellipse: open
  assert.equal(recognise(arc), null, 'an open arc');
  const zigzag = Array.from({ length: 60 }, (_, i) => ({ x: i * 5, y: (i % 10 < 5 ? i % 5 : 5 - (i % 5)) * 12 }));
  assert.equal(recognise(zigzag), null, 'a zigzag');
  const spiral = Array.from({ length: 200 }, (_, i) => ({ x: 300 + (20 + i) * Math.cos(i / 15), y: 300 + (20 + i) * Math.sin(i / 15) }));
  assert.equal(recognise(spiral), null, 'a spiral that turns twice');
  assert.equal(recognise([{ x: 0, y: 0 }, { x: 3, y: 1 }, { x: 5, y: 2 }]), null, 'too small to tell');
});
