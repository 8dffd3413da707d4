import assert from 'node:assert/strict';
import { test } from 'node:test';
import { readTheme, paintText } from '../../src/colors.js';
import { readGeom, readLaunch } from '../../src/query.js';

const vp = { w: 1440, h: 900 };

test('the address gives the slide, the nudge only without Accessibility, and the slide digits', () => {
  const l = readLaunch('?sw=960&sh=540&x=100.5&y=80&w=800&h=450&px=0&py=22&pw=1200&ph=700&nx=3&ny=-2&note=Position%20estimated&tool=shape%3Arect&host=0&ax=0&pz=83.30&fit=1&slide=257&sid=ab12cd34&v=1', vp);
  assert.deepEqual(l.rect, { x: 100.5, y: 80, w: 800, h: 450 });
  assert.deepEqual([l.sw, l.sh, l.pz], [960, 540, 83.3]);
  assert.deepEqual(l.pane, { x: 0, y: 22, w: 1200, h: 700 });
  assert.deepEqual(l.nudge, { x: 3, y: -2 });
  assert.deepEqual([l.note, l.tool, l.host, l.fit, l.fitted, l.slide, l.sid], ['Position estimated', 'shape:rect', false, true, false, '257', 'ab12cd34']);
  assert.deepEqual(l.problems, []);
  assert.deepEqual(readLaunch('?sw=960&sh=540&x=0&y=0&w=960&h=540&nx=3&ny=4&host=1', vp).nudge, { x: 0, y: 0 });
  assert.equal(readLaunch('?x=0&y=0&w=1&h=1&tool=marker', vp).tool, 'highlighter');
  assert.equal(readLaunch('?x=0&y=0&w=1&h=1&tool=crayon', vp).tool, 'pen');
});

test('a broken address still gives somewhere to draw, and says what was wrong', () => {
  const l = readLaunch('?x=abc&y=1&w=-5&h=&sw=0&pz=50', vp);
  assert.ok(l.rect.w > 0 && l.rect.h > 0 && l.rect.x >= 0);
  assert.equal(l.sw, l.rect.w / 0.5, 'the zoom gives the slide size');
  assert.equal(l.problems.length, 2);
  assert.equal(readLaunch('?x=0&y=0&w=800&h=450&sw=Infinity&sh=540', vp).sw, 800);
});

test('geometry commands must have finite numbers and a real size', () => {
  assert.deepEqual(readGeom({ op: 'geom', x: 1, y: 2, w: 3, h: 4, host: true, pz: 50, fit: false, pane: [0, 0, 10, 10] }),
    { ok: true, rect: { x: 1, y: 2, w: 3, h: 4 }, host: true, pane: { x: 0, y: 0, w: 10, h: 10 } });
  for (const bad of [{ x: 1, y: 2, w: 3 }, { x: '1', y: 2, w: 3, h: 4 }, { x: 1, y: 2, w: 0, h: 4 }, { x: NaN, y: 2, w: 3, h: 4 }]) {
    assert.equal(readGeom(bad).ok, false, JSON.stringify(bad));
  }
  assert.deepEqual(readGeom({ x: 1, y: 2, w: 3, h: 4, host: 'yes', pane: [1, 2, 'x', 4] }), { ok: true, rect: { x: 1, y: 2, w: 3, h: 4 }, host: null, pane: null });
});

test('the theme is linked only when all twelve colours came in order', () => {
  const twelve = ['#000000', '#ffffff', '44546A', '#E7E6E6', '#4472C4', '#ED7D31', '#A5A5A5', '#FFC000', '#5B9BD5', '#70AD47', '#0563C1', '#954F72'];
  const t = readTheme(twelve);
  assert.equal(t.linked, true);
  assert.equal(paintText(t.paints[2]), 'theme:3');
  assert.equal(t.paints[2].hex, '#44546A');
  assert.equal(paintText(t.paints[4], 0.5), '#4472C480');
  // One colour missing: the rest can't be numbered safely.
  const eleven = readTheme(twelve.filter((_, i) => i !== 3));
  assert.equal(eleven.linked, false);
  assert.ok(eleven.paints.every((p) => p.kind === 'rgb'));
  assert.deepEqual(readTheme(['red', null, '#12345', '#123456']).paints, [{ kind: 'rgb', hex: '#123456' }]);
  assert.deepEqual(readTheme('nope').paints, []);
});
