// How the page keeps up with a long, fast stroke: a 2,000-event stroke is drawn with the
// mouse while the browser's frames are timed, then placed, and its path text is measured
// against the points the page was given, smoothed as the page smooths them.
import assert from 'node:assert/strict';
import { writeFile } from 'node:fs/promises';
import { join } from 'node:path';
import { after, before, test } from 'node:test';
import { ARTIFACTS, inserts, openBrowser, shot } from './harness.mjs';
import { deviation, outlinePoints, polylineText } from './geometry.mjs';
import { pageModules } from '../../bench/modules.mjs';

const Q = { sw: '960', sh: '540', x: '140', y: '90', w: '800', h: '450', pz: '83.30' };
let b, ink;
before(async () => { [b, ink] = await Promise.all([openBrowser(), pageModules()]); });
after(async () => { await b?.close(); });

// Runs in the page before its own script: records every pointer position the page gets
// (coalesced ones included) and, while asked to, the time each frame takes from its start
// until the browser is done with it (a message posted in the frame runs once it is painted).
function meter() {
  window.__perf = { on: false, frames: [], points: [] };
  window.addEventListener('pointermove', (e) => {
    if (!window.__perf.on || e.buttons === 0) return;
    const all = e.getCoalescedEvents ? e.getCoalescedEvents() : [];
    for (const ev of all.length ? all : [e]) window.__perf.points.push([ev.clientX, ev.clientY]);
  }, true);
  window.addEventListener('pointerdown', (e) => { if (window.__perf.on) window.__perf.points.push([e.clientX, e.clientY]); }, true);
  const tick = (start) => {
    if (window.__perf.on) {
      const ch = new MessageChannel();
      ch.port1.onmessage = () => window.__perf.frames.push(performance.now() - start);
      ch.port2.postMessage(0);
    }
    requestAnimationFrame(tick);
  };
  requestAnimationFrame(tick);
}

/** A long handwritten flourish across the slide, in layer points. */
function flourish(n) {
  return Array.from({ length: n }, (_, i) => {
    const t = i / (n - 1);
    return {
      x: 200 + 640 * t + 40 * Math.cos(t * 2 * Math.PI * 6),
      y: 315 + 110 * Math.sin(t * 2 * Math.PI * 1.5) + 40 * Math.sin(t * 2 * Math.PI * 6),
    };
  });
}

const pct = (xs, p) => [...xs].sort((a, b) => a - b)[Math.min(xs.length - 1, Math.floor(p * xs.length))];

test('a 2,000-event stroke: frames under 16 ms at the 95th percentile; placed text within 3,000 characters and half a point of the smoothed stroke', async (t) => {
  await b.context.addInitScript(meter);
  const page = await b.page(Q);
  const pts = flourish(2000);
  await page.evaluate(() => { window.__perf.on = true; });
  await page.mouse.move(pts[0].x, pts[0].y);
  await page.mouse.down();
  for (const p of pts.slice(1)) await page.mouse.move(p.x, p.y);
  await page.evaluate(() => new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r))));
  const { frames, points } = await page.evaluate(() => { window.__perf.on = false; return window.__perf; });
  const upAt = Date.now();
  await page.mouse.up();
  await page.waitForFunction(() => document.querySelector('#live').childElementCount === 0);
  const fitMs = Date.now() - upAt;
  await shot(page, 'long-stroke');
  await page.keyboard.press('Enter');
  const [ins] = await inserts(page, b.mock, 1);

  const s = Number(Q.w) / Number(Q.sw);
  const drawn = points.map(([x, y]) => ({ x: (x - Number(Q.x)) / s, y: (y - Number(Q.y)) / s }));
  // The page fits the stroke smoothed in screen pixels; that is what it must follow closely.
  const smoothed = ink.smoothStroke(drawn, 1 / s);
  const [outline] = outlinePoints(ins.body.path);
  // Measured on the curves themselves (finely sampled), as the fitter measures.
  const dev = ink.deviation(smoothed, ink.parsePathText(ins.body.path));
  const devDrawn = deviation(drawn, outline);
  const raw = polylineText(drawn).length;
  const figures = {
    events: points.length,
    frames: frames.length,
    frameMs: { p50: pct(frames, 0.5), p95: pct(frames, 0.95), max: Math.max(...frames) },
    pathChars: ins.body.path.length,
    polylineChars: raw,
    ratio: ins.body.path.length / raw,
    cubics: (ins.body.path.match(/C/g) ?? []).length,
    deviationPt: dev,
    deviationFromDrawnPt: devDrawn,
    penUpToShownMs: fitMs,
  };
  await writeFile(join(ARTIFACTS, 'perf.json'), `${JSON.stringify(figures, null, 2)}\n`);
  t.diagnostic(`figures ${JSON.stringify(figures)}`);
  assert.ok(points.length >= 2000, `the page got ${points.length} pointer positions`);
  assert.ok(frames.length >= 10, 'frames were timed');
  assert.ok(figures.frameMs.p95 < 16, `95th percentile frame ${figures.frameMs.p95.toFixed(2)} ms`);
  assert.ok(figures.pathChars <= 3000, `path text of ${figures.pathChars} characters`);
  assert.match(ins.body.path, /^M[-\d. ]+( C[-\d. ]+)+$/, 'one subpath of cubics');
  // (This was half a point from the drawn points themselves, before strokes were smoothed.)
  assert.ok(dev <= 0.5, `placed ${dev.toFixed(3)} pt from the smoothed stroke`);
  assert.ok(devDrawn <= 1, `placed ${devDrawn.toFixed(3)} pt from the drawn points`);
  await page.close();
});
