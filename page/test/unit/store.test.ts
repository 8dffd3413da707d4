import assert from 'node:assert/strict';
import { test } from 'node:test';
import type { Item } from '../../src/items.js';
import { ellipseOutline, lineOutline } from '../../src/path.js';
import { placingOf, planPlacing, type Placing } from '../../src/place.js';
import { type Kept, KEPT_DAYS, KEPT_VERSION, KeptDrawings, type KeptStorage, MAX_KEPT_CHARS, keptText, readKept, slideKey } from '../../src/store.js';

const ink: Item = { id: 'a', kind: 'ink', subpaths: lineOutline({ x: 1, y: 2 }, { x: 30, y: 40 }), style: { stroke: { kind: 'rgb', hex: '#1F1F1F' }, width: 2, fill: null, alpha: 1 } };
const disc: Item = { id: 'b', kind: 'ellipse', subpaths: ellipseOutline({ x: 0, y: 0, w: 9, h: 9 }), style: { stroke: { kind: 'theme', n: 5, hex: '#4472C4' }, width: 1, fill: { kind: 'theme', n: 5, hex: '#4472C4' }, alpha: 1 } };
const kept = (sid: string, at: number, items: Item[] = [ink, disc]): Kept => ({ sid, at, items, placed: [['b', { shapes: ['12'], signature: 'x' }]] });

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

test('a kept drawing reads back as it was written, and anything else is refused with a reason', () => {
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
  assert.match(bad((t) => { t.v = KEPT_VERSION + 1; }), /another version/);
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
