// The toolbar as it reads on a plain screen (one device pixel per CSS pixel) in headless
// Chromium: every text at least 11 px, and every label inside its button and the toolbar with
// room to spare, so a wider system font still keeps off the edges.
import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';
import { join } from 'node:path';
import { ARTIFACTS, TOOLBAR_TEXTS_JS, frames, openBrowser } from './harness.mjs';

const Q = { sw: '960', sh: '540', x: '140', y: '90', w: '800', h: '450', pz: '83.30', slide: '257' };
let b;
before(async () => { b = await openBrowser(); });
after(async () => { await b?.close(); });

/** Room a label keeps from its button's sides, and every text from the toolbar's sides and its top and bottom, in CSS px. */
const IN_BUTTON = 4;
const IN_BAR = 8;
const IN_BAR_V = 4;

const texts = (page) => page.evaluate(`(() => {${TOOLBAR_TEXTS_JS}
})()`);

/** How far a text keeps from the toolbar's sides and, scaled to the same rule, from its top and bottom. */
function roomIn(inner, outer) {
  const across = Math.min(inner.l - outer.l, outer.r - inner.r);
  const down = Math.min(inner.t - outer.t, outer.b - inner.b);
  return Math.min(across, (down * IN_BAR) / IN_BAR_V);
}

test('at one device pixel per CSS pixel every toolbar text is 11 px or more and keeps off its button\'s and the toolbar\'s edges', async () => {
  const page = await b.page(Q);
  await frames(page);
  await check(page);
  const r = await page.$eval('#toolbar', (e) => e.getBoundingClientRect().toJSON());
  await page.screenshot({ path: join(ARTIFACTS, 'toolbar-dpr1-chromium.png'), clip: { x: r.x - 4, y: r.y - 4, width: r.width + 8, height: r.height + 8 } });
  // WebKitGTK on Linux falls back to DejaVu Sans, far wider than the font Chromium picks here:
  // the same room must hold in it.
  await page.addStyleTag({ content: 'html, body { font-family: "DejaVu Sans", sans-serif !important; }' });
  await frames(page);
  assert.equal(await page.evaluate(() => document.fonts.check('11px "DejaVu Sans"')), true);
  await check(page);
  await page.close();
});

async function check(page) {
  const { bar, out, dpr } = await texts(page);
  assert.equal(dpr, 1);
  for (const name of ['Highlighter', 'Edit points', 'Rectangle', 'Place & stay', 'Colour', 'Width (pt)', 'Place']) {
    assert.ok(out.some((t) => t.text === name), `"${name}" is in the toolbar`);
  }
  for (const t of out) {
    assert.ok(t.size >= 11, `"${t.text}" is ${t.size} px`);
    assert.ok(roomIn(t.box, bar) >= IN_BAR, `"${t.text}" keeps ${roomIn(t.box, bar).toFixed(1)} px from the toolbar's edge`);
    if (!t.button) continue;
    const side = Math.min(t.box.l - t.button.l, t.button.r - t.box.r);
    assert.ok(side >= IN_BUTTON, `"${t.text}" keeps ${side.toFixed(1)} px from its button's sides`);
    assert.ok(!t.clipped, `"${t.text}" overflows its button`);
  }
}

test('the offer to bring a drawing back reads as well: its question and both answers', async () => {
  // A drawing left unplaced by an earlier layer on the same slide.
  const first = await b.page({ ...Q, sid: 'earlier' });
  await first.mouse.move(300, 200);
  await first.mouse.down();
  for (let i = 1; i < 20; i++) await first.mouse.move(300 + i * 8, 200 + i * 3);
  await first.mouse.up();
  await frames(first);
  await first.waitForTimeout(400);
  await first.close();
  const page = await b.page({ ...Q, sid: 'later' });
  await page.waitForFunction(() => !document.querySelector('#toolbar .offer').hidden);
  const { bar, out } = await texts(page);
  for (const name of ['Bring back', 'Drop it']) {
    const t = out.find((x) => x.text === name);
    assert.ok(t, `"${name}" is offered`);
    assert.ok(t.size >= 11 && roomIn(t.box, bar) >= IN_BAR && Math.min(t.box.l - t.button.l, t.button.r - t.box.r) >= IN_BUTTON, `"${name}" reads and has room`);
  }
  const q = out.find((x) => x.text.startsWith('Bring back the drawing'));
  assert.ok(q && q.size >= 11 && roomIn(q.box, bar) >= 2, 'the question fits the toolbar');
  await page.close();
});

test('with no room beside the slide, the toolbar stays in the program\'s editor, off its thumbnails and ribbon', async () => {
  // The editor from 250, 100; the slide fills it and runs past the window's right edge.
  const pane = { x: 250, y: 100, w: 1030, h: 700 };
  const page = await b.page({ sw: '960', sh: '540', x: '300', y: '60', w: '1000', h: '562.5', pz: '104', px: '250', py: '100', pw: '1030', ph: '700' });
  await frames(page);
  const bar = await page.$eval('#toolbar', (e) => e.getBoundingClientRect().toJSON());
  assert.ok(bar.left >= pane.x && bar.right <= pane.x + pane.w && bar.top >= pane.y && bar.bottom <= pane.y + pane.h,
    `the toolbar at ${bar.left},${bar.top} to ${bar.right},${bar.bottom} lies in the editor`);
  // Dragged by its grip, it goes where the user puts it, over the thumbnails too.
  await page.mouse.move(bar.left + bar.width / 2, bar.top + 8);
  await page.mouse.down();
  await page.mouse.move(120, 300, { steps: 4 });
  await page.mouse.up();
  await frames(page);
  const moved = await page.$eval('#toolbar', (e) => e.getBoundingClientRect().toJSON());
  assert.ok(Math.abs(moved.left + moved.width / 2 - 120) < 2, `left where it was dropped: ${moved.left}`);
  await page.close();
});
