// The things on the page: each item is an outline in slide points with one style. Items are
// never changed in place; an edit makes a new item with the same id, which keeps undo simple
// (a step is just the list before it) and lets the renderer see what changed by identity.
import { type Paint, paintText } from './colors.js';
import { type Pt, type Rect, containsPt, distSegments, inflate, intersects, rectFrom } from './geometry.js';
import { type Subpath, mapSubpaths, num, outlineBounds, samplePoints, translate, distToOutline } from './path.js';

export type ItemKind = 'ink' | 'highlight' | 'rect' | 'ellipse' | 'line' | 'arrow';

export interface Style {
  stroke: Paint;
  /** Line width in points. */
  width: number;
  fill: Paint | null;
  /** 1 is opaque; the highlighter draws see-through. */
  alpha: number;
}

export interface Item {
  id: string;
  kind: ItemKind;
  subpaths: Subpath[];
  style: Style;
}

let counter = 0;
export function newId(): string {
  counter += 1;
  return `i${Date.now().toString(36)}${counter.toString(36)}`;
}

export const isClosed = (item: Item) => item.subpaths.length > 0 && item.subpaths.every((s) => s.closed);

/** Whether Fill may change the item: an opaque closed outline. An arrow's head is always filled. */
export const canFill = (item: Item) => item.kind !== 'arrow' && item.style.alpha === 1 && isClosed(item);

/** The style as the add-in takes it: stroke, width and fill texts. */
export function styleTexts(style: Style): { stroke: string; width: string; fill: string } {
  return {
    stroke: paintText(style.stroke, style.alpha),
    width: num(style.width),
    fill: style.fill ? paintText(style.fill, style.alpha) : 'none',
  };
}

export function styleKey(style: Style): string {
  const t = styleTexts(style);
  return `${t.stroke}|${t.width}|${t.fill}`;
}

const boundsCache = new WeakMap<Item, Rect | null>();
export function itemBounds(item: Item): Rect | null {
  if (!boundsCache.has(item)) boundsCache.set(item, outlineBounds(item.subpaths));
  return boundsCache.get(item)!;
}

function insidePolygon(p: Pt, poly: readonly Pt[]): boolean {
  let inside = false;
  for (let i = 0, j = poly.length - 1; i < poly.length; j = i++) {
    const a = poly[i], b = poly[j];
    if ((a.y > p.y) !== (b.y > p.y) && p.x < ((b.x - a.x) * (p.y - a.y)) / (b.y - a.y) + a.x) inside = !inside;
  }
  return inside;
}

/** The topmost item under p; `slack` is how far off the line still counts, in points. */
export function hitItem(items: readonly Item[], p: Pt, slack: number): Item | null {
  for (let i = items.length - 1; i >= 0; i--) {
    const it = items[i];
    const b = itemBounds(it);
    if (!b || !containsPt(inflate(b, it.style.width / 2 + slack), p)) continue;
    if (distToOutline(it.subpaths, p) <= it.style.width / 2 + slack) return it;
    if (it.style.fill && samplePoints(it.subpaths).some((poly) => insidePolygon(p, poly))) return it;
  }
  return null;
}

const samplesCache = new WeakMap<Item, Pt[][]>();
function samplesOf(item: Item): Pt[][] {
  let s = samplesCache.get(item);
  if (!s) {
    s = samplePoints(item.subpaths);
    samplesCache.set(item, s);
  }
  return s;
}

/**
 * Items that a pointer moving straight from a to b passes over, `slack` points either side of
 * its way: the whole way counts, not only its ends, so a fast sweep that jumps across a thin
 * line between two events still finds it. A filled item counts from anywhere inside too.
 */
export function itemsAlong(items: readonly Item[], a: Pt, b: Pt, slack: number): Item[] {
  const way = rectFrom(a, b);
  return items.filter((it) => {
    const reach = it.style.width / 2 + slack;
    const bounds = itemBounds(it);
    if (!bounds || !intersects(inflate(bounds, reach), way)) return false;
    for (const line of samplesOf(it)) {
      if (line.length === 1 && distSegments(line[0], line[0], a, b) <= reach) return true;
      for (let i = 1; i < line.length; i++) if (distSegments(line[i - 1], line[i], a, b) <= reach) return true;
    }
    // A way that crosses no outline lies wholly inside or outside: one end tells which.
    return it.style.fill !== null && samplesOf(it).some((poly) => insidePolygon(a, poly));
  });
}

/** Items whose outline passes through the rectangle. */
export function itemsTouching(items: readonly Item[], r: Rect): Item[] {
  return items.filter((it) => {
    const b = itemBounds(it);
    if (!b || !intersects(b, r)) return false;
    return samplePoints(it.subpaths, 1).some((line) => line.some((p) => containsPt(r, p)));
  });
}

export function moveItem(item: Item, dx: number, dy: number): Item {
  return { ...item, subpaths: translate(item.subpaths, dx, dy) };
}

/**
 * The item stretched so that the rectangle `from` becomes `to`. Line widths stay as they
 * are: a resized shape keeps its outline weight, as on the slide.
 */
export function resizeItem(item: Item, from: Rect, to: Rect): Item {
  const sx = from.w === 0 ? 1 : to.w / from.w;
  const sy = from.h === 0 ? 1 : to.h / from.h;
  return { ...item, subpaths: mapSubpaths(item.subpaths, (p) => ({ x: to.x + (p.x - from.x) * sx, y: to.y + (p.y - from.y) * sy })) };
}
