// Browser tests of the playground: Debian's chromium, headless, driven by
// puppeteer-core. Each case serves the built playground (web/serve.py, with
// the COOP/COEP headers), opens it in a fresh browser profile and checks
// what a user would see.
//   node browser.mjs BUILD_DIR CASE     (CASE: hello, compile_error, canvas, bar_chart,
//                                        stop, files, share, commands, input, bench)
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import puppeteer from 'puppeteer-core';

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.resolve(here, '..', '..');
const [buildDir, caseName] = process.argv.slice(2);
const chromium = process.env.CHROMIUM || '/usr/bin/chromium';

function fail(message) {
  throw new Error(message);
}
function check(ok, message) {
  if (!ok) fail(message);
}

async function serve() {
  const server = spawn('python3', [path.join(root, 'web', 'serve.py'), path.resolve(buildDir), '0'],
                       { stdio: ['ignore', 'pipe', 'inherit'] });
  const url = await new Promise((resolve, reject) => {
    let out = '';
    server.stdout.on('data', d => {
      out += d;
      const m = out.match(/^(http:\S+)\n/m);
      if (m) resolve(m[1]);
    });
    server.on('exit', code => reject(new Error('server exited ' + code)));
  });
  return { server, url };
}

async function launch(profile) {
  return puppeteer.launch({
    executablePath: chromium,
    headless: true,
    userDataDir: profile,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync',
           '--disable-dev-shm-usage'],
  });
}

// ----- page helpers
async function open(browser, url) {
  const page = await browser.newPage();
  page.on('pageerror', e => console.error('page error:', e.message));
  page.on('console', m => { if (m.type() === 'error') console.error('page console:', m.text()); });
  await page.goto(url);
  await page.waitForFunction(() => document.getElementById('state').textContent === '準備完了', { timeout: 60000 });
  return page;
}
async function setProgram(page, text) {
  await page.evaluate(t => {
    const s = document.getElementById('source');
    s.value = t;
    s.dispatchEvent(new Event('input'));
  }, text);
}
async function compile(page) {
  await page.evaluate(() => { window.velmora.lastCompile = null; });
  await page.click('#compile');
  await page.waitForFunction(() => window.velmora.lastCompile !== null, { timeout: 30000 });
  return page.evaluate(() => window.velmora.lastCompile);
}
async function run(page, timeout = 60000) {
  await page.evaluate(() => { window.velmora.lastRun = null; });
  await page.click('#run');
  await page.waitForFunction(() => window.velmora.lastRun !== null, { timeout });
  return page.evaluate(() => window.velmora.lastRun);
}
async function compileAndRun(page, text) {
  await setProgram(page, text);
  const c = await compile(page);
  check(c.slot >= 0, 'compile failed: ' + JSON.stringify(c));
  return run(page);
}
const consoleText = page => page.$eval('#console', e => e.textContent);
async function openExample(page, name) {
  await page.select('#examples', name);
  await page.waitForFunction(n => [...document.querySelectorAll('#tabs button')].some(b => b.textContent === n),
                             {}, name.replace(/\.mcl$/, ''));
}
const example = name => fs.readFileSync(path.join(root, 'examples', name), 'utf8').replace(/\r\n?/g, '\n');

// The desktop runner's console for a program: the expected output.
function desktopOutput(name) {
  const golden = path.join(root, 'tests', 'examples', name.replace(/\.mcl$/, '.out'));
  return fs.existsSync(golden) ? fs.readFileSync(golden, 'utf8') : null;
}

const cases = {
  async hello(page) {
    await openExample(page, 'hello.mcl');
    const c = await compile(page);
    check(c.slot === 0, 'hello compiles into slot 1: ' + JSON.stringify(c));
    const r = await run(page);
    check(r.result === 'ended', 'hello ends: ' + JSON.stringify(r));
    const text = await consoleText(page);
    check(text.includes('こんにちは、Velmora'), 'greeting in the console: ' + JSON.stringify(text));
    check(text.includes('1 から 10 までの和: 55'), 'sum in the console: ' + JSON.stringify(text));
    const expected = desktopOutput('hello.mcl');
    if (expected !== null) check(text.trimEnd() === expected.trimEnd(), 'console equals the desktop output:\n' + text);
    const status = await page.$eval('#status', e => e.textContent);
    check(status.includes('01: '), 'task status list filled: ' + status);
    // The editor colours keywords from the loaded word lists.
    const kw = await page.$$eval('#highlight .kw', spans => spans.map(s => s.textContent));
    check(kw.includes('FOR') && kw.includes('TO'), 'keywords coloured: ' + kw.join(' '));
  },

  async compile_error(page) {
    await setProgram(page, fs.readFileSync(path.join(root, 'tests', 'programs', 'compile_error.mcl'), 'utf8'));
    const c = await compile(page);
    check(c.slot < 0 && c.error, 'compile fails with a place: ' + JSON.stringify(c));
    check(c.error.line === 2, 'error on line 3 (index 2): ' + JSON.stringify(c.error));
    const marked = await page.$$eval('#gutter div.error', d => d.map(x => x.textContent));
    check(marked.length === 1 && marked[0] === '3', 'gutter marks line 3: ' + marked);
    const hl = await page.$$eval('#highlight .line', d => d.map(x => x.classList.contains('error')));
    check(hl[2] === true && hl.filter(Boolean).length === 1, 'only line 3 highlighted');
    const msgs = await page.evaluate(() => window.velmora.messages.join('\n'));
    check(msgs.includes('Syntax Error'), 'compile message shown: ' + msgs);
  },

  async canvas(page) {
    await openExample(page, 'canvas.mcl');
    await compile(page);
    const r = await run(page);
    check(r.result === 'ended', 'canvas example ends: ' + JSON.stringify(r));
    await page.waitForFunction(() => !document.getElementById('canvas0').parentElement.hidden);
    const sample = (x, y) => page.evaluate((x, y) => Array.from(
      document.getElementById('canvas0').getContext('2d').getImageData(x, y, 1, 1).data.slice(0, 3)), x, y);
    const near = (got, want) => got.every((v, i) => Math.abs(v - want[i]) <= 8);
    const probes = [
      [[20, 20], [235, 245, 250], 'background box'],
      [[70, 260], [78, 20, 185], 'second bar'],
      [[390, 100], [222, 180, 65], 'last bar'],
      [[350, 60], [235, 245, 250], 'above the last bars'],
      [[200, 350], [255, 255, 255], 'outside the background box'],
      [[40, 260], [235, 245, 250], 'between first bars'],
    ];
    for (const [[x, y], want, what] of probes) {
      const got = await sample(x, y);
      check(near(got, want), `${what} at ${x},${y}: got ${got}, want ${want}`);
    }
  },

  // A run-time error marks its line and shows the error window's rows.
  async runtime_error(page) {
    const r = await compileAndRun(page, fs.readFileSync(path.join(root, 'tests', 'programs', 'runtime_error.mcl'), 'utf8'));
    check(r.result === 'error' && r.runError && r.runError.line === 4, 'run stops at line 5 (index 4): ' + JSON.stringify(r));
    const marked = await page.$$eval('#gutter div.error', d => d.map(x => x.textContent));
    check(marked.length === 1 && marked[0] === '5', 'gutter marks line 5: ' + marked);
    const msgs = await page.evaluate(() => window.velmora.messages.join('\n'));
    check(msgs.includes('計算エラー') && msgs.includes('全タスク停止'), 'error rows shown: ' + msgs);
    check((await consoleText(page)).startsWith('start'), 'console kept the output before the error');
  },

  // SAVE on a canvas writes a PNG into DATA; the console equals the desktop's.
  async bar_chart(page) {
    await page.waitForFunction(() => document.getElementById('files').textContent.includes('sales.txt'));
    await openExample(page, 'bar_chart.mcl');
    await compile(page);
    const r = await run(page);
    check(r.result === 'ended', 'bar chart ends: ' + JSON.stringify(r));
    const text = await consoleText(page);
    const expected = desktopOutput('bar_chart.mcl');
    check(text.trimEnd() === expected.trimEnd(), 'console equals the desktop output:\n' + text);
    await page.waitForFunction(() => document.getElementById('files').textContent.includes('chart.png'));
    // The saved file decodes; a bar (b 200, g 120, r 40) and the white above it.
    const pixels = await page.evaluate(async () => {
      const bytes = await window.velmora.readFile('chart.png');
      const bitmap = await createImageBitmap(new Blob([bytes], { type: 'image/png' }));
      const c = new OffscreenCanvas(bitmap.width, bitmap.height);
      const ctx = c.getContext('2d');
      ctx.drawImage(bitmap, 0, 0);
      const at = (x, y) => Array.from(ctx.getImageData(x, y, 1, 1).data.slice(0, 3));
      return { size: [bitmap.width, bitmap.height], bar: at(65, 300), above: at(65, 100) };
    });
    check(pixels.size[0] === 400 && pixels.size[1] === 400, 'PNG is 400x400: ' + pixels.size);
    check(pixels.bar.join() === '40,120,200', 'bar pixel in the PNG: ' + pixels.bar);
    check(pixels.above.join() === '255,255,255', 'white above the bar: ' + pixels.above);
  },

  async stop(page) {
    await setProgram(page, 'A = 0;\nWHILE A >= 0 DO\n  A += 1;\nEND\n');
    const c = await compile(page);
    check(c.slot >= 0, 'endless loop compiles: ' + JSON.stringify(c));
    await page.evaluate(() => { window.velmora.lastRun = null; });
    await page.click('#run');
    await new Promise(r => setTimeout(r, 1000));
    check(await page.evaluate(() => window.velmora.lastRun === null), 'the loop is still running after a second');
    await page.click('#stop');
    await page.waitForFunction(() => window.velmora.lastRun !== null, { timeout: 5000 });
    const { run: r, latency } = await page.evaluate(() => ({ run: window.velmora.lastRun, latency: window.velmora.stopLatency }));
    console.log(`stop latency: ${latency.toFixed(1)} ms`);
    check(r.result === 'stopped', 'the run was stopped: ' + JSON.stringify(r));
    check(latency <= 100, `stop within 100 ms (took ${latency.toFixed(1)} ms)`);
  },

  async files(page, ctx) {
    // A file uploaded into DATA is read by a program.
    const upload = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'velmora-upload-')), 'upload.txt');
    fs.writeFileSync(upload, 'アップロード済み\n');
    const input = await page.$('#upload');
    await input.uploadFile(upload);
    await page.waitForFunction(() => document.getElementById('files').textContent.includes('upload.txt'));
    let r0 = await compileAndRun(page, '&U[] = <*> "upload.txt";\n??&U[0]; ??CRLF;\n');
    check(r0.result === 'ended', 'upload reader ends: ' + JSON.stringify(r0));
    check((await consoleText(page)).includes('アップロード済み'), 'the uploaded file was read');

    const write = 'FILE(1).OPEN("memo.txt", WRITE);\nFILE(1).WRITE("一行目");\nFILE(1).WRITE("second");\n' +
                  'FILE(1).CLOSE;\n??"書いた";\n';
    let r = await compileAndRun(page, write);
    check(r.result === 'ended', 'writer ends: ' + JSON.stringify(r));
    await page.waitForFunction(() => document.getElementById('files').textContent.includes('memo.txt'));
    // A new visit: the file is kept in the browser's storage.
    await page.reload();
    await page.waitForFunction(() => document.getElementById('state').textContent === '準備完了', { timeout: 60000 });
    const read = '&A[] = <*> "memo.txt";\n??&A[0]; ??"/"; ??&A[1]; ??CRLF;\n';
    r = await compileAndRun(page, read);
    check(r.result === 'ended', 'reader ends: ' + JSON.stringify(r));
    const text = await consoleText(page);
    check(text.includes('一行目') && text.includes('second'), 'the next program read the file: ' + JSON.stringify(text));
  },

  async share(page, ctx) {
    const program = '// 共有テスト\n??"共有された プログラム";\n??CRLF;\n';
    await setProgram(page, program);
    await page.click('#share');
    const url = await page.evaluate(() => location.href);
    check(url.includes('#code='), 'link carries the program: ' + url);
    // Another browser profile opens the link.
    const other = await launch(fs.mkdtempSync(path.join(os.tmpdir(), 'velmora-web-profile-')));
    try {
      const p2 = await open(other, url);
      const text = await p2.$eval('#source', e => e.value);
      check(text === program, 'the shared link restores the program: ' + JSON.stringify(text));
      await compile(p2);
      const r = await run(p2);
      check(r.result === 'ended', 'shared program runs');
      check((await consoleText(p2)).includes('共有された プログラム'), 'shared program prints');
    } finally {
      await other.close();
    }
  },

  // HTTP through the browser: a page of the same site, then a server that
  // does not answer, reported with the desktop's message.
  async http(page, ctx) {
    const ok = ctx.url + 'examples/data/words.txt';
    let r = await compileAndRun(page, `&P[] = <*> "${ok}";\nN = &P[] . SIZE;\n??"lines: "; ??N; ??CRLF;\n`);
    check(r.result === 'ended', 'same-site GET ends: ' + JSON.stringify(r));
    const lines = fs.readFileSync(path.join(root, 'examples', 'data', 'words.txt'), 'utf8').replace(/\n$/, '').split('\n').length;
    const text = await consoleText(page);
    check(text.includes('lines: ' + lines), `GET read ${lines} lines: ` + JSON.stringify(text));
    const bad = 'http://127.0.0.1:9/nothing.html';
    r = await compileAndRun(page, `&P[] = <*> "${bad}";\n??"never";\n`);
    check(r.result === 'error', 'failed GET is a run-time error: ' + JSON.stringify(r));
    const msgs = await page.evaluate(() => window.velmora.messages.join('\n'));
    check(msgs.includes(`- HTTP ロード　エラー：ファイル名(${bad})`), 'desktop message for a failed GET: ' + msgs);
  },

  async commands(page) {
    const r = await compileAndRun(page, 'COMMAND HIDE "ls";\n').catch(e => ({ error: String(e) }));
    const msgs = await page.evaluate(() => window.velmora.messages.join('\n'));
    check(/ブラウザ版では使えません/.test(msgs), 'commands say they are unavailable: ' + msgs + JSON.stringify(r));
  },

  async input(page) {
    await setProgram(page, '??"名前？";\n?? GETS &N;\n??"こんにちは " + &N;\n??CRLF;\n');
    const c = await compile(page);
    check(c.slot >= 0, 'GETS program compiles: ' + JSON.stringify(c));
    await page.evaluate(() => { window.velmora.lastRun = null; });
    await page.click('#run');
    await page.waitForSelector('#input-form:not([hidden])', { timeout: 10000 });
    await page.type('#input', '花子');
    await page.keyboard.press('Enter');
    await page.waitForFunction(() => window.velmora.lastRun !== null, { timeout: 10000 });
    const text = await consoleText(page);
    check(text.includes('こんにちは 花子'), 'GETS read the input line: ' + JSON.stringify(text));
    // "■" also ends a program that waits for its input line.
    await page.evaluate(() => { window.velmora.lastRun = null; });
    await page.click('#run');
    await page.waitForSelector('#input-form:not([hidden])', { timeout: 10000 });
    await page.click('#stop');
    await page.waitForFunction(() => window.velmora.lastRun !== null, { timeout: 5000 });
    const r = await page.evaluate(() => window.velmora.lastRun);
    check(r.result === 'stopped', 'stop during GETS: ' + JSON.stringify(r));
    check(await page.$eval('#input-form', f => f.hidden), 'input line hidden after the stop');
  },

  // docs/images/playground.png: two examples open, the canvas one run.
  async screenshot(page) {
    await page.setViewport({ width: 1280, height: 1000 });
    await openExample(page, 'hello.mcl');
    await openExample(page, 'canvas.mcl');
    await compile(page);
    await page.click('#tabs button:nth-child(1)');
    await compile(page);
    const r = await run(page);
    check(r.result === 'ended', 'examples run');
    await page.click('#tabs button:nth-child(2)');
    const out = path.join(root, 'docs', 'images', 'playground.png');
    await page.screenshot({ path: out, fullPage: true });
    console.log('wrote ' + out);
  },

  // The FOR loop benchmark: milliseconds of the run in the worker.
  async bench(page) {
    const program = fs.readFileSync(path.join(root, 'bench', 'programs', 'for_loop.mcl'), 'utf8');
    const times = [];
    for (let i = 0; i < Number(process.env.RUNS || 3); ++i) {
      const r = await compileAndRun(page, program);
      check(r.result === 'ended', 'benchmark ends');
      times.push(r.ms);
    }
    console.log(`browser for_loop: ${Math.min(...times).toFixed(0)} ms (best of ${times.map(t => t.toFixed(0)).join(', ')})`);
    console.log('console: ' + (await consoleText(page)).trim());
  },
};

async function main() {
  check(cases[caseName], 'unknown case ' + caseName);
  const { server, url } = await serve();
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'velmora-web-profile-'));
  const browser = await launch(profile);
  let ok = false;
  try {
    const page = await open(browser, url);
    check(await page.evaluate(() => self.crossOriginIsolated), 'the page is cross-origin isolated');
    await cases[caseName](page, { url });
    ok = true;
  } catch (e) {
    console.error(`FAIL ${caseName}: ${e.message}`);
  } finally {
    await browser.close();
    server.kill();
    fs.rmSync(profile, { recursive: true, force: true });
  }
  console.log(ok ? `PASS ${caseName}` : `FAIL ${caseName}`);
  process.exit(ok ? 0 : 1);
}
main();
