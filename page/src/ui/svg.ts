// Small helpers for building SVG and HTML elements.
const NS = 'http://www.w3.org/2000/svg';

export function svgEl<K extends keyof SVGElementTagNameMap>(tag: K, attrs: Record<string, string | number> = {}, parent?: Element): SVGElementTagNameMap[K] {
  const el = document.createElementNS(NS, tag);
  for (const [k, v] of Object.entries(attrs)) el.setAttribute(k, String(v));
  parent?.appendChild(el);
  return el;
}

export function htmlEl<K extends keyof HTMLElementTagNameMap>(tag: K, props: { className?: string; text?: string; attrs?: Record<string, string> } = {}, parent?: Element): HTMLElementTagNameMap[K] {
  const el = document.createElement(tag);
  if (props.className) el.className = props.className;
  if (props.text !== undefined) el.textContent = props.text;
  for (const [k, v] of Object.entries(props.attrs ?? {})) el.setAttribute(k, v);
  parent?.appendChild(el);
  return el;
}

/** A 24-unit line icon from path data. */
export function icon(d: string): SVGSVGElement {
  const s = svgEl('svg', { viewBox: '0 0 24 24', 'aria-hidden': 'true', class: 'icon' });
  svgEl('path', { d }, s);
  return s;
}
