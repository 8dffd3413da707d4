// The drawing page in headless Chromium against the mock server: what the application and
// the add-in see of it, and what a user sees.
import assert from 'node:assert/strict';
import { writeFile } from 'node:fs/promises';
import { join } from 'node:path';
import { after, before, test } from 'node:test';
import { ARTIFACTS, drag, frames, inserts, layerPoint, messages, openBrowser, shot } from './harness.mjs';
import { deviation, outlinePoints } from './geometry.mjs';

// A slide of 960 x 540 points shown 800 points wide: a zoom of 83.3 %.
const Q = { sw: '960', sh: '540', x: '140', y: '90', w: '800', h: '450', pz: '83.30', slide: '257' };
let b;
before(async () => { b = await openBrowser(); });
after(async () => { await b?.close(); });

const at = (x, y) => layerPoint(Q, x, y);
const noticeText = (page) => page.$eval('#notice', (n) => (n.hidden ? '' : n.textContent));
const shapesShown = (page) => page.$$eval('#scene path', (ps) => ps.length);
const waitNotice = (page, part) => page.waitForFunction((p) => !document.querySelector('#notice').hidden && document.querySelector('#notice').textContent.includes(p), part);

function wave(x0, y0, n = 40) {
  return Array.from({ length: n }, (_, i) => ({ x: x0 + i * 6, y: y0 + 30 * Math.sin(i / 5) }));
}

test('the page reports its own errors to the application log', async () => {
  const page = await b.page(Q);
  await page.evaluate(() => setTimeout(() => { throw new Error('boom'); }));
  await page.waitForFunction(() => window.__messages.some((m) => m.type === 'log' && m.msg.includes('boom')));
  await page.close();
});

test('ready comes first, then the regions: the slide and the toolbar, and all of the mouse during a gesture', async () => {
  const page = await b.page(Q);
  await page.waitForFunction(() => window.__messages.some((m) => m.type === 'regions'));
  const first = await messages(page);
  assert.equal(first[0].type, 'ready');
  assert.equal(first.filter((m) => m.type === 'ready').length, 1);
  const regions = first.filter((m) => m.type === 'regions').at(-1);
  assert.equal(regions.all, false);
  assert.deepEqual(regions.rects[0], [140, 90, 800, 450]);
  const bar = await page.$eval('#toolbar', (e) => e.getBoundingClientRect().toJSON());
  assert.ok(regions.rects.some(([x, y, w, h]) => x <= bar.x && y <= bar.y && x + w >= bar.right && y + h >= bar.bottom), 'the toolbar takes the mouse');
  assert.ok(bar.left >= 940, 'the toolbar sits beside the slide');

  await page.mouse.move(300, 300);
  await page.mouse.down();
  await page.mouse.move(340, 320);
  await page.waitForFunction(() => window.__messages.at(-1).type === 'regions' && window.__messages.at(-1).all === true);
  await page.mouse.up();
  await page.waitForFunction(() => window.__messages.filter((m) => m.type === 'regions').at(-1).all === false);
  const bg = await page.evaluate(() => [getComputedStyle(document.body).backgroundColor, getComputedStyle(document.documentElement).backgroundColor]);
  assert.deepEqual(bg, ['rgba(0, 0, 0, 0)', 'rgba(0, 0, 0, 0)'], 'the page is see-through');
  assert.deepEqual(page.errors, []);
  await page.close();
});

test('a stroke drawn at 83 % lands in slide points within a point of where it was drawn', async () => {
  b.mock.state.inserts.length = 0;
  const page = await b.page(Q);
  const slidePts = Array.from({ length: 120 }, (_, i) => ({ x: 100 + i * 5, y: 250 + 80 * Math.sin(i / 12) + 20 * Math.cos(i / 5) }));
  await drag(page, slidePts.map((p) => at(p.x, p.y)));
  await shot(page, 'pen-stroke');
  await page.keyboard.press('Enter');
  const [ins] = await inserts(page, b.mock, 1);
  assert.deepEqual({ ...ins.body, path: undefined }, { path: undefined, stroke: '#1F1F1F', width: '2', fill: 'none', replace: '', slide: '257', close: true });
  assert.match(ins.body.path, /^M[-\d. ]+( C[-\d. ]+)+$/, 'one subpath of cubics');
  const [outline] = outlinePoints(ins.body.path);
  const dev = deviation(slidePts, outline);
  assert.ok(dev <= 1, `placed ${dev.toFixed(3)} pt away from the drawing`);
  await waitNotice(page, 'Placed on the slide');
  await writeFile(join(ARTIFACTS, 'pen-stroke-on-slide.png'), b.mock.slidePng(960));
  await page.close();
});

test('shapes: Shift makes a square, a circle and a 45 degree line, placed in drawing order', async () => {
  b.mock.state.inserts.length = 0;
  b.mock.state.placings.length = 0;
  const page = await b.page(Q);
  await page.keyboard.press('r');
  await drag(page, [at(100, 100), at(180, 130), at(220, 140)], { shift: true });
  await page.keyboard.press('f');
  await page.keyboard.press('o');
  await drag(page, [at(400, 100), at(460, 200), at(520, 160)], { shift: true });
  await page.keyboard.press('l');
  await drag(page, [at(600, 300), at(700, 390), at(760, 380)], { shift: true });
  await page.keyboard.press('h');
  await drag(page, wave(120, 420).map((p) => at(p.x, p.y)));
  await shot(page, 'shapes');
  await page.keyboard.press('Enter');
  const all = await inserts(page, b.mock, 4);
  await waitNotice(page, 'Placed');
  // One part per run of one style, so the slide stacks them as they were drawn: the
  // rectangle (drawn before Fill was turned on), the filled ellipse, the line, the highlighter;
  // all four in one request.
  assert.equal(all.length, 4);
  assert.equal(b.mock.state.placings.length, 1);
  assert.equal(b.mock.state.placings[0].parts.length, 4);
  assert.equal(b.mock.state.placings[0].close, true);
  const [{ path: rect }, filled, { path: line }, marker] = all.map((i) => i.body);
  assert.equal(all[0].body.stroke, all[2].body.stroke);
  const r = rect.match(/-?[\d.]+/g).map(Number);
  assert.match(rect, /^M[\d. ]+ L[\d. ]+ L[\d. ]+ L[\d. ]+ Z$/);
  assert.ok(Math.abs((r[2] - r[0]) - (r[5] - r[3])) < 0.01, 'a square in slide points');
  assert.ok(Math.abs(r[0] - 100) < 1.3 && Math.abs(r[1] - 100) < 1.3);
  const l = line.match(/-?[\d.]+/g).map(Number);
  assert.ok(Math.abs((l[2] - l[0]) - (l[3] - l[1])) < 0.01, '45 degrees');
  assert.equal(filled.fill, filled.stroke);
  const [circle] = outlinePoints(filled.path);
  const xs = circle.map((p) => p.x), ys = circle.map((p) => p.y);
  assert.ok(Math.abs((Math.max(...xs) - Math.min(...xs)) - (Math.max(...ys) - Math.min(...ys))) < 0.05, 'a circle');
  assert.match(marker.stroke, /^#[0-9A-F]{8}$/, 'the highlighter is see-through');
  assert.deepEqual(all.map((i) => i.body.close), [false, false, false, true]);
  await writeFile(join(ARTIFACTS, 'shapes-on-slide.png'), b.mock.slidePng(960));
  await page.close();
});

test('holding the pen still at the end snaps a rough box to a rectangle, and undo brings the ink back', async () => {
  b.mock.state.inserts.length = 0;
  const page = await b.page(Q);
  const corners = [[100, 100], [400, 104], [396, 300], [104, 296], [102, 112]];
  const rough = [];
  for (let c = 0; c < 4; c++) {
    for (let i = 0; i < 25; i++) {
      const t = i / 25;
      rough.push(at(corners[c][0] + (corners[c + 1][0] - corners[c][0]) * t + Math.sin(i) * 1.5, corners[c][1] + (corners[c + 1][1] - corners[c][1]) * t + Math.cos(i) * 1.5));
    }
  }
  await drag(page, rough, { hold: 700 });
  await page.keyboard.press('Shift+Enter');
  let all = await inserts(page, b.mock, 1);
  assert.match(all[0].body.path, /^M[\d. ]+ L[\d. ]+ L[\d. ]+ L[\d. ]+ Z$/, all[0].body.path);
  await waitNotice(page, 'Placed');
  const rectId = String(b.mock.state.slide.shapes.at(-1).id);
  await page.keyboard.press('Control+z');
  await page.keyboard.press('Shift+Enter');
  all = await inserts(page, b.mock, 2);
  assert.match(all[1].body.path, /^M[\d. ]+( [LC][\d. ]+){8,}$/, 'the ink as drawn, open and with its corners');
  assert.equal(all[1].body.replace, rectId, 'it replaces the rectangle');
  await page.close();
});

test('undo and redo with the keyboard and the toolbar', async () => {
  b.mock.state.inserts.length = 0;
  const page = await b.page(Q);
  await drag(page, wave(100, 150).map((p) => at(p.x, p.y)));
  await drag(page, wave(100, 300).map((p) => at(p.x, p.y)));
  assert.equal(await shapesShown(page), 2);
  await page.keyboard.press('Control+z');
  await page.waitForFunction(() => document.querySelectorAll('#scene path').length === 1);
  await page.click('#toolbar button[aria-label="Redo"]');
  await page.waitForFunction(() => document.querySelectorAll('#scene path').length === 2);
  await page.click('#toolbar button[aria-label="Undo"]');
  await page.waitForFunction(() => document.querySelectorAll('#scene path').length === 1);
  await page.keyboard.press('Enter');
  const [ins] = await inserts(page, b.mock, 1);
  assert.equal(ins.body.path.match(/M/g).length, 1, 'only the stroke that was kept');
  await page.close();
});

test('Option+arrows nudge the frame and everything on it, and store the offset', async () => {
  b.mock.state.nudges.length = 0;
  b.mock.state.inserts.length = 0;
  const page = await b.page({ ...Q, nx: '2', ny: '0' });
  assert.deepEqual(await page.$eval('#frame', (e) => [e.style.left, e.style.top]), ['142px', '90px'], 'the stored offset applies');
  await page.keyboard.press('r');
  await drag(page, [at(100, 100), at(200, 200)].map((p) => ({ x: p.x + 2, y: p.y })));
  await page.keyboard.press('Alt+ArrowRight');
  await page.keyboard.press('Alt+ArrowRight');
  await page.keyboard.press('Alt+Shift+ArrowDown');
  await page.waitForFunction(() => document.querySelector('#frame').style.top === '100px');
  const until = Date.now() + 5000;
  while (b.mock.state.nudges.length === 0 && Date.now() < until) await new Promise((r) => setTimeout(r, 20));
  assert.deepEqual(b.mock.state.nudges, [{ x: 4, y: 10 }], 'one store once the keys rest, with the whole offset');
  const rect = await page.$eval('#scene path', (p) => p.getBoundingClientRect().toJSON());
  assert.ok(Math.abs(rect.x - (at(100, 100).x + 4 - 1)) < 1.5 && Math.abs(rect.y - (at(100, 100).y + 10 - 1)) < 1.5, 'the drawing moved with the frame');
  await page.keyboard.press('Enter');
  const [ins] = await inserts(page, b.mock, 1);
  assert.match(ins.body.path, /^M100 100 L200 100 L200 200 L100 200 Z$/, 'still the same place on the slide');
  await page.close();
});

test('Shift+I shows the slide picture from the API, loaded as an image without the header', async () => {
  const page = await b.page(Q);
  await drag(page, wave(100, 150).map((p) => at(p.x, p.y)));
  const before = b.mock.state.requests.length;
  await page.keyboard.press('Shift+I');
  await page.waitForFunction(() => { const i = document.querySelector('#picture'); return !i.hidden && i.complete && i.naturalWidth > 0; });
  const asked = b.mock.state.requests.slice(before);
  const slide = asked.find((r) => r.path === '/api/slide');
  assert.equal(slide.headers['x-scribbet'], '1');
  const png = asked.find((r) => r.path === '/api/slide.png');
  assert.equal(png.headers['x-scribbet'], undefined);
  assert.deepEqual(await page.$eval('#picture', (i) => [i.naturalWidth, i.style.left, i.style.width]), [800, '140px', '800px']);
  await shot(page, 'slide-picture');
  await page.keyboard.press('Shift+I');
  await page.waitForFunction(() => document.querySelector('#picture').hidden);
  // The add-in can't make a picture: the page says so and shows none.
  await page.route('**/api/slide?*', (route) => route.fulfill({ status: 200, contentType: 'application/json', body: '{"ok":false,"msg":"PowerPoint sent no slide picture."}' }));
  await page.keyboard.press('Shift+I');
  await waitNotice(page, 'PowerPoint sent no slide picture.');
  assert.equal(await page.$eval('#picture', (i) => i.hidden), true);
  await page.close();
});

test('the tool command answers a text and switches the tool; odd commands are logged and change nothing', async () => {
  const page = await b.page({ ...Q, tool: 'select' });
  assert.equal(await page.$eval('#toolbar [data-tool="select"]', (e) => e.getAttribute('aria-pressed')), 'true');
  assert.equal(await page.evaluate(() => SCB.command({ op: 'tool', tool: 'shape:ellipse' })), 'shape:ellipse');
  await page.waitForFunction(() => document.querySelector('#toolbar [data-tool="shape:ellipse"]').getAttribute('aria-pressed') === 'true');
  await drag(page, [at(100, 100), at(200, 160)]);
  assert.equal(await page.evaluate(() => SCB.command({ op: 'tool', tool: 'crayon' })), 'pen');
  assert.equal(await page.evaluate(() => SCB.command({ op: 'tool' })), 'pen');
  assert.equal(typeof (await page.evaluate(() => SCB.command({ op: 'geom', x: 'a', y: 1 }))), 'string');
  await page.evaluate(() => SCB.command({ op: 'warp' }));
  await page.evaluate(() => SCB.command(null));
  const logs = (await messages(page, 'log')).map((m) => m.msg);
  assert.ok(logs.some((m) => /tool name/.test(m)) && logs.some((m) => /x, y, w and h/.test(m)) && logs.some((m) => /warp/.test(m)), logs.join(' | '));
  assert.equal(await shapesShown(page), 1, 'the drawing is kept');
  assert.match(await noticeText(page), /could not use/);
  await page.close();
});

test('a failed insert keeps the whole drawing, says why, and a second try places it once', async () => {
  b.mock.state.inserts.length = 0;
  b.mock.state.slide.shapes.length = 0;
  const page = await b.page(Q);
  await drag(page, wave(100, 150).map((p) => at(p.x, p.y)));
  await page.keyboard.press('r');
  await drag(page, [at(400, 300), at(500, 400)]);
  b.mock.failInserts('', 'The add-in is not loaded.');
  b.mock.state.failInserts[0] = null; // the first style goes through, the second fails
  await page.keyboard.press('Enter');
  await waitNotice(page, 'The add-in is not loaded.');
  assert.match(await noticeText(page), /1 of 2 parts were placed/);
  assert.equal(await shapesShown(page), 2);
  await shot(page, 'failed-insert');
  assert.equal(b.mock.state.slide.shapes.length, 1);
  await page.keyboard.press('Enter');
  const all = await inserts(page, b.mock, 3);
  await waitNotice(page, 'Placed');
  assert.equal(all[2].body.path, all[1].body.path, 'only the part that failed is sent again');
  assert.equal(all[2].body.close, true);
  assert.equal(b.mock.state.slide.shapes.length, 2, 'nothing placed twice');
  // A server that answers nonsense or nothing: the drawing stays all the same.
  await page.keyboard.press('p');
  await drag(page, wave(100, 300).map((p) => at(p.x, p.y)));
  await page.route('**/api/insert', (route) => route.fulfill({ status: 200, body: 'not json' }));
  await page.keyboard.press('Enter');
  await waitNotice(page, 'could not read');
  await page.route('**/api/insert', (route) => route.abort());
  await page.keyboard.press('Enter');
  await waitNotice(page, 'did not answer');
  assert.equal(await shapesShown(page), 3);
  assert.ok((await messages(page, 'log')).some((m) => /insert failed/.test(m.msg)));
  await page.close();
});

test('a placing whose answer never came is asked for again under its identifier, and lands once', async () => {
  b.mock.state.inserts.length = 0;
  b.mock.state.placings.length = 0;
  b.mock.state.slide.shapes.length = 0;
  const page = await b.page(Q);
  await drag(page, wave(100, 150).map((p) => at(p.x, p.y)));
  await page.keyboard.press('r');
  await drag(page, [at(400, 300), at(500, 400)]);
  // Scribbet places it, but its answer is lost on the way back.
  await page.route('**/api/insert', async (route) => { await route.fetch(); await route.abort(); });
  await page.keyboard.press('Shift+Enter');
  await waitNotice(page, 'did not answer');
  assert.match(await noticeText(page), /Place again finishes it, and places nothing twice/);
  assert.equal(b.mock.state.slide.shapes.length, 2, 'the program has it');
  // Asked again, Scribbet says PowerPoint is still at it: still nothing known.
  await page.unroute('**/api/insert');
  await page.route('**/api/insert', (route) => route.fulfill({ status: 200, contentType: 'application/json', body: '{"ok":false,"pending":true,"msg":"PowerPoint is still placing the drawing."}' }));
  await page.keyboard.press('Shift+Enter');
  await waitNotice(page, 'PowerPoint is still placing the drawing.');
  await page.unroute('**/api/insert');
  // Meanwhile the user draws on, then places again: the lost placing is asked for first.
  await page.keyboard.press('p');
  await drag(page, wave(100, 300).map((p) => at(p.x, p.y)));
  await page.keyboard.press('Shift+Enter');
  await waitNotice(page, 'Placed');
  const [first, again, next] = b.mock.state.placings;
  assert.equal(b.mock.state.placings.length, 3);
  assert.equal(again.id, first.id);
  assert.deepEqual(again.parts, first.parts);
  assert.notEqual(next.id, first.id);
  assert.equal(next.parts.length, 1, 'only the new stroke');
  assert.equal(next.parts[0].replace, '');
  assert.equal(b.mock.state.inserts.length, 3, 'the lost placing reached the add-in once');
  assert.equal(b.mock.state.slide.shapes.length, 3, 'each item once');
  await page.keyboard.press('Shift+Enter');
  await waitNotice(page, 'Nothing new to place');
  assert.equal(b.mock.state.placings.length, 3);
  await page.close();
});

test('placed with the layer kept open, an edited shape replaces its old one', async () => {
  b.mock.state.inserts.length = 0;
  b.mock.state.slide.shapes.length = 0;
  const page = await b.page(Q);
  await page.keyboard.press('r');
  await drag(page, [at(100, 100), at(200, 200)]);
  await page.keyboard.press('Shift+Enter');
  const [first] = await inserts(page, b.mock, 1);
  assert.equal(first.body.close, false);
  await waitNotice(page, 'Placed');
  const id = String(b.mock.state.slide.shapes[0].id);
  await page.keyboard.press('v');
  await drag(page, [at(100, 150), at(130, 170)]);
  await shot(page, 'select-moved');
  await page.keyboard.press('Shift+Enter');
  const all = await inserts(page, b.mock, 2);
  await waitNotice(page, 'Placed');
  assert.equal(all[1].body.replace, id);
  assert.equal(all[1].body.path, 'M130 120 L230 120 L230 220 L130 220 Z');
  assert.equal(b.mock.state.slide.shapes.length, 1);
  // Nothing changed since: placing again sends nothing, and Return just closes.
  const closes = b.mock.state.closes;
  await page.keyboard.press('Enter');
  const until = Date.now() + 3000;
  while (b.mock.state.closes === closes && Date.now() < until) await new Promise((r) => setTimeout(r, 20));
  assert.equal(b.mock.state.closes, closes + 1);
  assert.equal(b.mock.state.inserts.length, 2);
  await page.close();
});

test('a deletion is unplaced work until it reaches the slide, also when taking it away fails', async () => {
  b.mock.state.inserts.length = 0;
  b.mock.state.slide.shapes.length = 0;
  const page = await b.page(Q);
  await page.keyboard.press('r');
  await drag(page, [at(100, 100), at(200, 200)]);
  await page.keyboard.press('Shift+Enter');
  await inserts(page, b.mock, 1);
  await waitNotice(page, 'Placed');
  const id = String(b.mock.state.slide.shapes[0].id);
  await page.keyboard.press('v');
  await page.mouse.click(at(100, 150).x, at(100, 150).y);
  await page.keyboard.press('Delete');
  await waitNotice(page, 'Gone from the drawing; the slide keeps it until you place');
  b.mock.failInserts('The program is busy.');
  await page.keyboard.press('Shift+Enter');
  await waitNotice(page, 'The program is busy.');
  const [, failed] = await inserts(page, b.mock, 2);
  assert.deepEqual({ path: failed.body.path, replace: failed.body.replace }, { path: '', replace: id });
  assert.equal(b.mock.state.slide.shapes.length, 1, 'still on the slide');
  await page.keyboard.press('Escape');
  await waitNotice(page, 'Press Esc again to close without placing - one change would be lost.');
  assert.equal((await messages(page, 'cancel')).length, 0);
  await page.waitForTimeout(50);
  await page.keyboard.press('Shift+Enter');
  await waitNotice(page, 'Taken off the slide.');
  assert.equal(b.mock.state.slide.shapes.length, 0);
  assert.equal((await inserts(page, b.mock, 3)).length, 3);
  await page.keyboard.press('Shift+Enter');
  await waitNotice(page, 'Nothing to place yet.');
  assert.equal(b.mock.state.inserts.length, 3, 'nothing sent twice');
  await page.close();
});

test('a geom command moves and scales the drawing with the slide; the placed text stays in slide points', async () => {
  b.mock.state.inserts.length = 0;
  const page = await b.page(Q);
  await page.keyboard.press('r');
  await drag(page, [at(100, 100), at(300, 200)]);
  await page.evaluate(() => SCB.command({ op: 'geom', x: 40, y: 30, w: 480, h: 270, host: false, pz: 50, fit: true }));
  await page.waitForFunction(() => document.querySelector('#frame').style.width === '480px');
  const r = await page.$eval('#scene path', (p) => p.getBoundingClientRect().toJSON());
  assert.ok(Math.abs(r.x - (40 + 100 * 0.5)) < 1.5 && Math.abs(r.width - 100) < 2.5, JSON.stringify(r));
  const regions = (await messages(page, 'regions')).at(-1);
  assert.deepEqual(regions.rects[0], [40, 30, 480, 270]);
  await shot(page, 'after-geom');
  await page.keyboard.press('Enter');
  const [ins] = await inserts(page, b.mock, 1);
  assert.equal(ins.body.path, 'M100 100 L300 100 L300 200 L100 200 Z');
  await page.close();
});

test('Escape drops a gesture, asks once before losing a drawing, and otherwise cancels', async () => {
  let page = await b.page(Q);
  await page.mouse.move(300, 300);
  await page.mouse.down();
  await page.mouse.move(360, 330);
  await page.keyboard.press('Escape');
  await page.mouse.up();
  assert.equal(await shapesShown(page), 0);
  assert.equal((await messages(page, 'cancel')).length, 0);
  await drag(page, wave(100, 150).map((p) => at(p.x, p.y)));
  await page.keyboard.press('Escape');
  await waitNotice(page, 'Press Esc again');
  assert.equal((await messages(page, 'cancel')).length, 0);
  await page.keyboard.press('Escape');
  await page.waitForFunction(() => window.__messages.some((m) => m.type === 'cancel'));
  await page.close();
  page = await b.page(Q);
  await page.keyboard.press('Escape');
  await page.waitForFunction(() => window.__messages.some((m) => m.type === 'cancel'));
  await page.close();
});

test('notes, another slide, a missing theme, and a reload that brings the drawing back', async () => {
  b.mock.state.themeAnswer = { code: 200, type: 'text/html', body: Buffer.from('<html>') };
  const page = await b.page({ ...Q, note: 'Position estimated - press Shift+I to show the slide and Option+arrows to line it up', sid: 'reload1' });
  await waitNotice(page, 'Theme colours are not available');
  b.mock.state.themeAnswer = null;
  assert.equal(await page.$$eval('#toolbar .swatch', (s) => s.length), 8, 'the fixed colours only');
  await page.evaluate(() => SCB.command({ op: 'slide', other: true }));
  await page.waitForFunction(() => !document.querySelector('#banner').hidden);
  await page.evaluate(() => SCB.command({ op: 'note', text: 'Accessibility is on.' }));
  await waitNotice(page, 'Accessibility is on.');
  await drag(page, wave(100, 150).map((p) => at(p.x, p.y)));
  await shot(page, 'other-slide');
  await page.evaluate(() => SCB.command({ op: 'slide', other: false }));
  await page.waitForFunction(() => document.querySelector('#banner').hidden);
  await page.reload();
  await page.waitForFunction(() => document.querySelectorAll('#scene path').length === 1);
  await waitNotice(page, 'drawing is back');
  assert.equal(await page.$$eval('#toolbar .swatch', (s) => s.length), 20, 'twelve theme colours and the fixed ones');
  await page.close();
});

test('every tool on one slide, in light and dark appearance', async () => {
  const page = await b.page(Q);
  await page.click('#toolbar [data-tool="pen"]');
  await drag(page, wave(60, 120).map((p) => at(p.x, p.y)));
  await page.click('#toolbar [data-tool="highlighter"]');
  await drag(page, wave(60, 220).map((p) => at(p.x, p.y)));
  await page.click('#toolbar [data-tool="shape:rect"]');
  await drag(page, [at(380, 80), at(520, 180)]);
  await page.click('#toolbar [data-tool="shape:ellipse"]');
  await page.click('#toolbar .swatch[data-paint="theme:5"]');
  await drag(page, [at(560, 80), at(760, 200)]);
  await page.click('#toolbar [data-tool="shape:line"]');
  await page.click('#toolbar .width[data-width="6"]');
  await drag(page, [at(380, 300), at(760, 420)]);
  await page.click('#toolbar [data-tool="direct"]');
  await drag(page, [at(660, 80.5)]);
  await drag(page, [at(760, 140), at(800, 150)]);
  await page.waitForFunction(() => document.querySelectorAll('#chrome .anchor').length === 4);
  await shot(page, 'direct-edit');
  await page.click('#toolbar [data-tool="select"]');
  await drag(page, [at(20, 20), at(540, 200)]);
  await page.waitForFunction(() => document.querySelectorAll('#chrome .handle').length === 8);
  await shot(page, 'all-tools-light');
  await page.emulateMedia({ colorScheme: 'dark' });
  await shot(page, 'all-tools-dark');
  await page.keyboard.press('Control+d');
  await page.waitForFunction(() => document.querySelectorAll('#scene path').length === 8);
  await page.keyboard.press('Delete');
  await page.waitForFunction(() => document.querySelectorAll('#scene path').length === 5);
  assert.deepEqual(page.errors, []);
  await page.close();
});

test('the toolbar shows what is in use: the tool\'s width, a selected shape\'s colour and fill; a clicked button keeps no focus', async () => {
  const page = await b.page(Q);
  const checked = (sel) => page.$$eval(`#toolbar ${sel}[aria-checked="true"]`, (bs) => bs.map((x) => x.dataset.width ?? x.dataset.paint));
  assert.deepEqual(await checked('.width'), ['2'], 'the pen\'s own width is a preset');
  await page.keyboard.press('h');
  await frames(page);
  assert.deepEqual(await checked('.width'), ['12']);
  await page.keyboard.press('r');
  await page.click('#toolbar .swatch[data-paint="#1E6FD9"]');
  await page.click('#toolbar .width[data-width="6"]');
  await drag(page, [at(100, 100), at(300, 250)]);
  await page.keyboard.press('p');
  await drag(page, wave(400, 150).map((p) => at(p.x, p.y)));
  await page.keyboard.press('v');
  await page.mouse.click(at(100, 175).x, at(100, 175).y);
  await frames(page);
  assert.deepEqual(await checked('.swatch'), ['#1E6FD9'], 'the rectangle\'s colour, not the pen\'s');
  assert.deepEqual(await checked('.width'), ['6']);
  assert.equal(await page.$eval('#toolbar .fill', (x) => x.disabled), false, 'Fill can fill the selected shape');
  await page.keyboard.press('f');
  await frames(page);
  assert.equal(await page.$eval('#scene path', (x) => x.getAttribute('fill')), '#1E6FD9');
  assert.equal(await page.$eval('#toolbar .fill', (x) => x.getAttribute('aria-pressed')), 'true');
  // The rectangle and the ink together: colours differ, so none is marked.
  await page.keyboard.press('Control+a');
  await frames(page);
  assert.deepEqual(await checked('.swatch'), []);

  // Undo clicked, then Space: the button must not take the key and undo a second time.
  await page.keyboard.press('Escape');
  await page.click('#toolbar .btn[aria-label="Undo"]');
  await page.keyboard.press('Space');
  await frames(page);
  assert.equal(await page.$eval('#scene path', (x) => x.getAttribute('fill')), 'none', 'one undo: the fill is gone');
  assert.equal(await shapesShown(page), 2, 'and only the fill');
  assert.equal(await page.evaluate(() => document.activeElement?.tagName), 'BODY');

  const prevented = await page.evaluate(() => !document.body.dispatchEvent(new MouseEvent('contextmenu', { bubbles: true, cancelable: true })));
  assert.equal(prevented, true, 'no browser menu over the drawing');
  await page.click('#toolbar button.small:has-text("Close")');
  await waitNotice(page, 'Click Close again to close without placing - 2 changes would be lost.');
  assert.equal((await messages(page, 'cancel')).length, 0);
  await page.click('#toolbar button.small:has-text("Close")');
  await page.waitForFunction(() => window.__messages.some((m) => m.type === 'cancel'));
  await page.close();
});

test('a layer that ended without asking leaves its drawing for the next one on the slide, which offers it back', async () => {
  b.mock.state.inserts.length = 0;
  b.mock.state.slide.shapes.length = 0;
  let page = await b.page(Q);
  await page.evaluate(() => localStorage.clear());
  await page.close();
  const offer = (pg) => pg.$eval('#toolbar .offer', (o) => (o.hidden ? '' : o.textContent));

  // Placed one stroke and kept drawing, then the window went away (its key, a crash, a quit).
  page = await b.page(Q);
  await drag(page, wave(100, 150).map((p) => at(p.x, p.y)));
  await page.keyboard.press('Shift+Enter');
  await inserts(page, b.mock, 1);
  await waitNotice(page, 'Placed');
  await drag(page, wave(100, 300).map((p) => at(p.x, p.y)));
  await page.close();

  page = await b.page(Q);
  assert.equal(await shapesShown(page), 0, 'nothing comes back unasked');
  assert.match(await offer(page), /Bring back the drawing you had not placed\?/);
  await shot(page, 'offer-kept-drawing');
  await page.click('#toolbar .offer .yes');
  await page.waitForFunction(() => document.querySelectorAll('#scene path').length === 2);
  assert.equal(await offer(page), '');
  // The placed stroke is on the slide already: not painted again, and not sent again.
  assert.deepEqual(await page.$$eval('#scene path', (ps) => ps.map((x) => x.getAttribute('visibility'))), ['hidden', 'visible']);
  await page.keyboard.press('Enter');
  const all = await inserts(page, b.mock, 2);
  assert.equal(all[1].body.replace, '');
  assert.match(all[1].body.path, /^M100 300 /);
  assert.equal(b.mock.state.slide.shapes.length, 2);
  await waitNotice(page, 'Placed');
  await page.close();
  page = await b.page(Q);
  assert.equal(await offer(page), '', 'placed and closed: forgotten');

  // Dropped when asked, and gone for good.
  await drag(page, wave(100, 150).map((p) => at(p.x, p.y)));
  await page.close();
  page = await b.page(Q);
  await page.click('#toolbar .offer .no');
  assert.equal(await offer(page), '');
  await page.close();
  page = await b.page(Q);
  assert.equal(await offer(page), '');

  // Stored drawings that are damaged, from another version or huge are dropped and logged.
  await page.evaluate(() => {
    localStorage.setItem('scribbet.kept.257.960x540.odd', '{"v":99,"sid":"odd","items":[],"placed":[]}');
    localStorage.setItem('scribbet.kept.257.960x540.cut', '{"v":1,"sid":"cut","items":[{"id":"a","kind":"ink","subp');
    localStorage.setItem('scribbet.kept.257.960x540.big', `{"v":1,"pad":"${'x'.repeat(4_100_000)}"}`);
  });
  // Read back by the same page, reloaded: another page may see so large a write only later.
  await page.reload();
  await page.waitForFunction(() => window.__messages.some((m) => m.type === 'ready'));
  const logs = (await messages(page, 'log')).map((m) => m.msg).sort();
  assert.deepEqual(logs.map((m) => m.replace(/\(\d{7} characters\)/, '(N characters)')), [
    'A kept drawing was dropped: it comes from another version (99).',
    'A kept drawing was dropped: it is not readable.',
    'A kept drawing was dropped: it is too large (N characters).',
  ]);
  assert.equal(await page.evaluate(() => Object.keys(localStorage).filter((k) => k.startsWith('scribbet.kept.')).length), 0);
  assert.equal(await offer(page), '');
  assert.deepEqual(page.errors, []);
  await page.close();
});

/** The colour of the pixel at (x, y) of a PNG, read by the browser that took it. */
const pixel = (page, png, x, y) => page.evaluate(async ([b64, px, py]) => {
  const img = new Image();
  img.src = `data:image/png;base64,${b64}`;
  await img.decode();
  const c = new OffscreenCanvas(img.width, img.height);
  c.getContext('2d').drawImage(img, 0, 0);
  return [...c.getContext('2d').getImageData(Math.round(px), Math.round(py), 1, 1).data].slice(0, 3);
}, [png.toString('base64'), x, y]);
const close = (a, b, tol) => a.every((v, i) => Math.abs(v - b[i]) <= tol);

/** Shows the slide picture afresh (hidden first if it is shown), once it has loaded. */
async function showPicture(page) {
  if (!(await page.$eval('#picture', (i) => i.hidden))) await page.keyboard.press('Shift+I');
  await page.keyboard.press('Shift+I');
  await page.waitForFunction(() => { const i = document.querySelector('#picture'); return !i.hidden && i.complete && i.naturalWidth > 0; });
  await frames(page);
}

test('an edited shape under placed ink, a highlight and a rectangle stays under them on the layer, as on the slide', async () => {
  b.mock.state.inserts.length = 0;
  b.mock.state.slide.shapes.length = 0;
  const page = await b.page({ ...Q, sid: 'order1' });
  const line = (x0, y0, x1, y1, n = 30) => Array.from({ length: n + 1 }, (_, i) => at(x0 + ((x1 - x0) * i) / n, y0 + ((y1 - y0) * i) / n));
  // An outlined ellipse 6 pt wide; ink across its top, a highlight across its left end, a
  // rectangle whose top edge runs along its bottom; two more strokes elsewhere.
  await page.keyboard.press('o');
  await page.keyboard.press(']');
  await page.keyboard.press(']');
  await drag(page, [at(100, 100), at(250, 200), at(400, 300)]);
  await page.keyboard.press('p');
  await page.keyboard.press(']');
  await page.keyboard.press(']');
  await drag(page, line(250, 50, 251, 150));
  await page.keyboard.press('h');
  await drag(page, line(100, 150, 101, 260));
  await page.keyboard.press('r');
  await drag(page, [at(180, 300), at(320, 380)]);
  await page.keyboard.press('p');
  await drag(page, line(600, 100, 700, 150));
  await page.keyboard.press('l');
  await drag(page, [at(600, 400), at(800, 450)]);
  await page.keyboard.press('Shift+Enter');
  await inserts(page, b.mock, 6);
  await waitNotice(page, 'Placed on the slide');
  const order = () => b.mock.state.slide.shapes.map((s) => s.strokeText);
  assert.deepEqual(order(), ['#E0282E', '#1F1F1F', '#FFD60A80', '#E0282E', '#1F1F1F', '#E0282E']);

  // The ellipse turns green, and is deselected so nothing but the drawing shows.
  await page.keyboard.press('v');
  await page.mouse.click(at(400, 200).x, at(400, 200).y);
  await page.click('#toolbar .swatch[data-paint="#2E9E44"]');
  await page.keyboard.press('Escape');
  await showPicture(page);
  const seen = await page.screenshot();
  await shot(page, 'order-edited-under-placed');
  await page.$eval('#stage', (e) => { e.style.visibility = 'hidden'; });
  await frames(page);
  const oldSlide = await page.screenshot();
  await page.$eval('#stage', (e) => { e.style.visibility = ''; });
  const P = { ink: at(250, 100), highlight: at(100, 200), rect: at(250, 300), ring: at(400, 200), highlightAlone: at(100, 160) };
  const px = {};
  for (const [k, q] of Object.entries(P)) px[k] = await pixel(page, seen, q.x, q.y);
  assert.ok(px.ink.every((v) => v < 90), `the ink shows over the green ellipse: ${px.ink}`);
  assert.ok(px.rect[0] > 180 && px.rect[1] < 90, `the red rectangle shows over it: ${px.rect}`);
  assert.ok(px.ring[1] > 120 && px.ring[0] < 90, `the ellipse is green where nothing lies over it: ${px.ring}`);
  // Away from the ellipse the slide's own highlight is all there is: the layer adds nothing.
  assert.ok(close(px.highlightAlone, await pixel(page, oldSlide, P.highlightAlone.x, P.highlightAlone.y), 3), `the highlight is not doubled: ${px.highlightAlone}`);

  // Placed, the slide shows what the layer showed, in the same order of shapes (its picture
  // is shown faded, so it is its colours' hue that is compared).
  await page.keyboard.press('Shift+Enter');
  await waitNotice(page, 'Placed on the slide');
  await showPicture(page);
  await page.$eval('#stage', (e) => { e.style.visibility = 'hidden'; });
  await frames(page);
  const newSlide = await page.screenshot();
  await shot(page, 'order-placed-slide');
  const s = {};
  for (const [k, q] of Object.entries(P)) s[k] = await pixel(page, newSlide, q.x, q.y);
  assert.ok(Math.max(...s.ink) - Math.min(...s.ink) < 12 && s.ink[0] < 200, `the slide shows the ink over the ellipse: ${s.ink}`);
  assert.ok(s.rect[0] > s.rect[1] + 60, `the slide shows the rectangle over the ellipse: ${s.rect}`);
  assert.ok(s.ring[1] > s.ring[0] + 40, `the slide shows the ellipse green: ${s.ring}`);
  assert.ok(s.highlight[1] > s.highlight[2] + 40 && s.highlight[0] > s.highlight[2] + 20, `the highlight over the green ellipse: ${s.highlight}`);
  assert.deepEqual(order(), ['#2E9E44', '#1F1F1F', '#FFD60A80', '#E0282E', '#1F1F1F', '#E0282E']);
  await page.close();
});

test('a stroke finished a moment before the page dies is kept: the page that comes back has both strokes', async () => {
  const q = { ...Q, slide: '259', sid: 'crash1' };
  let page = await b.page(q);
  await drag(page, wave(100, 150).map((p) => at(p.x, p.y)));
  await page.waitForTimeout(400);
  // The second stroke, then the renderer is made to crash at once: no frame, no pagehide.
  const cdp = await page.context().newCDPSession(page);
  const crashed = new Promise((r) => page.once('crash', r));
  const pts = wave(100, 300).map((p) => at(p.x, p.y));
  await page.mouse.move(pts[0].x, pts[0].y);
  await page.mouse.down();
  for (const p of pts.slice(1)) await page.mouse.move(p.x, p.y);
  await page.mouse.up();
  cdp.send('Page.crash').catch(() => {});
  await crashed;
  await page.close();
  page = await b.page(q);
  await waitNotice(page, 'The drawing is back after the page reloaded.');
  assert.equal(await shapesShown(page), 2, 'both strokes are back');
  await page.close();
});

test('an edit is kept once its frame is drawn, never before, with and without idle callbacks (WebKitGTK has none)', async () => {
  for (const idle of [true, false]) {
    const q = { ...Q, slide: '260', sid: `idle-${idle}` };
    const page = await b.context.newPage();
    if (!idle) await page.addInitScript(() => { window.requestIdleCallback = undefined; });
    await page.goto(b.mock.pageUrl(q));
    await page.waitForFunction(() => window.__messages.some((m) => m.type === 'ready'));
    assert.equal(await page.evaluate(() => typeof window.requestIdleCallback === 'function'), idle);
    await drag(page, wave(100, 150).map((p) => at(p.x, p.y)));
    await page.keyboard.press('v');
    const p0 = at(100, 150);
    await page.mouse.click(p0.x, p0.y);
    await page.waitForTimeout(400);
    const x0 = await page.$eval('#scene path', (e) => e.getBoundingClientRect().x);
    for (let round = 0; round < 5; round++) {
      const t = await page.evaluate((sid) => new Promise((done) => {
        const key = Object.keys(localStorage).find((k) => k.startsWith('scribbet.kept.') && k.endsWith(sid));
        const was = localStorage.getItem(key);
        requestAnimationFrame(() => {
          const t0 = performance.now();
          window.dispatchEvent(new KeyboardEvent('keydown', { key: 'ArrowRight', code: 'ArrowRight', bubbles: true }));
          const inEdit = localStorage.getItem(key) !== was;
          requestAnimationFrame(() => {
            const beforeFrame = localStorage.getItem(key) !== was;
            const poll = () => {
              if (localStorage.getItem(key) !== was) done({ inEdit, beforeFrame, after: performance.now() - t0 });
              else if (performance.now() - t0 > 2000) done({ inEdit, beforeFrame, after: Infinity });
              else setTimeout(poll, 2);
            };
            poll();
          });
        });
      }), q.sid);
      assert.deepEqual([t.inEdit, t.beforeFrame], [false, false], `not written before the edit's frame (idle callbacks: ${idle})`);
      assert.ok(t.after < 350, `kept ${t.after.toFixed(1)} ms after the edit (idle callbacks: ${idle})`);
    }
    await page.reload();
    await page.waitForFunction(() => document.querySelectorAll('#scene path').length === 1);
    const x = await page.$eval('#scene path', (e) => e.getBoundingClientRect().x);
    assert.ok(Math.abs(x - (x0 + 5 * (800 / 960))) < 0.5, `the five moves came back with the drawing (${x0} -> ${x})`);
    await page.close();
  }
});
