// The FOR loop benchmark (bench/programs/for_loop.mcl, 10,000,000 additions)
// in the playground and in velmora-run, side by side on this machine.
//   node bench.mjs BUILD_WEB_DIR VELMORA_RUN
// Each side runs RUNS times (default 3); the best run counts. The browser's time is the
// run in the worker (compile excluded); velmora-run's is the whole process.
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.resolve(here, '..', '..');
const [buildDir, velmoraRun] = process.argv.slice(2);
const program = path.join(root, 'bench', 'programs', 'for_loop.mcl');

const runs = Number(process.env.RUNS || 3);
const home = fs.mkdtempSync(path.join(os.tmpdir(), 'velmora-bench-'));
const native = [];
for (let i = 0; i < runs; ++i) {
  const t0 = process.hrtime.bigint();
  const out = execFileSync(velmoraRun, ['--home', home, '--final-console', program], { encoding: 'utf8' });
  native.push(Number(process.hrtime.bigint() - t0) / 1e6);
  if (!out.includes('50000005000000')) throw new Error('velmora-run printed ' + out);
}
fs.rmSync(home, { recursive: true, force: true });

const r = spawnSync(process.execPath, [path.join(here, 'browser.mjs'), buildDir, 'bench'],
                   { encoding: 'utf8', env: { ...process.env, RUNS: String(runs) } });
process.stdout.write(r.stdout);
process.stderr.write(r.stderr);
const m = r.stdout.match(/browser for_loop: (\d+) ms/);
if (r.status !== 0 || !m || !r.stdout.includes('50000005000000')) process.exit(1);
const browser = Number(m[1]), best = Math.min(...native);
console.log(`velmora-run for_loop: ${best.toFixed(0)} ms (best of ${native.map(t => t.toFixed(0)).join(', ')})`);
console.log(`ratio browser / velmora-run: ${(browser / best).toFixed(2)}`);
