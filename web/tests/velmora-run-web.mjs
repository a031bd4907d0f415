// The browser build's engine as a command: the same module the playground's
// worker loads, run by Node.js with the options and output of velmora-run
// that the golden programs use (--home, --final-console, --timeout), so
// tests/programs/run_golden.py compares the browser build's results with
// the desktop's expectations (comments in the programs, expected files).
//   node velmora-run-web.mjs BUILD_DIR [--home DIR] [--final-console] FILE...
import fs from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';

const args = process.argv.slice(2);
const buildDir = path.resolve(args.shift());
let home = process.env.VELMORA_HOME || process.cwd(), finalConsole = false, timeout = 0;
const files = [];
for (let i = 0; i < args.length; ++i) {
  const a = args[i];
  if (a === '--home') home = args[++i];
  else if (a === '--final-console') finalConsole = true;
  else if (a === '--timeout') timeout = Number(args[++i]);
  else if (a.startsWith('--')) { process.stderr.write(`velmora-run-web: unsupported option ${a}\n`); process.exit(3); }
  else files.push(a);
}
home = path.resolve(home);

// Standard input, line by line, for GETS (an empty line at its end).
let input = [];
try { input = fs.readFileSync(0, 'utf8').split('\n'); } catch (e) { /* no input */ }
if (input.length && input[input.length - 1] === '') input.pop();

// The console as the page keeps it: the updates carry the lines (separated
// by NUL) from line `from` on (the last line kept may have grown), or after a reset the
// newest lines anew.
let consoleLines = [], consoleBase = 0;
const started = Date.now();
globalThis.velmoraHost = {
  post(kind, json) {
    const d = JSON.parse(json);
    if (kind === 'console') {
      if (d.reset) { consoleLines = []; consoleBase = d.from; }
      consoleLines.length = Math.max(0, d.from - consoleBase);
      for (const l of d.text.split('\0')) consoleLines.push(l);
    }
    else if (kind === 'message') process.stderr.write((d.title ? `[${d.title}] ` : '') + d.text + '\n');
    else if (kind === 'runError') for (const [k, v] of d) process.stderr.write(k + v.replace(/\r/g, '') + '\n');
  },
  stopRequested() { return timeout > 0 && Date.now() - started >= timeout * 1000; },
  readLine() {
    const line = input.length ? input.shift() : '';
    return line.endsWith('\r') ? line.slice(0, -1) : line;
  },
  http() { return 'ERR\nno network in the command-line runner'; },
  saveImage() { return false; },
  tick() {},
};

const require = createRequire(import.meta.url);
const VelmoraModule = require(path.join(buildDir, 'velmora.js'));
// Old Emscripten runtimes try fetch() on a path under Node.js: hand over the bytes.
const M = await VelmoraModule({ wasmBinary: fs.readFileSync(path.join(buildDir, 'velmora.wasm')) });
// The home directory appears at its own path, so messages name the same files.
M.FS.mkdirTree(home);
M.FS.mount(M.FS.filesystems.NODEFS, { root: home }, home);
const data = path.join(home, 'DATA');
if (!fs.existsSync(data)) fs.mkdirSync(data);
M.ccall('vm_init', null, ['string', 'string'], [home, data]);

files.forEach((file, tab) => {
  const text = fs.readFileSync(file, 'utf8');
  M.ccall('vm_set_tab', null, ['number', 'string', 'string'], [tab, path.basename(file, '.mcl'), text]);
});
for (let tab = 0; tab < files.length; ++tab) {
  const c = JSON.parse(M.ccall('vm_compile', 'string', ['number'], [tab]));
  // As velmora-run: FILE:LINE:COLUMN: severity: explanation (from 1).
  for (const x of c.diagnostics || [])
    process.stderr.write(files[tab] + ':' + (x.line + 1) + ':' + (x.column + 1) + ': ' + x.severity + ': ' + x.explanation + '\n');
  if (c.slot < 0) process.exit(2);
}
const r = JSON.parse(M.ccall('vm_run', 'string', [], []));
const lines = finalConsole ? consoleLines : consoleLines;
process.stdout.write(lines.map(l => l + '\n').join(''));
process.exit(r.result === 'error' ? 1 : r.result === 'stopped' ? 124 : 0);
