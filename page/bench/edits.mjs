// How long one edit of a large drawing keeps the page's main thread busy.
//
//   node page/bench/edits.mjs [ITEMS] [ROUNDS] [WEB]   (default 600 items, 40 rounds, web/)
//
// A drawing of ITEMS hand-drawn-like strokes is put in the page's storage as its own
// opening's drawing (so the page starts with it, as after a reload), one stroke is selected,
// and then, ROUNDS times each in a run, one edit every other frame as a held key makes them: a
// move (an arrow key), a recolour (a swatch clicked) and an undo (Ctrl+Z). Each edit is timed
// on the main thread from the event until the page has drawn the frame it caused: the event's
// own handling, every timer and idle callback of the page that ran before that frame (keeping
// the drawing in storage, say), and the page's frame callback. The wait for the display's next
// frame is not counted. Page work between an edit's frame and the next edit (where an idle
// write belongs) is reported apart. Prints p50/p95/max in ms per edit and writes
// build/page-artifacts/edits.json. WEB names another built page to measure (a folder with
// overlay.html, overlay.js, overlay.css). Needs Debian's chromium (headless).
import { writeFile } from 'node:fs/promises';
import { join, resolve } from 'node:path';
import { ARTIFACTS, launchChromium } from '../test/browser/harness.mjs';
import { startMock } from '../test/mock-server.mjs';

const ITEMS = Number(process.argv[2] ?? 600);
const ROUNDS = Number(process.argv[3] ?? 40);
const WEB = process.argv[4] ? resolve(process.argv[4]) : undefined;

/** A stroke of a few cubics, as the fitter leaves a handwritten word. */
function stroke(i) {
  const x0 = 40 + (i % 30) * 30, y0 = 40 + Math.floor(i / 30) * 22;
  const segs = [];
  let x = x0, y = y0;
  for (let k = 0; k < 8; k++) {
    const nx = x + 3 + (k % 3), ny = y0 + 6 * Math.sin(i + k);
    segs.push({ kind: 'C', c1: { x: x + 1, y: y - 3 }, c2: { x: nx - 1, y: ny + 3 }, to: { x: nx, y: ny } });
    x = nx; y = ny;
  }
  return {
    id: `b${i}`, kind: 'ink', subpaths: [{ start: { x: x0, y: y0 }, segs, closed: false }],
    style: { stroke: { kind: 'rgb', hex: '#1F1F1F' }, width: 2, fill: null, alpha: 1 },
  };
}

const pct = (xs, p) => [...xs].sort((a, b) => a - b)[Math.min(xs.length - 1, Math.floor(p * xs.length))];

/**
 * Times the page's timer and idle callbacks, put in before any of its scripts: what ran while
 * an edit waited for its frame is added to that edit, the rest is listed apart.
 */
function timeTasks() {
  window.__edit = null;
  window.__apart = [];
  const wrap = (orig) => function (fn, ...rest) {
    if (typeof fn !== 'function') return orig.call(this, fn, ...rest);
    return orig.call(this, function (...a) {
      const t = performance.now();
      try { return fn.apply(this, a); } finally {
        const d = performance.now() - t;
        if (window.__edit) window.__edit.tasks += d;
        else window.__apart.push(d);
      }
    }, ...rest);
  };
  window.setTimeout = wrap(window.setTimeout);
  if (typeof window.requestIdleCallback === 'function') window.requestIdleCallback = wrap(window.requestIdleCallback);
}

const browser = await launchChromium();
const mock = await startMock(WEB ? { web: WEB } : {});
try {
  await browser.context.addInitScript(timeTasks);
  const q = { sw: '960', sh: '540', x: '140', y: '90', w: '800', h: '450', pz: '83.30', slide: '257', sid: 'bench' };
  const open = async () => {
    const page = await browser.context.newPage();
    page.errors = [];
    page.on('pageerror', (e) => page.errors.push(String(e)));
    await page.goto(mock.pageUrl(q));
    await page.waitForFunction(() => window.__messages.some((m) => m.type === 'ready'));
    return page;
  };
  let page = await open();
  const items = Array.from({ length: ITEMS }, (_, i) => stroke(i));
  await page.evaluate((text) => { localStorage.clear(); localStorage.setItem('scribbet.kept.257.960x540.bench', text); },
    JSON.stringify({ v: 1, sid: 'bench', at: Date.now(), items, placed: [] }));
  await page.close();
  page = await open();
  const shown = await page.$$eval('#scene path', (ps) => ps.length);
  if (shown !== ITEMS) throw new Error(`the page shows ${shown} items, not ${ITEMS}`);

  // Select the first stroke with the select tool.
  await page.keyboard.press('v');
  const s = 800 / 960;
  const first = items[0].subpaths[0].segs[0].to;
  await page.mouse.click(140 + first.x * s, 90 + first.y * s);
  await page.waitForTimeout(500);

  // One run of edits, all in the page. In a frame callback: queue a marker for the next frame,
  // make the edit (the page queues its render for the next frame too, after the marker), then
  // queue a second marker. Frame callbacks run in the order they were queued, so the page's
  // render lies between the two; timers and idle callbacks that run before the second marker
  // count for the edit. The next edit comes a frame after, leaving the page a gap to be idle.
  const timeRun = (kind, rounds) => page.evaluate(([k, n]) => new Promise((done) => {
    const out = [];
    const edit = () => {
      if (k === 'move') window.dispatchEvent(new KeyboardEvent('keydown', { key: 'ArrowRight', code: 'ArrowRight', bubbles: true }));
      else if (k === 'undo') window.dispatchEvent(new KeyboardEvent('keydown', { key: 'z', code: 'KeyZ', ctrlKey: true, bubbles: true }));
      else {
        const sw = [...document.querySelectorAll('#toolbar .swatch')];
        sw[Math.floor(Math.random() * sw.length)].click();
      }
    };
    const step = () => {
      let before = 0;
      requestAnimationFrame(() => { before = performance.now(); });
      window.__edit = { tasks: 0 };
      const t0 = performance.now();
      edit();
      const handled = performance.now() - t0;
      requestAnimationFrame(() => {
        out.push(handled + (performance.now() - before) + window.__edit.tasks);
        window.__edit = null;
        if (out.length < n) requestAnimationFrame(step);
        else done(out);
      });
    };
    requestAnimationFrame(step);
  }), [kind, rounds]);

  const figures = {};
  const stats = (xs) => ({ p50: pct(xs, 0.5), p95: pct(xs, 0.95), max: Math.max(...xs) });
  for (const kind of ['move', 'recolour', 'undo']) {
    await page.evaluate(() => { window.__apart = []; });
    const xs = await timeRun(kind, ROUNDS);
    await page.waitForTimeout(400);
    const apart = (await page.evaluate(() => window.__apart)).filter((d) => d >= 0.05);
    figures[kind] = { ...stats(xs), between: apart.length ? { tasks: apart.length, ...stats(apart) } : { tasks: 0 } };
  }
  const all = { items: ITEMS, rounds: ROUNDS, web: WEB ?? 'web/', ms: figures };
  await writeFile(join(ARTIFACTS, 'edits.json'), `${JSON.stringify(all, null, 2)}\n`);
  for (const [k, v] of Object.entries(figures)) {
    const b = v.between.tasks ? `; between edits ${v.between.tasks} tasks, p95 ${v.between.p95.toFixed(2)} max ${v.between.max.toFixed(2)} ms` : '';
    console.log(`${k.padEnd(9)} p50 ${v.p50.toFixed(2)} ms  p95 ${v.p95.toFixed(2)} ms  max ${v.max.toFixed(2)} ms${b}`);
  }
  if (page.errors.length) console.log('page errors:', page.errors);
} finally {
  await browser.close();
  await mock.close();
}
