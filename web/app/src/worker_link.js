// The page's side of the worker (worker.js): starting it, messages both
// ways, the shared cells through which "■", the input line, HTTP answers
// and the store's answers reach a running program, and a watch on the
// worker's signs of life, so that one that died without an error event is
// noticed and replaced.

// ctl: shared Int32 cells (the worker's copy: CTL in worker.js).
export const CTL = { stop: 0, lineReady: 1, lineLength: 2, http: 3, chunk: 4, total: 5, heartbeat: 6, storeAck: 7, storeOk: 8 };
export const shared = typeof SharedArrayBuffer !== 'undefined' && self.crossOriginIsolated;
export const ctl = shared ? new Int32Array(new SharedArrayBuffer(64)) : null;
export const lineBuf = shared ? new Uint16Array(new SharedArrayBuffer(2 * 65536)) : null;
export const httpBuf = shared ? new Uint8Array(new SharedArrayBuffer(1 << 20)) : null;

// A worker that answers nothing for this long while it should be working
// is asked whether it lives; one that stays silent is replaced.
const ASK_AFTER_MS = 2000, DEAD_AFTER_MS = 15000, IDLE_PING_MS = 5000, PONG_WITHIN_MS = 4000;

let worker = null, handlers = {};
let generation = 0, readySeen = false, waiting = false, lastSign = 0, lastBeat = 0, ping = null, pingId = 0;

// The worker's number: it grows with every new worker, so that an answer
// meant for a replaced worker is not given to the next one.
export const workerGeneration = () => generation;

// start(init, on): a new worker, at once (it starts loading the module),
// and its init message when the promise `init` gives it (the stored files);
// on[type](data) handles its messages, on.died(why) is called when the
// watch finds it dead.
export function start(init, on) {
  handlers = on;
  ++generation;
  if (ctl) {
    for (const c of [CTL.stop, CTL.lineReady, CTL.storeAck, CTL.storeOk]) Atomics.store(ctl, c, 0);
  }
  // The first worker was started by the page itself, before this script loaded.
  worker = self.velmoraFirstWorker || new Worker('worker.js');
  self.velmoraFirstWorker = null;
  const mine = worker;
  // The module the page compiled (index.html), or null: the worker waits for it.
  Promise.resolve(self.velmoraModule).catch(() => null).then(module => {
    if (worker === mine) worker.postMessage({ type: 'module', module: module || null });
  });
  worker.onmessage = e => {
    if (worker !== mine) return;
    const { type, data } = e.data;
    if (type === 'pong') return pong(data);
    lastSign = performance.now();
    if (type === 'ready') readySeen = true;
    if (handlers[type]) handlers[type](data);
  };
  worker.onerror = e => {
    e.preventDefault();
    if (worker === mine) handlers.died('ワーカーが止まりました: ' + e.message);
  };
  readySeen = false;
  lastSign = performance.now();
  ping = null;
  waiting = false;
  Promise.resolve(init).then(data => {
    if (worker === mine)
      worker.postMessage(Object.assign({ type: 'init', ctl: ctl && ctl.buffer, line: lineBuf && lineBuf.buffer,
                                         http: httpBuf && httpBuf.buffer }, data));
  });
}
export function stop() {
  if (worker) worker.terminate();
  worker = null;
  waiting = false;
  ping = null;
}
export const alive = () => worker !== null;
export function post(type, extra, transfer) {
  if (worker) worker.postMessage(Object.assign({ type }, extra), transfer || []);
}
// The page waits for the worker's answer to a compile or a run (true), or
// for nothing (false): the watch expects signs of life only while it waits.
export function expectAnswer(on) {
  waiting = on;
  lastSign = performance.now();
  ping = null;
}

function pong(d) {
  if (!ping || d.id !== ping.id) return;
  ping = null;
  lastSign = performance.now();
  // A compile or a run keeps the worker from reading messages until it has
  // answered: a worker that answers the question while the page still
  // waits for that answer has lost the compile or run without a word (its
  // script was ended).
  if (waiting) handlers.died('実行環境が応答しなくなったので作り直しました（プログラムと DATA のファイルはそのままです）。');
}
function ask() {
  ping = { id: ++pingId, at: performance.now() };
  worker.postMessage({ type: 'ping', id: ping.id });
}
setInterval(() => {
  if (!worker || !readySeen) return;
  const now = performance.now();
  if (ctl) {
    const beat = Atomics.load(ctl, CTL.heartbeat);
    if (beat !== lastBeat) { lastBeat = beat; lastSign = now; }
  }
  if (waiting) {
    if (now - lastSign > DEAD_AFTER_MS) {
      handlers.died('実行環境が ' + Math.round(DEAD_AFTER_MS / 1000) + ' 秒応答しないので作り直しました（プログラムと DATA のファイルはそのままです）。');
    } else if (now - lastSign > ASK_AFTER_MS && !ping) {
      ask();
    }
  } else if (ping && now - ping.at > PONG_WITHIN_MS) {
    handlers.died('実行環境が応答しないので作り直しました（プログラムと DATA のファイルはそのままです）。');
  } else if (!ping && now - lastSign > IDLE_PING_MS) {
    ask();
  }
}, 500);
