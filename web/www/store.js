// The playground's storage in the browser, shared by all its tabs:
//  - DATA files in IndexedDB ("velmora-playground", store "data"), one record
//    per file or directory, keyed by the path inside DATA. Records are
//    written and deleted one by one as the worker reports them, never as a
//    whole set, so two tabs never delete each other's files; every change is
//    announced on the BroadcastChannel "velmora-data".
//  - Programs in localStorage, one record per program ("velmora.prog.ID"),
//    each owned by one browser tab ("velmora.session.SID" lists its programs
//    and is refreshed every two seconds while the tab is open).
'use strict';
const VelmoraStore = (() => {
  let opened = null;
  function db() {
    if (!opened) opened = new Promise((resolve, reject) => {
      const r = indexedDB.open('velmora-playground', 1);
      r.onupgradeneeded = () => r.result.createObjectStore('data');
      r.onsuccess = () => resolve(r.result);
      r.onerror = () => reject(r.error);
    });
    return opened;
  }
  const done = req => new Promise((resolve, reject) => { req.onsuccess = () => resolve(req.result); req.onerror = () => reject(req.error); });
  const finished = tx => new Promise((resolve, reject) => { tx.oncomplete = resolve; tx.onerror = tx.onabort = () => reject(tx.error); });

  // Every record: [{path, kind: 'file'|'dir', bytes}], parents before children.
  async function all() {
    const store = (await db()).transaction('data').objectStore('data');
    const [keys, values] = await Promise.all([done(store.getAllKeys()), done(store.getAll())]);
    return keys.map((path, i) => Object.assign({ path }, values[i])).sort((a, b) => a.path < b.path ? -1 : 1);
  }
  async function get(path) {
    const v = await done((await db()).transaction('data').objectStore('data').get(path));
    return v ? Object.assign({ path }, v) : { path, kind: 'gone' };
  }
  // Applies the changes one record each: a file or directory is put, a gone
  // path is deleted with everything under it.
  async function apply(entries) {
    const tx = (await db()).transaction('data', 'readwrite');
    const store = tx.objectStore('data');
    for (const e of entries) {
      if (e.kind === 'gone') {
        store.delete(e.path);
        store.delete(IDBKeyRange.bound(e.path + '/', e.path + '/\uffff'));
      } else {
        store.put(e.kind === 'dir' ? { kind: 'dir' } : { kind: 'file', bytes: e.bytes }, e.path);
      }
    }
    await finished(tx);
  }

  // ----- programs
  const PROG = 'velmora.prog.', SESSION = 'velmora.session.';
  const ALIVE_MS = 6000;
  const read = key => { try { return JSON.parse(localStorage.getItem(key) || 'null'); } catch (e) { return null; } };
  const write = (key, value) => { try { localStorage.setItem(key, JSON.stringify(value)); return true; } catch (e) { return false; } };
  const newId = () => Date.now().toString(36) + Math.random().toString(36).slice(2, 8);
  function programs() {
    const list = [];
    for (let i = 0; i < localStorage.length; ++i) {
      const key = localStorage.key(i);
      if (key && key.startsWith(PROG)) {
        const p = read(key);
        if (p) list.push(Object.assign(p, { id: key.slice(PROG.length) }));
      }
    }
    return list.sort((a, b) => (b.t || 0) - (a.t || 0));
  }
  function alive(sid) {
    const s = read(SESSION + sid);
    return !!s && Date.now() - (s.t || 0) < ALIVE_MS;
  }
  return {
    all, get, apply, newId, programs, alive,
    program: id => read(PROG + id),
    saveProgram(p, owner) {
      return write(PROG + p.id, { caption: p.caption, text: p.text, base: p.base, owner, t: Date.now() });
    },
    removeProgram(id) { localStorage.removeItem(PROG + id); },
    session: sid => read(SESSION + sid),
    saveSession(sid, ids, active, t = Date.now()) { write(SESSION + sid, { ids, active, t }); },
    // Sessions whose tab has been closed for long: their record goes.
    prune() {
      for (let i = localStorage.length - 1; i >= 0; --i) {
        const key = localStorage.key(i);
        if (key && key.startsWith(SESSION) && !alive(key.slice(SESSION.length))) {
          const s = read(key);
          if (!s || Date.now() - (s.t || 0) > 7 * 86400e3) localStorage.removeItem(key);
        }
      }
    },
  };
})();
