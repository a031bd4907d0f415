// The console view: the lines kept as a few large texts ("chunks", lines
// separated by NUL, with the offsets of the lines), so a flood of lines
// makes few objects; only the rows on screen are in the page. It keeps the
// newest lines only: older ones leave the page (the worker's engine keeps no
// more: bridge.cpp, kConsoleTail and kConsoleChars).
const $ = id => document.getElementById(id);
const CONSOLE_MAX = 200000, CONSOLE_MAX_CHARS = 8 << 20;
const ROW = 18;  // console row height, px (style.css)

export const consoleView = (() => {
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
    // A line of the page's own after the last one (a file the browser did not keep).
    append(line) {
      const last = chunks.length ? lineOf(chunks[chunks.length - 1], chunks[chunks.length - 1].count - 1) : '';
      if (last === '') add(Math.max(total - 1, base), line + '\0');
      else add(total, line + '\0');
      schedule();
    },
    text: () => chunks.map(chunkText).join('\0').replace(/\0/g, '\n'),
    count: () => total,
  };
})();
