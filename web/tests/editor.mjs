// Browser tests of the playground's editor, typed into as a user types:
// the first view, line numbers and colours, undo that stays with each tab,
// find and replace, brackets, indentation, Japanese input through the
// input method, and a compile error explained at its token.
//   node editor.mjs BUILD_DIR CASE
import {
  check, clickOn, compile, consoleText, main, programText, ready, run, setProgram, sleep,
} from './harness.mjs';

const key = async (page, combo) => {
  const parts = combo.split('+');
  for (const p of parts.slice(0, -1)) await page.keyboard.down(p);
  await page.keyboard.press(parts[parts.length - 1]);
  for (const p of parts.slice(0, -1).reverse()) await page.keyboard.up(p);
};
// Focus the editor with the cursor at the end of the text.
async function toEnd(page) {
  await page.focus('.cm-content');
  await key(page, 'Control+End');
}

const cases = {
  // A first visit: a starter program in the first tab, a labelled run
  // button naming its shortcut, and the starter runs.
  async first_view(page) {
    const text = await programText(page);
    check(/\?\?/.test(text) && text.split('\n').length >= 3, 'a starter program in the first tab: ' + JSON.stringify(text));
    const label = await page.$eval('#run', b => b.textContent);
    check(label.includes('● 実行') && label.includes('Ctrl+Enter'), 'the run button says what it does and its key: ' + label);
    // (The gutter's first element is a hidden one that sets its width.)
    const numbers = await page.$$eval('.cm-lineNumbers .cm-gutterElement', d => d.filter(x => x.style.visibility !== 'hidden')
      .map(x => x.textContent));
    check(numbers.slice(0, 3).join() === '1,2,3', 'lines are numbered from 1: ' + numbers.join(','));
    const colours = await page.evaluate(() => ['kw', 'str', 'num', 'cmt'].map(c => document.querySelectorAll('.cm-content .' + c).length));
    check(colours.every(n => n > 0), 'keywords, strings, numbers and comments coloured: ' + colours);
    const kw = await page.$$eval('.cm-content .kw', s => s.map(x => x.textContent));
    check(kw.includes('FOR') && kw.includes('DO') && kw.includes('END'), 'the loaded keywords coloured: ' + kw.join(' '));
    await page.focus('.cm-content');
    await page.evaluate(() => { window.velmora.lastRun = null; });
    await key(page, 'Control+Enter');
    await page.waitForFunction(() => window.velmora.lastRun !== null, { timeout: 20000, polling: 50 });
    check((await consoleText(page)).includes('55'), 'the starter program runs from its key: ' + await consoleText(page));
    check(await programText(page) === text, 'Ctrl+Enter did not change the program');
  },

  // Typing in two tabs, switching between them: Ctrl+Z undoes each tab's
  // own typing, also after the switches.
  async undo_per_tab(page) {
    await setProgram(page, '// one\n');
    await toEnd(page);
    await page.keyboard.type('A = 1;');
    await clickOn(page, '#new-tab');
    await page.focus('.cm-content');
    await page.keyboard.type('B = 2;');
    await clickOn(page, '#tabs button:nth-child(1)');
    check(await programText(page) === '// one\nA = 1;', 'tab 1 as typed: ' + JSON.stringify(await programText(page)));
    await page.focus('.cm-content');
    await key(page, 'Control+z');
    check(await programText(page) === '// one\n', 'undo in tab 1 after switching: ' + JSON.stringify(await programText(page)));
    await clickOn(page, '#tabs button:nth-child(2)');
    check(await programText(page) === 'B = 2;', 'tab 2 untouched by tab 1\'s undo');
    await page.focus('.cm-content');
    await key(page, 'Control+z');
    check(await programText(page) === '', 'undo in tab 2: ' + JSON.stringify(await programText(page)));
    await key(page, 'Control+y');
    check(await programText(page) === 'B = 2;', 'redo in tab 2: ' + JSON.stringify(await programText(page)));
  },

  // Ctrl+F finds, the panel replaces all; Ctrl+H opens it too; a bracket
  // at the cursor shows its partner.
  async find_replace(page) {
    await setProgram(page, 'CNT = 0;\nCNT = CNT + (1 * (2 + 3));\n??CNT;\n');
    await page.focus('.cm-content');
    await key(page, 'Control+f');
    await page.waitForSelector('.cm-search input[name=search]', { timeout: 3000 });
    await page.type('.cm-search input[name=search]', 'CNT');
    await page.type('.cm-search input[name=replace]', 'TOTAL');
    await page.$eval('.cm-search button[name=replaceAll]', b => b.click());
    check(await programText(page) === 'TOTAL = 0;\nTOTAL = TOTAL + (1 * (2 + 3));\n??TOTAL;\n', 'replaced everywhere: ' + await programText(page));
    const caption = await page.$eval('.cm-search button[name=replaceAll]', b => b.textContent);
    check(caption === 'すべて置換', 'the panel speaks Japanese: ' + caption);
    await key(page, 'Escape');
    await page.focus('.cm-content');
    await key(page, 'Control+z');
    check((await programText(page)).startsWith('CNT = 0;'), 'one undo takes the whole replacement back');
    await key(page, 'Control+h');
    await page.waitForSelector('.cm-search', { timeout: 3000 });
    await key(page, 'Escape');
    // The cursor after the first "(" of line 2: its ")" at the end is marked.
    await page.evaluate(() => {
      const v = window.velmora.editor.view, line = v.state.doc.line(2);
      v.dispatch({ selection: { anchor: line.from + line.text.indexOf('(') + 1 } });
    });
    await sleep(100);
    const matched = await page.$$eval('.cm-matchingBracket', s => s.map(x => x.textContent));
    check(matched.length === 2 && matched.join('') === '()', 'the bracket and its partner are marked: ' + matched);
  },

  // Enter indents after DO and THEN, keeps the indentation, and END steps back.
  async indentation(page) {
    await setProgram(page, '');
    await page.focus('.cm-content');
    for (const part of ['FOR I = 1 TO 3 DO', 'Enter', 'IF I > 1 THEN', 'Enter', '??I;', 'Enter', 'END', 'Enter', 'S += I;', 'Enter',
                        'END', 'Enter', '??S;'])
      if (part === 'Enter') await page.keyboard.press('Enter'); else await page.keyboard.type(part);
    const want = 'FOR I = 1 TO 3 DO\n  IF I > 1 THEN\n    ??I;\n  END\n  S += I;\nEND\n??S;';
    check(await programText(page) === want, 'indented as the desktop editor does:\n' + await programText(page));
  },

  // Japanese through the input method: composing, then committing, between
  // typed characters; nothing is lost, and the program is kept.
  async japanese_input(page) {
    await setProgram(page, '');
    await page.focus('.cm-content');
    await page.keyboard.type('&S = "');
    const cdp = await page.createCDPSession();
    for (const [reading, word] of [['にほんご', '日本語'], ['の', 'の'], ['にゅうりょく', '入力']]) {
      for (let n = 1; n <= reading.length; ++n)
        await cdp.send('Input.imeSetComposition', { text: reading.slice(0, n), selectionStart: n, selectionEnd: n });
      await cdp.send('Input.insertText', { text: word });
    }
    await page.keyboard.type('";');
    await page.keyboard.press('Enter');
    await page.keyboard.type('??&S;');
    const want = '&S = "日本語の入力";\n??&S;';
    check(await programText(page) === want, 'every character kept: ' + JSON.stringify(await programText(page)));
    const r = await run(page);
    check(r.result === 'ended' && (await consoleText(page)).includes('日本語の入力'), 'the program runs: ' + await consoleText(page));
    await sleep(300);
    await page.reload();
    await ready(page);
    check(await programText(page) === want, 'and is kept over a reload: ' + JSON.stringify(await programText(page)));
  },

  // A compile error: its line marked, and the plain explanation as a
  // diagnostic on the token, shown where the mouse points; an edit clears it.
  async diagnostic(page) {
    await setProgram(page, 'A = 1;\nB = A +;\n??B;\n');
    const c = await compile(page);
    check(c.slot < 0 && c.explanations.length, 'the compile fails: ' + JSON.stringify(c));
    const x = c.explanations[0];
    const range = await page.$$eval('.cm-lintRange-error', s => s.map(e => e.textContent));
    check(range.length === 1 && range[0] === '+', 'the token is underlined: ' + range);
    const at = await page.evaluate(() => {
      const v = window.velmora.editor.view, el = document.querySelector('.cm-lintRange-error');
      const pos = v.posAtDOM(el);
      const line = v.state.doc.lineAt(pos);
      return [line.number - 1, pos - line.from];
    });
    check(at[0] === x.line && at[1] === x.column, `at line ${x.line}, column ${x.column}: ${at}`);
    await page.hover('.cm-lintRange-error');
    await page.waitForSelector('.cm-tooltip-lint', { timeout: 3000 });
    const tip = await page.$eval('.cm-tooltip-lint', t => t.textContent);
    check(tip.includes(x.text), 'the explanation where the mouse points: ' + tip);
    await page.focus('.cm-content');
    await page.keyboard.type('1');
    await sleep(100);
    check((await page.$$('.cm-lintRange-error')).length === 0, 'an edit clears the diagnostic');
  },
};

main(cases);
