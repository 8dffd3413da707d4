// The page as a whole: it wires the editor to the pointer, the keyboard, the toolbar, the
// application's commands and Scribbet's API, and keeps the drawing safe across failures and
// reloads.
import { Api } from './api.js';
import { readTheme } from './colors.js';
import { ERASE_PX, Editor } from './editor.js';
import { warmInk } from './fit.js';
import { type Pt, type Rect, type View, inflate, intersect, scaleOf, shownRect, toLayer, toSlide, unionRect, visibleRect } from './geometry.js';
import { type Item, itemBounds } from './items.js';
import { log, post, Regions } from './messages.js';
import { type CommandHandlers, isCommandName } from './protocol.js';
import { type Outcome, type Placing, type PlacedRecord, newPlacingId, onSlide, outcomeOf, pending, placingNotice, placingOf, planPlacing, recordAnswer } from './place.js';
import { type Launch, readGeom, readLaunch } from './query.js';
import { type Kept, type KeptStorage, KeptDrawings, slideKey } from './store.js';
import { normaliseTool } from './tools/names.js';
import { cursorFor } from './ui/cursors.js';
import { type Action, keyAction } from './ui/keys.js';
import { Notices } from './ui/notice.js';
import { Scene } from './ui/scene.js';
import { htmlEl } from './ui/svg.js';
import { Toolbar, WIDTHS } from './ui/toolbar.js';

/**
 * The longest an edit waits to be kept: it is written when the page is idle, away from the
 * frames edits are drawn in, and at the latest this long after it was made.
 */
const SAVE_WITHIN_MS = 300;
/**
 * Scribbet answers every request to place, the first and each one asking again, within 80 s
 * of its arrival, whatever PowerPoint does (then with "still placing"); this is only for a
 * Scribbet that doesn't. A request given up on is asked for again like one that was never
 * answered: Scribbet may have it.
 */
const INSERT_TIMEOUT_MS = 90000;
const OTHER_SLIDE = 'The program shows another slide now - Place puts the drawing back on its own slide.';

export class App {
  readonly launch: Launch;
  readonly view: View;
  readonly ed: Editor;
  private host: boolean;
  /** The lining-up offset of the add-in's measurements; it doesn't apply while measured through Accessibility. */
  private addinNudge: Pt;
  private readonly api: Api;
  private readonly scene: Scene;
  private readonly toolbar: Toolbar;
  private readonly notices: Notices;
  private readonly regions = new Regions();
  private readonly surface: HTMLDivElement;
  private readonly frame: HTMLDivElement;
  private readonly picture: HTMLImageElement;
  private placed = new Map<string, PlacedRecord>();
  private placing = false;
  /** A placing sent whose answer never came: Scribbet may have placed it, or may be placing it still. */
  private unanswered: Placing | null = null;
  private toolbarDrag = false;
  private pictureOn = false;
  private pictureCount = 0;
  private escArmedUntil = 0;
  private nudgeTimer = 0;
  private frameQueued = false;
  private lastSlideKey = '';
  private readonly complained = new Set<string>();
  private pointerId: number | null = null;
  /** Nothing is saved before the kept drawing, if any, has been read back. */
  private started = false;
  private readonly kept: KeptDrawings;
  /** A drawing an earlier layer on this slide left unplaced, while the user is asked about it. */
  private offered: Kept | null = null;
  /** A write of the kept drawing waits for the page to be idle; it counts the edits it waits for. */
  private saveWaiting = 0;
  private saveCount = 0;
  private saveSince = 0;
  /** The items as last kept, and before the last edit, to tell a stroke just added (kept at once) from other edits. */
  private savedItems: readonly Item[] = [];
  private editedFrom: readonly Item[] = [];

  constructor(root: HTMLElement, search: string) {
    this.launch = readLaunch(search, { w: window.innerWidth, h: window.innerHeight });
    this.host = this.launch.host;
    this.addinNudge = { ...this.launch.nudge };
    this.view = { rect: this.launch.rect, sw: this.launch.sw, sh: this.launch.sh, nudge: { ...this.launch.nudge }, pane: this.launch.pane };
    this.api = new Api((what, a) => log(`${what} failed: ${a.msg}`));
    this.ed = new Editor((ms, fn) => { const t = window.setTimeout(fn, ms); return () => clearTimeout(t); }, () => this.changed());

    this.frame = htmlEl('div', { attrs: { id: 'frame' } }, root);
    this.picture = htmlEl('img', { attrs: { id: 'picture', alt: '' } }, root);
    this.picture.hidden = true;
    this.picture.addEventListener('error', () => {
      if (!this.pictureOn) return;
      this.hidePicture();
      this.notices.show('The slide picture could not be shown.', 'error');
    });
    this.scene = new Scene(root);
    this.surface = htmlEl('div', { attrs: { id: 'surface' } }, root);
    this.notices = new Notices(root, () => this.schedule());
    this.toolbar = new Toolbar(root, {
      tool: (t) => this.ed.setTool(t),
      paint: (p) => this.ed.setStyle({ paint: p }),
      width: (w) => this.ed.setStyle({ width: w }),
      fill: () => this.ed.setStyle({ fill: !this.ed.shown().fill }),
      undo: () => this.ed.undo(),
      redo: () => this.ed.redo(),
      picture: () => void this.togglePicture(),
      place: (close) => void this.place(close),
      close: () => this.requestClose('button'),
      dragging: (on) => { this.toolbarDrag = on; this.schedule(); },
    });

    if (this.launch.note) this.notices.show(this.launch.note, 'info', 9000);
    this.kept = new KeptDrawings(lastingStorage(), slideKey(this.launch.slide, this.launch.sw, this.launch.sh, this.launch.sid), log);
    this.restoreDrawing();
    if (this.launch.tool) this.ed.setTool(this.launch.tool);
    for (const p of this.launch.problems) log(`The page address lacks ${p}.`);
    this.started = true;
    this.pointer();
    // The first pen-up would otherwise compile the fitter's finishing steps in its own frame.
    window.setTimeout(() => { if (!this.ed.busy) warmInk(); }, 250);
    window.addEventListener('keydown', (e) => this.key(e));
    // The browser's own menu has nothing for a drawing, and would cover it.
    window.addEventListener('contextmenu', (e) => e.preventDefault());
    // A page on its way out (a reload, the layer closing) keeps what the pause had not kept.
    window.addEventListener('pagehide', () => { if (this.saveWaiting !== 0) this.save(); });
    window.addEventListener('resize', () => { this.lastSlideKey = ''; this.schedule(); });
    window.addEventListener('blur', () => {
      this.pointerId = null;
      if (this.ed.busy) this.ed.up({ shift: false, alt: false });
    });
    // The first frame comes after "ready", so the application hears that first.
    this.schedule();
    void this.loadTheme();
  }

  // ---- Commands from the application -----------------------------------------------------

  command(raw: unknown): string {
    try {
      const cmd = typeof raw === 'string' ? JSON.parse(raw) : raw;
      if (typeof cmd !== 'object' || cmd === null || Array.isArray(cmd)) return this.odd('a command that is not an object');
      const op: unknown = (cmd as { op?: unknown }).op;
      if (!isCommandName(op)) return this.odd(`the unknown command ${JSON.stringify(op ?? null).slice(0, 40)}`);
      return (this.handlers[op] as (c: object) => string)(cmd);
    } catch (e) {
      log(`A command failed: ${String(e)}`);
      return 'failed';
    }
  }

  // Every field a command has is checked here: it comes from outside.
  private readonly handlers: CommandHandlers = {
    geom: (c) => {
      const g = readGeom(c);
      if (!g.ok) return this.odd(g.msg);
      this.view.rect = g.rect;
      // A command without the editor's area means it is no longer known: nothing is cut.
      this.view.pane = g.pane;
      if (g.host !== null && g.host !== this.host) this.setHost(g.host);
      this.schedule();
      return 'ok';
    },
    host: (c) => {
      if (typeof c.on !== 'boolean') return this.odd('a "host" command without "on"');
      this.setHost(c.on);
      return 'ok';
    },
    note: (c) => {
      if (typeof c.text !== 'string') return this.odd('a "note" command without a text');
      this.notices.show(c.text, 'info', 12000);
      return 'ok';
    },
    slide: (c) => {
      if (typeof c.other !== 'boolean') return this.odd('a "slide" command without "other"');
      this.notices.warn(c.other ? OTHER_SLIDE : null);
      return 'ok';
    },
    tool: (c) => {
      if (typeof c.tool !== 'string') {
        this.odd('a "tool" command without a tool name');
        return this.ed.tool;
      }
      this.ed.setTool(normaliseTool(c.tool));
      return this.ed.tool;
    },
  };

  /** A command the page can't use: logged, and mentioned once so the user knows why. */
  private odd(what: string): string {
    log(`Ignored ${what}.`);
    if (!this.complained.has(what)) {
      this.complained.add(what);
      this.notices.show('Scribbet sent the page something it could not use; the drawing is kept.', 'error');
    }
    return 'ignored';
  }

  private setHost(on: boolean): void {
    this.host = on;
    this.view.nudge = on ? { x: 0, y: 0 } : { ...this.addinNudge };
    this.schedule();
  }

  // ---- Pointer -------------------------------------------------------------------------------

  private pointer(): void {
    const s = this.surface;
    const at = (e: PointerEvent) => toSlide(this.view, { x: e.clientX, y: e.clientY });
    const mods = (e: PointerEvent | KeyboardEvent) => ({ shift: e.shiftKey, alt: e.altKey });
    s.addEventListener('pointerdown', (e) => {
      // A second finger or pen while one draws is ignored; a pointer whose end never came
      // (the window lost it) doesn't block the next one.
      if (e.button !== 0 || (this.pointerId !== null && this.ed.busy)) return;
      e.preventDefault();
      this.pointerId = e.pointerId;
      s.setPointerCapture(e.pointerId);
      this.ed.ptPerPx = 1 / scaleOf(this.view);
      this.ed.down(at(e), mods(e));
    });
    s.addEventListener('pointermove', (e) => {
      if (e.pointerId !== this.pointerId) return;
      const all = typeof e.getCoalescedEvents === 'function' ? e.getCoalescedEvents() : [];
      for (const ev of all.length > 0 ? all : [e]) this.ed.move(at(ev), mods(e));
    });
    const finish = (e: PointerEvent, keep: boolean) => {
      if (e.pointerId !== this.pointerId) return;
      this.pointerId = null;
      if (keep) this.ed.up(mods(e));
      else this.ed.cancel();
    };
    s.addEventListener('pointerup', (e) => finish(e, true));
    // The system took the pointer away (a gesture, another window): keep what was drawn.
    s.addEventListener('pointercancel', (e) => finish(e, true));
    s.addEventListener('lostpointercapture', (e) => finish(e, true));
  }

  // ---- Keys ----------------------------------------------------------------------------------

  private key(e: KeyboardEvent): void {
    const a = keyAction(e);
    if (!a) return;
    e.preventDefault();
    this.perform(a);
  }

  perform(a: Action): void {
    const ed = this.ed;
    switch (a.do) {
      case 'tool': ed.setTool(a.tool); break;
      case 'undo': ed.undo(); break;
      case 'redo': ed.redo(); break;
      case 'delete': ed.deleteSelected(); break;
      case 'duplicate': ed.duplicateSelected(); break;
      case 'selectAll': ed.selectAll(); break;
      case 'fill': ed.setStyle({ fill: !ed.shown().fill }); break;
      case 'wider':
      case 'thinner': {
        const w = ed.shown().width ?? ed.current().width;
        const next = a.do === 'wider' ? WIDTHS.find((x) => x > w) : [...WIDTHS].reverse().find((x) => x < w);
        if (next !== undefined) ed.setStyle({ width: next });
        break;
      }
      case 'move': ed.moveSelected(a.dx, a.dy); break;
      case 'nudge': this.nudge(a.dx, a.dy); break;
      case 'picture': void this.togglePicture(); break;
      case 'place': void this.place(a.close); break;
      case 'escape': this.escape(); break;
    }
  }

  /** Escape: the gesture first, then the selection, then the layer itself. */
  private escape(): void {
    if (this.ed.cancel()) return;
    if (this.ed.selection.size > 0) {
      this.ed.select([]);
      return;
    }
    this.requestClose('esc');
  }

  /** Closes the layer, but never drops an unplaced drawing on a single key press or click. */
  private requestClose(how: 'esc' | 'button'): void {
    const { unplaced } = pending(this.ed.items, this.placed);
    if (unplaced > 0 && Date.now() > this.escArmedUntil) {
      this.escArmedUntil = Date.now() + 4000;
      const again = how === 'esc' ? 'Press Esc again' : 'Click Close again';
      this.notices.show(`${again} to close without placing - ${unplaced === 1 ? 'one change' : `${unplaced} changes`} would be lost.`, 'error', 4000);
      return;
    }
    this.clearSaved();
    post({ type: 'cancel' });
  }

  // ---- Lining up -----------------------------------------------------------------------------

  private nudge(dx: number, dy: number): void {
    this.view.nudge = { x: this.view.nudge.x + dx, y: this.view.nudge.y + dy };
    this.schedule();
    const { x, y } = this.view.nudge;
    if (this.host) {
      this.notices.show(`Frame moved to ${x}, ${y} pt for this drawing; it follows the program's view by itself.`);
      return;
    }
    this.addinNudge = { x, y };
    this.notices.show(`Frame offset ${x}, ${y} pt`, 'info', 2500);
    clearTimeout(this.nudgeTimer);
    // A held arrow key repeats; store the offset once the keys rest.
    this.nudgeTimer = window.setTimeout(async () => {
      const a = await this.api.post('/api/overlay/nudge', { x, y });
      if (!a.ok) this.notices.show(`The offset was not stored: ${a.msg}`, 'error');
    }, 300);
  }

  async togglePicture(): Promise<void> {
    if (this.pictureOn) {
      this.hidePicture();
      return;
    }
    this.pictureOn = true;
    const px = Math.round(this.view.rect.w * (window.devicePixelRatio || 1));
    const a = await this.api.get(`/api/slide?px=${px}`);
    if (!this.pictureOn) return;
    if (!a.ok) {
      this.pictureOn = false;
      this.notices.show(a.msg, 'error');
      return;
    }
    this.pictureCount += 1;
    this.picture.src = `/api/slide.png?n=${this.pictureCount}`;
    this.picture.hidden = false;
    this.notices.show('The slide picture is shown: Option+arrows line the frame up with it, Shift+I hides it.');
    this.schedule();
  }

  private hidePicture(): void {
    this.pictureOn = false;
    this.picture.hidden = true;
    this.picture.removeAttribute('src');
    this.schedule();
  }

  // ---- Placing ---------------------------------------------------------------------------------

  async place(close: boolean): Promise<void> {
    if (this.placing) return;
    this.ed.cancel();
    let earlier = '';
    if (this.unanswered) {
      // Asked for again before anything else, with the same identifier: Scribbet says what it
      // did with it (or waits for it to finish), and places it only if it never got it. Only
      // the layer's closing is left to the placing that follows.
      const again: Placing = { ...this.unanswered, body: { ...this.unanswered.body, close: false } };
      this.startPlacing();
      const r = await this.send(again);
      if (r.outcome !== 'placed') return this.placingFailed(r);
      earlier = r.msg;
    }
    const steps = planPlacing(this.ed.items, this.placed);
    if (steps.length === 0) {
      this.stopPlacing();
      if (close) await this.closeLayer();
      else if (earlier) this.notices.show(earlier);
      else if (this.ed.items.length === 0) this.notices.show('Nothing to place yet.');
      else this.notices.show('Nothing new to place: the slide has the drawing as it is.');
      return;
    }
    const removalOnly = steps.every((st) => st.items.length === 0);
    this.startPlacing();
    const r = await this.send(placingOf(steps, this.launch.slide, close, newPlacingId()));
    if (r.outcome !== 'placed') return this.placingFailed(r);
    this.stopPlacing();
    this.notices.show(removalOnly ? 'Taken off the slide.' : r.msg || 'Placed on the slide.');
    if (close) this.clearSaved();
  }

  /**
   * Sends one placing and records what it placed, part by part. Only a placing whose outcome
   * is yet to be told stays to be asked for again; one the program never confirmed is
   * dropped with the rest, or the next Place would ask for it again for ever.
   */
  private async send(placing: Placing): Promise<{ outcome: Outcome; msg: string; done: number; of: number }> {
    const a = await this.api.post('/api/insert', placing.body, { timeout: INSERT_TIMEOUT_MS });
    const outcome = outcomeOf(a.answered, a.data);
    this.unanswered = outcome === 'unanswered' ? placing : null;
    const r = recordAnswer(this.placed, placing, a.data);
    this.placed = r.placed;
    this.save();
    return { outcome, msg: a.msg, done: r.done, of: placing.steps.length };
  }

  private startPlacing(): void {
    if (this.placing) return;
    this.placing = true;
    this.notices.show('Placing…', 'info', 120000);
    this.schedule();
  }

  private stopPlacing(): void {
    this.placing = false;
    this.lastRemoved = this.removedNow();
    this.schedule();
  }

  private placingFailed(r: { outcome: Outcome; msg: string; done: number; of: number }): void {
    this.stopPlacing();
    if (r.outcome === 'placed') return;
    // The user must read to the end of this one before placing again.
    this.notices.show(placingNotice(r.outcome, r.msg, r.done, r.of), 'error', r.outcome === 'unknown' ? 30000 : undefined);
  }

  private async closeLayer(): Promise<void> {
    this.clearSaved();
    const a = await this.api.post('/api/overlay/close', {});
    if (!a.ok) post({ type: 'cancel' });
  }

  // ---- Theme, saving -----------------------------------------------------------------------------

  private async loadTheme(): Promise<void> {
    const a = await this.api.get('/api/theme');
    if (!a.ok) {
      this.notices.show(`Theme colours are not available (${a.msg}); the fixed colours are.`, 'error', 6000);
      return;
    }
    const t = readTheme(a.data.colors);
    if (!t.linked) log(`The theme answer held ${Array.isArray(a.data.colors) ? a.data.colors.length : 0} colours, not 12; they are offered as fixed colours.`);
    this.toolbar.setPalette(t.paints);
    this.schedule();
  }

  /**
   * Keeps the drawing, with what the slide holds of it, in the page's lasting storage: a
   * reload brings it back, and a layer that ends without asking leaves it for the next one.
   */
  private save(): void {
    this.saveWaiting = 0;
    if (!this.started) return;
    this.savedItems = this.ed.items;
    if (this.ed.items.length === 0 && this.placed.size === 0 && !this.unanswered) {
      this.kept.drop(this.launch.sid);
      return;
    }
    const kept: Kept = { sid: this.launch.sid, at: Date.now(), items: this.ed.items, placed: [...this.placed] };
    if (this.unanswered) kept.unanswered = this.unanswered;
    this.kept.put(kept);
  }

  /**
   * Keeps the drawing after an edit. A stroke or shape just added is kept at once: it is
   * small, and a page that dies a moment after the pen lifts must not lose it. Anything else
   * waits for the page to be idle, and for the frame of an edit still to be drawn, so no
   * write lands between an edit and its frame; it waits no longer than SAVE_WITHIN_MS.
   */
  private saveSoon(): void {
    const before = this.editedFrom;
    this.editedFrom = this.ed.items;
    // A selection or a tool changed: nothing to keep.
    if (this.ed.items === this.savedItems) return;
    if (added(before, this.ed.items)) {
      this.save();
      return;
    }
    if (this.saveWaiting !== 0) return;
    const waiting = ++this.saveCount;
    this.saveWaiting = waiting;
    this.saveSince = performance.now();
    const attempt = () => {
      if (this.saveWaiting !== waiting) return;
      const left = SAVE_WITHIN_MS - (performance.now() - this.saveSince);
      if (this.frameQueued && left > 0) whenIdle(attempt, left);
      else this.save();
    };
    whenIdle(attempt, SAVE_WITHIN_MS);
  }


  /** Forgets this layer's drawing: placed and closed, or dropped on purpose. */
  private clearSaved(): void {
    this.saveWaiting = 0;
    this.savedItems = [];
    this.kept.drop(this.launch.sid);
  }

  /**
   * This layer's own drawing comes back at once (the page was reloaded); one an earlier layer
   * left unplaced is offered, and only brought back when the user says so.
   */
  private restoreDrawing(): void {
    const all = this.kept.all(Date.now());
    const own = all.find((k) => k.sid === this.launch.sid);
    if (own && (own.items.length + own.placed.length > 0 || own.unanswered)) {
      this.placed = new Map(own.placed);
      this.unanswered = own.unanswered ?? null;
      // It is in storage as it is.
      this.savedItems = own.items;
      this.ed.restore(own.items);
      this.notices.show('The drawing is back after the page reloaded.');
    }
    for (const k of all) {
      if (k.sid === this.launch.sid || this.offered) continue;
      // Everything of it reached the slide: nothing to offer.
      if (pending(k.items, new Map(k.placed)).unplaced === 0 && !k.unanswered) this.kept.drop(k.sid);
      else this.offer(k);
    }
  }

  private offer(k: Kept): void {
    this.offered = k;
    this.toolbar.offer('Bring back the drawing you had not placed?', {
      yes: () => this.bringBack(),
      no: () => {
        this.kept.drop(k.sid);
        this.offered = null;
        this.toolbar.offer(null);
        this.schedule();
      },
    });
  }

  /** The earlier drawing goes under what is drawn now, as one step that undo takes back. */
  private bringBack(): void {
    const k = this.offered;
    if (!k) return;
    this.offered = null;
    this.toolbar.offer(null);
    this.ed.cancel();
    const have = new Set(this.ed.items.map((it) => it.id));
    const back = k.items.filter((it) => !have.has(it.id));
    this.placed = new Map([...k.placed.filter(([id]) => !this.placed.has(id)), ...this.placed]);
    // Its placing under way is asked for at the next Place; the page keeps only one, and one
    // of its own, newer, comes first.
    if (k.unanswered && !this.unanswered) this.unanswered = k.unanswered;
    else if (k.unanswered) log('A placing under way of the drawing brought back was dropped: this page has one of its own.');
    this.ed.commit([...back, ...this.ed.items]);
    // Kept from now on as this layer's own drawing: kept as that first, then forgotten as the
    // other, so a page that dies in between loses neither.
    this.save();
    this.kept.drop(k.sid);
    this.notices.show('The drawing you had not placed is back.');
  }

  // ---- Showing -------------------------------------------------------------------------------

  private changed(): void {
    if (!this.ed.busy) {
      this.saveSoon();
      this.noteRemovals();
    }
    this.schedule();
  }

  private lastItems: readonly Item[] = [];
  private lastRemoved = 0;

  /**
   * A placed item deleted or erased stays visible: it is the slide's own shape under the
   * layer. Say that the next placing takes it away, rather than leave the user wondering.
   */
  private noteRemovals(): void {
    if (this.ed.items === this.lastItems) return;
    this.lastItems = this.ed.items;
    const removed = this.removedNow();
    if (removed > this.lastRemoved && !this.placing) this.notices.show('Gone from the drawing; the slide keeps it until you place (Return or Shift+Return).');
    this.lastRemoved = removed;
  }

  private removedNow(): number {
    return this.placed.size === 0 ? 0 : pending(this.ed.items, this.placed).removed.length;
  }

  /** One render per frame, however many changes came in between. */
  schedule(): void {
    if (this.frameQueued) return;
    this.frameQueued = true;
    requestAnimationFrame(() => {
      this.frameQueued = false;
      this.render();
    });
  }

  private render(): void {
    const r = shownRect(this.view);
    const seen = visibleRect(this.view);
    const pane = this.view.pane ?? null;
    const key = `${r.x},${r.y},${r.w},${r.h}|${pane ? `${pane.x},${pane.y},${pane.w},${pane.h}` : ''}`;
    if (key !== this.lastSlideKey) {
      this.lastSlideKey = key;
      const clip = pane ? insetText(r, pane) : '';
      for (const el of [this.frame, this.picture]) {
        el.style.left = `${r.x}px`;
        el.style.top = `${r.y}px`;
        el.style.width = `${r.w}px`;
        el.style.height = `${r.h}px`;
        el.style.clipPath = clip;
      }
      this.toolbar.layout(seen, pane);
    }
    if (this.surface.dataset.tool !== this.ed.tool) {
      this.surface.dataset.tool = this.ed.tool;
      this.surface.style.cursor = cursorFor(this.ed.tool, ERASE_PX);
    }
    this.scene.render(this.view, this.ed, (it) => onSlide(it, this.placed));
    if (this.ed.busy) {
      // While drawing, only the stroke changes; the mouse must stay with the page.
      this.regions.update(this.lastRegions, true);
      return;
    }
    this.toolbar.sync(this.ed, this.placing);
    this.notices.layout(seen);
    this.lastRegions = this.mouseAreas(pane ? intersect(r, pane) : r);
    this.regions.update(this.lastRegions, this.toolbarDrag);
  }

  private lastRegions: Rect[] = [];

  /**
   * The slide, anything drawn beyond it, the toolbar and the messages take the mouse; of the
   * slide and the drawing only what lies in the program's editor, so its ribbon, thumbnails
   * and scroll bars stay the program's.
   */
  private mouseAreas(slide: Rect | null): Rect[] {
    let drawn: Rect | null = null;
    for (const it of this.ed.items) {
      const b = itemBounds(it);
      if (!b) continue;
      const a = toLayer(this.view, b);
      const z = toLayer(this.view, { x: b.x + b.w, y: b.y + b.h });
      drawn = unionRect(drawn, inflate({ x: a.x, y: a.y, w: z.x - a.x, h: z.y - a.y }, 8 + (it.style.width * scaleOf(this.view)) / 2));
    }
    const pane = this.view.pane ?? null;
    const rects = slide ? [slide, this.toolbar.rect()] : [this.toolbar.rect()];
    const chrome = this.scene.chromeBounds();
    const extra = unionRect(drawn, chrome);
    const kept = extra && pane ? intersect(extra, pane) : extra;
    if (kept) rects.push(kept);
    return rects;
  }
}

/** A CSS clip that keeps the part of a box at r that lies within the area a. */
function insetText(r: Rect, a: Rect): string {
  const top = Math.max(0, a.y - r.y), left = Math.max(0, a.x - r.x);
  const right = Math.max(0, r.x + r.w - (a.x + a.w)), bottom = Math.max(0, r.y + r.h - (a.y + a.h));
  return top || left || right || bottom ? `inset(${top}px ${right}px ${bottom}px ${left}px)` : '';
}

/** Whether `now` is `was` with a stroke or two added on top, and nothing else changed. */
function added(was: readonly Item[], now: readonly Item[]): boolean {
  if (now.length <= was.length || now.length - was.length > 2) return false;
  for (let i = 0; i < was.length; i++) if (now[i] !== was[i]) return false;
  return true;
}

/**
 * Runs fn once the page is idle: in an idle period where the browser has them, within `limit`
 * ms all the same; where it has none (WebKitGTK leaves requestIdleCallback off), just after the
 * next frame is drawn, or after `limit` ms for a page that draws no frames.
 */
function whenIdle(fn: () => void, limit: number): void {
  const idle = (window as { requestIdleCallback?: (cb: () => void, o: { timeout: number }) => number }).requestIdleCallback;
  if (typeof idle === 'function') {
    idle.call(window, fn, { timeout: Math.max(1, Math.round(limit)) });
    return;
  }
  let done = false;
  const once = () => {
    if (done) return;
    done = true;
    fn();
  };
  requestAnimationFrame(() => window.setTimeout(once, 0));
  window.setTimeout(once, limit);
}

/** The page's lasting storage; a page that may not use it keeps its drawing in memory only. */
function lastingStorage(): KeptStorage {
  try {
    const s = window.localStorage;
    if (s) return s;
  } catch {
    // Storage refused (a private context): fall through.
  }
  const m = new Map<string, string>();
  return {
    get length() { return m.size; },
    key: (i) => [...m.keys()][i] ?? null,
    getItem: (k) => m.get(k) ?? null,
    setItem: (k, v) => { m.set(k, v); },
    removeItem: (k) => { m.delete(k); },
  };
}
