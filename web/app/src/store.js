// What the playground keeps in the browser, shared by all its pages:
//  - DATA files in IndexedDB ("velmora-playground", store "data"), one
//    record per file or directory, keyed by the path inside DATA. Records
//    are written one by one as the worker reports them, never as a whole
//    set, so two pages never delete each other's files; an append is added
//    to the record as it is then (two pages appending to one file keep all
//    lines). Every change is announced on the BroadcastChannel "velmora-data".
//  - Programs in localStorage, one record per program ("velmora.prog.ID"),
//    each owned by one browser tab ("velmora.session.SID" lists its
//    programs and is refreshed every two seconds while the tab is open).
// Where the browser refuses a store (site storage blocked, IndexedDB that
// cannot be opened) the same calls keep everything in the page's memory
// instead, and `dataKept` / `programsKept` say so.

// ----- localStorage and sessionStorage, or memory when the browser refuses them
function memoryStorage() {
  const m = new Map();
  return {
    getItem: k => (m.has(k) ? m.get(k) : null), setItem: (k, v) => { m.set(k, String(v)); },
    removeItem: k => { m.delete(k); }, key: i => [...m.keys()][i] ?? null, get length() { return m.size; },
  };
}
function storageOr(name) {
  try {
    const s = window[name];
    s.getItem('velmora.probe');
    return { s, kept: true };
  } catch (e) {
    return { s: memoryStorage(), kept: false };
  }
}
const local = storageOr('localStorage');
const session = storageOr('sessionStorage');
export const localStore = local.s, sessionStore = session.s;
export const programsKept = local.kept;

// ----- DATA
const concat = (a, b) => {
  const out = new Uint8Array(a.length + b.length);
  out.set(a);
  out.set(b, a.length);
  return out;
};
const memoryData = new Map();  // path -> { kind, bytes }, when IndexedDB is not there
let opened = null;
export let dataKept = true, dataRefusal = '';
function db() {
  if (!opened) opened = new Promise((resolve, reject) => {
    const r = indexedDB.open('velmora-playground', 1);
    r.onupgradeneeded = () => r.result.createObjectStore('data');
    r.onsuccess = () => {
      // A later version elsewhere: this page lets it go on, and stops keeping files.
      r.result.onversionchange = () => { r.result.close(); dataKept = false; dataRefusal = 'VersionChange'; };
      resolve(r.result);
    };
    r.onerror = () => reject(r.error);
    r.onblocked = () => reject(new Error('blocked'));
  });
  return opened;
}
const done = req => new Promise((resolve, reject) => { req.onsuccess = () => resolve(req.result); req.onerror = () => reject(req.error); });
const finished = tx => new Promise((resolve, reject) => {
  tx.oncomplete = resolve;
  tx.onerror = tx.onabort = () => reject(tx.error || new Error('aborted'));
});
const errorName = e => (e && (e.name || e.message)) || String(e);

// Opens the store; false (and files kept in the page only) when the browser refuses it.
export async function openData() {
  try {
    if (typeof indexedDB === 'undefined') throw new Error('no IndexedDB');
    await db();
    return true;
  } catch (e) {
    dataKept = false;
    dataRefusal = errorName(e);
    return false;
  }
}

// Every record: [{path, kind: 'file'|'dir', bytes}], parents before children.
export async function allFiles() {
  let list;
  if (!dataKept) {
    list = [...memoryData].map(([path, v]) => Object.assign({ path }, v));
  } else {
    const store = (await db()).transaction('data').objectStore('data');
    const [keys, values] = await Promise.all([done(store.getAllKeys()), done(store.getAll())]);
    list = keys.map((path, i) => Object.assign({ path }, values[i]));
  }
  return list.sort((a, b) => a.path < b.path ? -1 : 1);
}
export async function getFile(path) {
  const v = dataKept ? await done((await db()).transaction('data').objectStore('data').get(path)) : memoryData.get(path);
  return v ? Object.assign({ path }, v) : { path, kind: 'gone' };
}

// Applies the changes of one report in one transaction: a file or a
// directory is put, a gone path is deleted with everything under it, an
// append ({bytes: the part added, base: the size it was added to, whole:
// the page's whole copy}) is added to the stored file. Resolves to the
// paths whose stored content now differs from the worker's copy (another
// page appended meanwhile); rejects when the browser refuses the change.
export async function applyChanges(entries) {
  const merged = [];
  if (!dataKept) {
    for (const e of entries) {
      if (e.kind === 'gone') {
        for (const k of [...memoryData.keys()]) if (k === e.path || k.startsWith(e.path + '/')) memoryData.delete(k);
      } else if (e.kind === 'append') {
        const cur = memoryData.get(e.path);
        if (cur && cur.kind === 'file' && cur.bytes.length !== e.base) merged.push(e.path);
        memoryData.set(e.path, { kind: 'file', bytes: cur && cur.kind === 'file' ? concat(cur.bytes, e.bytes) : e.whole });
      } else {
        memoryData.set(e.path, e.kind === 'dir' ? { kind: 'dir' } : { kind: 'file', bytes: e.bytes });
      }
    }
    return merged;
  }
  const tx = (await db()).transaction('data', 'readwrite');
  const store = tx.objectStore('data');
  for (const e of entries) {
    if (e.kind === 'gone') {
      store.delete(e.path);
      store.delete(IDBKeyRange.bound(e.path + '/', e.path + '/\uffff'));
    } else if (e.kind === 'append') {
      // Read and written in the same transaction: no other page's change comes between.
      store.get(e.path).onsuccess = ev => {
        const cur = ev.target.result;
        const onFile = cur && cur.kind === 'file';
        if (onFile && cur.bytes.length !== e.base) merged.push(e.path);
        store.put({ kind: 'file', bytes: onFile ? concat(cur.bytes, e.bytes) : e.whole }, e.path);
      };
    } else {
      store.put(e.kind === 'dir' ? { kind: 'dir' } : { kind: 'file', bytes: e.bytes }, e.path);
    }
  }
  await finished(tx);
  return merged;
}

// Space the site uses and may use, as the browser says ({usage, quota} in bytes, or null).
export async function space() {
  try {
    return navigator.storage && navigator.storage.estimate ? await navigator.storage.estimate() : null;
  } catch (e) {
    return null;
  }
}
// Asks once per browser that the site's storage be kept (not evicted under pressure).
export async function askPersistenceOnce() {
  if (!local.kept || localStore.getItem('velmora.persistAsked') || !navigator.storage || !navigator.storage.persist) return;
  localStore.setItem('velmora.persistAsked', '1');
  try { await navigator.storage.persist(); } catch (e) { /* the browser decides */ }
}

// ----- programs
const PROG = 'velmora.prog.', SESSION = 'velmora.session.';
const ALIVE_MS = 6000;
const read = key => { try { return JSON.parse(localStore.getItem(key) || 'null'); } catch (e) { return null; } };
const write = (key, value) => { try { localStore.setItem(key, JSON.stringify(value)); return true; } catch (e) { return false; } };
export const newId = () => Date.now().toString(36) + Math.random().toString(36).slice(2, 8);
export function programs() {
  const list = [];
  for (let i = 0; i < localStore.length; ++i) {
    const key = localStore.key(i);
    if (key && key.startsWith(PROG)) {
      const p = read(key);
      if (p) list.push(Object.assign(p, { id: key.slice(PROG.length) }));
    }
  }
  return list.sort((a, b) => (b.t || 0) - (a.t || 0));
}
export function alive(sid) {
  const s = read(SESSION + sid);
  return !!s && Date.now() - (s.t || 0) < ALIVE_MS;
}
export const program = id => read(PROG + id);
// False when the browser refused the record (its storage is full).
export const saveProgram = (p, owner) =>
  write(PROG + p.id, { caption: p.caption, text: p.text, base: p.base, owner, t: Date.now() });
export const removeProgram = id => { try { localStore.removeItem(PROG + id); } catch (e) { /* kept */ } };
export const sessionRecord = sid => read(SESSION + sid);
export const saveSession = (sid, ids, active, t = Date.now()) => write(SESSION + sid, { ids, active, t });
// Sessions whose tab has been closed for a week: their record goes.
export function pruneSessions() {
  for (let i = localStore.length - 1; i >= 0; --i) {
    const key = localStore.key(i);
    if (key && key.startsWith(SESSION) && !alive(key.slice(SESSION.length))) {
      const s = read(key);
      if (!s || Date.now() - (s.t || 0) > 7 * 86400e3) localStore.removeItem(key);
    }
  }
}
