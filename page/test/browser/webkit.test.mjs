// The toolbar and the tools' cursors in WebKitGTK 4.1, the layer's own web engine on Linux, on
// a virtual X server (Xvfb) against the mock server: its fonts are not Chromium's, so the
// labels' room is measured again here, and the cursors are read back from the X server, as
// the user would see them. Skipped where WebKitGTK's headers, Xvfb or a C compiler are missing.
import assert from 'node:assert/strict';
import { execFile, execFileSync, spawn } from 'node:child_process';
import { mkdtempSync, rmSync, readFileSync, existsSync, mkdirSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { after, before, test } from 'node:test';
import { ARTIFACTS, TOOLBAR_TEXTS_JS } from './harness.mjs';
import { startMock } from '../mock-server.mjs';

const here = dirname(fileURLToPath(import.meta.url));
const ROOT = resolve(here, '..', '..', '..');
const LOOK_SRC = join(here, '..', 'webkit', 'look.c');
const LOOK = join(ROOT, 'build', 'page-tests', 'look');
const Q = { sw: '960', sh: '540', x: '140', y: '90', w: '800', h: '450', pz: '83.30', slide: '257' };

const has = (cmd, args) => { try { execFileSync(cmd, args, { stdio: 'ignore' }); return true; } catch { return false; } };
const why = !has('Xvfb', ['-help']) ? 'no Xvfb'
  : !has('pkg-config', ['--exists', 'webkit2gtk-4.1', 'xfixes', 'xtst']) ? 'no WebKitGTK 4.1, XFixes or XTest headers'
  : !has('cc', ['--version']) ? 'no C compiler' : '';

let xvfb, display, work, mock;
before(async () => {
  if (why) return;
  work = mkdtempSync(join(tmpdir(), 'scribbet-webkit-'));
  mkdirSync(dirname(LOOK), { recursive: true });
  const flags = execFileSync('pkg-config', ['--cflags', '--libs', 'webkit2gtk-4.1', 'gtk+-3.0', 'xfixes', 'xtst', 'x11'], { encoding: 'utf8' }).trim().split(/\s+/);
  execFileSync('cc', ['-O1', '-o', LOOK, LOOK_SRC, ...flags], { stdio: 'inherit' });
  // Xvfb picks a free display and writes its number once it takes clients.
  xvfb = spawn('Xvfb', ['-displayfd', '3', '-screen', '0', '1400x900x24', '-nolisten', 'tcp'], { stdio: ['ignore', 'ignore', 'ignore', 'pipe'] });
  display = await new Promise((res, rej) => {
    let got = '';
    xvfb.stdio[3].on('data', (d) => { got += d; if (got.includes('\n')) res(`:${got.trim()}`); });
    xvfb.once('exit', () => rej(new Error('Xvfb ended before it took clients')));
  });
  mock = await startMock();
  mkdirSync(ARTIFACTS, { recursive: true });
});
after(async () => {
  xvfb?.kill();
  await mock?.close();
  if (work) rmSync(work, { recursive: true, force: true });
});

/** Runs the steps in a fresh WebKitGTK window over the page; answers each step's JSON line. */
function look(params, steps) {
  const env = {
    ...process.env, DISPLAY: display, XDG_RUNTIME_DIR: work, XDG_DATA_HOME: join(work, 'data'), XDG_CACHE_HOME: join(work, 'cache'),
    GSETTINGS_BACKEND: 'memory', NO_AT_BRIDGE: '1', WEBKIT_DISABLE_COMPOSITING_MODE: '1',
  };
  return new Promise((res, rej) => {
    execFile(LOOK, [mock.pageUrl(params), '1400', '900', ...steps], { env, timeout: 60000, maxBuffer: 1 << 24 }, (err, out, errOut) => {
      const lines = out.split('\n').filter(Boolean).map((l) => JSON.parse(l));
      const bad = lines.find((l) => l && typeof l === 'object' && 'error' in l);
      if (err || bad) rej(new Error(`look failed: ${bad?.error ?? err.message}\n${errOut.slice(-2000)}`));
      else res(lines);
    });
  });
}

// The same measure as the Chromium test's: each text's own box against its button and the toolbar.
const MEASURE = `js:${TOOLBAR_TEXTS_JS}`;

test('WebKitGTK: every toolbar text is 11 px or more with room inside its button and the toolbar', { skip: why || false }, async () => {
  const [m] = await look(Q, [MEASURE]);
  const { l, t, r, b } = m.bar;
  await look(Q, [`shot:${join(ARTIFACTS, 'toolbar-dpr1-webkitgtk.png')}@${Math.floor(l) - 4},${Math.floor(t) - 4},${Math.ceil(r - l) + 8},${Math.ceil(b - t) + 8}`]);
  assert.equal(m.dpr, 1);
  assert.ok(m.out.some((t) => t.text === 'Highlighter') && m.out.some((t) => t.text === 'Edit points'));
  for (const t of m.out) {
    assert.ok(t.size >= 11, `"${t.text}" is ${t.size} px`);
    const across = Math.min(t.box.l - m.bar.l, m.bar.r - t.box.r);
    assert.ok(across >= 8, `"${t.text}" keeps ${across.toFixed(1)} px from the toolbar's sides`);
    if (t.button) {
      const side = Math.min(t.box.l - t.button.l, t.button.r - t.box.r);
      assert.ok(side >= 3, `"${t.text}" keeps ${side.toFixed(1)} px from its button's sides`);
    }
  }
});

/** The cursor's pixel at (x, y) from the hotspot, as [a, r, g, b]. */
const px = (c, dx, dy) => {
  const v = c.argb[(c.yhot + dy) * c.width + (c.xhot + dx)];
  return [(v >>> 24) & 255, (v >>> 16) & 255, (v >>> 8) & 255, v & 255];
};

test('WebKitGTK: the eraser shows a ring of its reach round the hotspot, the laser a red dot', { skip: why || false }, async () => {
  const key = (k) => `js:window.dispatchEvent(new KeyboardEvent('keydown', { key: '${k}', code: 'Key${k.toUpperCase()}', bubbles: true })); await new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r)));`;
  const [, eraser, , laser, , pen] = await look(Q, [key('e'), 'move:400,300', 'wait:200', 'cursor', key('k'), 'move:420,310', 'wait:200', 'cursor', key('p'), 'move:440,320', 'wait:200', 'cursor']);
  assert.deepEqual([eraser.width, eraser.height, eraser.xhot, eraser.yhot], [16, 16, 8, 8], 'the eraser\'s own image');
  // The X server keeps the image premultiplied; pixel dx spans dx to dx + 1 from the hotspot.
  const ring = [px(eraser, 5, 0), px(eraser, 6, 0)].sort((a, b) => a[1] - b[1])[0];
  const inside = px(eraser, 2, 0);
  assert.ok(ring[0] > 200 && ring[1] < 128, `dark on the ring, 6 px out: ${ring}`);
  assert.ok(inside[0] < 150 && inside[1] === inside[0], `light and see-through inside: ${inside}`);
  assert.deepEqual([laser.width, laser.height, laser.xhot, laser.yhot], [16, 16, 8, 8], 'the laser\'s own image');
  const dot = px(laser, 0, 0);
  assert.ok(dot[0] > 200 && dot[1] > 200 && dot[2] < 120 && dot[3] < 120, `red at the hotspot: ${dot}`);
  assert.notDeepEqual(pen.argb, laser.argb, 'the pen is back to its crosshair');
});

test('WebKitGTK: a sweep of the eraser marks what it will take and shows its way; letting go takes exactly that', { skip: why || false }, async () => {
  // The slide is shown 800 px wide at 140, 90: slide points times 5/6.
  const at = (x, y) => `move:${Math.round(140 + (x * 5) / 6)},${Math.round(90 + (y * 5) / 6)}`;
  const wave = (x0, y0) => Array.from({ length: 30 }, (_, i) => at(x0 + i * 8, y0 + 30 * Math.sin(i / 4)));
  const stroke = (pts) => [pts[0], 'down', ...pts.slice(1), 'up', 'wait:100'];
  const count = `js:return [document.querySelectorAll('#scene path').length, [...document.querySelectorAll('#doomed .doomed')].map((g) => g.dataset.id), document.querySelectorAll('#sweep path').length, [...document.querySelectorAll('#scene path')].map((p) => p.dataset.id)];`;
  const lines = await look(Q, [
    ...stroke(wave(100, 150)), ...stroke(wave(100, 300)), ...stroke(wave(500, 450)),
    count,
    `js:window.dispatchEvent(new KeyboardEvent('keydown', { key: 'e', code: 'KeyE', bubbles: true })); window.__ev = []; for (const t of ['pointerdown', 'pointerup', 'pointercancel', 'lostpointercapture', 'gotpointercapture']) document.querySelector('#surface').addEventListener(t, (e) => window.__ev.push(t + ' ' + e.pointerId)); return 1;`,
    at(200, 60), 'down', at(205, 150), at(210, 250), at(215, 330), at(220, 380), 'wait:50',
    count, `shot:${join(ARTIFACTS, 'eraser-mid-sweep-webkitgtk.png')}`,
    'up', 'wait:100', count, 'js:return window.__ev;',
  ]);
  const [drawn, during, after, events] = lines.filter(Array.isArray);
  assert.equal(drawn[0], 3, 'three strokes drawn');
  assert.deepEqual(during[0], 3, 'nothing goes during the sweep');
  assert.deepEqual(during[1], drawn[3].slice(0, 2), 'the two swept strokes are marked');
  assert.ok(during[2] > 0, 'the way swept shows');
  assert.deepEqual(after[3], drawn[3].slice(2), 'letting go takes the two, the third stays');
  assert.deepEqual(after[1], [], 'no marks are left');
  assert.deepEqual(events, ['pointerdown 1', 'gotpointercapture 1', 'pointerup 1', 'lostpointercapture 1'], 'one press, held to the end');
});
