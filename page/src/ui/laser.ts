// Drawing the fading trails over the slide: the laser pointer's, and the way the eraser swept.
// A trail fades by itself, with no event to redraw it, so each layer runs its own frame loop,
// but only while some of its trail shows: once it has faded away the loop stops and the page
// is idle again.
import type { Pt } from '../geometry.js';
import type { LaserPiece, LaserTrail } from '../trail.js';
import { svgEl } from './svg.js';

export interface TrailLook {
  id: string;
  colour: string;
  /** Screen points: the trail is as thick at any zoom. */
  widthPx: number;
  /** A CSS filter for the whole trail, or none. */
  filter?: string;
  /** The whole trail's opacity, over the fading of its parts. */
  opacity?: number;
  /**
   * Stretches end square for a trail of see-through parts that must not show darker beads
   * where two meet; a wide trail ends them round, or every bend would show a notch.
   */
  caps: 'butt' | 'round';
  /**
   * Each stroke drawn as one path at the brightness of its end, rather than part by part: a
   * wide see-through trail in parts shows darker beads where they meet. Its tail still goes
   * as it fades out.
   */
  whole?: boolean;
}

/** A bright red with a glow, which shows on light and dark slides alike. */
export const LASER_LOOK: TrailLook = { id: 'laser', colour: '#ff2d2d', widthPx: 5, filter: 'drop-shadow(0 0 3px rgba(255, 60, 60, 0.9))', caps: 'butt' };

/** The eraser's way, as wide as it takes: a soft grey with a light edge, on any slide. */
export function sweepLook(reachPx: number): TrailLook {
  return { id: 'sweep', colour: '#7c7c86', widthPx: 2 * reachPx, opacity: 0.45, filter: 'drop-shadow(0 0 1px rgba(255, 255, 255, 0.9))', caps: 'round', whole: true };
}

export class TrailLayer {
  private readonly group: SVGGElement;
  private trail: LaserTrail | null = null;
  private looping = false;

  constructor(
    parent: Element,
    private readonly look: TrailLook = LASER_LOOK,
    private readonly now: () => number = () => performance.now(),
    private readonly nextFrame: (fn: () => void) => void = (fn) => { requestAnimationFrame(fn); },
  ) {
    this.group = svgEl('g', { id: look.id, fill: 'none', stroke: look.colour, 'stroke-linejoin': 'round' }, parent);
    if (look.filter) this.group.style.filter = look.filter;
    if (look.opacity !== undefined) this.group.setAttribute('opacity', String(look.opacity));
  }

  /** Shows the trail in the slide's place (the scene's transform) and keeps it fading. */
  show(trail: LaserTrail, transform: string): void {
    this.trail = trail;
    if (this.group.getAttribute('transform') !== transform) this.group.setAttribute('transform', transform);
    this.draw();
  }

  private draw(): void {
    const parts = this.trail?.frame(this.now()) ?? [];
    const pieces = this.look.whole ? wholeStrokes(parts) : parts;
    const kids = this.group.children as HTMLCollectionOf<SVGPathElement>;
    while (kids.length > pieces.length) kids[kids.length - 1].remove();
    pieces.forEach((piece, i) => {
      const el = kids[i] ?? svgEl('path', { 'vector-effect': 'non-scaling-stroke', 'stroke-width': this.look.widthPx }, this.group);
      // A lone point is a line of no length, which round caps draw as a dot.
      const [first, ...rest] = piece.points;
      const cap = rest.length > 0 ? this.look.caps : 'round';
      if (el.getAttribute('stroke-linecap') !== cap) el.setAttribute('stroke-linecap', cap);
      const d = `M${first.x} ${first.y}` + (rest.length > 0 ? rest : [first]).map((p) => ` L${p.x} ${p.y}`).join('');
      if (el.getAttribute('d') !== d) el.setAttribute('d', d);
      const opacity = String(piece.alpha);
      if (el.getAttribute('opacity') !== opacity) el.setAttribute('opacity', opacity);
    });
    if (pieces.length > 0 && !this.looping) {
      this.looping = true;
      this.nextFrame(() => {
        this.looping = false;
        this.draw();
      });
    }
  }
}

/**
 * The pieces of a frame joined stroke by stroke: a trail's frame ends every stroke with its
 * dot, so the stretches before a dot are that stroke's, and it takes the dot's brightness.
 */
export function wholeStrokes(pieces: readonly LaserPiece[]): LaserPiece[] {
  const out: LaserPiece[] = [];
  let points: Pt[] = [];
  for (const piece of pieces) {
    if (piece.points.length > 1) {
      for (const p of piece.points) {
        const last = points[points.length - 1];
        if (!last || last.x !== p.x || last.y !== p.y) points.push(p);
      }
      continue;
    }
    out.push({ points: points.length > 0 ? points : piece.points, alpha: piece.alpha });
    points = [];
  }
  return out;
}
