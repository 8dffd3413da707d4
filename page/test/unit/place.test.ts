import assert from 'node:assert/strict';
import { test } from 'node:test';
import type { Paint } from '../../src/colors.js';
import type { Item, Style } from '../../src/items.js';
import { arrowOutline, ellipseOutline, lineOutline, movePoint, rectOutline } from '../../src/path.js';
import { type PlacedMap, newPlacingId, outcomeOf, pending, placingNotice, placingOf, planPlacing, recordAnswer, recordPlaced, signature } from '../../src/place.js';

const accent1: Paint = { kind: 'theme', n: 5, hex: '#4472C4' };
const red: Paint = { kind: 'rgb', hex: '#E0282E' };
const thin: Style = { stroke: accent1, width: 1.5, fill: null, alpha: 1 };
const filled: Style = { stroke: red, width: 3, fill: red, alpha: 1 };
const marker: Style = { stroke: { kind: 'theme', n: 8, hex: '#FFC000' }, width: 14, fill: null, alpha: 0.5 };

const line = (id: string, x: number, style = thin): Item => ({ id, kind: 'line', style, subpaths: lineOutline({ x, y: 0 }, { x: x + 10, y: 5 }) });
const box = (id: string): Item => ({ id, kind: 'rect', style: filled, subpaths: rectOutline({ x: 1, y: 2, w: 3, h: 4 }) });

test('one part per run of neighbouring items of one style, in drawing order, all in one request', () => {
  const items = [line('a', 0), line('b', 40), box('c'), line('d', 20), { id: 'e', kind: 'highlight' as const, style: marker, subpaths: lineOutline({ x: 0, y: 0 }, { x: 5, y: 0 }) }];
  const steps = planPlacing(items, new Map());
  assert.deepEqual(steps.map((s) => s.body), [
    { path: 'M0 0 L10 5 M40 0 L50 5', stroke: 'theme:5', width: '1.5', fill: 'none', replace: '' },
    { path: 'M1 2 L4 2 L4 6 L1 6 Z', stroke: '#E0282E', width: '3', fill: '#E0282E', replace: '' },
    // The same style as the first run, but above the box: it must stay above it on the slide.
    { path: 'M20 0 L30 5', stroke: 'theme:5', width: '1.5', fill: 'none', replace: '' },
    // A see-through colour can't stay a theme colour.
    { path: 'M0 0 L5 0', stroke: '#FFC00080', width: '14', fill: 'none', replace: '' },
  ]);
  assert.deepEqual(steps.map((s) => s.items.map((i) => i.id)), [['a', 'b'], ['c'], ['d'], ['e']]);
  const placing = placingOf(steps, '257', true, 'p1');
  assert.deepEqual({ ...placing.body, parts: placing.body.parts.length }, { id: 'p1', slide: '257', close: true, parts: 4 });
  assert.equal(placing.body.parts[2], steps[2].body);
});

/** Plays a plan against a pretend slide that stacks new shapes on top, as the add-in does. */
function play(items: Item[], placed: PlacedMap, slide: string[], next: { id: number }): PlacedMap {
  for (const st of planPlacing(items, placed)) {
    const gone = st.body.replace ? st.body.replace.split(',') : [];
    const added = st.items.flatMap((it) => Array.from({ length: it.subpaths }, () => String(next.id++)));
    slide.push(...added);
    for (const g of gone) slide.splice(slide.indexOf(g), 1);
    placed = recordPlaced(placed, st, added.map((id, k) => ({ k, id })));
  }
  return placed;
}
const stackOf = (items: Item[], placed: PlacedMap, slide: string[]) => slide.map((sh) => items.find((it) => placed.get(it.id)?.shapes.includes(sh))?.id);

test('the slide keeps the drawing\'s stacking order through edits, deletions and partial failures', () => {
  const slide: string[] = [];
  const next = { id: 100 };
  let items = [box('b1'), line('i1', 0), line('i2', 30)];
  let placed = play(items, new Map(), slide, next);
  assert.deepEqual(stackOf(items, placed, slide), ['b1', 'i1', 'i2']);

  // The box under the ink is recoloured: it goes again, and so does everything above it.
  items = [{ ...items[0], style: { ...filled, stroke: accent1, fill: accent1 } }, items[1], items[2]];
  const steps = planPlacing(items, placed);
  assert.deepEqual(steps.map((s) => s.items.map((i) => i.id)), [['b1'], ['i1', 'i2']]);
  assert.deepEqual(steps.map((s) => s.body.replace), ['100', '101,102']);
  placed = play(items, placed, slide, next);
  assert.deepEqual(stackOf(items, placed, slide), ['b1', 'i1', 'i2']);

  // New ink on top goes alone; the items under it stay where they are.
  items = [...items, line('i3', 60)];
  assert.deepEqual(planPlacing(items, placed).map((s) => s.items.map((i) => i.id)), [['i3']]);
  placed = play(items, placed, slide, next);

  // A deletion alone is a change: a call with no path that takes the shapes away.
  items = items.filter((it) => it.id !== 'i1');
  assert.equal(pending(items, placed).unplaced, 1);
  const [removal, ...none] = planPlacing(items, placed);
  assert.deepEqual(none, []);
  assert.deepEqual({ path: removal.body.path, replace: removal.body.replace, items: removal.items }, { path: '', replace: '104', items: [] });
  placed = play(items, placed, slide, next);
  assert.deepEqual(stackOf(items, placed, slide), ['b1', 'i2', 'i3']);
  assert.deepEqual(pending(items, placed), { resend: [], unplaced: 0, removed: [] });
  assert.deepEqual(planPlacing(items, placed), []);

  // A placing that failed after its first call leaves the rest lower on the slide than the
  // part that went: the next placing puts the rest back above it.
  const b1 = { ...items[0], subpaths: rectOutline({ x: 9, y: 9, w: 3, h: 3 }) };
  const i2 = { ...items[1], subpaths: lineOutline({ x: 1, y: 1 }, { x: 2, y: 2 }) };
  items = [b1, i2, items[2]];
  const [first] = planPlacing(items, placed);
  assert.deepEqual(first.items.map((i) => i.id), ['b1']);
  slide.push(String(next.id));
  slide.splice(slide.indexOf(first.body.replace), 1);
  placed = recordPlaced(placed, first, [{ k: 0, id: next.id++ }]);
  assert.deepEqual(stackOf(items, placed, slide), ['i2', 'i3', 'b1']);
  assert.equal(pending(items, placed).unplaced, 2, 'i2 changed, i3 now under b1');
  placed = play(items, placed, slide, next);
  assert.deepEqual(stackOf(items, placed, slide), ['b1', 'i2', 'i3']);
});

test('placed items are left alone until edited, then replace their shapes; deleted ones go too', () => {
  const a = line('a', 0), b = line('b', 20), c = box('c');
  let placed: PlacedMap = new Map([
    ['a', { shapes: ['11'], signature: signature(a) }],
    ['b', { shapes: ['12'], signature: signature(b) }],
    ['c', { shapes: ['13'], signature: signature(c) }],
  ]);
  assert.deepEqual(planPlacing([a, b, c], placed), [], 'nothing changed');
  const b2 = line('b', 40);
  const steps = planPlacing([a, b2], placed); // c deleted after placing
  assert.equal(steps.length, 1);
  assert.equal(steps[0].body.path, 'M40 0 L50 5');
  assert.equal(steps[0].body.replace, '12,13');
  placed = recordPlaced(placed, steps[0], [{ k: 0, id: 21 }]);
  assert.deepEqual([...placed.keys()].sort(), ['a', 'b']);
  assert.deepEqual(placed.get('b'), { shapes: ['21'], signature: signature(b2) });
});

test('the reported shapes are matched to items by their position, counted from 0 or 1', () => {
  const items = [line('a', 0), { id: 'e', kind: 'ellipse' as const, style: thin, subpaths: [...ellipseOutline({ x: 0, y: 0, w: 4, h: 4 }), ...lineOutline({ x: 0, y: 0 }, { x: 1, y: 1 })] }, line('c', 9)];
  const [step] = planPlacing(items, new Map());
  const fromZero = recordPlaced(new Map(), step, [{ k: 3, id: 'x4' }, { k: 0, id: 1 }, { k: 1, id: 2 }, { k: 2, id: 3 }]);
  assert.deepEqual([fromZero.get('a')!.shapes, fromZero.get('e')!.shapes, fromZero.get('c')!.shapes], [['1'], ['2', '3'], ['x4']]);
  const fromOne = recordPlaced(new Map(), step, [{ k: 1, id: 1 }, { k: 2, id: 2 }, { k: 3, id: 3 }, { k: 4, id: 4 }]);
  assert.deepEqual(fromOne.get('c')!.shapes, ['4']);
  // Positions that make no sense: the order of the answer decides.
  const odd = recordPlaced(new Map(), step, [{ k: -1, id: 7 }, { k: -1, id: 8 }, { id: 9 }, 'junk', { k: 5, id: '' }]);
  assert.deepEqual([odd.get('a')!.shapes, odd.get('e')!.shapes, odd.get('c')!.shapes], [['7'], ['8', '9'], []]);
  // No shapes reported at all still counts as placed, so the same drawing isn't sent twice.
  assert.deepEqual(recordPlaced(new Map(), step, undefined).get('a'), { shapes: [], signature: signature(items[0]) });
});

test('an answer records each part that was placed, up to a failure, and none without an answer', () => {
  const items = [line('a', 0), box('b'), line('c', 30)];
  const placing = placingOf(planPlacing(items, new Map()), '', false, newPlacingId());
  const part = (id: number) => ({ shapes: [{ k: 0, id }] });

  const all = recordAnswer(new Map(), placing, { ok: true, parts: [part(1), part(2), part(3)] });
  assert.equal(all.done, 3);
  assert.deepEqual([...all.placed].map(([id, r]) => [id, r.shapes]), [['a', ['1']], ['b', ['2']], ['c', ['3']]]);

  // Failed at the second part: the first is on the slide, and the next placing sends only the rest.
  const some = recordAnswer(new Map(), placing, { ok: false, msg: 'The slide is locked.', parts: [part(1)] });
  assert.equal(some.done, 1);
  assert.deepEqual([...some.placed.keys()], ['a']);
  assert.deepEqual(planPlacing(items, some.placed).map((s) => s.items.map((i) => i.id)), [['b'], ['c']]);

  // No answer, "still placing", parts that aren't parts, or more parts than were sent.
  const before: PlacedMap = new Map([['z', { shapes: ['9'], signature: 'x' }]]);
  for (const answer of [{}, { ok: false, pending: true }, { ok: true, parts: 'many' }]) {
    const r = recordAnswer(before, placing, answer);
    assert.deepEqual([r.done, [...r.placed.keys()]], [0, ['z']], JSON.stringify(answer));
  }
  assert.equal(recordAnswer(new Map(), placing, { ok: true, parts: [part(1), null, part(3)] }).done, 1);
  assert.equal(recordAnswer(new Map(), placing, { ok: true, parts: [part(1), part(2), part(3), part(4)] }).done, 3);
});

test('an answer is read for what it says of the slide, and an unconfirmed one is told as such', () => {
  const cases: [boolean, Record<string, unknown>, string][] = [
    [true, { ok: true, parts: [] }, 'placed'],
    [true, { ok: false, msg: 'The slide is locked.', parts: [] }, 'failed'],
    // Scribbet refused the request itself (its name): nothing was placed.
    [true, { ok: false, msg: 'Scribbet can only keep track of a placing named with up to 128 letters.' }, 'failed'],
    [false, {}, 'unanswered'],
    [true, { ok: false, pending: true, msg: 'PowerPoint is still placing the drawing.' }, 'unanswered'],
    [true, { ok: false, unknown: true, msg: 'PowerPoint did not answer.', parts: [] }, 'unknown'],
    // Answers that contradict themselves are taken for the less certain: nothing placed twice.
    [true, { ok: true, pending: true }, 'unanswered'],
    [true, { ok: true, unknown: true }, 'unknown'],
    [true, { ok: false, unknown: 'yes' }, 'failed'],
  ];
  for (const [answered, data, want] of cases) assert.equal(outcomeOf(answered, data), want, JSON.stringify(data));

  // The parts listed as done are recorded, as for a failure; the rest go under a new placing.
  const items = [line('a', 0), box('b'), line('c', 30)];
  const placing = placingOf(planPlacing(items, new Map()), '', false, newPlacingId());
  const r = recordAnswer(new Map(), placing, { ok: false, unknown: true, msg: 'x', parts: [{ shapes: [{ k: 0, id: 1 }] }] });
  assert.deepEqual([r.done, [...r.placed.keys()]], [1, ['a']]);
  assert.deepEqual(planPlacing(items, r.placed).map((s) => s.items.map((i) => i.id)), [['b'], ['c']]);

  const msg = 'PowerPoint did not answer within five minutes, so Scribbet cannot tell whether it placed the drawing.';
  assert.equal(placingNotice('unknown', msg, 0, 1),
    `${msg} The drawing is still on the layer: look at the slide before placing again, as Place would put it there once more.`);
  assert.equal(placingNotice('unknown', msg, 1, 3),
    `${msg} 1 of 3 parts were placed; the rest is still on the layer: look at the slide before placing again, as Place would put it there once more.`);
  // Only a placing still to be told of promises that nothing is placed twice.
  for (const o of ['failed', 'unknown'] as const) assert.doesNotMatch(placingNotice(o, 'm', 0, 2), /nothing twice/);
  assert.match(placingNotice('unanswered', 'm', 0, 2), /^m .*places nothing twice/);
  assert.equal(placingNotice('failed', 'm', 2, 3), 'm 2 of 3 parts were placed; Place again puts the rest.');
});

test('every placing gets an identifier of its own', () => {
  const ids = new Set(Array.from({ length: 200 }, newPlacingId));
  assert.equal(ids.size, 200);
  for (const id of ids) assert.match(id, /^[0-9a-f]{24}$/);
});

// ---- arrows: one shape with the program's arrowhead, or shaft and head for an older add-in ----

const arrowStyle: Style = { stroke: red, width: 3, fill: red, alpha: 1 };
const arrow = (id: string, x: number, len = 100): Item => ({ id, kind: 'arrow', style: arrowStyle, subpaths: arrowOutline({ x, y: 10 }, { x: x + len, y: 10 }, 3) });

test('arrows go as lines to their tips with the arrowhead, and as shaft and head to an add-in without', () => {
  // A filled box of the arrow's very colours: it must not share the arrows' part.
  const items = [arrow('a1', 0), arrow('a2', 200, 8), { ...box('b'), style: arrowStyle }];
  const steps = planPlacing(items, new Map());
  assert.deepEqual(steps.map((s) => s.items.map((i) => i.id)), [['a1', 'a2'], ['b']]);
  const body = steps[0].body;
  // The short one is all head: its line runs from the middle of the head's base to the tip.
  assert.equal(body.path, 'M0 10 L100 10 M200 10 L208 10');
  assert.deepEqual({ ...body, path: undefined, plain: undefined }, { path: undefined, stroke: '#E0282E', width: '3', fill: 'none', replace: '', arrowhead: 'triangle', plain: undefined });
  assert.deepEqual(body.plain, { path: 'M0 10 L88 10 M100 10 L88 14.8 L88 5.2 Z M208 10 L200 13.2 L200 6.8 Z', fill: '#E0282E' });
  assert.deepEqual(steps[0].items.map((i) => [i.subpaths, i.headed]), [[2, 1], [1, 1]]);
  assert.equal(steps[1].body.arrowhead, undefined);

  // An arrow whose head was pulled out of shape goes as it is drawn.
  const bent: Item = { ...arrow('a3', 0), subpaths: movePoint(arrow('a3', 0).subpaths, { sub: 1, seg: 0, role: 'to' }, 0, 20) };
  assert.equal(planPlacing([bent], new Map())[0].body.arrowhead, undefined);
  const crooked: Item = { ...arrow('a4', 0), subpaths: movePoint(arrow('a4', 0).subpaths, { sub: 0, seg: -1, role: 'to' }, 0, 60) };
  assert.equal(planPlacing([crooked], new Map())[0].body.arrowhead, undefined);
  // Moved, scaled or turned whole, it is still the program's arrow.
  const turned: Item = { ...arrow('a5', 0), subpaths: arrowOutline({ x: 3, y: 4 }, { x: -50, y: 90 }, 7) };
  assert.equal(planPlacing([turned], new Map())[0].body.path, 'M3 4 L-50 90');
});

test('an arrow placed either way is re-placed by taking exactly the shapes it made', () => {
  const items = [arrow('a1', 0), arrow('a2', 200)];
  for (const headed of [true, false]) {
    const placing = placingOf(planPlacing(items, new Map()), '', false, 'p');
    const shapes = headed ? [{ k: 0, id: 7 }, { k: 1, id: 8 }] : [{ k: 0, id: 7 }, { k: 1, id: 8 }, { k: 2, id: 9 }, { k: 3, id: 10 }];
    const r = recordAnswer(new Map(), placing, { ok: true, parts: [{ shapes, ...(headed ? { arrowhead: true } : {}) }] });
    assert.equal(r.done, 1);
    assert.deepEqual([...r.placed].map(([id, rec]) => [id, rec.shapes]), headed ? [['a1', ['7']], ['a2', ['8']]] : [['a1', ['7', '8']], ['a2', ['9', '10']]]);
    // The second arrow moved: it alone goes again, replacing what it made.
    const moved = [items[0], { ...arrow('a2', 300) }];
    const again = planPlacing(moved, r.placed);
    assert.deepEqual(again.map((s) => [s.items.map((i) => i.id), s.body.replace]), [[['a2'], headed ? '8' : '9,10']]);
  }
});
