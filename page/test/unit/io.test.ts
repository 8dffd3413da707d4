import assert from 'node:assert/strict';
import { afterEach, test } from 'node:test';
import { Api } from '../../src/api.js';
import { Regions } from '../../src/messages.js';

const g = globalThis as unknown as { window?: unknown; fetch: typeof fetch };
const realFetch = g.fetch;
afterEach(() => { g.fetch = realFetch; delete g.window; });

function stubFetch(answer: (url: string, init: RequestInit) => Promise<Response>) {
  const calls: { url: string; init: RequestInit }[] = [];
  g.fetch = (async (url: string, init: RequestInit) => { calls.push({ url, init }); return answer(url, init); }) as typeof fetch;
  return calls;
}

test('every call carries the header; answers become ok with the server\'s sentence', async () => {
  const calls = stubFetch(async () => new Response('{"ok":true,"msg":"Placed.","shapes":[]}'));
  const a = await new Api().post('/api/insert', { path: 'M0 0 L1 1' });
  assert.deepEqual([a.ok, a.msg], [true, 'Placed.']);
  assert.equal((calls[0].init.headers as Record<string, string>)['x-scribbet'], '1');
  assert.equal(calls[0].init.method, 'POST');
  assert.equal(calls[0].init.body, '{"path":"M0 0 L1 1"}');
  await new Api().get('/api/theme');
  assert.equal((calls[1].init.headers as Record<string, string>)['x-scribbet'], '1');
});

test('failures of every kind become one sentence, and are reported', async () => {
  const seen: string[] = [];
  const api = new Api((what, a) => seen.push(`${what}: ${a.msg}`));
  stubFetch(async () => new Response('{"ok":false,"msg":"The add-in is not loaded."}'));
  assert.equal((await api.get('/api/slide')).msg, 'The add-in is not loaded.');
  stubFetch(async () => new Response('{"ok":false}'));
  assert.equal((await api.get('/api/slide')).msg, 'Scribbet could not do that.');
  stubFetch(async () => new Response('<html>oops</html>', { status: 500 }));
  assert.equal((await api.get('/api/slide')).msg, 'Scribbet sent an answer the page could not read.');
  stubFetch(async () => new Response('[1,2]'));
  assert.equal((await api.get('/api/slide')).ok, false);
  stubFetch(async () => { throw new TypeError('connection refused'); });
  assert.equal((await api.get('/api/slide')).msg, 'Scribbet did not answer.');
  stubFetch((_, init) => new Promise((_r, reject) => init.signal!.addEventListener('abort', () => reject(new Error('aborted')))));
  assert.equal((await api.get('/api/slide', { timeout: 20 })).msg, 'Scribbet took too long to answer.');
  assert.equal(seen.length, 6);
  assert.match(seen[0], /^GET \/api\/slide: The add-in/);
});

test('regions go out only when they change, rounded outwards, and nowhere without a handler', () => {
  const sent: unknown[] = [];
  const r = new Regions();
  assert.equal(r.update([{ x: 1, y: 1, w: 2, h: 2 }], false), true, 'no handler: nothing breaks');
  g.window = { webkit: { messageHandlers: { scribbet: { postMessage: (m: unknown) => sent.push(m) } } } };
  const r2 = new Regions();
  r2.update([{ x: 10.4, y: 20.6, w: 100.2, h: 50 }, { x: 0, y: 0, w: 0, h: 5 }, { x: NaN, y: 0, w: 5, h: 5 }], false);
  r2.update([{ x: 10.4, y: 20.6, w: 100.2, h: 50 }], false);
  r2.update([{ x: 10.4, y: 20.6, w: 100.2, h: 50 }], true);
  assert.deepEqual(sent, [
    { type: 'regions', rects: [[10, 20, 101, 51]], all: false },
    { type: 'regions', rects: [[10, 20, 101, 51]], all: true },
  ]);
});
