// DATA as the page sees it: the file list with the space the site uses,
// the worker's reports written into the store (store.js) and answered
// through the shared cells, changes of other pages handed to the worker,
// and a lasting notice when the browser does not keep files.
import * as store from './store.js';
import { setNotice } from './notices.js';
import { CTL, ctl, post, workerGeneration } from './worker_link.js';

const $ = id => document.getElementById(id);
const MB = n => (n / 1048576).toFixed(1) + ' MB';
const channel = typeof BroadcastChannel !== 'undefined' ? new BroadcastChannel('velmora-data') : null;
let chain = Promise.resolve();
const external = new Set();
let refusedDuringRun = [];
export const api = { persisted: 0 };

// The browser refused to keep these files: said at the top until a later
// file is kept again, and remembered for the run that wrote them.
function refused(paths, reason) {
  refusedDuringRun.push(...paths);
  const full = /Quota/i.test(reason) ? '保存領域がいっぱいです' : reason;
  setNotice('storage-notice', 'ブラウザがファイルを保存しませんでした（' + full + '）：' + paths.join('、') +
            '。このファイルは再読み込みやページを閉じると失われます。DATA のファイルを削除して空きを作ってください。');
}

// A report of the worker ({entries, seq}): written into the store in one
// transaction; a report the worker waits for (seq) is answered through the
// shared cells, ok or refused.
export function onPersist({ entries, seq }) {
  const generation = workerGeneration();
  chain = chain.then(async () => {
    let ok = true, reason = '', merged = [];
    try {
      merged = await store.applyChanges(entries);
    } catch (e) {
      ok = false;
      reason = (e && (e.name || e.message)) || String(e);
    }
    if (seq && ctl && generation === workerGeneration()) {
      Atomics.store(ctl, CTL.storeOk, ok ? 1 : 0);
      Atomics.store(ctl, CTL.storeAck, seq);
      Atomics.notify(ctl, CTL.storeAck);
    }
    if (ok) {
      api.persisted += entries.length;
      if (channel && store.dataKept) channel.postMessage({ paths: entries.map(e => e.path) });
      for (const p of merged) external.add(p);
    } else {
      refused(entries.filter(e => e.kind === 'file' || e.kind === 'append').map(e => e.path), reason);
      // The worker's copy goes back to what the store holds.
      for (const e of entries) external.add(e.path);
    }
    showSpace();
  });
  return chain;
}
// Everything reported so far is in the store (or refused).
export const settled = () => chain;

// A run starts: the files refused from now on belong to it. A run ended:
// the files it wrote that the browser refused (for pages without shared
// memory, where the worker cannot wait for the answer).
export function runStarts() { refusedDuringRun = []; }
export async function refusedInRun() {
  await chain;
  return refusedDuringRun.slice();
}

// Another page changed files: read back from the store and given to the
// worker when it is idle (canTake), before the next compile or run.
// when: called with nothing once another page's change arrived (main.js
// hands it over at once when no compile or run is going).
export const externalNote = { arrived: () => {} };
if (channel) channel.onmessage = e => {
  if (!store.dataKept) return;
  for (const p of e.data.paths) external.add(p);
  externalNote.arrived();
};
export async function takeExternal() {
  await chain;
  if (!external.size) return;
  const paths = [...external];
  external.clear();
  const entries = await Promise.all(paths.map(p => store.getFile(p)));
  post('external', { entries });
}

export async function showSpace() {
  const el = $('storage-space');
  if (!store.dataKept) {
    el.textContent = '（このページの中だけ：保存されません）';
    return;
  }
  const s = await store.space();
  el.textContent = s && s.quota ? `使用 ${MB(s.usage || 0)}／空き ${MB(Math.max(0, s.quota - (s.usage || 0)))}` : '';
}

export function showFiles(list) {
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
  showSpace();
}

// The store could not be opened, or refused from the start: said at the top.
export function noticeUnkept() {
  setNotice('storage-notice', 'ブラウザがこのサイトの保存領域を使わせないため（' + store.dataRefusal + '）、DATA のファイルは' +
            'このページの中だけにあり、保存されません（ページを閉じると消えます）。' +
            (store.programsKept ? '' : 'プログラムも保存されません。'));
}
