// Browser tests of the playground's tabs and the programs they hold: a
// duplicated browser tab works on copies, a closed tab's program no longer
// runs, a program in any tab can run a page it wrote, and a shared link is
// opened once.
//   node sessions.mjs BUILD_DIR CASE
import {
  check, clickOn, compile, consoleText, main, messages, open, openExample, programText, ready, run, setProgram, sleep,
  tabCaptions, watch,
} from './harness.mjs';

// The texts of all tabs of a page, front tab last.
const allTexts = page => page.evaluate(async () => {
  const out = [];
  const buttons = [...document.querySelectorAll('#tabs button')];
  const front = buttons.findIndex(b => b.classList.contains('active'));
  for (const b of buttons) {
    b.click();
    await new Promise(r => setTimeout(r, 0));
    out.push(window.velmora.getText());
  }
  if (front >= 0) document.querySelectorAll('#tabs button')[front].click();
  return out;
});

const cases = {
  // A tab opened by window.open, as "Duplicate tab" opens one, carries the
  // first tab's session: each must keep editing its own copy.
  async duplicated_tab(page, ctx) {
    await setProgram(page, '// 元のタブ\n??"original";\n');
    await sleep(200);
    const created = new Promise(res => ctx.browser.once('targetcreated', res));
    await page.evaluate(() => window.open(location.href));
    const b = watch(await (await created).page());
    await ready(b);
    check((await programText(b)).includes('元のタブ'), 'the duplicate shows the programs it was copied from: ' + await programText(b));
    await setProgram(b, '// 複製のタブ\n??"copy";\n');
    await setProgram(page, '// 元のタブ（直した）\n??"original";\n');
    await setProgram(b, '// 複製のタブ（直した）\n??"copy";\n');
    await sleep(300);
    check((await programText(page)).includes('元のタブ（直した）'), 'the first tab keeps its program: ' + await programText(page));
    // Each keeps its own after a reload.
    await page.reload();
    await ready(page);
    const a = (await allTexts(page)).join('\n');
    check(a.includes('元のタブ（直した）') && !a.includes('複製のタブ'), 'the first tab after a reload: ' + a);
    await b.reload();
    await ready(b);
    const bt = (await allTexts(b)).join('\n');
    check(bt.includes('複製のタブ（直した）') && !bt.includes('元のタブ（直した）'), 'the duplicate after a reload: ' + bt);
  },

  // Three tabs compiled, the first closed, the third in front: "●" runs the
  // second and the third, never the closed one.
  async closed_tab_slot(page) {
    await setProgram(page, '??"A の出力"; ??CRLF;\n');
    check((await compile(page)).slot >= 0, 'A compiles');
    for (const name of ['B', 'C']) {
      await clickOn(page, '#new-tab');
      await setProgram(page, `??"${name} の出力"; ??CRLF;\n`);
      check((await compile(page)).slot >= 0, name + ' compiles');
    }
    await clickOn(page, '#tabs button:nth-child(1)');
    page.answer = true;
    await clickOn(page, '#close-tab');
    check((await tabCaptions(page)).length === 2, 'two tabs left: ' + await tabCaptions(page));
    const status = await page.$eval('#status', e => e.textContent);
    check(!status.includes('#1'), 'the closed tab\'s program left the task list: ' + status);
    await clickOn(page, '#tabs button:nth-child(2)');
    const r = await run(page);
    const text = await consoleText(page);
    check(r.result === 'ended', 'the run ends: ' + JSON.stringify(r));
    check(text.includes('B の出力') && text.includes('C の出力'), 'the open tabs ran: ' + JSON.stringify(text));
    check(!text.includes('A の出力'), 'the closed tab did not run: ' + JSON.stringify(text));
  },

  // The example that writes a program into a new page and runs it, in the
  // second tab behind a program of one's own: it ends as under velmora-run.
  async run_page_any_tab(page) {
    await setProgram(page, '??"自分のプログラム"; ??CRLF;\n');
    await openExample(page, 'program_writer.mcl');
    const r = await run(page, 20000).catch(e => null);
    const text = await consoleText(page);
    const status = await page.$eval('#status', e => e.textContent);
    check(r && r.result === 'ended', 'the run ends: ' + JSON.stringify(r) + '\n' + status + '\n' + text);
    check(text.includes('line 3') && text.includes('the written program has ended'), 'the written page ran: ' + text);
  },

  // A program opened from a #code= link, edited, then the page reloaded:
  // the edited program is in front, the link is not opened again.
  async shared_link_reload(page, ctx) {
    const shared = '// リンクのプログラム\n??"link";\n';
    const p = watch(await ctx.browser.newPage());
    await p.goto(ctx.url + '#code=' + encodeURIComponent(shared));
    await ready(p);
    check(await programText(p) === shared, 'the link opened its program');
    const edited = '// リンクのプログラム（直した）\n??"edited";\n';
    await setProgram(p, edited);
    await sleep(200);
    const before = await tabCaptions(p);
    await p.reload();
    await ready(p);
    check(await programText(p) === edited, 'the edited program is in front after a reload: ' + await programText(p));
    check((await tabCaptions(p)).length === before.length, 'no tab opened again: ' + await tabCaptions(p));
  },
};

main(cases);
