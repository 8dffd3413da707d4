// Measuring placed path text against what was drawn, in slide points.
import { flatten, parsePath } from '../mock-server.mjs';

export function outlinePoints(pathText) {
  const parsed = parsePath(pathText);
  if (parsed.error) throw new Error(parsed.error);
  return parsed.subpaths.map((sp) => flatten(sp, 64).map(([x, y]) => ({ x, y })));
}

function distToSegment(p, a, b) {
  const dx = b.x - a.x, dy = b.y - a.y;
  const len2 = dx * dx + dy * dy;
  const t = len2 === 0 ? 0 : Math.max(0, Math.min(1, ((p.x - a.x) * dx + (p.y - a.y) * dy) / len2));
  return Math.hypot(p.x - a.x - t * dx, p.y - a.y - t * dy);
}

export function distToLine(p, line) {
  let best = Infinity;
  if (line.length === 1) return Math.hypot(p.x - line[0].x, p.y - line[0].y);
  for (let i = 1; i < line.length; i++) best = Math.min(best, distToSegment(p, line[i - 1], line[i]));
  return best;
}

/** The largest distance from any drawn point to the outline, and from the outline back. */
export function deviation(drawn, outline) {
  let worst = 0;
  for (const p of drawn) worst = Math.max(worst, distToLine(p, outline));
  for (const p of outline) worst = Math.max(worst, distToLine(p, drawn));
  return worst;
}

export const numText = (v) => String(Math.round(v * 100) / 100 || 0);
export const polylineText = (pts) => pts.map((p, i) => `${i ? ' L' : 'M'}${numText(p.x)} ${numText(p.y)}`).join('');
