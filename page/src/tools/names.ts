// The tools by name. The application names six of them in its links and "tool" commands;
// the highlighter is the page's own.
export type ToolName = 'pen' | 'highlighter' | 'shape:rect' | 'shape:ellipse' | 'shape:line' | 'select' | 'direct';

export const TOOLS: readonly { name: ToolName; label: string; key: string; icon: string }[] = [
  { name: 'select', label: 'Select', key: 'V', icon: 'M5 3l13 8-6 1.5L9 19z' },
  { name: 'direct', label: 'Edit points', key: 'A', icon: 'M5 3l13 8-6 1.5L9 19z M15 17h5v5h-5z' },
  { name: 'pen', label: 'Pen', key: 'P', icon: 'M4 20l2-6L16 4l4 4L10 18z M14 6l4 4' },
  { name: 'highlighter', label: 'Highlighter', key: 'H', icon: 'M5 19h6 M7 15l8-10 4 3-8 10H7z' },
  { name: 'shape:line', label: 'Line', key: 'L', icon: 'M5 19L19 5' },
  { name: 'shape:rect', label: 'Rectangle', key: 'R', icon: 'M4 6h16v12H4z' },
  { name: 'shape:ellipse', label: 'Ellipse', key: 'O', icon: 'M12 5c5 0 9 3 9 7s-4 7-9 7-9-3-9-7 4-7 9-7z' },
];

/** A tool name as the application may send it; anything unknown is the pen. */
export function normaliseTool(text: string): ToolName {
  const t = text.trim().toLowerCase();
  const aliases: Record<string, ToolName> = { marker: 'highlighter', rect: 'shape:rect', ellipse: 'shape:ellipse', line: 'shape:line' };
  const found = TOOLS.find((x) => x.name === t)?.name ?? aliases[t];
  return found ?? 'pen';
}
