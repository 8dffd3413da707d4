// The eraser, the laser pointer and the arrow in headless Chromium against the mock server:
// what the user sees while using them and what reaches the add-in.
import assert from 'node:assert/strict';
import { writeFile } from 'node:fs/promises';
import { join } from 'node:path';
import { after, before, test } from 'node:test';
import { ARTIFACTS, drag, frames, inserts, layerPoint, openBrowser, shot } from './harness.mjs';

// A slide of 960 x 540 points shown 800 points wide: a zoom of 83.3 %.
const Q = { sw: '960', sh: '540', x: '140', y: '90', w: '800', h: '450', pz: '83.30', slide: '257' };
let b;
before(async () => { b = await openBrowser(); });
after(async () => { await b?.close(); });

const at = (x, y) => layerPoint(Q, x, y);
const count = (page, sel) => page.$$eval(sel, (els) => els.length);
const waitNotice = (page, part) => page.waitForFunction((p) => !document.querySelector('#notice').hidden && document.querySelector('#notice').textContent.includes(p), part);
const wave = (x0, y0, n = 40) => Array.from({ length: n }, (_, i) => at(x0 + i * 6, y0 + 30 * Math.sin(i / 5)));

/** Presses the mouse at the first point and moves through the rest, leaving it pressed. */
async function press(page, points) {
  await page.mouse.move(points[0].x, points[0].y);
  await page.mouse.down();
  for (const p of points.slice(1)) await page.mouse.move(p.x, p.y);
  await frames(page);
}

/** The surface's cursor: the image's SVG (decoded), its hotspot and the fallback, or the keyword alone. */
const cursorOf = (page) => page.$eval('#surface', (s) => {
  const c = getComputedStyle(s).cursor;
  const m = c.match(/^url\("data:image\/svg\+xml,([^"]+)"\) (\d+) (\d+), ([a-z-]+)$/);
  return m ? { svg: decodeURIComponent(m[1]), hot: [Number(m[2]), Number(m[3])], fallback: m[4] } : { keyword: c };
});

/** Whether the browser reads the SVG as an image of its stated size (a cursor it can't read falls back). */
const loads = (page, svg) => page.evaluate((text) => new Promise((done) => {
  const img = new Image();
  img.onload = () => done([img.naturalWidth, img.naturalHeight]);
  img.onerror = () => done(null);
  img.src = `data:image/svg+xml,${encodeURIComponent(text)}`;
}), svg);

test('the eraser marks the two strokes it sweeps over and shows its way, takes them when it lets go, and one undo brings both back', async () => {
  const page = await b.page(Q);
  await drag(page, wave(100, 150));
  await drag(page, wave(100, 300));
  await drag(page, wave(500, 450));
  assert.equal(await count(page, '#scene path'), 3);
  const ids = await page.$$eval('#scene path', (ps) => ps.map((p) => p.dataset.id));
  await page.keyboard.press('e');
  assert.equal(await page.$eval('#toolbar [data-tool="eraser"]', (e) => e.getAttribute('aria-pressed')), 'true');
  // Three events far apart, straight down across both waves: the way between them counts.
  await press(page, [at(200, 60), at(210, 250), at(220, 380)]);
  assert.equal(await count(page, '#scene path'), 3, 'nothing goes while the sweep goes on');
  assert.deepEqual(await page.$$eval('#doomed .doomed', (gs) => gs.map((g) => g.dataset.id)), ids.slice(0, 2), 'the two swept strokes are marked, the third is not');
  const wash = await page.$eval('#doomed .doomed .wash', (p) => [p.getAttribute('d'), getComputedStyle(p).stroke]);
  assert.equal(wash[0], await page.$eval(`#scene path[data-id="${ids[0]}"]`, (p) => p.getAttribute('d')), 'the mark follows the stroke itself');
  assert.match(wash[1], /rgba\(255, 255, 255, 0\.7/);
  assert.ok(await count(page, '#sweep path') > 0, 'the way swept shows');
  assert.equal(await page.$eval('#sweep path', (p) => p.getAttribute('stroke-width')), '12', 'as wide as the eraser takes');
  await shot(page, 'eraser-mid-sweep');
  await page.mouse.up();
  await frames(page);
  assert.equal(await count(page, '#scene path'), 1);
  assert.equal(await count(page, '#doomed .doomed'), 0, 'no marks are left');
  await page.waitForFunction(() => document.querySelectorAll('#sweep path').length === 0, null, { timeout: 2500 });
  await page.keyboard.press('Control+z');
  await page.waitForFunction(() => document.querySelectorAll('#scene path').length === 3);
  assert.deepEqual(page.errors, []);
  await page.close();
});

test('the eraser\'s cursor is a ring of its reach and the laser\'s a red dot, both images the browser reads; the pen keeps the crosshair', async () => {
  const page = await b.page(Q);
  assert.deepEqual(await cursorOf(page), { keyword: 'crosshair' });
  await page.keyboard.press('e');
  await frames(page);
  const eraser = await cursorOf(page);
  assert.equal(eraser.fallback, 'cell');
  const rings = [...eraser.svg.matchAll(/<circle cx='(\d+)' cy='(\d+)' r='([\d.]+)'/g)].map((m) => m.slice(1).map(Number));
  assert.deepEqual(rings[0], [8, 8, 6], 'a ring of 6 screen points, the eraser\'s reach, round the hotspot');
  assert.deepEqual(eraser.hot, [8, 8]);
  assert.deepEqual(await loads(page, eraser.svg), [16, 16]);
  await page.keyboard.press('k');
  await frames(page);
  const laser = await cursorOf(page);
  assert.equal(laser.fallback, 'crosshair');
  assert.match(laser.svg, /fill='#ff2d2d'/);
  assert.deepEqual(laser.hot, [8, 8]);
  assert.deepEqual(await loads(page, laser.svg), [16, 16]);
  await page.keyboard.press('v');
  await frames(page);
  assert.deepEqual(await cursorOf(page), { keyword: 'default' }, 'select has the arrow again');
  await page.keyboard.press('p');
  await frames(page);
  assert.deepEqual(await cursorOf(page), { keyword: 'crosshair' });
  await page.close();
});

test('the laser trail shows, is gone about 1.6 s after the pointer lets go, and leaves nothing to place', async () => {
  b.mock.state.inserts.length = 0;
  const page = await b.page(Q);
  await page.keyboard.press('k');
  await press(page, wave(150, 250, 60));
  assert.ok(await count(page, '#laser path') > 1, 'a trail under the pointer');
  await shot(page, 'tool-laser');
  await page.mouse.up();
  const let_go = Date.now();
  assert.equal(await count(page, '#scene path'), 0, 'the trail is never an item');
  await page.waitForTimeout(900);
  assert.ok(await count(page, '#laser path') > 0, 'still fading a second after');
  await page.waitForTimeout(Math.max(0, 1600 - (Date.now() - let_go)));
  await page.waitForFunction(() => document.querySelectorAll('#laser path').length === 0, null, { timeout: 1000 });
  // Gone, the trail asks for no more frames: the page is idle.
  const framesAsked = await page.evaluate(() => new Promise((done) => {
    let n = 0;
    const real = window.requestAnimationFrame;
    window.requestAnimationFrame = (fn) => { n += 1; return real(fn); };
    setTimeout(() => { window.requestAnimationFrame = real; done(n); }, 300);
  }));
  assert.equal(framesAsked, 0);
  assert.equal(await page.$eval('#toolbar button[aria-label="Undo"]', (e) => e.disabled), true, 'nothing to undo');
  await page.keyboard.press('Shift+Enter');
  await waitNotice(page, 'Nothing to place yet.');
  assert.equal(b.mock.state.inserts.length, 0);
  assert.deepEqual(page.errors, []);
  await page.close();
});

test('to an add-in from before arrowheads an arrow is placed as one insert in its colour, stroke and fill, shaft and closed head', async () => {
  b.mock.state.inserts.length = 0;
  b.mock.state.slide.shapes.length = 0;
  const page = await b.page(Q);
  await page.keyboard.press('w');
  await page.click('#toolbar .swatch[data-paint="theme:5"]');
  await page.click('#toolbar .width[data-width="3"]');
  await drag(page, [at(120, 420), at(300, 330), at(480, 240)]);
  await shot(page, 'tool-arrow');
  await page.keyboard.press('Enter');
  const [ins] = await inserts(page, b.mock, 1);
  await waitNotice(page, 'Placed');
  assert.equal(b.mock.state.inserts.length, 1);
  assert.deepEqual([ins.body.stroke, ins.body.fill, ins.body.width], ['theme:5', 'theme:5', '3']);
  const [shaft, head] = ins.body.path.split(/ (?=M)/);
  assert.match(shaft, /^M[\d. ]+ L[\d. ]+$/, 'the shaft is an open line');
  assert.match(head, /^M[\d. ]+ L[\d. ]+ L[\d. ]+ Z$/, 'the head is a closed triangle');
  const tip = head.match(/[\d.]+/g).slice(0, 2).map(Number);
  assert.ok(Math.abs(tip[0] - 480) < 1.5 && Math.abs(tip[1] - 240) < 1.5, `the tip where the drag ended: ${tip}`);
  assert.equal(b.mock.state.slide.shapes.length, 2, 'two freeforms on the slide');
  await writeFile(join(ARTIFACTS, 'tool-arrow-on-slide.png'), b.mock.slidePng(960));
  await page.close();
});

test('to an add-in with arrowheads an arrow goes as one line to its tip, and a move replaces that one shape', async () => {
  b.mock.state.inserts.length = 0;
  b.mock.state.slide.shapes.length = 0;
  b.mock.state.arrowheads = true;
  try {
    const page = await b.page(Q);
    await page.keyboard.press('w');
    await drag(page, [at(120, 420), at(300, 330), at(480, 240)]);
    await page.keyboard.press('Shift+Enter');
    const [ins] = await inserts(page, b.mock, 1);
    await waitNotice(page, 'Placed');
    assert.equal(ins.body.arrowhead, 'triangle');
    assert.equal(ins.args.fill, 'none');
    const n = ins.args.path.match(/-?[\d.]+/g).map(Number);
    assert.equal(n.length, 4, `one straight line: ${ins.args.path}`);
    assert.ok(Math.abs(n[2] - 480) < 1.5 && Math.abs(n[3] - 240) < 1.5, `it ends at the tip: ${n}`);
    assert.equal(b.mock.state.slide.shapes.length, 1, 'one freeform on the slide');
    const first = b.mock.state.slide.shapes[0].id;
    await page.keyboard.press('v');
    await drag(page, [at(300, 330), at(310, 330), at(330, 330)]);
    await page.keyboard.press('Shift+Enter');
    const [again] = await inserts(page, b.mock, 2).then((all) => all.slice(1));
    assert.equal(again.args.replace, String(first), 'the moved arrow replaces its one shape');
    assert.equal(b.mock.state.slide.shapes.length, 1);
    await page.close();
  } finally {
    b.mock.state.arrowheads = false;
  }
});

test('a stroke erased after placing leaves the slide at the next placing', async () => {
  b.mock.state.inserts.length = 0;
  b.mock.state.slide.shapes.length = 0;
  const page = await b.page(Q);
  await drag(page, wave(100, 150));
  await drag(page, wave(100, 350));
  await page.keyboard.press('Shift+Enter');
  await inserts(page, b.mock, 1);
  await waitNotice(page, 'Placed');
  assert.equal(b.mock.state.slide.shapes.length, 2);
  const kept = b.mock.state.slide.shapes.find((s) => s.frame.t > 250).id;
  await page.keyboard.press('e');
  await press(page, [at(200, 60), at(220, 250)]);
  // The slide shows the placed stroke, not the layer: the mark goes over the slide's shape.
  assert.equal(await page.$$eval('#scene path', (ps) => ps.filter((p) => p.getAttribute('visibility') !== 'hidden').length), 0);
  assert.equal(await count(page, '#doomed .doomed'), 1, 'the placed stroke is marked all the same');
  await page.mouse.up();
  await frames(page);
  await page.keyboard.press('Enter');
  await inserts(page, b.mock, 2);
  const until = Date.now() + 5000;
  while (b.mock.state.slide.shapes.length !== 1 && Date.now() < until) await new Promise((r) => setTimeout(r, 20));
  assert.deepEqual(b.mock.state.slide.shapes.map((s) => s.id), [kept], 'the other stroke stays as it was placed');
  await page.close();
});
