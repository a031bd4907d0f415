// The benchmark programs (bench/programs/*.mcl) in the playground and in
// velmora-run, side by side on this machine, and the ratio of each.
//   node bench.mjs BUILD_WEB_DIR VELMORA_RUN [NAME...]
// Each side runs RUNS times (default 3); the best run counts (the browser
// first runs every program once untimed, to warm up). The browser's
// time is the run in the worker (compile excluded); velmora-run's is the
// whole process. Exits 1 when a program takes more than twice as long in the
// browser (LIMIT changes the factor).
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.resolve(here, '..', '..');
const [buildDir, velmoraRun, ...only] = process.argv.slice(2);
const runs = Number(process.env.RUNS || 3), limit = Number(process.env.LIMIT || 2);
const names = only.length ? only : fs.readdirSync(path.join(root, 'bench', 'programs')).filter(f => f.endsWith('.mcl'))
  .map(f => f.replace(/\.mcl$/, '')).sort();

// The benchmarks' data: the page benchmark's about 1 MB of table rows, ten cells a row (as bench/compare.sh makes it).
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'velmora-bench-'));
fs.mkdirSync(path.join(work, 'DATA'));
let rows = '', row = 0;
while (rows.length < 1 << 20) {
  rows += '<tr>' + Array.from({ length: 10 }, (_, c) => `<td>${row * 10 + c}</td>`).join('') + '</tr>\r\n';
  ++row;
}
fs.writeFileSync(path.join(work, 'DATA', 'cells.txt'), rows);
// The files of the programs of the kinds users write: a real text, a real page and a generated table.
execFileSync('python3', [path.join(root, 'bench', 'data', 'tables.py'), path.join(work, 'DATA')]);

const native = {};
for (const name of names) {
  const program = path.join(root, 'bench', 'programs', name + '.mcl');
  const times = [];
  let out = '';
  for (let i = 0; i < runs; ++i) {
    const t0 = process.hrtime.bigint();
    out = execFileSync(velmoraRun, ['--home', work, '--final-console', program], { encoding: 'utf8' });
    times.push(Number(process.hrtime.bigint() - t0) / 1e6);
  }
  native[name] = { ms: Math.min(...times), out: out.trim() };
}

const r = spawnSync(process.execPath, [path.join(here, 'browser.mjs'), buildDir, 'bench'],
                   { encoding: 'utf8', env: { ...process.env, RUNS: String(runs), BENCH_PROGRAMS: names.join(','),
                                              BENCH_DATA: path.join(work, 'DATA') } });
fs.rmSync(work, { recursive: true, force: true });
process.stderr.write(r.stderr);
if (r.status !== 0) {
  process.stdout.write(r.stdout);
  process.exit(1);
}
let worst = 0, bad = false;
console.log('program        velmora-run   browser   ratio');
for (const name of names) {
  const m = r.stdout.match(new RegExp(`^browser ${name}: (\\d+) ms, console: (.*)$`, 'm'));
  if (!m) { console.log(`${name}: no browser result`); bad = true; continue; }
  const browser = Number(m[1]), ratio = browser / native[name].ms;
  if (m[2].trim() !== native[name].out) { console.log(`${name}: the browser printed ${m[2]}, velmora-run ${native[name].out}`); bad = true; }
  worst = Math.max(worst, ratio);
  console.log(`${name.padEnd(14)} ${native[name].ms.toFixed(0).padStart(8)} ms ${String(browser).padStart(6)} ms ${ratio.toFixed(2).padStart(6)}x`);
}
console.log(`slowest ratio browser / velmora-run: ${worst.toFixed(2)} (limit ${limit})`);
process.exit(bad || worst > limit ? 1 : 0);
