// Putting the drawing on the slide. The add-in takes one style per call, so the items are
// grouped by style and sent one group at a time; the last call may ask Scribbet to close the
// layer once it succeeded. What the add-in reports back is kept per item, so that an item
// edited after placing replaces its old shapes instead of adding a second copy, and one
// deleted after placing takes its shapes off the slide with the next placing.
import { type Item, styleKey, styleTexts } from './items.js';
import { pathText } from './path.js';

/** What the slide holds for one item: the shapes placed for it, and what they looked like. */
export interface PlacedRecord {
  shapes: string[];
  signature: string;
}

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

export const signature = (item: Item): string => `${styleKey(item.style)}|${pathText(item.subpaths)}`;

/** The items that the slide doesn't have as they are now. */
export function changedItems(items: readonly Item[], placed: PlacedMap): Item[] {
  return items.filter((it) => it.subpaths.length > 0 && placed.get(it.id)?.signature !== signature(it));
}

export function planPlacing(items: readonly Item[], placed: PlacedMap, slide: string, close: boolean): InsertStep[] {
  const groups = new Map<string, Item[]>();
  for (const it of changedItems(items, placed)) {
    const key = styleKey(it.style);
    if (!groups.has(key)) groups.set(key, []);
    groups.get(key)!.push(it);
  }
  const present = new Set(items.map((it) => it.id));
  const gone = [...placed.keys()].filter((id) => !present.has(id) && placed.get(id)!.shapes.length > 0);
  const steps: InsertStep[] = [];
  [...groups.values()].forEach((group, i) => {
    const replaces = group.filter((it) => (placed.get(it.id)?.shapes.length ?? 0) > 0).map((it) => it.id);
    if (i === 0) replaces.push(...gone);
    const ids = replaces.flatMap((id) => placed.get(id)!.shapes);
    steps.push({
      body: {
        path: group.map((it) => pathText(it.subpaths)).join(' '),
        ...styleTexts(group[0].style),
        replace: ids.join(','),
        slide,
        close: false,
      },
      items: group.map((it) => ({ id: it.id, subpaths: it.subpaths.length, signature: signature(it) })),
      replaces,
    });
  });
  if (close && steps.length > 0) steps[steps.length - 1].body.close = true;
  return steps;
}

/**
 * The placed map after a successful call. The add-in reports one shape per subpath with its
 * position "k" in the path text; the page reads k from 0 or from 1, whichever the whole
 * answer uses consistently, and otherwise takes the shapes in the order they came.
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
    out.set(it.id, { shapes: ids, signature: it.signature });
    at += it.subpaths;
  }
  return out;
}
