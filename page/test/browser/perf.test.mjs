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

/**
 * The main thread's CPU time that lifting the pen costs, from a trace: from the task that
 * dispatches the pointerup to the end of the first frame after it (the frame that shows the
 * placed-to-be ink), every task of the main thread in between, in ms.
 */
async function penUpCost(page, cdp, release) {
  const events = [];
  const take = (e) => events.push(...e.value);
  cdp.on('Tracing.dataCollected', take);
  const complete = new Promise((r) => cdp.once('Tracing.tracingComplete', r));
  await cdp.send('Tracing.start', { traceConfig: { includedCategories: ['toplevel', 'cc', 'devtools.timeline'] }, transferMode: 'ReportEvents' });
  await release();
  await page.evaluate(() => new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r))));
  await cdp.send('Tracing.end');
  await complete;
  cdp.off('Tracing.dataCollected', take);
  const main = events.find((e) => e.name === 'ProxyMain::BeginMainFrame')?.tid;
  const mine = (e) => e.ph === 'X' && e.tid === main;
  const tasks = events.filter((e) => mine(e) && e.name === 'ThreadControllerImpl::RunTask' && e.tdur !== undefined).sort((a, b) => a.ts - b.ts);
  const up = events.filter((e) => mine(e) && e.name === 'EventDispatch' && e.args?.data?.type === 'pointerup').sort((a, b) => a.ts - b.ts)[0];
  assert.ok(up, 'the trace holds the pointerup');
  const first = tasks.findLast((t) => t.ts <= up.ts);
  const frame = events.filter((e) => mine(e) && e.name === 'ProxyMain::BeginMainFrame' && e.ts > up.ts).sort((a, b) => a.ts - b.ts)[0];
  assert.ok(first && frame, 'the trace holds the pen-up\'s task and the frame after it');
  return tasks.filter((t) => t.ts >= first.ts && t.ts <= frame.ts).reduce((sum, t) => sum + t.tdur, 0) / 1000;
}

test('lifting the pen costs no frame: after 2,000 events under 8 ms of the main thread, after 6,000 under 12 ms, the page\'s first stroke included, and every stroke is kept', async (t) => {
  b.mock.state.inserts.length = 0;
  const figures = {};
  for (const [events, perFrame, limit] of [[2000, 2, 8], [6000, 12, 12]]) {
    const page = await b.page(Q);
    const cdp = await page.context().newCDPSession(page);
    const mouse = (type, p) => cdp.send('Input.dispatchMouseEvent', { type, x: p.x, y: p.y, button: 'left', buttons: type === 'mouseReleased' ? 0 : 1, clickCount: type === 'mouseMoved' ? 0 : 1 });
    const costs = [];
    for (let s = 0; s < 3; s++) {
      const pts = flourish(events).map((p) => ({ x: Math.round(p.x + 9 * s - 9), y: Math.round(p.y + 7 * s - 7) }));
      await mouse('mouseMoved', pts[0]);
      await mouse('mousePressed', pts[0]);
      for (let i = 1; i < pts.length; i += perFrame) await Promise.all(pts.slice(i, i + perFrame).map((p) => mouse('mouseMoved', p)));
      costs.push(await penUpCost(page, cdp, () => mouse('mouseReleased', pts[pts.length - 1])));
    }
    // Placed together: three strokes, none lost to the pen-ups measured.
    const before = b.mock.state.inserts.length;
    await page.keyboard.press('Enter');
    const ins = await inserts(page, b.mock, before + 1);
    assert.equal(ink.parsePathText(ins[before].body.path).length, 3, `${events} events: three strokes placed`);
    assert.deepEqual(page.errors, []);
    figures[events] = costs;
    const median = [...costs].sort((x, y) => x - y)[1];
    // The median of three: one stroke caught by a collection or by the busy machine is not the fault looked for.
    assert.ok(median <= limit, `${events} events: pen-up costs ${costs.map((c) => c.toFixed(1)).join(', ')} ms`);
    await page.close();
  }
  t.diagnostic(`pen-up main-thread ms ${JSON.stringify(figures)}`);
});
