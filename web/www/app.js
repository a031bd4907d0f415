// The playground page: editor tabs, buttons, console, task status, files and
// canvases. The environment itself runs in worker.js.
'use strict';
const $ = id => document.getElementById(id);
const MAX_TABS = 10;
const STORE = 'velmora.tabs';

const shared = typeof SharedArrayBuffer !== 'undefined' && self.crossOriginIsolated;
const ctl = shared ? new Int32Array(new SharedArrayBuffer(16)) : null;
const lineBuf = shared ? new Uint16Array(new SharedArrayBuffer(2 * 65536)) : null;

let worker = null, ready = false, running = false, words = { keywords: new Set(), functions: new Set() };
let tabs = [], active = 0, errorMark = null, stopClicked = 0, fileWanted = null;
const api = (window.velmora = { lastRun: null, stopLatency: null, messages: [] });
// The bytes of a DATA file, as the download button would save them.
api.readFile = name => new Promise(resolve => { fileWanted = resolve; post('download', { name }); });

// ----- the worker
function startWorker() {
  worker = new Worker('worker.js');
  worker.onmessage = e => on[e.data.type] && on[e.data.type](e.data.data);
  worker.postMessage({ type: 'init', ctl: ctl && ctl.buffer, line: lineBuf && lineBuf.buffer });
}
function post(type, extra) { worker.postMessage(Object.assign({ type }, extra)); }
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
  },
  message(d) { addMessage((d.title ? '[' + d.title + '] ' : '') + d.text, false); },
  console(lines) {
    const c = $('console');
    c.textContent = lines.join('\n');
    c.scrollTop = c.scrollHeight;
  },
  status(rows) { showStatus(rows); },
  draw(records) { for (const r of records) draw(r); },
  input() {
    $('input-form').hidden = false;
    $('input').focus();
  },
  runError(rows) { addMessage(rows.map(([k, v]) => k + v).join('\n'), true); },
  compiled(d) {
    showStatus(d.status);
    if (d.error) markError(d.error);
    setState(d.slot >= 0 ? 'コード生成完了：スロット ' + (d.slot + 1) : '文法エラー');
    api.lastCompile = d;
  },
  ran(d) {
    if (stopClicked) api.stopLatency = performance.now() - stopClicked;
    stopClicked = 0;
    running = false;
    $('input-form').hidden = true;
    if (d.status) showStatus(d.status);
    if (d.runError) markError(d.runError);
    const names = { ended: '実行終了', error: '実行時エラー', stopped: '停止しました', notStarted: '実行するタスクがありません' };
    setState(names[d.result] || d.result);
    api.lastRun = d;
    buttons();
  },
  files(list) { showFiles(list); },
  file(d) {
    if (fileWanted) {  // velmora.readFile
      fileWanted(d.bytes);
      fileWanted = null;
      return;
    }
    const a = document.createElement('a');
    a.href = URL.createObjectURL(new Blob([d.bytes]));
    a.download = d.name;
    a.click();
    setTimeout(() => URL.revokeObjectURL(a.href), 1000);
  },
};

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
function addMessage(text, error) {
  api.messages.push(text);
  const div = document.createElement('div');
  if (error) div.className = 'error';
  div.textContent = text;
  $('messages').appendChild(div);
  $('messages').scrollTop = $('messages').scrollHeight;
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
    rm.onclick = () => post('remove', { name: f.name });
    li.append(name, dl, rm);
    ul.appendChild(li);
  }
}
function buttons() {
  $('run').disabled = running || !ready;
  $('compile').disabled = running || !ready;
  $('stop').disabled = !running;
}

// ----- tabs and the editor
function saveTabs() {
  try { localStorage.setItem(STORE, JSON.stringify({ tabs, active })); } catch (e) { /* storage full or off */ }
}
function newTab(caption, text) {
  // An untouched empty first tab gives way to the program opened.
  if (tabs.length === 1 && tabs[0].text === '' && /^#\d+$/.test(tabs[0].caption) && text !== '') tabs = [];
  if (tabs.length >= MAX_TABS) {
    addMessage('タブは ' + MAX_TABS + ' 個までです。', true);
    return false;
  }
  tabs.push({ caption, text });
  active = tabs.length - 1;
  clearError();
  render();
  return true;
}
function freeCaption() {
  for (let n = 1; ; ++n) if (!tabs.some(t => t.caption === '#' + n)) return '#' + n;
}
function render() {
  const nav = $('tabs');
  nav.textContent = '';
  tabs.forEach((t, i) => {
    const b = document.createElement('button');
    b.textContent = t.caption;
    if (i === active) b.className = 'active';
    b.onclick = () => { active = i; render(); };
    nav.appendChild(b);
  });
  const src = $('source');
  const text = tabs[active] ? tabs[active].text : '';
  if (src.value !== text) src.value = text;
  paint();
  buttons();
  saveTabs();
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
  return { cv, show(on) { fig.hidden = !on; } };
}, (w, h) => Object.assign(document.createElement('canvas'), { width: w, height: h }));
const draw = r => canvases.draw(r);

// ----- buttons
function requireReady() { return ready && !running; }
$('new-tab').onclick = () => newTab(freeCaption(), '');
$('close-tab').onclick = () => {
  if (running || !tabs.length) return;
  tabs.splice(active, 1);
  if (!tabs.length) tabs.push({ caption: freeCaption(), text: '' });
  active = Math.min(active, tabs.length - 1);
  clearError();
  render();
};
$('source').addEventListener('input', () => {
  tabs[active].text = $('source').value;
  if (errorMark && errorMark.tab === active) clearError();
  paint();
  saveTabs();
});
$('source').addEventListener('scroll', scrollSync);
$('source').addEventListener('keydown', e => {
  if (e.key === 'Tab') {
    e.preventDefault();
    document.execCommand('insertText', false, '\t');
  }
});
$('compile').onclick = () => {
  if (!requireReady()) return;
  clearError();
  render();
  setState('文法検査中…');
  post('compile', { tab: active, tabs: tabPayload() });
};
$('run').onclick = () => {
  if (!requireReady()) return;
  clearError();
  render();
  running = true;
  buttons();
  setState('実行中…');
  $('console').textContent = '';
  post('run', { tabs: tabPayload() });
};
$('stop').onclick = () => {
  if (!running) return;
  stopClicked = performance.now();
  if (ctl) {
    Atomics.store(ctl, 0, 1);
    Atomics.notify(ctl, 1);
  } else {
    // Without shared memory the worker cannot be told: it is replaced.
    worker.terminate();
    ready = false;
    on.ran({ result: 'stopped', runError: null, status: null });
    startWorker();
  }
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

// ----- start: stored tabs, a shared program, the examples list
(async function start() {
  try {
    const saved = JSON.parse(localStorage.getItem(STORE) || 'null');
    if (saved && Array.isArray(saved.tabs) && saved.tabs.length) {
      tabs = saved.tabs.slice(0, MAX_TABS);
      active = Math.min(saved.active | 0, tabs.length - 1);
    }
  } catch (e) { /* ignore a damaged store */ }
  const m = location.hash.match(/^#code=(.*)$/s);
  if (m) {
    const text = decodeURIComponent(m[1]);
    const same = tabs.findIndex(t => t.text === text);
    if (same >= 0) active = same;
    else if (tabs.length >= MAX_TABS) { tabs[active] = { caption: '共有', text }; }
    else { tabs.push({ caption: '共有', text }); active = tabs.length - 1; }
  }
  if (!tabs.length) tabs.push({ caption: '#1', text: '' });
  render();
  startWorker();
  try {
    const list = (await (await fetch('examples/index.json')).json()).programs;
    for (const name of list) {
      if (/\.\d+\.mcl$/.test(name)) continue;
      const o = document.createElement('option');
      o.value = name; o.textContent = name;
      $('examples').appendChild(o);
    }
  } catch (e) { /* no examples */ }
})();
