// A stand-in for Scribbet's local server, for trying and testing the drawing page without
// the application: it serves web/ and answers the JSON API the way Scribbet does (host,
// origin and header checks, the replies' headers, sorted JSON, the routes and their
// failures), with a pretend add-in behind it that keeps a slide, its theme and the shapes
// placed on it, draws the slide picture, and can be told to fail.
//
//   node page/test/mock-server.mjs [port]     serves until stopped, and prints the page address
import { createServer } from 'node:http';
import { readFile, realpath } from 'node:fs/promises';
import { deflateSync } from 'node:zlib';
import { dirname, extname, join, resolve, sep } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
export const WEB = resolve(here, '..', '..', 'web');

const TYPES = {
  html: 'text/html; charset=utf-8',
  js: 'text/javascript; charset=utf-8',
  css: 'text/css; charset=utf-8',
  png: 'image/png',
  svg: 'image/svg+xml',
  json: 'application/json; charset=utf-8',
};

/** The placing names Scribbet can keep track of. */
const PLACING_ID = /^[\w.:-]{1,128}$/;

export const DEFAULT_THEME = ['#000000', '#FFFFFF', '#44546A', '#E7E6E6', '#4472C4', '#ED7D31',
  '#A5A5A5', '#FFC000', '#5B9BD5', '#70AD47', '#0563C1', '#954F72'];

// ---- The value readers Scribbet uses on request bodies --------------------------------------

export function readDouble(v) {
  if (typeof v === 'boolean') return v ? 1 : 0;
  if (typeof v === 'number') return Number.isFinite(v) ? v : null;
  if (typeof v === 'string') {
    const t = v.trim().replace(/,/g, '.');
    if (t === '' || !/^[-+]?(\d+\.?\d*|\.\d+)([eE][-+]?\d+)?$/.test(t)) return null;
    const n = Number(t);
    return Number.isFinite(n) ? n : null;
  }
  return null;
}

export function readString(v, fallback) {
  if (typeof v === 'string') return v;
  if (typeof v === 'boolean') v = v ? 1 : 0;
  if (typeof v === 'number' && Number.isFinite(v)) return Number.isInteger(v) && Math.abs(v) < 1e15 ? String(v) : String(v);
  return fallback;
}

function sortedJson(v) {
  if (Array.isArray(v)) return `[${v.map(sortedJson).join(',')}]`;
  if (v && typeof v === 'object') return `{${Object.keys(v).sort().map((k) => `${JSON.stringify(k)}:${sortedJson(v[k])}`).join(',')}}`;
  return JSON.stringify(v);
}

// ---- The pretend add-in's path reader: M, L, C, Z, absolute, numbers only -------------------

export function parsePath(text) {
  const re = /\s*(?:([MLCZ])|([-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?))\s*,?/y;
  const tokens = [];
  re.lastIndex = 0;
  while (re.lastIndex < text.length) {
    const at = re.lastIndex;
    const m = re.exec(text);
    if (!m || re.lastIndex === at) return { error: `The drawing cannot be read at character ${at + 1}.` };
    tokens.push(m[1] ?? Number(m[2]));
  }
  const subpaths = [];
  let cur = null;
  let i = 0;
  const pt = () => {
    const x = tokens[i], y = tokens[i + 1];
    if (typeof x !== 'number' || typeof y !== 'number' || Math.abs(x) > 1e6 || Math.abs(y) > 1e6) return null;
    i += 2;
    return [x, y];
  };
  while (i < tokens.length) {
    const c = tokens[i++];
    if (c === 'M') {
      const p = pt();
      if (!p) return { error: 'The drawing has a number missing.' };
      cur = { start: p, segs: [], closed: false };
      subpaths.push(cur);
    } else if ((c === 'L' || c === 'C' || c === 'Z') && cur && !cur.closed) {
      if (c === 'Z') { cur.closed = true; continue; }
      const pts = c === 'L' ? [pt()] : [pt(), pt(), pt()];
      if (pts.some((p) => !p)) return { error: 'The drawing has a number missing.' };
      cur.segs.push({ kind: c, pts });
    } else {
      return { error: 'The drawing must start each part with M and use only M, L, C and Z.' };
    }
  }
  if (subpaths.length === 0) return { error: 'The drawing is empty.' };
  return { subpaths };
}

/** Points along a subpath, for bounds and the picture. */
export function flatten(sp, steps = 24) {
  const out = [sp.start];
  let from = sp.start;
  for (const s of sp.segs) {
    if (s.kind === 'L') out.push(s.pts[0]);
    else {
      const [c1, c2, to] = s.pts;
      for (let k = 1; k <= steps; k++) {
        const t = k / steps, u = 1 - t;
        out.push([0, 1].map((d) => u * u * u * from[d] + 3 * u * u * t * c1[d] + 3 * u * t * t * c2[d] + t * t * t * to[d]));
      }
    }
    from = s.kind === 'L' ? s.pts[0] : s.pts[2];
  }
  if (sp.closed) out.push(sp.start);
  return out;
}

function paintOf(text, theme) {
  const t = text.trim();
  const m = /^theme:(\d+)$/i.exec(t);
  if (m) {
    const n = Number(m[1]);
    return n >= 1 && n <= 12 ? { rgb: hexRgb(theme[n - 1]), a: 1 } : null;
  }
  if (t.toLowerCase() === 'none') return { none: true };
  const h = /^#([0-9a-f]{6})([0-9a-f]{2})?$/i.exec(t);
  if (!h) return null;
  return { rgb: hexRgb(`#${h[1]}`), a: h[2] ? parseInt(h[2], 16) / 255 : 1 };
}

const hexRgb = (hex) => [1, 3, 5].map((i) => parseInt(hex.slice(i, i + 2), 16));

// ---- Pictures ---------------------------------------------------------------------------------

const CRC = new Uint32Array(256).map((_, n) => {
  let c = n;
  for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});
function crc32(buf) {
  let c = 0xffffffff;
  for (const b of buf) c = CRC[(c ^ b) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}
function chunk(type, data) {
  const len = Buffer.alloc(4);
  len.writeUInt32BE(data.length);
  const td = Buffer.concat([Buffer.from(type, 'ascii'), data]);
  const crc = Buffer.alloc(4);
  crc.writeUInt32BE(crc32(td));
  return Buffer.concat([len, td, crc]);
}
export function encodePng(w, h, rgb) {
  const raw = Buffer.alloc((w * 3 + 1) * h);
  for (let y = 0; y < h; y++) {
    raw[y * (w * 3 + 1)] = 0;
    rgb.copy(raw, y * (w * 3 + 1) + 1, y * w * 3, (y + 1) * w * 3);
  }
  const ihdr = Buffer.alloc(13);
  ihdr.writeUInt32BE(w, 0);
  ihdr.writeUInt32BE(h, 4);
  ihdr[8] = 8; ihdr[9] = 2; ihdr[10] = 0; ihdr[11] = 0; ihdr[12] = 0;
  return Buffer.concat([Buffer.from([137, 80, 78, 71, 13, 10, 26, 10]), chunk('IHDR', ihdr), chunk('IDAT', deflateSync(raw)), chunk('IEND', Buffer.alloc(0))]);
}

/** The slide as a picture: a pale page with a title bar, and every shape placed on it. */
function slidePicture(slide, widthPx) {
  const w = widthPx, h = Math.max(1, Math.round((widthPx * slide.h) / slide.w));
  const k = w / slide.w;
  const px = Buffer.alloc(w * h * 3, 0xf4);
  const blend = (x, y, rgb, a) => {
    if (x < 0 || y < 0 || x >= w || y >= h) return;
    const i = (y * w + x) * 3;
    for (let d = 0; d < 3; d++) px[i + d] = Math.round(px[i + d] * (1 - a) + rgb[d] * a);
  };
  // A title bar, so the picture has something to line up with.
  for (let y = Math.round(h * 0.08); y < Math.round(h * 0.2); y++) for (let x = Math.round(w * 0.08); x < Math.round(w * 0.92); x++) blend(x, y, [68, 114, 196], 1);
  for (const s of slide.shapes) {
    const pts = flatten(s.subpath).map(([x, y]) => [x * k, y * k]);
    const r = Math.max(0.7, (s.width * k) / 2);
    const mask = new Set();
    for (let i = 1; i < pts.length; i++) {
      const [x0, y0] = pts[i - 1], [x1, y1] = pts[i];
      const n = Math.max(1, Math.ceil(Math.hypot(x1 - x0, y1 - y0) / 0.5));
      for (let j = 0; j <= n; j++) {
        const cx = x0 + ((x1 - x0) * j) / n, cy = y0 + ((y1 - y0) * j) / n;
        for (let y = Math.floor(cy - r); y <= Math.ceil(cy + r); y++) {
          for (let x = Math.floor(cx - r); x <= Math.ceil(cx + r); x++) {
            if ((x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= r * r) mask.add(y * w + x);
          }
        }
      }
    }
    if (s.stroke.none) continue;
    for (const idx of mask) blend(idx % w, Math.floor(idx / w), s.stroke.rgb, s.stroke.a);
  }
  return encodePng(w, h, px);
}

// ---- The server ---------------------------------------------------------------------------------

export async function startMock({ port = 0, web = WEB, slide = { w: 960, h: 540, id: 257, index: 3 } } = {}) {
  const webReal = await realpath(web);
  const state = {
    slide: { w: slide.w, h: slide.h, id: slide.id, index: slide.index, shapes: [] },
    theme: [...DEFAULT_THEME],
    nextId: 2,
    /** Each call of the pretend add-in's insert: one part, with its request's slide, "close" on the last part. */
    inserts: [],
    /** Each request to /api/insert, as sent. */
    placings: [],
    /**
     * Whether the pretend add-in draws arrowheads. Not by default: an add-in from before them,
     * which Scribbet gives an arrow part's plain form (shaft and filled head).
     */
    arrowheads: false,
    /** Answers by placing identifier, as Scribbet remembers them. */
    remembered: new Map(),
    nudges: [],
    closes: 0,
    png: null,
    requests: [],
    failInserts: [],
    /** How the next new placings go, one each (see planPlacing below). */
    plans: [],
    themeAnswer: null,
    silent: false,
  };

  const server = createServer(async (req, res) => {
    const chunks = [];
    for await (const c of req) chunks.push(c);
    const body = Buffer.concat(chunks);
    const url = new URL(req.url, 'http://x');
    const path = decodeURIComponent(url.pathname);
    state.requests.push({ method: req.method, path, headers: { ...req.headers } });
    if (state.silent && path.startsWith('/api/')) return; // never answers
    const reply = await respond(req.method, path, url.searchParams, req.headers, body);
    res.writeHead(reply.code, {
      'Content-Type': reply.type,
      'Content-Length': reply.body.length,
      'Cache-Control': 'no-store',
      'X-Content-Type-Options': 'nosniff',
      Connection: 'close',
    });
    res.end(reply.body);
  });

  const json = (code, map) => ({ code, type: TYPES.json, body: Buffer.from(sortedJson(map)) });
  const ok = (map = {}) => json(200, { ...map, ok: true });

  async function respond(method, path, query, headers, body) {
    const P = server.address().port;
    const host = (headers.host ?? '').toLowerCase();
    if (host !== `127.0.0.1:${P}` && host !== `localhost:${P}`) return json(403, { ok: false, msg: 'Forbidden (host).' });
    if (path.startsWith('/api/')) {
      const origin = headers.origin?.toLowerCase();
      if (origin !== undefined && origin !== `http://127.0.0.1:${P}` && origin !== `http://localhost:${P}`) {
        return json(403, { ok: false, msg: 'Forbidden (origin).' });
      }
      const fetchSite = headers['sec-fetch-site'];
      const referer = headers.referer?.toLowerCase();
      const sameOrigin = fetchSite !== undefined ? fetchSite.toLowerCase() === 'same-origin'
        : referer !== undefined && (referer.startsWith(`http://127.0.0.1:${P}/`) || referer.startsWith(`http://localhost:${P}/`));
      const allowed = headers['x-scribbet'] === '1' || (method === 'GET' && path === '/api/slide.png' && sameOrigin);
      if (!allowed) return json(403, { ok: false, msg: 'Forbidden.' });
      return api(method, path, query, body);
    }
    if (method !== 'GET') return json(405, { ok: false, msg: 'Method not allowed.' });
    return file(path);
  }

  async function file(path) {
    const notFound = { code: 404, type: 'text/plain; charset=utf-8', body: Buffer.from('Not found') };
    const pieces = path.split('/').filter(Boolean);
    if (pieces.length === 0 || pieces.some((p) => p.startsWith('.') || p.includes('\\') || p.includes('\0'))) return notFound;
    const type = TYPES[extname(pieces[pieces.length - 1]).slice(1).toLowerCase()];
    if (!type) return notFound;
    try {
      const real = await realpath(join(webReal, ...pieces));
      if (!real.startsWith(webReal + sep)) return notFound;
      return { code: 200, type, body: await readFile(real) };
    } catch {
      return notFound;
    }
  }

  function bodyMap(body) {
    try {
      const v = JSON.parse(body.toString('utf8'));
      return v && typeof v === 'object' && !Array.isArray(v) ? v : {};
    } catch {
      return {};
    }
  }

  async function api(method, path, query, body) {
    const route = `${method} ${path}`;
    switch (route) {
      case 'GET /api/ping': return ok({ app: 'mock' });
      case 'GET /api/slide': {
        const t = query.get('px');
        let px = /^[-+]?\d+$/.test(t ?? '') ? Number(t) : NaN;
        px = !(px >= 1) ? 1600 : Math.min(8192, Math.max(64, px));
        state.png = slidePicture(state.slide, px);
        return ok({ index: state.slide.index, w: state.slide.w, h: state.slide.h });
      }
      case 'GET /api/slide.png':
        if (!state.png) return json(404, { ok: false, msg: 'No slide picture yet.' });
        return { code: 200, type: TYPES.png, body: state.png };
      case 'GET /api/theme':
        if (state.themeAnswer) return state.themeAnswer;
        return ok({ colors: state.theme.filter(Boolean) });
      case 'GET /api/state': return ok({ open: true });
      case 'POST /api/insert': {
        const b = bodyMap(body);
        // A placing whose name Scribbet could not keep is refused before anything is placed.
        if (b.id !== undefined && b.id !== null && !(typeof b.id === 'string' && PLACING_ID.test(b.id))) {
          return json(400, { ok: false, msg: 'Scribbet can only keep track of a placing named with up to 128 letters, digits and the signs - _ . :, so it placed nothing.' });
        }
        return json(200, insert(b));
      }
      case 'POST /api/link': {
        const id = bodyMap(body).id;
        return typeof id === 'string' && (id === 'upgrade' || id === 'support') ? ok({ opened: true }) : json(200, { ok: false, msg: 'Unknown link.' });
      }
      case 'POST /api/overlay/close': state.closes += 1; return ok();
      case 'POST /api/overlay/nudge': {
        const b = bodyMap(body);
        state.nudges.push({ x: readDouble(b.x) ?? 0, y: readDouble(b.y) ?? 0 });
        return ok();
      }
      default: return json(404, { ok: false, msg: `Unknown request: ${method} ${path}` });
    }
  }

  // A placing asked for again under its identifier is answered as it was, never placed twice.
  // A new one goes as the next plan says: still under way when it is answered (it ends, and is
  // remembered, all the same), or with the program never saying what became of one part.
  function insert(b) {
    state.placings.push(b);
    const id = typeof b.id === 'string' && PLACING_ID.test(b.id) ? b.id : null;
    const key = JSON.stringify({ ...b, close: undefined });
    const known = id === null ? undefined : state.remembered.get(id);
    if (known) return known.key === key ? known.answer : { ok: false, msg: 'Scribbet was asked to place another drawing under the same name, so it placed nothing. Place again.' };
    const plan = state.plans.shift() ?? {};
    const answer = placeAll(b, state.placings.length - 1, plan);
    if (id !== null) state.remembered.set(id, { key, answer });
    return plan.pending ? { ok: false, pending: true, msg: 'PowerPoint is still placing the drawing.' } : answer;
  }

  // The program took part `plan.unknownAt` and never answered: it did place it, unless the
  // plan says `lost`, and nothing after it was begun.
  function unconfirmed(p, placing, plan, parts) {
    if (!plan.lost) placeOne(p, placing);
    const msg = 'PowerPoint did not answer within five minutes, so Scribbet cannot tell whether it placed the drawing.';
    return parts ? { ok: false, unknown: true, msg, parts } : { ok: false, unknown: true, msg };
  }

  // Several parts go to the add-in one by one, in order, until one fails.
  function placeAll(b, placing, plan = {}) {
    if (!('parts' in b)) return plan.unknownAt === 0 ? unconfirmed(b, placing, plan, null) : placeOne(b, placing);
    const list = Array.isArray(b.parts) ? b.parts : [];
    const nothing = (p) => !p || typeof p !== 'object' || (readString(p.path, '').trim() === '' && !readString(p.replace, '').split(',').some((x) => x.trim()));
    if (list.length === 0 || list.some(nothing)) return { ok: false, msg: 'Nothing to place.' };
    const parts = [];
    for (const [i, p] of list.entries()) {
      // As Scribbet sends an arrow part: with its arrowhead, or its plain form to an older add-in.
      const headed = typeof p.arrowhead === 'string' && p.arrowhead !== '' && state.arrowheads;
      const plain = typeof p.arrowhead === 'string' && p.arrowhead !== '' && !headed && p.plain && typeof p.plain === 'object' ? { path: p.plain.path, fill: p.plain.fill } : {};
      const one = { ...p, ...plain, slide: b.slide, close: b.close === true && i === list.length - 1 };
      if (plan.unknownAt === i) return unconfirmed(one, placing, plan, parts);
      const a = placeOne(one, placing);
      if (!a.ok) return { ok: false, msg: a.msg, parts };
      parts.push(headed ? { shapes: a.shapes, arrowhead: true } : { shapes: a.shapes });
    }
    return { ok: true, msg: 'Placed on the slide as a PowerPoint freeform.', parts };
  }

  function placeOne(b, placing) {
    const req = {
      path: readString(b.path, ''),
      stroke: readString(b.stroke, '#1F1F1F'),
      width: readString(b.width, '1'),
      fill: readString(b.fill, 'none'),
      replace: readString(b.replace, ''),
      slide: readString(b.slide, '').replace(/\D/g, ''),
      close: b.close === true,
    };
    state.inserts.push({ body: b, args: req, placing });
    const replace = req.replace.split(',').map((s) => s.trim()).filter(Boolean);
    // An empty path that names shapes to replace removes them and places nothing.
    const removal = req.path.trim() === '';
    if (removal && replace.length === 0) return { ok: false, msg: 'Nothing to place.' };
    const failure = state.failInserts.shift();
    if (failure) return { ok: false, msg: failure };
    // The pretend add-in: reads everything before it changes anything.
    const parsed = removal ? { subpaths: [] } : parsePath(req.path);
    if (parsed.error) return { ok: false, msg: parsed.error };
    const stroke = paintOf(req.stroke, state.theme), fill = paintOf(req.fill, state.theme);
    if (!stroke || !fill) return { ok: false, msg: 'A colour is not one the add-in knows.' };
    const width = readDouble(req.width);
    if (width === null || width < 0 || width > 1584) return { ok: false, msg: 'The line width is not a number of points.' };
    if (req.slide !== '' && Number(req.slide) !== state.slide.id) return { ok: false, msg: `There is no slide with the identifier ${req.slide}.` };
    for (const id of replace) {
      if (!state.slide.shapes.some((s) => String(s.id) === id)) return { ok: false, msg: `There is no shape with the identifier ${id} on that slide.` };
    }
    const placed = parsed.subpaths.map((sp, k) => {
      const id = state.nextId++;
      const pts = flatten(sp);
      const xs = pts.map((p) => p[0]), ys = pts.map((p) => p[1]);
      const shape = {
        id, name: `Freeform ${id - 1}`, subpath: sp, stroke, fill, width, strokeText: req.stroke, fillText: req.fill,
        frame: { l: Math.min(...xs), t: Math.min(...ys), w: Math.max(...xs) - Math.min(...xs), h: Math.max(...ys) - Math.min(...ys) },
      };
      state.slide.shapes.push(shape);
      return { k, name: shape.name, id, l: shape.frame.l, t: shape.frame.t, w: shape.frame.w, h: shape.frame.h, rot: 0, fh: false, fv: false };
    });
    state.slide.shapes = state.slide.shapes.filter((s) => !replace.includes(String(s.id)));
    return { ok: true, msg: 'Placed on the slide as a PowerPoint freeform.', shapes: placed };
  }

  await new Promise((r) => server.listen(port, '127.0.0.1', r));
  const P = server.address().port;
  let opened = 0;
  return {
    port: P,
    origin: `http://127.0.0.1:${P}`,
    state,
    /** The slide as the pretend add-in would picture it now. */
    slidePng: (px = 1280) => slidePicture(state.slide, px),
    /** The next inserts answer ok false with these messages, one each. */
    failInserts: (...msgs) => state.failInserts.push(...msgs),
    /**
     * How the next new placing goes: `pending` answers it "still placing" though it ends (a
     * request asking for it again hears how); `unknownAt` is the part the program never
     * answered for, which it placed all the same unless `lost`.
     */
    planPlacing: (plan) => state.plans.push(plan),
    pageUrl(params = {}) {
      // Each opening has its own identifier, as each layer has: a page only takes back, unasked,
      // the drawing of its own opening.
      opened += 1;
      const q = new URLSearchParams({ sw: '960', sh: '540', x: '100', y: '80', w: '960', h: '540', note: 'PowerPoint reported the slide position', host: '0', ax: '0', pz: '100', sid: `test-${opened}`, v: '1', ...params });
      return `http://127.0.0.1:${P}/overlay.html?${q}`;
    },
    close: () => new Promise((r) => { server.closeAllConnections?.(); server.close(r); }),
  };
}

if (process.argv[1] && resolve(process.argv[1]) === fileURLToPath(import.meta.url)) {
  const mock = await startMock({ port: Number(process.argv[2] ?? 3921) });
  console.log(`Mock Scribbet on ${mock.origin}; the page: ${mock.pageUrl({ sw: '960', sh: '540', x: '160', y: '120', w: '800', h: '450', pz: '83.30', slide: '257' })}`);
}
