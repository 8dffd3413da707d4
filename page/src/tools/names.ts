// The tools by name. The application names six of them in its links and "tool" commands;
// the highlighter, the arrow, the eraser and the laser pointer are the page's own.
export type ToolName = 'pen' | 'highlighter' | 'shape:rect' | 'shape:ellipse' | 'shape:line' | 'shape:arrow' | 'select' | 'direct' | 'eraser' | 'laser';

export const TOOLS: readonly { name: ToolName; label: string; key: string; icon: string }[] = [
  { name: 'select', label: 'Select', key: 'V', icon: 'M5 3l13 8-6 1.5L9 19z' },
  { name: 'direct', label: 'Edit points', key: 'A', icon: 'M5 3l13 8-6 1.5L9 19z M15 17h5v5h-5z' },
  { name: 'pen', label: 'Pen', key: 'P', icon: 'M4 20l2-6L16 4l4 4L10 18z M14 6l4 4' },
  { name: 'highlighter', label: 'Highlighter', key: 'H', icon: 'M5 19h6 M7 15l8-10 4 3-8 10H7z' },
  { name: 'shape:line', label: 'Line', key: 'L', icon: 'M5 19L19 5' },
  { name: 'shape:arrow', label: 'Arrow', key: 'W', icon: 'M5 19L17 7 M10 5h9v9' },
  { name: 'shape:rect', label: 'Rectangle', key: 'R', icon: 'M4 6h16v12H4z' },
  { name: 'shape:ellipse', label: 'Ellipse', key: 'O', icon: 'M12 5c5 0 9 3 9 7s-4 7-9 7-9-3-9-7 4-7 9-7z' },
  { name: 'eraser', label: 'Eraser', key: 'E', icon: 'M8 20l-4-4L14 6l6 6-8 8z M9 11l6 6 M8 20h12' },
  { name: 'laser', label: 'Laser', key: 'K', icon: 'M3 20c3-1 4-6 9-8 M15 9a2 2 0 104 0 2 2 0 10-4 0z M17 2.5v2 M23.5 9h-2 M21.6 4.4l-1.4 1.4' },
];

/** A tool name as the application may send it; anything unknown is the pen. */
export function normaliseTool(text: string): ToolName {
  const t = text.trim().toLowerCase();
  const aliases: Record<string, ToolName> = { marker: 'highlighter', rect: 'shape:rect', ellipse: 'shape:ellipse', line: 'shape:line', arrow: 'shape:arrow' };
  const found = TOOLS.find((x) => x.name === t)?.name ?? aliases[t];
  return found ?? 'pen';
}
