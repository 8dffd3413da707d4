import assert from 'node:assert/strict';
import { test } from 'node:test';
import { type After, Editor, HOLD_MS } from '../../src/editor.js';
import type { Pt } from '../../src/geometry.js';
import { itemBounds } from '../../src/items.js';
import { pathText } from '../../src/path.js';
import { keyAction } from '../../src/ui/keys.js';

/** Timers that run only when the test says so. */
function clock() {
  let now = 0;
  const due: { at: number; fn: () => void; live: boolean }[] = [];
  const after: After = (ms, fn) => {
    const t = { at: now + ms, fn, live: true };
    due.push(t);
    return () => { t.live = false; };
  };
  const advance = (ms: number) => {
    now += ms;
    for (const t of due) if (t.live && t.at <= now) { t.live = false; t.fn(); }
  };
  return { after, advance };
}

const none = { shift: false, alt: false };
const shift = { shift: true, alt: false };

function draw(ed: Editor, pts: Pt[], mods = none, beforeUp?: () => void) {
  ed.down(pts[0], mods);
  for (const p of pts.slice(1)) ed.move(p, mods);
  beforeUp?.();
  ed.up(mods);
}

const circle = Array.from({ length: 90 }, (_, i) => {
  const a = (i / 89) * 2.05 * Math.PI;
  return { x: 300 + 100 * Math.cos(a) + Math.sin(i) * 1.5, y: 200 + 60 * Math.sin(a) };
});

test('a pen stroke becomes one fitted item; holding still at the end snaps it, and undo gives the ink back', () => {
  const c = clock();
  const ed = new Editor(c.after);
  draw(ed, circle);
  assert.equal(ed.items.length, 1);
  assert.equal(ed.items[0].kind, 'ink');
  assert.match(pathText(ed.items[0].subpaths), /^M[\d. ]+( C[\d. ]+)+$/);

  draw(ed, circle.map((p) => ({ x: p.x + 400, y: p.y })), none, () => c.advance(HOLD_MS));
  assert.equal(ed.items.length, 2);
  assert.equal(ed.items[1].kind, 'ellipse');
  const b = itemBounds(ed.items[1])!;
  assert.ok(Math.abs(b.w - 200) < 6 && Math.abs(b.h - 120) < 6, JSON.stringify(b));
  assert.ok(ed.undo());
  assert.equal(ed.items[1].kind, 'ink', 'the stroke as drawn is back');
  assert.ok(ed.undo());
  assert.equal(ed.items.length, 1);
  assert.ok(ed.redo() && ed.redo());
  assert.equal(ed.items[1].kind, 'ellipse');
});

test('moving on after the hold keeps the ink, and a stroke that is no shape never snaps', () => {
  const c = clock();
  const ed = new Editor(c.after);
  ed.down(circle[0], none);
  for (const p of circle.slice(1)) ed.move(p, none);
  c.advance(HOLD_MS);
  assert.equal(ed.preview().live?.snapped, true, 'the shape shows while the pen is held');
  ed.move({ x: 500, y: 500 }, none);
  assert.equal(ed.preview().live?.snapped, false);
  ed.up(none);
  assert.equal(ed.items[0].kind, 'ink');
  draw(ed, [{ x: 0, y: 0 }, { x: 40, y: 30 }, { x: 80, y: 0 }, { x: 120, y: 30 }], none, () => c.advance(HOLD_MS));
  assert.equal(ed.items[1].kind, 'ink');
});

test('Shift makes squares, circles and 45 degree lines; a click without a drag draws nothing', () => {
  const ed = new Editor(clock().after);
  ed.setTool('shape:rect');
  draw(ed, [{ x: 10, y: 10 }, { x: 110, y: 60 }], shift);
  assert.deepEqual(itemBounds(ed.items[0]), { x: 10, y: 10, w: 100, h: 100 });
  ed.setTool('shape:ellipse');
  draw(ed, [{ x: 200, y: 10 }, { x: 230, y: 90 }], shift);
  const e = itemBounds(ed.items[1])!;
  assert.ok(Math.abs(e.w - 80) < 0.01 && Math.abs(e.h - 80) < 0.01);
  ed.setTool('shape:line');
  draw(ed, [{ x: 0, y: 0 }, { x: 100, y: 90 }], shift);
  const [sp] = ed.items[2].subpaths;
  const end = sp.segs[0].to;
  assert.ok(Math.abs(end.x - end.y) < 1e-9 && end.x > 90);
  draw(ed, [{ x: 5, y: 5 }, { x: 5.5, y: 5 }]);
  assert.equal(ed.items.length, 3);
});

test('select: click, Shift-click, marquee, move, resize, duplicate and delete, each one undo step', () => {
  const ed = new Editor(clock().after);
  ed.setTool('shape:rect');
  draw(ed, [{ x: 0, y: 0 }, { x: 100, y: 50 }]);
  draw(ed, [{ x: 200, y: 0 }, { x: 300, y: 50 }]);
  ed.setTool('select');
  draw(ed, [{ x: 50, y: 0.5 }]); // on the first one's top edge
  assert.deepEqual([...ed.selection], [ed.items[0].id]);
  draw(ed, [{ x: 300, y: 25 }], shift);
  assert.equal(ed.selection.size, 2);
  draw(ed, [{ x: 150, y: 200 }]); // empty: clears
  assert.equal(ed.selection.size, 0);
  draw(ed, [{ x: 250, y: -10 }, { x: 320, y: 10 }]); // marquee over the second one's corner
  assert.deepEqual([...ed.selection], [ed.items[1].id]);

  const steps = () => ed.history.canUndo;
  draw(ed, [{ x: 220, y: 0 }, { x: 230, y: 20 }]); // drag it by its edge
  assert.deepEqual(itemBounds(ed.items[1]), { x: 210, y: 20, w: 100, h: 50 });
  draw(ed, [{ x: 310, y: 70 }, { x: 410, y: 120 }]); // bottom-right handle
  assert.deepEqual(itemBounds(ed.items[1]), { x: 210, y: 20, w: 200, h: 100 });
  draw(ed, [{ x: 410, y: 120 }, { x: 310, y: 160 }], shift); // same handle, proportions kept
  const r = itemBounds(ed.items[1])!;
  assert.ok(Math.abs(r.w / r.h - 2) < 1e-9, JSON.stringify(r));
  assert.ok(ed.duplicateSelected());
  assert.equal(ed.items.length, 3);
  assert.deepEqual([...ed.selection], [ed.items[2].id]);
  assert.ok(ed.deleteSelected());
  assert.equal(ed.items.length, 2);
  ed.undo(); ed.undo(); ed.undo(); ed.undo(); ed.undo();
  assert.deepEqual(itemBounds(ed.items[1]), { x: 200, y: 0, w: 100, h: 50 }, 'five undos go back to before the move');
  assert.ok(steps());
});

test('direct editing drags one point of the path and Escape drops a drag in progress', () => {
  const ed = new Editor(clock().after);
  ed.setTool('shape:line');
  draw(ed, [{ x: 0, y: 0 }, { x: 100, y: 0 }]);
  ed.setTool('direct');
  draw(ed, [{ x: 50, y: 1 }]); // picks the line
  draw(ed, [{ x: 100, y: 0 }, { x: 100, y: 40 }]); // drags its end
  assert.equal(pathText(ed.items[0].subpaths), 'M0 0 L100 40');
  ed.down({ x: 0, y: 0 }, none);
  ed.move({ x: 30, y: 30 }, none);
  assert.equal(pathText(ed.preview().override!.get(ed.items[0].id)!.subpaths), 'M30 30 L100 40');
  assert.ok(ed.cancel());
  assert.equal(ed.cancel(), false, 'nothing left to cancel');
  ed.up(none);
  assert.equal(pathText(ed.items[0].subpaths), 'M0 0 L100 40');
});

test('a drawing kept over a reload comes back without an undo step that would wipe it', () => {
  const ed = new Editor(clock().after);
  ed.setTool('shape:rect');
  draw(ed, [{ x: 0, y: 0 }, { x: 100, y: 50 }]);
  const kept = JSON.parse(JSON.stringify(ed.items));
  const fresh = new Editor(clock().after);
  fresh.restore(kept);
  assert.deepEqual(fresh.items, kept);
  assert.equal(fresh.undo(), false);
  assert.equal(fresh.items.length, 1);
});

test('colour, width and fill go to the selection, fill only to closed shapes', () => {
  const ed = new Editor(clock().after);
  ed.setTool('shape:rect');
  draw(ed, [{ x: 0, y: 0 }, { x: 100, y: 50 }]);
  ed.setTool('shape:line');
  draw(ed, [{ x: 0, y: 100 }, { x: 100, y: 100 }]);
  ed.selectAll();
  const blue = { kind: 'theme' as const, n: 5, hex: '#4472C4' };
  ed.setStyle({ paint: blue, width: 6, fill: true });
  assert.deepEqual(ed.items.map((i) => [i.style.stroke, i.style.width, i.style.fill]), [[blue, 6, blue], [blue, 6, null]]);
  ed.undo();
  assert.equal(ed.items[0].style.width, 2);
});

test('keys map to actions; Option with arrows nudges, letters follow the physical key', () => {
  const k = (key: string, code: string, m: Partial<{ shiftKey: boolean; altKey: boolean; metaKey: boolean; ctrlKey: boolean }> = {}) =>
    keyAction({ key, code, shiftKey: false, altKey: false, metaKey: false, ctrlKey: false, ...m });
  assert.deepEqual(k('z', 'KeyZ', { metaKey: true }), { do: 'undo' });
  assert.deepEqual(k('Z', 'KeyZ', { ctrlKey: true, shiftKey: true }), { do: 'redo' });
  assert.deepEqual(k('ArrowLeft', 'ArrowLeft', { altKey: true }), { do: 'nudge', dx: -1, dy: 0 });
  assert.deepEqual(k('ArrowDown', 'ArrowDown', { altKey: true, shiftKey: true }), { do: 'nudge', dx: 0, dy: 10 });
  assert.deepEqual(k('ArrowUp', 'ArrowUp'), { do: 'move', dx: 0, dy: -1 });
  assert.deepEqual(k('I', 'KeyI', { shiftKey: true }), { do: 'picture' });
  assert.equal(k('i', 'KeyI'), null);
  assert.deepEqual(k('π', 'KeyP'), { do: 'tool', tool: 'pen' });
  assert.deepEqual(k('Enter', 'Enter'), { do: 'place', close: true });
  assert.deepEqual(k('Enter', 'Enter', { shiftKey: true }), { do: 'place', close: false });
  assert.equal(k('w', 'KeyW', { metaKey: true }), null, 'Command-W is the application\'s');
  assert.equal(k('r', 'KeyR', { altKey: true }), null);
});
