// The laser pointer's trail: where the pointer went while pressed, each point stamped with the
// time it was drawn. The trail is for pointing while presenting, so it is never an item: it
// fades by itself, each part of it about 1.5 s after it was drawn, and nothing of it is ever
// placed, kept or undone. No DOM and no clock here: times come from the caller, in ms.
import type { Pt } from './geometry.js';

export const LASER_FADE_MS = 1500;
/** Opacity steps: neighbouring parts of a step are drawn as one path. */
const LEVELS = 16;

export interface Stamped {
  p: Pt;
  /** When the point was drawn, in ms. */
  t: number;
}

/** A stretch of trail drawn at one opacity; a single point is a dot. */
export interface LaserPiece {
  points: Pt[];
  alpha: number;
}

/** How bright a part drawn at t still is at `now`: 1 when new, down to 0 at LASER_FADE_MS. */
export function laserAlpha(t: number, now: number): number {
  const left = 1 - Math.max(0, now - t) / LASER_FADE_MS;
  // Rounded up, so a part still alive never disappears early.
  return left <= 0 ? 0 : Math.ceil(left * LEVELS) / LEVELS;
}

/**
 * What of the trail shows at `now`. A stretch between two points fades with its older end, so
 * the trail shortens from its tail; each stroke's last point is a dot that fades with it. While
 * `held`, the last stroke's end is under the pointer and counts as drawn now.
 */
export function laserFrame(strokes: readonly (readonly Stamped[])[], held: boolean, now: number): LaserPiece[] {
  const out: LaserPiece[] = [];
  strokes.forEach((pts, si) => {
    if (pts.length === 0) return;
    let piece: LaserPiece | null = null;
    for (let i = 1; i < pts.length; i++) {
      const alpha = laserAlpha(pts[i - 1].t, now);
      if (alpha === 0) {
        piece = null;
        continue;
      }
      if (piece && piece.alpha === alpha) {
        piece.points.push(pts[i].p);
      } else {
        piece = { points: [pts[i - 1].p, pts[i].p], alpha };
        out.push(piece);
      }
    }
    const end = pts[pts.length - 1];
    const alpha = held && si === strokes.length - 1 ? 1 : laserAlpha(end.t, now);
    if (alpha > 0) out.push({ points: [end.p], alpha });
  });
  return out;
}

/** The trail as the pointer draws it: strokes of stamped points, the faded ones dropped. */
export class LaserTrail {
  private strokes: Stamped[][] = [];
  private held = false;

  down(p: Pt, t: number): void {
    this.prune(t);
    this.strokes.push([{ p, t }]);
    this.held = true;
  }

  move(p: Pt, t: number): void {
    if (!this.held) return;
    this.strokes[this.strokes.length - 1].push({ p, t });
    this.prune(t);
  }

  /** The pointer let go: the dot where it stopped fades from now on, like the rest. */
  up(t: number): void {
    if (!this.held) return;
    this.held = false;
    const pts = this.strokes[this.strokes.length - 1];
    const end = pts[pts.length - 1];
    pts[pts.length - 1] = { p: end.p, t: Math.max(end.t, t) };
  }

  frame(now: number): LaserPiece[] {
    this.prune(now);
    return laserFrame(this.strokes, this.held, now);
  }

  /** Whether nothing of the trail shows any more. */
  gone(now: number): boolean { return this.frame(now).length === 0; }

  /** Drops what has faded, so a long press keeps only the last 1.5 s of trail. */
  private prune(now: number): void {
    const last = this.strokes.length - 1;
    this.strokes = this.strokes.filter((pts, i) => {
      // A stretch lives while its older end does: faded points at the start take only faded
      // stretches with them. The last point stays for the stroke's dot.
      let dead = 0;
      while (dead < pts.length - 1 && laserAlpha(pts[dead].t, now) === 0) dead++;
      if (dead > 0) pts.splice(0, dead);
      return (this.held && i === last) || laserAlpha(pts[pts.length - 1].t, now) > 0;
    });
  }
}
