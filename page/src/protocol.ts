// What the application and the page say to each other, spelled in one place on this side.
// Commands come in through SCB.command(...) with an "op"; messages go out through the web
// view's "scribbet" handler with a "type". Scribbet spells the same names in
// src/layer/page_protocol.hpp, and tests/contract/page_protocol.json holds examples both
// sides test.

/** Four numbers: x, y, width, height. */
export type Box = [number, number, number, number];

// ---- Commands: the application to the page --------------------------------------------------

export const COMMANDS = ['geom', 'host', 'note', 'slide', 'tool'] as const;
export type CommandName = (typeof COMMANDS)[number];

/** Where the slide lies in the layer, in layer points; pane is the editor's area while known. */
export interface GeomCommand { op: 'geom'; x: number; y: number; w: number; h: number; host: boolean; pz: number; fit: boolean; pane?: Box }
/** Whether the layer follows the program's own view (Accessibility) rather than the add-in's figures. */
export interface HostCommand { op: 'host'; on: boolean }
export interface NoteCommand { op: 'note'; text: string }
/** Whether the program shows another slide than the one being drawn on. */
export interface SlideCommand { op: 'slide'; other: boolean }
/** Answered with the tool the page has afterwards. */
export interface ToolCommand { op: 'tool'; tool: string }

export type Command = GeomCommand | HostCommand | NoteCommand | SlideCommand | ToolCommand;
export type CommandOf<K extends CommandName> = Extract<Command, { op: K }>;

/**
 * A command as it arrives: the fields have their names, but nothing is known of their values
 * until they are checked. Reading a field the command doesn't have is a type error.
 */
export type Incoming<T> = { readonly [F in keyof T]?: unknown };

/** One handler for each command, and none for anything else. */
export type CommandHandlers = { [K in CommandName]: (cmd: Incoming<CommandOf<K>>) => string };

export function isCommandName(op: unknown): op is CommandName {
  return typeof op === 'string' && (COMMANDS as readonly string[]).includes(op);
}

// ---- Messages: the page to the application --------------------------------------------------

export const MESSAGES = ['ready', 'regions', 'log', 'cancel'] as const;
export type MessageName = (typeof MESSAGES)[number];

/** The page has loaded and takes commands. */
export interface ReadyMessage { type: 'ready' }
/** The areas that must get the mouse, in whole layer points; all: the whole layer must. */
export interface RegionsMessage { type: 'regions'; rects: Box[]; all: boolean }
export interface LogMessage { type: 'log'; msg: string }
/** The user closed the layer from the page. */
export interface CancelMessage { type: 'cancel' }

export type Message = ReadyMessage | RegionsMessage | LogMessage | CancelMessage;
export type MessageOf<K extends MessageName> = Extract<Message, { type: K }>;

// ---- Shapes ---------------------------------------------------------------------------------
// Each command's and message's fields as data, so a value that came as JSON can be held to its
// type. The tables are checked against the types above: a field added, dropped or renamed
// there and not here (or the other way) doesn't compile.

export type Kind = 'number' | 'boolean' | 'string' | 'box' | 'boxes';
type KindOf<T> = [T] extends [number] ? 'number' : [T] extends [boolean] ? 'boolean' : [T] extends [string] ? 'string'
  : [T] extends [Box] ? 'box' : [T] extends [Box[]] ? 'boxes' : never;
export interface Field<K extends Kind = Kind> { kind: K; optional: boolean }
type Shape<T, Tag extends string> = { [F in Exclude<keyof T, Tag>]-?: Field<KindOf<NonNullable<T[F]>>> & { optional: undefined extends T[F] ? true : false } };

const need = <K extends Kind>(kind: K) => ({ kind, optional: false as const });
const may = <K extends Kind>(kind: K) => ({ kind, optional: true as const });

export const COMMAND_SHAPES: { [K in CommandName]: Shape<CommandOf<K>, 'op'> } = {
  geom: { x: need('number'), y: need('number'), w: need('number'), h: need('number'), host: need('boolean'), pz: need('number'), fit: need('boolean'), pane: may('box') },
  host: { on: need('boolean') },
  note: { text: need('string') },
  slide: { other: need('boolean') },
  tool: { tool: need('string') },
};

export const MESSAGE_SHAPES: { [K in MessageName]: Shape<MessageOf<K>, 'type'> } = {
  ready: {},
  regions: { rects: need('boxes'), all: need('boolean') },
  log: { msg: need('string') },
  cancel: {},
};

const isBox = (v: unknown): boolean => Array.isArray(v) && v.length === 4 && v.every((n) => typeof n === 'number' && Number.isFinite(n));

function fits(kind: Kind, v: unknown): boolean {
  switch (kind) {
    case 'number': return typeof v === 'number' && Number.isFinite(v);
    case 'boolean': return typeof v === 'boolean';
    case 'string': return typeof v === 'string';
    case 'box': return isBox(v);
    case 'boxes': return Array.isArray(v) && v.every(isBox);
  }
}

/** Whether an object has exactly the fields of a shape (besides its tag), each of its kind. */
function hasShape(v: Record<string, unknown>, tag: string, shape: Record<string, Field>): boolean {
  for (const key of Object.keys(v)) if (key !== tag && !(key in shape)) return false;
  return Object.entries(shape).every(([key, f]) => (v[key] === undefined ? f.optional : fits(f.kind, v[key])));
}

const isObject = (v: unknown): v is Record<string, unknown> => typeof v === 'object' && v !== null && !Array.isArray(v);

/** Whether a value is a command exactly as the application sends one. */
export function isCommand(v: unknown): v is Command {
  return isObject(v) && isCommandName(v.op) && hasShape(v, 'op', COMMAND_SHAPES[v.op]);
}

/** Whether a value is a message exactly as the page sends one. */
export function isMessage(v: unknown): v is Message {
  return isObject(v) && typeof v.type === 'string' && (MESSAGES as readonly string[]).includes(v.type) &&
    hasShape(v, 'type', MESSAGE_SHAPES[v.type as MessageName]);
}
