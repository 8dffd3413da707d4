// Putting the drawing on the slide. The add-in takes one style per call and stacks what it
// adds on top of the slide, so the slide's stacking order is the order of the calls. To keep
// the slide's order the page's order, the drawing is sent from the lowest item the slide
// doesn't show as it is, upwards, one call per run of neighbouring items of the same style;
// whatever above that point is already on the slide goes again too, replacing its shapes, so
// an edited item keeps its place under the ink drawn over it. What the add-in reports back is
// kept per item, in the slide's stacking order, so that an item edited after placing replaces
// its old shapes instead of adding a second copy, and one deleted after placing takes its
// shapes off the slide with the next placing (a call with no path, only shapes to remove).
import { type Item, styleKey, styleTexts } from './items.js';
import { pathText } from './path.js';

/** What the slide holds for one item: the shapes placed for it, and what they looked like. */
export interface PlacedRecord {
  shapes: string[];
  signature: string;
}

/**
 * The items on the slide, keyed by item id. A Map keeps the order its keys were set in, and a
 * record is set anew each time its item is placed, so the map's order is the slide's stacking
 * order of the placed shapes, bottom first.
 */
export type PlacedMap = ReadonlyMap<string, PlacedRecord>;

export interface InsertBody {
  path: string;
  stroke: string;
  width: string;
  fill: string;
  replace: string;
  slide: string;
  close: boolean;
}

export interface InsertStep {
  body: InsertBody;
  /** The items in this call, in path order, with how many subpaths each has. */
  items: { id: string; subpaths: number; signature: string }[];
  /** Item ids whose shapes go with this call (deleted items included). */
  replaces: string[];
}

export interface Pending {
  /** The page's items from the lowest one that must be sent again, in order. */
  resend: Item[];
  /** Items the slide doesn't show as they are, or shows out of order. */
  unplaced: number;
  /** Ids of placed items that are no longer in the drawing. */
  removed: string[];
}

const memo = new WeakMap<Item, string>();
export const signature = (item: Item): string => {
  let s = memo.get(item);
  if (s === undefined) {
    s = `${styleKey(item.style)}|${pathText(item.subpaths)}`;
    memo.set(item, s);
  }
  return s;
};

/** Whether the slide shows this item exactly as it is now (wherever it sits in the stack). */
export const onSlide = (item: Item, placed: PlacedMap): boolean => placed.get(item.id)?.signature === signature(item);

/** What the slide lacks: the part of the drawing to send again, and what to take away. */
export function pending(items: readonly Item[], placed: PlacedMap): Pending {
  const order = new Map<string, number>();
  let n = 0;
  for (const id of placed.keys()) order.set(id, n++);
  const drawn = items.filter((it) => it.subpaths.length > 0);
  let from = -1;
  let unplaced = 0;
  let below = -1;
  drawn.forEach((it, i) => {
    // Fine: on the slide as it is, and above every fine item below it in the drawing.
    const at = onSlide(it, placed) ? order.get(it.id)! : -1;
    if (at > below) {
      below = at;
      return;
    }
    unplaced += 1;
    if (from === -1) from = i;
  });
  const present = new Set(items.map((it) => it.id));
  const removed = [...placed.keys()].filter((id) => !present.has(id) && placed.get(id)!.shapes.length > 0);
  return { resend: from === -1 ? [] : drawn.slice(from), unplaced: unplaced + removed.length, removed };
}

export function planPlacing(items: readonly Item[], placed: PlacedMap, slide: string, close: boolean): InsertStep[] {
  const { resend, removed } = pending(items, placed);
  const runs: Item[][] = [];
  for (const it of resend) {
    const run = runs[runs.length - 1];
    if (run && styleKey(run[0].style) === styleKey(it.style)) run.push(it);
    else runs.push([it]);
  }
  const steps: InsertStep[] = runs.map((run, i) => {
    const replaces = run.filter((it) => (placed.get(it.id)?.shapes.length ?? 0) > 0).map((it) => it.id);
    if (i === 0) replaces.push(...removed);
    return step(run, replaces, placed, slide);
  });
  // Nothing to add, only shapes to take away: a call with no path does that.
  if (steps.length === 0 && removed.length > 0) steps.push(step([], removed, placed, slide));
  if (close && steps.length > 0) steps[steps.length - 1].body.close = true;
  return steps;
}

function step(run: readonly Item[], replaces: string[], placed: PlacedMap, slide: string): InsertStep {
  const style = run.length > 0 ? styleTexts(run[0].style) : { stroke: '#1F1F1F', width: '1', fill: 'none' };
  return {
    body: {
      path: run.map((it) => pathText(it.subpaths)).join(' '),
      ...style,
      replace: replaces.flatMap((id) => placed.get(id)!.shapes).join(','),
      slide,
      close: false,
    },
    items: run.map((it) => ({ id: it.id, subpaths: it.subpaths.length, signature: signature(it) })),
    replaces,
  };
}

/**
 * The placed map after a successful call. The add-in reports one shape per subpath with its
 * position "k" in the path text; the page reads k from 0 or from 1, whichever the whole
 * answer uses consistently, and otherwise takes the shapes in the order they came. The new
 * shapes sit on top of the slide, so their records go to the end of the map.
 */
export function recordPlaced(placed: PlacedMap, step: InsertStep, shapes: unknown): Map<string, PlacedRecord> {
  const list = Array.isArray(shapes) ? shapes.filter((s): s is Record<string, unknown> => typeof s === 'object' && s !== null) : [];
  const total = step.items.reduce((n, it) => n + it.subpaths, 0);
  const ks = list.map((s) => (typeof s.k === 'number' && Number.isInteger(s.k) ? s.k : NaN));
  const sorted = [...ks].sort((a, b) => a - b);
  const from = [0, 1].find((base) => sorted.length === total && sorted.every((k, i) => k === i + base));
  const bySub: (string | undefined)[] = new Array(total);
  list.forEach((s, i) => {
    const at = from === undefined ? i : ks[i] - from;
    const id = typeof s.id === 'number' || typeof s.id === 'string' ? String(s.id) : '';
    if (at < total && id !== '') bySub[at] = id;
  });
  const out = new Map(placed);
  for (const id of step.replaces) out.delete(id);
  let at = 0;
  for (const it of step.items) {
    const ids = bySub.slice(at, at + it.subpaths).filter((x): x is string => x !== undefined);
    out.delete(it.id);
    out.set(it.id, { shapes: ids, signature: it.signature });
    at += it.subpaths;
  }
  return out;
}
