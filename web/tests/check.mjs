// The playground's diagnostics against the beginner-mistake corpus: the
// browser build's module, as the worker loads it, gives every program of
// tests/mistakes exactly the diagnostics its "// expect:" lines name (the
// ones velmora-run --check and the window give it, ctest cli.check and
// gui.diagnostic_markers), both while typing (vm_diagnostics) and on
// "文法検査＆コード生成" (vm_compile), at the same line and column with the
// same explanation.
//   node check.mjs BUILD_DIR MISTAKES_DIR
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { createRequire } from 'node:module';

const [buildDir, mistakes] = process.argv.slice(2).map((p) => path.resolve(p));
globalThis.velmoraHost = {
  post() {},
  stopRequested: () => false,
  readLine: () => '',
  http: () => 'ERR\nno network',
  saveImage: () => false,
  tick() {},
};
const require = createRequire(import.meta.url);
const VelmoraModule = require(path.join(buildDir, 'velmora.js'));
const M = await VelmoraModule({ wasmBinary: fs.readFileSync(path.join(buildDir, 'velmora.wasm')) });
const home = fs.mkdtempSync(path.join(os.tmpdir(), 'velmora-web-check-'));
try {
  M.FS.mkdirTree(home);
  M.FS.mount(M.FS.filesystems.NODEFS, { root: home }, home);
  fs.mkdirSync(path.join(home, 'DATA'));
  M.ccall('vm_init', null, ['string', 'string'], [home, path.join(home, 'DATA')]);

  const files = fs.readdirSync(mistakes).filter((f) => f.endsWith('.mcl')).sort();
  assert.ok(files.length >= 50, `${files.length} programs in ${mistakes}`);
  let failures = 0, checked = 0;
  for (const name of files) {
    const text = fs.readFileSync(path.join(mistakes, name), 'utf8');
    const wanted = text.split('\n').filter((l) => l.startsWith('// expect: '))
      .map((l) => l.match(/^\/\/ expect: (\w+) ([\w-]+) (\d+):(\d+) (.*)$/).slice(1));
    const typed = JSON.parse(M.ccall('vm_diagnostics', 'string', ['string'], [text])).diagnostics;
    M.ccall('vm_set_tab', null, ['number', 'string', 'string'], [0, name, text]);
    const compiled = JSON.parse(M.ccall('vm_compile', 'string', ['number'], [0]));
    M.ccall('vm_close_tab', null, ['number'], [0]);
    for (const [how, got] of [['vm_diagnostics', typed], ['vm_compile', compiled.diagnostics]]) {
      const shown = got.map((d) => [d.severity, d.id, String(d.line + 1), String(d.column + 1)]);
      try {
        assert.deepEqual(shown, wanted.map((w) => w.slice(0, 4)));
        got.forEach((d, i) => assert.ok(d.explanation.includes(wanted[i][4]), d.explanation));
      } catch (e) {
        ++failures;
        console.log(`FAIL ${name} (${how}): ${e.message}`);
      }
    }
    // A program with an error is not registered.
    if ((compiled.slot < 0) !== wanted.some((w) => w[0] === 'error')) {
      ++failures;
      console.log(`FAIL ${name}: slot ${compiled.slot}`);
    }
    if (compiled.slot >= 0) M.ccall('vm_release_slots', null, [], []);
    ++checked;
  }
  console.log(`${checked} programs, ${failures} failures`);
  process.exitCode = failures ? 1 : 0;
} finally {
  fs.rmSync(home, { recursive: true, force: true });
}
