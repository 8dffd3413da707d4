// The pointer's look for each tool. The eraser's cursor is a ring as wide as the eraser takes,
// so the user sees what a sweep will catch; the laser's is a red dot, so the pointer is where
// the trail starts. Both are small SVG images with their hotspot at the centre, and name a
// cursor of the system's own in case the browser refuses the image.
import type { ToolName } from '../tools/names.js';

const svgUrl = (svg: string) => `url("data:image/svg+xml,${encodeURIComponent(svg)}")`;

/** A ring of the eraser's reach, dark inside a light edge, so it shows on any slide. */
export function eraserCursor(reachPx: number): string {
  const r = Math.max(2, Math.round(reachPx));
  const size = 2 * r + 4;
  const c = size / 2;
  const svg = `<svg xmlns='http://www.w3.org/2000/svg' width='${size}' height='${size}' viewBox='0 0 ${size} ${size}'>`
    + `<circle cx='${c}' cy='${c}' r='${r}' fill='rgba(255,255,255,0.35)' stroke='#fff' stroke-width='3'/>`
    + `<circle cx='${c}' cy='${c}' r='${r}' fill='none' stroke='#333' stroke-width='1.25'/>`
    + `<circle cx='${c}' cy='${c}' r='0.9' fill='#333'/></svg>`;
  return `${svgUrl(svg)} ${c} ${c}, cell`;
}

/** A red dot with a white ring and a soft glow. */
export function laserCursor(): string {
  const svg = `<svg xmlns='http://www.w3.org/2000/svg' width='16' height='16' viewBox='0 0 16 16'>`
    + `<circle cx='8' cy='8' r='7' fill='rgba(255,45,45,0.25)'/>`
    + `<circle cx='8' cy='8' r='4.5' fill='#ff2d2d' stroke='#fff' stroke-width='1.5'/></svg>`;
  return `${svgUrl(svg)} 8 8, crosshair`;
}

/** The cursor a tool sets on the drawing surface, or '' for the style sheet's own. */
export function cursorFor(tool: ToolName, eraseReachPx: number): string {
  if (tool === 'eraser') return eraserCursor(eraseReachPx);
  if (tool === 'laser') return laserCursor();
  return '';
}
