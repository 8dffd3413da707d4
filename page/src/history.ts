// Undo and redo over whole states. States share everything that didn't change, so keeping a
// few hundred of them costs little.
export class History<T> {
  private past: T[] = [];
  private future: T[] = [];

  constructor(public present: T, private readonly limit = 300) {}

  push(next: T): void {
    if (next === this.present) return;
    this.past.push(this.present);
    if (this.past.length > this.limit) this.past.shift();
    this.present = next;
    this.future = [];
  }

  /** Starts over from `present`, with nothing to undo or redo. */
  reset(present: T): void {
    this.past = [];
    this.future = [];
    this.present = present;
  }

  undo(): boolean {
    const prev = this.past.pop();
    if (prev === undefined) return false;
    this.future.push(this.present);
    this.present = prev;
    return true;
  }

  redo(): boolean {
    const next = this.future.pop();
    if (next === undefined) return false;
    this.past.push(this.present);
    this.present = next;
    return true;
  }

  get canUndo(): boolean { return this.past.length > 0; }
  get canRedo(): boolean { return this.future.length > 0; }
}
