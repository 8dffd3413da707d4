import assert from 'node:assert/strict';
import { test } from 'node:test';
import type { Paint } from '../../src/colors.js';
import type { Item, Style } from '../../src/items.js';
import { ellipseOutline, lineOutline, rectOutline } from '../../src/path.js';
import { type PlacedMap, planPlacing, recordPlaced, signature } from '../../src/place.js';

const accent1: Paint = { kind: 'theme', n: 5, hex: '#4472C4' };
const red: Paint = { kind: 'rgb', hex: '#E0282E' };
const thin: Style = { stroke: accent1, width: 1.5, fill: null, alpha: 1 };
const filled: Style = { stroke: red, width: 3, fill: red, alpha: 1 };
const marker: Style = { stroke: { kind: 'theme', n: 8, hex: '#FFC000' }, width: 14, fill: null, alpha: 0.5 };

const line = (id: string, x: number, style = thin): Item => ({ id, kind: 'line', style, subpaths: lineOutline({ x, y: 0 }, { x: x + 10, y: 5 }) });
const box = (id: string): Item => ({ id, kind: 'rect', style: filled, subpaths: rectOutline({ x: 1, y: 2, w: 3, h: 4 }) });

test('one insert per style, in drawing order, with theme colours by number and close only on the last', () => {
  const items = [line('a', 0), box('b'), line('c', 20), { id: 'd', kind: 'highlight' as const, style: marker, subpaths: lineOutline({ x: 0, y: 0 }, { x: 5, y: 0 }) }];
  const steps = planPlacing(items, new Map(), '257', true);
  assert.deepEqual(steps.map((s) => s.body), [
    { path: 'M0 0 L10 5 M20 0 L30 5', stroke: 'theme:5', width: '1.5', fill: 'none', replace: '', slide: '257', close: false },
    { path: 'M1 2 L4 2 L4 6 L1 6 Z', stroke: '#E0282E', width: '3', fill: '#E0282E', replace: '', slide: '257', close: false },
    // A see-through colour can't stay a theme colour.
    { path: 'M0 0 L5 0', stroke: '#FFC00080', width: '14', fill: 'none', replace: '', slide: '257', close: true },
  ]);
  assert.deepEqual(steps[0].items.map((i) => i.id), ['a', 'c']);
  assert.equal(planPlacing(items, new Map(), '', false).at(-1)!.body.close, false);
});

test('placed items are left alone until edited, then replace their shapes; deleted ones go too', () => {
  const a = line('a', 0), b = line('b', 20), c = box('c');
  let placed: PlacedMap = new Map([
    ['a', { shapes: ['11'], signature: signature(a) }],
    ['b', { shapes: ['12'], signature: signature(b) }],
    ['c', { shapes: ['13'], signature: signature(c) }],
  ]);
  assert.deepEqual(planPlacing([a, b, c], placed, '', true), [], 'nothing changed');
  const b2 = line('b', 40);
  const steps = planPlacing([a, b2], placed, '', false); // c deleted after placing
  assert.equal(steps.length, 1);
  assert.equal(steps[0].body.path, 'M40 0 L50 5');
  assert.equal(steps[0].body.replace, '12,13');
  placed = recordPlaced(placed, steps[0], [{ k: 0, id: 21 }]);
  assert.deepEqual([...placed.keys()].sort(), ['a', 'b']);
  assert.deepEqual(placed.get('b'), { shapes: ['21'], signature: signature(b2) });
});

test('the reported shapes are matched to items by their position, counted from 0 or 1', () => {
  const items = [line('a', 0), { id: 'e', kind: 'ellipse' as const, style: thin, subpaths: [...ellipseOutline({ x: 0, y: 0, w: 4, h: 4 }), ...lineOutline({ x: 0, y: 0 }, { x: 1, y: 1 })] }, line('c', 9)];
  const [step] = planPlacing(items, new Map(), '', false);
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
