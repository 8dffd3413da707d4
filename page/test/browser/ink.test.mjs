// Mouse ink at 75 %, where one screen pixel is a point and a third: strokes drawn with whole-
// pixel moves, as a mouse makes them, land on the slide as a few smooth cubics, and corners
// the hand drew stay corners.
import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';
import { pageModules } from '../../bench/modules.mjs';
import { inserts, openBrowser, shot } from './harness.mjs';

// A slide of 960 x 540 points shown 720 pixels wide: a zoom of 75 %.
const Q = { sw: '960', sh: '540', x: '140', y: '90', w: '720', h: '405', pz: '75' };
const PT_PER_PX = Number(Q.sw) / Number(Q.w);
let b, ink;
before(async () => { [b, ink] = await Promise.all([openBrowser(), pageModules()]); });
after(async () => { await b?.close(); });

const toSlide = (p) => ({ x: (p.x - Number(Q.x)) * PT_PER_PX, y: (p.y - Number(Q.y)) * PT_PER_PX });

/** Draws through whole-pixel layer points, one mouse move each. */
async function draw(page, pts) {
  assert.ok(pts.every((p) => Number.isInteger(p.x) && Number.isInteger(p.y)));
  await page.mouse.move(pts[0].x, pts[0].y);
  await page.mouse.down();
  for (const p of pts.slice(1)) await page.mouse.move(p.x, p.y);
  await page.mouse.up();
  await page.evaluate(() => new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r))));
}

/** The one subpath an insert placed, read back as the page's own outline. */
function placed(ins) {
  const sps = ink.parsePathText(ins.body.path);
  assert.ok(sps, `path text the page reads back: ${ins.body.path.slice(0, 80)}`);
  return sps;
}

test('a slow mouse circle at 75 % lands as at most 12 smooth cubics, where it was drawn', async () => {
  b.mock.state.inserts.length = 0;
  const page = await b.page(Q);
  const mouse = ink.mouseCircle(5, 200, 100, { x: 330, y: 290 });
  await draw(page, mouse);
  // A square and a loose line of writing beside it, for the picture.
  await draw(page, ink.mousePolyline(2, [{ x: 560, y: 200 }, { x: 720, y: 203 }, { x: 718, y: 360 }, { x: 561, y: 357 }, { x: 560, y: 205 }]));
  await draw(page, Array.from({ length: 160 }, (_, i) => ({ x: Math.round(200 + i * 3.2), y: Math.round(440 + 14 * Math.sin(i / 6) + 6 * Math.sin(i / 2.3)) })));
  await shot(page, 'smooth-ink-75');
  await page.keyboard.press('Enter');
  const [ins] = await inserts(page, b.mock, 1);
  assert.deepEqual(page.errors, []);
  const [circle] = placed(ins);
  assert.ok(circle.segs.length <= 12, `${circle.segs.length} segments`);
  assert.ok(circle.segs.every((s) => s.kind === 'C'), 'all cubics');
  const joins = ink.joinAngles(circle);
  assert.ok(joins.every((a) => a <= 20), `joins turn ${joins.map((a) => a.toFixed(1)).join(', ')} degrees`);
  const drawn = mouse.map(toSlide);
  const dev = ink.deviation(ink.smoothStroke(drawn, PT_PER_PX), [circle]);
  assert.ok(dev <= PT_PER_PX, `${(dev / PT_PER_PX).toFixed(2)} px from the smoothed stroke`);
  const devDrawn = ink.deviation(drawn, [circle]);
  assert.ok(devDrawn <= 1.5 * PT_PER_PX, `${(devDrawn / PT_PER_PX).toFixed(2)} px from the mouse's pixels`);
  await page.close();
});

test('a hand-drawn square at 75 % keeps its four corners and nothing else turns', async () => {
  b.mock.state.inserts.length = 0;
  const page = await b.page(Q);
  // From the middle of the top side, round all four corners and back.
  const corners = [{ x: 400, y: 180 }, { x: 550, y: 183 }, { x: 548, y: 330 }, { x: 251, y: 327 }, { x: 253, y: 181 }, { x: 395, y: 180 }];
  await draw(page, ink.mousePolyline(4, corners));
  await page.keyboard.press('Enter');
  const [ins] = await inserts(page, b.mock, 1);
  const [square] = placed(ins);
  const joins = ink.joinAngles(square);
  const sharp = joins.flatMap((a, i) => (a > 45 ? [square.segs[i].to] : []));
  assert.equal(sharp.length, 4, `joins turn ${joins.map((a) => a.toFixed(0)).join(', ')} degrees`);
  corners.slice(1, 5).map(toSlide).forEach((c, i) => {
    assert.ok(Math.hypot(sharp[i].x - c.x, sharp[i].y - c.y) <= 4 * PT_PER_PX, `corner ${i} at ${JSON.stringify(sharp[i])}, drawn at ${JSON.stringify(c)}`);
  });
  assert.ok(joins.every((a) => a > 45 || a <= 20), 'the sides join smoothly');
  await page.close();
});

test('handwriting and a closed circle at 75 %: loop tops come out round and the circle closes without a hook', async () => {
  b.mock.state.inserts.length = 0;
  const page = await b.page(Q);
  // Three lines of joined-up loops, the last written slowly, and a circle drawn round to its
  // start, at a hand's pace.
  const lines = [[1, 0.45], [2, 0.45], [3, 0.15]].map(([seed, speed]) => ink.handwriting(seed, speed, 6, { x: 170, y: 150 + 95 * seed }));
  const circle = ink.closedCircle(2, 60, { x: 740, y: 300 });
  for (const l of [...lines, circle]) await draw(page, l);
  await shot(page, 'handwriting-75');
  await page.keyboard.press('Enter');
  const [ins] = await inserts(page, b.mock, 1);
  assert.deepEqual(page.errors, []);
  const sps = placed(ins);
  assert.equal(sps.length, 4, 'four strokes');
  lines.forEach((l, i) => {
    const joins = ink.joinAngles(sps[i]);
    assert.ok(joins.every((a) => a <= 20), `line ${i + 1}: joins turn ${joins.filter((a) => a > 20).map((a) => a.toFixed(0)).join(', ')} degrees`);
    const stray = ink.strayFrom(l.path.map(toSlide), [sps[i]]) / PT_PER_PX;
    assert.ok(stray <= 1, `line ${i + 1}: ${stray.toFixed(2)} px from the hand's path`);
  });
  const c = sps[3];
  const first = c.segs[0], last = c.segs[c.segs.length - 1];
  const u = { x: last.to.x - last.c2.x, y: last.to.y - last.c2.y }, v = { x: first.c1.x - c.start.x, y: first.c1.y - c.start.y };
  const closing = (Math.abs(Math.atan2(u.x * v.y - u.y * v.x, u.x * v.x + u.y * v.y)) * 180) / Math.PI;
  assert.ok(closing <= 20, `the circle closes turning ${closing.toFixed(0)} degrees`);
  await page.close();
});
