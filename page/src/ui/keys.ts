// The page's keyboard: one table from keys to actions, so the toolbar's tooltips, the help
// and the handler can't disagree. Letters are read from the physical key, so they work with
// any keyboard layout and with Option held (which changes the character on a Mac).
import type { ToolName } from '../tools/names.js';

export type Action =
  | { do: 'tool'; tool: ToolName }
  | { do: 'undo' } | { do: 'redo' }
  | { do: 'delete' } | { do: 'duplicate' } | { do: 'selectAll' }
  | { do: 'fill' } | { do: 'wider' } | { do: 'thinner' }
  | { do: 'move'; dx: number; dy: number }
  | { do: 'nudge'; dx: number; dy: number }
  | { do: 'picture' }
  | { do: 'place'; close: boolean }
  | { do: 'escape' };

export interface KeyInput {
  key: string;
  code: string;
  shiftKey: boolean;
  altKey: boolean;
  metaKey: boolean;
  ctrlKey: boolean;
}

const TOOL_KEYS: Record<string, ToolName> = {
  KeyV: 'select', KeyA: 'direct', KeyP: 'pen', KeyH: 'highlighter',
  KeyL: 'shape:line', KeyW: 'shape:arrow', KeyR: 'shape:rect', KeyO: 'shape:ellipse',
  KeyE: 'eraser', KeyK: 'laser',
};

const ARROWS: Record<string, [number, number]> = {
  ArrowLeft: [-1, 0], ArrowRight: [1, 0], ArrowUp: [0, -1], ArrowDown: [0, 1],
};

export function keyAction(e: KeyInput): Action | null {
  // Command on a Mac, Control elsewhere (and in the test browser).
  const cmd = e.metaKey || e.ctrlKey;
  if (cmd && !e.altKey) {
    if (e.code === 'KeyZ') return e.shiftKey ? { do: 'redo' } : { do: 'undo' };
    if (e.code === 'KeyY' && !e.shiftKey) return { do: 'redo' };
    if (e.code === 'KeyD' && !e.shiftKey) return { do: 'duplicate' };
    if (e.code === 'KeyA' && !e.shiftKey) return { do: 'selectAll' };
    return null;
  }
  if (cmd) return null;
  const arrow = ARROWS[e.key];
  if (arrow) {
    const step = e.shiftKey ? 10 : 1;
    return e.altKey ? { do: 'nudge', dx: arrow[0] * step, dy: arrow[1] * step } : { do: 'move', dx: arrow[0] * step, dy: arrow[1] * step };
  }
  if (e.key === 'Escape') return { do: 'escape' };
  if (e.key === 'Enter') return { do: 'place', close: !e.shiftKey };
  if (e.altKey) return null;
  if (e.key === 'Delete' || e.key === 'Backspace') return { do: 'delete' };
  if (e.code === 'KeyI' && e.shiftKey) return { do: 'picture' };
  if (e.shiftKey) return null;
  if (TOOL_KEYS[e.code]) return { do: 'tool', tool: TOOL_KEYS[e.code] };
  if (e.code === 'KeyF') return { do: 'fill' };
  if (e.code === 'BracketRight') return { do: 'wider' };
  if (e.code === 'BracketLeft') return { do: 'thinner' };
  return null;
}
