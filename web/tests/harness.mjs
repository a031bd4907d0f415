// What every browser test of the playground shares: the server (web/serve.py
// with the COOP/COEP headers, or Python's plain one), Debian's chromium in a
// fresh profile driven by puppeteer-core, and the steps a user takes.
//   node FILE.mjs BUILD_DIR CASE      (FILE: browser, storage, sessions, robust, results, editor)
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import puppeteer from 'puppeteer-core';

export const here = path.dirname(fileURLToPath(import.meta.url));
export const root = path.resolve(here, '..', '..');
export const [buildDir, caseName] = process.argv.slice(2);
const chromium = process.env.CHROMIUM || '/usr/bin/chromium';

export function fail(message) {
  throw new Error(message);
}
export function check(ok, message) {
  if (!ok) fail(message);
}
export const sleep = ms => new Promise(res => setTimeout(res, ms));
export const tempDir = prefix => fs.mkdtempSync(path.join(os.tmpdir(), prefix));

// web/serve.py, or (plain) Python's own server: no isolation headers, no compression.
export async function serve(plain = false) {
  const args = plain ? ['-m', 'http.server', '--bind', '127.0.0.1', '0'] : [path.join(root, 'web', 'serve.py'), path.resolve(buildDir), '0'];
  const server = spawn('python3', ['-u', ...args], { stdio: ['ignore', 'pipe', 'inherit'], cwd: path.resolve(buildDir) });
  const url = await new Promise((resolve, reject) => {
    let out = '';
    server.stdout.on('data', d => {
      out += d;
      const m = out.match(/^(http:\S+)\n/m) || out.match(/port (\d+)/);
      if (m) resolve(m[1].startsWith('http') ? m[1] : `http://127.0.0.1:${m[1]}/`);
    });
    server.on('exit', code => reject(new Error('server exited ' + code)));
  });
  return { server, url };
}

// A browser on a fresh profile. diskMB: the profile lies on a file system
// of that size of its own (a tmpfs in a private mount namespace, see
// small-disk-chromium.sh), so the browser's storage really runs full.
// preferences: the profile's settings as a user would have set them.
export async function launch(profile, { diskMB = 0, preferences = null } = {}) {
  if (preferences) {
    fs.mkdirSync(path.join(profile, 'Default'), { recursive: true });
    fs.writeFileSync(path.join(profile, 'Default', 'Preferences'), JSON.stringify(preferences));
  }
  return puppeteer.launch({
    executablePath: diskMB ? path.join(here, 'small-disk-chromium.sh') : chromium,
    env: { ...process.env, VELMORA_CHROMIUM: chromium, VELMORA_PROFILE_MB: String(diskMB) },
    headless: true,
    userDataDir: profile,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync',
           '--disable-dev-shm-usage'],
  });
}

// ----- page helpers
export const ready = (page, timeout = 60000) =>
  page.waitForFunction(() => document.getElementById('state').textContent === '準備完了', { timeout, polling: 50 });
export async function open(browser, url, wait = true) {
  const page = await browser.newPage();
  watch(page);
  await page.goto(url);
  if (wait) await ready(page);
  return page;
}
// Errors of the page are printed; questions (confirm) are recorded and
// answered with page.answer (yes unless set).
export function watch(page) {
  page.on('pageerror', e => console.error('page error:', e.message));
  page.on('console', m => { if (m.type() === 'error') console.error('page console:', m.text()); });
  page.dialogs = [];
  page.answer = true;
  page.on('dialog', async d => {
    page.dialogs.push(d.message());
    await (page.answer ? d.accept() : d.dismiss());
  });
  return page;
}
// A click through the page's own DOM: the browser's input events to one of
// several pages of a headless browser can bring the whole browser down.
export const clickOn = (page, selector) => page.$eval(selector, b => b.click());
// The front tab's program, replaced as a paste would replace it.
export async function setProgram(page, text) {
  await page.evaluate(t => window.velmora.setText(t), text);
}
export const programText = page => page.evaluate(() => window.velmora.getText());
export async function compile(page) {
  await page.evaluate(() => { window.velmora.lastCompile = null; });
  await clickOn(page, '#compile');
  // Polled by timer: a page behind another gets no animation frames.
  await page.waitForFunction(() => window.velmora.lastCompile !== null, { timeout: 30000, polling: 50 });
  return page.evaluate(() => window.velmora.lastCompile);
}
export async function startRun(page) {
  await page.evaluate(() => { window.velmora.lastRun = null; });
  await clickOn(page, '#run');
}
export async function waitRun(page, timeout = 60000) {
  await page.waitForFunction(() => window.velmora.lastRun !== null, { timeout, polling: 50 });
  return page.evaluate(() => window.velmora.lastRun);
}
export async function run(page, timeout = 60000) {
  await startRun(page);
  return waitRun(page, timeout);
}
export async function compileAndRun(page, text) {
  await setProgram(page, text);
  const c = await compile(page);
  check(c.slot >= 0, 'compile failed: ' + JSON.stringify(c));
  return run(page);
}
// The console view holds only the rows on screen: the whole text comes from the page's model.
export const consoleText = page => page.evaluate(() => window.velmora.consoleText());
export const messages = page => page.evaluate(() => window.velmora.messages.join('\n'));
export const stateText = page => page.$eval('#state', e => e.textContent);
export const tabCaptions = page => page.$$eval('#tabs button', b => b.map(x => x.textContent));
export async function openExample(page, name) {
  await page.select('#examples', name);
  await page.waitForFunction(n => [...document.querySelectorAll('#tabs button')].some(b => b.textContent === n),
                             {}, name.replace(/\.mcl$/, ''));
}
export async function waitFiles(page, name, what) {
  try {
    await page.waitForFunction(n => document.getElementById('files').textContent.includes(n), { timeout: 5000, polling: 100 }, name);
  } catch (e) {
    fail(what + ': ' + await page.$eval('#files', e => e.textContent));
  }
}
export async function readDataFile(page, name) {
  const bytes = await page.evaluate(async n => Array.from(await window.velmora.readFile(n)), name);
  return new TextDecoder().decode(new Uint8Array(bytes));
}
export const example = name => fs.readFileSync(path.join(root, 'examples', name), 'utf8').replace(/\r\n?/g, '\n');
// The desktop runner's console for an example: the expected output.
export function desktopOutput(name) {
  const golden = path.join(root, 'tests', 'examples', name.replace(/\.mcl$/, '.out'));
  return fs.existsSync(golden) ? fs.readFileSync(golden, 'utf8') : null;
}
// Long tasks of the page (over 50 ms), collected from now on in window.longTasks.
export const watchLongTasks = page => page.evaluate(() => {
  window.longTasks = [];
  new PerformanceObserver(l => { for (const e of l.getEntries()) window.longTasks.push(e.duration); })
    .observe({ type: 'longtask', buffered: false });
});

// Runs one case: `cases[name](page, ctx)` with ctx { url, browser, profile }.
// setup[name] may ask for a plain server (plain: true), a small disk
// (diskMB), profile preferences, or no page opened first (noPage: true).
export async function main(cases, setup = {}) {
  check(cases[caseName], 'unknown case ' + caseName);
  const how = setup[caseName] || {};
  const { server, url } = await serve(!!how.plain);
  const profile = tempDir('velmora-web-profile-');
  let browser = null, ok = false;
  try {
    browser = await launch(profile, how);
    const ctx = { url, browser, profile };
    let page = null;
    if (!how.noPage) {
      page = await open(browser, url);
      check(await page.evaluate(() => self.crossOriginIsolated) === !how.plain, 'the page is cross-origin isolated: ' + !how.plain);
    }
    await cases[caseName](page, ctx);
    ok = true;
  } catch (e) {
    console.error(`FAIL ${caseName}: ${process.env.VERBOSE ? e.stack : e.message}`);
  } finally {
    if (browser) await browser.close().catch(() => {});
    server.kill();
    fs.rmSync(profile, { recursive: true, force: true });
  }
  console.log(ok ? `PASS ${caseName}` : `FAIL ${caseName}`);
  process.exit(ok ? 0 : 1);
}
