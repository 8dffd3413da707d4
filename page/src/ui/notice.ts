// Short messages over the slide: a notice that goes by itself, and the warning that stays
// while the program shows another slide. Neither takes the mouse: a stroke that starts under
// a message must still draw.
import { htmlEl } from './svg.js';

export type Tone = 'info' | 'error';

export class Notices {
  readonly el: HTMLDivElement;
  readonly banner: HTMLDivElement;
  private timer = 0;

  constructor(parent: HTMLElement, private readonly changed: () => void) {
    this.el = htmlEl('div', { attrs: { id: 'notice', role: 'status', 'aria-live': 'polite' } }, parent);
    this.el.hidden = true;
    this.banner = htmlEl('div', { attrs: { id: 'banner', role: 'alert' } }, parent);
    this.banner.hidden = true;
  }

  show(text: string, tone: Tone = 'info', ms = tone === 'error' ? 10000 : 6000): void {
    if (!text) return;
    this.el.textContent = text;
    this.el.dataset.tone = tone;
    this.el.hidden = false;
    clearTimeout(this.timer);
    this.timer = window.setTimeout(() => this.hide(), ms);
    this.changed();
  }

  hide(): void {
    clearTimeout(this.timer);
    if (this.el.hidden) return;
    this.el.hidden = true;
    this.changed();
  }

  warn(text: string | null): void {
    this.banner.hidden = !text;
    this.banner.textContent = text ?? '';
    this.changed();
  }

  /** Puts both at the top of the slide. */
  layout(slide: { x: number; y: number; w: number }): void {
    const cx = `${Math.round(slide.x + slide.w / 2)}px`;
    this.banner.style.left = cx;
    this.banner.style.top = `${Math.round(Math.max(4, slide.y + 8))}px`;
    this.el.style.left = cx;
    this.el.style.top = `${Math.round(Math.max(4, slide.y + (this.banner.hidden ? 8 : 44)))}px`;
  }
}
