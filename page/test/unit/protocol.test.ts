import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { afterEach, describe, test } from 'node:test';
import { log, post, Regions } from '../../src/messages.js';
import { COMMANDS, COMMAND_SHAPES, MESSAGES, MESSAGE_SHAPES, isCommand, isCommandName, isMessage } from '../../src/protocol.js';
import { readGeom } from '../../src/query.js';

// The examples Scribbet's own tests hold its commands and readers to. From page/test/unit and
// from the built build/page-tests/unit alike, the source root is three folders up.
interface Examples { commands: Record<string, Record<string, unknown>[]>; messages: Record<string, Record<string, unknown>[]> }
const examples = JSON.parse(readFileSync(new URL('../../../tests/contract/page_protocol.json', import.meta.url), 'utf8')) as Examples;

const sorted = (names: Iterable<string>) => [...names].sort();

// Each way a value can be wrong by one field: one missing, one renamed, one too many, one of the wrong kind.
function mangled(v: Record<string, unknown>, tag: string): Record<string, unknown>[] {
  const out: Record<string, unknown>[] = [{ ...v, [tag]: `${String(v[tag])}s` }, { ...v, extra: 1 }];
  for (const key of Object.keys(v).filter((k) => k !== tag)) {
    const { [key]: value, ...rest } = v;
    out.push(rest, { ...rest, [`${key}_`]: value }, { ...v, [key]: typeof value === 'string' ? 1 : 'text' });
  }
  return out;
}

describe('commands', () => {
  test('the examples name exactly the commands the page dispatches', () => {
    assert.deepEqual(sorted(Object.keys(examples.commands)), sorted(COMMANDS));
    assert.deepEqual(sorted(Object.keys(COMMAND_SHAPES)), sorted(COMMANDS));
    for (const name of Object.keys(examples.commands)) assert.ok(isCommandName(name), name);
    assert.equal(isCommandName('Geom'), false);
  });

  test('every example is a command of its type, and one wrong field makes it none', () => {
    for (const [name, list] of Object.entries(examples.commands)) {
      assert.ok(list.length > 0, name);
      for (const ex of list) {
        assert.equal(ex.op, name);
        assert.ok(isCommand(ex), JSON.stringify(ex));
        for (const bad of mangled(ex, 'op')) {
          // Dropping the pane is no fault: it goes along only while it is known.
          if (name === 'geom' && !('pane' in bad) && !('pane_' in bad) && 'pane' in ex) continue;
          assert.equal(isCommand(bad), false, JSON.stringify(bad));
        }
      }
    }
  });

  test('the page takes the place of every slide the examples give', () => {
    for (const ex of examples.commands.geom) {
      const g = readGeom(ex);
      assert.ok(g.ok, JSON.stringify(ex));
      assert.deepEqual([g.rect, g.host], [{ x: ex.x, y: ex.y, w: ex.w, h: ex.h }, ex.host]);
      const pane = ex.pane as number[] | undefined;
      assert.deepEqual(g.pane, pane ? { x: pane[0], y: pane[1], w: pane[2], h: pane[3] } : null);
    }
  });
});

describe('messages', () => {
  const g = globalThis as unknown as { window?: unknown };
  afterEach(() => { delete g.window; });

  test('the examples name exactly the messages the page can send', () => {
    assert.deepEqual(sorted(Object.keys(examples.messages)), sorted(MESSAGES));
    assert.deepEqual(sorted(Object.keys(MESSAGE_SHAPES)), sorted(MESSAGES));
  });

  test('every example is a message of its type, and one wrong field makes it none', () => {
    for (const [name, list] of Object.entries(examples.messages)) {
      assert.ok(list.length > 0, name);
      for (const ex of list) {
        assert.equal(ex.type, name);
        assert.ok(isMessage(ex), JSON.stringify(ex));
        for (const bad of mangled(ex, 'type')) assert.equal(isMessage(bad), false, JSON.stringify(bad));
      }
    }
    assert.equal(isMessage({ type: 'regions', rects: [[1, 2, 3]], all: false }), false);
  });

  test('what the page posts is what the examples show', () => {
    const sent: unknown[] = [];
    g.window = { webkit: { messageHandlers: { scribbet: { postMessage: (m: unknown) => sent.push(m) } } } };
    post({ type: 'ready' });
    new Regions().update([{ x: 0.5, y: 1, w: 10, h: 10 }], true);
    log('A line');
    post({ type: 'cancel' });
    assert.equal(sent.length, 4);
    for (const m of sent) {
      assert.ok(isMessage(m), JSON.stringify(m));
      assert.ok(Object.keys(examples.messages).includes(m.type), m.type);
    }
  });
});
