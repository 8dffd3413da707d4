// What every browser test needs: the mock server, a fresh headless Chromium with the message
// stand-in, and small helpers to draw with the mouse and read what the page posted.
import { mkdir, mkdtemp, rm } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';
import { startMock } from '../mock-server.mjs';

const here = dirname(fileURLToPath(import.meta.url));
export const ARTIFACTS = resolve(here, '..', '..', '..', 'build', 'page-artifacts');

const ARGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];

/** A fresh headless Chromium whose pages get the message stand-in; close() removes its profile. */
export async function launchChromium(viewport = { width: 1280, height: 800 }) {
  const profile = await mkdtemp(join(tmpdir(), 'scribbet-page-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.SCRIBBET_CHROMIUM ?? '/usr/bin/chromium',
    headless: true,
    args: ARGS,
    viewport,
    deviceScaleFactor: 1,
  });
  await context.addInitScript({ path: join(here, 'webkit-stub.js') });
  await mkdir(ARTIFACTS, { recursive: true });
  return {
    context,
    async close() {
      await context.close();
      await rm(profile, { recursive: true, force: true });
    },
  };
}

export async function openBrowser() {
  const browser = await launchChromium();
  const { context } = browser;
  const mock = await startMock();
  return {
    context,
    mock,
    async page(params = {}) {
      const page = await context.newPage();
      const errors = [];
      page.on('pageerror', (e) => errors.push(String(e)));
      await page.goto(mock.pageUrl(params));
      await page.waitForFunction(() => window.__messages.some((m) => m.type === 'ready'));
      page.errors = errors;
      return page;
    },
    async close() {
      await browser.close();
      await mock.close();
    },
  };
}

export const messages = (page, type) => page.evaluate((t) => window.__messages.filter((m) => !t || m.type === t), type);

/** The layer point of a slide point, for a page opened with the given rectangle and size. */
export function layerPoint(q, x, y) {
  const s = Number(q.w) / Number(q.sw);
  return { x: Number(q.x) + x * s, y: Number(q.y) + y * s };
}

/** Drags the mouse through the given layer points, one move event each. */
export async function drag(page, points, { hold = 0, shift = false } = {}) {
  if (shift) await page.keyboard.down('Shift');
  await page.mouse.move(points[0].x, points[0].y);
  await page.mouse.down();
  for (const p of points.slice(1)) await page.mouse.move(p.x, p.y);
  if (hold) await page.waitForTimeout(hold);
  await page.mouse.up();
  if (shift) await page.keyboard.up('Shift');
  await frames(page);
}

/** Waits until the page has drawn what it was just told. */
export const frames = (page) => page.evaluate(() => new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r))));

export async function shot(page, name) {
  await page.screenshot({ path: join(ARTIFACTS, `${name}.png`) });
}

/** Waits until the mock has recorded n inserts. */
export async function inserts(page, mock, n) {
  await page.waitForFunction(() => true);
  const until = Date.now() + 10000;
  while (mock.state.inserts.length < n) {
    if (Date.now() > until) throw new Error(`expected ${n} inserts, got ${mock.state.inserts.length}`);
    await new Promise((r) => setTimeout(r, 20));
  }
  return mock.state.inserts;
}

/**
 * Every piece of text in the toolbar: its own box, its font size and family, and the boxes round
 * it. A function body as text, so that Chromium and the WebKitGTK window measure alike.
 */
export const TOOLBAR_TEXTS_JS = `
  const box = (r) => ({ l: r.left, r: r.right, t: r.top, b: r.bottom });
  const bar = box(document.querySelector('#toolbar').getBoundingClientRect());
  const out = [];
  const walk = document.createTreeWalker(document.querySelector('#toolbar'), NodeFilter.SHOW_TEXT);
  for (let n = walk.nextNode(); n; n = walk.nextNode()) {
    if (!n.textContent.trim() || n.parentElement.closest('[hidden]')) continue;
    const range = document.createRange();
    range.selectNodeContents(n);
    const button = n.parentElement.closest('button');
    const style = getComputedStyle(n.parentElement);
    out.push({
      text: n.textContent.trim(),
      size: parseFloat(style.fontSize),
      font: style.fontFamily,
      box: box(range.getBoundingClientRect()),
      button: button ? box(button.getBoundingClientRect()) : null,
      clipped: button ? button.scrollWidth > button.clientWidth : false,
    });
  }
  return { bar, out, dpr: window.devicePixelRatio };`;
