// How long one edit of a large drawing keeps the page's main thread busy.
//
//   node page/bench/edits.mjs [ITEMS] [ROUNDS]     (default 600 items, 40 rounds)
//
// A drawing of ITEMS hand-drawn-like strokes is put in the page's storage as its own
// opening's drawing (so the page starts with it, as after a reload), one stroke is selected,
// and then, ROUNDS times each: a move (an arrow key), a recolour (a swatch clicked) and an undo
// (Ctrl+Z). Each edit is timed on the main thread, from the event until the page has drawn
// the frame it caused: the event's own handling plus the page's frame callback, measured
// between a frame callback queued before the event and one queued after it. The wait for the
// display's next frame is not counted. Prints p50/p95/max in ms per edit and writes
// build/page-artifacts/edits.json. Needs Debian's chromium (headless).
import { writeFile } from 'node:fs/promises';
import { join } from 'node:path';
import { ARTIFACTS, openBrowser } from '../test/browser/harness.mjs';

const ITEMS = Number(process.argv[2] ?? 600);
const ROUNDS = Number(process.argv[3] ?? 40);

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

const b = await openBrowser();
try {
  const q = { sw: '960', sh: '540', x: '140', y: '90', w: '800', h: '450', pz: '83.30', slide: '257', sid: 'bench' };
  let page = await b.page(q);
  const items = Array.from({ length: ITEMS }, (_, i) => stroke(i));
  await page.evaluate((text) => { localStorage.clear(); localStorage.setItem('scribbet.kept.257.960x540.bench', text); },
    JSON.stringify({ v: 1, sid: 'bench', at: Date.now(), items, placed: [] }));
  await page.close();
  page = await b.page(q);
  const shown = await page.$$eval('#scene path', (ps) => ps.length);
  if (shown !== ITEMS) throw new Error(`the page shows ${shown} items, not ${ITEMS}`);

  // Select the first stroke with the select tool.
  await page.keyboard.press('v');
  const s = 800 / 960;
  const first = items[0].subpaths[0].segs[0].to;
  await page.mouse.click(140 + first.x * s, 90 + first.y * s);

  // In one frame callback: queue a marker for the next frame, make the edit (the page queues
  // its render for the next frame too, after the marker), then queue a second marker. Frame
  // callbacks run in the order they were queued, so the page's render lies between the two.
  const timeEdit = (kind) => page.evaluate((k) => new Promise((done) => {
    requestAnimationFrame(() => {
      let before = 0;
      requestAnimationFrame(() => { before = performance.now(); });
      const t0 = performance.now();
      if (k === 'move') window.dispatchEvent(new KeyboardEvent('keydown', { key: 'ArrowRight', code: 'ArrowRight', bubbles: true }));
      else if (k === 'undo') window.dispatchEvent(new KeyboardEvent('keydown', { key: 'z', code: 'KeyZ', ctrlKey: true, bubbles: true }));
      else {
        const sw = [...document.querySelectorAll('#toolbar .swatch')];
        sw[Math.floor(Math.random() * sw.length)].click();
      }
      const handled = performance.now() - t0;
      requestAnimationFrame(() => done(handled + (performance.now() - before)));
    });
  }), kind);

  const figures = {};
  for (const kind of ['move', 'recolour', 'undo']) {
    const xs = [];
    for (let r = 0; r < ROUNDS; r++) xs.push(await timeEdit(kind));
    figures[kind] = { p50: pct(xs, 0.5), p95: pct(xs, 0.95), max: Math.max(...xs) };
  }
  const all = { items: ITEMS, rounds: ROUNDS, ms: figures };
  await writeFile(join(ARTIFACTS, 'edits.json'), `${JSON.stringify(all, null, 2)}\n`);
  for (const [k, v] of Object.entries(figures)) console.log(`${k.padEnd(9)} p50 ${v.p50.toFixed(2)} ms  p95 ${v.p95.toFixed(2)} ms  max ${v.max.toFixed(2)} ms`);
  if (page.errors.length) console.log('page errors:', page.errors);
} finally {
  await b.close();
}
