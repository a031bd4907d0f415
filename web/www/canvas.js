// The ten canvases of a run, drawn from the records of web/src/web_canvas.cpp
// with the desktop's colours and geometry. The page draws them on its HTML
// canvases; the worker keeps a copy on OffscreenCanvases, from which SAVE
// writes its PNG and BMP files.
'use strict';

// makeSurface(i) gives { cv, show(on) } for canvas i; makeScratch(w, h) a
// canvas to keep the old picture while a canvas grows.
function VelmoraCanvases(makeSurface, makeScratch) {
  const surfaces = [];
  const rgb = v => 'rgb(' + (v & 255) + ',' + ((v >> 8) & 255) + ',' + ((v >> 16) & 255) + ')';
  // Dash patterns of the desktop pens, in multiples of the pen width.
  const DASHES = [[], [4, 2], [1, 2], [4, 2, 1, 2], [4, 2, 1, 2, 1, 2]];

  function surface(i) {
    if (!surfaces[i]) {
      const s = makeSurface(i);
      s.cv.width = 400;
      s.cv.height = 400;
      s.ctx = s.cv.getContext('2d', { willReadFrequently: true });
      surfaces[i] = s;
      blank(s, 0xFFFFFF);
    }
    return surfaces[i];
  }
  function blank(s, colour) {
    s.ctx.save();
    s.ctx.globalCompositeOperation = 'source-over';
    s.ctx.fillStyle = rgb(colour);
    s.ctx.fillRect(0, 0, s.cv.width, s.cv.height);
    s.ctx.restore();
  }
  function pen(ctx, colour, width, style, notXor) {
    // Not-XOR: the inverted colour drawn as a difference gives ~(source ^ destination).
    ctx.globalCompositeOperation = notXor ? 'difference' : 'source-over';
    ctx.strokeStyle = rgb(notXor ? ~colour & 0xFFFFFF : colour);
    ctx.lineWidth = width;
    ctx.setLineDash((DASHES[style] || []).map(d => d * width));
  }
  function fontOf(name, size, style) {
    const px = size * 96 / 72;
    return (style & 2 ? 'italic ' : '') + (style & 1 ? 'bold ' : '') + px.toFixed(1) + 'px ' +
      (name ? '"' + name + '", ' : '') + '"IPAGothic", "Noto Sans CJK JP", sans-serif';
  }
  // The same line height as WebCanvas::lineHeight.
  const lineHeight = size => Math.round(Math.max(1, size) * 96 / 72 * 1.15);
  function shape(ctx, fill, path, penArgs) {
    pen(ctx, ...penArgs);
    ctx.beginPath();
    path();
    if (fill !== null) {
      ctx.fillStyle = rgb(penArgs[3] ? ~fill & 0xFFFFFF : fill);
      ctx.fill();
    }
    ctx.stroke();
  }

  this.context = i => surface(i).ctx;
  this.draw = function draw(r) {
    const [op, c] = r;
    if (op === 'reset') {
      // Only the canvases a run has drawn on exist: the others start white
      // and 400 by 400 when first used. (Making all ten at once kept the
      // page busy for over 100 ms at the start of the first run.)
      for (const s of surfaces) {
        if (!s) continue;
        if (s.cv.width !== 400 || s.cv.height !== 400) {
          s.cv.width = 400;
          s.cv.height = 400;
        }
        blank(s, 0xFFFFFF);
      }
      return;
    }
    const s = surface(c), ctx = s.ctx;
    ctx.save();
    switch (op) {
      case 'show': s.show(!!r[2]); break;
      case 'place': break;  // the page lays its canvases out itself
      case 'extent': {
        const old = makeScratch(s.cv.width, s.cv.height);
        old.getContext('2d').drawImage(s.cv, 0, 0);
        s.cv.width = r[2];
        s.cv.height = r[3];
        blank(s, 0xFFFFFF);
        s.ctx.drawImage(old, 0, 0);
        break;
      }
      case 'back': blank(s, r[2]); break;
      case 'line': {
        const [, , x0, y0, x1, y1, colour, width, style, nx] = r;
        pen(ctx, colour, width, style, nx);
        const o = width % 2 ? 0.5 : 0;
        ctx.beginPath();
        ctx.moveTo(x0 + o, y0 + o);
        ctx.lineTo(x1 + o, y1 + o);
        ctx.stroke();
        break;
      }
      case 'rect': ctx.fillStyle = rgb(r[6]); ctx.fillRect(r[2], r[3], r[4] - r[2], r[5] - r[3]); break;
      case 'ellipse': {
        const [, , l, t, rt, b, colour, width, style, nx, fill] = r;
        shape(ctx, fill, () => ctx.ellipse((l + rt) / 2, (t + b) / 2, Math.max(0, (rt - l) / 2 - 0.5),
                                          Math.max(0, (b - t) / 2 - 0.5), 0, 0, 2 * Math.PI),
              [colour, width, style, nx]);
        break;
      }
      case 'pie': {
        const [, , l, t, rt, b, start, span, colour, width, style, nx, fill] = r;
        const cx = (l + rt) / 2, cy = (t + b) / 2;
        // Counter-clockwise degrees from 3 o'clock; the canvas turns clockwise.
        shape(ctx, fill, () => {
          ctx.moveTo(cx, cy);
          ctx.ellipse(cx, cy, Math.max(0, (rt - l) / 2 - 0.5), Math.max(0, (b - t) / 2 - 0.5), 0,
                      -start * Math.PI / 180, -(start + span) * Math.PI / 180, span > 0);
          ctx.closePath();
        }, [colour, width, style, nx]);
        break;
      }
      case 'polygon': {
        const [, , pts, colour, width, style, nx, fill] = r;
        shape(ctx, fill, () => {
          for (let i = 0; i < pts.length; i += 2) (i ? ctx.lineTo : ctx.moveTo).call(ctx, pts[i] + 0.5, pts[i + 1] + 0.5);
          ctx.closePath();
        }, [colour, width, style, nx]);
        break;
      }
      case 'bezier': {
        const [, , p, colour, width, style, nx] = r;
        shape(ctx, null, () => {
          ctx.moveTo(p[0], p[1]);
          for (let i = 2; i + 5 < p.length; i += 6) ctx.bezierCurveTo(p[i], p[i + 1], p[i + 2], p[i + 3], p[i + 4], p[i + 5]);
        }, [colour, width, style, nx]);
        break;
      }
      case 'text': case 'ctext': {
        const [, , x, y, text, name, size, style, colour, background, extra] = r;
        ctx.font = fontOf(name, size, style);
        ctx.textBaseline = 'top';
        const w = ctx.measureText(text).width, h = lineHeight(size);
        if (op === 'ctext' && extra) {
          ctx.beginPath();
          ctx.rect(extra[0], extra[1], extra[2] - extra[0], extra[3] - extra[1]);
          ctx.clip();
        }
        ctx.translate(x, y);
        if (op === 'text') {
          ctx.rotate(-(extra || 0) / 10 * Math.PI / 180);
          ctx.fillStyle = rgb(background);
          ctx.fillRect(0, 0, Math.ceil(w), h);
        }
        ctx.fillStyle = rgb(colour);
        ctx.fillText(text, 0, (h - size * 96 / 72) / 2);
        if (style & 4) ctx.fillRect(0, h - 2, w, 1);
        if (style & 8) ctx.fillRect(0, h / 2, w, 1);
        break;
      }
    }
    ctx.restore();
  };
}

// Image files of a canvas part: PNG (stored deflate blocks, 24-bit) and BMP
// (24-bit, bottom-up), made synchronously in the worker.
const VelmoraImages = (() => {
  const crcTable = new Uint32Array(256).map((_, n) => {
    let c = n;
    for (let k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320 ^ (c >>> 1) : c >>> 1;
    return c >>> 0;
  });
  const crc32 = (bytes, crc = 0xFFFFFFFF) => {
    for (const b of bytes) crc = crcTable[(crc ^ b) & 255] ^ (crc >>> 8);
    return crc;
  };
  function png(rgba, w, h) {
    const raw = new Uint8Array(h * (1 + 3 * w));
    for (let y = 0, o = 0; y < h; ++y) {
      raw[o++] = 0;  // filter: none
      for (let x = 0; x < w; ++x) {
        const i = 4 * (y * w + x);
        raw[o++] = rgba[i]; raw[o++] = rgba[i + 1]; raw[o++] = rgba[i + 2];
      }
    }
    // zlib stream of stored blocks (at most 65535 bytes each) and Adler-32.
    const blocks = Math.max(1, Math.ceil(raw.length / 65535));
    const z = new Uint8Array(2 + raw.length + 5 * blocks + 4);
    z[0] = 0x78; z[1] = 0x01;
    let o = 2;
    for (let b = 0; b < blocks; ++b) {
      const part = raw.subarray(b * 65535, Math.min(raw.length, (b + 1) * 65535));
      z[o++] = b === blocks - 1 ? 1 : 0;
      z[o++] = part.length & 255; z[o++] = part.length >> 8;
      z[o++] = ~part.length & 255; z[o++] = (~part.length >> 8) & 255;
      z.set(part, o);
      o += part.length;
    }
    let a = 1, b2 = 0;
    for (const v of raw) { a = (a + v) % 65521; b2 = (b2 + a) % 65521; }
    const adler = ((b2 << 16) | a) >>> 0;
    z[o++] = adler >>> 24; z[o++] = (adler >>> 16) & 255; z[o++] = (adler >>> 8) & 255; z[o++] = adler & 255;
    const chunks = [];
    const chunk = (type, data) => {
      const out = new Uint8Array(12 + data.length);
      const dv = new DataView(out.buffer);
      dv.setUint32(0, data.length);
      for (let i = 0; i < 4; ++i) out[4 + i] = type.charCodeAt(i);
      out.set(data, 8);
      dv.setUint32(8 + data.length, (crc32(out.subarray(4, 8 + data.length)) ^ 0xFFFFFFFF) >>> 0);
      chunks.push(out);
    };
    const ihdr = new Uint8Array(13);
    const dv = new DataView(ihdr.buffer);
    dv.setUint32(0, w); dv.setUint32(4, h);
    ihdr[8] = 8; ihdr[9] = 2;  // 8 bits, RGB
    chunk('IHDR', ihdr);
    chunk('IDAT', z);
    chunk('IEND', new Uint8Array(0));
    const sig = [137, 80, 78, 71, 13, 10, 26, 10];
    const out = new Uint8Array(8 + chunks.reduce((n, c) => n + c.length, 0));
    out.set(sig, 0);
    let p = 8;
    for (const c of chunks) { out.set(c, p); p += c.length; }
    return out;
  }
  function bmp(rgba, w, h) {
    const row = (3 * w + 3) & ~3, size = 54 + row * h;
    const out = new Uint8Array(size);
    const dv = new DataView(out.buffer);
    out[0] = 66; out[1] = 77;
    dv.setUint32(2, size, true); dv.setUint32(10, 54, true); dv.setUint32(14, 40, true);
    dv.setInt32(18, w, true); dv.setInt32(22, h, true); dv.setUint16(26, 1, true); dv.setUint16(28, 24, true);
    dv.setUint32(34, row * h, true);
    for (let y = 0; y < h; ++y) {
      let o = 54 + (h - 1 - y) * row;
      for (let x = 0; x < w; ++x) {
        const i = 4 * (y * w + x);
        out[o++] = rgba[i + 2]; out[o++] = rgba[i + 1]; out[o++] = rgba[i];
      }
    }
    return out;
  }
  return { png, bmp };
})();
