// The floating toolbar: tools, colours, widths, fill, undo and redo, the slide picture, and
// placing. It sits beside the slide and moves with it; dragged by its grip, it keeps the
// place the user gave it relative to the slide.
import { FIXED, type Paint, cssColour, paintName, samePaint } from '../colors.js';
import type { Editor } from '../editor.js';
import { type Pt, type Rect, intersect } from '../geometry.js';
import { TOOLS, type ToolName } from '../tools/names.js';
import { htmlEl, icon } from './svg.js';

/** The widths offered, in points; every tool's own width is one of them, so one is always marked. */
export const WIDTHS = [0.75, 1.5, 2, 3, 6, 12, 24] as const;

export interface ToolbarActions {
  tool(name: ToolName): void;
  paint(p: Paint): void;
  width(w: number): void;
  fill(): void;
  undo(): void;
  redo(): void;
  picture(): void;
  place(close: boolean): void;
  close(): void;
  /** The toolbar is being dragged (true) or was let go (false). */
  dragging(on: boolean): void;
}

const GAP = 12;

export class Toolbar {
  readonly el: HTMLDivElement;
  private readonly tools = new Map<ToolName, HTMLButtonElement>();
  private readonly swatches: HTMLDivElement;
  private readonly widths: HTMLDivElement;
  private readonly fillBtn: HTMLButtonElement;
  private readonly undoBtn: HTMLButtonElement;
  private readonly redoBtn: HTMLButtonElement;
  private readonly placeBtn: HTMLButtonElement;
  private readonly offerBox: HTMLDivElement;
  private palette: { name: string; paint: Paint }[] = [...FIXED];
  /** Where the user dragged the toolbar, relative to the slide's top-left corner. */
  private placedAt: Pt | null = null;
  private slide: Rect = { x: 0, y: 0, w: 0, h: 0 };
  private pane: Rect | null = null;

  constructor(parent: HTMLElement, private readonly act: ToolbarActions) {
    this.el = htmlEl('div', { attrs: { id: 'toolbar', role: 'toolbar', 'aria-label': 'Drawing tools' } }, parent);
    const grip = htmlEl('div', { className: 'grip', attrs: { title: 'Drag to move the toolbar' } }, this.el);
    htmlEl('span', { text: 'Scribbet' }, grip);
    this.dragBy(grip);

    const tools = htmlEl('div', { className: 'tools' }, this.el);
    for (const t of TOOLS) {
      const b = this.button(tools, t.label, `${t.label} (${t.key})`, () => act.tool(t.name), t.icon);
      b.dataset.tool = t.name;
      this.tools.set(t.name, b);
    }

    htmlEl('div', { className: 'caption', text: 'Colour' }, this.el);
    this.swatches = htmlEl('div', { className: 'swatches', attrs: { role: 'radiogroup', 'aria-label': 'Colour' } }, this.el);
    htmlEl('div', { className: 'caption', text: 'Width (pt)' }, this.el);
    this.widths = htmlEl('div', { className: 'widths', attrs: { role: 'radiogroup', 'aria-label': 'Line width in points' } }, this.el);
    WIDTHS.forEach((w, i) => {
      const b = htmlEl('button', { className: 'width', attrs: { title: `${w} pt ([ and ] change it)`, 'aria-label': `${w} points`, 'data-width': String(w) } }, this.widths);
      const dot = htmlEl('span', {}, b);
      dot.style.height = `${Math.min(14, 1 + i * 2.4)}px`;
      b.addEventListener('click', () => act.width(w));
    });

    const row1 = htmlEl('div', { className: 'row' }, this.el);
    this.fillBtn = this.button(row1, 'Fill', 'Fill closed shapes (F)', () => act.fill(), 'M4 6h16v12H4z');
    this.fillBtn.classList.add('fill');
    this.button(row1, 'Slide', 'Show the slide picture to line up (Shift+I)', () => act.picture(), 'M3 5h18v14H3z M3 15l5-5 4 4 3-3 6 6');
    const row2 = htmlEl('div', { className: 'row' }, this.el);
    this.undoBtn = this.button(row2, 'Undo', 'Undo (⌘Z)', () => act.undo(), 'M9 14L4 9l5-5 M4 9h10a6 6 0 010 12h-3');
    this.redoBtn = this.button(row2, 'Redo', 'Redo (⇧⌘Z)', () => act.redo(), 'M15 14l5-5-5-5 M20 9H10a6 6 0 000 12h3');

    this.placeBtn = htmlEl('button', { className: 'place', text: 'Place', attrs: { title: 'Place on the slide and close (Return)' } }, this.el);
    this.placeBtn.addEventListener('click', () => act.place(true));
    const row3 = htmlEl('div', { className: 'row end' }, this.el);
    const keep = htmlEl('button', { className: 'small', text: 'Place & stay', attrs: { title: 'Place on the slide and go on drawing (Shift+Return)' } }, row3);
    keep.addEventListener('click', () => act.place(false));
    const close = htmlEl('button', { className: 'small', text: 'Close', attrs: { title: 'Close without placing (Esc)' } }, row3);
    close.addEventListener('click', () => act.close());
    this.offerBox = htmlEl('div', { className: 'offer', attrs: { role: 'alertdialog' } }, this.el);
    this.offerBox.hidden = true;
    // A click must not leave the focus on a button: Space would press it again, and Return
    // places the drawing whatever has the focus.
    this.el.addEventListener('mousedown', (e) => {
      if (e.target instanceof Element && e.target.closest('button')) e.preventDefault();
    });
    this.paintSwatches();
  }

  /** Asks a yes-or-no question under the buttons, or takes it away (null). */
  offer(text: string | null, answer?: { yes(): void; no(): void }): void {
    this.offerBox.replaceChildren();
    this.offerBox.hidden = text === null;
    if (text === null || !answer) return;
    htmlEl('div', { className: 'question', text }, this.offerBox);
    const row = htmlEl('div', { className: 'row' }, this.offerBox);
    htmlEl('button', { className: 'small yes', text: 'Bring back' }, row).addEventListener('click', () => answer.yes());
    htmlEl('button', { className: 'small no', text: 'Drop it' }, row).addEventListener('click', () => answer.no());
  }

  private button(parent: HTMLElement, label: string, tip: string, onClick: () => void, iconPath: string): HTMLButtonElement {
    const b = htmlEl('button', { className: 'btn', attrs: { title: tip, 'aria-label': label } }, parent);
    b.appendChild(icon(iconPath));
    htmlEl('span', { className: 'label', text: label }, b);
    b.addEventListener('click', onClick);
    return b;
  }

  setPalette(theme: Paint[]): void {
    this.palette = [...theme.map((p) => ({ name: paintName(p), paint: p })), ...FIXED];
    this.paintSwatches();
  }

  private paintSwatches(): void {
    this.swatches.replaceChildren();
    for (const { name, paint } of this.palette) {
      const b = htmlEl('button', { className: 'swatch', attrs: { title: name, 'aria-label': name, role: 'radio' } }, this.swatches);
      b.style.background = cssColour(paint);
      b.dataset.paint = paint.kind === 'theme' ? `theme:${paint.n}` : paint.hex;
      b.addEventListener('click', () => this.act.paint(paint));
    }
  }

  /** Shows the editor's state: the tool, the colour and width in use, undo and redo. */
  sync(ed: Editor, placing: boolean): void {
    for (const [name, b] of this.tools) b.setAttribute('aria-pressed', String(name === ed.tool));
    const cur = ed.shown();
    for (const [i, b] of [...this.swatches.children].entries()) {
      b.setAttribute('aria-checked', String(cur.paint !== null && samePaint(this.palette[i]?.paint ?? null, cur.paint)));
    }
    for (const b of this.widths.children) {
      b.setAttribute('aria-checked', String(Number((b as HTMLElement).dataset.width) === cur.width));
    }
    this.fillBtn.setAttribute('aria-pressed', String(cur.fill));
    this.fillBtn.disabled = !cur.canFill;
    this.undoBtn.disabled = !ed.history.canUndo;
    this.redoBtn.disabled = !ed.history.canRedo;
    this.placeBtn.disabled = placing;
    this.placeBtn.textContent = placing ? 'Placing…' : 'Place';
  }

  /**
   * Puts the toolbar beside the slide, or where the user left it, inside the window. Right of
   * the slide it may reach past the program's editor (there lie only its scroll bar and side
   * panes); left of the slide and over it, it stays within the editor when it can, off the
   * thumbnails and the ribbon, which a toolbar over them would take the mouse from.
   */
  layout(slide: Rect, pane: Rect | null = null): void {
    this.slide = slide;
    this.pane = pane;
    const w = this.el.offsetWidth, h = this.el.offsetHeight;
    const vw = window.innerWidth, vh = window.innerHeight;
    const win = { x: 0, y: 0, w: vw, h: vh };
    // An editor too small for the toolbar can't hold it: then only the window bounds it.
    const a = pane && pane.w >= w && pane.h >= h ? intersect(pane, win) ?? win : win;
    let x: number, y: number;
    if (this.placedAt) {
      x = slide.x + this.placedAt.x;
      y = slide.y + this.placedAt.y;
    } else {
      y = slide.y;
      if (slide.x + slide.w + GAP + w <= vw) x = slide.x + slide.w + GAP;
      else if (slide.x - GAP - w >= a.x) x = slide.x - GAP - w;
      else x = Math.max(a.x, Math.min(a.x + a.w - w, slide.x + slide.w - w - GAP));
      y = Math.max(a.y, Math.min(a.y + a.h - h, y));
    }
    x = Math.max(0, Math.min(vw - w, x));
    y = Math.max(0, Math.min(vh - h, y));
    this.el.style.transform = `translate(${Math.round(x)}px, ${Math.round(y)}px)`;
  }

  rect(): Rect {
    const b = this.el.getBoundingClientRect();
    return { x: b.left, y: b.top, w: b.width, h: b.height };
  }

  private dragBy(grip: HTMLElement): void {
    let start: { px: number; py: number; x: number; y: number } | null = null;
    grip.addEventListener('pointerdown', (e) => {
      const r = this.rect();
      start = { px: e.clientX, py: e.clientY, x: r.x, y: r.y };
      grip.setPointerCapture(e.pointerId);
      this.act.dragging(true);
      e.preventDefault();
    });
    grip.addEventListener('pointermove', (e) => {
      if (!start) return;
      this.placedAt = { x: start.x + e.clientX - start.px - this.slide.x, y: start.y + e.clientY - start.py - this.slide.y };
      this.layout(this.slide, this.pane);
    });
    const stop = () => {
      if (!start) return;
      start = null;
      this.act.dragging(false);
    };
    grip.addEventListener('pointerup', stop);
    grip.addEventListener('pointercancel', stop);
    grip.addEventListener('dblclick', () => { this.placedAt = null; this.layout(this.slide, this.pane); });
  }
}
