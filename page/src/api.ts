// Calls to Scribbet's JSON API. Every call carries the header the server asks for, has a
// time limit, and ends in an answer the page can show: a server that doesn't answer, or
// answers something that isn't JSON, becomes ok false with one sentence for the user.

export interface Answer {
  ok: boolean;
  /** The server's sentence, or the page's own when the server gave none. */
  msg: string;
  data: Record<string, unknown>;
  /**
   * Whether Scribbet's answer came and could be read. When it didn't (no answer in time, the
   * connection lost, an answer the page can't read), Scribbet may still have done what it was
   * asked.
   */
  answered: boolean;
}

export interface CallOptions {
  body?: unknown;
  /** Milliseconds; placing waits for the presentation program, which may take a minute. */
  timeout?: number;
}

export type Failure = (what: string, answer: Answer) => void;

export class Api {
  constructor(private readonly onFailure: Failure = () => {}) {}

  get(path: string, opts: CallOptions = {}): Promise<Answer> {
    return this.call('GET', path, opts);
  }

  post(path: string, body: unknown, opts: CallOptions = {}): Promise<Answer> {
    return this.call('POST', path, { ...opts, body });
  }

  async call(method: 'GET' | 'POST', path: string, opts: CallOptions): Promise<Answer> {
    const answer = await request(method, path, opts);
    if (!answer.ok) this.onFailure(`${method} ${path}`, answer);
    return answer;
  }
}

async function request(method: string, path: string, opts: CallOptions): Promise<Answer> {
  const ctl = new AbortController();
  const timer = setTimeout(() => ctl.abort(), opts.timeout ?? 15000);
  let text: string;
  try {
    const res = await fetch(path, {
      method,
      headers: method === 'POST' ? { 'x-scribbet': '1', 'content-type': 'application/json' } : { 'x-scribbet': '1' },
      body: method === 'POST' ? JSON.stringify(opts.body ?? {}) : undefined,
      signal: ctl.signal,
      cache: 'no-store',
    });
    text = await res.text();
  } catch {
    return fail(ctl.signal.aborted ? 'Scribbet took too long to answer.' : 'Scribbet did not answer.');
  } finally {
    clearTimeout(timer);
  }
  let data: unknown;
  try {
    data = JSON.parse(text);
  } catch {
    return fail('Scribbet sent an answer the page could not read.');
  }
  if (typeof data !== 'object' || data === null || Array.isArray(data)) {
    return fail('Scribbet sent an answer the page could not read.');
  }
  const map = data as Record<string, unknown>;
  const msg = typeof map.msg === 'string' ? map.msg : '';
  if (map.ok !== true) return { ok: false, msg: msg || 'Scribbet could not do that.', data: map, answered: true };
  return { ok: true, msg, data: map, answered: true };
}

function fail(msg: string): Answer {
  return { ok: false, msg, data: {}, answered: false };
}
