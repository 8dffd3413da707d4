// Drawing the laser pointer's trail over the slide. The trail fades by itself, with no event to
// redraw it, so this layer runs its own frame loop, but only while some of the trail shows:
// once it has faded away the loop stops and the page is idle again.
import type { LaserTrail } from '../trail.js';
import { svgEl } from './svg.js';

/** Screen points: the trail is as thick at any zoom. */
const WIDTH_PX = 5;
/** A bright red with a glow, which shows on light and dark slides alike. */
const COLOUR = '#ff2d2d';
const GLOW = 'drop-shadow(0 0 3px rgba(255, 60, 60, 0.9))';

export class LaserLayer {
  private readonly group: SVGGElement;
  private trail: LaserTrail | null = null;
  private looping = false;

  constructor(
    parent: Element,
    private readonly now: () => number = () => performance.now(),
    private readonly nextFrame: (fn: () => void) => void = (fn) => { requestAnimationFrame(fn); },
  ) {
    this.group = svgEl('g', { id: 'laser', fill: 'none', stroke: COLOUR, 'stroke-linejoin': 'round' }, parent);
    this.group.style.filter = GLOW;
  }

  /** Shows the trail in the slide's place (the scene's transform) and keeps it fading. */
  show(trail: LaserTrail, transform: string): void {
    this.trail = trail;
    if (this.group.getAttribute('transform') !== transform) this.group.setAttribute('transform', transform);
    this.draw();
  }

  private draw(): void {
    const pieces = this.trail?.frame(this.now()) ?? [];
    const kids = this.group.children as HTMLCollectionOf<SVGPathElement>;
    while (kids.length > pieces.length) kids[kids.length - 1].remove();
    pieces.forEach((piece, i) => {
      const el = kids[i] ?? svgEl('path', { 'vector-effect': 'non-scaling-stroke', 'stroke-width': WIDTH_PX }, this.group);
      // A lone point is a line of no length, which round caps draw as a dot. Stretches end
      // square: round ends would overlap where two meet and show there as darker beads.
      const [first, ...rest] = piece.points;
      const cap = rest.length > 0 ? 'butt' : 'round';
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
