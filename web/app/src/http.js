// HTTP for a running program: fetched here in the page, so "■" can abort
// it; the answer goes to the waiting worker in chunks through httpBuf, with
// the desktop's time-outs (connecting, the whole transfer, a stalled one).
import { CTL, ctl, httpBuf } from './worker_link.js';

const HTTP = { chunk: 1, taken: 2, failed: 3 };
let current = null;
export const abortTransfer = () => { if (current) current.abort(); };

// Another site's page the browser would not hand over (no CORS header), or a
// server that does not answer: the browser tells the two apart to nobody.
export function crossSiteNote(url) {
  let other = false;
  try { other = new URL(url, location.href).origin !== location.origin; } catch (e) { /* not a URL */ }
  if (!other) return '';
  return 'ブラウザ版のプログラムは、読み込みを許可していない（CORS のヘッダーを送らない）ほかのサイトのページを読めません' +
         '（応答しないサーバーも同じエラーになります）。そのサイトのページは、デスクトップ版の velmora か velmora-run で' +
         '実行すれば読めます。';
}

// req: { url, body, connectMs, totalMs, stallMs }; note(text) says why a
// transfer failed where the engine's message cannot.
export async function fetchForWorker(req, note) {
  const ac = new AbortController();
  current = ac;
  let why = '', timer = 0, whole = 0;
  const limit = (ms, reason) => {
    clearTimeout(timer);
    if (ms > 0) timer = setTimeout(() => { why = reason; ac.abort(); }, ms);
  };
  if (req.totalMs > 0) whole = setTimeout(() => { why = 'time-out'; ac.abort(); }, req.totalMs);
  const give = async (bytes, failed) => {
    for (let at = 0; at < bytes.length || at === 0;) {
      if (ac.signal.aborted && !failed) return;
      const n = Math.min(httpBuf.length, bytes.length - at);
      httpBuf.set(bytes.subarray(at, at + n));
      ctl[CTL.chunk] = n;
      ctl[CTL.total] = bytes.length;
      Atomics.store(ctl, CTL.http, failed ? HTTP.failed : HTTP.chunk);
      Atomics.notify(ctl, CTL.http);
      at += n;
      // The worker takes the chunk (or was stopped or replaced).
      while (Atomics.load(ctl, CTL.http) !== HTTP.taken && Atomics.load(ctl, CTL.stop) === 0 && current === ac) {
        const w = Atomics.waitAsync(ctl, CTL.http, failed ? HTTP.failed : HTTP.chunk, 50);
        if (w.async) await w.value;
      }
      if (failed || at >= bytes.length) return;
    }
  };
  try {
    // http and https only, as the engine allows (a redirect elsewhere fails in the browser too).
    if (!/^https?:$/.test(new URL(req.url).protocol)) throw new Error('only http and https');
    limit(req.connectMs, 'connect time-out');
    const init = { signal: ac.signal, cache: 'no-store' };
    if (req.body !== null) {
      init.method = 'POST';
      init.body = req.body;
      init.headers = { 'Content-Type': 'application/x-www-form-urlencoded' };
    }
    const res = await fetch(req.url, init);
    const parts = [];
    let size = 0;
    const reader = res.body ? res.body.getReader() : null;
    for (;;) {
      limit(req.stallMs, 'stalled');
      if (!reader) break;
      const { done, value } = await reader.read();
      if (done) break;
      parts.push(value);
      size += value.length;
    }
    clearTimeout(timer);
    clearTimeout(whole);
    const h = n => res.headers.get(n) || '';
    const head = new TextEncoder().encode(JSON.stringify({
      status: res.status, statusText: res.statusText, length: h('content-length'), type: h('content-type'),
      modified: h('last-modified'), date: h('date'), encoding: h('content-encoding'), language: h('content-language') }) + '\n');
    const all = new Uint8Array(head.length + size);
    all.set(head);
    let at = head.length;
    for (const p of parts) { all.set(p, at); at += p.length; }
    await give(all, false);
  } catch (e) {
    clearTimeout(timer);
    clearTimeout(whole);
    if (current === ac && Atomics.load(ctl, CTL.stop) === 0) {
      // No answer at all from another site: most often it does not let browsers read it.
      if (!why && e instanceof TypeError) {
        const text = crossSiteNote(req.url);
        if (text) note(text);
      }
      await give(new TextEncoder().encode(why || (e && e.message) || 'network error'), true);
    }
  } finally {
    if (current === ac) current = null;
  }
}
