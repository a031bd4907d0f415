// The playground's worker: the WebAssembly environment runs here, so the
// page never freezes. The page talks to it with messages; while a program
// runs, the stop button and the input line reach it through shared memory
// (ctl[0] stop, ctl[1] line ready, ctl[2] its length, `line` the UTF-16 text).
'use strict';
importScripts('velmora.js', 'canvas.js');

const HOME = '/velmora', DATA = '/velmora/DATA';
let M = null, ctl = null, line = null;

function send(type, data) { postMessage({ type, data }); }

// The worker's copy of the canvases, for SAVE.
const mirror = new VelmoraCanvases(() => ({ cv: new OffscreenCanvas(400, 400), show() {} }),
                                   (w, h) => new OffscreenCanvas(w, h));

self.velmoraHost = {
  post(kind, json) {
    const data = JSON.parse(json);
    if (kind === 'draw') for (const r of data) mirror.draw(r);
    send(kind, data);
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
  stopRequested() { return ctl !== null && Atomics.load(ctl, 0) !== 0; },
  // GETS: waits for the page's input line, or null after the stop button.
  readLine() {
    if (ctl === null) return '';
    for (;;) {
      if (Atomics.load(ctl, 0) !== 0) return null;
      if (Atomics.load(ctl, 1) === 1) {
        const text = new TextDecoder('utf-16le').decode(line.slice(0, ctl[2]));
        Atomics.store(ctl, 1, 0);
        return text;
      }
      Atomics.wait(ctl, 1, 0, 20);
    }
  },
  // One transfer, synchronous: "OK\n" and the report lines, or "ERR\n" and why.
  http(url, post, fields, file, timeoutMs) {
    const xhr = new XMLHttpRequest();
    xhr.open(post ? 'POST' : 'GET', url, false);
    xhr.responseType = 'arraybuffer';
    if (timeoutMs > 0) xhr.timeout = timeoutMs;
    let body = null;
    if (post) {
      const enc = s => encodeURIComponent(s);
      body = fields.split('\r').filter(l => l).map(l => {
        const eq = l.indexOf('=');
        return eq < 0 ? enc(l) : enc(l.slice(0, eq)) + '=' + enc(l.slice(eq + 1));
      }).join('&');
      xhr.setRequestHeader('Content-Type', 'application/x-www-form-urlencoded');
    }
    try {
      xhr.send(body);
    } catch (e) {
      return 'ERR\n' + (e && e.message ? e.message : String(e));
    }
    if (xhr.status === 0) return 'ERR\nnetwork error';
    M.FS.writeFile(file, new Uint8Array(xhr.response));
    const h = name => xhr.getResponseHeader(name) || '';
    const type = h('content-type');
    const charset = (type.match(/charset=([^;]+)/i) || ['', ''])[1].trim();
    return 'OK\n' + [
      ' Status-Code:' + xhr.status, ' Status-Text:' + xhr.statusText, '      Length:' + h('content-length'),
      '   Mime-Type:' + type.split(';')[0].trim(), 'LastModified:' + h('last-modified'), '        Date:' + h('date'),
      '    Char-Set:' + charset, '    Encoding:' + h('content-encoding'), '    Language:' + h('content-language'),
    ].join('\n');
  },
};

function sync(populate) {
  return new Promise(resolve => M.FS.syncfs(populate, err => resolve(err)));
}

function dataFiles() {
  const files = [];
  for (const name of M.FS.readdir(DATA)) {
    if (name === '.' || name === '..') continue;
    const st = M.FS.stat(DATA + '/' + name);
    if (M.FS.isFile(st.mode)) files.push({ name, size: st.size });
  }
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

// A file name inside DATA: no directories, no way out of it.
function dataPath(name) {
  const base = String(name).split(/[\\/]/).pop();
  if (!base || base === '.' || base === '..') throw new Error('bad file name');
  return DATA + '/' + base;
}

const handlers = {
  async init(msg) {
    if (msg.ctl) {
      ctl = new Int32Array(msg.ctl);
      line = new Uint16Array(msg.line);
    }
    M = await VelmoraModule();
    M.FS.mkdir(HOME);
    M.FS.mount(M.FS.filesystems.IDBFS, {}, HOME);
    await sync(true);
    try { M.FS.mkdir(DATA); } catch (e) { /* kept from an earlier visit */ }
    M.ccall('vm_init', null, ['string', 'string'], [HOME, DATA]);
    send('ready', { words: JSON.parse(M.ccall('vm_words', 'string', [], [])), files: dataFiles(),
                    status: JSON.parse(M.ccall('vm_status', 'string', [], [])) });
  },
  compile(msg) {
    setTabs(msg.tabs);
    send('compiled', JSON.parse(M.ccall('vm_compile', 'string', ['number'], [msg.tab])));
  },
  async run(msg) {
    if (ctl) { Atomics.store(ctl, 0, 0); Atomics.store(ctl, 1, 0); }
    setTabs(msg.tabs);
    const t0 = performance.now();
    const result = JSON.parse(M.ccall('vm_run', 'string', [], []));
    result.ms = performance.now() - t0;
    send('ran', result);
    await sync(false);
    send('files', dataFiles());
  },
  async upload(msg) {
    M.FS.writeFile(dataPath(msg.name), new Uint8Array(msg.bytes));
    await sync(false);
    send('files', dataFiles());
  },
  download(msg) {
    const bytes = M.FS.readFile(dataPath(msg.name));
    send('file', { name: msg.name, bytes });
  },
  async remove(msg) {
    M.FS.unlink(dataPath(msg.name));
    await sync(false);
    send('files', dataFiles());
  },
};

onmessage = async e => {
  const msg = e.data;
  try {
    await handlers[msg.type](msg);
  } catch (err) {
    send('message', { title: 'エラー', text: String(err && err.message ? err.message : err) });
    if (msg.type === 'run') send('ran', { result: 'error', runError: null, status: null });
  }
};
