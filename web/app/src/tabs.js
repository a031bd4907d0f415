// The program tabs of this browser tab, each kept as its own record
// (store.js), and which browser tab owns them: a tab the browser duplicated
// (it copies sessionStorage, and with it the session id) finds the owner
// still alive, asks it over a BroadcastChannel, and goes on with copies of
// the programs under a session of its own.
import * as store from './store.js';
import { setNotice } from './notices.js';

export const MAX_TABS = 10;
export const STARTER = '// はじめてのプログラム：「● 実行」（Ctrl+Enter）で動きます\n' +
  '??"こんにちは、Velmora"; ??CRLF;\nS = 0;\nFOR I = 1 TO 10 DO\n  S += I;\nEND\n??"1 から 10 までの和: "; ??S; ??CRLF;\n';

export const tabs = [];
export let active = 0;
let editor = null, sid = null, settled = false, onRender = () => {};
const unsaved = new Set();

const changed = t => t.text !== t.base && t.text !== '';
export const isChanged = changed;
const makeTab = (caption, text, base = text, id = store.newId()) =>
  ({ id, caption, text, base, state: editor.newState(text), compiled: null, sent: null });

// ----- saving: a record per program, owned by this session; nothing is
// written until the session is known to be this tab's own
function saveProgram(t) {
  if (!settled) return unsaved.add(t);
  if (!store.saveProgram(t, sid) && store.programsKept)
    setNotice('programs-notice', 'プログラムを保存できません（ブラウザの保存領域がいっぱいです）。「保存」でファイルにしてください。');
}
function saveSession() {
  if (settled) store.saveSession(sid, tabs.map(t => t.id), active);
}

// ----- the session: this tab's own, or a copy when the browser duplicated the tab
const sessions = typeof BroadcastChannel !== 'undefined' ? new BroadcastChannel('velmora-sessions') : null;
const loadId = store.newId();
if (sessions) sessions.onmessage = e => {
  const d = e.data;
  if (d.ask && d.ask === sid && d.from !== loadId) sessions.postMessage({ owns: sid, to: d.from });
};
// Whether another open page answers for session `id` (within 400 ms).
function ownedElsewhere(id) {
  if (!sessions) return Promise.resolve(false);
  return new Promise(resolve => {
    const listen = e => {
      if (e.data.owns === id && e.data.to === loadId) { sessions.removeEventListener('message', listen); resolve(true); }
    };
    sessions.addEventListener('message', listen);
    sessions.postMessage({ ask: id, from: loadId });
    setTimeout(() => { sessions.removeEventListener('message', listen); resolve(false); }, 400);
  });
}

// ----- the tab bar and the editor
export function render() {
  const nav = document.getElementById('tabs');
  nav.textContent = '';
  tabs.forEach((t, i) => {
    const b = document.createElement('button');
    b.textContent = t.caption + (changed(t) ? ' *' : '');
    b.title = changed(t) ? '変更あり' : '';
    if (i === active) b.className = 'active';
    b.onclick = () => activate(i);
    nav.appendChild(b);
  });
  if (tabs[active] && editor.state() !== tabs[active].state) showActive();
  saveSession();
  listStored();
  onRender();
}
function showActive() {
  const old = editor.show(tabs[active].state);
  const t = tabs.find(x => x.state === old);
  if (t) t.state = old;
}
export function activate(i) {
  if (i < 0 || i >= tabs.length) return;
  keepEditorState();
  active = i;
  render();
}
// The editor's state (with its undo history) goes back to its tab.
function keepEditorState() {
  const t = tabs[active];
  if (t && editor.text() === t.text) t.state = editor.state();
}
export const front = () => tabs[active];

// Called by the editor on every change of the front tab's text.
export function edited(text) {
  const t = tabs[active];
  if (!t) return;
  t.state = editor.state();
  const was = changed(t);
  t.text = text;
  saveProgram(t);
  if (changed(t) !== was) render();
}

// An untouched first tab (empty, or the starter program) gives way to a program opened.
const untouched = () => tabs.length === 1 && /^#\d+$/.test(tabs[0].caption) && (tabs[0].text === '' || tabs[0].text === STARTER);

export function newTab(caption, text, base) {
  if (untouched() && text !== '') {
    store.removeProgram(tabs[0].id);
    tabs.length = 0;
  }
  if (tabs.length >= MAX_TABS) return false;
  keepEditorState();
  const t = makeTab(caption, text, base);
  tabs.push(t);
  active = tabs.length - 1;
  saveProgram(t);
  render();
  return true;
}
// A stored program opened in a tab of its own (taken over, not copied).
export function adopt(p) {
  if (tabs.length >= MAX_TABS) return false;
  if (untouched()) {
    store.removeProgram(tabs[0].id);
    tabs.length = 0;
  }
  keepEditorState();
  const t = makeTab(p.caption, p.text, p.base === undefined ? p.text : p.base, p.id);
  tabs.push(t);
  active = tabs.length - 1;
  saveProgram(t);
  render();
  return true;
}
export function replaceFront(caption, text) {
  store.removeProgram(tabs[active].id);
  tabs[active] = makeTab(caption, text);
  saveProgram(tabs[active]);
  render();
}
export const freeCaption = () => {
  for (let n = 1; ; ++n) if (!tabs.some(t => t.caption === '#' + n)) return '#' + n;
};
// Closes tab i (asking first when its program was changed); true if closed.
export function closeTab(i) {
  const t = tabs[i];
  if (!t) return false;
  if (changed(t) && !confirm('「' + t.caption + '」は変更されています。閉じるとこのプログラムは失われます。閉じますか？'))
    return false;
  keepEditorState();
  tabs.splice(i, 1);
  store.removeProgram(t.id);
  // The tabs behind it move up, and their slots go with them.
  for (let k = i; k < tabs.length; ++k) tabs[k].compiled = null;
  if (!tabs.length) {
    tabs.push(makeTab(freeCaption(), ''));
    saveProgram(tabs[0]);
  }
  // The tab before the closed one comes to the front when it was in front.
  if (active > i) --active;
  else if (active === i) active = Math.max(0, i - 1);
  active = Math.min(active, tabs.length - 1);
  showActive();
  render();
  return true;
}

// "保存済み…": every stored program not open in this tab (other browser
// tabs' programs, and those left over from earlier visits).
function listStored() {
  const sel = document.getElementById('stored');
  const open = new Set(tabs.map(t => t.id));
  const others = store.programs().filter(p => !open.has(p.id) && p.text !== '');
  sel.textContent = '';
  sel.appendChild(new Option('保存済み（' + others.length + '）…', ''));
  for (const p of others) sel.appendChild(new Option(p.caption + '：' + p.text.split('\n')[0].slice(0, 30), p.id));
  sel.hidden = !others.length;
}
export function openStored(id) {
  const p = id && store.program(id);
  if (!p) return;
  // A program another open tab owns is opened as a copy; a left-over one is taken.
  if (p.owner && p.owner !== sid && store.alive(p.owner)) newTab(p.caption, p.text);
  else adopt(Object.assign({ id }, p));
}
export const listChanged = listStored;

// The tabs' texts as the worker places them into its ten pages.
export function payload() {
  const list = [];
  for (let i = 0; i < MAX_TABS; ++i) list.push(tabs[i] ? { caption: tabs[i].caption, text: tabs[i].text } : null);
  return list;
}

// ----- start: this tab's programs (or those no open tab holds), else the
// starter program; then the session is settled (a duplicated tab forks)
export async function start(theEditor, renderHook) {
  editor = theEditor;
  onRender = renderHook;
  sid = store.sessionStore.getItem('velmora.sid');
  let own = [];
  if (sid) own = store.programs().filter(p => p.owner === sid);
  // The programs of tabs closed earlier (or of the single store before
  // there was one record per program) are taken over.
  try {
    const old = JSON.parse(store.localStore.getItem('velmora.tabs') || 'null');
    if (old && Array.isArray(old.tabs))
      for (const t of old.tabs) if (t && t.text) store.saveProgram({ id: store.newId(), caption: t.caption, text: t.text, base: t.text }, '');
    store.localStore.removeItem('velmora.tabs');
  } catch (e) { /* a damaged store */ }
  const session = sid ? store.sessionRecord(sid) : null;
  const duplicate = sid && store.alive(sid) ? ownedElsewhere(sid) : Promise.resolve(false);
  if (!own.length)
    own = store.programs().filter(p => p.text !== '' && (!p.owner || (p.owner !== sid && !store.alive(p.owner))));
  const order = session ? session.ids : [];
  own.sort((a, b) => (order.indexOf(a.id) + 1 || 1e9) - (order.indexOf(b.id) + 1 || 1e9));
  for (const p of own.slice(0, MAX_TABS)) tabs.push(makeTab(p.caption, p.text, p.base === undefined ? p.text : p.base, p.id));
  if (session) active = Math.min(session.active | 0, Math.max(tabs.length - 1, 0));
  if (!tabs.length) tabs.push(makeTab('#1', STARTER));
  for (const t of tabs) unsaved.add(t);
  render();
  if (await duplicate) {
    // A copy of another open tab: the same programs, as programs of its own.
    for (const t of tabs) t.id = store.newId();
    sid = null;
  }
  if (!sid) {
    sid = store.newId();
    store.sessionStore.setItem('velmora.sid', sid);
  }
  settled = true;
  for (const t of unsaved) if (tabs.includes(t)) saveProgram(t);
  unsaved.clear();
  for (const p of store.programs())
    if (p.text === '' && p.owner !== sid && !store.alive(p.owner)) store.removeProgram(p.id);
  store.pruneSessions();
  saveSession();
  setInterval(saveSession, 2000);
  window.addEventListener('pagehide', () => store.saveSession(sid, tabs.map(t => t.id), active, 0));
  window.addEventListener('pageshow', saveSession);
  window.addEventListener('storage', e => { if (e.key && e.key.startsWith('velmora.prog.')) listStored(); });
}
