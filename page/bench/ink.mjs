// How smooth mouse ink comes out and what drawing it costs.
//
//   node page/bench/ink.mjs      (from the repository; needs page/node_modules, a current
//                                 web/ (scripts/build-page.sh) and chromium, as the browser
//                                 tests do; a minute or two)
//
// Part one runs the page's fitter in node on slow mouse circles (200 events of whole screen
// pixels, radius 100 px, a little hand wobble) at 50 %, 75 %, Fit (83 %) and 150 %: how many
// cubics, the sharpest join between neighbouring ones, and how far the result lies from the
// smoothed stroke, in screen pixels; then on lines of handwriting, zigzags and circles drawn
// round to their start at a hand's pace: the corners found, the joins, how far the result
// strays from the hand's path and from the mouse's pixels, and how a closed circle closes. Part two draws long strokes with the mouse in headless
// Chromium against the mock server, at Fit, and measures in the page: frame times while
// drawing (and, for the 2,000-event strokes, the main thread's CPU time in each frame, from a
// trace: the frame times count whatever else the machine runs), the work of each pointer move,
// and the work at pen-up (from the start of the pointerup dispatch to its end, in which the
// stroke is fitted and committed), p50 and p95 over several strokes of 500, 2,000 and 6,000
// events; and the path text each stroke places.
// The figures go to build/page-artifacts/ink.json.
//
// INK_WEB=<folder> draws with another build of the page (say, an older one built into a
// temporary folder) to compare; its figures go to ink-<folder name>.json instead.
// INK_STROKES=2000,500 draws only strokes of those lengths; INK_STROKES=none draws none (the
// node part only, for the figures of the fitter as it is in src/).
import { writeFile } from 'node:fs/promises';
import { basename, join } from 'node:path';
import { ARTIFACTS, inserts, launchChromium, openBrowser } from '../test/browser/harness.mjs';
import { startMock } from '../test/mock-server.mjs';
import { pageModules } from './modules.mjs';

const started = Date.now();

// ---- The fitter in node ----------------------------------------------------------------------

const ink = await pageModules();

const ZOOMS = [['50 %', 2], ['75 %', 4 / 3], ['Fit', 1.2], ['150 %', 2 / 3]];
const CIRCLES = 10;
const pct = (xs, p) => [...xs].sort((a, b) => a - b)[Math.min(xs.length - 1, Math.floor(p * xs.length))];
const f2 = (v) => v.toFixed(2);

const circles = {};
console.log(`Slow mouse circles (${CIRCLES} of them, 200 events, radius 100 px)`);
console.log('zoom    cubics (median / most)   sharpest join   from the smoothed stroke   from the mouse\'s pixels (px, most)');
for (const [zoom, k] of ZOOMS) {
  const counts = [], joins = [], devs = [], raws = [];
  for (let seed = 1; seed <= CIRCLES; seed++) {
    const pts = ink.scale(ink.mouseCircle(seed), k);
    const { subpaths } = ink.fitStroke(pts, k);
    counts.push(subpaths[0].segs.length);
    joins.push(Math.max(0, ...ink.joinAngles(subpaths[0])));
    devs.push(ink.deviation(ink.smoothStroke(pts, k), subpaths) / k);
    raws.push(ink.deviation(pts, subpaths) / k);
  }
  circles[zoom] = { ptPerPx: k, cubics: { median: pct(counts, 0.5), max: Math.max(...counts) }, sharpestJoinDeg: Math.max(...joins), deviationPx: Math.max(...devs), fromMousePx: Math.max(...raws) };
  console.log(`${zoom.padEnd(8)}${String(pct(counts, 0.5)).padStart(9)} / ${String(Math.max(...counts)).padEnd(14)}${Math.max(...joins).toFixed(1).padStart(8)} deg${f2(Math.max(...devs)).padStart(16)}${f2(Math.max(...raws)).padStart(25)}`);
}

// ---- Handwriting, zigzags and closed circles -------------------------------------------------------

// Drawn at a hand's pace with the mouse (whole pixels, one report each 8 ms): lines of joined-up
// loops with tops 3 to 7 px round, written briskly and slowly, zigzags with straight legs drawn
// slowly and fast, circles drawn round to where they began. Measured against the path the hand
// drew, before the mouse rounded it (the whole pixels themselves lie up to 0.7 px off it), and
// against the pixels.
const SEEDS = 6;
const line = (pts) => [{ start: pts[0], segs: pts.slice(1).map((to) => ({ kind: 'L', to })), closed: false }];
const turnDeg = (u, v) => (Math.abs(Math.atan2(u.x * v.y - u.y * v.x, u.x * v.x + u.y * v.y)) * 180) / Math.PI;
const shapes = {
  handwriting: (seed) => ink.handwriting(seed),
  'handwriting (slow)': (seed) => ink.handwriting(seed, 0.15),
  'zigzag (slow)': (seed) => ink.mousePolyline(seed, ink.ZIGZAG, 2.5, 0.3),
  'zigzag (fast)': (seed) => ink.mousePolyline(seed, ink.ZIGZAG, 6, 0.3),
  'closed circle': (seed) => ink.closedCircle(seed),
};
const drawnShapes = {};
console.log('\nHandwriting, zigzags and closed circles (6 of each, at 50 %, 75 %, Fit and 150 %; px are screen pixels)');
console.log('shape            cubics (most)  corners (most)  softest corner  sharpest other join  from the hand\'s path  from the mouse\'s pixels  closing turn');
for (const [shape, make] of Object.entries(shapes)) {
  const r = { cubics: 0, corners: 0, softestCornerDeg: 180, sharpestJoinDeg: 0, fromHandPx: 0, fromPixelsPx: 0, closingDeg: null };
  for (const [, k] of ZOOMS) {
    for (let seed = 1; seed <= SEEDS; seed++) {
      const drawn = make(seed);
      const { subpaths } = ink.fitStroke(ink.scale(drawn, k), k);
      const sp = subpaths[0];
      const joins = ink.joinAngles(sp);
      r.cubics = Math.max(r.cubics, sp.segs.length);
      r.corners = Math.max(r.corners, joins.filter((a) => a > 45).length);
      for (const a of joins) if (a > 45) r.softestCornerDeg = Math.min(r.softestCornerDeg, a); else r.sharpestJoinDeg = Math.max(r.sharpestJoinDeg, a);
      r.fromHandPx = Math.max(r.fromHandPx, ink.strayFrom(ink.scale(drawn.path, k), subpaths) / k);
      r.fromPixelsPx = Math.max(r.fromPixelsPx, ink.strayFrom(ink.scale(drawn, k), subpaths) / k);
      if (shape === 'closed circle') {
        const first = sp.segs[0], last = sp.segs[sp.segs.length - 1];
        const closing = turnDeg({ x: last.to.x - last.c2.x, y: last.to.y - last.c2.y }, { x: first.c1.x - sp.start.x, y: first.c1.y - sp.start.y });
        r.closingDeg = Math.max(r.closingDeg ?? 0, closing);
      }
    }
  }
  if (r.corners === 0) r.softestCornerDeg = null;
  drawnShapes[shape] = r;
  const d = (v) => (v === null ? '-' : `${v.toFixed(0)} deg`);
  console.log(`${shape.padEnd(17)}${String(r.cubics).padStart(6)}${String(r.corners).padStart(14)}${d(r.softestCornerDeg).padStart(17)}${d(r.sharpestJoinDeg).padStart(19)}${f2(r.fromHandPx).padStart(20)} px${f2(r.fromPixelsPx).padStart(22)} px${d(r.closingDeg).padStart(15)}`);
}
// (Only the smoothing tells a loop's top from a corner: a page built with the old smoother
// finds the tops' corners here, which is what the corner count says.)

// ---- Drawing in the page -----------------------------------------------------------------------

// Runs in the page before its own script. Frames are timed from their start until the browser
// is done with them (a message posted in the frame runs once it is painted); pointer events
// from the window's capture listener, which runs first, to its bubbling one, which runs last.
function meter() {
  const m = window.__ink = { frames: [], moves: [], ups: [], on: false };
  let t0 = 0;
  window.addEventListener('pointermove', () => { t0 = performance.now(); }, true);
  window.addEventListener('pointermove', () => { if (m.on) m.moves.push(performance.now() - t0); });
  let u0 = 0;
  window.addEventListener('pointerup', () => { u0 = performance.now(); }, true);
  window.addEventListener('pointerup', () => { m.ups.push(performance.now() - u0); });
  const tick = (start) => {
    if (m.on) {
      const ch = new MessageChannel();
      ch.port1.onmessage = () => m.frames.push(performance.now() - start);
      ch.port2.postMessage(0);
    }
    requestAnimationFrame(tick);
  };
  requestAnimationFrame(tick);
}

/**
 * Runs fn with Chromium's tracing on, for the page's main thread's own time (CPU time, which
 * other programs on a busy machine do not inflate, as they do the frame times above).
 */
async function traced(cdp, fn) {
  const events = [];
  const take = (e) => events.push(...e.value);
  cdp.on('Tracing.dataCollected', take);
  const complete = new Promise((r) => cdp.once('Tracing.tracingComplete', r));
  await cdp.send('Tracing.start', { traceConfig: { includedCategories: ['toplevel', 'cc', 'devtools.timeline'] }, transferMode: 'ReportEvents' });
  await fn();
  await cdp.send('Tracing.end');
  await complete;
  cdp.off('Tracing.dataCollected', take);
  return events;
}

/** The main thread's CPU time in each frame: its tasks from one frame's start to the next's, in ms. */
function cpuPerFrame(events) {
  const frames = events.filter((e) => e.ph === 'X' && e.name === 'ProxyMain::BeginMainFrame').sort((a, b) => a.ts - b.ts);
  if (frames.length < 2) return [];
  const tid = frames[0].tid;
  const tasks = events.filter((e) => e.ph === 'X' && e.tid === tid && e.name === 'ThreadControllerImpl::RunTask' && e.tdur !== undefined).sort((a, b) => a.ts - b.ts);
  const out = [];
  let t = 0;
  for (let i = 0; i + 1 < frames.length; i++) {
    let cpu = 0;
    while (t < tasks.length && tasks[t].ts < frames[i].ts) t++;
    for (; t < tasks.length && tasks[t].ts < frames[i + 1].ts; t++) cpu += tasks[t].tdur;
    out.push(cpu / 1000);
  }
  return out;
}

/**
 * The main thread's CPU time that one input costs, from a trace: from the task that dispatches
 * the first DOM event of `type` to the end of the first frame that starts after it (the frame
 * that shows its result), every task of the main thread in between, in ms.
 */
function inputCost(events, type) {
  const main = events.find((e) => e.name === 'ProxyMain::BeginMainFrame')?.tid;
  const tasks = events.filter((e) => e.ph === 'X' && e.tid === main && e.name === 'ThreadControllerImpl::RunTask' && e.tdur !== undefined).sort((a, b) => a.ts - b.ts);
  const dispatch = events.filter((e) => e.ph === 'X' && e.tid === main && e.name === 'EventDispatch' && e.args?.data?.type === type).sort((a, b) => a.ts - b.ts)[0];
  if (!dispatch) return null;
  const first = tasks.findLast((t) => t.ts <= dispatch.ts) ?? tasks[0];
  const frame = events.filter((e) => e.ph === 'X' && e.tid === main && e.name === 'ProxyMain::BeginMainFrame' && e.ts > dispatch.ts).sort((a, b) => a.ts - b.ts)[0];
  if (!first || !frame) return null;
  let cpu = 0;
  for (const t of tasks) if (t.ts >= first.ts && t.ts <= frame.ts) cpu += t.tdur;
  return cpu / 1000;
}

const Q = { sw: '960', sh: '540', x: '140', y: '90', w: '800', h: '450', pz: '83.30' };
/** As openBrowser(), serving another build of the page. */
async function openWith(web) {
  const browser = await launchChromium();
  const mock = await startMock({ web });
  return {
    context: browser.context,
    mock,
    async page(params) {
      const page = await browser.context.newPage();
      page.errors = [];
      page.on('pageerror', (e) => page.errors.push(String(e)));
      await page.goto(mock.pageUrl(params));
      await page.waitForFunction(() => window.__messages.some((m) => m.type === 'ready'));
      return page;
    },
    async close() { await browser.close(); await mock.close(); },
  };
}

const other = process.env.INK_WEB;
const b = other ? await openWith(other) : await openBrowser();
const strokes = {};
try {
  await b.context.addInitScript(meter);
  const nextFrame = (page) => page.evaluate(() => new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r))));
  // Moves are sent a few at a time without waiting for each (the browser hands them to the
  // page coalesced, one pointermove a frame, as a fast mouse's are): two a frame is a 120 Hz
  // mouse on a 60 Hz screen. The longest strokes go faster, for the time the run takes.
  const only = process.env.INK_STROKES?.split(',').map(Number);
  for (const [events, count, perFrame] of [[2000, 6, 2], [500, 6, 2], [6000, 4, 12]].filter(([n]) => !only || only.includes(n))) {
    const page = await b.page(Q);
    const cdp = await page.context().newCDPSession(page);
    const mouse = (type, p) => cdp.send('Input.dispatchMouseEvent', { type, x: p.x, y: p.y, button: 'left', buttons: type === 'mouseReleased' ? 0 : 1, clickCount: type === 'mouseMoved' ? 0 : 1 });
    b.mock.state.inserts.length = 0;
    const ups = [], chars = [], cubics = [], strokeP95 = [], cpu = [], upCpu = [];
    const frames = [];
    for (let s = 0; s < count; s++) {
      const framesBefore = frames.length;
      // Each stroke a little shifted, in whole pixels as a mouse gives them.
      const pts = ink.flourish(events).map((p) => ({ x: Math.round(p.x + 7 * s - 15), y: Math.round(p.y + 9 * (s % 3) - 9) }));
      await page.evaluate(() => { window.__ink.frames.length = 0; window.__ink.on = true; });
      const stroke = async () => {
        await mouse('mouseMoved', pts[0]);
        await mouse('mousePressed', pts[0]);
        for (let i = 1; i < pts.length; i += perFrame) await Promise.all(pts.slice(i, i + perFrame).map((p) => mouse('mouseMoved', p)));
        await nextFrame(page);
      };
      // The CPU time is taken for the 2,000-event strokes (tracing slows the drawing down).
      if (events === 2000) cpu.push(...cpuPerFrame(await traced(cdp, stroke)));
      else await stroke();
      await page.evaluate(() => { window.__ink.on = false; });
      frames.push(...(await page.evaluate(() => window.__ink.frames)));
      strokeP95.push(pct(frames.slice(framesBefore), 0.95));
      // The pen-up and the frame that shows the placed ink, traced: the main thread's time.
      const upTrace = await traced(cdp, async () => {
        await mouse('mouseReleased', pts[pts.length - 1]);
        await nextFrame(page);
      });
      const c = inputCost(upTrace, 'pointerup');
      if (c !== null) upCpu.push(c);
      // Place and go on drawing: only the new stroke is sent.
      await page.keyboard.press('Shift+Enter');
      const ins = await inserts(page, b.mock, s + 1);
      const path = ins[s].body.path;
      chars.push(path.length);
      cubics.push((path.match(/C/g) ?? []).length);
      if (/NaN|Infinity/.test(path)) throw new Error(`stroke ${s} of ${events}: ${path.slice(0, 200)}`);
    }
    const m = await page.evaluate(() => window.__ink);
    ups.push(...m.ups.slice(-count));
    const moves = m.moves;
    strokes[events] = {
      strokes: count,
      eventsPerFrame: perFrame,
      penUpMs: { p50: pct(ups, 0.5), p95: pct(ups, 0.95), max: Math.max(...ups) },
      penUpFrameCpuMs: upCpu.length ? { p50: pct(upCpu, 0.5), p95: pct(upCpu, 0.95), max: Math.max(...upCpu), strokes: upCpu.length } : null,
      frameMs: { p50: pct(frames, 0.5), p95: pct(frames, 0.95), max: Math.max(...frames), frames: frames.length, p95ByStroke: strokeP95 },
      cpuPerFrameMs: cpu.length ? { p50: pct(cpu, 0.5), p95: pct(cpu, 0.95), max: Math.max(...cpu), frames: cpu.length } : null,
      moveMs: { p50: pct(moves, 0.5), p95: pct(moves, 0.95), max: Math.max(...moves), events: moves.length },
      pathChars: { median: pct(chars, 0.5), max: Math.max(...chars) },
      cubics: { median: pct(cubics, 0.5), max: Math.max(...cubics) },
    };
    if (page.errors.length) throw new Error(page.errors.join('\n'));
    await page.close();
  }
} finally {
  await b.close();
}

console.log('\nLong strokes drawn with the mouse at Fit in headless Chromium; times on the page\'s main thread, in ms');
for (const [events, r] of Object.entries(strokes)) {
  console.log(`${Number(events).toLocaleString('en')} events, ${r.strokes} strokes, ${r.eventsPerFrame} events a frame`);
  console.log(`  pen-up (the pointerup's work)  p50 ${f2(r.penUpMs.p50)}  p95 ${f2(r.penUpMs.p95)}  most ${f2(r.penUpMs.max)}`);
  if (r.penUpFrameCpuMs) console.log(`  pen-up to its frame, main CPU  p50 ${f2(r.penUpFrameCpuMs.p50)}  p95 ${f2(r.penUpFrameCpuMs.p95)}  most ${f2(r.penUpFrameCpuMs.max)}`);
  console.log(`  frames while drawing           p50 ${f2(r.frameMs.p50)}  p95 ${f2(r.frameMs.p95)}  (p95 of each stroke: ${r.frameMs.p95ByStroke.map(f2).join(', ')})`);
  if (r.cpuPerFrameMs) console.log(`  main thread's CPU time a frame p50 ${f2(r.cpuPerFrameMs.p50)}  p95 ${f2(r.cpuPerFrameMs.p95)}  most ${f2(r.cpuPerFrameMs.max)}`);
  console.log(`  a pointermove's work           p50 ${f2(r.moveMs.p50)}  p95 ${f2(r.moveMs.p95)}  most ${f2(r.moveMs.max)}`);
  console.log(`  placed path text               ${r.pathChars.median} characters (most ${r.pathChars.max}), ${r.cubics.median} cubics (most ${r.cubics.max})`);
}
const figures = { circles, shapes: drawnShapes, strokes, seconds: (Date.now() - started) / 1000 };
const out = join(ARTIFACTS, other ? `ink-${basename(other)}.json` : 'ink.json');
await writeFile(out, `${JSON.stringify(figures, null, 2)}\n`);
console.log(`\n${figures.seconds.toFixed(0)} s; figures in ${out}`);
