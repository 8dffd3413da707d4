// Colours as the page offers them and as the add-in receives them. A theme colour stays a
// theme colour on the slide ("theme:N"), so the drawing follows a later change of theme; a
// fixed colour is sent as "#RRGGBB", and a see-through one as "#RRGGBBAA".

export type Paint =
  | { kind: 'theme'; n: number; hex: string }
  | { kind: 'rgb'; hex: string };

export const THEME_NAMES = [
  'Dark 1', 'Light 1', 'Dark 2', 'Light 2',
  'Accent 1', 'Accent 2', 'Accent 3', 'Accent 4', 'Accent 5', 'Accent 6',
  'Hyperlink', 'Followed hyperlink',
] as const;

export const FIXED: readonly { name: string; paint: Paint }[] = [
  { name: 'Black', paint: { kind: 'rgb', hex: '#1F1F1F' } },
  { name: 'White', paint: { kind: 'rgb', hex: '#FFFFFF' } },
  { name: 'Red', paint: { kind: 'rgb', hex: '#E0282E' } },
  { name: 'Orange', paint: { kind: 'rgb', hex: '#F57C00' } },
  { name: 'Yellow', paint: { kind: 'rgb', hex: '#FFD60A' } },
  { name: 'Green', paint: { kind: 'rgb', hex: '#2E9E44' } },
  { name: 'Blue', paint: { kind: 'rgb', hex: '#1E6FD9' } },
  { name: 'Purple', paint: { kind: 'rgb', hex: '#8E3CC8' } },
];

/** "#RRGGBB" in upper case from "#rrggbb" or "rrggbb"; null for anything else. */
export function normHex(text: unknown): string | null {
  if (typeof text !== 'string') return null;
  const m = /^\s*#?([0-9a-fA-F]{6})\s*$/.exec(text);
  return m ? `#${m[1].toUpperCase()}` : null;
}

export interface ThemeColours {
  paints: Paint[];
  /**
   * True when the answer held the whole theme, twelve colours in their order, so that the
   * n-th colour really is theme colour n. With fewer, the positions can't be trusted and the
   * colours are offered as fixed ones.
   */
  linked: boolean;
}

export function readTheme(colors: unknown): ThemeColours {
  if (!Array.isArray(colors)) return { paints: [], linked: false };
  const hexes = colors.map(normHex);
  if (hexes.length === 12 && hexes.every((h) => h !== null)) {
    return { paints: hexes.map((hex, i) => ({ kind: 'theme', n: i + 1, hex: hex! })), linked: true };
  }
  const seen = new Set<string>();
  const paints: Paint[] = [];
  for (const hex of hexes) {
    if (hex && !seen.has(hex)) { seen.add(hex); paints.push({ kind: 'rgb', hex }); }
  }
  return { paints, linked: false };
}

const alphaHex = (alpha: number) => Math.round(Math.max(0, Math.min(1, alpha)) * 255).toString(16).toUpperCase().padStart(2, '0');

/** The colour text for the add-in. A see-through colour can't be a theme colour there. */
export function paintText(paint: Paint, alpha = 1): string {
  if (alpha < 1) return paint.hex + alphaHex(alpha);
  return paint.kind === 'theme' ? `theme:${paint.n}` : paint.hex;
}

export function cssColour(paint: Paint, alpha = 1): string {
  return alpha < 1 ? paint.hex + alphaHex(alpha) : paint.hex;
}

export function samePaint(a: Paint | null, b: Paint | null): boolean {
  if (!a || !b) return a === b;
  return a.kind === b.kind && a.hex === b.hex && (a.kind !== 'theme' || a.n === (b as { n: number }).n);
}

export function paintName(paint: Paint): string {
  if (paint.kind === 'theme') return `${THEME_NAMES[paint.n - 1]} (${paint.hex})`;
  return FIXED.find((f) => f.paint.hex === paint.hex)?.name ?? paint.hex;
}
