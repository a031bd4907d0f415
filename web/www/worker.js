// The playground's worker: the WebAssembly environment runs here, so the
// page never freezes. The page talks to it with messages; while a program
// runs, the stop button, the input line and HTTP answers reach it through
// shared memory (see CTL below).
//
// DATA lives in the module's in-memory file system. A file a program closes
// after writing (or stores whole) goes to the page at once, and the program
// waits for the page's answer that the browser kept it: a file the browser
// refused fails the close (or the store), which the engine reports as the
// file error "- ファイルI/Oエラー" with the path. Other changes (a delete, a
// directory made or removed) go within a fifth of a second. The page writes
// each into IndexedDB, one record per file; a file opened for appending goes
// as the part appended, which the store adds to the file as it is then.
'use strict';
importScripts('velmora.js', 'canvas.js');

const HOME = '/velmora', DATA = '/velmora/DATA';
// ctl: shared Int32 cells (the page's copy: worker_link.js). heartbeat
// counts up while the worker works, so that the page can tell a worker that
// died; storeAck is the number of the last report the page has answered,
// storeOk whether the browser kept it.
const CTL = { stop: 0, lineReady: 1, lineLength: 2, http: 3, chunk: 4, total: 5, heartbeat: 6, storeAck: 7, storeOk: 8 };
const EIO = 29;
// ctl[CTL.http]: the state of the HTTP answer passed through httpBuf.
const HTTP = { waiting: 0, chunk: 1, taken: 2, failed: 3 };
let M = null, ctl = null, line = null, httpBuf = null;
// Whether a closed file waits for the browser's answer (not when the page
// keeps files in its memory only); the number of the last report sent.
let waitForStore = false, storeSeq = 0;
const beat = () => { if (ctl) Atomics.add(ctl, CTL.heartbeat, 1); };

function send(type, data, transfer) { postMessage({ type, data }, transfer || []); }

// ----- DATA changes for the page's store
const pending = new Map();  // path inside DATA -> 'file' | 'dir' | 'gone'
let applying = false, lastPersist = 0;
function insideData(path) {
  const parts = [];
  for (const p of String(path).split('/')) {
    if (p === '' || p === '.') continue;
    if (p === '..') parts.pop(); else parts.push(p);
  }
  const abs = '/' + parts.join('/');
  if (!abs.startsWith(DATA + '/')) return null;
  const rel = abs.slice(DATA.length + 1);
  // The transfer file of a running HTTP request is not kept, nor the
  // temporary file a whole-file store writes before it renames it.
  return /(^|\/)_net_\d+\.\$\$\$$/.test(rel) || /(^|\/)\.[^/]*\.velmora-tmp$/.test(rel) ? null : rel;
}
function note(path, kind) {
  if (applying) return;
  const rel = insideData(path);
  if (rel === null) return;
  pending.set(rel, kind);
  // Without shared memory "■" replaces the worker: nothing may wait.
  if (!ctl) persistNow();
}
function noteTree(path) {
  const rel = insideData(path);
  if (rel === null) return;
  let st;
  try { st = M.FS.stat(path); } catch (e) { return note(path, 'gone'); }
  if (!M.FS.isDir(st.mode)) return note(path, 'file');
  note(path, 'dir');
  for (const n of M.FS.readdir(path)) if (n !== '.' && n !== '..') noteTree(path + '/' + n);
}
// The report of one path as it is now: a file's bytes, a directory, or gone.
function entryOf(path) {
  const abs = DATA + '/' + path;
  let st = null;
  try { st = M.FS.stat(abs); } catch (e) { /* gone */ }
  if (!st) return { path, kind: 'gone' };
  if (M.FS.isDir(st.mode)) return { path, kind: 'dir' };
  if (M.FS.isFile(st.mode)) return { path, kind: 'file', bytes: M.FS.readFile(abs) };
  return null;
}
function report(entries, seq) {
  const transfer = [];
  for (const e of entries) if (e.bytes && !transfer.includes(e.bytes.buffer)) transfer.push(e.bytes.buffer);
  send('persist', { entries, seq }, transfer);
}
function persistNow() {
  if (!pending.size) return;
  const entries = [];
  for (const path of pending.keys()) {
    const e = entryOf(path);
    if (e) entries.push(e);
  }
  pending.clear();
  lastPersist = performance.now();
  report(entries, 0);
}
// Sends a file's report and waits until the page says whether the browser
// kept it (false: refused, or no answer within a minute).
function persistAndWait(entry) {
  pending.delete(entry.path);
  persistNow();  // what changed before goes first, in a report of its own
  const seq = ++storeSeq;
  report([entry], seq);
  const t0 = performance.now();
  while (Atomics.load(ctl, CTL.storeAck) !== seq) {
    beat();
    if (performance.now() - t0 > 60000) return false;
    Atomics.wait(ctl, CTL.storeAck, Atomics.load(ctl, CTL.storeAck), 50);
  }
  return Atomics.load(ctl, CTL.storeOk) === 1;
}
// A file written to DATA was closed (stream) or stored whole (path): it
// goes to the page; when the browser refuses it, the close or the rename
// fails with EIO, the engine's file error.
function fileDone(path, stream) {
  const rel = insideData(path);
  if (rel === null || applying) return;
  let entry = entryOf(rel);
  if (!entry || entry.kind !== 'file') return note(path, 'gone');
  // Appended to: the part added, for the store to add to the file as it is now.
  if (stream && (stream.flags & 1024) && stream.velmoraBase !== undefined && stream.velmoraBase <= entry.bytes.length)
    entry = { path: rel, kind: 'append', base: stream.velmoraBase, bytes: entry.bytes.subarray(stream.velmoraBase), whole: entry.bytes };
  if (!waitForStore || !ctl) {
    pending.delete(rel);
    persistNow();
    return report([entry], 0);
  }
  if (!persistAndWait(entry)) throw new M.FS.ErrnoError(EIO);
}
// Wraps the file system's operations, so every change to DATA is noted.
function watchData() {
  const FS = M.FS;
  const after = (name, fn) => {
    const orig = FS[name];
    FS[name] = function (...args) {
      const r = orig.apply(this, args);
      try { fn(...args); } catch (e) { /* a note never fails the operation */ }
      return r;
    };
  };
  // A file opened for writing remembers its size: what it has at its close
  // beyond that was appended.
  const open = FS.open;
  FS.open = function (...args) {
    const stream = open.apply(this, args);
    if ((stream.flags & 3) !== 0 && stream.node && FS.isFile(stream.node.mode)) stream.velmoraBase = stream.node.usedBytes;
    return stream;
  };
  const close = FS.close;
  FS.close = function (stream) {
    const r = close.call(this, stream);
    if (stream.path && (stream.flags & 3) !== 0) fileDone(stream.path, stream);
    return r;
  };
  const rename = FS.rename;
  FS.rename = function (from, to) {
    const r = rename.call(this, from, to);
    note(from, 'gone');
    let st = null;
    try { st = FS.stat(to); } catch (e) { /* gone */ }
    if (st && FS.isFile(st.mode)) fileDone(to, null); else noteTree(to);
    return r;
  };
  after('truncate', p => { if (typeof p === 'string') note(p, 'file'); });
  after('unlink', p => note(p, 'gone'));
  after('rmdir', p => note(p, 'gone'));
  after('mkdir', p => note(p, 'dir'));
}

// Changes another tab made (read back from the store): applied unnoted.
function applyEntries(entries) {
  applying = true;
  try {
    for (const e of entries) {
      const abs = DATA + '/' + e.path;
      if (insideData(abs) === null) continue;
      try {
        if (e.kind === 'gone') removeTree(abs);
        else if (e.kind === 'dir') M.FS.mkdirTree(abs);
        else {
          M.FS.mkdirTree(abs.slice(0, abs.lastIndexOf('/')));
          M.FS.writeFile(abs, e.bytes);
        }
      } catch (err) { /* a name the file system refuses */ }
    }
  } finally {
    applying = false;
  }
}
function removeTree(abs) {
  let st;
  try { st = M.FS.stat(abs); } catch (e) { return; }
  if (M.FS.isDir(st.mode)) {
    for (const n of M.FS.readdir(abs)) if (n !== '.' && n !== '..') removeTree(abs + '/' + n);
    M.FS.rmdir(abs);
  } else {
    M.FS.unlink(abs);
  }
}

// The worker's copy of the canvases, for SAVE.
const mirror = new VelmoraCanvases(() => ({ cv: new OffscreenCanvas(400, 400), show() {} }),
                                   (w, h) => new OffscreenCanvas(w, h));

function formBody(fields) {
  const enc = s => encodeURIComponent(s);
  return fields.split('\r').filter(l => l).map(l => {
    const eq = l.indexOf('=');
    return eq < 0 ? enc(l) : enc(l.slice(0, eq)) + '=' + enc(l.slice(eq + 1));
  }).join('&');
}
function reportLines(h) {
  const type = h.type || '';
  const charset = (type.match(/charset=([^;]+)/i) || ['', ''])[1].trim();
  return 'OK\n' + [
    ' Status-Code:' + h.status, ' Status-Text:' + h.statusText, '      Length:' + (h.length || ''),
    '   Mime-Type:' + type.split(';')[0].trim(), 'LastModified:' + (h.modified || ''), '        Date:' + (h.date || ''),
    '    Char-Set:' + charset, '    Encoding:' + (h.encoding || ''), '    Language:' + (h.language || ''),
  ].join('\n');
}

self.velmoraHost = {
  post(kind, json) {
    const data = JSON.parse(json);
    if (kind === 'draw') for (const r of data) mirror.draw(r);
    send(kind, data);
  },
  // Every 30 ms of a run: changed DATA goes to the page at least every 200 ms.
  tick() {
    if (pending.size && performance.now() - lastPersist >= 200) persistNow();
  },
  // SAVE: the part l..r, t..b of a canvas as PNG or BMP.
  saveImage(c, l, t, r, b, png, file) {
    const w = r - l, h = b - t;
    if (w <= 0 || h <= 0) return false;
    const rgba = mirror.context(c).getImageData(l, t, w, h).data;
    try {
      M.FS.writeFile(file, png ? VelmoraImages.png(rgba, w, h) : VelmoraImages.bmp(rgba, w, h));
    } catch (e) {
      return false;
    }
    return true;
  },
  // Between two slices of a run: also the sign of life the page watches.
  stopRequested() {
    if (ctl === null) return false;
    Atomics.add(ctl, CTL.heartbeat, 1);
    return Atomics.load(ctl, CTL.stop) !== 0;
  },
  // GETS: waits for the page's input line, or null after the stop button.
  readLine() {
    if (ctl === null) return '';
    for (;;) {
      if (Atomics.load(ctl, CTL.stop) !== 0) return null;
      if (Atomics.load(ctl, CTL.lineReady) === 1) {
        const text = new TextDecoder('utf-16le').decode(line.slice(0, ctl[CTL.lineLength]));
        Atomics.store(ctl, CTL.lineReady, 0);
        return text;
      }
      beat();
      Atomics.wait(ctl, CTL.lineReady, 0, 20);
    }
  },
  // One transfer: "OK\n" and the report lines, "ERR\n" and why, or "STOP\n"
  // when the stop button ended it. With shared memory the page fetches
  // (abortable by "■", with the time-outs) and hands the answer over in
  // chunks through httpBuf; without it, a synchronous request.
  http(url, post, fields, file, connectMs, totalMs, stallMs) {
    const body = post ? formBody(fields) : null;
    persistNow();
    if (!ctl) return syncHttp(url, body, file, totalMs || (connectMs + stallMs));
    Atomics.store(ctl, CTL.http, HTTP.waiting);
    send('http', { url, body, connectMs, totalMs, stallMs });
    const parts = [];
    let got = 0;
    for (;;) {
      if (Atomics.load(ctl, CTL.stop) !== 0) return 'STOP\n';
      const state = Atomics.load(ctl, CTL.http);
      if (state === HTTP.chunk || state === HTTP.failed) {
        const n = ctl[CTL.chunk], total = ctl[CTL.total];
        const bytes = httpBuf.slice(0, n);
        if (state === HTTP.failed) {
          Atomics.store(ctl, CTL.http, HTTP.taken);
          Atomics.notify(ctl, CTL.http);
          return 'ERR\n' + new TextDecoder().decode(bytes);
        }
        parts.push(bytes);
        got += n;
        Atomics.store(ctl, CTL.http, HTTP.taken);
        Atomics.notify(ctl, CTL.http);
        if (got >= total) break;
        continue;
      }
      beat();
      Atomics.wait(ctl, CTL.http, state, 20);
    }
    const all = new Uint8Array(got);
    let at = 0;
    for (const p of parts) { all.set(p, at); at += p.length; }
    const nl = all.indexOf(10);
    const head = JSON.parse(new TextDecoder().decode(all.subarray(0, nl)));
    M.FS.writeFile(file, all.subarray(nl + 1));
    return reportLines(head);
  },
};

function syncHttp(url, body, file, timeoutMs) {
  const xhr = new XMLHttpRequest();
  xhr.open(body !== null ? 'POST' : 'GET', url, false);
  xhr.responseType = 'arraybuffer';
  if (timeoutMs > 0) xhr.timeout = timeoutMs;
  if (body !== null) xhr.setRequestHeader('Content-Type', 'application/x-www-form-urlencoded');
  try {
    xhr.send(body);
  } catch (e) {
    return 'ERR\n' + (e && e.message ? e.message : String(e));
  }
  if (xhr.status === 0) {
    // No answer at all from another site: most often it does not let browsers read it (the page's http.js says the same).
    let other = false;
    try { other = new URL(url, self.location.href).origin !== self.location.origin; } catch (e) { /* not a URL */ }
    if (other)
      send('message', { title: '', text: 'ブラウザ版のプログラムは、読み込みを許可していない（CORS のヘッダーを送らない）ほかのサイトのページを読めません' +
                                         '（応答しないサーバーも同じエラーになります）。そのサイトのページは、デスクトップ版の velmora か velmora-run で実行すれば読めます。' });
    return 'ERR\nnetwork error';
  }
  M.FS.writeFile(file, new Uint8Array(xhr.response));
  const h = name => xhr.getResponseHeader(name) || '';
  return reportLines({ status: xhr.status, statusText: xhr.statusText, length: h('content-length'), type: h('content-type'),
                       modified: h('last-modified'), date: h('date'), encoding: h('content-encoding'),
                       language: h('content-language') });
}

function dataFiles() {
  const files = [];
  const walk = (abs, rel) => {
    for (const name of M.FS.readdir(abs)) {
      if (name === '.' || name === '..') continue;
      const st = M.FS.stat(abs + '/' + name);
      if (M.FS.isFile(st.mode)) files.push({ name: rel + name, size: st.size });
      else if (M.FS.isDir(st.mode)) walk(abs + '/' + name, rel + name + '/');
    }
  };
  walk(DATA, '');
  return files.sort((a, b) => a.name < b.name ? -1 : 1);
}

function setTabs(tabs) {
  if (!tabs) return;
  for (let i = 0; i < 10; ++i) {
    const t = tabs[i];
    if (t) M.ccall('vm_set_tab', null, ['number', 'string', 'string'], [i, t.caption, t.text]);
    else M.ccall('vm_close_tab', null, ['number'], [i]);
  }
}

// A file inside DATA, as the file list names it: no way out of DATA.
function dataPath(name) {
  const rel = insideData(DATA + '/' + String(name));
  if (!rel) throw new Error('bad file name');
  return DATA + '/' + rel;
}

// The files the store held before it kept one record per file: the earlier
// playground kept the whole home directory as one Emscripten IDBFS tree.
async function oldFiles() {
  const found = [];
  try {
    M.FS.mount(M.FS.filesystems.IDBFS, {}, HOME);
    await new Promise(resolve => M.FS.syncfs(true, resolve));
    const walk = (abs, rel) => {
      for (const n of M.FS.readdir(abs)) {
        if (n === '.' || n === '..') continue;
        const st = M.FS.stat(abs + '/' + n);
        if (M.FS.isDir(st.mode)) { found.push({ path: rel + n, kind: 'dir' }); walk(abs + '/' + n, rel + n + '/'); }
        else if (M.FS.isFile(st.mode)) found.push({ path: rel + n, kind: 'file', bytes: M.FS.readFile(abs + '/' + n) });
      }
    };
    try { walk(DATA, ''); } catch (e) { /* no DATA then */ }
    M.FS.unmount(HOME);
  } catch (e) { /* nothing kept */ }
  return found;
}

// The page's first message gives the module it compiled while its own
// script loaded (a worker made again after a failure gets it too, without
// fetching or compiling anything), or null: then the worker fetches and
// compiles it (as the bytes arrive from a server that says they are
// WebAssembly, otherwise once they are all there). A module that cannot be
// loaded fails `loading`.
let gotModule;
const moduleFromPage = new Promise(resolve => { gotModule = resolve; });
async function instantiate(imports) {
  const module = await moduleFromPage;
  if (module) return { instance: await WebAssembly.instantiate(module, imports), module };
  const response = await fetch('velmora.wasm');
  if (!response.ok) throw new Error('velmora.wasm: HTTP ' + response.status);
  if (WebAssembly.instantiateStreaming && /^application\/wasm\b/.test(response.headers.get('Content-Type') || ''))
    return WebAssembly.instantiateStreaming(response, imports);
  return WebAssembly.instantiate(await response.arrayBuffer(), imports);
}
const loading = new Promise((resolve, reject) => {
  VelmoraModule({
    instantiateWasm(imports, receive) {
      instantiate(imports).then(r => receive(r.instance, r.module), reject);
      return {};
    },
  }).then(resolve, reject);
});

const handlers = {
  module(msg) { gotModule(msg.module instanceof WebAssembly.Module ? msg.module : null); },
  async init(msg) {
    if (msg.ctl) {
      ctl = new Int32Array(msg.ctl);
      line = new Uint16Array(msg.line);
      httpBuf = new Uint8Array(msg.http);
    }
    M = await loading;
    M.FS.mkdir(HOME);
    const old = msg.migrate ? await oldFiles() : [];
    M.FS.mkdir(DATA);
    applyEntries(msg.files || []);
    watchData();
    for (const e of old) {
      const abs = DATA + '/' + e.path;
      try {
        if (e.kind === 'dir') M.FS.mkdirTree(abs);
        else if (!M.FS.analyzePath(abs).exists) M.FS.writeFile(abs, e.bytes);
      } catch (err) { /* skipped */ }
    }
    if (msg.migrate) send('migrated', old.length);
    persistNow();
    waitForStore = !!msg.waitForStore;
    M.ccall('vm_init', null, ['string', 'string'], [HOME, DATA]);
    send('ready', { words: JSON.parse(M.ccall('vm_words', 'string', [], [])), files: dataFiles(),
                    status: JSON.parse(M.ccall('vm_status', 'string', [], [])) });
  },
  // The page asks whether the worker lives (a compile or a run answers only when it is over).
  ping(msg) { send('pong', { id: msg.id }); },
  compile(msg) {
    setTabs(msg.tabs);
    const c = JSON.parse(M.ccall('vm_compile', 'string', ['number'], [msg.tab]));
    c.tab = msg.tab;
    send('compiled', c);
    if (c.memory) send('ran', { result: 'memory', runError: null, status: null });
  },
  // The diagnostics of a text, compiled only (for markers while typing).
  diagnose(msg) {
    const d = JSON.parse(M.ccall('vm_diagnostics', 'string', ['string'], [msg.text]));
    send('diagnosed', { tab: msg.tab, diagnostics: d.diagnostics });
  },
  // A tab was closed: the tabs from it on move up, so the slots of all of
  // them are freed (their programs are compiled again when they run).
  closeTab(msg) {
    for (let i = msg.index; i < 10; ++i) M.ccall('vm_close_tab', null, ['number'], [i]);
    setTabs(msg.tabs);
    send('status', JSON.parse(M.ccall('vm_status', 'string', [], [])));
  },
  // "●": every open tab compiled afresh, tab n into slot n (as velmora-run
  // compiles its files), stopping at a failure; then all run together.
  run(msg) {
    if (ctl) { Atomics.store(ctl, CTL.stop, 0); Atomics.store(ctl, CTL.lineReady, 0); }
    setTabs(msg.tabs);
    M.ccall('vm_release_slots', null, [], []);
    for (let tab = 0; tab < msg.tabs.length && msg.tabs[tab]; ++tab) {
      const c = JSON.parse(M.ccall('vm_compile', 'string', ['number'], [tab]));
      c.tab = tab;
      send('compiled', c);
      if (c.slot < 0) return send('ran', { result: c.memory ? 'memory' : 'compileError', runError: null, status: null });
    }
    send('started');
    const t0 = performance.now();
    const result = JSON.parse(M.ccall('vm_run', 'string', [], []));
    result.ms = performance.now() - t0;
    persistNow();
    send('ran', result);
    send('files', dataFiles());
  },
  upload(msg) {
    const path = dataPath(msg.name);
    M.FS.writeFile(path, new Uint8Array(msg.bytes));
    persistNow();
    send('files', dataFiles());
  },
  download(msg) {
    const bytes = M.FS.readFile(dataPath(msg.name));
    send('file', { name: msg.name, bytes });
  },
  remove(msg) {
    removeTree(dataPath(msg.name));
    persistNow();
    send('files', dataFiles());
  },
  // Changes another tab made, or the stored state of files this one changed.
  external(msg) {
    applyEntries(msg.entries);
    send('files', dataFiles());
  },
};

onmessage = async e => {
  const msg = e.data;
  try {
    await handlers[msg.type](msg);
  } catch (err) {
    try { persistNow(); } catch (e) { /* the module is gone */ }
    // Memory the module could not get (a JavaScript copy of a file, or the
    // module's own ceiling): the page replaces the worker.
    const text = String(err && err.message ? err.message : err);
    if (err instanceof RangeError || /memory|WebAssembly\.Exception/i.test(text) || String(err).includes('WebAssembly.Exception')) {
      if (msg.type === 'run' || msg.type === 'compile') return send('ran', { result: 'memory', runError: null, status: null });
    }
    const stored = err && err.errno === EIO ? 'ブラウザがファイルを保存しませんでした' : text;
    send('message', { title: 'エラー', text: stored });
    if (msg.type === 'run') send('ran', { result: 'error', runError: null, status: null });
  }
};
