// Placings whose outcome is not known at once, in headless Chromium against the mock server:
// still under way when Scribbet answers, never answered in time, and never confirmed by the
// program. What goes to Scribbet, what the slide ends up with, and what the user is told.
import assert from 'node:assert/strict';
import { after, before, beforeEach, test } from 'node:test';
import { drag, frames, layerPoint, openBrowser, shot } from './harness.mjs';

const Q = { sw: '960', sh: '540', x: '140', y: '90', w: '800', h: '450', pz: '83.30', slide: '257' };
let b;
before(async () => { b = await openBrowser(); });
after(async () => { await b?.close(); });
beforeEach(() => {
  const s = b.mock.state;
  s.inserts.length = 0;
  s.placings.length = 0;
  s.slide.shapes.length = 0;
  s.plans.length = 0;
});

const at = (x, y) => layerPoint(Q, x, y);
const wave = (x0, y0) => Array.from({ length: 30 }, (_, i) => at(x0 + i * 6, y0 + 30 * Math.sin(i / 5)));
const noticeText = (page) => page.$eval('#notice', (n) => (n.hidden ? '' : n.textContent));
const waitNotice = (page, part) => page.waitForFunction((p) => !document.querySelector('#notice').hidden && document.querySelector('#notice').textContent.includes(p), part);
/** Which of the drawing's items the layer still paints, bottom first: the ones the slide lacks. */
const painted = async (page) => (await frames(page), page.$$eval('#scene path', (ps) => ps.map((p) => p.getAttribute('visibility') !== 'hidden')));
/** This page's kept drawing, as a reload would read it: its head, each piece it names read in. */
const keptOf = (page) => page.evaluate(() => {
  const k = Object.keys(localStorage).find((key) => key.startsWith('scribbet.kept.') && key.endsWith(new URLSearchParams(location.search).get('sid')));
  if (!k) return null;
  const head = JSON.parse(localStorage.getItem(k));
  const piece = (name) => JSON.parse(localStorage.getItem(`scribbet.piece.${k.slice('scribbet.kept.'.length)}|${name}`));
  return {
    ...head,
    items: head.items.map(piece),
    placed: head.placed.map(([id, name]) => [id, piece(name)]),
    ...(head.unanswered === undefined ? {} : { unanswered: piece(head.unanswered) }),
  };
});
const UNKNOWN = 'PowerPoint did not answer within five minutes, so Scribbet cannot tell whether it placed the drawing.';

/** A stroke, then a rectangle over it: a placing of two parts. */
async function twoParts(page) {
  await drag(page, wave(100, 150));
  await page.keyboard.press('r');
  await drag(page, [at(400, 300), at(500, 400)]);
  await page.keyboard.press('p');
}

test('a placing still under way is asked for again under its name, recorded once, and says Placed - across a reload too', async () => {
  const s = b.mock.state;
  const page = await b.page(Q);
  await drag(page, wave(100, 150));
  b.mock.planPlacing({ pending: true });
  await page.keyboard.press('Shift+Enter');
  await waitNotice(page, 'PowerPoint is still placing the drawing.');
  assert.match(await noticeText(page), /Place again finishes it, and places nothing twice/);
  assert.equal(s.slide.shapes.length, 1, 'the program finished it meanwhile');
  assert.deepEqual(await painted(page), [true], 'the page does not know yet');

  await page.keyboard.press('Shift+Enter');
  await waitNotice(page, 'Placed on the slide');
  assert.deepEqual(s.placings.map((p) => p.id), [s.placings[0].id, s.placings[0].id]);
  assert.deepEqual(s.placings[1].parts, s.placings[0].parts);
  assert.deepEqual(await painted(page), [false], 'on the slide now');
  await page.keyboard.press('Shift+Enter');
  await waitNotice(page, 'Nothing new to place');
  assert.equal(s.placings.length, 2, 'its shapes were recorded');
  assert.equal(s.inserts.length, 1);

  // Still under way when the page reloads: the page that comes back asks for it by its name.
  await drag(page, wave(100, 300));
  b.mock.planPlacing({ pending: true });
  await page.keyboard.press('Shift+Enter');
  await waitNotice(page, 'PowerPoint is still placing the drawing.');
  assert.equal((await keptOf(page)).unanswered.body.id, s.placings[2].id);
  await page.reload();
  await waitNotice(page, 'The drawing is back');
  await page.keyboard.press('Shift+Enter');
  await waitNotice(page, 'Placed on the slide');
  assert.equal(s.placings.length, 4);
  assert.equal(s.placings[3].id, s.placings[2].id);
  assert.equal(s.slide.shapes.length, 2, 'each stroke once');
  assert.deepEqual(await painted(page), [false, false]);
  assert.equal((await keptOf(page)).unanswered, undefined, 'told, and forgotten');
  await page.close();
});

test('a placing the program never confirmed is told as such, never sent again, and the next Place is a new one', async () => {
  const s = b.mock.state;
  const page = await b.page(Q);
  await twoParts(page);
  // The stroke is placed and answered for; the program takes the rectangle, places it and never says so.
  b.mock.planPlacing({ unknownAt: 1 });
  await page.keyboard.press('Shift+Enter');
  await waitNotice(page, UNKNOWN);
  const told = await noticeText(page);
  assert.equal(told, `${UNKNOWN} 1 of 2 parts were placed; the rest is still on the layer: look at the slide before placing again, as Place would put it there once more.`);
  await shot(page, 'placing-unconfirmed');
  assert.equal(s.slide.shapes.length, 2);
  assert.deepEqual(await painted(page), [false, true], 'the stroke is on the slide, the rectangle still on the layer');
  const kept = await keptOf(page);
  assert.deepEqual(kept.placed.map(([id]) => id), [kept.items[0].id]);
  assert.equal(kept.unanswered, undefined, 'nothing for a reload to ask for again');

  // Placing again is the user's choice, made knowing: a new placing of what the page lacks.
  await page.keyboard.press('Shift+Enter');
  await waitNotice(page, 'Placed on the slide');
  assert.equal(s.placings.length, 2);
  assert.notEqual(s.placings[1].id, s.placings[0].id);
  assert.deepEqual(s.placings[1].parts, [s.placings[0].parts[1]]);
  assert.equal(s.slide.shapes.length, 3, 'the rectangle twice: what the notice warned of');
  await page.keyboard.press('Shift+Enter');
  await waitNotice(page, 'Nothing new to place');
  assert.equal(s.placings.length, 2);
  await page.close();
});

test('a placing asked for again that the program never confirmed is dropped, not asked for for ever', async () => {
  const s = b.mock.state;
  const page = await b.page(Q);
  await drag(page, wave(100, 150));
  b.mock.planPlacing({ pending: true, unknownAt: 0, lost: true });
  await page.keyboard.press('Shift+Enter');
  await waitNotice(page, 'PowerPoint is still placing the drawing.');
  await page.keyboard.press('Shift+Enter');
  await waitNotice(page, UNKNOWN);
  assert.match(await noticeText(page), /The drawing is still on the layer: look at the slide before placing again/);
  assert.deepEqual(await painted(page), [true]);
  await page.keyboard.press('Shift+Enter');
  await waitNotice(page, 'Placed on the slide');
  const ids = s.placings.map((p) => p.id);
  assert.equal(ids.length, 3);
  assert.equal(ids[1], ids[0]);
  assert.notEqual(ids[2], ids[0]);
  assert.equal(s.slide.shapes.length, 1, 'the program had lost it: placed once');
  await page.close();
});

test('the page waits out Scribbet\'s own bound, then gives up and asks for the placing again under its name', async () => {
  const s = b.mock.state;
  const page = await b.page(Q);
  await drag(page, wave(100, 150));
  // Installed only now, so that the page's own timers run from here on the test's time alone.
  await page.clock.install();
  // Scribbet takes the placing and places it, but its answer never comes.
  let held = 0;
  await page.route('**/api/insert', async (route) => { held += 1; await route.fetch(); });
  await page.keyboard.press('Shift+Enter');
  await page.waitForFunction(() => document.querySelector('#notice').textContent.includes('Placing'));
  for (const until = Date.now() + 10_000; held === 0;) {
    assert.ok(Date.now() < until, 'the placing reached the route');
    await new Promise((r) => setTimeout(r, 20));
  }
  // Scribbet answers "still placing" by 80 s: the page must still be waiting then.
  await page.clock.fastForward(85_000);
  assert.match(await noticeText(page), /Placing/);
  await page.clock.fastForward(6_000);
  await waitNotice(page, 'Scribbet took too long to answer.');
  assert.match(await noticeText(page), /Place again finishes it, and places nothing twice/);
  assert.equal(s.slide.shapes.length, 1);

  await page.unroute('**/api/insert');
  await page.keyboard.press('Shift+Enter');
  await waitNotice(page, 'Placed on the slide');
  assert.equal(s.placings.length, 2);
  assert.equal(s.placings[1].id, s.placings[0].id);
  assert.equal(s.slide.shapes.length, 1, 'placed once');
  assert.deepEqual(await painted(page), [false]);
  await page.close();
});

test('a placing Scribbet refuses for its name is a plain failure: nothing placed, and the next Place is a new one', async () => {
  const s = b.mock.state;
  const page = await b.page(Q);
  await drag(page, wave(100, 150));
  await page.route('**/api/insert', (route) => route.continue({ postData: JSON.stringify({ ...route.request().postDataJSON(), id: 'not a name!' }) }));
  await page.keyboard.press('Shift+Enter');
  await waitNotice(page, 'Scribbet can only keep track of a placing named with up to 128 letters');
  assert.match(await noticeText(page), /so it placed nothing\. The drawing is still here\.$/);
  assert.equal(s.placings.length, 0, 'refused before it was taken');
  await page.unroute('**/api/insert');
  await page.keyboard.press('Shift+Enter');
  await waitNotice(page, 'Placed on the slide');
  assert.match(s.placings[0].id, /^[0-9a-f]{24}$/);
  assert.equal(s.slide.shapes.length, 1);
  await page.close();
});
