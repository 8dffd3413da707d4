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

/**
 * Version 2 keeps each item, placed record and placing under way in a record of its own, named
 * by a head record that holds the drawing's order; version 1, one record for everything, is
 * still read back (a page of that version may have left one).
 */
export const KEPT_VERSION = 2;
const WHOLE_VERSION = 1;
/** Beyond this a kept drawing is not written, and one found is dropped: storage is small. */
export const MAX_KEPT_CHARS = 4_000_000;
/** Kept drawings nobody came back for are forgotten after a month. */
export const KEPT_DAYS = 30;
const PREFIX = 'scribbet.kept.';
/** A piece of a kept drawing: PIECES, its head's key without PREFIX, "|", the piece's name. */
const PIECES = 'scribbet.piece.';
const PIECE_NAME = /^[0-9a-z]{1,32}$/;

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

const pieceKey = (head: string, name: string) => `${PIECES}${head.slice(PREFIX.length)}|${name}`;
/** The head a piece's key belongs to; the piece's name never holds a "|". */
const headOf = (piece: string) => PREFIX + piece.slice(PIECES.length, piece.lastIndexOf('|'));

// Items never change once made, so each one's text is made once however often it is kept.
const itemTexts = new WeakMap<Item, string>();
function itemText(item: Item): string {
  let t = itemTexts.get(item);
  if (t === undefined) {
    t = JSON.stringify(item);
    itemTexts.set(item, t);
  }
  return t;
}

// Each step's body is one of the request's parts: it is written once, in the request.
function placingJson(p: Placing): unknown {
  return { body: p.body, steps: p.steps.map((st) => ({ items: st.items, replaces: st.replaces })) };
}

/** A kept drawing read back, with the name of the piece each of its parts came from. */
interface Found { kept: Kept; pieces: Map<object, string>; sizes: Map<string, number> }

/**
 * Reads a kept drawing's head record; `piece` gives the text of one of its pieces by name
 * (null when there is none). A version 1 record holds the whole drawing and needs none.
 */
export function readKept(text: string, piece: (name: string) => string | null = () => null): ReadKept {
  const r = readRecord(text, piece);
  return r.ok ? { ok: true, kept: r.found.kept } : r;
}

function readRecord(text: string, piece: (name: string) => string | null): { ok: true; found: Found } | { ok: false; problem: string } {
  if (text.length > MAX_KEPT_CHARS) return { ok: false, problem: `it is too large (${text.length} characters)` };
  let raw: unknown;
  try {
    raw = JSON.parse(text);
  } catch {
    return { ok: false, problem: 'it is not readable' };
  }
  if (!isObj(raw)) return { ok: false, problem: 'it is not readable' };
  if (raw.v !== KEPT_VERSION && raw.v !== WHOLE_VERSION) return { ok: false, problem: `it comes from another version (${JSON.stringify(raw.v ?? null).slice(0, 20)})` };
  if (typeof raw.sid !== 'string' || !Array.isArray(raw.items) || !Array.isArray(raw.placed)) return { ok: false, problem: 'it lacks its parts' };
  const whole = raw.v === WHOLE_VERSION;
  const pieces = new Map<object, string>();
  const sizes = new Map<string, number>();
  let chars = text.length;
  const MISSING = { problem: 'a part of it is missing' };
  const TOO_LARGE = { problem: 'it is too large' };
  /** A part as the reader takes it: inline in a version 1 record, or the named piece parsed. */
  const part = (v: unknown): { value: unknown; name?: string } | typeof MISSING | typeof TOO_LARGE => {
    if (whole) return { value: v };
    if (typeof v !== 'string' || !PIECE_NAME.test(v)) return MISSING;
    const t = piece(v);
    if (t === null) return MISSING;
    if (!sizes.has(v)) {
      chars += t.length;
      sizes.set(v, t.length);
      if (chars > MAX_KEPT_CHARS) return TOO_LARGE;
    }
    try {
      return { value: JSON.parse(t), name: v };
    } catch {
      return MISSING;
    }
  };
  const items: Item[] = [];
  const ids = new Set<string>();
  for (const it of raw.items) {
    const p = part(it);
    if (p === TOO_LARGE) return { ok: false, problem: `it is too large (over ${MAX_KEPT_CHARS} characters)` };
    const item = 'value' in p ? readItem(p.value) : null;
    if (!item || ids.has(item.id)) return { ok: false, problem: 'an item in it is damaged' };
    ids.add(item.id);
    items.push(item);
    if ('name' in p) pieces.set(item, p.name!);
  }
  const placed: [string, PlacedRecord][] = [];
  for (const e of raw.placed) {
    const p = Array.isArray(e) && e.length === 2 && typeof e[0] === 'string' ? part(e[1]) : MISSING;
    if (p === TOO_LARGE) return { ok: false, problem: `it is too large (over ${MAX_KEPT_CHARS} characters)` };
    const rec = 'value' in p ? readPlaced(p.value) : null;
    if (!rec) return { ok: false, problem: 'a placed record in it is damaged' };
    placed.push([e[0], rec]);
    if ('name' in p) pieces.set(rec, p.name!);
  }
  const at = typeof raw.at === 'number' && Number.isFinite(raw.at) ? raw.at : 0;
  const kept: Kept = { sid: raw.sid, at, items, placed };
  if (raw.unanswered !== undefined) {
    const p = part(raw.unanswered);
    if (p === TOO_LARGE) return { ok: false, problem: `it is too large (over ${MAX_KEPT_CHARS} characters)` };
    const unanswered = 'value' in p ? readPlacing(p.value) : null;
    if (!unanswered) return { ok: false, problem: 'the placing under way in it is damaged' };
    kept.unanswered = unanswered;
    if ('name' in p) pieces.set(unanswered, p.name!);
  }
  return { ok: true, found: { kept, pieces, sizes } };
}

function readPlaced(v: unknown): PlacedRecord | null {
  if (!isObj(v)) return null;
  const { shapes, signature } = v;
  if (!Array.isArray(shapes) || !shapes.every((s) => typeof s === 'string') || typeof signature !== 'string') return null;
  return { shapes: [...shapes], signature };
}

/** The page's lasting storage, as far as keeping drawings needs it (a Storage, or a stand-in). */
export interface KeptStorage {
  readonly length: number;
  key(i: number): string | null;
  getItem(key: string): string | null;
  setItem(key: string, value: string): void;
  removeItem(key: string): void;
}

/** What one opening's kept drawing has in storage now: each part's piece, and their sizes. */
interface Written {
  names: WeakMap<object, string>;
  sizes: Map<string, number>;
}

/**
 * The kept drawings of one slide, each under its opening's identifier. Writing one again
 * writes only the parts that changed since (an edit makes new items, the rest are the same
 * objects), then the head that names them all in order, then forgets the pieces the head no
 * longer names: the head in storage always names pieces that are there, whenever the page
 * dies between two writes.
 */
export class KeptDrawings {
  private readonly written = new Map<string, Written>();
  /** Piece names: one run of this page's own, so two pages never pick the same name. */
  private readonly run = Math.floor(Math.random() * 36 ** 5).toString(36);
  private count = 0;

  constructor(private readonly storage: KeptStorage, private readonly base: string, private readonly log: (msg: string) => void) {}

  private keys(prefix: string): string[] {
    const out: string[] = [];
    for (let i = 0; i < this.storage.length; i++) {
      const k = this.storage.key(i);
      if (k !== null && k.startsWith(prefix)) out.push(k);
    }
    return out;
  }

  private writer(sid: string): Written {
    let w = this.written.get(sid);
    if (!w) {
      w = { names: new WeakMap(), sizes: new Map() };
      this.written.set(sid, w);
    }
    return w;
  }

  /**
   * Every drawing kept for this slide, newest first. Ones that can't be used are dropped with
   * a line in the log; so, on the way, are drawings of any slide older than a month, and
   * pieces no kept drawing names (a page that died between writing them and their head).
   */
  all(now: number): Kept[] {
    const out: Kept[] = [];
    const named = new Set<string>();
    for (const k of this.keys(PREFIX)) {
      const text = this.read(k);
      if (text === null) continue;
      const r = readRecord(text, (name) => this.read(pieceKey(k, name)));
      if (!r.ok) {
        this.log(`A kept drawing was dropped: ${r.problem}.`);
        this.remove(k);
      } else if (now - r.found.kept.at > KEPT_DAYS * 86_400_000) {
        this.remove(k);
      } else {
        for (const name of r.found.sizes.keys()) named.add(pieceKey(k, name));
        if (k.startsWith(this.base)) {
          out.push(r.found.kept);
          // What is in storage need not be written again.
          const w = this.writer(r.found.kept.sid);
          for (const [obj, name] of r.found.pieces) w.names.set(obj, name);
          for (const [name, n] of r.found.sizes) w.sizes.set(name, n);
        }
      }
    }
    for (const k of this.keys(PIECES)) if (!named.has(k)) this.remove(k);
    return out.sort((a, b) => b.at - a.at);
  }

  /** Answers false when it could not be kept (too large, storage full or refused). */
  put(kept: Kept): boolean {
    const head = this.base + kept.sid;
    const w = this.writer(kept.sid);
    /** Each piece the head names, with its text when it is not in storage yet. */
    const want = new Map<string, string | null>();
    const name = (obj: object, text: () => string): string => {
      let n = w.names.get(obj);
      if (n === undefined) {
        n = `${this.run}${(this.count++).toString(36)}`;
        w.names.set(obj, n);
      }
      if (!want.has(n)) want.set(n, w.sizes.has(n) ? null : text());
      return n;
    };
    const record: Record<string, unknown> = {
      v: KEPT_VERSION,
      sid: kept.sid,
      at: kept.at,
      items: kept.items.map((it) => name(it, () => itemText(it))),
      placed: kept.placed.map(([id, rec]) => [id, name(rec, () => JSON.stringify(rec))]),
    };
    const unanswered = kept.unanswered;
    if (unanswered) record.unanswered = name(unanswered, () => JSON.stringify(placingJson(unanswered)));
    const text = JSON.stringify(record);
    let chars = text.length;
    for (const [n, t] of want) chars += t === null ? w.sizes.get(n)! : t.length;
    if (chars > MAX_KEPT_CHARS) {
      this.log(`The drawing is too large to keep for later (${chars} characters).`);
      return false;
    }
    try {
      for (const [n, t] of want) {
        if (t === null) continue;
        this.storage.setItem(pieceKey(head, n), t);
        w.sizes.set(n, t.length);
      }
      this.storage.setItem(head, text);
    } catch (e) {
      // The head in storage is the one before, and names none of the new pieces.
      this.log(`The drawing could not be kept for later: ${String(e)}`);
      return false;
    }
    for (const n of [...w.sizes.keys()]) {
      if (want.has(n)) continue;
      this.remove(pieceKey(head, n));
      w.sizes.delete(n);
    }
    return true;
  }

  /** Forgets a kept drawing: its head first, so what is left of it is never read as a drawing. */
  drop(sid: string): void {
    const head = this.base + sid;
    this.remove(head);
    const w = this.written.get(sid);
    this.written.delete(sid);
    // This page knows every piece of a drawing it read or wrote; any other's are looked for.
    if (w) for (const n of w.sizes.keys()) this.remove(pieceKey(head, n));
    else for (const k of this.keys(PIECES)) if (headOf(k) === head) this.remove(k);
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
