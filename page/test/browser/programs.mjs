// Scribbet and the desktop stand-in as real processes, for the page's tests against them. Each
// run gets its own folder (home, runtime folder, the stand-in's socket, logs, preferences) and
// a free port; both programs are ended however the run ends, and their output is kept in that
// folder so a failure can say what they said.
import { execFile, spawn } from 'node:child_process';
import { existsSync, mkdtempSync, openSync, readFileSync, rmSync } from 'node:fs';
import { createServer } from 'node:net';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
export const ROOT = resolve(here, '..', '..', '..');
// SCRIBBET_BUILD names another build folder (relative to the checkout, or absolute).
const BUILD = resolve(ROOT, process.env.SCRIBBET_BUILD ?? 'build');
export const SCRIBBET = join(BUILD, 'scribbet');
export const STANDIN = join(BUILD, 'scribbet-standin');

const BUILD_HINT = 'build it with `cmake -S . -B build -G Ninja && cmake --build build --target scribbet scribbet-standin` (scripts/test.sh does)';

// Children still running: a run that ends early (an uncaught error, Ctrl+C, the test runner's
// time limit) must not leave a stand-in or a Scribbet behind.
const running = new Set();
const folders = new Set();
const killAll = () => {
  for (const c of running) c.kill('SIGKILL');
  for (const d of folders) rmSync(d, { recursive: true, force: true });
};
process.on('exit', killAll);
for (const sig of ['SIGINT', 'SIGTERM']) process.once(sig, () => { killAll(); process.exit(128 + (sig === 'SIGINT' ? 2 : 15)); });

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

export async function until(what, fn, timeout = 5000, step = 25) {
  const end = Date.now() + timeout;
  for (;;) {
    const v = await fn();
    if (v) return v;
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
    await sleep(step);
  }
}

function freePort() {
  return new Promise((res, rej) => {
    const s = createServer();
    s.once('error', rej);
    s.listen(0, '127.0.0.1', () => { const { port } = s.address(); s.close(() => res(port)); });
  });
}

function start(bin, args, env, outFile) {
  const fd = openSync(outFile, 'a');
  const child = spawn(bin, args, { env, stdio: ['ignore', fd, fd] });
  running.add(child);
  child.exited = new Promise((r) => child.once('exit', (code, signal) => { running.delete(child); r({ code, signal }); }));
  return child;
}

async function stop(child) {
  if (!child || child.exitCode !== null || child.signalCode !== null) return;
  child.kill('SIGTERM');
  const done = await Promise.race([child.exited, sleep(3000).then(() => null)]);
  if (!done) { child.kill('SIGKILL'); await child.exited; }
}

const readText = (file) => { try { return readFileSync(file, 'utf8'); } catch { return ''; } };

/**
 * Starts the stand-in, then Scribbet talking to it, and waits until Scribbet's server is ready.
 * Throws with a sentence when a program is missing or does not come up.
 */
export async function startPrograms() {
  for (const bin of [SCRIBBET, STANDIN]) {
    if (!existsSync(bin)) throw new Error(`${bin} is missing: ${BUILD_HINT}.`);
  }
  const dir = mkdtempSync(join(tmpdir(), 'scribbet-live-'));
  folders.add(dir);
  const sock = join(dir, 'standin.sock');
  const env = Object.fromEntries(Object.entries(process.env).filter(([k]) =>
    !k.startsWith('SCRIBBET_') && !k.startsWith('XDG_') && k !== 'DISPLAY' && k !== 'WAYLAND_DISPLAY'));
  Object.assign(env, {
    HOME: dir,
    XDG_RUNTIME_DIR: dir,
    XDG_CONFIG_HOME: join(dir, 'config'),
    SCRIBBET_TEST: '1',
    SCRIBBET_STANDIN_SOCKET: sock,
    SCRIBBET_WEB: join(ROOT, 'web'),
  });
  const logFile = join(dir, '.local', 'state', 'scribbet', 'Scribbet.log');
  const prefsFile = join(dir, 'config', 'scribbet', 'preferences.json');
  let standin = null;
  let scribbet = null;
  let port = 0;

  const ctl = (...args) => new Promise((res, rej) => {
    execFile(STANDIN, ['ctl', '--socket', sock, ...args], { env, timeout: 10000 }, (err, stdout, stderr) => {
      if (err) rej(new Error(`scribbet-standin ctl ${args.join(' ')}: ${(stderr || stdout || err.message).trim()}`));
      else res(stdout);
    });
  });

  const programs = {
    dir,
    env,
    get port() { return port; },
    get origin() { return `http://127.0.0.1:${port}`; },
    ctl,
    state: async () => JSON.parse(await ctl('state')),
    set: (...pairs) => ctl('set', ...pairs),
    macro: async (name, ...args) => (await ctl('macro', name, ...args)).trim(),
    log: () => readText(logFile),
    /** Scribbet's stored preferences, or null while it has stored none. */
    prefs() {
      const t = readText(prefsFile);
      return t ? JSON.parse(t) : null;
    },
    async waitLog(re, timeout = 5000) {
      return until(`Scribbet's log to show ${re}`, () => this.log().match(re), timeout);
    },
    /** A call to Scribbet's API as the page makes it. */
    async api(method, path, body) {
      const res = await fetch(`${this.origin}${path}`, {
        method,
        headers: { 'x-scribbet': '1', 'content-type': 'application/json' },
        body: body === undefined ? undefined : JSON.stringify(body),
      });
      return { status: res.status, type: res.headers.get('content-type'), body: Buffer.from(await res.arrayBuffer()) };
    },
    /** What the programs printed and logged, for a failure message. */
    output() {
      return [`--- stand-in ---\n${readText(join(dir, 'standin.out'))}`, `--- scribbet ---\n${readText(join(dir, 'scribbet.out'))}`,
        `--- Scribbet.log ---\n${this.log()}`].join('\n');
    },
    async close() {
      await stop(scribbet);
      await stop(standin);
      rmSync(dir, { recursive: true, force: true });
      folders.delete(dir);
    },
  };

  try {
    standin = start(STANDIN, ['serve', '--socket', sock], env, join(dir, 'standin.out'));
    await until('the stand-in to answer', async () => {
      if (standin.exitCode !== null) throw new Error(`the stand-in ended at start (${standin.exitCode})`);
      return ctl('state').then(() => true, () => false);
    });
    // The port is free when asked for, but another program may take it first: then try another.
    for (let attempt = 1; ; attempt++) {
      port = await freePort();
      scribbet = start(SCRIBBET, [], { ...env, SCRIBBET_PORT: String(port) }, join(dir, 'scribbet.out'));
      const up = await until('Scribbet\'s web server', () => {
        if (programs.log().includes(`Web server ready on port ${port}.`)) return 'ready';
        if (scribbet.exitCode !== null || scribbet.signalCode !== null) return 'ended';
        if (/Server stopped/.test(programs.log())) return 'refused';
        return null;
      }, 10000).catch(() => 'slow');
      if (up === 'ready') break;
      await stop(scribbet);
      if (attempt === 3 || up !== 'refused') throw new Error(`Scribbet did not start its web server (${up})`);
    }
    return programs;
  } catch (e) {
    const out = programs.output();
    await programs.close();
    throw new Error(`${e.message}\n${out}`);
  }
}

/** A number as Scribbet writes it into the page's address: whole, or with two decimals. */
export const addressNumber = (v) => (Number.isInteger(v) ? String(v) : v.toFixed(2));

/**
 * Where the layer puts the page for a geometry answer ("OK|" and the add-in's fields), the way
 * Scribbet builds the address: the layer covers the screen that holds the program's window, so
 * the slide's rectangle is in points from that screen's top-left corner.
 */
export function layerFor(answer, screens, extra = {}) {
  const n = answer.replace(/^OK\|/, '').split('|').map(Number);
  const [sw, sh, left, top, right, bottom, , wx, wy, ww, wh, slideId, fit] = n;
  const cx = wx + ww / 2, cy = wy + wh / 2;
  const screen = screens.find(({ frame: [x, y, w, h] }) => cx >= x && cx < x + w && cy >= y && cy < y + h) ?? screens[0];
  const [ox, oy, screenW, screenH] = screen.frame;
  const rect = { x: left - ox, y: top - oy, w: right - left, h: bottom - top };
  const pz = Math.trunc((rect.w / sw) * 1000) / 10;
  const query = {
    sw: addressNumber(sw), sh: addressNumber(sh),
    x: addressNumber(rect.x), y: addressNumber(rect.y), w: addressNumber(rect.w), h: addressNumber(rect.h),
    note: 'PowerPoint reported the slide position', host: '0', ax: '0', pz: addressNumber(pz),
    ...(fit ? { fit: '1' } : {}),
    slide: String(slideId),
    v: String(Math.trunc(Date.now() / 1000)),
    ...extra,
  };
  const s = rect.w / sw;
  return {
    query, rect, sw, sh, slideId, origin: { x: ox, y: oy }, screen: { width: screenW, height: screenH },
    /** The "geom" command Scribbet sends the page when the slide moves to this place. */
    geomCommand: { op: 'geom', x: Math.trunc(rect.x * 100) / 100, y: Math.trunc(rect.y * 100) / 100, w: Math.trunc(rect.w * 100) / 100, h: Math.trunc(rect.h * 100) / 100, host: false, pz, fit: Boolean(fit) },
    /** The layer point of a slide point, in whole points as a mouse gives them. */
    at: (x, y) => ({ x: Math.round(rect.x + x * s), y: Math.round(rect.y + y * s) }),
  };
}

/**
 * The slide point under a layer point by the stand-in's own picture of its window (where it
 * shows the slide on the screen), not by the geometry answer the page was given.
 */
export function slidePointOf(state, origin, p) {
  const [x, y, w] = state.layout.slide;
  const k = state.slideSize[0] / w;
  return { x: (p.x + origin.x - x) * k, y: (p.y + origin.y - y) * k };
}
