// Keeping the drawing safe in the page's own lasting storage. Every layer that opens on a
// slide keeps its drawing there under its own opening, so a reload of the page brings it back
// at once, and a layer that closed without asking (a window closed by its key, the program
// quitting, a page that crashed past its reloads) leaves it behind for the next layer on the
// same slide to offer back. What comes back out of storage was written by some earlier page,
// perhaps another version, perhaps cut short: it is read as untrusted input, item by item.
import type { Paint } from './colors.js';
import type { Item, ItemKind, Style } from './items.js';
import type { Segment, Subpath } from './path.js';
import type { InsertPart, InsertStep, PlacedRecord, Placing } from './place.js';

export const KEPT_VERSION = 1;
/** Beyond this a kept drawing is not written, and one found is dropped: storage is small. */
export const MAX_KEPT_CHARS = 4_000_000;
/** Kept drawings nobody came back for are forgotten after a month. */
export const KEPT_DAYS = 30;
const PREFIX = 'scribbet.kept.';

export interface Kept {
  sid: string;
  /** When it was written, in ms since 1970. */
  at: number;
  items: Item[];
  /** The placed records in the slide's stacking order. */
  placed: [string, PlacedRecord][];
  /**
   * A placing sent whose outcome Scribbet has yet to tell: a page that comes back asks for it
   * under its identifier rather than sending its parts as a new placing, which could put them
   * on the slide twice. Absent when there is none.
   */
  unanswered?: Placing;
}

export type ReadKept = { ok: true; kept: Kept } | { ok: false; problem: string };

/**
 * Where the drawings of one slide are kept: the slide's identifier with the slide size, which
 * is as near as the page can name a slide of a presentation. A stray match with another
 * presentation's slide costs one question, never a drawing: nothing comes back unasked.
 */
export function slideKey(slide: string, sw: number, sh: number, sid: string): string {
  return slide ? `${PREFIX}${slide}.${Math.round(sw)}x${Math.round(sh)}.` : `${PREFIX}-.${sid}.`;
}

// Items never change once made, so each one's text is written once however often the
// drawing is kept: keeping a large drawing after an edit costs little more than the edit.
const itemTexts = new WeakMap<Item, string>();
function itemText(item: Item): string {
  let t = itemTexts.get(item);
  if (t === undefined) {
    t = JSON.stringify(item);
    itemTexts.set(item, t);
  }
  return t;
}

export function keptText(kept: Kept): string {
  const head = `{"v":${KEPT_VERSION},"sid":${JSON.stringify(kept.sid)},"at":${JSON.stringify(kept.at)}`;
  const unanswered = kept.unanswered ? `,"unanswered":${JSON.stringify(placingJson(kept.unanswered))}` : '';
  return `${head},"items":[${kept.items.map(itemText).join(',')}],"placed":${JSON.stringify(kept.placed)}${unanswered}}`;
}

// Each step's body is one of the request's parts: it is written once, in the request.
function placingJson(p: Placing): unknown {
  return { body: p.body, steps: p.steps.map((st) => ({ items: st.items, replaces: st.replaces })) };
}

export function readKept(text: string): ReadKept {
  if (text.length > MAX_KEPT_CHARS) return { ok: false, problem: `it is too large (${text.length} characters)` };
  let raw: unknown;
  try {
    raw = JSON.parse(text);
  } catch {
    return { ok: false, problem: 'it is not readable' };
  }
  if (!isObj(raw)) return { ok: false, problem: 'it is not readable' };
  if (raw.v !== KEPT_VERSION) return { ok: false, problem: `it comes from another version (${JSON.stringify(raw.v ?? null).slice(0, 20)})` };
  if (typeof raw.sid !== 'string' || !Array.isArray(raw.items) || !Array.isArray(raw.placed)) return { ok: false, problem: 'it lacks its parts' };
  const items: Item[] = [];
  const ids = new Set<string>();
  for (const it of raw.items) {
    const item = readItem(it);
    if (!item || ids.has(item.id)) return { ok: false, problem: 'an item in it is damaged' };
    ids.add(item.id);
    items.push(item);
  }
  const placed: [string, PlacedRecord][] = [];
  for (const e of raw.placed) {
    if (!Array.isArray(e) || e.length !== 2 || typeof e[0] !== 'string' || !isObj(e[1])) return { ok: false, problem: 'a placed record in it is damaged' };
    const { shapes, signature } = e[1];
    if (!Array.isArray(shapes) || !shapes.every((s) => typeof s === 'string') || typeof signature !== 'string') {
      return { ok: false, problem: 'a placed record in it is damaged' };
    }
    placed.push([e[0], { shapes: [...shapes], signature }]);
  }
  const at = typeof raw.at === 'number' && Number.isFinite(raw.at) ? raw.at : 0;
  const kept: Kept = { sid: raw.sid, at, items, placed };
  if (raw.unanswered !== undefined) {
    const unanswered = readPlacing(raw.unanswered);
    if (!unanswered) return { ok: false, problem: 'the placing under way in it is damaged' };
    kept.unanswered = unanswered;
  }
  return { ok: true, kept };
}

/** The page's lasting storage, as far as keeping drawings needs it (a Storage, or a stand-in). */
export interface KeptStorage {
  readonly length: number;
  key(i: number): string | null;
  getItem(key: string): string | null;
  setItem(key: string, value: string): void;
  removeItem(key: string): void;
}

/** The kept drawings of one slide, each under its opening's identifier. */
export class KeptDrawings {
  constructor(private readonly storage: KeptStorage, private readonly base: string, private readonly log: (msg: string) => void) {}

  private keys(prefix: string): string[] {
    const out: string[] = [];
    for (let i = 0; i < this.storage.length; i++) {
      const k = this.storage.key(i);
      if (k !== null && k.startsWith(prefix)) out.push(k);
    }
    return out;
  }

  /**
   * Every drawing kept for this slide, newest first. Ones that can't be used are dropped with
   * a line in the log; so, on the way, are drawings of any slide older than a month.
   */
  all(now: number): Kept[] {
    const out: Kept[] = [];
    for (const k of this.keys(PREFIX)) {
      const text = this.read(k);
      if (text === null) continue;
      const r = readKept(text);
      if (!r.ok) {
        this.log(`A kept drawing was dropped: ${r.problem}.`);
        this.remove(k);
      } else if (now - r.kept.at > KEPT_DAYS * 86_400_000) {
        this.remove(k);
      } else if (k.startsWith(this.base)) {
        out.push(r.kept);
      }
    }
    return out.sort((a, b) => b.at - a.at);
  }

  /** Answers false when it could not be kept (too large, storage full or refused). */
  put(kept: Kept): boolean {
    const text = keptText(kept);
    if (text.length > MAX_KEPT_CHARS) {
      this.log(`The drawing is too large to keep for later (${text.length} characters).`);
      return false;
    }
    try {
      this.storage.setItem(this.base + kept.sid, text);
      return true;
    } catch (e) {
      this.log(`The drawing could not be kept for later: ${String(e)}`);
      return false;
    }
  }

  drop(sid: string): void {
    this.remove(this.base + sid);
  }

  private read(k: string): string | null {
    try {
      return this.storage.getItem(k);
    } catch {
      return null;
    }
  }

  private remove(k: string): void {
    try { this.storage.removeItem(k); } catch { /* nothing to drop */ }
  }
}

// ---- Reading items back ------------------------------------------------------------------

const KINDS: readonly string[] = ['ink', 'highlight', 'rect', 'ellipse', 'line', 'arrow'];
/** Further than any slide reaches; a number beyond it is damage, not drawing. */
const FAR = 1e6;

function isObj(v: unknown): v is Record<string, unknown> {
  return typeof v === 'object' && v !== null && !Array.isArray(v);
}

const isNum = (v: unknown, lo = -FAR, hi = FAR): v is number => typeof v === 'number' && Number.isFinite(v) && v >= lo && v <= hi;

function readPt(v: unknown): { x: number; y: number } | null {
  return isObj(v) && isNum(v.x) && isNum(v.y) ? { x: v.x, y: v.y } : null;
}

function readPaint(v: unknown): Paint | null {
  if (!isObj(v) || typeof v.hex !== 'string' || !/^#[0-9A-Fa-f]{6}$/.test(v.hex)) return null;
  if (v.kind === 'rgb') return { kind: 'rgb', hex: v.hex };
  if (v.kind === 'theme' && isNum(v.n, 1, 12) && Number.isInteger(v.n)) return { kind: 'theme', n: v.n, hex: v.hex };
  return null;
}

function readStyle(v: unknown): Style | null {
  if (!isObj(v)) return null;
  const stroke = readPaint(v.stroke);
  const fill = v.fill === null ? null : readPaint(v.fill);
  if (!stroke || (v.fill !== null && !fill) || !isNum(v.width, 0, 1584) || !isNum(v.alpha, 0, 1)) return null;
  return { stroke, width: v.width, fill, alpha: v.alpha };
}

function readSegment(v: unknown): Segment | null {
  if (!isObj(v)) return null;
  const to = readPt(v.to);
  if (!to) return null;
  if (v.kind === 'L') return { kind: 'L', to };
  const c1 = readPt(v.c1), c2 = readPt(v.c2);
  return v.kind === 'C' && c1 && c2 ? { kind: 'C', c1, c2, to } : null;
}

function readSubpath(v: unknown): Subpath | null {
  if (!isObj(v) || !Array.isArray(v.segs) || typeof v.closed !== 'boolean') return null;
  const start = readPt(v.start);
  const segs = v.segs.map(readSegment);
  if (!start || segs.some((s) => s === null)) return null;
  return { start, segs: segs as Segment[], closed: v.closed };
}

const isText = (v: unknown): v is string => typeof v === 'string';

function readPart(v: unknown): InsertPart | null {
  if (!isObj(v)) return null;
  const { path, stroke, width, fill, replace } = v;
  return isText(path) && isText(stroke) && isText(width) && isText(fill) && isText(replace) ? { path, stroke, width, fill, replace } : null;
}

function readStep(v: unknown, body: InsertPart): InsertStep | null {
  if (!isObj(v) || !Array.isArray(v.items) || !Array.isArray(v.replaces) || !v.replaces.every(isText)) return null;
  const items: InsertStep['items'] = [];
  for (const it of v.items) {
    if (!isObj(it) || !isText(it.id) || !isText(it.signature) || !isNum(it.subpaths, 0) || !Number.isInteger(it.subpaths)) return null;
    items.push({ id: it.id, subpaths: it.subpaths, signature: it.signature });
  }
  return { body, items, replaces: [...v.replaces] };
}

/** A placing as it was sent: it goes out again as it is, so every part must be whole. */
function readPlacing(v: unknown): Placing | null {
  if (!isObj(v) || !isObj(v.body) || !Array.isArray(v.steps)) return null;
  const { id, slide, close, parts } = v.body;
  if (!isText(id) || id === '' || !isText(slide) || typeof close !== 'boolean' || !Array.isArray(parts)) return null;
  if (parts.length === 0 || parts.length !== v.steps.length) return null;
  const body = { id, slide, close, parts: [] as InsertPart[] };
  const steps: InsertStep[] = [];
  for (const [i, raw] of parts.entries()) {
    const part = readPart(raw);
    const step = part && readStep(v.steps[i], part);
    if (!part || !step) return null;
    body.parts.push(part);
    steps.push(step);
  }
  return { body, steps };
}

function readItem(v: unknown): Item | null {
  if (!isObj(v) || typeof v.id !== 'string' || v.id === '' || v.id.length > 200) return null;
  if (typeof v.kind !== 'string' || !KINDS.includes(v.kind) || !Array.isArray(v.subpaths)) return null;
  const style = readStyle(v.style);
  const subpaths = v.subpaths.map(readSubpath);
  if (!style || subpaths.some((s) => s === null)) return null;
  return { id: v.id, kind: v.kind as ItemKind, subpaths: subpaths as Subpath[], style };
}
