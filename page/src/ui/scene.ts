// Drawing the page: the items in slide points inside one SVG group that the view scales and
// moves, so a change of zoom or position is one attribute, whatever the drawing holds. The
// selection and the points of an edited path are drawn in screen points on top, so they stay
// the same size at any zoom.
import { cssColour } from '../colors.js';
import type { Editor } from '../editor.js';
import { type Rect, type View, inflate, intersects, scaleOf, shownRect, toLayer, unionRect } from '../geometry.js';
import { type Item, type Style, itemBounds } from '../items.js';
import { editablePoints, pathText } from '../path.js';
import { ERASE_PX } from '../editor.js';
import { TrailLayer, sweepLook } from './laser.js';
import { svgEl } from './svg.js';

export class Scene {
  readonly root: SVGSVGElement;
  private readonly group: SVGGElement;
  private readonly live: SVGGElement;
  private readonly chrome: SVGGElement;
  private readonly laser: TrailLayer;
  private readonly sweep: TrailLayer;
  /** Marks over the items the eraser is about to take, by id. */
  private readonly doomed: SVGGElement;
  private readonly marks = new Map<string, { g: SVGGElement; item: Item }>();
  /** Everything drawn sits in here, cut to the program's slide editor when that is known. */
  private readonly seen: SVGGElement;
  private readonly paneRect: SVGRectElement;
  private readonly shown = new Map<string, { el: SVGPathElement; item: Item; quiet?: boolean }>();
  private readonly defs: SVGDefsElement;
  /** Groups for the runs of items the slide shows that the layer must paint over what it paints. */
  private readonly runs: Run[] = [];

  constructor(parent: HTMLElement) {
    this.root = svgEl('svg', { id: 'stage', 'aria-hidden': 'true' });
    parent.appendChild(this.root);
    this.defs = svgEl('defs', {}, this.root);
    const clip = svgEl('clipPath', { id: 'pane-clip' }, this.defs);
    this.paneRect = svgEl('rect', {}, clip);
    this.seen = svgEl('g', { id: 'seen' }, this.root);
    this.group = svgEl('g', { id: 'scene' }, this.seen);
    this.sweep = new TrailLayer(this.seen, sweepLook(ERASE_PX));
    this.doomed = svgEl('g', { id: 'doomed', fill: 'none', 'stroke-linecap': 'round', 'stroke-linejoin': 'round' }, this.seen);
    this.live = svgEl('g', { id: 'live', 'stroke-linecap': 'round', 'stroke-linejoin': 'round', fill: 'none' }, this.seen);
    this.chrome = svgEl('g', { id: 'chrome' }, this.seen);
    this.laser = new TrailLayer(this.seen);
  }

  /**
   * `onSlide` tells which items the slide already shows as they are: those are not painted
   * (the layer would double them over their own shapes) unless selected or being changed,
   * and stay where they are in the list, so hit tests and the stacking order don't change.
   */
  render(view: View, ed: Editor, onSlide: (item: Item) => boolean = () => false): void {
    const s = scaleOf(view);
    const r = shownRect(view);
    const transform = `translate(${r.x} ${r.y}) scale(${s})`;
    if (this.group.getAttribute('transform') !== transform) this.group.setAttribute('transform', transform);
    this.clipTo(view.pane ?? null);
    this.items(ed, onSlide);
    this.sweep.show(ed.sweep, transform);
    this.markDoomed(ed, transform);
    this.liveStroke(ed, transform);
    this.drawChrome(view, ed);
    this.laser.show(ed.laser, transform);
  }

  /**
   * The layer lies over the slide, so whatever it paints covers every shape of the slide. An
   * item it paints (new, edited or selected) would hide the slide's own shapes of the items
   * above it, which the layer leaves to the slide: so those are painted too, but only where
   * something painted below them lies (a mask of those items' outlines), so the layer shows
   * the drawing in its order without doubling a see-through stroke everywhere else.
   */
  private items(ed: Editor, onSlide: (item: Item) => boolean): void {
    const preview = ed.preview();
    const seen = new Set<string>();
    /** The scene's children in order: painted items, hidden ones, and the runs' groups. */
    const top: Element[] = [];
    const runs: { g: Run; els: Element[]; under: number; reach: Rect | null }[] = [];
    let run: (typeof runs)[number] | null = null;
    /** What the layer paints so far, lowest first, and the area it reaches. */
    const painted: Item[] = [];
    let reach: Rect | null = null;
    for (const base of ed.items) {
      const item = preview.override?.get(base.id) ?? base;
      const quiet = item === base && !ed.selection.has(item.id) && onSlide(item);
      const covers = quiet && reach !== null && intersects(reach, paintedBounds(item));
      seen.add(item.id);
      let entry = this.shown.get(item.id);
      if (!entry) {
        entry = { el: svgEl('path', { 'stroke-linecap': 'round', 'stroke-linejoin': 'round' }), item: null as unknown as Item };
        this.shown.set(item.id, entry);
      }
      if (entry.item !== item) {
        applyStyle(entry.el, item.style, joinOf(item));
        entry.el.setAttribute('d', pathText(item.subpaths));
        entry.el.dataset.id = item.id;
        entry.item = item;
      }
      const hidden = quiet && !covers;
      if (entry.quiet !== hidden) {
        entry.el.setAttribute('visibility', hidden ? 'hidden' : 'visible');
        entry.quiet = hidden;
      }
      if (!quiet) {
        run = null;
        top.push(entry.el);
        painted.push(item);
        reach = unionRect(reach, paintedBounds(item));
      } else if (covers) {
        if (!run) {
          if (this.runs.length === runs.length) this.runs.push(new Run(this.defs, this.runs.length));
          run = { g: this.runs[runs.length], els: [], under: painted.length, reach: null };
          runs.push(run);
          top.push(run.g.group);
        }
        run.els.push(entry.el);
        run.reach = unionRect(run.reach, paintedBounds(item));
      } else if (run) {
        run.els.push(entry.el);
      } else {
        top.push(entry.el);
      }
    }
    // Each run of items left to the slide that lies over something painted is a group of its
    // own, masked to the outlines of what is painted under it and near it.
    for (const rn of runs) {
      rn.g.mask(painted.slice(0, rn.under).filter((it) => intersects(rn.reach!, paintedBounds(it))));
      order(rn.g.group, rn.els);
    }
    order(this.group, top);
    for (const g of this.runs.slice(runs.length)) g.clear();
    for (const [id, entry] of this.shown) {
      if (!seen.has(id)) {
        entry.el.remove();
        this.shown.delete(id);
      }
    }
  }

  /**
   * The items an eraser sweep has gone over stay where they are until the pointer lets go, but
   * washed out and outlined in red dashes, so the user sees what goes before lifting. The
   * marks lie over the items, whoever paints them: the slide's own shapes show through too.
   */
  private markDoomed(ed: Editor, transform: string): void {
    const doomed = ed.preview().erasing;
    if (this.doomed.getAttribute('transform') !== transform) this.doomed.setAttribute('transform', transform);
    for (const [id, m] of this.marks) {
      if (!doomed?.has(id)) {
        m.g.remove();
        this.marks.delete(id);
      }
    }
    if (!doomed || doomed.size === 0) return;
    for (const item of ed.items) {
      if (!doomed.has(item.id) || this.marks.get(item.id)?.item === item) continue;
      this.marks.get(item.id)?.g.remove();
      const d = pathText(item.subpaths);
      const g = svgEl('g', { class: 'doomed', 'data-id': item.id }, this.doomed);
      svgEl('path', { class: 'wash', d, 'stroke-width': item.style.width + 2, fill: item.style.fill ? 'currentColor' : 'none' }, g);
      svgEl('path', { class: 'edge', d, 'vector-effect': 'non-scaling-stroke' }, g);
      this.marks.set(item.id, { g, item });
    }
  }

  private liveStroke(ed: Editor, transform: string): void {
    const live = ed.preview().live;
    const kids = this.live.children as HTMLCollectionOf<SVGPathElement>;
    const n = live?.pieces.length ?? 0;
    while (kids.length > n) kids[kids.length - 1].remove();
    if (!live) return;
    if (this.live.getAttribute('transform') !== transform) this.live.setAttribute('transform', transform);
    // See-through ink is faded as a whole, so the pieces' overlaps don't show darker.
    this.live.setAttribute('stroke', cssColour(live.style.stroke));
    this.live.setAttribute('stroke-width', String(live.style.width));
    this.live.setAttribute('opacity', String(live.style.alpha));
    this.live.setAttribute('fill', live.style.fill ? cssColour(live.style.fill) : 'none');
    this.live.classList.toggle('snapped', live.snapped);
    live.pieces.forEach((d, i) => {
      const el = kids[i] ?? svgEl('path', {}, this.live);
      if ((el as unknown as { shown?: string }).shown !== d) {
        el.setAttribute('d', d);
        (el as unknown as { shown?: string }).shown = d;
      }
    });
  }

  private drawChrome(view: View, ed: Editor): void {
    this.chrome.replaceChildren();
    const preview = ed.preview();
    const L = (p: { x: number; y: number }) => toLayer(view, p);
    if (preview.marquee) {
      const a = L(preview.marquee), b = L({ x: preview.marquee.x + preview.marquee.w, y: preview.marquee.y + preview.marquee.h });
      svgEl('rect', { class: 'marquee', x: a.x, y: a.y, width: b.x - a.x, height: b.y - a.y }, this.chrome);
    }
    if (ed.tool === 'select' && ed.selection.size > 0 && !preview.override) {
      const f = ed.selectionFrame();
      if (f) {
        const a = L(f), b = L({ x: f.x + f.w, y: f.y + f.h });
        svgEl('rect', { class: 'frame', x: a.x - 0.5, y: a.y - 0.5, width: b.x - a.x + 1, height: b.y - a.y + 1 }, this.chrome);
        for (const h of ed.handles()) {
          const p = L(h);
          svgEl('rect', { class: 'handle', x: p.x - 4, y: p.y - 4, width: 8, height: 8 }, this.chrome);
        }
      }
    }
    if (ed.tool === 'direct' && ed.selection.size === 1) {
      const it = ed.selected()[0];
      const shown = preview.override?.get(it.id) ?? it;
      for (const e of editablePoints(shown.subpaths)) {
        const p = L(e.p);
        if (e.anchor) {
          const a = L(e.anchor);
          svgEl('line', { class: 'arm', x1: a.x, y1: a.y, x2: p.x, y2: p.y }, this.chrome);
          svgEl('circle', { class: 'knob', cx: p.x, cy: p.y, r: 3.5 }, this.chrome);
        } else {
          svgEl('rect', { class: 'anchor', x: p.x - 3.5, y: p.y - 3.5, width: 7, height: 7 }, this.chrome);
        }
      }
    }
  }

  /** Ink under the program's ribbon or thumbnails would show over them: it is cut off there. */
  private clipTo(pane: Rect | null): void {
    if (!pane) {
      this.seen.removeAttribute('clip-path');
      return;
    }
    const want = { x: pane.x, y: pane.y, width: pane.w, height: pane.h };
    for (const [k, v] of Object.entries(want)) {
      if (this.paneRect.getAttribute(k) !== String(v)) this.paneRect.setAttribute(k, String(v));
    }
    this.seen.setAttribute('clip-path', 'url(#pane-clip)');
  }

  /** Where the selection's handles reach, in layer points, for the mouse regions. */
  chromeBounds(): Rect | null {
    if (!this.chrome.firstChild) return null;
    const b = this.chrome.getBBox();
    return { x: b.x - 6, y: b.y - 6, w: b.width + 12, h: b.height + 12 };
  }
}

/** Puts exactly these children in this order under parent, moving only what is out of place. */
function order(parent: Element, want: readonly Element[]): void {
  let prev: Element | null = null;
  for (const el of want) {
    const at: Element | null = prev ? prev.nextElementSibling : parent.firstElementChild;
    if (at !== el) parent.insertBefore(el, at);
    prev = el;
  }
  // What is left after the last one wanted belongs elsewhere now (a path gone, an empty run).
  let extra = prev ? prev.nextElementSibling : parent.firstElementChild;
  while (extra) {
    const next = extra.nextElementSibling;
    extra.remove();
    extra = next;
  }
}

const joinOf = (item: Item) => (item.kind === 'rect' ? 'miter' : 'round');

/** The area an item paints, its stroke's width included (a miter corner reaches further). */
const reachCache = new WeakMap<Item, Rect>();
function paintedBounds(item: Item): Rect {
  let r = reachCache.get(item);
  if (!r) {
    const b = itemBounds(item) ?? { x: 0, y: 0, w: 0, h: 0 };
    r = inflate(b, item.style.width * (item.kind === 'rect' ? 1 : 0.5) + 1);
    reachCache.set(item, r);
  }
  return r;
}

/**
 * One group of items the slide shows, painted by the layer only within its mask: the outlines
 * of the painted items under it, in white, so they let through exactly what they cover.
 */
class Run {
  readonly group: SVGGElement;
  private readonly el: SVGMaskElement;
  private shapes: Item[] = [];

  constructor(defs: SVGDefsElement, n: number) {
    const id = `under-${n}`;
    this.el = svgEl('mask', { id, maskUnits: 'userSpaceOnUse', x: -FAR, y: -FAR, width: 2 * FAR, height: 2 * FAR }, defs);
    this.group = svgEl('g', { class: 'under', mask: `url(#${id})` });
  }

  mask(items: Item[]): void {
    if (items.length === this.shapes.length && items.every((it, i) => it === this.shapes[i])) return;
    this.shapes = items;
    this.el.replaceChildren();
    for (const it of items) {
      svgEl('path', {
        d: pathText(it.subpaths), stroke: '#fff', 'stroke-width': it.style.width + 1, fill: it.style.fill ? '#fff' : 'none',
        'stroke-linecap': 'round', 'stroke-linejoin': joinOf(it),
      }, this.el);
    }
  }

  clear(): void {
    if (this.shapes.length > 0) this.mask([]);
    this.group.remove();
  }
}

/** Beyond any slide, in points: a mask this large never cuts what it lets through. */
const FAR = 100_000;

function applyStyle(el: SVGPathElement, st: Style, join: string): void {
  el.setAttribute('stroke', cssColour(st.stroke, st.alpha));
  el.setAttribute('stroke-width', String(st.width));
  el.setAttribute('fill', st.fill ? cssColour(st.fill, st.alpha) : 'none');
  el.setAttribute('stroke-linejoin', join);
}
