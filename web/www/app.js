// The playground page: editor tabs, buttons, console, task status, files and
// canvases. The environment itself runs in worker.js; what is kept between
// visits is in store.js.
'use strict';
const $ = id => document.getElementById(id);
const MAX_TABS = 10;
// The console view keeps the newest lines only: older ones leave the page
// (the worker's engine keeps no more: bridge.cpp, kConsoleTail and kConsoleChars).
const CONSOLE_MAX = 200000, CONSOLE_MAX_CHARS = 8 << 20;
const ROW = 18;  // console row height, px (style.css)

const shared = typeof SharedArrayBuffer !== 'undefined' && self.crossOriginIsolated;
// ctl cells: see worker.js (CTL).
const ctl = shared ? new Int32Array(new SharedArrayBuffer(64)) : null;
const lineBuf = shared ? new Uint16Array(new SharedArrayBuffer(2 * 65536)) : null;
const httpBuf = shared ? new Uint8Array(new SharedArrayBuffer(1 << 20)) : null;

let worker = null, ready = false, running = false, words = { keywords: new Set(), functions: new Set() };
let tabs = [], active = 0, errorMark = null, stopClicked = 0, fileWanted = null;
let currentFetch = null, runStarted = 0;
const api = (window.velmora = { lastRun: null, stopLatency: null, messages: [] });
// The bytes of a DATA file, as the download button would save them.
api.readFile = name => new Promise(resolve => { fileWanted = resolve; post('download', { name }); });

// ----- DATA: the store in IndexedDB, changed one record at a time
const channel = typeof BroadcastChannel !== 'undefined' ? new BroadcastChannel('velmora-data') : null;
let storeChain = Promise.resolve();
function persist(entries) {
  storeChain = storeChain.then(() => VelmoraStore.apply(entries)).then(() => {
    if (channel) channel.postMessage({ paths: entries.map(e => e.path) });
    api.persisted = (api.persisted || 0) + entries.length;
  }).catch(e => addMessage('ファイルを保存できません: ' + e, true));
  return storeChain;
}
// Another tab changed files: they are read back from the store and given
// to the worker, while no run is going (the store then also holds what this
// tab's run wrote last).
const external = new Set();
if (channel) channel.onmessage = e => {
  for (const p of e.data.paths) external.add(p);
  takeExternal();
};
async function takeExternal() {
  if (!external.size || running || !ready) return;
  const paths = [...external];
  external.clear();
  await storeChain;
  const entries = await Promise.all(paths.map(p => VelmoraStore.get(p)));
  if (worker) post('external', { entries });
}

// ----- the worker
async function startWorker() {
  ready = false;
  buttons();
  await storeChain;
  let files = [];
  try { files = await VelmoraStore.all(); } catch (e) { addMessage('保存されたファイルを読めません: ' + e, true); }
  worker = new Worker('worker.js');
  worker.onmessage = e => on[e.data.type] && on[e.data.type](e.data.data);
  worker.onerror = e => { e.preventDefault(); restartWorker('ワーカーが止まりました: ' + e.message); };
  worker.postMessage({ type: 'init', ctl: ctl && ctl.buffer, line: lineBuf && lineBuf.buffer, http: httpBuf && httpBuf.buffer,
                       files, migrate: !localStorage.getItem('velmora.migrated') });
}
// A new worker with the stored files; the page keeps the programs.
function restartWorker(why) {
  if (worker) worker.terminate();
  worker = null;
  if (currentFetch) currentFetch.abort();
  for (const t of tabs) t.compiled = null;
  if (running) finishRun({ result: 'stopped', runError: null, status: null });
  if (why) addMessage(why, true);
  startWorker();
}
function post(type, extra, transfer) { worker.postMessage(Object.assign({ type }, extra), transfer || []); }
function tabPayload() {
  const list = [];
  for (let i = 0; i < MAX_TABS; ++i) list.push(tabs[i] ? { caption: tabs[i].caption, text: tabs[i].text } : null);
  return list;
}

const on = {
  ready(d) {
    words = { keywords: new Set(d.words.keywords.filter(w => /^\p{L}/u.test(w)).map(w => w.toUpperCase())),
              functions: new Set(d.words.functions.map(w => w.toUpperCase())) };
    ready = true;
    showFiles(d.files);
    showStatus(d.status);
    addExampleData(d.files);
    setState('準備完了');
    render();
    takeExternal();
  },
  migrated() { localStorage.setItem('velmora.migrated', '1'); },
  persist(entries) { persist(entries); },
  message(d) { addMessage((d.title ? '[' + d.title + '] ' : '') + d.text, false); },
  console(d) { consoleView.update(d); },
  status(rows) { showStatus(rows); },
  memory(bytes) { api.workerMemory = bytes; },  // the module's memory, for the tests
  draw(records) { for (const r of records) draw(r); },
  input(d) {
    $('input-label').textContent = 'タスク ' + (d.slot + 1) + ' の入力：';
    $('input-form').hidden = false;
    $('input').focus();
  },
  http(req) { fetchForWorker(req); },
  runError(rows) { addMessage(rows.map(([k, v]) => k + v).join('\n'), true); },
  compiled(d) {
    api.lastCompile = d;
    if (d.memory) return;  // "ran" follows with the memory result
    showStatus(d.status);
    const tab = d.tab !== undefined ? d.tab : active;
    if (tabs[tab]) tabs[tab].compiled = d.slot >= 0 ? tabs[tab].sent : null;
    if (d.error) {
      markError(d.error);
      noteErrorLine(d.error);
    }
    setState(d.slot >= 0 ? 'コード生成完了：スロット ' + (d.slot + 1) : '文法エラー');
  },
  started() { setState('実行中…'); },
  ran(d) {
    if (d.result === 'memory') {
      addMessage('メモリ不足：' + (api.lastCompile && api.lastCompile.memory ? '文法検査' : 'プログラムの実行') +
                 'の途中でメモリが上限に達したので止めました。環境を作り直しました（プログラムと DATA のファイルはそのままです）。', true);
      finishRun(d);
      restartWorker();
      return;
    }
    finishRun(d);
  },
  files(list) { showFiles(list); },
  file(d) {
    if (fileWanted) {  // velmora.readFile
      fileWanted(d.bytes);
      fileWanted = null;
      return;
    }
    saveBlob(new Blob([d.bytes]), d.name.split('/').pop());
  },
};
function finishRun(d) {
  if (stopClicked) api.stopLatency = performance.now() - stopClicked;
  stopClicked = 0;
  running = false;
  $('input-form').hidden = true;
  if (d.status) showStatus(d.status);
  if (d.runError) markError(d.runError);
  const names = { ended: '実行終了', error: '実行時エラー', stopped: '停止しました', notStarted: '実行するタスクがありません',
                  compileError: '文法エラー', memory: 'メモリ不足' };
  setState(names[d.result] || d.result);
  d.wallMs = performance.now() - runStarted;
  api.lastRun = d;
  buttons();
  takeExternal();
}
function saveBlob(blob, name) {
  const a = document.createElement('a');
  a.href = URL.createObjectURL(blob);
  a.download = name;
  a.click();
  setTimeout(() => URL.revokeObjectURL(a.href), 1000);
}

// ----- HTTP for a running program: fetched here, so "■" can abort it; the
// answer goes to the waiting worker in chunks through httpBuf.
async function fetchForWorker(req) {
  const ac = new AbortController();
  currentFetch = ac;
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
      ctl[4] = n;
      ctl[5] = bytes.length;
      Atomics.store(ctl, 3, failed ? 3 : 1);
      Atomics.notify(ctl, 3);
      at += n;
      // The worker takes the chunk (or was stopped or replaced).
      while (Atomics.load(ctl, 3) !== 2 && Atomics.load(ctl, 0) === 0 && currentFetch === ac) {
        const w = Atomics.waitAsync(ctl, 3, failed ? 3 : 1, 50);
        if (w.async) await w.value;
      }
      if (failed || at >= bytes.length) return;
    }
  };
  try {
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
    if (currentFetch === ac && Atomics.load(ctl, 0) === 0)
      await give(new TextEncoder().encode(why || (e && e.message) || 'network error'), true);
  } finally {
    if (currentFetch === ac) currentFetch = null;
  }
}

// The data files the examples read go into DATA unless a file of that name is there.
async function addExampleData(files) {
  try {
    const data = (await (await fetch('examples/index.json')).json()).data;
    for (const name of data) {
      if (files.some(f => f.name === name)) continue;
      const bytes = await (await fetch('examples/data/' + name)).arrayBuffer();
      post('upload', { name, bytes });
    }
  } catch (e) { /* no examples */ }
}

function setState(text) { $('state').textContent = text; }
// Messages belong to the last compile or run: each starts a new list.
function clearMessages() {
  $('messages').textContent = '';
  api.messages = [];
}
function addMessage(text, error) {
  api.messages.push(text);
  const div = document.createElement('div');
  if (error) div.className = 'error';
  div.textContent = text;
  $('messages').appendChild(div);
  $('messages').scrollTop = $('messages').scrollHeight;
  return div;
}
// A compile message counts its lines from 0 ("Line => 1" is the second
// line): the line it names is marked in the editor and said in editor terms.
function noteErrorLine(mark) {
  const divs = $('messages').querySelectorAll('div');
  const note = '⇒ エディタの ' + (mark.line + 1) + ' 行目（メッセージの Line => は 0 から数えます）';
  const last = divs[divs.length - 1];
  if (last && /Line\s*=>/.test(last.textContent)) last.textContent += '\n' + note;
  else addMessage(note, true);
  api.messages.push(note);
}
function showStatus(rows) {
  const ol = $('status');
  ol.textContent = '';
  for (const r of rows || []) {
    const li = document.createElement('li');
    li.textContent = r;
    ol.appendChild(li);
  }
}
function showFiles(list) {
  const ul = $('files');
  ul.textContent = '';
  for (const f of list) {
    const li = document.createElement('li');
    const name = document.createElement('span');
    name.textContent = f.name + '（' + f.size + ' バイト）';
    const dl = document.createElement('button');
    dl.textContent = 'ダウンロード';
    dl.onclick = () => post('download', { name: f.name });
    const rm = document.createElement('button');
    rm.textContent = '削除';
    rm.onclick = () => {
      if (confirm('ファイル「' + f.name + '」を削除しますか？')) post('remove', { name: f.name });
    };
    li.append(name, dl, rm);
    ul.appendChild(li);
  }
}
function buttons() {
  $('run').disabled = running || !ready;
  $('compile').disabled = running || !ready;
  $('stop').disabled = !running;
  $('close-tab').disabled = running;
}

// ----- the console: the lines kept as a few large texts ("chunks", lines
// separated by NUL, with the offsets of the lines), so a flood of lines makes few objects;
// only the rows on screen are in the page.
const consoleView = (() => {
  const box = $('console'), space = $('console-space'), rows = $('console-rows');
  // chunk: { start (line number), text, offs (line starts), count, end (text end) }
  let chunks = [], total = 0, base = 0, queued = false, follow = true;
  const MERGE = 2000, MERGE_CHARS = 1 << 20;  // a small last chunk takes the next lines in
  function makeChunk(start, text) {
    let offs = new Uint32Array(64), count = 0, at = 0;
    for (;;) {
      if (count === offs.length) { const o = new Uint32Array(count * 2); o.set(offs); offs = o; }
      offs[count++] = at;
      const nl = text.indexOf('\0', at);
      if (nl < 0) break;
      at = nl + 1;
    }
    return { start, text, offs, count, end: text.length };
  }
  const lineOf = (c, i) => c.text.slice(c.offs[i], i + 1 < c.count ? c.offs[i + 1] - 1 : c.end);
  const chunkText = c => c.text.slice(0, c.end);
  // Keeps lines before `line` only.
  function cut(line) {
    while (chunks.length && chunks[chunks.length - 1].start >= line) chunks.pop();
    const c = chunks[chunks.length - 1];
    if (c && c.start + c.count > line) {
      c.count = line - c.start;
      if (c.count) c.end = c.offs[c.count] - 1; else chunks.pop();
    }
    total = Math.max(base, Math.min(total, line));
  }
  function add(from, text) {
    cut(from);
    const last = chunks[chunks.length - 1];
    if (last && last.count < MERGE && last.end < MERGE_CHARS && last.start + last.count === from) {
      chunks[chunks.length - 1] = makeChunk(last.start, chunkText(last) + '\0' + text);
    } else {
      chunks.push(makeChunk(from, text));
    }
    const c = chunks[chunks.length - 1];
    total = c.start + c.count;
    // The oldest chunks leave once the view holds more than CONSOLE_MAX
    // lines or CONSOLE_MAX_CHARS characters.
    let chars = 0;
    for (const k of chunks) chars += k.end;
    while (chunks.length > 1 && (total - chunks[1].start >= CONSOLE_MAX || chars > CONSOLE_MAX_CHARS)) {
      chars -= chunks[0].end;
      chunks.shift();
    }
    // A big delta makes a big chunk: the oldest one loses its first lines so
    // that no more than CONSOLE_MAX stay, however large the pieces come.
    const over = chunks.length ? total - chunks[0].start - CONSOLE_MAX : 0;
    if (over > 0 && over < chunks[0].count) {
      const c = chunks[0];
      chunks[0] = makeChunk(c.start + over, c.text.slice(c.offs[over], c.end));
    }
    base = chunks.length ? chunks[0].start : total;
  }
  function find(line) {  // the chunk holding a line
    let lo = 0, hi = chunks.length - 1;
    while (lo < hi) {
      const mid = (lo + hi + 1) >> 1;
      if (chunks[mid].start <= line) lo = mid; else hi = mid - 1;
    }
    return lo;
  }
  function schedule() {
    if (!queued) { queued = true; requestAnimationFrame(paintRows); }
  }
  function paintRows() {
    queued = false;
    const n = total - base;
    space.style.height = (n * ROW) + 'px';
    if (follow) box.scrollTop = box.scrollHeight;
    const first = Math.max(0, Math.floor(box.scrollTop / ROW) - 2);
    const last = Math.min(n, first + Math.ceil(box.clientHeight / ROW) + 4);
    const out = [];
    if (chunks.length) {
      for (let line = base + first, k = find(base + first); line < base + last && k < chunks.length; ++line) {
        if (line >= chunks[k].start + chunks[k].count) ++k;
        if (k < chunks.length) out.push(lineOf(chunks[k], line - chunks[k].start).replace(/\n/g, ' '));
      }
    }
    rows.style.top = (first * ROW) + 'px';
    rows.textContent = out.join('\n');
    $('console-dropped').textContent = base ? '（古い ' + base + ' 行は表示していません）' : '';
  }
  box.addEventListener('scroll', () => {
    follow = box.scrollTop + box.clientHeight >= box.scrollHeight - ROW;
    schedule();
  });
  return {
    // From the worker: the lines from line `from` on (the last line shown
    // may have grown), or after a reset the newest lines anew.
    update(d) {
      if (d.reset) { chunks = []; total = base = d.from; }
      add(Math.max(d.from, base), d.from < base ? d.text.split('\0').slice(base - d.from).join('\0') : d.text);
      schedule();
    },
    clear() { chunks = []; total = base = 0; follow = true; add(0, ''); schedule(); },
    text: () => chunks.map(chunkText).join('\0').replace(/\0/g, '\n'),
    count: () => total,
  };
})();
api.consoleText = () => consoleView.text();
api.consoleLines = () => consoleView.count();

// ----- programs: the tabs of this browser tab, each kept as its own record
let sid = sessionStorage.getItem('velmora.sid');
function saveProgram(t) { if (!VelmoraStore.saveProgram(t, sid)) setState('プログラムを保存できません（保存領域がいっぱいです）'); }
function saveSession() { VelmoraStore.saveSession(sid, tabs.map(t => t.id), active); }
function makeTab(caption, text, base) {
  return { id: VelmoraStore.newId(), caption, text, base: base === undefined ? text : base, compiled: null };
}
const changed = t => t.text !== t.base && t.text !== '';
function newTab(caption, text) {
  // An untouched empty first tab gives way to the program opened.
  if (tabs.length === 1 && tabs[0].text === '' && /^#\d+$/.test(tabs[0].caption) && text !== '') {
    VelmoraStore.removeProgram(tabs[0].id);
    tabs = [];
  }
  if (tabs.length >= MAX_TABS) {
    addMessage('タブは ' + MAX_TABS + ' 個までです。', true);
    return false;
  }
  const t = makeTab(caption, text);
  tabs.push(t);
  active = tabs.length - 1;
  saveProgram(t);
  clearError();
  render();
  return true;
}
function freeCaption() {
  for (let n = 1; ; ++n) if (!tabs.some(t => t.caption === '#' + n)) return '#' + n;
}
// Closes tab i (asking first when its program was changed); true if closed.
function closeTab(i) {
  const t = tabs[i];
  if (!t) return false;
  if (changed(t) && !confirm('「' + t.caption + '」は変更されています。閉じるとこのプログラムは失われます。閉じますか？'))
    return false;
  tabs.splice(i, 1);
  VelmoraStore.removeProgram(t.id);
  // The environment's tabs move up with the page's: their slots go.
  for (let k = i; k < tabs.length; ++k) tabs[k].compiled = null;
  if (!tabs.length) {
    tabs.push(makeTab(freeCaption(), ''));
    saveProgram(tabs[0]);
  }
  active = Math.min(active, tabs.length - 1);
  clearError();
  render();
  return true;
}
function render() {
  const nav = $('tabs');
  nav.textContent = '';
  tabs.forEach((t, i) => {
    const b = document.createElement('button');
    b.textContent = t.caption + (changed(t) ? ' *' : '');
    b.title = changed(t) ? '変更あり' : '';
    if (i === active) b.className = 'active';
    b.onclick = () => { active = i; render(); };
    nav.appendChild(b);
  });
  const src = $('source');
  const text = tabs[active] ? tabs[active].text : '';
  if (src.value !== text) src.value = text;
  paint();
  buttons();
  saveSession();
  listStored();
}
// "保存済み…": every stored program not open in this tab (other browser
// tabs' programs, and those left over from earlier visits).
function listStored() {
  const sel = $('stored');
  const open = new Set(tabs.map(t => t.id));
  const others = VelmoraStore.programs().filter(p => !open.has(p.id) && p.text !== '');
  sel.textContent = '';
  sel.appendChild(new Option('保存済み（' + others.length + '）…', ''));
  for (const p of others) sel.appendChild(new Option(p.caption + '：' + p.text.split('\n')[0].slice(0, 30), p.id));
  sel.hidden = !others.length;
}

const esc = s => s.replace(/[&<>]/g, c => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;' })[c]);
// Colours one line as the desktop editor does: keywords and functions of
// the loaded word lists, strings, numbers, typed variables, comments.
function colourLine(text) {
  let out = '', i = 0;
  const n = text.length, isWord = c => /[\p{L}\p{N}_]/u.test(c);
  while (i < n) {
    const c = text[i];
    let end = i + 1, cls = null;
    if (c === '"') {
      end = text.indexOf('"', i + 1);
      end = end < 0 ? n : end + 1;
      cls = 'str';
    } else if (c === '/' && text[i + 1] === '/') {
      end = n; cls = 'cmt';
    } else if ((c === '&' || c === '%' || c === '$') && i + 1 < n && /\p{L}/u.test(text[i + 1])) {
      end = i + 1;
      while (end < n && isWord(text[end])) ++end;
      cls = 'var';
    } else if (/[0-9]/.test(c)) {
      end = i;
      while (end < n && /[0-9.]/.test(text[end])) ++end;
      cls = 'num';
    } else if (/[\p{L}_]/u.test(c)) {
      end = i;
      while (end < n && isWord(text[end])) ++end;
      const w = text.slice(i, end).toUpperCase();
      cls = words.keywords.has(w) ? 'kw' : words.functions.has(w) ? 'fn' : null;
    }
    const part = esc(text.slice(i, end));
    out += cls ? '<span class="' + cls + '">' + part + '</span>' : part;
    i = end;
  }
  return out;
}
function paint() {
  const lines = (tabs[active] ? tabs[active].text : '').split('\n');
  const err = errorMark && errorMark.tab === active ? errorMark.line : -1;
  $('highlight').innerHTML = lines.map((l, i) =>
    '<div class="line' + (i === err ? ' error' : '') + '">' + (colourLine(l) || ' ') + '</div>').join('');
  $('gutter').innerHTML = lines.map((l, i) =>
    '<div' + (i === err ? ' class="error"' : '') + '>' + (i + 1) + '</div>').join('');
  scrollSync();
}
function scrollSync() {
  const src = $('source');
  $('highlight').scrollTop = src.scrollTop;
  $('highlight').scrollLeft = src.scrollLeft;
  $('gutter').scrollTop = src.scrollTop;
}
function markError(mark) {
  errorMark = mark;
  if (mark.tab >= 0 && mark.tab < tabs.length) active = mark.tab;
  render();
  const src = $('source');
  src.scrollTop = Math.max(0, mark.line * 20 - 100);
  scrollSync();
  api.errorLine = mark.line;
}
function clearError() { errorMark = null; api.errorLine = undefined; }

// ----- canvases: drawn by canvas.js, shown as figures in the canvas area
const canvases = new VelmoraCanvases(i => {
  const fig = document.createElement('figure');
  const cap = document.createElement('figcaption');
  cap.textContent = 'キャンバス ' + (i + 1);
  const cv = document.createElement('canvas');
  cv.id = 'canvas' + i;
  fig.append(cap, cv);
  fig.hidden = true;
  $('canvas-area').appendChild(fig);
  return { cv, show(on) { fig.hidden = !on; $('canvases').hidden = !$('canvas-area').querySelector('figure:not([hidden])'); } };
}, (w, h) => Object.assign(document.createElement('canvas'), { width: w, height: h }));
const draw = r => canvases.draw(r);

// ----- buttons
function requireReady() { return ready && !running; }
$('new-tab').onclick = () => newTab(freeCaption(), '');
$('close-tab').onclick = () => { if (!running) closeTab(active); };
$('source').addEventListener('input', () => {
  const t = tabs[active];
  t.text = $('source').value;
  if (errorMark && errorMark.tab === active) clearError();
  paint();
  saveProgram(t);
  const b = $('tabs').children[active];
  if (b) b.textContent = t.caption + (changed(t) ? ' *' : '');
});
$('source').addEventListener('scroll', scrollSync);
$('source').addEventListener('keydown', e => {
  if (e.key === 'Tab') {
    e.preventDefault();
    document.execCommand('insertText', false, '\t');
  }
});
function compileFront() {
  if (!requireReady()) return;
  clearMessages();
  clearError();
  render();
  setState('文法検査中…');
  tabs[active].sent = tabs[active].text;
  post('compile', { tab: active, tabs: tabPayload() });
}
// "●": the front tab is compiled first when it has no code or was changed
// since, and so is every other compiled tab changed since; then all run.
function runAll() {
  if (!requireReady()) return;
  clearMessages();
  clearError();
  render();
  const compile = [];
  tabs.forEach((t, i) => {
    if (i === active ? t.compiled !== t.text : t.compiled !== null && t.compiled !== t.text) {
      t.sent = t.text;
      compile.push(i);
    }
  });
  running = true;
  runStarted = performance.now();
  api.lastCompile = null;
  buttons();
  setState(compile.length ? '文法検査中…' : '実行中…');
  consoleView.clear();
  $('input-form').hidden = true;
  if (ctl) { Atomics.store(ctl, 0, 0); Atomics.store(ctl, 1, 0); }
  post('run', { tabs: tabPayload(), compile });
}
$('compile').onclick = compileFront;
$('run').onclick = runAll;
document.addEventListener('keydown', e => {
  if (e.key === 'F9') { e.preventDefault(); compileFront(); }
  else if (e.key === 'Enter' && (e.ctrlKey || e.metaKey)) { e.preventDefault(); runAll(); }
});
let stopping = false;
$('stop').onclick = async () => {
  if (!running || stopping) return;
  stopClicked = performance.now();
  if (currentFetch) currentFetch.abort();
  if (ctl) {
    Atomics.store(ctl, 0, 1);
    Atomics.notify(ctl, 1);
    Atomics.notify(ctl, 3);
    return;
  }
  // Without shared memory the worker cannot be told: it is replaced, once
  // the files it already reported have reached the page.
  stopping = true;
  setState('停止中…');
  await new Promise(r => setTimeout(r, 150));
  stopping = false;
  restartWorker();
};
$('input-form').onsubmit = e => {
  e.preventDefault();
  const text = $('input').value;
  $('input').value = '';
  $('input-form').hidden = true;
  if (!ctl) return;
  const n = Math.min(text.length, lineBuf.length);
  for (let i = 0; i < n; ++i) lineBuf[i] = text.charCodeAt(i);
  Atomics.store(ctl, 2, n);
  Atomics.store(ctl, 1, 1);
  Atomics.notify(ctl, 1);
};
$('upload').onchange = async e => {
  for (const f of e.target.files) post('upload', { name: f.name, bytes: await f.arrayBuffer() });
  e.target.value = '';
};
// A program file from the disk: UTF-8, or Shift-JIS when it is not.
$('open-file').onchange = async e => {
  for (const f of e.target.files) {
    const bytes = new Uint8Array(await f.arrayBuffer());
    let text;
    try { text = new TextDecoder('utf-8', { fatal: true }).decode(bytes); } catch (err) { text = new TextDecoder('shift_jis').decode(bytes); }
    if (!newTab(f.name.replace(/\.(mcl|txt)$/i, ''), text.replace(/^\ufeff/, '').replace(/\r\n?/g, '\n'))) break;
  }
  e.target.value = '';
};
$('save-file').onclick = () => {
  const t = tabs[active];
  saveBlob(new Blob([t.text.replace(/\n/g, '\r\n')], { type: 'text/plain' }), t.caption.replace(/^#/, 'program') + '.mcl');
  t.base = t.text;
  saveProgram(t);
  render();
};
$('share').onclick = async () => {
  const url = location.href.split('#')[0] + '#code=' + encodeURIComponent(tabs[active].text);
  history.replaceState(null, '', url);
  try { await navigator.clipboard.writeText(url); setState('リンクをコピーしました'); } catch (e) { setState('リンクをアドレス欄に置きました'); }
};
$('examples').onchange = async e => {
  const name = e.target.value;
  e.target.value = '';
  if (!name) return;
  const text = await (await fetch('examples/' + name)).text();
  newTab(name.replace(/\.mcl$/, ''), text.replace(/\r\n?/g, '\n'));
};
$('stored').onchange = e => {
  const id = e.target.value;
  e.target.value = '';
  const p = id && VelmoraStore.program(id);
  if (!p) return;
  // A program another open tab owns is opened as a copy; a left-over one is taken.
  if (p.owner && p.owner !== sid && VelmoraStore.alive(p.owner)) {
    newTab(p.caption, p.text);
  } else if (tabs.length < MAX_TABS) {
    const t = { id, caption: p.caption, text: p.text, base: p.base === undefined ? p.text : p.base, compiled: null };
    if (tabs.length === 1 && tabs[0].text === '' && /^#\d+$/.test(tabs[0].caption)) {
      VelmoraStore.removeProgram(tabs[0].id);
      tabs = [];
    }
    tabs.push(t);
    active = tabs.length - 1;
    saveProgram(t);
    render();
  } else {
    addMessage('タブは ' + MAX_TABS + ' 個までです。', true);
  }
};
window.addEventListener('storage', e => { if (e.key && e.key.startsWith('velmora.prog.')) listStored(); });

// A shared program (#code=...): its own tab, or the tab that already holds
// it; with every tab taken, the front tab is replaced only if it is
// unchanged or the user agrees.
function openShared() {
  const m = location.hash.match(/^#code=(.*)$/s);
  if (!m) return;
  let text;
  try { text = decodeURIComponent(m[1]); } catch (e) { return; }
  const same = tabs.findIndex(t => t.text === text);
  if (same >= 0) { active = same; render(); return; }
  if (tabs.length < MAX_TABS || (tabs.length === 1 && tabs[0].text === '')) { newTab('共有', text); return; }
  if (changed(tabs[active]) && !confirm('タブは ' + MAX_TABS + ' 個までです。「' + tabs[active].caption +
                                        '」を共有されたプログラムで置き換えますか？（変更は失われます）')) return;
  VelmoraStore.removeProgram(tabs[active].id);
  tabs[active] = makeTab('共有', text);
  saveProgram(tabs[active]);
  clearError();
  render();
}
window.addEventListener('hashchange', openShared);

// ----- start: this tab's programs (or those no open tab holds), a shared
// program, the examples list
(function start() {
  if (!shared) $('notice').hidden = false;
  let own = [];
  if (sid) own = VelmoraStore.programs().filter(p => p.owner === sid);
  else {
    sid = VelmoraStore.newId();
    sessionStorage.setItem('velmora.sid', sid);
  }
  // The programs of tabs closed earlier (or of the single store before
  // there was one record per program) are taken over.
  try {
    const old = JSON.parse(localStorage.getItem('velmora.tabs') || 'null');
    if (old && Array.isArray(old.tabs)) {
      for (const t of old.tabs) if (t && t.text) VelmoraStore.saveProgram({ id: VelmoraStore.newId(), caption: t.caption, text: t.text, base: t.text }, '');
    }
    localStorage.removeItem('velmora.tabs');
  } catch (e) { /* a damaged store */ }
  const session = VelmoraStore.session(sid);
  if (!own.length) own = VelmoraStore.programs().filter(p => p.text !== '' && (!p.owner || (p.owner !== sid && !VelmoraStore.alive(p.owner))));
  const order = session ? session.ids : [];
  own.sort((a, b) => (order.indexOf(a.id) + 1 || 1e9) - (order.indexOf(b.id) + 1 || 1e9));
  tabs = own.slice(0, MAX_TABS).map(p => ({ id: p.id, caption: p.caption, text: p.text, base: p.base === undefined ? p.text : p.base, compiled: null }));
  if (session) active = Math.min(session.active | 0, Math.max(tabs.length - 1, 0));
  if (!tabs.length) tabs.push(makeTab('#1', ''));
  for (const t of tabs) saveProgram(t);
  for (const p of VelmoraStore.programs())
    if (p.text === '' && p.owner !== sid && !VelmoraStore.alive(p.owner)) VelmoraStore.removeProgram(p.id);
  VelmoraStore.prune();
  saveSession();
  setInterval(saveSession, 2000);
  window.addEventListener('pagehide', () => VelmoraStore.saveSession(sid, tabs.map(t => t.id), active, 0));
  window.addEventListener('pageshow', saveSession);
  openShared();
  render();
  startWorker();
})();
(async function examples() {
  try {
    const list = (await (await fetch('examples/index.json')).json()).programs;
    for (const p of list) $('examples').appendChild(new Option(p.title + '（' + p.file.replace(/\.mcl$/, '') + '）', p.file));
  } catch (e) { /* no examples */ }
})();
