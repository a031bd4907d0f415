// Browser tests of what the playground tells: the printed numbers of the
// golden programs equal the desktop's, a compile error is explained, a
// recompile asks nothing, and what a browser cannot do says why.
//   node results.mjs BUILD_DIR CASE
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import {
  check, compile, compileAndRun, consoleText, main, messages, root, run, setProgram,
} from './harness.mjs';

// The console a golden program must print: NAME.out, or its "// expect:"
// comments in order (several may share a line, each running to the next).
// Lines from an expected file are compared as they are, lines from
// comments without trailing blanks.
function expectedConsole(name) {
  const out = path.join(root, 'tests', 'programs', name + '.out');
  if (fs.existsSync(out)) return { exact: true, lines: fs.readFileSync(out, 'utf8').replace(/\r\n/g, '\n').replace(/\n+$/, '').split('\n') };
  const lines = [];
  for (const line of fs.readFileSync(path.join(root, 'tests', 'programs', name + '.mcl'), 'utf8').split(/\r?\n/))
    for (const m of line.matchAll(/\/\/ expect: (.*?)(?=\s*\/\/ expect|$)/g)) lines.push(m[1].trimEnd());
  return { exact: false, lines };
}

const cases = {
  // Programs that compute with fractions, functions, matrices and vectors
  // print in the page what velmora-run prints on the desktop.
  async numbers(page) {
    for (const name of ['extended_precision', 'arithmetic', 'matrices', 'vectors']) {
      const program = fs.readFileSync(path.join(root, 'tests', 'programs', name + '.mcl'), 'utf8').replace(/\r\n/g, '\n');
      const r = await compileAndRun(page, program);
      check(r.result === 'ended', name + ' ends: ' + JSON.stringify(r));
      const expected = expectedConsole(name), want = expected.lines;
      const got = (await consoleText(page)).replace(/\n+$/, '').split('\n').map(l => expected.exact ? l : l.trimEnd());
      const diff = want.map((w, i) => w === got[i] ? null : `line ${i + 1}: browser ${JSON.stringify(got[i])}, desktop ${JSON.stringify(w)}`)
        .filter(Boolean);
      check(diff.length === 0 && got.length === want.length, `${name} prints the desktop's numbers:\n` + diff.join('\n') +
            (got.length !== want.length ? `\n${got.length} lines against ${want.length}` : ''));
    }
  },

  // A compile error's plain explanation is shown; compiling a tab again
  // replaces its code without a question on the screen.
  async compile_messages(page) {
    await setProgram(page, 'A = 1;\nB = A +;\n');
    const c = await compile(page);
    check(c.slot < 0 && c.explanations && c.explanations.length, 'the compile fails with an explanation: ' + JSON.stringify(c));
    const shown = await page.evaluate(() => document.body.innerText);
    check(shown.includes(c.explanations[0].text), 'the explanation is shown: ' + c.explanations[0].text);
    await setProgram(page, '??"ok";\n');
    check((await compile(page)).slot >= 0, 'compiles');
    check((await compile(page)).slot >= 0, 'compiles again');
    const msgs = await messages(page);
    check(!msgs.includes('差し替えるか') && !msgs.includes('-> Yes'), 'no question answered by itself: ' + msgs);
  },

  // Code the engine cannot run is refused when it is compiled, as on the
  // desktop: a program longer than the 16-bit execution point reaches (it
  // used to start again from its top for ever) and one with more labels than
  // the label table holds; the page says which limit, and a program that
  // fits still runs.
  async code_limits(page) {
    await setProgram(page, 'X = 0;\n' + 'X = X + 1 * 2 - 1;\n'.repeat(16000) + '??X; ??CRLF;\n');
    let c = await compile(page);
    check(c.slot < 0, 'the long program is refused: ' + JSON.stringify(c).slice(0, 300));
    const long = (c.explanations || []).find(e => e.text.includes('プログラムが長すぎます'));
    check(long && !long.note && long.text.includes('80004') && long.text.includes('65535'),
          'the limit is named: ' + JSON.stringify(c.explanations));
    const shown = await page.evaluate(() => document.body.innerText);
    check(shown.includes('プログラムが長すぎます'), 'the page shows it');
    let ifs = 'X = 0;\n';
    for (let i = 0; i < 400; ++i) ifs += `IF X > ${i} THEN X = 1; END\n`;
    await setProgram(page, ifs);
    c = await compile(page);
    check(c.slot < 0 && (c.diagnostics || []).some(d => d.id === 'too-many-labels' && d.severity === 'error'),
          'too many labels are refused: ' + JSON.stringify(c.diagnostics));
    const r = await compileAndRun(page, '??"after"; ??CRLF;\n');
    check(r.result === 'ended' && (await consoleText(page)).includes('after'), 'a program that fits runs: ' + JSON.stringify(r));
  },

  // A site that does not allow browsers (no CORS) and LOAD IMG: the page
  // says why and where it works.
  async browser_limits(page) {
    const other = http.createServer((req, res) => { res.writeHead(200, { 'Content-Type': 'text/plain' }); res.end('secret\n'); });
    await new Promise(res => other.listen(0, '127.0.0.1', res));
    try {
      const url = `http://127.0.0.1:${other.address().port}/page.txt`;
      const r = await compileAndRun(page, `&P[] = <*> "${url}";\n??"never";\n`);
      check(r.result === 'error', 'the transfer fails: ' + JSON.stringify(r));
      const msgs = await messages(page);
      check(msgs.includes('HTTP ロード'), 'the desktop\'s message: ' + msgs);
      check(/CORS/.test(msgs) && /velmora-run/.test(msgs), 'why, and where it works: ' + msgs);
    } finally {
      other.close();
    }
    const r = await compileAndRun(page, '<?? 0 >;\n<? 0 >;\n< "LOAD" "IMG" "picture.png" 0, 0 >\n??"after"; ??CRLF;\n');
    const msgs = await messages(page);
    check(/LOAD/.test(msgs) && /使えません/.test(msgs), 'LOAD IMG says it is not available: ' + msgs + JSON.stringify(r));
  },
};

main(cases);
