// The playground page: editor tabs, buttons, console, task status, files and
// canvases. The environment itself runs in worker.js (worker_link.js talks
// to it); what is kept between visits is in store.js.
import { createEditor } from './editor.js';
import { consoleView } from './console_view.js';
import { draw, stats as canvasStats } from './canvas_view.js';
import * as files from './files.js';
import { abortTransfer, crossSiteNote, fetchForWorker } from './http.js';
import * as store from './store.js';
import * as tabs from './tabs.js';
import * as link from './worker_link.js';
import { CTL, ctl, lineBuf, shared } from './worker_link.js';

const $ = id => document.getElementById(id);
let ready = false, running = false, errorMark = null, stopClicked = 0, fileWanted = null, runStarted = 0;
let stopTimer = 0;

// What the tests (and a curious user) can read: the last compile and run,
// the messages, the console, the program.
const api = (window.velmora = { lastRun: null, lastCompile: null, stopLatency: null, messages: [] });
// When the page's script began, the worker was asked to start, and it was ready (ms since the navigation).
api.timing = { script: performance.now() };
api.readFile = name => new Promise(resolve => { fileWanted = resolve; link.post('download', { name }); });
api.consoleText = () => consoleView.text();
api.consoleLines = () => consoleView.count();
Object.defineProperty(api, 'canvasPaints', { get: () => canvasStats.paints });
Object.defineProperty(api, 'persisted', { get: () => files.api.persisted });

// ----- the editor
const editor = createEditor($('editor'), {
  onChange(text) {
    if (errorMark && errorMark.tab === tabs.active) errorMark = null;
    tabs.edited(text);
  },
});
api.setText = text => editor.setText(text);
api.getText = () => editor.text();
api.editor = editor;

// ----- messages of the last compile or run (each starts a new list)
function setState(text) { $('state').textContent = text; }
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
function showStatus(rows) {
  const ol = $('status');
  ol.textContent = '';
  for (const r of rows || []) {
    const li = document.createElement('li');
    li.textContent = r;
    ol.appendChild(li);
  }
}
function buttons() {
  $('run').disabled = running || !ready;
  $('compile').disabled = running || !ready;
  $('stop').disabled = !running;
  $('close-tab').disabled = running;
}

// A compile error or a run-time error: its tab to the front, its line
// marked, and the compiler's plain explanation at the token (the message's
// "Line =>" counts lines from 0: the editor's line is said as well).
function markError(mark, explanation) {
  errorMark = mark;
  if (mark.tab >= 0 && mark.tab < tabs.tabs.length) tabs.activate(mark.tab);
  const x = explanation && explanation.line === mark.line ? explanation : null;
  editor.markError(mark.line, x ? x.column : 0, x ? x.text : '', false);
  api.errorLine = mark.line;
}
function noteErrorLine(mark) {
  const divs = $('messages').querySelectorAll('div');
  const note = '⇒ エディタの ' + (mark.line + 1) + ' 行目（メッセージの Line => は 0 から数えます）';
  const last = divs[divs.length - 1];
  if (last && /Line\s*=>/.test(last.textContent)) last.textContent += '\n' + note;
  else addMessage(note, true);
  api.messages.push(note);
}
function clearError() {
  errorMark = null;
  api.errorLine = undefined;
  editor.clearMarks();
}

// ----- the worker
// The worker starts loading the module at once; the stored files follow
// when the store has read them.
function startWorker(opened) {
  ready = false;
  buttons();
  api.timing.worker = performance.now();
  link.start((async () => {
    await opened;
    await files.settled();
    let kept = [];
    try {
      kept = await store.allFiles();
    } catch (e) {
      addMessage('保存されたファイルを読めません: ' + e, true);
    }
    return { files: kept, waitForStore: store.dataKept, migrate: store.programsKept && !store.localStore.getItem('velmora.migrated') };
  })(), on);
}
// A new worker with the stored files; the page keeps the programs.
function restartWorker(why) {
  link.stop();
  abortTransfer();
  clearTimeout(stopTimer);
  for (const t of tabs.tabs) t.compiled = null;
  if (running) finishRun({ result: 'stopped', runError: null, status: null });
  if (why) addMessage(why, true);
  startWorker(null);
}

const on = {
  ready(d) {
    editor.setWords({ keywords: new Set(d.words.keywords.filter(w => /^\p{L}/u.test(w)).map(w => w.toUpperCase())),
                      functions: new Set(d.words.functions.map(w => w.toUpperCase())) });
    ready = true;
    api.timing.ready = performance.now();
    files.showFiles(d.files);
    showStatus(d.status);
    addExampleData(d.files);
    setState('準備完了');
    buttons();
    files.takeExternal();
  },
  died(why) { restartWorker(why); },
  migrated() { store.localStore.setItem('velmora.migrated', '1'); },
  persist(d) { files.onPersist(d); },
  message(d) { addMessage((d.title ? '[' + d.title + '] ' : '') + d.text, false); },
  console(d) { consoleView.update(d); },
  status(rows) { showStatus(rows); },
  memory(bytes) { api.workerMemory = bytes; },  // the module's memory, for the tests
  draw(records) { draw(records); },
  input(d) {
    $('input-label').textContent = 'タスク ' + (d.slot + 1) + ' の入力：';
    $('input-form').hidden = false;
    $('input').focus();
  },
  http(req) { fetchForWorker(req, text => addMessage(text, true)); },
  runError(rows) { addMessage(rows.map(([k, v]) => k + v).join('\n'), true); },
  compiled(d) {
    api.lastCompile = d;
    if (d.memory) return;  // "ran" follows with the memory result
    showStatus(d.status);
    const tab = d.tab !== undefined ? d.tab : tabs.active;
    const t = tabs.tabs[tab];
    if (t) t.compiled = d.slot >= 0 ? t.sent : null;
    if (d.error) {
      const first = (d.explanations || []).find(x => !x.note);
      markError(d.error, first);
      noteErrorLine(d.error);
    }
    // The compiler's plain explanations (of the error, or notes on likely slips).
    for (const x of d.explanations || [])
      addMessage((x.note ? '注意: ' : '') + (x.line >= 0 ? (x.line + 1) + ' 行目' + (x.column >= 0 ? '（' + (x.column + 1) + ' 文字目）' : '') + ': ' : '') +
                 x.text, !x.note);
    if (!running) link.expectAnswer(false);
    setState(d.slot >= 0 ? 'コード生成完了：スロット ' + (d.slot + 1) : '文法エラー');
  },
  started() { setState('実行中…'); },
  async ran(d) {
    link.expectAnswer(false);
    clearTimeout(stopTimer);
    if (d.result === 'memory') {
      addMessage('メモリ不足：' + (api.lastCompile && api.lastCompile.memory ? '文法検査' : 'プログラムの実行') +
                 'の途中でメモリが上限に達したので止めました。環境を作り直しました（プログラムと DATA のファイルはそのままです）。', true);
      finishRun(d);
      restartWorker();
      return;
    }
    // Without shared memory the worker cannot wait for the store: a file
    // the browser refused turns the run's end into the file error here.
    if (!shared && (d.result === 'ended' || d.result === 'stopped')) {
      const lost = await files.refusedInRun();
      if (lost.length) {
        const path = '/velmora/DATA/' + lost[0];
        consoleView.append('- ファイルI/Oエラー');
        consoleView.append(path);
        addMessage('- ファイルI/Oエラー\n' + path, true);
        d = Object.assign({}, d, { result: 'error' });
      }
    }
    finishRun(d);
  },
  files(list) { files.showFiles(list); },
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
  if (d.runError) markError(d.runError, null);
  const names = { ended: '実行終了', error: '実行時エラー', stopped: '停止しました', notStarted: '実行するタスクがありません',
                  compileError: '文法エラー', memory: 'メモリ不足' };
  setState(names[d.result] || d.result);
  d.wallMs = performance.now() - runStarted;
  api.lastRun = d;
  buttons();
  files.takeExternal();
}
function saveBlob(blob, name) {
  const a = document.createElement('a');
  a.href = URL.createObjectURL(blob);
  a.download = name;
  a.click();
  setTimeout(() => URL.revokeObjectURL(a.href), 1000);
}

// The data files the examples read go into DATA unless a file of that name is there.
async function addExampleData(list) {
  try {
    const data = (await (await fetch('examples/index.json')).json()).data;
    for (const name of data) {
      if (list.some(f => f.name === name)) continue;
      const bytes = await (await fetch('examples/data/' + name)).arrayBuffer();
      link.post('upload', { name, bytes });
    }
  } catch (e) { /* no examples */ }
}

// ----- compile and run
const requireReady = () => ready && !running;
async function compileFront() {
  if (!requireReady()) return;
  clearMessages();
  clearError();
  setState('文法検査中…');
  const t = tabs.front();
  t.sent = t.text;
  await files.takeExternal();
  link.expectAnswer(true);
  link.post('compile', { tab: tabs.active, tabs: tabs.payload() });
}
// "●": every open tab is compiled (tab n into slot n, as velmora-run
// compiles its files), then they all run.
async function runAll() {
  if (!requireReady()) return;
  clearMessages();
  clearError();
  for (const t of tabs.tabs) t.sent = t.text;
  running = true;
  runStarted = performance.now();
  api.lastCompile = null;
  buttons();
  setState('文法検査中…');
  consoleView.clear();
  $('input-form').hidden = true;
  if (ctl) { Atomics.store(ctl, CTL.stop, 0); Atomics.store(ctl, CTL.lineReady, 0); }
  files.runStarts();
  await files.takeExternal();
  link.expectAnswer(true);
  link.post('run', { tabs: tabs.payload() });
}
function stopRun() {
  if (!running || stopClicked) return;
  stopClicked = performance.now();
  abortTransfer();
  if (ctl) {
    Atomics.store(ctl, CTL.stop, 1);
    Atomics.notify(ctl, CTL.lineReady);
    Atomics.notify(ctl, CTL.http);
    // A worker that does not stop within two seconds is replaced.
    stopTimer = setTimeout(() => { if (running) restartWorker('実行環境が ■ に応答しないので作り直しました（プログラムと DATA のファイルはそのままです）。'); }, 2000);
    return;
  }
  // Without shared memory the worker cannot be told: it is replaced, once
  // the files it already reported have reached the page.
  setState('停止中…');
  setTimeout(() => restartWorker(), 150);
}

// ----- buttons and keys
$('new-tab').onclick = () => { if (!tabs.newTab(tabs.freeCaption(), '')) addMessage('タブは ' + tabs.MAX_TABS + ' 個までです。', true); };
$('close-tab').onclick = () => {
  if (running) return;
  const i = tabs.active;
  if (tabs.closeTab(i) && ready) link.post('closeTab', { index: i, tabs: tabs.payload() });
};
$('compile').onclick = compileFront;
$('run').onclick = runAll;
$('stop').onclick = stopRun;
// Before the editor sees them: F9 compiles, Ctrl+Enter runs.
document.addEventListener('keydown', e => {
  if (e.key === 'F9') { e.preventDefault(); e.stopPropagation(); compileFront(); }
  else if (e.key === 'Enter' && (e.ctrlKey || e.metaKey)) { e.preventDefault(); e.stopPropagation(); runAll(); }
}, true);
$('input-form').onsubmit = e => {
  e.preventDefault();
  const text = $('input').value;
  $('input').value = '';
  $('input-form').hidden = true;
  if (!ctl) return;
  const n = Math.min(text.length, lineBuf.length);
  for (let i = 0; i < n; ++i) lineBuf[i] = text.charCodeAt(i);
  Atomics.store(ctl, CTL.lineLength, n);
  Atomics.store(ctl, CTL.lineReady, 1);
  Atomics.notify(ctl, CTL.lineReady);
};
$('upload').onchange = async e => {
  for (const f of e.target.files) link.post('upload', { name: f.name, bytes: await f.arrayBuffer() });
  e.target.value = '';
};
// A program file from the disk: UTF-8, or Shift-JIS when it is not.
$('open-file').onchange = async e => {
  for (const f of e.target.files) {
    const bytes = new Uint8Array(await f.arrayBuffer());
    let text;
    try { text = new TextDecoder('utf-8', { fatal: true }).decode(bytes); } catch (err) { text = new TextDecoder('shift_jis').decode(bytes); }
    if (!tabs.newTab(f.name.replace(/\.(mcl|txt)$/i, ''), text.replace(/^\ufeff/, '').replace(/\r\n?/g, '\n'))) {
      addMessage('タブは ' + tabs.MAX_TABS + ' 個までです。', true);
      break;
    }
  }
  e.target.value = '';
};
$('save-file').onclick = () => {
  const t = tabs.front();
  saveBlob(new Blob([t.text.replace(/\n/g, '\r\n')], { type: 'text/plain' }), t.caption.replace(/^#/, 'program') + '.mcl');
  t.base = t.text;
  tabs.edited(t.text);
  tabs.render();
};
$('share').onclick = async () => {
  const url = location.href.split('#')[0] + '#code=' + encodeURIComponent(tabs.front().text);
  history.replaceState(null, '', url);
  // The link now in the address bar is this tab's own program: a reload does not open it again.
  store.sessionStore.setItem('velmora.linkOpened', location.hash);
  try { await navigator.clipboard.writeText(url); setState('リンクをコピーしました'); } catch (e) { setState('リンクをアドレス欄に置きました'); }
};
$('examples').onchange = async e => {
  const name = e.target.value;
  e.target.value = '';
  if (!name) return;
  const text = await (await fetch('examples/' + name)).text();
  if (!tabs.newTab(name.replace(/\.mcl$/, ''), text.replace(/\r\n?/g, '\n'))) addMessage('タブは ' + tabs.MAX_TABS + ' 個までです。', true);
};
$('stored').onchange = e => {
  const id = e.target.value;
  e.target.value = '';
  tabs.openStored(id);
};

// A shared program (#code=...): its own tab, or the tab that already holds
// it; with every tab taken, the front tab is replaced only if it is
// unchanged or the user agrees. A link opened once in this browser tab is
// not opened again by a reload (its tab holds the program, maybe edited).
function openShared() {
  const m = location.hash.match(/^#code=(.*)$/s);
  if (!m || store.sessionStore.getItem('velmora.linkOpened') === location.hash) return;
  let text;
  try { text = decodeURIComponent(m[1]); } catch (e) { return; }
  store.sessionStore.setItem('velmora.linkOpened', location.hash);
  const same = tabs.tabs.findIndex(t => t.text === text);
  if (same >= 0) return tabs.activate(same);
  if (tabs.tabs.length < tabs.MAX_TABS) return tabs.newTab('共有', text);
  if (tabs.isChanged(tabs.front()) && !confirm('タブは ' + tabs.MAX_TABS + ' 個までです。「' + tabs.front().caption +
                                               '」を共有されたプログラムで置き換えますか？（変更は失われます）')) return;
  tabs.replaceFront('共有', text);
}
window.addEventListener('hashchange', openShared);

// A file another page changed reaches this page's list at once while it is idle.
files.externalNote.arrived = () => { if (ready && !running) files.takeExternal(); };

// ----- start
(async function start() {
  if (!shared) $('notice').hidden = false;
  const opened = store.openData();
  startWorker(opened);
  const tabsReady = tabs.start(editor, buttons);
  store.askPersistenceOnce();
  if (!(await opened) || !store.programsKept) files.noticeUnkept();
  await tabsReady;
  openShared();
})();
(async function examples() {
  try {
    const list = (await (await fetch('examples/index.json')).json()).programs;
    for (const p of list) $('examples').appendChild(new Option(p.title + '（' + p.file.replace(/\.mcl$/, '') + '）', p.file));
  } catch (e) { /* no examples */ }
})();
