import assert from 'node:assert/strict';
import { test } from 'node:test';
import type { Item } from '../../src/items.js';
import { ellipseOutline, lineOutline } from '../../src/path.js';
import { placingOf, planPlacing, type Placing } from '../../src/place.js';
import { type Kept, KEPT_DAYS, KeptDrawings, type KeptStorage, MAX_KEPT_CHARS, readKept, slideKey } from '../../src/store.js';

const ink: Item = { id: 'a', kind: 'ink', subpaths: lineOutline({ x: 1, y: 2 }, { x: 30, y: 40 }), style: { stroke: { kind: 'rgb', hex: '#1F1F1F' }, width: 2, fill: null, alpha: 1 } };
const disc: Item = { id: 'b', kind: 'ellipse', subpaths: ellipseOutline({ x: 0, y: 0, w: 9, h: 9 }), style: { stroke: { kind: 'theme', n: 5, hex: '#4472C4' }, width: 1, fill: { kind: 'theme', n: 5, hex: '#4472C4' }, alpha: 1 } };
const kept = (sid: string, at: number, items: Item[] = [ink, disc]): Kept => ({ sid, at, items, placed: [['b', { shapes: ['12'], signature: 'x' }]] });

/** A drawing as the page before each item had a record of its own wrote it: one record. */
const keptText = (k: Kept): string => JSON.stringify({
  v: 1, sid: k.sid, at: k.at, items: k.items, placed: k.placed,
  ...(k.unanswered ? { unanswered: { body: k.unanswered.body, steps: k.unanswered.steps.map((st) => ({ items: st.items, replaces: st.replaces })) } } : {}),
});

class Memory implements KeptStorage {
  readonly m = new Map<string, string>();
  full = false;
  get length() { return this.m.size; }
  key(i: number) { return [...this.m.keys()][i] ?? null; }
  getItem(k: string) { return this.m.get(k) ?? null; }
  setItem(k: string, v: string) {
    if (this.full) throw new Error('QuotaExceededError');
    this.m.set(k, v);
  }
  removeItem(k: string) { this.m.delete(k); }
}

test('a drawing kept whole by the previous version reads back as it was written, and anything else is refused with a reason', () => {
  const k = kept('s1', 5);
  const back = readKept(keptText(k));
  assert.deepEqual(back, { ok: true, kept: k });

  const text = JSON.parse(keptText(k));
  const bad = (change: (t: any) => void) => {
    const t = structuredClone(text);
    change(t);
    const r = readKept(JSON.stringify(t));
    assert.equal(r.ok, false, JSON.stringify(t).slice(0, 120));
    return r.ok ? '' : r.problem;
  };
  assert.match(bad((t) => { t.v = 3; }), /another version/);
  assert.match(bad((t) => { delete t.v; }), /another version/);
  bad((t) => { t.items[0].subpaths[0].start.x = 'NaN'; });
  bad((t) => { t.items[0].subpaths[0].segs[0] = { kind: 'Q', to: { x: 1, y: 1 } }; });
  bad((t) => { t.items[1].subpaths[0].segs[0].c1 = null; });
  bad((t) => { t.items[0].style.width = 1e9; });
  bad((t) => { t.items[0].style.stroke = { kind: 'theme', n: 13, hex: '#000000' }; });
  bad((t) => { t.items[0].kind = 'script'; });
  bad((t) => { t.items[1].id = 'a'; });
  bad((t) => { t.items = {}; });
  bad((t) => { t.placed[0][1].shapes = [12]; });
  assert.match(readKept('{"v":1,"sid":"s","items":[').ok ? '' : 'unreadable', /unreadable/);
  assert.deepEqual(readKept('null'), { ok: false, problem: 'it is not readable' });
  assert.match((readKept('x'.repeat(MAX_KEPT_CHARS + 1)) as { problem: string }).problem, /too large/);
  // Whatever else a writer put in is left behind, not carried into the drawing.
  const extra = structuredClone(text);
  extra.items[0].onclick = 'alert(1)';
  const r = readKept(JSON.stringify(extra));
  assert.ok(r.ok && !('onclick' in r.kept.items[0]));
});

test('a placing under way is kept with the drawing as it was sent, or the drawing is refused', () => {
  const placing: Placing = placingOf(planPlacing([ink, disc], new Map()), '257', true, 'a1b2c3');
  const k: Kept = { ...kept('s1', 5), unanswered: placing };
  const back = readKept(keptText(k));
  assert.deepEqual(back, { ok: true, kept: k });
  // Sent again, it must be the very request: the parts are one with the steps' bodies.
  assert.ok(back.ok && back.kept.unanswered!.steps.every((st, i) => st.body === back.kept.unanswered!.body.parts[i]));
  assert.ok(!('unanswered' in (readKept(keptText(kept('s2', 5))) as { kept: Kept }).kept), 'none when there was none');

  const text = JSON.parse(keptText(k));
  const bad = (change: (t: any) => void) => {
    const t = structuredClone(text);
    change(t);
    const r = readKept(JSON.stringify(t));
    assert.deepEqual(r, { ok: false, problem: 'the placing under way in it is damaged' }, JSON.stringify(t.unanswered).slice(0, 160));
  };
  bad((t) => { t.unanswered = null; });
  bad((t) => { t.unanswered.body.id = ''; });
  bad((t) => { t.unanswered.body.close = 'yes'; });
  bad((t) => { t.unanswered.body.parts[0].replace = 12; });
  bad((t) => { t.unanswered.body.parts = []; t.unanswered.steps = []; });
  bad((t) => { t.unanswered.steps.pop(); });
  bad((t) => { t.unanswered.steps[0].items[0].subpaths = 1.5; });
  bad((t) => { t.unanswered.steps[0].replaces = [7]; });
});

test('drawings are kept per slide and opening; damaged, stale and other slides\' ones are set apart', () => {
  const store = new Memory();
  const logged: string[] = [];
  const here = new KeptDrawings(store, slideKey('257', 960, 540, 'x'), (m) => logged.push(m));
  const there = new KeptDrawings(store, slideKey('258', 960, 540, 'x'), (m) => logged.push(m));
  const now = 1_000_000_000_000;
  assert.ok(here.put(kept('old', now - 10)));
  assert.ok(here.put(kept('new', now - 5)));
  assert.ok(there.put(kept('other', now)));
  assert.deepEqual(here.all(now).map((k) => k.sid), ['new', 'old']);
  assert.deepEqual(there.all(now).map((k) => k.sid), ['other']);

  store.m.set(`${slideKey('257', 960, 540, 'x')}broken`, '{"v":1,');
  store.m.set(`${slideKey('9', 960, 540, 'x')}stale`, keptText(kept('stale', now - (KEPT_DAYS + 1) * 86_400_000)));
  store.m.set('somebody.else', 'left alone');
  assert.deepEqual(here.all(now).map((k) => k.sid), ['new', 'old']);
  assert.deepEqual(logged, ['A kept drawing was dropped: it is not readable.']);
  assert.deepEqual([...store.m.keys()].filter((k) => /broken|stale/.test(k)), [], 'both are gone');
  assert.equal(store.m.get('somebody.else'), 'left alone');

  here.drop('old');
  assert.deepEqual(here.all(now).map((k) => k.sid), ['new']);
  // A slide the page can't name is kept for its own opening only.
  assert.notEqual(slideKey('', 960, 540, 'a'), slideKey('', 960, 540, 'b'));
  assert.notEqual(slideKey('257', 960, 540, 'a'), slideKey('257', 720, 540, 'a'));

  store.full = true;
  assert.equal(here.put(kept('new', now)), false);
  assert.match(logged.at(-1)!, /could not be kept for later/);
  store.full = false;
  const huge = Array.from({ length: 20000 }, (_, i) => ({ ...ink, id: `h${i}`, subpaths: lineOutline({ x: i, y: 1 }, { x: i + 0.5, y: 300 }).concat(ellipseOutline({ x: i, y: i, w: 5, h: 5 })) }));
  assert.equal(here.put(kept('huge', now, huge)), false);
  assert.match(logged.at(-1)!, /too large/);
});

/** Storage that counts what is written, and can be made to stop dead after some writes. */
class Counting extends Memory {
  writes: string[] = [];
  deadAfter = Infinity;
  setItem(k: string, v: string) {
    if (this.writes.length >= this.deadAfter) return;
    this.writes.push(k);
    super.setItem(k, v);
  }
  removeItem(k: string) {
    if (this.writes.length >= this.deadAfter) return;
    super.removeItem(k);
  }
}

const recolour = (it: Item, hex: string): Item => ({ ...it, style: { ...it.style, stroke: { kind: 'rgb', hex } } });
const base = slideKey('257', 960, 540, 'x');

test('keeping a drawing again writes only what changed, and a page that comes back writes nothing it finds', () => {
  const store = new Counting();
  const keep = new KeptDrawings(store, base, () => {});
  const k1 = kept('s', 1);
  assert.ok(keep.put(k1));
  assert.equal(store.writes.length, 4, 'two items, one placed record, the head');
  assert.equal(store.writes.at(-1), `${base}s`, 'the head comes last');
  store.writes = [];
  // One item recoloured: its new record and the head; its old record goes.
  const blue = recolour(ink, '#1E6FD9');
  const k2: Kept = { ...k1, at: 2, items: [blue, disc] };
  assert.ok(keep.put(k2));
  assert.equal(store.writes.length, 2);
  assert.equal(store.m.size, 4, 'the head and three pieces, no more');
  assert.deepEqual(new KeptDrawings(store, base, () => {}).all(10), [k2]);
  // Undone, the old item is written again (its record was gone).
  store.writes = [];
  assert.ok(keep.put({ ...k1, at: 3 }));
  assert.equal(store.writes.length, 2);
  assert.deepEqual(new KeptDrawings(store, base, () => {}).all(10), [{ ...k1, at: 3 }]);

  // A page that comes back (a reload) reads the drawing, and keeping it writes just the head.
  const again = new KeptDrawings(store, base, () => {});
  const [back] = again.all(10);
  store.writes = [];
  assert.ok(again.put({ ...back, at: 4 }));
  assert.deepEqual(store.writes, [`${base}s`]);
  assert.equal(store.m.size, 4);
});

test('a page that dies between two writes leaves the drawing before or after, whole, and no strays', () => {
  const k1 = kept('s', 1);
  const k2: Kept = { ...k1, at: 2, items: [recolour(ink, '#E0282E'), disc, { ...disc, id: 'c' }], placed: [] };
  for (let n = 0; n <= 5; n++) {
    const store = new Counting();
    const keep = new KeptDrawings(store, base, () => {});
    keep.put(k1);
    store.writes = [];
    store.deadAfter = n;
    keep.put(k2);
    store.deadAfter = Infinity;
    const logged: string[] = [];
    const found = new KeptDrawings(store, base, (m) => logged.push(m)).all(10);
    assert.deepEqual(found, [n >= 3 ? k2 : k1], `dead after ${n} writes`);
    assert.deepEqual(logged, []);
    const heads = [...store.m.keys()].filter((k) => k.startsWith('scribbet.kept.'));
    assert.equal(store.m.size - heads.length, found[0].items.length + found[0].placed.length, `only the pieces the head names are left (${n})`);
  }
});

test('a kept drawing whose pieces are missing, damaged or too large is dropped; a full storage keeps the one before', () => {
  const store = new Memory();
  const logged: string[] = [];
  const pieces = () => [...store.m.keys()].filter((k) => k.startsWith('scribbet.piece.'));
  const damage = (change: () => void, problem: RegExp) => {
    store.m.clear();
    new KeptDrawings(store, base, () => {}).put(kept('s', 1));
    change();
    logged.length = 0;
    assert.deepEqual(new KeptDrawings(store, base, (m) => logged.push(m)).all(10), []);
    assert.match(logged.join(' | '), problem);
    assert.deepEqual([...store.m.keys()], [], 'the head and its pieces are gone');
  };
  const head = () => JSON.parse(store.m.get(`${base}s`)!);
  const setHead = (t: unknown) => store.m.set(`${base}s`, JSON.stringify(t));
  damage(() => store.m.delete(pieces()[0]), /an item in it is damaged/);
  damage(() => store.m.set(pieces()[1], '{"id":"b",'), /an item in it is damaged/);
  damage(() => store.m.set(pieces()[2], '{"shapes":[12],"signature":"x"}'), /placed record in it is damaged/);
  damage(() => setHead({ ...head(), items: ['../x', head().items[1]] }), /an item in it is damaged/);
  damage(() => setHead({ ...head(), items: [head().items[0], head().items[0]] }), /an item in it is damaged/);
  damage(() => setHead({ ...head(), unanswered: 'nothere' }), /placing under way in it is damaged/);
  damage(() => store.m.set(pieces()[0], JSON.stringify({ ...ink, subpaths: lineOutline({ x: 0, y: 0 }, { x: 1, y: 1 }), pad: 'x'.repeat(MAX_KEPT_CHARS) })), /too large/);

  // Storage full halfway through: the drawing kept before is still there, whole.
  store.m.clear();
  const k1 = kept('s', 1);
  new KeptDrawings(store, base, () => {}).put(k1);
  let left = 1;
  const wrap: KeptStorage = {
    get length() { return store.length; },
    key: (i) => store.key(i),
    getItem: (k) => store.getItem(k),
    setItem: (k, v) => { if (left-- <= 0) throw new Error('QuotaExceededError'); store.setItem(k, v); },
    removeItem: (k) => store.removeItem(k),
  };
  const tight = new KeptDrawings(wrap, base, (m) => logged.push(m));
  tight.all(10);
  assert.equal(tight.put({ ...k1, at: 2, items: [recolour(ink, '#FFFFFF'), recolour(disc, '#FFFFFF')] }), false);
  assert.match(logged.at(-1)!, /could not be kept for later: Error: QuotaExceededError/);
  assert.deepEqual(new KeptDrawings(store, base, () => {}).all(10), [k1]);
});

test('a drawing kept whole by the previous version comes back, and is kept in pieces from then on; dropping takes its pieces', () => {
  const store = new Memory();
  const k: Kept = { ...kept('s', 1), unanswered: placingOf(planPlacing([ink, disc], new Map()), '257', true, 'p1') };
  store.m.set(`${base}s`, keptText(k));
  const keep = new KeptDrawings(store, base, () => {});
  const [back] = keep.all(10);
  assert.deepEqual(back, k);
  assert.ok(keep.put(back));
  assert.equal(JSON.parse(store.m.get(`${base}s`)!).v, 2);
  const [again] = new KeptDrawings(store, base, () => {}).all(10);
  assert.deepEqual(again, k);
  assert.ok(again.unanswered!.steps.every((st, i) => st.body === again.unanswered!.body.parts[i]), 'sent again as the very request');

  // Two openings, one of whose identifiers starts the other's: dropping one leaves the other.
  keep.put(kept('a', 1));
  keep.put(kept('a|b', 1));
  keep.drop('a');
  keep.drop('s');
  assert.deepEqual(new KeptDrawings(store, base, () => {}).all(10).map((d) => d.sid), ['a|b']);
  assert.equal(store.m.size, 4, 'the head of a|b and its three pieces');
  // A page that never read it finds its pieces all the same.
  new KeptDrawings(store, base, () => {}).drop('a|b');
  assert.equal(store.m.size, 0);
});
