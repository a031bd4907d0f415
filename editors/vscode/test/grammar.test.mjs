// The TextMate grammar, through the libraries VS Code itself colours with
// (vscode-textmate, vscode-oniguruma), on sample programs and on every
// example program.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync, readdirSync } from 'node:fs';
import { createRequire } from 'node:module';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import vsctm from 'vscode-textmate';
import oniguruma from 'vscode-oniguruma';
import { generate, generateKate } from '../scripts/generate-grammar.mjs';

const here = dirname(fileURLToPath(import.meta.url));
const root = join(here, '..', '..', '..');
const require = createRequire(import.meta.url);

async function loadGrammar() {
  const wasm = readFileSync(require.resolve('vscode-oniguruma/release/onig.wasm')).buffer;
  await oniguruma.loadWASM(wasm);
  const registry = new vsctm.Registry({
    onigLib: Promise.resolve({
      createOnigScanner: (patterns) => new oniguruma.OnigScanner(patterns),
      createOnigString: (s) => new oniguruma.OnigString(s),
    }),
    loadGrammar: async () =>
      vsctm.parseRawGrammar(readFileSync(join(here, '..', 'syntaxes', 'velmora.tmLanguage.json'), 'utf8'), 'x.json'),
  });
  return registry.loadGrammar('source.velmora');
}

// Every token of the text: [line, text, the last scope].
function colour(grammar, text) {
  let stack = vsctm.INITIAL;
  const out = [];
  text.split(/\r\n|\r|\n/).forEach((line, n) => {
    const r = grammar.tokenizeLine(line, stack);
    for (const t of r.tokens) out.push([n, line.slice(t.startIndex, t.endIndex), t.scopes[t.scopes.length - 1]]);
    stack = r.ruleStack;
  });
  return out;
}

// The innermost scope at a column of a single line.
function scopeAt(grammar, line, column) {
  const r = grammar.tokenizeLine(line, vsctm.INITIAL);
  const t = r.tokens.find((k) => k.startIndex <= column && column < k.endIndex);
  return t.scopes[t.scopes.length - 1];
}

function scopeOf(tokens, line, text) {
  const t = tokens.find(([n, s]) => n === line && s === text);
  return t ? t[2] : `(no token "${text}" on line ${line}: ${JSON.stringify(tokens.filter(([n]) => n === line))})`;
}

test('the grammar files are the ones the built-in tables make', () => {
  assert.equal(readFileSync(join(here, '..', 'syntaxes', 'velmora.tmLanguage.json'), 'utf8'), generate(join(root, 'data')));
  const kate = readFileSync(join(root, 'editors', 'kate', 'velmora.xml'), 'utf8');
  assert.equal(kate, generateKate(join(root, 'data')));
  for (const w of ['IF', 'ENDFUNC', 'WAIT', 'SQRT', 'RANDSEED']) assert.ok(kate.includes(`<item>${w}</item>`), w);
  assert.ok(!kate.includes('<item>&lt;*&gt;</item>'), 'symbols are not keywords of Kate');
});

test('a sample program is coloured word by word', async () => {
  const grammar = await loadGrammar();
  const program = [
    '// 合計を出す',
    'FOR I = 1 TO 10 DO S += I; END',
    'if s > 50 then ??"sum: // not a comment"; ??S; end  // a comment',
    'FUNCTION 表示;',
    '  &L[] = <*> "data.txt"; N = &L[].SIZE;',
    'ENDFUNC',
    'CALL 表示; Y = SQRT(2.5); WAIT 10;',
    'IFX = 1; 合計IF = 2; IF合計 = 3;',
    '%M = ~%A; $V.X = 1; "open',
    'X = 1;',
  ].join('\r\n');
  const t = colour(grammar, program);
  assert.equal(scopeOf(t, 0, '// 合計を出す'), 'comment.line.double-slash.velmora');
  assert.equal(scopeOf(t, 1, 'FOR'), 'keyword.control.velmora');
  assert.equal(scopeOf(t, 1, 'DO'), 'keyword.control.velmora');
  assert.equal(scopeOf(t, 1, '10'), 'constant.numeric.velmora');
  assert.equal(scopeOf(t, 1, '+='), 'keyword.operator.velmora');
  assert.equal(scopeOf(t, 2, 'if'), 'keyword.control.velmora', 'letters outside strings have no case');
  assert.equal(scopeOf(t, 2, 'sum: // not a comment'), 'string.quoted.double.velmora');
  assert.equal(scopeOf(t, 2, '??'), 'keyword.operator.velmora');
  assert.equal(scopeOf(t, 2, '// a comment'), 'comment.line.double-slash.velmora');
  assert.equal(scopeOf(t, 3, '表示'), 'entity.name.function.velmora');
  assert.equal(scopeOf(t, 4, '&L'), 'variable.other.string.velmora');
  assert.equal(scopeOf(t, 4, '<*>'), 'keyword.operator.velmora');
  assert.equal(scopeOf(t, 4, 'SIZE'), 'keyword.other.velmora');
  assert.equal(scopeOf(t, 5, 'ENDFUNC'), 'keyword.control.velmora');
  assert.equal(scopeOf(t, 6, 'SQRT'), 'support.function.math.velmora');
  assert.equal(scopeOf(t, 6, '2.5'), 'constant.numeric.velmora');
  assert.equal(scopeOf(t, 6, 'WAIT'), 'keyword.other.velmora');
  // A keyword touching a letter, digit or "_" is part of a name, and so is
  // one after a character outside ASCII; one before such a character is not.
  const line7 = program.split('\r\n')[7];
  assert.equal(scopeAt(grammar, line7, line7.indexOf('IFX')), 'source.velmora');
  assert.equal(scopeAt(grammar, line7, line7.indexOf('合計IF') + 2), 'source.velmora');
  assert.equal(scopeAt(grammar, line7, line7.indexOf('IF合計')), 'keyword.control.velmora');
  assert.equal(scopeOf(t, 8, '%M'), 'variable.other.matrix.velmora');
  assert.equal(scopeOf(t, 8, '$V'), 'variable.other.vector.velmora');
  assert.equal(scopeOf(t, 8, 'open'), 'string.quoted.double.velmora');
  assert.equal(scopeOf(t, 9, '1'), 'constant.numeric.velmora', 'a string left open ends with its line');
});

test('every example program: keywords, strings and comments where the compiler sees them', async () => {
  const grammar = await loadGrammar();
  const examples = join(root, 'examples');
  const files = readdirSync(examples).filter((f) => f.endsWith('.mcl'));
  assert.ok(files.length >= 10, `examples found: ${files}`);
  for (const file of files) {
    const text = readFileSync(join(examples, file), 'utf8');
    const t = colour(grammar, text);
    const lines = text.split(/\r\n|\r|\n/);
    lines.forEach((line, n) => {
      // A line the compiler drops as a comment is one comment token.
      if (line.startsWith('//')) assert.equal(scopeOf(t, n, line), 'comment.line.double-slash.velmora', `${file}:${n}`);
    });
    for (const [n, s, scope] of t) {
      if (/^(IF|THEN|ELSE|END|FOR|TO|DO|WHILE|EACH|FUNCTION|ENDFUNC|CALL)$/.test(s) && !/^(string|comment)/.test(scope))
        assert.equal(scope, 'keyword.control.velmora', `${file}:${n}: ${s}`);
      if (scope === 'string.quoted.double.velmora') assert.ok(!s.includes('\n'));
    }
    assert.ok(t.some(([, , scope]) => scope.startsWith('keyword')), `${file} has keywords`);
  }
});
