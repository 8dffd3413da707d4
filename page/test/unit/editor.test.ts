import assert from 'node:assert/strict';
import { describe, test } from 'node:test';
import { type After, Editor, HOLD_MS } from '../../src/editor.js';
import type { Pt } from '../../src/geometry.js';
import { isClosed, itemBounds } from '../../src/items.js';
import { pathText, subpathText } from '../../src/path.js';
import { TOOLS, normaliseTool } from '../../src/tools/names.js';
import { LASER_FADE_MS, type Stamped, laserFrame } from '../../src/trail.js';
import { keyAction } from '../../src/ui/keys.js';
import { wholeStrokes } from '../../src/ui/laser.js';

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
  return { after, advance, now: () => now };
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

describe('eraser, laser pointer and arrow', () => {
  const key = (code: string) => keyAction({ key: '', code, shiftKey: false, altKey: false, metaKey: false, ctrlKey: false });

  /** Two upright lines at x 100 and 300, a level line 10 pt under y 50, a rectangle far off. */
  function drawing() {
    const ed = new Editor(clock().after);
    ed.setTool('shape:line');
    draw(ed, [{ x: 100, y: 0 }, { x: 100, y: 100 }]);
    draw(ed, [{ x: 300, y: 0 }, { x: 300, y: 100 }]);
    draw(ed, [{ x: 0, y: 60 }, { x: 400, y: 60 }]);
    ed.setTool('shape:rect');
    draw(ed, [{ x: 500, y: 0 }, { x: 600, y: 100 }]);
    return ed;
  }

  test('one fast sweep erases exactly the items it crossed, when the pointer lets go, in one undo step', () => {
    const ed = drawing();
    const [a, b, level, rect] = ed.items;
    ed.setTool('eraser');
    // Two events 400 pt apart: the lines lie between them, not under either.
    ed.down({ x: 0, y: 50 }, none);
    ed.move({ x: 400, y: 50 }, none);
    assert.deepEqual([...ed.preview().erasing!].sort(), [a.id, b.id].sort(), 'the level line 10 pt off is out of reach');
    assert.equal(ed.items.length, 4, 'nothing goes before the pointer lets go');
    ed.up(none);
    assert.deepEqual(ed.items, [level, rect]);
    assert.ok(ed.undo());
    assert.deepEqual(ed.items, [a, b, level, rect], 'one undo brings both back, in their places');
    assert.ok(ed.redo());
    assert.deepEqual(ed.items, [level, rect]);
  });

  test('cancelling a sweep erases nothing and leaves the history as it was', () => {
    const ed = drawing();
    const before = ed.items;
    ed.setTool('eraser');
    ed.down({ x: 0, y: 50 }, none);
    ed.move({ x: 400, y: 50 }, none);
    assert.ok(ed.cancel());
    ed.up(none);
    assert.equal(ed.items, before);
    ed.undo();
    assert.equal(ed.items.length, 3, 'undo still takes the last rectangle, not an erasing');
  });

  test('the reach is a few screen points at any zoom; a click erases, and a filled shape from inside', () => {
    const ed = drawing();
    const level = ed.items[2];
    ed.setTool('eraser');
    ed.ptPerPx = 2; // zoomed out: 6 screen points are 12 slide points
    draw(ed, [{ x: 150, y: 50 }, { x: 250, y: 50 }]);
    assert.ok(!ed.items.includes(level), 'the level line 10 pt away is within reach now');
    ed.ptPerPx = 1;
    draw(ed, [{ x: 550, y: 50 }]);
    assert.equal(ed.items.length, 3, 'inside an outline that is not filled is not on it');
    draw(ed, [{ x: 550, y: 1 }]);
    assert.equal(ed.items.length, 2, 'a click on the edge');
    ed.setTool('shape:rect');
    ed.setStyle({ fill: true });
    draw(ed, [{ x: 500, y: 200 }, { x: 600, y: 300 }]);
    ed.setTool('eraser');
    draw(ed, [{ x: 540, y: 240 }, { x: 560, y: 260 }]);
    assert.equal(ed.items.length, 2);
  });

  test('a sweep leaves a fading trail of its own way, also when cancelled; the laser\'s trail stays empty', () => {
    const c = clock();
    const ed = drawing();
    const sweeping = new Editor(c.after, () => {}, c.now);
    sweeping.restore(ed.items);
    sweeping.setTool('eraser');
    sweeping.down({ x: 0, y: 50 }, none);
    c.advance(16);
    sweeping.move({ x: 200, y: 50 }, none);
    c.advance(16);
    sweeping.move({ x: 400, y: 50 }, none);
    const held = sweeping.sweep.frame(c.now());
    assert.deepEqual(held.flatMap((p) => p.points.map((q) => q.x)).filter((x, i, xs) => xs.indexOf(x) === i), [0, 200, 400], 'the way as it went');
    assert.ok(sweeping.laser.gone(c.now()));
    sweeping.up(none);
    assert.equal(sweeping.items.length, 2);
    c.advance(LASER_FADE_MS - 1);
    assert.ok(!sweeping.sweep.gone(c.now()), 'it fades from the letting go');
    c.advance(1);
    assert.ok(sweeping.sweep.gone(c.now()));
    sweeping.down({ x: 0, y: 50 }, none);
    assert.ok(sweeping.cancel());
    assert.equal(sweeping.items.length, 2, 'a cancelled sweep takes nothing');
    assert.ok(!sweeping.sweep.gone(c.now()));
    c.advance(LASER_FADE_MS);
    assert.ok(sweeping.sweep.gone(c.now()), 'and its trail ends like any other');
  });

  test('the sweep\'s trail is drawn stroke by stroke, as bright as each end, with no point twice', () => {
    const pt = (x: number, t: number): Stamped => ({ p: { x, y: 0 }, t });
    const frame = laserFrame([[pt(0, 0), pt(10, 100), pt(20, 200)], [pt(50, 300)], [pt(70, 300), pt(80, 400)]], false, 400);
    assert.ok(frame.length > 5, 'in parts of several brightnesses');
    assert.deepEqual(wholeStrokes(frame).map((p) => [p.points.map((q) => q.x), p.alpha]),
      [[[0, 10, 20], laserFrame([[pt(20, 200)]], false, 400)[0].alpha], [[50], 15 / 16], [[70, 80], 1]]);
    assert.deepEqual(wholeStrokes(laserFrame([[pt(0, 0), pt(10, 0)]], false, LASER_FADE_MS)), [], 'gone when its end is');
  });

  test('the laser trail fades part by part, and the rest after the pointer lets go', () => {
    const pt = (x: number, t: number): Stamped => ({ p: { x, y: 0 }, t });
    const stroke = [pt(0, 0), pt(10, 100), pt(20, 200)];
    const at200 = laserFrame([stroke], false, 200);
    assert.deepEqual(at200.map((p) => [p.points.map((q) => q.x), p.alpha]), [[[0, 10], 14 / 16], [[10, 20], 15 / 16], [[20], 1]],
      'each stretch as bright as its older end, the last point a dot');
    const late = laserFrame([stroke], false, LASER_FADE_MS + 50);
    assert.deepEqual(late.map((p) => p.points.map((q) => q.x)), [[10, 20], [20]], 'the oldest stretch has gone');
    assert.deepEqual(laserFrame([stroke], false, 200 + LASER_FADE_MS), []);
    assert.deepEqual(laserFrame([stroke], true, 10000), [{ points: [{ x: 20, y: 0 }], alpha: 1 }], 'held, the dot under the pointer stays');
    const two = laserFrame([[pt(0, 0), pt(10, 0)], [pt(50, 0), pt(60, 0)]], false, 0);
    assert.deepEqual(two.map((p) => p.points.map((q) => q.x)), [[0, 10], [10], [50, 60], [60]], 'two strokes are not joined');
    assert.ok(laserFrame([[pt(0, 0)]], false, LASER_FADE_MS - 1)[0].alpha > 0, 'alive to the end of the fade');
  });

  test('the laser never adds items or history, and its trail is gone 1.5 s after the last point', () => {
    const c = clock();
    const ed = new Editor(c.after, () => {}, c.now);
    ed.setTool('shape:rect');
    draw(ed, [{ x: 0, y: 0 }, { x: 100, y: 50 }]);
    const items = ed.items;
    ed.setTool('laser');
    ed.down({ x: 200, y: 200 }, none);
    for (let i = 1; i <= 40; i++) {
      c.advance(16);
      ed.move({ x: 200 + i * 5, y: 200 }, none);
    }
    c.advance(1000); // held still at the end
    assert.ok(ed.laser.frame(c.now()).some((p) => p.alpha === 1 && p.points.length === 1), 'the dot under a held pointer');
    ed.up(none);
    assert.equal(ed.items, items);
    assert.equal(ed.history.canRedo, false);
    assert.ok(ed.undo() && ed.items.length === 0, 'the only step to undo is the rectangle');
    ed.redo();
    c.advance(LASER_FADE_MS - 10);
    assert.ok(!ed.laser.gone(c.now()), 'the dot where it stopped fades from the letting go');
    c.advance(10);
    assert.ok(ed.laser.gone(c.now()));
    assert.deepEqual(ed.laser.frame(c.now()), []);
  });

  test('an arrow is one item: an open shaft to the base of a closed head, both in the shapes\' colour', () => {
    const ed = new Editor(clock().after);
    ed.setTool('shape:arrow');
    draw(ed, [{ x: 0, y: 0 }, { x: 100, y: 0 }]);
    const [arrow] = ed.items;
    assert.equal(arrow.kind, 'arrow');
    assert.deepEqual(arrow.subpaths.map(subpathText), ['M0 0 L90 0', 'M100 0 L90 4 L90 -4 Z'], 'a 10 pt head for a 2 pt line');
    const paint = ed.settings.shape.paint;
    assert.deepEqual(arrow.style, { stroke: paint, width: 2, fill: paint, alpha: 1 });
    assert.equal(isClosed(arrow), false);

    ed.setStyle({ width: 6 });
    draw(ed, [{ x: 0, y: 50 }, { x: 100, y: 50 }]);
    assert.equal(subpathText(ed.items[1].subpaths[0]), 'M0 50 L76 50', 'the head grows with the line: 24 pt for 6 pt');
    draw(ed, [{ x: 0, y: 100 }, { x: 15, y: 100 }]);
    assert.deepEqual(ed.items[2].subpaths.map(subpathText), ['M15 100 L0 106 L0 94 Z'], 'never longer than the arrow: all head');
    ed.setTool('select');
    ed.select([ed.items[2].id]);
    ed.setStyle({ fill: false });
    assert.deepEqual(ed.items[2].style.fill, paint, 'a head stays filled');
    ed.setTool('shape:arrow');

    draw(ed, [{ x: 0, y: 0 }, { x: 100, y: 90 }], shift);
    const [shaft, head] = ed.items[3].subpaths;
    const tip = head.start, base = shaft.segs[0].to;
    assert.ok(Math.abs(tip.x - tip.y) < 1e-9 && tip.x > 90, 'Shift holds it to 45 degrees');
    assert.ok(Math.abs(base.x - base.y) < 1e-9 && Math.abs(Math.hypot(tip.x - base.x, tip.y - base.y) - 24) < 1e-9);
  });

  test('a selected arrow takes a new colour head and shaft, and Fill leaves its head filled', () => {
    const ed = new Editor(clock().after);
    ed.setTool('shape:arrow');
    draw(ed, [{ x: 0, y: 0 }, { x: 100, y: 0 }]);
    ed.setTool('select');
    ed.selectAll();
    const blue = { kind: 'theme' as const, n: 5, hex: '#4472C4' };
    ed.setStyle({ paint: blue });
    assert.deepEqual([ed.items[0].style.stroke, ed.items[0].style.fill], [blue, blue]);
    ed.setStyle({ fill: !ed.current().fill });
    ed.setStyle({ fill: !ed.current().fill });
    assert.deepEqual(ed.items[0].style.fill, blue);
  });

  test('E erases, K points, W draws arrows, O alone draws ellipses; every toolbar key does what it says', () => {
    assert.deepEqual(key('KeyE'), { do: 'tool', tool: 'eraser' });
    assert.deepEqual(key('KeyK'), { do: 'tool', tool: 'laser' });
    assert.deepEqual(key('KeyW'), { do: 'tool', tool: 'shape:arrow' });
    assert.deepEqual(key('KeyO'), { do: 'tool', tool: 'shape:ellipse' });
    for (const t of TOOLS) assert.deepEqual(key(`Key${t.key}`), { do: 'tool', tool: t.name }, t.label);
    assert.deepEqual(['eraser', 'laser', 'arrow', 'Shape:Arrow', 'crayon'].map(normaliseTool), ['eraser', 'laser', 'shape:arrow', 'shape:arrow', 'pen']);
  });
});
