// Reading what the application tells the page: the address it loads the page with, and the
// "geom" command it sends whenever the slide moves. Both come from outside, so every member
// is checked and a bad one is reported rather than trusted.
import type { Pt, Rect } from './geometry.js';
import type { GeomCommand, Incoming } from './protocol.js';
import { normaliseTool, type ToolName } from './tools/names.js';

export interface Launch {
  rect: Rect;
  sw: number;
  sh: number;
  pane: Rect | null;
  nudge: Pt;
  note: string;
  tool: ToolName | null;
  host: boolean;
  ax: boolean;
  pz: number;
  fit: boolean;
  fitted: boolean;
  /** The drawing's slide identifier as digits; empty when not known. */
  slide: string;
  sid: string;
  /** What was missing or unreadable, for the log. */
  problems: string[];
}

const finite = (v: string | null): number | null => {
  if (v === null || v.trim() === '') return null;
  const n = Number(v);
  return Number.isFinite(n) ? n : null;
};

export function readLaunch(search: string, viewport: { w: number; h: number }): Launch {
  const q = new URLSearchParams(search);
  const problems: string[] = [];
  const x = finite(q.get('x')), y = finite(q.get('y')), w = finite(q.get('w')), h = finite(q.get('h'));
  let rect: Rect;
  if (x !== null && y !== null && w !== null && h !== null && w > 0 && h > 0) {
    rect = { x, y, w, h };
  } else {
    problems.push('the slide rectangle (x, y, w, h) is missing or unreadable');
    // Somewhere to draw all the same: a 16:9 frame in the middle of the screen.
    const fw = Math.max(320, viewport.w * 0.7);
    const fh = fw * 9 / 16;
    rect = { x: (viewport.w - fw) / 2, y: Math.max(0, (viewport.h - fh) / 2), w: fw, h: fh };
  }
  const pz = finite(q.get('pz'));
  let sw = finite(q.get('sw'));
  let sh = finite(q.get('sh'));
  if (sw === null || sw <= 0 || sh === null || sh <= 0) {
    problems.push('the slide size (sw, sh) is missing or unreadable');
    const s = pz !== null && pz > 0 ? pz / 100 : 1;
    sw = rect.w / s;
    sh = rect.h / s;
  }
  const px = finite(q.get('px')), py = finite(q.get('py')), pw = finite(q.get('pw')), ph = finite(q.get('ph'));
  const pane = px !== null && py !== null && pw !== null && ph !== null && pw > 0 && ph > 0 ? { x: px, y: py, w: pw, h: ph } : null;
  const host = q.get('host') === '1';
  // The stored offset only applies while the layer is placed from the add-in's numbers.
  const nudge = host ? { x: 0, y: 0 } : { x: finite(q.get('nx')) ?? 0, y: finite(q.get('ny')) ?? 0 };
  const toolText = q.get('tool');
  return {
    rect, sw, sh, pane, nudge,
    note: q.get('note') ?? '',
    tool: toolText ? normaliseTool(toolText) : null,
    host,
    ax: q.get('ax') === '1',
    pz: pz ?? (rect.w / sw) * 100,
    fit: q.get('fit') === '1',
    fitted: q.get('fitted') === '1',
    slide: (q.get('slide') ?? '').replace(/\D/g, ''),
    sid: q.get('sid') ?? '',
    problems,
  };
}

export type GeomUpdate =
  | { ok: true; rect: Rect; host: boolean | null; pane: Rect | null }
  | { ok: false; msg: string };

const num = (v: unknown): number | null => (typeof v === 'number' && Number.isFinite(v) ? v : null);

export function readGeom(cmd: Incoming<GeomCommand>): GeomUpdate {
  const x = num(cmd.x), y = num(cmd.y), w = num(cmd.w), h = num(cmd.h);
  if (x === null || y === null || w === null || h === null || w <= 0 || h <= 0) {
    return { ok: false, msg: 'a slide position without a usable x, y, w and h' };
  }
  let pane: Rect | null = null;
  if (Array.isArray(cmd.pane) && cmd.pane.length >= 4) {
    const [px, py, pw, ph] = cmd.pane.map(num);
    if (px !== null && py !== null && pw !== null && ph !== null) pane = { x: px, y: py, w: pw, h: ph };
  }
  return { ok: true, rect: { x, y, w, h }, host: typeof cmd.host === 'boolean' ? cmd.host : null, pane };
}
