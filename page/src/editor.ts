// The drawing's state and every edit of it, without the DOM: the items with their undo
// history, the selection, the tool and its settings, and the gesture in progress. The page
// feeds it pointer positions already turned into slide points, so everything here works in
// slide points and is the same at any zoom.
import { FIXED, type Paint, samePaint } from './colors.js';
import { InkFitter } from './fit.js';
import { type Pt, type Rect, dist, rectFrom, snapAngle, squareCorner } from './geometry.js';
import { History } from './history.js';
import { type Item, type ItemKind, type Style, canFill, hitItem, itemBounds, itemsAlong, itemsTouching, moveItem, newId, resizeItem } from './items.js';
import { type PointRef, type Subpath, arrowOutline, editablePoints, ellipseOutline, lineOutline, movePoint, num, pathText, rectOutline } from './path.js';
import { type Snapped, recognise } from './snap.js';
import type { ToolName } from './tools/names.js';
import { LaserTrail } from './trail.js';

export interface Mods {
  shift: boolean;
  alt: boolean;
}

/** Timers come from outside so that tests can run the half-second hold without waiting. */
export type After = (ms: number, fn: () => void) => () => void;

export interface Preview {
  /**
   * The stroke or shape being drawn, as path data in slide points. A long stroke comes in
   * pieces that, once full, never change, so showing it costs the same at any length.
   */
  live?: { pieces: readonly string[]; style: Style; snapped: boolean };
  /** Items shown changed while they are dragged. */
  override?: ReadonlyMap<string, Item>;
  marquee?: Rect;
  /**
   * Items the eraser has gone over; they stay in view, marked, and leave the drawing when the
   * pointer lets go.
   */
  erasing?: ReadonlySet<string>;
}

export type Family = 'ink' | 'highlight' | 'shape';
export interface Settings { paint: Paint; width: number; fill: boolean }

export const HOLD_MS = 500;
/** How far the pen may wander, in screen points, and still count as held still. */
const HOLD_SLACK_PX = 3;
/** How close to a line or point a click counts as on it, in screen points. */
const GRAB_PX = 6;
/** How far from the pointer the eraser takes, in screen points; its cursor is drawn this size. */
export const ERASE_PX = GRAB_PX;

interface Gesture {
  move(p: Pt, mods: Mods): void;
  end(mods: Mods): void;
  cancel(): void;
  preview(): Preview;
}

export const familyOf = (tool: ToolName): Family | null =>
  tool === 'pen' ? 'ink' : tool === 'highlighter' ? 'highlight' : tool.startsWith('shape:') ? 'shape' : null;

export class Editor {
  readonly history = new History<Item[]>([]);
  selection: ReadonlySet<string> = new Set();
  tool: ToolName = 'pen';
  settings: Record<Family, Settings> = {
    ink: { paint: FIXED[0].paint, width: 2, fill: false },
    highlight: { paint: FIXED[4].paint, width: 12, fill: false },
    shape: { paint: FIXED[2].paint, width: 2, fill: false },
  };
  /** The family whose settings the toolbar shows while selecting. */
  lastFamily: Family = 'ink';
  private gesture: Gesture | null = null;
  /** Slide points per screen point, from the current zoom. */
  ptPerPx = 1;

  /** The laser pointer's trail: drawn over the slide, never an item. */
  readonly laser = new LaserTrail();
  /** Where the eraser swept, fading like the laser's trail, so the user sees the way it took. */
  readonly sweep = new LaserTrail();

  /** `now` stamps the laser's trail, in ms; tests drive it. */
  constructor(readonly after: After, readonly changed: () => void = () => {}, readonly now: () => number = () => performance.now()) {}

  get items(): Item[] { return this.history.present; }
  get busy(): boolean { return this.gesture !== null; }
  preview(): Preview { return this.gesture?.preview() ?? {}; }

  commit(next: Item[]): void {
    this.history.push(next);
    const ids = new Set(next.map((it) => it.id));
    this.selection = new Set([...this.selection].filter((id) => ids.has(id)));
    this.changed();
  }

  // ---- Tools and settings ----------------------------------------------------------------

  setTool(tool: ToolName): void {
    this.cancel();
    this.tool = tool;
    const fam = familyOf(tool);
    if (fam) this.lastFamily = fam;
    // Only select and edit points show the selection; with any other tool a colour or width
    // picked in the toolbar must not change items the user can't see are selected.
    if (tool !== 'select' && tool !== 'direct') this.selection = new Set();
    this.changed();
  }

  /** The settings the toolbar changes. */
  current(): Settings { return this.settings[familyOf(this.tool) ?? this.lastFamily]; }

  /**
   * What the toolbar shows: with items selected, their colour and width where they all agree
   * (none marked where they differ), and whether Fill can change any of them; otherwise the
   * tool's own settings.
   */
  shown(): { paint: Paint | null; width: number | null; fill: boolean; canFill: boolean } {
    const sel = familyOf(this.tool) ? [] : this.selected();
    if (sel.length === 0) {
      const cur = this.current();
      return { paint: cur.paint, width: cur.width, fill: cur.fill, canFill: (familyOf(this.tool) ?? this.lastFamily) === 'shape' };
    }
    const same = <T>(xs: T[], eq: (a: T, b: T) => boolean): T | null => (xs.every((x) => eq(x, xs[0])) ? xs[0] : null);
    const fillable = sel.filter(canFill);
    return {
      paint: same(sel.map((it) => it.style.stroke), samePaint),
      width: same(sel.map((it) => it.style.width), (a, b) => a === b),
      fill: fillable.length > 0 && fillable.every((it) => it.style.fill !== null),
      canFill: fillable.length > 0,
    };
  }

  style(fam: Family): Style {
    const s = this.settings[fam];
    return {
      stroke: s.paint,
      width: s.width,
      fill: fam === 'shape' && s.fill ? s.paint : null,
      alpha: fam === 'highlight' ? 0.5 : 1,
    };
  }

  /** Changes the tool's settings and, while selecting, the selected items too. */
  setStyle(change: Partial<Settings>): void {
    const fam = familyOf(this.tool) ?? this.lastFamily;
    this.settings = { ...this.settings, [fam]: { ...this.settings[fam], ...change } };
    if (!familyOf(this.tool) && this.selection.size > 0) {
      const next = this.items.map((it) => {
        if (!this.selection.has(it.id)) return it;
        const st: Style = { ...it.style };
        if (change.paint) {
          st.stroke = change.paint;
          if (st.fill) st.fill = change.paint;
        }
        if (change.width !== undefined) st.width = change.width;
        if (change.fill !== undefined && canFill(it)) st.fill = change.fill ? st.stroke : null;
        return { ...it, style: st };
      });
      if (next.some((it, i) => it !== this.items[i])) this.commit(next);
    }
    this.changed();
  }

  // ---- Pointer -------------------------------------------------------------------------------

  down(p: Pt, mods: Mods): void {
    this.cancel();
    const fam = familyOf(this.tool);
    if (fam === 'ink' || fam === 'highlight') this.gesture = new PenGesture(this, p, fam);
    else if (fam === 'shape') this.gesture = new ShapeGesture(this, p, this.tool);
    else if (this.tool === 'eraser') this.gesture = new EraseGesture(this, p);
    else if (this.tool === 'laser') this.gesture = new LaserGesture(this, p);
    else if (this.tool === 'select') this.gesture = this.selectDown(p, mods);
    else this.gesture = this.directDown(p);
    this.changed();
  }

  move(p: Pt, mods: Mods): void {
    if (!this.gesture) return;
    this.gesture.move(p, mods);
    this.changed();
  }

  up(mods: Mods): void {
    const g = this.gesture;
    this.gesture = null;
    g?.end(mods);
    this.changed();
  }

  /** Drops the gesture in progress; answers whether there was one. */
  cancel(): boolean {
    const g = this.gesture;
    this.gesture = null;
    if (!g) return false;
    g.cancel();
    this.changed();
    return true;
  }

  // ---- Commands ------------------------------------------------------------------------------

  undo(): boolean {
    this.cancel();
    const done = this.history.undo();
    if (done) this.commit(this.items); // keeps the selection to items that still exist
    return done;
  }

  redo(): boolean {
    this.cancel();
    const done = this.history.redo();
    if (done) this.commit(this.items);
    return done;
  }

  selected(): Item[] { return this.items.filter((it) => this.selection.has(it.id)); }

  select(ids: Iterable<string>): void {
    this.selection = new Set(ids);
    this.changed();
  }

  selectAll(): void {
    if (familyOf(this.tool)) this.tool = 'select';
    this.select(this.items.map((it) => it.id));
  }

  deleteSelected(): boolean {
    if (this.selection.size === 0) return false;
    this.commit(this.items.filter((it) => !this.selection.has(it.id)));
    return true;
  }

  duplicateSelected(offset = 10): boolean {
    const copies = this.selected().map((it) => ({ ...moveItem(it, offset, offset), id: newId() }));
    if (copies.length === 0) return false;
    this.commit([...this.items, ...copies]);
    this.selection = new Set(copies.map((c) => c.id));
    this.changed();
    return true;
  }

  moveSelected(dx: number, dy: number): boolean {
    if (this.selection.size === 0) return false;
    this.commit(this.items.map((it) => (this.selection.has(it.id) ? moveItem(it, dx, dy) : it)));
    return true;
  }

  /** Starts from a kept drawing, as when the page comes back after a reload. */
  restore(items: Item[]): void {
    this.history.reset(items);
    this.changed();
  }

  // ---- Select and direct -----------------------------------------------------------------------

  /** The geometry bounds of the selection; its resize handles sit on this rectangle. */
  selectionFrame(): Rect | null {
    let out: Rect | null = null;
    for (const it of this.selected()) {
      const b = itemBounds(it);
      if (!b) continue;
      out = out ? rectFrom({ x: Math.min(out.x, b.x), y: Math.min(out.y, b.y) }, { x: Math.max(out.x + out.w, b.x + b.w), y: Math.max(out.y + out.h, b.y + b.h) }) : b;
    }
    return out;
  }

  /** The eight resize handles: corners and edge middles, clockwise from the top-left. */
  handles(): Pt[] {
    const r = this.selectionFrame();
    if (!r) return [];
    const { x, y, w, h } = r;
    return [
      { x, y }, { x: x + w / 2, y }, { x: x + w, y }, { x: x + w, y: y + h / 2 },
      { x: x + w, y: y + h }, { x: x + w / 2, y: y + h }, { x, y: y + h }, { x, y: y + h / 2 },
    ];
  }

  private selectDown(p: Pt, mods: Mods): Gesture {
    const grab = GRAB_PX * this.ptPerPx;
    const frame = this.selectionFrame();
    if (frame && this.tool === 'select') {
      const h = this.handles().findIndex((q) => dist(p, q) <= grab);
      if (h >= 0) return new ResizeGesture(this, frame, h, p);
    }
    const hit = hitItem(this.items, p, grab);
    if (hit) {
      if (mods.shift) {
        const next = new Set(this.selection);
        if (next.has(hit.id)) next.delete(hit.id); else next.add(hit.id);
        this.selection = next;
      } else if (!this.selection.has(hit.id)) {
        this.selection = new Set([hit.id]);
      }
      return new MoveGesture(this, p);
    }
    return new MarqueeGesture(this, p, mods.shift ? this.selection : new Set());
  }

  /** The point of the edited item under p, when there is one. */
  pointUnder(p: Pt): PointRef | null {
    const it = this.selected()[0];
    if (!it || this.selection.size !== 1) return null;
    const grab = GRAB_PX * this.ptPerPx;
    // Handles were added after anchors; the later one wins where they overlap, so a handle
    // pulled out of its anchor stays reachable.
    const pts = editablePoints(it.subpaths);
    for (let i = pts.length - 1; i >= 0; i--) if (dist(p, pts[i].p) <= grab) return pts[i].ref;
    return null;
  }

  private directDown(p: Pt): Gesture | null {
    const ref = this.pointUnder(p);
    if (ref) return new PointGesture(this, this.selected()[0], ref, p);
    const hit = hitItem(this.items, p, GRAB_PX * this.ptPerPx);
    this.selection = new Set(hit ? [hit.id] : []);
    return null;
  }
}

// ---- Gestures ------------------------------------------------------------------------------------

/** Points per piece of a stroke being drawn. */
const PIECE = 96;

class PenGesture implements Gesture {
  /** The pointer's positions as they came, for the hold-still snapping. */
  private points: Pt[];
  /** Smooths and fits the stroke as it grows, so lifting the pen only finishes its end. */
  private readonly ink: InkFitter;
  /** The smoothed stroke so far, in pieces that never change once full. */
  private pieces: string[] = [];
  private inPiece = 0;
  private shown = 0;
  /**
   * What the preview shows: the pieces, the last one carrying on through the last few pixels,
   * which are not smoothed yet, as they came.
   */
  private live: readonly string[] = [];
  private anchor: Pt;
  private stopHold: () => void = () => {};
  private snapped: Snapped | null = null;

  constructor(private readonly ed: Editor, p: Pt, private readonly fam: 'ink' | 'highlight') {
    this.points = [p];
    this.ink = new InkFitter(ed.ptPerPx);
    this.ink.add(p);
    this.anchor = p;
    this.grow();
    this.armHold();
  }

  private armHold(): void {
    this.stopHold();
    this.stopHold = this.ed.after(HOLD_MS, () => {
      this.snapped = recognise(this.points);
      this.ed.changed();
    });
  }

  /** Adds the newly smoothed points to the pieces and redraws the tail. */
  private grow(): void {
    const sm = this.ink.smoothed;
    for (; this.shown < sm.length; this.shown++) {
      const q = sm[this.shown];
      const last = this.pieces.length - 1;
      if (last < 0) {
        this.pieces.push(`M${num(q.x)} ${num(q.y)}`);
        this.inPiece = 1;
      } else if (this.inPiece >= PIECE) {
        // The next piece starts where this one ends, so the line has no gap.
        const prev = sm[this.shown - 1];
        this.pieces.push(`M${num(prev.x)} ${num(prev.y)} L${num(q.x)} ${num(q.y)}`);
        this.inPiece = 2;
      } else {
        this.pieces[last] += ` L${num(q.x)} ${num(q.y)}`;
        this.inPiece += 1;
      }
    }
    const n = this.pieces.length;
    const tail = this.ink.pending().map((q, i) => `${i > 0 || n > 0 ? ' L' : 'M'}${num(q.x)} ${num(q.y)}`).join('');
    this.live = n === 0 ? (tail ? [tail] : []) : tail ? [...this.pieces.slice(0, n - 1), this.pieces[n - 1] + tail] : this.pieces;
  }

  move(p: Pt): void {
    this.points.push(p);
    this.ink.add(p);
    this.grow();
    if (dist(p, this.anchor) > HOLD_SLACK_PX * this.ed.ptPerPx) {
      this.anchor = p;
      this.snapped = null;
      this.armHold();
    }
  }

  end(): void {
    this.stopHold();
    const fitted = this.ink.finish();
    if (fitted.subpaths.length === 0) return;
    const style = this.ed.style(this.fam);
    const ink: Item = { id: newId(), kind: this.fam === 'ink' ? 'ink' : 'highlight', subpaths: fitted.subpaths, style };
    this.ed.commit([...this.ed.items, ink]);
    if (this.snapped) {
      // A second step, so that undo gives the ink back before it takes the stroke away.
      const shape: Item = { id: newId(), kind: this.snapped.kind, subpaths: snappedOutline(this.snapped), style };
      this.ed.commit(this.ed.items.map((it) => (it.id === ink.id ? shape : it)));
    }
  }

  cancel(): void { this.stopHold(); }

  preview(): Preview {
    const style = this.ed.style(this.fam);
    if (this.snapped) return { live: { pieces: [pathText(snappedOutline(this.snapped))], style, snapped: true } };
    return { live: { pieces: this.live, style, snapped: false } };
  }
}

export function snappedOutline(s: Snapped): Subpath[] {
  if (s.kind === 'line') return lineOutline(s.a, s.b);
  return s.kind === 'rect' ? rectOutline(s.r) : ellipseOutline(s.r);
}

class ShapeGesture implements Gesture {
  private b: Pt;
  private mods: Mods = { shift: false, alt: false };

  constructor(private readonly ed: Editor, private readonly a: Pt, private readonly tool: ToolName) {
    this.b = a;
  }

  move(p: Pt, mods: Mods): void {
    this.b = p;
    this.mods = mods;
  }

  private kind(): ItemKind {
    if (this.tool === 'shape:arrow') return 'arrow';
    return this.tool === 'shape:line' ? 'line' : this.tool === 'shape:ellipse' ? 'ellipse' : 'rect';
  }

  outline(): Subpath[] {
    const { a } = this;
    const end = this.mods.shift ? snapAngle(a, this.b) : this.b;
    if (this.kind() === 'line') return lineOutline(a, end);
    if (this.kind() === 'arrow') return arrowOutline(a, end, this.ed.style('shape').width);
    const corner = this.mods.shift ? squareCorner(a, this.b) : this.b;
    // Option draws from the centre outwards.
    const r = this.mods.alt ? rectFrom({ x: 2 * a.x - corner.x, y: 2 * a.y - corner.y }, corner) : rectFrom(a, corner);
    return this.kind() === 'ellipse' ? ellipseOutline(r) : rectOutline(r);
  }

  end(mods: Mods): void {
    this.mods = mods;
    // A click without a drag makes nothing.
    if (dist(this.a, this.b) < 2 * this.ed.ptPerPx) return;
    const item: Item = { id: newId(), kind: this.kind(), subpaths: this.outline(), style: this.style() };
    this.ed.commit([...this.ed.items, item]);
  }

  cancel(): void {}

  preview(): Preview {
    return { live: { pieces: [pathText(this.outline())], style: this.style(), snapped: false } };
  }

  /** A line has no inside to fill; an arrow's head is always filled in the line's colour. */
  private style(): Style {
    const st = this.ed.style('shape');
    if (this.kind() === 'arrow') return { ...st, fill: st.stroke };
    return this.kind() === 'line' ? { ...st, fill: null } : st;
  }
}

/**
 * Whole items go; the way between two pointer events counts, so a fast sweep misses none.
 * Nothing goes before the pointer lets go: until then the items it went over are only marked,
 * and the way it swept shows as a fading trail.
 */
class EraseGesture implements Gesture {
  private readonly hits = new Set<string>();
  private last: Pt;

  constructor(private readonly ed: Editor, p: Pt) {
    this.last = p;
    ed.sweep.down(p, ed.now());
    this.over(p);
  }

  private over(p: Pt): void {
    const left = this.ed.items.filter((it) => !this.hits.has(it.id));
    for (const it of itemsAlong(left, this.last, p, ERASE_PX * this.ed.ptPerPx)) this.hits.add(it.id);
    this.last = p;
  }

  move(p: Pt): void {
    this.ed.sweep.move(p, this.ed.now());
    this.over(p);
  }

  /** One step for the whole sweep, so one undo brings all of it back. */
  end(): void {
    this.ed.sweep.up(this.ed.now());
    if (this.hits.size > 0) this.ed.commit(this.ed.items.filter((it) => !this.hits.has(it.id)));
  }

  cancel(): void { this.ed.sweep.up(this.ed.now()); }
  preview(): Preview { return { erasing: this.hits }; }
}

/** Feeds the laser's trail; the drawing, its history and the selection stay as they are. */
class LaserGesture implements Gesture {
  constructor(private readonly ed: Editor, p: Pt) { ed.laser.down(p, ed.now()); }
  move(p: Pt): void { this.ed.laser.move(p, this.ed.now()); }
  end(): void { this.ed.laser.up(this.ed.now()); }
  cancel(): void { this.ed.laser.up(this.ed.now()); }
  preview(): Preview { return {}; }
}

class MoveGesture implements Gesture {
  private to: Pt;
  constructor(private readonly ed: Editor, private readonly from: Pt) { this.to = from; }
  move(p: Pt): void { this.to = p; }
  private delta(): [number, number] { return [this.to.x - this.from.x, this.to.y - this.from.y]; }
  end(): void {
    const [dx, dy] = this.delta();
    if (dx !== 0 || dy !== 0) this.ed.moveSelected(dx, dy);
  }
  cancel(): void {}
  preview(): Preview {
    const [dx, dy] = this.delta();
    return { override: new Map(this.ed.selected().map((it) => [it.id, moveItem(it, dx, dy)])) };
  }
}

class ResizeGesture implements Gesture {
  private to: Pt;
  private shift = false;
  constructor(private readonly ed: Editor, private readonly frame: Rect, private readonly handle: number, from: Pt) { this.to = from; }
  move(p: Pt, mods: Mods): void { this.to = p; this.shift = mods.shift; }

  target(): Rect {
    const f = this.frame;
    const left = f.x, top = f.y, right = f.x + f.w, bottom = f.y + f.h;
    const h = this.handle;
    const movesLeft = h === 0 || h === 6 || h === 7;
    const movesRight = h === 2 || h === 3 || h === 4;
    const movesTop = h === 0 || h === 1 || h === 2;
    const movesBottom = h === 4 || h === 5 || h === 6;
    let x0 = movesLeft ? this.to.x : left, x1 = movesRight ? this.to.x : right;
    let y0 = movesTop ? this.to.y : top, y1 = movesBottom ? this.to.y : bottom;
    const corner = h % 2 === 0;
    if (this.shift && corner && f.w > 0 && f.h > 0) {
      // Keep the proportions: follow whichever side the pointer stretched more.
      const s = Math.max(Math.abs(x1 - x0) / f.w, Math.abs(y1 - y0) / f.h);
      if (movesLeft) x0 = right - f.w * s; else x1 = left + f.w * s;
      if (movesTop) y0 = bottom - f.h * s; else y1 = top + f.h * s;
    }
    return rectFrom({ x: x0, y: y0 }, { x: x1, y: y1 });
  }

  private resized(): Item[] {
    const to = this.target();
    return this.ed.selected().map((it) => resizeItem(it, this.frame, to));
  }

  end(mods: Mods): void {
    this.shift = mods.shift;
    const to = this.target();
    if (to.x === this.frame.x && to.y === this.frame.y && to.w === this.frame.w && to.h === this.frame.h) return;
    const byId = new Map(this.resized().map((it) => [it.id, it]));
    this.ed.commit(this.ed.items.map((it) => byId.get(it.id) ?? it));
  }
  cancel(): void {}
  preview(): Preview { return { override: new Map(this.resized().map((it) => [it.id, it])) }; }
}

class MarqueeGesture implements Gesture {
  private to: Pt;
  constructor(private readonly ed: Editor, private readonly from: Pt, private readonly keep: ReadonlySet<string>) {
    this.to = from;
    ed.selection = new Set(keep);
  }
  move(p: Pt): void { this.to = p; }
  end(): void {
    const r = rectFrom(this.from, this.to);
    const hits = r.w < this.ed.ptPerPx && r.h < this.ed.ptPerPx ? [] : itemsTouching(this.ed.items, r);
    this.ed.select([...this.keep, ...hits.map((it) => it.id)]);
  }
  cancel(): void { this.ed.select(this.keep); }
  preview(): Preview { return { marquee: rectFrom(this.from, this.to) }; }
}

class PointGesture implements Gesture {
  private to: Pt;
  constructor(private readonly ed: Editor, private readonly item: Item, private readonly ref: PointRef, private readonly from: Pt) { this.to = from; }
  move(p: Pt): void { this.to = p; }
  private moved(): Item {
    return { ...this.item, subpaths: movePoint(this.item.subpaths, this.ref, this.to.x - this.from.x, this.to.y - this.from.y) };
  }
  end(): void {
    if (this.to.x === this.from.x && this.to.y === this.from.y) return;
    const moved = this.moved();
    this.ed.commit(this.ed.items.map((it) => (it.id === moved.id ? moved : it)));
  }
  cancel(): void {}
  preview(): Preview { return { override: new Map([[this.item.id, this.moved()]]) }; }
}
