// Browser tests of what the playground keeps: a file the browser did not
// keep is the run-time error the desktop gives for a full disk, storage the
// browser refuses or blocks is said at the top and lasts, and two pages
// appending to one file both keep their lines.
//   node storage.mjs BUILD_DIR CASE
import {
  check, clickOn, compile, compileAndRun, consoleText, messages, open, readDataFile, ready, run, setProgram, sleep,
  stateText, waitFiles, waitRun, startRun, watch, main,
} from './harness.mjs';

// The lasting notice about storage at the top of the page ('' when none is shown).
const storageNotice = page => page.evaluate(() => {
  const n = document.getElementById('storage-notice');
  return n && !n.hidden && n.offsetHeight > 0 ? n.textContent : '';
});

// 40 files of 4 MB of digits that do not compress (a random block longer
// than the 64 KB the browser's compression looks back), one after another.
const bigFiles = `RANDSEED 7;
&B = "";
FOR I = 1 TO 8000 DO
  R = RAND(1000000000);
  &T = INTSTR(R);
  &B += &T;
END
&S = &B;
FOR K = 1 TO 56 DO &S += &B; END
FOR N = 1 TO 40 DO
  &F = "big" + INTSTR(N) + ".txt";
  FILE(1).OPEN(&F, WRITE);
  FILE(1).WRITE(&S);
  FILE(1).CLOSE;
  ??"書いた: "; ??&F; ??CRLF;
END
`;

const cases = {
  // A browser profile on a 48 MB disk: the run stops with the file error at
  // the first file the browser did not keep, every file the console calls
  // written is there after a reload, and the page says why, lastingly, with
  // the space used beside the file list. Persistent storage is asked for
  // once per browser, not at every visit.
  async storage_full(page, ctx) {
    const p = watch(await ctx.browser.newPage());
    await p.evaluateOnNewDocument(() => {
      if (!navigator.storage || !navigator.storage.persist) return;
      const persist = navigator.storage.persist.bind(navigator.storage);
      navigator.storage.persist = () => {
        localStorage.setItem('test.persistAsked', String(Number(localStorage.getItem('test.persistAsked') || 0) + 1));
        return persist();
      };
    });
    await p.goto(ctx.url);
    await ready(p);
    await setProgram(p, bigFiles);
    const c = await compile(p);
    check(c.slot >= 0, 'the writer compiles: ' + JSON.stringify(c));
    const r = await run(p, 170000);
    const text = await consoleText(p);
    const written = [...text.matchAll(/書いた: (big\d+\.txt)/g)].map(m => m[1]);
    const msgs = await messages(p);
    console.log(`${written.length} files reported written; run ${r.result}; state ${await stateText(p)}`);
    check(r.result === 'error', 'a file the browser refused ends the run with an error: ' + JSON.stringify(r) + '\n' + msgs);
    check(written.length < 40, 'not every file can be kept on 48 MB: ' + written.length);
    const lost = `big${written.length + 1}.txt`;
    check(/- ファイルI\/Oエラー/.test(text) && text.includes(lost), 'the console names the file not kept: ' + text.slice(-300));
    check(msgs.includes('ファイルI/Oエラー') && msgs.includes(lost), 'the error names the file: ' + msgs);
    check((await stateText(p)) !== '実行終了', 'the state is not the end of a good run');
    const notice = await storageNotice(p);
    check(/保存/.test(notice), 'a notice says the browser did not keep the file: ' + notice);
    const space = await p.$eval('#storage-space', e => e.textContent).catch(() => '');
    check(/MB/.test(space), 'the space used is shown beside the file list: ' + space);
    // The next run does not clear the notice.
    await compileAndRun(p, '??"次の実行";\n');
    check((await storageNotice(p)) !== '', 'the notice outlasts the next run');
    // A new visit: every file the console called written is kept whole.
    await p.reload();
    await ready(p);
    await waitFiles(p, written[written.length - 1], 'the last file called written after a reload');
    const sizes = await p.$$eval('#files li span', s => s.map(x => x.textContent));
    for (const name of written) {
      const row = sizes.find(s => s.startsWith(name + '（'));
      check(row && /（4\d{6} バイト）/.test(row), `${name} kept whole: ${row}`);
    }
    check(!sizes.some(s => s.startsWith(lost + '（')), 'the file not kept is not listed as kept: ' + sizes.join(' '));
    const asked = await p.evaluate(() => Number(localStorage.getItem('test.persistAsked') || 0));
    check(asked === 1, 'persistent storage asked for once over two visits: ' + asked);
  },

  // IndexedDB cannot be opened (another version of the database holds the
  // name): the page says so at the top and keeps saying it; programs still
  // run, with their files in the page only.
  async storage_unavailable(_, ctx) {
    const page = watch(await ctx.browser.newPage());
    // Another page of the site made a later version of the database first.
    await page.goto(ctx.url + 'examples/index.json');
    await page.evaluate(() => new Promise((resolve, reject) => {
      const r = indexedDB.open('velmora-playground', 99);
      r.onsuccess = () => { r.result.close(); resolve(); };
      r.onerror = () => reject(r.error);
    }));
    await page.goto(ctx.url);
    await ready(page);
    const notice = await storageNotice(page);
    check(/保存/.test(notice) && /ファイル/.test(notice), 'the page says files are not kept: ' + notice);
    const r = await compileAndRun(page, 'FILE(1).OPEN("memo.txt", WRITE);\nFILE(1).WRITE("x");\nFILE(1).CLOSE;\n??"done";\n');
    check(r.result === 'ended', 'a program writing a file runs: ' + JSON.stringify(r));
    await waitFiles(page, 'memo.txt', 'the file in the page');
    check((await storageNotice(page)) === notice, 'the notice stays after the run');
    check(/保存されません|保存できません/.test(await page.$eval('#files-bar', e => e.parentElement.textContent)),
          'the file list says its files are not kept');
  },

  // Site storage blocked by the user (cookies blocked: localStorage throws):
  // the page runs without storage and says so at the top.
  async storage_blocked(page, ctx) {
    const p = await open(ctx.browser, ctx.url, false);
    await ready(p, 20000).catch(async () => check(false, 'the page gets ready: ' + await stateText(p)));
    const notice = await storageNotice(p);
    check(/保存/.test(notice), 'the page says nothing is kept: ' + notice);
    check(!(await p.$eval('#run', b => b.disabled)), 'the run button works');
    const r = await compileAndRun(p, 'FILE(1).OPEN("memo.txt", WRITE);\nFILE(1).WRITE("x");\nFILE(1).CLOSE;\n??"動いた"; ??CRLF;\n');
    check(r.result === 'ended' && (await consoleText(p)).includes('動いた'), 'a program runs: ' + JSON.stringify(r));
    await waitFiles(p, 'memo.txt', 'the file in the page');
    await clickOn(p, '#new-tab');
    check((await p.$$eval('#tabs button', b => b.length)) === 2, 'tabs open');
  },

  // Two pages append to one file at the same time, one opening it for every
  // line, the other keeping it open: all ten lines are kept.
  async appends_two_pages(page, ctx) {
    const b = await open(ctx.browser, ctx.url);
    await setProgram(page, 'FOR I = 1 TO 5 DO\n  FILE(1).OPEN("log.txt", APPEND);\n  &T = "A" + INTSTR(I);\n' +
                           '  FILE(1).WRITE(&T);\n  FILE(1).CLOSE;\n  WAIT 2;\nEND\n');
    await setProgram(b, 'FILE(2).OPEN("log.txt", APPEND);\nFOR I = 1 TO 5 DO\n  &T = "B" + INTSTR(I);\n  FILE(2).WRITE(&T);\n  WAIT 2;\nEND\n' +
                        'FILE(2).CLOSE;\n');
    check((await compile(page)).slot >= 0 && (await compile(b)).slot >= 0, 'both compile');
    await startRun(page);
    await sleep(300);
    await startRun(b);
    const ra = await waitRun(page), rb = await waitRun(b);
    check(ra.result === 'ended' && rb.result === 'ended', 'both runs end: ' + JSON.stringify([ra, rb]));
    await sleep(500);
    const c = await open(ctx.browser, ctx.url);
    await waitFiles(c, 'log.txt', 'the log in a new page');
    const lines = (await readDataFile(c, 'log.txt')).split(/\r?\n/).filter(l => l);
    console.log('log.txt: ' + lines.join(' '));
    for (const who of ['A', 'B'])
      for (let i = 1; i <= 5; ++i) check(lines.includes(who + i), `line ${who}${i} kept: ${lines.join(' ')}`);
    check(lines.length === 10, 'ten lines: ' + lines.length);
    // Each page sees the other's lines when it reads the file next.
    const r = await compileAndRun(page, '&L[] = <*> "log.txt";\nN = &L[] . SIZE;\n??N;\n');
    check(r.result === 'ended' && (await consoleText(page)).trim() === '10', 'the first page reads all ten: ' + (await consoleText(page)));
  },
};

main(cases, {
  storage_full: { diskMB: 48, noPage: true },
  storage_unavailable: { noPage: true },
  storage_blocked: { noPage: true, preferences: { profile: { default_content_setting_values: { cookies: 2 } } } },
});
