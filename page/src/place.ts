// Putting the drawing on the slide. The add-in takes one style per call and stacks what it
// adds on top of the slide, so the slide's stacking order is the order of the calls. To keep
// the slide's order the page's order, the drawing is sent from the lowest item the slide
// doesn't show as it is, upwards, one part per run of neighbouring items of the same style
// (all parts go in one request, which Scribbet places in order and answers part by part);
// whatever above that point is already on the slide goes again too, replacing its shapes, so
// an edited item keeps its place under the ink drawn over it. What the add-in reports back is
// kept per item, in the slide's stacking order, so that an item edited after placing replaces
// its old shapes instead of adding a second copy, and one deleted after placing takes its
// shapes off the slide with the next placing (a call with no path, only shapes to remove).
import { type Item, styleKey, styleTexts } from './items.js';
import { arrowLine, pathText } from './path.js';

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

/** One style's share of a placing: what the add-in's insert macro takes for one call. */
export interface InsertPart {
  path: string;
  stroke: string;
  width: string;
  fill: string;
  replace: string;
  /**
   * An arrow part: each subpath is an open line that ends in the program's own arrowhead, one
   * shape per arrow. An add-in without arrowheads gets `plain` instead, shaft and filled head
   * as the layer draws them; Scribbet's answer for the part tells which went.
   */
  arrowhead?: 'triangle';
  plain?: { path: string; fill: string };
}

export interface InsertStep {
  body: InsertPart;
  /**
   * The items in this call, in path order, with how many subpaths each has as drawn and, in an
   * arrow part, as it goes with the arrowhead (one line).
   */
  items: { id: string; subpaths: number; headed?: number; signature: string }[];
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

/** The request of one placing: its parts in stacking order, for one slide. */
export interface PlacingBody {
  /**
   * Names this placing. Sent again with the same parts when its answer never came, so that
   * Scribbet answers what it did instead of placing it twice; a new placing gets a new one.
   */
  id: string;
  slide: string;
  /** Close the layer once every part is placed. */
  close: boolean;
  parts: InsertPart[];
}

export interface Placing {
  body: PlacingBody;
  /** One per part, in the same order. */
  steps: InsertStep[];
}

/** The parts the slide lacks, one per run of one style, lowest first. */
export function planPlacing(items: readonly Item[], placed: PlacedMap): InsertStep[] {
  const { resend, removed } = pending(items, placed);
  const runs: Item[][] = [];
  // An arrow's part carries its arrowhead, so arrows share a part only with arrows.
  const runKey = (it: Item) => `${styleKey(it.style)}|${headedLine(it) ? 'arrow' : ''}`;
  for (const it of resend) {
    const run = runs[runs.length - 1];
    if (run && runKey(run[0]) === runKey(it)) run.push(it);
    else runs.push([it]);
  }
  const steps: InsertStep[] = runs.map((run, i) => {
    const replaces = run.filter((it) => (placed.get(it.id)?.shapes.length ?? 0) > 0).map((it) => it.id);
    if (i === 0) replaces.push(...removed);
    return step(run, replaces, placed);
  });
  // Nothing to add, only shapes to take away: a part with no path does that.
  if (steps.length === 0 && removed.length > 0) steps.push(step([], removed, placed));
  return steps;
}

export function placingOf(steps: InsertStep[], slide: string, close: boolean, id: string): Placing {
  return { body: { id, slide, close, parts: steps.map((st) => st.body) }, steps };
}

/** A new placing's identifier: random, so that no two placings share one, even across reloads. */
export function newPlacingId(): string {
  const bytes = crypto.getRandomValues(new Uint8Array(12));
  return Array.from(bytes, (b) => b.toString(16).padStart(2, '0')).join('');
}

/** The one line an arrow item goes as when the program draws the head; null for other items. */
const headedLine = (it: Item) => (it.kind === 'arrow' ? arrowLine(it.subpaths) : null);

function step(run: readonly Item[], replaces: string[], placed: PlacedMap): InsertStep {
  const style = run.length > 0 ? styleTexts(run[0].style) : { stroke: '#1F1F1F', width: '1', fill: 'none' };
  const path = run.map((it) => pathText(it.subpaths)).join(' ');
  const body: InsertPart = { path, ...style, replace: replaces.flatMap((id) => placed.get(id)!.shapes).join(',') };
  const lines = run.map(headedLine);
  const arrows = run.length > 0 && lines.every((l) => l !== null);
  if (arrows) {
    Object.assign(body, { path: lines.map((l) => pathText(l!)).join(' '), fill: 'none', arrowhead: 'triangle', plain: { path, fill: style.fill } });
  }
  return {
    body,
    items: run.map((it, i) => ({ id: it.id, subpaths: it.subpaths.length, ...(arrows ? { headed: lines[i]!.length } : {}), signature: signature(it) })),
    replaces,
  };
}

/**
 * The placed map after a successful call. The add-in reports one shape per subpath with its
 * position "k" in the path text; the page reads k from 0 or from 1, whichever the whole
 * answer uses consistently, and otherwise takes the shapes in the order they came. The new
 * shapes sit on top of the slide, so their records go to the end of the map. An arrow part
 * placed with the program's arrowhead (`headed`) made one shape an arrow, else shaft and head.
 */
export function recordPlaced(placed: PlacedMap, step: InsertStep, shapes: unknown, headed = false): Map<string, PlacedRecord> {
  const list = Array.isArray(shapes) ? shapes.filter((s): s is Record<string, unknown> => typeof s === 'object' && s !== null) : [];
  const count = (it: InsertStep['items'][number]) => (headed && it.headed !== undefined ? it.headed : it.subpaths);
  const total = step.items.reduce((n, it) => n + count(it), 0);
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
    const ids = bySub.slice(at, at + count(it)).filter((x): x is string => x !== undefined);
    out.delete(it.id);
    out.set(it.id, { shapes: ids, signature: it.signature });
    at += count(it);
  }
  return out;
}

/**
 * What an answer to a placing tells of the slide:
 * - placed: every part is on it;
 * - failed: the parts the answer lists are on it, the rest certainly not;
 * - unanswered: nothing is known yet (no answer came, or the program is still at it), so the
 *   placing is asked for again under its identifier, and Scribbet tells what became of it;
 * - unknown: the program took the drawing but never said whether it placed it. Asking again
 *   would only bring the same answer, and a new placing might put it on the slide twice.
 * An answer that says both is taken for the less certain: that one never places twice.
 */
export type Outcome = 'placed' | 'failed' | 'unanswered' | 'unknown';

export function outcomeOf(answered: boolean, data: Record<string, unknown>): Outcome {
  if (!answered || data.pending === true) return 'unanswered';
  if (data.unknown === true) return 'unknown';
  return data.ok === true ? 'placed' : 'failed';
}

/** The notice for a placing that did not end placed: Scribbet's sentence, then what the user can do. */
export function placingNotice(outcome: Exclude<Outcome, 'placed'>, msg: string, done: number, of: number): string {
  switch (outcome) {
    case 'unanswered':
      return `${msg} The drawing is still here: Place again finishes it, and places nothing twice.`;
    case 'unknown': {
      const kept = done > 0 ? `${done} of ${of} parts were placed; the rest is still on the layer` : 'The drawing is still on the layer';
      return `${msg} ${kept}: look at the slide before placing again, as Place would put it there once more.`;
    }
    case 'failed':
      return done > 0 ? `${msg} ${done} of ${of} parts were placed; Place again puts the rest.` : `${msg} The drawing is still here.`;
  }
}

/**
 * The placed map after Scribbet's answer to a placing, and how many of its parts were placed.
 * Its "parts" hold the shapes of each part that was placed, in order; when the placing failed
 * at some part, the ones before it are on the slide all the same and are recorded, so that
 * the next placing doesn't send them again.
 */
export function recordAnswer(placed: PlacedMap, placing: Placing, answer: Record<string, unknown>): { placed: Map<string, PlacedRecord>; done: number } {
  const parts = Array.isArray(answer.parts) ? answer.parts : [];
  let out = new Map(placed);
  let done = 0;
  for (const part of parts.slice(0, placing.steps.length)) {
    if (typeof part !== 'object' || part === null) break;
    const p = part as Record<string, unknown>;
    out = recordPlaced(out, placing.steps[done], p.shapes, p.arrowhead === true);
    done += 1;
  }
  return { placed: out, done };
}
