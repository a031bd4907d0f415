// The program text as the editor sees it: the colouring of a line from the
// loaded word lists, and the indentation the desktop editors keep (a line
// ending in DO, THEN or ELSE, or starting a FUNCTION, indents the next one
// step; END, ELSE and ENDFUNC on a line of their own step back when Enter
// ends them). Comments ("//") and strings do not count.

const isBlank = c => c === ' ' || c === '\t' || c === '\u3000';
const isWordChar = c => /[\p{L}\p{N}_]/u.test(c);

// The pieces of one line to colour: [from, to, class] with the classes kw
// (keyword), fn (function), str, num, var (&, % or $ variable) and cmt.
export function tokens(text, words) {
  const out = [];
  const n = text.length;
  let i = 0;
  while (i < n) {
    const c = text[i];
    let end = i + 1, cls = null;
    if (c === '"') {
      end = text.indexOf('"', i + 1);
      end = end < 0 ? n : end + 1;
      cls = 'str';
    } else if (c === '/' && text[i + 1] === '/') {
      end = n;
      cls = 'cmt';
    } else if ((c === '&' || c === '%' || c === '$') && i + 1 < n && /\p{L}/u.test(text[i + 1])) {
      while (end < n && isWordChar(text[end])) ++end;
      cls = 'var';
    } else if (/[0-9]/.test(c)) {
      end = i;
      while (end < n && /[0-9.]/.test(text[end])) ++end;
      cls = 'num';
    } else if (/[\p{L}_]/u.test(c)) {
      end = i;
      while (end < n && isWordChar(text[end])) ++end;
      const w = text.slice(i, end).toUpperCase();
      cls = words.keywords.has(w) ? 'kw' : words.functions.has(w) ? 'fn' : null;
    }
    if (cls) out.push([i, end, cls]);
    i = end;
  }
  return out;
}

// The code of a line in upper case, without its comment and outer blanks.
export function codeOfLine(line) {
  let code = '', inString = false;
  for (let i = 0; i < line.length; ++i) {
    const c = line[i];
    if (c === '"') inString = !inString;
    if (!inString && c === '/' && line[i + 1] === '/') break;
    code += c >= 'a' && c <= 'z' ? c.toUpperCase() : c;
  }
  let b = 0, e = code.length;
  while (b < e && isBlank(code[b])) ++b;
  while (e > b && isBlank(code[e - 1])) --e;
  return code.slice(b, e);
}

function wordAtEnd(code, word) {
  if (!code.endsWith(word)) return false;
  const before = code[code.length - word.length - 1];
  return code.length === word.length || isBlank(before) || before === ';';
}

export function opensBlock(line) {
  const code = codeOfLine(line);
  if (code.startsWith('FUNCTION') && (code.length === 8 || isBlank(code[8]))) return true;
  return wordAtEnd(code, 'DO') || wordAtEnd(code, 'THEN') || wordAtEnd(code, 'ELSE');
}

const leadingBlanks = line => line.match(/^[ \t\u3000]*/)[0];

// The blanks the next line starts with after Enter at the end of `line`.
export function indentAfter(line, unit) {
  return leadingBlanks(line) + (opensBlock(line) ? ' '.repeat(Math.max(unit, 1)) : '');
}

// When `line` is just END, ELSE or ENDFUNC, indented by at least one step
// of spaces: the line one step further left; else the line unchanged.
export function dedentClosing(line, unit) {
  const code = codeOfLine(line);
  if (code !== 'END' && code !== 'ELSE' && code !== 'ENDFUNC') return line;
  const step = Math.max(unit, 1), indent = leadingBlanks(line);
  if (indent.length < step || /[^ ]/.test(indent)) return line;
  return line.slice(step);
}
