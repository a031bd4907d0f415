// The canvases of the page: drawing records from the worker (canvas.js
// draws them) wait for the next animation frame and are drawn then, at
// most once a frame. Records of a canvas before one that paints it all over
// (its back colour, a box over the whole canvas, the reset of a new run)
// are never drawn: only the latest state of each canvas is kept.
/* global VelmoraCanvases */
const $ = id => document.getElementById(id);

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

let queue = [], queued = false;
const sizes = Array.from({ length: 10 }, () => [400, 400]);
// Whether a record covers its whole canvas, as the canvas is sized then.
function coversAll(r) {
  const [op, c] = r;
  if (op === 'back') return true;
  if (op !== 'rect') return false;
  const [w, h] = sizes[c];
  return Math.min(r[2], r[4]) <= 0 && Math.min(r[3], r[5]) <= 0 && Math.max(r[2], r[4]) >= w && Math.max(r[3], r[5]) >= h;
}
export const stats = { paints: 0 };

export function draw(records) {
  for (const r of records) {
    const [op, c] = r;
    if (op === 'reset') {
      // Shown and sized canvases are kept as records; the rest goes.
      queue = [];
      for (const s of sizes) s[0] = s[1] = 400;
    } else if (op === 'extent') {
      sizes[c] = [r[2], r[3]];
    } else if (coversAll(r)) {
      queue = queue.filter(q => q[1] !== c || q[0] === 'show' || q[0] === 'extent' || q[0] === 'reset');
    }
    queue.push(r);
  }
  if (!queued && queue.length) {
    queued = true;
    // A page out of sight gets no animation frames: it draws four times a second.
    if (document.hidden) setTimeout(paint, 250); else requestAnimationFrame(paint);
  }
}
function paint() {
  queued = false;
  const records = queue;
  queue = [];
  for (const r of records) canvases.draw(r);
  ++stats.paints;
}
