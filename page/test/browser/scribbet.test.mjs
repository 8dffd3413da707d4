// The drawing page served by the real Scribbet (build/scribbet), placing through the real
// desktop stand-in (build/scribbet-standin): what lands on the stand-in's slide, measured by the
// stand-in's own layout of its window; what Scribbet stores; and what a user sees.
import assert from 'node:assert/strict';
import { readFile, writeFile } from 'node:fs/promises';
import { join } from 'node:path';
import { after, before, beforeEach, test } from 'node:test';
import { ARTIFACTS, drag, frames, launchChromium, messages, shot } from './harness.mjs';
import { deviation, outlinePoints } from './geometry.mjs';
import { layerFor, ROOT, slidePointOf, startPrograms, until } from './programs.mjs';

let p;
let browser;
let defaultTheme;
let opened = 0;
const figures = {};

before(async () => {
  p = await startPrograms();
  browser = await launchChromium();
  defaultTheme = (await p.state()).theme;
});

after(async () => {
  await browser?.close();
  await p?.close();
  if (Object.keys(figures).length) await writeFile(join(ARTIFACTS, 'scribbet-placement.json'), `${JSON.stringify(figures, null, 2)}\n`);
});

// Every test starts from the stand-in's default desktop with three empty slides.
beforeEach(async () => {
  await p.set('slides=[{"id":256},{"id":257},{"id":258}]', 'slide=1', 'window=80,60,1280,820', 'scroll=0.5,0.5',
    'split=100', 'running=true', 'addin.loaded=true', 'addin.loadable=true', 'addin.arrowheads=true', 'automation=allowed', 'delay=0',
    `theme=${defaultTheme.join(',')}`);
});

/** The stand-in's slide editor in layer coordinates, as Scribbet reads it with Accessibility. */
const editorOf = (state, origin) => {
  const [x, y, w, h] = state.layout.pane;
  return { x: x - origin.x, y: y - origin.y, w, h };
};

/**
 * Opens the page as the layer would for where the stand-in shows the slide now; with editor,
 * as Scribbet opens it when it reads the slide editor through Accessibility.
 */
async function openPage(extra = {}, { editor = false } = {}) {
  const state = await p.state();
  let layer = layerFor(await p.macro('SCBT_Geom'), state.screens, { sid: `live-${process.pid}-${++opened}`, ...extra });
  if (editor) {
    const e = editorOf(state, layer.origin);
    layer = layerFor(await p.macro('SCBT_Geom'), state.screens, { ...layer.query, host: '1', px: e.x, py: e.y, pw: e.w, ph: e.h });
    layer.editor = e;
  }
  const page = await browser.context.newPage();
  await page.setViewportSize(layer.screen);
  page.errors = [];
  page.refused = [];
  page.on('pageerror', (e) => page.errors.push(String(e)));
  page.on('response', (r) => { if (r.status() >= 400) page.refused.push(`${r.status()} ${r.request().method()} ${r.url()}`); });
  await page.goto(`${p.origin}/overlay.html?${new URLSearchParams(layer.query)}`);
  await page.waitForFunction(() => window.__messages.some((m) => m.type === 'ready'));
  return { page, layer, state };
}

/** Nothing went wrong in the page, Scribbet refused none of its requests, and it logged nothing. */
async function clean(page) {
  assert.deepEqual(page.errors, [], 'no script errors');
  assert.deepEqual(page.refused, [], 'Scribbet refused none of the page\'s requests');
  assert.deepEqual((await messages(page, 'log')).map((m) => m.msg), [], 'nothing in the application log');
}

const shapesOn = (state) => state.slides[state.slide - 1].shapes;

/** Waits until the stand-in's current slide holds n shapes, and returns them. */
async function placed(n, timeout = 10000) {
  let last = [];
  try {
    await until(`${n} shapes on the stand-in's slide`, async () => (last = shapesOn(await p.state())).length === n, timeout);
  } catch {
    assert.fail(`expected ${n} shapes on the stand-in's slide, found ${last.length}:\n${JSON.stringify(last)}\n${p.log()}`);
  }
  return last;
}

const noticeText = (page) => page.$eval('#notice', (n) => (n.hidden ? '' : n.textContent));
const waitNotice = (page, part) => page.waitForFunction((t) => {
  const n = document.querySelector('#notice');
  return !n.hidden && n.textContent.includes(t);
}, part, { timeout: 10000 });
const pathsShown = (page) => page.$$eval('#scene path', (ps) => ps.length);
/** Waits until the page is no longer placing (its Place button is back). */
const settled = (page) => page.waitForFunction(() => document.querySelector('#toolbar .place').textContent === 'Place', undefined, { timeout: 10000 });

/** The numbers of a path text, as [x, y] pairs. */
const pairs = (path) => {
  const n = path.match(/-?[\d.]+(?:e-?\d+)?/g).map(Number);
  return Array.from({ length: n.length / 2 }, (_, i) => [n[2 * i], n[2 * i + 1]]);
};
const near = (a, b, tol, what) => assert.ok(Math.abs(a - b) <= tol, `${what}: ${a} is not within ${tol} of ${b}`);

/** Saves the stand-in's slide as Scribbet serves its picture to the page. */
async function slidePicture(name) {
  const a = await p.api('GET', '/api/slide?px=960');
  assert.equal(JSON.parse(a.body).ok, true, a.body.toString());
  const png = await p.api('GET', '/api/slide.png');
  assert.equal(png.type, 'image/png');
  await writeFile(join(ARTIFACTS, `${name}.png`), png.body);
}

function wave(x0, y0, n = 40, dx = 6, amp = 30) {
  return Array.from({ length: n }, (_, i) => ({ x: x0 + i * dx, y: y0 + amp * Math.sin(i / 5) }));
}

test('served by Scribbet: ready, the slide and toolbar regions, and the stand-in\'s theme on the toolbar and the slide', async () => {
  const theme = ['#101010', '#FAFAFA', '#223344', '#EEEEEE', '#C0392B', '#27AE60', '#2980B9', '#8E44AD', '#F39C12', '#16A085', '#0000EE', '#551A8B'];
  await p.set(`theme=${theme.join(',')}`, 'zoom=75', 'fit=false');
  const { page, layer } = await openPage();
  await page.waitForFunction(() => document.querySelectorAll('#toolbar .swatch[data-paint^="theme:"]').length === 12);
  const all = await messages(page);
  assert.equal(all[0].type, 'ready');
  const regions = all.filter((m) => m.type === 'regions').at(-1);
  assert.deepEqual(regions.rects[0], [layer.rect.x, layer.rect.y, layer.rect.w, layer.rect.h], 'the slide where the stand-in shows it');
  const bar = await page.$eval('#toolbar', (e) => e.getBoundingClientRect().toJSON());
  assert.ok(regions.rects.some(([x, y, w, h]) => x <= bar.x && y <= bar.y && x + w >= bar.right && y + h >= bar.bottom), 'the toolbar takes the mouse');

  const swatches = await page.$$eval('#toolbar .swatch[data-paint^="theme:"]', (bs) => bs.map((b) => [b.dataset.paint, getComputedStyle(b).backgroundColor]));
  const rgb = (hex) => `rgb(${[1, 3, 5].map((i) => parseInt(hex.slice(i, i + 2), 16)).join(', ')})`;
  assert.deepEqual(swatches, theme.map((hex, i) => [`theme:${i + 1}`, rgb(hex)]));

  // A theme colour stays tied to the theme on the slide.
  await page.click('#toolbar .swatch[data-paint="theme:6"]');
  await drag(page, wave(200, 250).map((q) => layer.at(q.x, q.y)));
  await page.keyboard.press('Enter');
  const [shape] = await placed(1);
  assert.equal(shape.stroke, 'theme:6');
  await waitNotice(page, 'Placed on the slide');
  await shot(page, 'scribbet-theme');
  await slidePicture('scribbet-theme-on-slide');
  await clean(page);
  await page.close();
});

test('a stroke drawn at 75 % lands on the stand-in\'s slide within a point of where it was drawn', async () => {
  await p.set('zoom=75', 'fit=false');
  const { page, layer } = await openPage();
  const state = await p.state();
  assert.equal(state.layout.zoom, 75);
  const target = Array.from({ length: 120 }, (_, i) => ({ x: 80 + i * 6.5, y: 270 + 120 * Math.sin(i / 14) + 25 * Math.cos(i / 4) }));
  const mouse = target.map((q) => layer.at(q.x, q.y));
  await drag(page, mouse);
  await shot(page, 'scribbet-stroke-75');
  await page.keyboard.press('Enter');
  const [shape] = await placed(1);
  assert.deepEqual({ ...shape, path: undefined, frame: undefined, id: undefined, name: undefined },
    { kind: 'freeform', stroke: '#1F1F1F', weight: 2, fill: 'none', arrowhead: 'none', path: undefined, frame: undefined, id: undefined, name: undefined });
  const drawn = mouse.map((m) => slidePointOf(state, layer.origin, m));
  const [outline] = outlinePoints(shape.path);
  const dev = deviation(drawn, outline);
  figures.strokeAt75 = { deviationPt: dev, points: drawn.length, pathChars: shape.path.length };
  assert.ok(dev <= 1, `placed ${dev.toFixed(3)} pt away from the drawing`);
  await waitNotice(page, 'Placed on the slide');
  await slidePicture('scribbet-stroke-on-slide');
  // The ink over the stand-in's picture of the slide: one line where they agree.
  await page.keyboard.press('Shift+I');
  await page.waitForFunction(() => { const i = document.querySelector('#picture'); return !i.hidden && i.complete && i.naturalWidth > 0; });
  await shot(page, 'scribbet-stroke-over-slide-picture');
  await clean(page);
  await page.close();
});

test('the program zooms to 150 % and scrolls mid-drawing: the drawing moves with the slide, and both strokes land where drawn', async () => {
  await p.set('zoom=75', 'fit=false');
  const { page, layer } = await openPage();
  const before = await p.state();
  const m1 = wave(120, 180, 50, 5, 40).map((q) => layer.at(q.x, q.y));
  await drag(page, m1);
  const drawn1 = m1.map((m) => slidePointOf(before, layer.origin, m));

  await p.set('zoom=150', 'scroll=0.2,0.3');
  const now = await p.state();
  const moved = layerFor(await p.macro('SCBT_Geom'), now.screens);
  assert.notDeepEqual(moved.rect, layer.rect);
  await page.evaluate((cmd) => SCB.command(cmd), moved.geomCommand);
  await page.waitForFunction((w) => document.querySelector('#frame').style.width === `${w}px`, moved.geomCommand.w);

  // The first stroke is shown where the stand-in now shows that part of the slide.
  const [sx, sy, sWidth] = now.layout.slide;
  const k = sWidth / now.slideSize[0];
  const xs = drawn1.map((q) => q.x), ys = drawn1.map((q) => q.y);
  const box = await page.$eval('#scene path', (e) => e.getBoundingClientRect().toJSON());
  const pad = 2 * k + 1; // half the 2-point line at 150 %, and a pixel for anti-aliasing
  near(box.left, sx - layer.origin.x + Math.min(...xs) * k, pad, 'left edge');
  near(box.top, sy - layer.origin.y + Math.min(...ys) * k, pad, 'top edge');
  near(box.width, (Math.max(...xs) - Math.min(...xs)) * k, 2 * pad, 'width');

  // A second stroke in the part of the slide the pane shows now.
  const [px, py, pw, ph] = now.layout.pane;
  const vis = { x: Math.max(px, sx), y: Math.max(py, sy), r: Math.min(px + pw, sx + sWidth), b: Math.min(py + ph, sy + now.layout.slide[3]) };
  const m2 = Array.from({ length: 60 }, (_, i) => ({
    x: Math.round(vis.x + 40 + i * ((vis.r - vis.x - 80) / 60) - layer.origin.x),
    y: Math.round((vis.y + vis.b) / 2 + 60 * Math.cos(i / 9) - layer.origin.y),
  }));
  await drag(page, m2);
  const drawn2 = m2.map((m) => slidePointOf(now, layer.origin, m));
  await shot(page, 'scribbet-zoom-150');
  await page.keyboard.press('Enter');
  const shapes = await placed(2);
  const devs = [drawn1, drawn2].map((d, i) => deviation(d, outlinePoints(shapes[i].path)[0]));
  figures.strokeAt75ThenAt150 = { deviationPt: devs };
  assert.ok(devs.every((d) => d <= 1), `placed ${devs.map((d) => d.toFixed(3)).join(' and ')} pt away from the drawings`);
  await waitNotice(page, 'Placed on the slide');
  await slidePicture('scribbet-zoom-on-slide');
  await clean(page);
  await page.close();
});

/** How many dark pixels (ink, not the frame's pale outline) the page shows in a rectangle. */
async function inkIn(page, r) {
  const png = await page.screenshot({ clip: { x: r.x, y: r.y, width: r.w, height: r.h } });
  const probe = await browser.context.newPage();
  try {
    return await probe.evaluate(async (data) => {
      const img = new Image();
      img.src = `data:image/png;base64,${data}`;
      await img.decode();
      const c = document.createElement('canvas');
      c.width = img.naturalWidth;
      c.height = img.naturalHeight;
      const g = c.getContext('2d');
      g.drawImage(img, 0, 0);
      const px = g.getImageData(0, 0, c.width, c.height).data;
      let n = 0;
      for (let i = 0; i < px.length; i += 4) if (px[i] < 100 && px[i + 1] < 100 && px[i + 2] < 100) n++;
      return n;
    }, png.toString('base64'));
  } finally {
    await probe.close();
  }
}

const overlaps = (a, [x, y, w, h]) => a.x < x + w && x < a.x + a.w && a.y < y + h && y < a.y + a.h;

test('zoomed in, the slide runs under the ribbon and the thumbnails: the page takes the mouse and shows ink only in the slide editor', async () => {
  await p.set('zoom=150', 'fit=false', 'scroll=0.2,0.3');
  const { page, layer, state } = await openPage({}, { editor: true });
  const ed = layer.editor;
  const o = layer.origin;
  const inLayer = ([x, y, w, h]) => ({ x: x - o.x, y: y - o.y, w, h });
  const ribbon = inLayer(state.layout.ribbon), thumbs = inLayer(state.layout.thumbnails);
  assert.ok(layer.rect.x < ed.x && layer.rect.y < ed.y, 'the slide starts left of and above the editor');

  await page.waitForFunction(() => window.__messages.some((m) => m.type === 'regions'));
  let regions = (await messages(page, 'regions')).at(-1);
  const seen = { x: ed.x, y: ed.y, w: layer.rect.x + layer.rect.w - ed.x, h: ed.h };
  seen.w = Math.min(seen.w, ed.w);
  regions.rects[0].forEach((v, i) => near(v, [seen.x, seen.y, seen.w, seen.h][i], 0.01, 'the slide as far as the editor shows it'));
  for (const r of regions.rects) {
    assert.ok(!overlaps(ribbon, r) && !overlaps(thumbs, r), `the region ${r} takes the mouse from the program's ribbon or thumbnails`);
  }

  // A stroke from the editor up over the ribbon: all of it is kept, only the part in the editor shows.
  const mouse = Array.from({ length: 50 }, (_, i) => ({ x: ed.x + 200 + i * 8, y: Math.round(ed.y + 150 - i * 5) }));
  assert.ok(mouse.at(-1).y < ribbon.y + ribbon.h, 'the stroke ends over the ribbon');
  await drag(page, mouse);
  await shot(page, 'scribbet-zoomed-in-editor');
  const top = { x: ed.x + 150, y: ribbon.y, w: 500, h: ribbon.h };
  assert.equal(await inkIn(page, top), 0, 'no ink over the ribbon');
  // (Below the notice at the editor's top, whose text is dark too.)
  assert.ok(await inkIn(page, { x: ed.x + 190, y: ed.y + 40, w: 200, h: 120 }) > 50, 'ink in the editor');
  regions = (await messages(page, 'regions')).at(-1);
  assert.equal(regions.all, false);
  for (const r of regions.rects) assert.ok(!overlaps(ribbon, r), `after drawing, the region ${r} covers the ribbon`);

  // Back at 75 % the whole slide is in the editor, and so is the whole stroke.
  await p.set('zoom=75');
  const now = await p.state();
  const back = layerFor(await p.macro('SCBT_Geom'), now.screens);
  const e2 = editorOf(now, o);
  await page.evaluate((cmd) => SCB.command(cmd), { ...back.geomCommand, host: true, pane: [e2.x, e2.y, e2.w, e2.h] });
  await page.waitForFunction((w) => document.querySelector('#frame').style.width === `${w}px`, back.geomCommand.w);
  await page.waitForFunction((r) => {
    const last = window.__messages.filter((m) => m.type === 'regions').at(-1);
    return Math.abs(last.rects[0][2] - r.w) < 0.01 && Math.abs(last.rects[0][0] - r.x) < 0.01;
  }, back.rect);
  await shot(page, 'scribbet-zoomed-back');
  await page.keyboard.press('Enter');
  const [shape] = await placed(1);
  const drawn = mouse.map((m) => slidePointOf(state, o, m));
  const dev = deviation(drawn, outlinePoints(shape.path)[0]);
  figures.strokeAt150UnderRibbon = { deviationPt: dev };
  assert.ok(dev <= 1, `placed ${dev.toFixed(3)} pt away from the drawing, the part under the ribbon included`);
  await clean(page);
  await page.close();
});

test('shapes at Fit: a rectangle, a filled circle and a 45 degree line land on the slide as drawn', async () => {
  await p.set('fit=true');
  const { page, layer, state } = await openPage();
  assert.notEqual(state.layout.zoom, 100);
  const sp = (m) => slidePointOf(state, layer.origin, m);
  const r0 = layer.at(100, 100), r1 = layer.at(260, 220);
  await page.keyboard.press('r');
  await drag(page, [r0, { x: r0.x + 50, y: r0.y + 30 }, r1]);
  await page.keyboard.press('f');
  await page.keyboard.press('o');
  const e0 = layer.at(400, 100);
  await drag(page, [e0, layer.at(470, 150), layer.at(540, 200)], { shift: true });
  await page.keyboard.press('l');
  const l0 = layer.at(600, 300);
  await drag(page, [l0, layer.at(650, 360), layer.at(720, 400)], { shift: true });
  await shot(page, 'scribbet-shapes');
  await page.keyboard.press('Enter');
  const shapes = await placed(3);
  await waitNotice(page, 'Placed on the slide');

  // In the order they were drawn: the rectangle, the filled circle, the line.
  const [rect, circle, line] = shapes;
  const a = sp(r0), b = sp(r1);
  const corners = pairs(rect.path);
  assert.match(rect.path, /Z\s*$/, 'a closed rectangle');
  assert.equal(corners.length, 4);
  const want = [[a.x, a.y], [b.x, a.y], [b.x, b.y], [a.x, b.y]];
  let worst = 0;
  for (const [x, y] of want) worst = Math.max(worst, Math.min(...corners.map(([cx, cy]) => Math.hypot(cx - x, cy - y))));
  figures.rectangleCornersAtFit = { zoom: state.layout.zoom, worstPt: worst };
  assert.ok(worst <= 0.05, `a corner is ${worst} pt from where it was drawn`);
  assert.equal(rect.fill, 'none');

  const [lx, ly, lw, lh] = line.frame;
  const l = sp(l0);
  near(lx, l.x, 0.05, 'the line starts where it was drawn');
  near(ly, l.y, 0.05, 'the line starts where it was drawn');
  near(lw, lh, 0.05, 'a 45 degree line');

  const [cx, cy, cw, ch] = circle.frame;
  const e = sp(e0);
  near(cx, e.x, 0.05, 'the circle starts at the press');
  near(cy, e.y, 0.05, 'the circle starts at the press');
  near(cw, ch, 0.05, 'a circle, not an ellipse');
  assert.ok(cw > 50, 'as big as it was dragged');
  assert.equal(circle.fill, circle.stroke, 'filled with its stroke colour');
  await slidePicture('scribbet-shapes-on-slide');
  await clean(page);
  await page.close();
});

test('on the second screen, undo and redo decide what is placed: only the kept stroke reaches the slide', async () => {
  await p.set('zoom=90', 'fit=false', 'window=1600,80,1400,860');
  const { page, layer, state } = await openPage();
  assert.equal(layer.origin.x, state.screens[1].frame[0], 'the layer covers the second screen');
  const keep = wave(100, 150).map((q) => layer.at(q.x, q.y));
  const drop = wave(100, 350).map((q) => layer.at(q.x, q.y));
  await drag(page, keep);
  await drag(page, drop);
  await page.keyboard.press('Control+z');
  await page.waitForFunction(() => document.querySelectorAll('#scene path').length === 1);
  await page.click('#toolbar button[aria-label="Redo"]');
  await page.waitForFunction(() => document.querySelectorAll('#scene path').length === 2);
  await page.click('#toolbar button[aria-label="Undo"]');
  await page.waitForFunction(() => document.querySelectorAll('#scene path').length === 1);
  await page.keyboard.press('Enter');
  const [shape] = await placed(1);
  await waitNotice(page, 'Placed on the slide');
  const outline = outlinePoints(shape.path)[0];
  const toSlide = (m) => slidePointOf(state, layer.origin, m);
  assert.ok(deviation(keep.map(toSlide), outline) <= 1, 'the kept stroke');
  assert.ok(deviation(drop.map(toSlide), outline) > 100, 'not the undone one');
  // Nothing further happens on the slide: a short wait shows no second shape.
  await new Promise((r) => setTimeout(r, 300));
  assert.equal(shapesOn(await p.state()).length, 1);
  await clean(page);
  await page.close();
});

test('the drawing lands on the slide it was drawn on, after the program has gone on to another', async () => {
  await p.set('slide=2', 'zoom=75', 'fit=false');
  const { page, layer } = await openPage();
  assert.equal(layer.query.slide, '257');
  await drag(page, wave(100, 200).map((q) => layer.at(q.x, q.y)));
  await p.set('slide=3');
  await page.keyboard.press('Enter');
  await waitNotice(page, 'Placed on the slide');
  const state = await p.state();
  assert.deepEqual(state.slides.map((sl) => sl.shapes.length), [0, 1, 0], 'on slide 257 only');
  assert.equal(state.slide, 3, 'the program stays on the slide it shows');
  // A slide that is gone: the add-in's refusal is shown and the drawing stays.
  await p.set('slides=[{"id":256},{"id":258}]');
  await page.keyboard.press('p');
  await drag(page, wave(100, 350).map((q) => layer.at(q.x, q.y)));
  await page.keyboard.press('Enter');
  await waitNotice(page, '257');
  assert.equal(await pathsShown(page), 2);
  assert.deepEqual((await p.state()).slides.map((sl) => sl.shapes.length), [0, 0]);
  assert.deepEqual(page.errors, []);
  await page.close();
});

test('an arrow lands as one freeform ending in the program\'s arrowhead, and as shaft and head with an add-in from before arrowheads', async () => {
  await p.set('zoom=80', 'fit=false');
  const { page, layer, state } = await openPage();
  const sp = (m) => slidePointOf(state, layer.origin, m);
  await page.keyboard.press('w');
  const a0 = layer.at(100, 300), a1 = layer.at(400, 200);
  await drag(page, [a0, layer.at(250, 250), a1]);
  await page.keyboard.press('Shift+Enter');
  const [arrow] = await placed(1);
  await waitNotice(page, 'Placed on the slide');
  assert.equal(arrow.arrowhead, 'triangle');
  assert.equal(arrow.fill, 'none', 'an open line, its head the program\'s');
  const [[x0, y0], [x1, y1], ...rest] = pairs(arrow.path);
  assert.equal(rest.length, 0, 'one straight line');
  const a = sp(a0), b = sp(a1);
  near(x0, a.x, 0.05, 'from the press'); near(y0, a.y, 0.05, 'from the press');
  near(x1, b.x, 0.05, 'to the tip'); near(y1, b.y, 0.05, 'to the tip');
  await slidePicture('scribbet-arrow-on-slide');

  // Moved and placed again: its one shape is replaced, not doubled.
  await page.keyboard.press('v');
  const grab = layer.at(250, 250);
  await drag(page, [grab, { x: grab.x + 10, y: grab.y }, { x: grab.x + 30, y: grab.y }]);
  await page.keyboard.press('Shift+Enter');
  await until('the first arrow to go', async () => shapesOn(await p.state()).every((sh) => sh.id !== arrow.id));
  const [moved] = await placed(1);
  assert.equal(moved.arrowhead, 'triangle');
  await settled(page);

  // An add-in that knows no arrowheads gets the shaft and the filled head, and a move replaces both.
  await p.set('addin.arrowheads=false');
  await page.keyboard.press('w');
  await drag(page, [layer.at(100, 380), layer.at(200, 390), layer.at(300, 400)]);
  await page.keyboard.press('Shift+Enter');
  await settled(page);
  const three = await placed(3).catch(async (e) => assert.fail(`${e.message}\n${await noticeText(page)}`));
  const [shaft, head] = three.filter((sh) => sh.id !== moved.id);
  // As before arrowheads: one style for both, so the open shaft stays a line and the head is filled.
  assert.deepEqual([shaft.arrowhead, head.arrowhead, head.fill], ['none', 'none', head.stroke]);
  assert.doesNotMatch(shaft.path, /Z/);
  assert.match(head.path, /Z\s*$/);
  await page.keyboard.press('v');
  await settled(page);
  const g2 = layer.at(200, 390);
  await drag(page, [g2, { x: g2.x, y: g2.y + 10 }, { x: g2.x, y: g2.y + 30 }]);
  await page.keyboard.press('Shift+Enter');
  await until('the shaft and head to be replaced', async () => shapesOn(await p.state()).every((sh) => sh.id !== shaft.id && sh.id !== head.id));
  assert.equal((await placed(3)).length, 3);
  await clean(page);
  await page.close();
});

test('placed with the layer kept open, a moved rectangle replaces its shape on the stand-in\'s slide', async () => {
  await p.set('zoom=80', 'fit=false');
  const { page, layer, state } = await openPage();
  const s = layer.rect.w / layer.sw;
  await page.keyboard.press('r');
  const r0 = layer.at(100, 100), r1 = layer.at(200, 200);
  await drag(page, [r0, r1]);
  await page.keyboard.press('Shift+Enter');
  const [first] = await placed(1);
  await waitNotice(page, 'Placed on the slide');
  await page.keyboard.press('v');
  const grab = layer.at(100, 150), drop = { x: grab.x + 24, y: grab.y + 16 };
  await drag(page, [grab, { x: grab.x + 10, y: grab.y + 5 }, drop]);
  await shot(page, 'scribbet-moved');
  await page.keyboard.press('Shift+Enter');
  await until('the old shape to go', async () => shapesOn(await p.state()).every((sh) => sh.id !== first.id));
  const [second] = await placed(1);
  const a = slidePointOf(state, layer.origin, r0);
  near(second.frame[0], a.x + 24 / s, 0.05, 'moved right by the drag');
  near(second.frame[1], a.y + 16 / s, 0.05, 'moved down by the drag');
  near(second.frame[2], first.frame[2], 0.01, 'same width');
  await clean(page);
  await page.close();
});

/** The colour of the pixel at (x, y) of a PNG, read by the browser that took it. */
const pixel = (page, png, x, y) => page.evaluate(async ([b64, px, py]) => {
  const img = new Image();
  img.src = `data:image/png;base64,${b64}`;
  await img.decode();
  const c = new OffscreenCanvas(img.width, img.height);
  const g = c.getContext('2d');
  g.drawImage(img, 0, 0);
  return [...g.getImageData(px, py, 1, 1).data].slice(0, 3);
}, [png.toString('base64'), x, y]);

test('mixed styles, an edit under the ink and a deletion: the stand-in\'s slide keeps the page\'s order, and placed ink is not shown twice', async () => {
  await p.set('zoom=75', 'fit=false');
  const { page, layer } = await openPage();
  const kinds = async () => shapesOn(await p.state()).map((sh) => `${sh.stroke}/${sh.fill}@${Math.round(sh.frame[0])}`);
  const red = '#E0282E', blue = '#1E6FD9', black = '#1F1F1F';
  // A filled ellipse, ink across it, an outlined rectangle, more ink: four runs of styles.
  await page.keyboard.press('o');
  await page.keyboard.press('f');
  await drag(page, [layer.at(100, 100), layer.at(200, 180), layer.at(300, 250)]);
  await page.keyboard.press('p');
  const ink1 = wave(80, 175, 50, 6, 30);
  await drag(page, ink1.map((q) => layer.at(q.x, q.y)));
  await page.keyboard.press('r');
  await page.keyboard.press('f');
  await drag(page, [layer.at(400, 100), layer.at(550, 250)]);
  await page.keyboard.press('p');
  const ink2 = wave(600, 300, 40, 6, 20);
  await drag(page, ink2.map((q) => layer.at(q.x, q.y)));
  await page.keyboard.press('Shift+Enter');
  await placed(4);
  await waitNotice(page, 'Placed on the slide');
  const order = [`${red}/${red}@100`, `${black}/none@80`, `${red}/none@400`, `${black}/none@600`];
  assert.deepEqual(await kinds(), order);

  // The ellipse under the ink turns blue: it keeps its place under the ink.
  await page.keyboard.press('v');
  await page.mouse.click(layer.at(200, 115).x, layer.at(200, 115).y);
  await page.click(`#toolbar .swatch[data-paint="${blue}"]`);
  await page.keyboard.press('Shift+Enter');
  await until('the blue ellipse', async () => (await kinds())[0]?.startsWith(blue), 10000);
  await placed(4);
  await settled(page);
  assert.deepEqual(await kinds(), [`${blue}/${blue}@100`, ...order.slice(1)]);

  // The last stroke deleted: that is unplaced work, and the next placing takes it away.
  await page.mouse.click(layer.at(ink2[10].x, ink2[10].y).x, layer.at(ink2[10].x, ink2[10].y).y);
  await page.keyboard.press('Delete');
  await page.keyboard.press('Escape');
  await waitNotice(page, 'Press Esc again to close without placing - one change would be lost.');
  await page.keyboard.press('Shift+Enter');
  await waitNotice(page, 'Taken off the slide.');
  await placed(3);
  await settled(page);
  assert.deepEqual(await kinds(), [`${blue}/${blue}@100`, ...order.slice(1, 3)]);
  await page.keyboard.press('Shift+Enter');
  await waitNotice(page, 'Nothing new to place: the slide has the drawing as it is.');

  // A highlighter stroke placed with the layer kept open: over the slide's own picture the
  // layer adds nothing, where it used to paint the stroke a second time.
  await page.keyboard.press('h');
  const hl = wave(100, 420, 60, 8, 8);
  await drag(page, hl.map((q) => layer.at(q.x, q.y)));
  await page.keyboard.press('Shift+Enter');
  await placed(4);
  await waitNotice(page, 'Placed on the slide');
  assert.equal(await pathsShown(page), 4, 'placed items stay on the page, to select and edit');
  await page.keyboard.press('Shift+I');
  await page.waitForFunction(() => { const i = document.querySelector('#picture'); return !i.hidden && i.complete && i.naturalWidth > 0; });
  await frames(page);
  const withLayer = await page.screenshot();
  await shot(page, 'scribbet-placed-over-slide-picture');
  await page.$eval('#stage', (e) => { e.style.visibility = 'hidden'; });
  await frames(page);
  const pictureOnly = await page.screenshot();
  await page.$eval('#stage', (e) => { e.style.visibility = ''; });
  for (const q of [hl[10], hl[30], ink1[25]]) {
    const m = layer.at(q.x, q.y);
    const [a, b] = [await pixel(page, withLayer, m.x, m.y), await pixel(page, pictureOnly, m.x, m.y)];
    assert.ok(a.every((v, i) => Math.abs(v - b[i]) <= 3), `at ${m.x},${m.y} the layer shows ${a}, the slide alone ${b}`);
    assert.ok(b.some((v) => v < 245), `the slide picture shows the ink at ${m.x},${m.y}: ${b}`);
  }
  // Selected, a placed item shows again, so the user sees what is being edited.
  await page.keyboard.press('v');
  await page.mouse.click(layer.at(hl[10].x, hl[10].y).x, layer.at(hl[10].x, hl[10].y).y);
  await frames(page);
  const m = layer.at(hl[10].x, hl[10].y);
  const selected = await pixel(page, await page.screenshot(), m.x, m.y);
  const alone = await pixel(page, pictureOnly, m.x, m.y);
  assert.ok(selected[2] < alone[2] - 20, `the selected highlighter shows over its shape: ${selected} over ${alone}`);
  await clean(page);
  await page.close();
});

test('Option+arrows move the frame and Scribbet stores the whole offset; a layer opened with it keeps drawings in slide points', async () => {
  await p.set('zoom=75', 'fit=false');
  let { page, layer } = await openPage();
  assert.equal(p.prefs()?.nudge, undefined, 'nothing stored yet');
  await page.keyboard.press('Alt+ArrowRight');
  await page.keyboard.press('Alt+ArrowRight');
  await page.keyboard.press('Alt+Shift+ArrowDown');
  await page.waitForFunction((top) => document.querySelector('#frame').style.top === `${top}px`, layer.rect.y + 10);
  const stored = await until('the offset in preferences.json', () => p.prefs()?.nudge);
  assert.deepEqual(stored, { x: 2, y: 10 });
  await clean(page);
  await page.close();

  // Scribbet opens the next layer with the stored offset in its address.
  ({ page, layer } = await openPage({ nx: '2', ny: '10' }));
  assert.deepEqual(await page.$eval('#frame', (e) => [e.style.left, e.style.top]), [`${layer.rect.x + 2}px`, `${layer.rect.y + 10}px`]);
  await page.keyboard.press('Alt+ArrowLeft');
  await until('the new offset stored', () => p.prefs()?.nudge?.x === 1);
  assert.deepEqual(p.prefs().nudge, { x: 1, y: 10 });
  const s = layer.rect.w / layer.sw;
  const shift = (m) => ({ x: m.x + 1, y: m.y + 10 });
  await page.keyboard.press('r');
  await drag(page, [shift(layer.at(100, 100)), shift(layer.at(300, 200))]);
  await page.keyboard.press('Enter');
  const [rect] = await placed(1);
  const [x0, y0] = pairs(rect.path)[0];
  // Relative to the moved frame, which the user lined up with the slide.
  near(x0, (layer.at(100, 100).x - layer.rect.x) / s, 0.05, 'left');
  near(y0, (layer.at(100, 100).y - layer.rect.y) / s, 0.05, 'top');
  await clean(page);
  await page.close();
});

test('Shift+I shows the stand-in\'s slide picture from Scribbet over the frame, lined up with what was placed; a program that quit is said', async () => {
  await p.set('zoom=75', 'fit=false');
  const { page, layer, state } = await openPage();
  await page.keyboard.press('r');
  await page.keyboard.press('f');
  await page.click('#toolbar .swatch[data-paint="theme:5"]');
  await drag(page, [layer.at(300, 150), layer.at(500, 350)]);
  await page.keyboard.press('Shift+Enter');
  await placed(1);
  await waitNotice(page, 'Placed on the slide');
  // The page's own copy goes, so what shows is the picture alone.
  await page.keyboard.press('Control+a');
  await page.keyboard.press('Delete');
  await page.keyboard.press('Shift+I');
  await page.waitForFunction(() => { const i = document.querySelector('#picture'); return !i.hidden && i.complete && i.naturalWidth > 0; });
  const pic = await page.$eval('#picture', (i) => ({ nw: i.naturalWidth, nh: i.naturalHeight, box: i.getBoundingClientRect().toJSON() }));
  assert.equal(pic.nw, Math.round(layer.rect.w), 'as many pixels as the frame is wide');
  assert.equal(pic.nh, Math.round(layer.rect.h));
  assert.deepEqual([pic.box.x, pic.box.y, pic.box.width, pic.box.height], [layer.rect.x, layer.rect.y, layer.rect.w, layer.rect.h]);
  // In the picture, the filled rectangle is where it was drawn, in the theme's accent 1.
  const sample = (x, y) => page.$eval('#picture', (img, [sx, sy, sw]) => {
    const c = document.createElement('canvas');
    c.width = img.naturalWidth;
    c.height = img.naturalHeight;
    const g = c.getContext('2d');
    g.drawImage(img, 0, 0);
    const k = img.naturalWidth / sw;
    return [...g.getImageData(Math.round(sx * k), Math.round(sy * k), 1, 1).data.slice(0, 3)];
  }, [x, y, layer.sw]);
  const accent = [1, 3, 5].map((i) => parseInt(state.theme[4].slice(i, i + 2), 16));
  for (const [x, y] of [[400, 250], [310, 160], [490, 340]]) {
    const got = await sample(x, y);
    assert.ok(got.every((v, i) => Math.abs(v - accent[i]) <= 3), `inside at ${x},${y}: ${got} is not ${accent}`);
  }
  for (const [x, y] of [[290, 250], [400, 140], [510, 250], [400, 360]]) {
    const got = await sample(x, y);
    assert.ok(got.some((v, i) => Math.abs(v - accent[i]) > 40), `outside at ${x},${y}: ${got} is the rectangle's colour`);
  }
  await shot(page, 'scribbet-slide-picture');
  await clean(page);

  await page.keyboard.press('Shift+I');
  await page.waitForFunction(() => document.querySelector('#picture').hidden);
  await p.set('running=false');
  await page.keyboard.press('Shift+I');
  await waitNotice(page, 'PowerPoint is not running');
  assert.equal(await page.$eval('#picture', (i) => i.hidden), true);
  assert.deepEqual(page.errors, []);
  await page.close();
});

test('the tool command: every tool name Scribbet sends is answered with that name and selects it', async () => {
  // The names Scribbet passes on from its links and in its "tool" commands.
  const header = await readFile(join(ROOT, 'src', 'app', 'layer_tool.hpp'), 'utf8');
  const names = [...header.match(/known\s*=\s*\{([^}]*)\}/)[1].matchAll(/"([^"]+)"/g)].map((m) => m[1]);
  assert.ok(names.length >= 6, names.join(', '));
  await p.set('zoom=75', 'fit=false');
  const { page, layer } = await openPage({ tool: 'select' });
  assert.equal(await page.$eval('#toolbar [data-tool="select"]', (e) => e.getAttribute('aria-pressed')), 'true', 'the address names the tool');
  for (const name of names) {
    assert.equal(await page.evaluate((t) => SCB.command({ op: 'tool', tool: t }), name), name);
    await page.waitForFunction((t) => document.querySelector(`#toolbar [data-tool="${t}"]`)?.getAttribute('aria-pressed') === 'true', name);
  }
  // Scribbet makes any other name the pen; so does the page, and says which it took.
  assert.equal(await page.evaluate(() => SCB.command({ op: 'tool', tool: 'crayon' })), 'pen');
  assert.equal(await page.evaluate(() => SCB.command({ op: 'tool', tool: 'shape:rect' })), 'shape:rect');
  await drag(page, [layer.at(100, 100), layer.at(200, 180)]);
  await page.keyboard.press('Enter');
  const [rect] = await placed(1);
  assert.equal(pairs(rect.path).length, 4, 'drawn with the tool it switched to');
  await clean(page);
  await page.close();
});

test('a failed insert keeps the drawing: the program quit, then the add-in unloaded; once it is back, each item is placed once', async () => {
  await p.set('zoom=75', 'fit=false');
  const { page, layer } = await openPage();
  await drag(page, wave(100, 120).map((q) => layer.at(q.x, q.y)));
  await page.keyboard.press('Shift+Enter');
  const [first] = await placed(1);
  await waitNotice(page, 'Placed on the slide');
  await page.keyboard.press('h');
  await drag(page, wave(100, 300).map((q) => layer.at(q.x, q.y)));
  await page.keyboard.press('r');
  await drag(page, [layer.at(500, 150), layer.at(700, 400)]);

  await p.set('running=false');
  await page.keyboard.press('Enter');
  await waitNotice(page, 'PowerPoint is not running');
  assert.equal(await pathsShown(page), 3, 'the whole drawing stays');
  await shot(page, 'scribbet-failed-insert');

  await p.set('running=true', 'addin.loaded=false', 'addin.loadable=false');
  await page.keyboard.press('Enter');
  await waitNotice(page, 'add-in is not loaded');
  assert.equal(await pathsShown(page), 3);
  assert.equal(shapesOn(await p.state()).length, 1, 'nothing more on the slide');
  assert.match(p.log(), /Place FAILED: PowerPoint is not running/);
  assert.match(p.log(), /Place FAILED: The Scribbet add-in is not loaded/);

  await p.set('addin.loaded=true', 'addin.loadable=true');
  await page.keyboard.press('Enter');
  await waitNotice(page, 'Placed on the slide');
  const shapes = await placed(3);
  assert.equal(new Set(shapes.map((s) => s.path)).size, 3, 'each item once');
  assert.ok(shapes.some((s) => s.id === first.id), 'the stroke placed before is left alone, not placed again');
  assert.equal(shapes.filter((s) => /^#[0-9A-F]{8}$/i.test(s.stroke)).length, 1, 'the highlighter, see-through');
  assert.deepEqual(page.errors, []);
  await slidePicture('scribbet-after-retry-on-slide');
  await page.close();
});

test('a program slow to answer: the page shows it is placing, and Return pressed again places nothing twice', async () => {
  await p.set('zoom=75', 'fit=false');
  const { page, layer } = await openPage();
  await drag(page, wave(100, 200).map((q) => layer.at(q.x, q.y)));
  await p.set('delay=1.5');
  const logFrom = p.log().length;
  const t0 = Date.now();
  await page.keyboard.press('Enter');
  await page.waitForFunction(() => document.querySelector('#toolbar button.place').textContent === 'Placing…');
  await page.keyboard.press('Enter');
  await page.keyboard.press('Shift+Enter');
  await waitNotice(page, 'Placed on the slide');
  assert.ok(Date.now() - t0 >= 1400, 'it waited for the program');
  await new Promise((r) => setTimeout(r, 1800)); // long enough for a second insert to land
  assert.equal(shapesOn(await p.state()).length, 1, 'placed once');
  assert.equal((p.log().slice(logFrom).match(/Placed \d+ path/g) ?? []).length, 1, 'one insert reached the program');
  await clean(page);
  await page.close();
});

test('the page stops waiting while the program is still placing: Place again waits for that placing, and it lands once', async () => {
  await p.set('zoom=75', 'fit=false');
  const { page, layer } = await openPage();
  await drag(page, wave(100, 200).map((q) => layer.at(q.x, q.y)));
  await page.keyboard.press('h');
  await drag(page, wave(100, 350).map((q) => layer.at(q.x, q.y)));
  await p.set('delay=1.5');
  const logFrom = p.log().length;
  // The request goes on to Scribbet, but the page hears nothing back, as when it gives up.
  await page.route('**/api/insert', (route) => { route.fetch().catch(() => {}); return route.abort(); }, { times: 1 });
  await page.keyboard.press('Shift+Enter');
  await waitNotice(page, 'did not answer');
  await page.keyboard.press('Shift+Enter');
  await waitNotice(page, 'Placed on the slide');
  const shapes = await placed(2);
  assert.equal(new Set(shapes.map((s) => s.path)).size, 2);
  const log = p.log().slice(logFrom);
  assert.match(log, /was asked for again while under way - waiting for it/);
  assert.equal((log.match(/Placed \d+ path/g) ?? []).length, 2, 'each style reached the program once');
  await new Promise((r) => setTimeout(r, 1800)); // long enough for anything sent twice to land
  assert.equal(shapesOn(await p.state()).length, 2, 'placed once');
  await page.keyboard.press('Shift+Enter');
  await waitNotice(page, 'Nothing new to place');
  assert.deepEqual(page.errors, []);
  await p.set('delay=0');
  await page.close();
});

test('Scribbet, opening a layer for the stand-in\'s slide, measures it where these tests put the page', async () => {
  await p.set('zoom=75', 'fit=false', 'window=1600,80,1400,860');
  const answer = await p.macro('SCBT_Geom');
  const state = await p.state();
  const layer = layerFor(answer, state.screens);
  assert.deepEqual(layer.origin, { x: state.screens[1].frame[0], y: state.screens[1].frame[1] }, 'the second screen');
  const g = answer.replace(/^OK\|/, '').replaceAll('|', '%7C');
  const opened = await p.api('POST', '/api/test/open', { url: `scribbet://draw?g=${g}&tool=pen` });
  assert.equal(JSON.parse(opened.body).ok, true);
  const [, x, y, w, h] = (await p.waitLog(/Slide 960x540 pt at (-?\d+),(-?\d+) \((\d+)x(\d+)\)/)).map(Number);
  const global = { x: layer.rect.x + layer.origin.x, y: layer.rect.y + layer.origin.y };
  near(x, global.x, 1, 'left');
  near(y, global.y, 1, 'top');
  near(w, layer.rect.w, 1, 'width');
  near(h, layer.rect.h, 1, 'height');
  await p.waitLog(/Drawing layer open over the slide/);
  const isOpen = async () => JSON.parse((await p.api('GET', '/api/state')).body).open;
  assert.equal(await isOpen(), true);

  // Return with nothing to place asks Scribbet to close the layer.
  const { page } = await openPage();
  await page.keyboard.press('Enter');
  await until('the layer to close', async () => (await isOpen()) === false);
  assert.match(p.log(), /Drawing layer closed/);
  await clean(page);
  await page.close();
});

test('an edited ellipse under placed ink, a highlight and a rectangle: the layer shows it under them, and so does the stand-in\'s slide', async () => {
  await p.set('zoom=75', 'fit=false');
  const { page, layer } = await openPage();
  const strokes = async () => shapesOn(await p.state()).map((sh) => sh.stroke);
  const line = (x0, y0, x1, y1, n = 30) => Array.from({ length: n + 1 }, (_, i) => layer.at(x0 + ((x1 - x0) * i) / n, y0 + ((y1 - y0) * i) / n));
  const showPicture = async () => {
    if (!(await page.$eval('#picture', (i) => i.hidden))) await page.keyboard.press('Shift+I');
    await page.keyboard.press('Shift+I');
    await page.waitForFunction(() => { const i = document.querySelector('#picture'); return !i.hidden && i.complete && i.naturalWidth > 0; });
    await frames(page);
  };
  // An outlined ellipse 6 pt wide; ink across its top, a highlight across its left end, a
  // rectangle whose top edge runs along its bottom; two more strokes elsewhere.
  await page.keyboard.press('o');
  await page.keyboard.press(']');
  await page.keyboard.press(']');
  await drag(page, [layer.at(100, 100), layer.at(250, 200), layer.at(400, 300)]);
  await page.keyboard.press('p');
  await page.keyboard.press(']');
  await page.keyboard.press(']');
  await drag(page, line(250, 50, 251, 150));
  await page.keyboard.press('h');
  await drag(page, line(100, 150, 101, 260));
  await page.keyboard.press('r');
  await drag(page, [layer.at(180, 300), layer.at(320, 380)]);
  await page.keyboard.press('p');
  await drag(page, line(600, 100, 700, 150));
  await page.keyboard.press('l');
  await drag(page, [layer.at(600, 400), layer.at(800, 450)]);
  await page.keyboard.press('Shift+Enter');
  await placed(6);
  await waitNotice(page, 'Placed on the slide');
  await settled(page);
  const before = shapesOn(await p.state());

  await page.keyboard.press('v');
  await page.mouse.click(layer.at(400, 200).x, layer.at(400, 200).y);
  await page.click('#toolbar .swatch[data-paint="#2E9E44"]');
  await page.keyboard.press('Escape');
  await showPicture();
  const seen = await page.screenshot();
  await shot(page, 'scribbet-edited-under-placed');
  await page.$eval('#stage', (e) => { e.style.visibility = 'hidden'; });
  await frames(page);
  const oldSlide = await page.screenshot();
  await page.$eval('#stage', (e) => { e.style.visibility = ''; });
  const P = { ink: layer.at(250, 100), rect: layer.at(250, 300), ring: layer.at(400, 200), highlight: layer.at(100, 200), highlightAlone: layer.at(100, 160) };
  const px = {};
  for (const [k, q] of Object.entries(P)) px[k] = await pixel(page, seen, Math.round(q.x), Math.round(q.y));
  assert.ok(px.ink.every((v) => v < 90), `the ink shows over the green ellipse: ${px.ink}`);
  assert.ok(px.rect[0] > 180 && px.rect[1] < 90, `the red rectangle shows over it: ${px.rect}`);
  assert.ok(px.ring[1] > 120 && px.ring[0] < 90, `the ellipse is green where nothing lies over it: ${px.ring}`);
  const alone = await pixel(page, oldSlide, Math.round(P.highlightAlone.x), Math.round(P.highlightAlone.y));
  assert.ok(px.highlightAlone.every((v, i) => Math.abs(v - alone[i]) <= 3), `the highlight is not doubled: ${px.highlightAlone} over ${alone}`);

  // Placed: the ellipse's shape is replaced at the bottom, what lay above it again above it.
  await page.keyboard.press('Shift+Enter');
  await until('the green ellipse', async () => shapesOn(await p.state())[0]?.stroke === '#2E9E44', 10000);
  await placed(6);
  await settled(page);
  assert.deepEqual(await strokes(), ['#2E9E44', ...before.slice(1).map((sh) => sh.stroke)]);
  await showPicture();
  await page.$eval('#stage', (e) => { e.style.visibility = 'hidden'; });
  await frames(page);
  const newSlide = await page.screenshot();
  await shot(page, 'scribbet-edited-under-placed-slide');
  const s = {};
  for (const [k, q] of Object.entries(P)) s[k] = await pixel(page, newSlide, Math.round(q.x), Math.round(q.y));
  assert.ok(Math.max(...s.ink) - Math.min(...s.ink) < 14 && s.ink[0] < 200, `the slide shows the ink over the ellipse: ${s.ink}`);
  assert.ok(s.rect[0] > s.rect[1] + 60, `the slide shows the rectangle over the ellipse: ${s.rect}`);
  assert.ok(s.ring[1] > s.ring[0] + 40, `the slide shows the ellipse green: ${s.ring}`);
  await clean(page);
  await page.close();
});

test('a stroke finished a moment before the page crashes comes back with the layer, and both strokes land on the stand-in\'s slide once', async () => {
  await p.set('zoom=75', 'fit=false');
  const sid = `crash-${process.pid}`;
  let { page, layer } = await openPage({ sid });
  await drag(page, wave(100, 150).map((q) => layer.at(q.x, q.y)));
  await page.waitForTimeout(400);
  const cdp = await page.context().newCDPSession(page);
  const crashed = new Promise((r) => page.once('crash', r));
  const pts = wave(100, 350).map((q) => layer.at(q.x, q.y));
  await page.mouse.move(pts[0].x, pts[0].y);
  await page.mouse.down();
  for (const q of pts.slice(1)) await page.mouse.move(q.x, q.y);
  await page.mouse.up();
  cdp.send('Page.crash').catch(() => {});
  await crashed;
  await page.close();

  ({ page, layer } = await openPage({ sid }));
  await waitNotice(page, 'The drawing is back after the page reloaded.');
  assert.equal(await pathsShown(page), 2, 'both strokes are back');
  await page.keyboard.press('Enter');
  const shapes = await placed(2);
  const tops = shapes.map((sh) => Math.round(sh.frame[1]));
  assert.ok(tops[0] < tops[1], `the first stroke, then the second, in the order drawn: ${tops}`);
  await clean(page);
  await page.close();
});
