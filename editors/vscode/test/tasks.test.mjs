// The tasks "コンパイル" and "実行": the command line extension.js gives
// VS Code, run for real with velmora-run (VELMORA_RUN), and its output read
// with the problem matchers of package.json, as VS Code reads it: every
// diagnostic of the beginner-mistake corpus becomes one problem of its
// severity, at the line and column velmora-run prints, with the explanation
// as its text. Only the editor's own API is stood in for (VS Code is not
// here); the matchers are JavaScript regular expressions, as in VS Code.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import { mkdtempSync, readFileSync, readdirSync, rmSync, writeFileSync } from 'node:fs';
import Module, { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const root = join(here, '..', '..', '..');
const require = createRequire(import.meta.url);
const runner = process.env.VELMORA_RUN;

// The few parts of the editor's API the task provider uses.
const config = {};
const vscode = {
  workspace: { getConfiguration: () => ({ get: (key) => config[key] }) },
  window: { activeTextEditor: undefined },
  TaskScope: { Workspace: 'workspace' },
  TaskGroup: { Build: 'build', Test: 'test' },
  Task: class {
    constructor(definition, scope, name, source, execution, problemMatchers) {
      Object.assign(this, { definition, scope, name, source, execution, problemMatchers });
    }
  },
  ProcessExecution: class {
    constructor(process, args, options) {
      Object.assign(this, { process, args, options });
    }
  },
};
const stubs = { vscode, 'vscode-languageclient/node': { LanguageClient: class {}, TransportKind: { stdio: 0 } } };
const resolve = Module._resolveFilename;
Module._resolveFilename = function (request, ...rest) {
  return request in stubs ? `stub:${request}` : resolve.call(this, request, ...rest);
};
for (const [name, exports] of Object.entries(stubs))
  require.cache[`stub:${name}`] = { id: name, filename: name, loaded: true, exports };
const extension = require('../extension.js');

const manifest = JSON.parse(readFileSync(join(here, '..', 'package.json'), 'utf8'));
const matchers = manifest.contributes.problemMatchers.map((m) => ({ ...m, re: new RegExp(m.pattern.regexp) }));

// The problems VS Code makes of an output: each line matched by the task's
// matchers, as { severity, file, line, column, message }.
function problems(task, output) {
  const names = task.problemMatchers.map((n) => n.replace(/^\$/, ''));
  const out = [];
  for (const text of output.split('\n')) {
    const found = matchers.filter((m) => names.includes(m.name) && m.re.test(text));
    assert.ok(found.length <= 1, `${text}: matched by ${found.map((m) => m.name)}`);
    if (!found.length) continue;
    const m = found[0], g = text.match(m.re), p = m.pattern;
    out.push({ severity: m.severity, file: g[p.file], line: Number(g[p.line]), column: Number(g[p.column]),
               message: g[p.message] });
  }
  return out;
}

function runTask(task) {
  const { process: command, args } = task.execution;
  const r = spawnSync(command, args, { encoding: 'utf8', timeout: 60000 });
  return { status: r.status, output: r.stdout + r.stderr };
}

const severityOf = { error: 'error', warning: 'warning', note: 'info' };

test('the compile task checks the program with velmora-run --check and marks every diagnostic', { skip: !runner && 'VELMORA_RUN not set' }, () => {
  config.runPath = runner;
  const dir = join(root, 'tests', 'mistakes');
  const files = readdirSync(dir).filter((f) => f.endsWith('.mcl')).sort();
  assert.ok(files.length >= 50);
  for (const name of files) {
    const file = join(dir, name);
    const task = extension.makeTask('compile', file);
    assert.equal(task.name, 'コンパイル');
    assert.deepEqual(task.execution.args, ['--check', file]);
    const wanted = readFileSync(file, 'utf8').split('\n').filter((l) => l.startsWith('// expect: '))
      .map((l) => l.match(/^\/\/ expect: (\w+) ([\w-]+) (\d+):(\d+) (.*)$/));
    const { status, output } = runTask(task);
    const got = problems(task, output);
    assert.equal(got.length, wanted.length, `${name}:\n${output}`);
    got.forEach((p, i) => {
      const [, severity, , line, column, text] = wanted[i];
      assert.deepEqual([p.severity, p.file, p.line, p.column], [severityOf[severity], file, Number(line), Number(column)],
                       `${name}: ${output}`);
      assert.ok(p.message.includes(text), `${name}: ${p.message}`);
      assert.ok(!/^(error|warning|note):/.test(p.message), `${name}: the severity is no part of the text`);
    });
    assert.equal(status, wanted.some((w) => w[1] === 'error') ? 2 : wanted.length ? 1 : 0, name);
  }
});

test('the compile task runs nothing, and the run task marks a compile error too', { skip: !runner && 'VELMORA_RUN not set' }, () => {
  config.runPath = runner;
  const dir = mkdtempSync(join(tmpdir(), 'velmora-tasks-'));
  try {
    const printing = join(dir, 'printing.mcl');
    writeFileSync(printing, '??"printed";\n');
    assert.deepEqual(runTask(extension.makeTask('compile', printing)), { status: 0, output: '' });
    const run = runTask(extension.makeTask('run', printing));
    assert.equal(run.status, 0);
    assert.ok(run.output.includes('printed'));
    const broken = join(dir, 'broken.mcl');
    writeFileSync(broken, 'A = 1;\r\nC = A +;\r\n');
    const runTaskOfBroken = extension.makeTask('run', broken);
    assert.equal(runTaskOfBroken.name, '実行');
    assert.deepEqual(runTaskOfBroken.execution.args, [broken]);
    const got = problems(runTaskOfBroken, runTask(runTaskOfBroken).output);
    assert.equal(got.length, 1);
    assert.deepEqual([got[0].severity, got[0].file, got[0].line, got[0].column], ['error', broken, 2, 7]);
    // Both tasks give the same problem for it.
    assert.deepEqual(problems(extension.makeTask('compile', broken), runTask(extension.makeTask('compile', broken)).output), got);
    // velmora.home reaches velmora-run as VELMORA_HOME.
    config.home = dir;
    assert.deepEqual(extension.makeTask('compile', broken).execution.options, { env: { VELMORA_HOME: dir } });
  } finally {
    delete config.home;
    rmSync(dir, { recursive: true, force: true });
  }
});
