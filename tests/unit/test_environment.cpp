#include <gtest/gtest.h>
#include <functional>
#include <limits>

#include "environment/environment.h"
#include "tests/unit/scripted_ui.h"
#include "tests/unit/settings_change.h"
#include "tests/unit/temp_dir.h"
#include "text/lines.h"

using namespace velmora;
using namespace velmora::environment;
using velmora::testing::drive;
using velmora::testing::ScriptedUi;
using velmora::testing::set_setting;
using velmora::testing::TempDir;

namespace {

class Env : public ::testing::Test {
 protected:
  TempDir home;
  ScriptedUi ui;
  Environment env{home.path(), ui};

  int open(const Lines &program) { return env.tabs.loadLines(program, ui); }
  int slotOfTab(int tab) const {
    for (int s = 0; s < engine::kSlots; ++s)
      if (env.engine().task(s).SrcIndex == tab && env.engine().task(s).state != engine::tsEMPTY) return s;
    return -1;
  }
};

}  // namespace

TEST_F(Env, StartUpCreatesTheProgramAndDataDirectories) {
  EXPECT_TRUE(std::filesystem::is_directory(home / "PROG"));
  EXPECT_TRUE(std::filesystem::is_directory(home / "DATA"));
  EXPECT_TRUE(env.settings().useDataDirectory);
  EXPECT_EQ(env.runLoop.permitRows()[0], u"01: 実行許可　〇");
  EXPECT_EQ(env.runLoop.permitRows()[9], u"10: 実行許可　〇");
  EXPECT_FALSE(std::filesystem::exists(home / "User_Setting.Txt"));  // nothing written unasked
}

TEST_F(Env, RecompilingAsksFirstAndNoCompilesNothing) {
  int tab = open({u"A = 1;"});
  EXPECT_EQ(env.compileDriver.compileActiveTab(), 0);
  EXPECT_TRUE(ui.questions.empty());
  env.tabs.setLines(tab, {u"A = 2;"});
  ui.answers = {Answer::No};
  EXPECT_EQ(env.compileDriver.compileActiveTab(), -1);
  EXPECT_EQ(ui.questions, Lines{u"確認: スロットNo. 01  既存のコードを差し替えるか？"});
  EXPECT_EQ(env.engine().list(0)[0].Param[2], u"1");  // the old code stays
  ui.answers = {Answer::Yes};
  EXPECT_EQ(env.compileDriver.compileActiveTab(), 0);
  EXPECT_EQ(env.engine().list(0)[0].Param[2], u"2");
  EXPECT_EQ(env.engine().registered(), 1);
}

TEST_F(Env, AFailedRecompileLeavesTheTabWithoutASlot) {
  int tab = open({u"A = 1;"});
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 0);
  env.tabs.setLines(tab, {u"A = ;"});
  EXPECT_EQ(env.compileDriver.compileActiveTab(), -1);
  EXPECT_EQ(slotOfTab(tab), -1);
  EXPECT_EQ(env.engine().registered(), 0);
}

TEST_F(Env, AFailedCompileShowsTheTokenStreamAtTheLastTokenReadUnlessTurnedOff) {
  open({u"A = 1;", u"B = ;", u"C = 3;"});
  EXPECT_EQ(env.compileDriver.compileActiveTab(), -1);
  ASSERT_EQ(ui.errorLocations.size(), 1u);
  const auto &[tokens, lastRead] = ui.errorLocations[0];
  ASSERT_GE(lastRead, 0);
  ASSERT_LT(std::size_t(lastRead), tokens.size());
  EXPECT_EQ(tokens[std::size_t(lastRead)].substr(0, 1), u"1");  // on the faulty line
  set_setting(env, &environment::Settings::showErrorLocator, false);
  EXPECT_EQ(env.compileDriver.compileActiveTab(), -1);
  EXPECT_EQ(ui.errorLocations.size(), 1u);
}

TEST_F(Env, AnOpenBlockIsReportedAndStillRegistered) {
  open({u"IF A > 0 THEN B = 1;"});
  EXPECT_EQ(env.compileDriver.compileActiveTab(), 0);
  ASSERT_FALSE(ui.messages.empty());
  EXPECT_EQ(ui.messages[0], u"事象：ラベル残存(L_3 IF)\r⇒記述ルール定義の対象外");
}

TEST_F(Env, VariableWarningListsRenamesAndShowsOnlyItsHeaderOtherwise) {
  // A kind mark alone merges nothing and raises no warning; the same name
  // used plain and as a string variable does.
  open({u"&S = \"x\";"});
  env.compileDriver.compileActiveTab();
  EXPECT_TRUE(ui.messages.empty());
  open({u"S = 1;", u"&S = \"x\";"});
  env.compileDriver.compileActiveTab();
  ASSERT_FALSE(ui.messages.empty());
  EXPECT_EQ(ui.messages.back(), u"----- プログラム変数警告 -----\r\r変数削除: S\r\r＊ 変数使用状況確認が必要 ＊\r");
  // Added names alone make no warning; the program report lists every line.
  EXPECT_EQ(compile_report_messages({u"変数追加: &S"}, true, false), Lines{u"----- プログラム変数警告 -----\r\r"});
  EXPECT_EQ(compile_report_messages({u"line one"}, false, true),
            Lines{u"----- プログラムレポート -----\r\rline one\r"});
  EXPECT_TRUE(compile_report_messages({}, true, true).empty());
}

TEST_F(Env, AddRegistersTheLastCompileAgainIntoAnotherSlot) {
  open({u"??\"x\";"});
  EXPECT_EQ(env.compileDriver.compileActiveTab(), 0);
  EXPECT_EQ(env.compileDriver.registerAgain(), 1);
  EXPECT_EQ(env.engine().registered(), 2);
  EXPECT_EQ(env.compileDriver.taskStatusLine(1), u"02: : ｱｸﾃｨﾌﾞ（待機） #1 T1 __$$$__");
  env.compileDriver.releaseSlot(1);
  EXPECT_EQ(env.compileDriver.taskStatusLine(1), u"02: : 無し #0 T-1 ");
}

TEST_F(Env, NothingPermittedEndsAfterTheFirstPass) {
  open({u"WHILE 1 DO END"});
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 0);
  env.runLoop.togglePermit(0);
  EXPECT_EQ(env.runLoop.permitRows()[0], u"01: 実行不可　×");
  EXPECT_EQ(env.runAll(), RunResult::Ended);
  EXPECT_LE(env.engine().passCount(), 1);
  env.runLoop.togglePermit(0);
  EXPECT_EQ(env.runLoop.permitRows()[0], u"01: 実行許可　〇");
}

TEST_F(Env, OneEndsAllAndTheLastToEnd) {
  open({u"??\"short\";"});
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 0);
  open({u"I = 0;", u"WHILE I < 100000 DO I += 1; END"});
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 1);
  set_setting(env, &environment::Settings::endAllWhenOneEnds, true);
  EXPECT_EQ(env.runAll(), RunResult::Ended);
  long long oneEndsAll = env.engine().passCount();
  EXPECT_LT(oneEndsAll, 1000);
  EXPECT_EQ(env.engine().task(1).state, engine::tsEND);
  set_setting(env, &environment::Settings::endAllWhenOneEnds, false);
  EXPECT_EQ(env.runAll(), RunResult::Ended);
  EXPECT_GT(env.engine().passCount(), 100000);
}

TEST_F(Env, RunTimeErrorShowsTheErrorWindowUnlessTheStopSettingIsOff) {
  open({u"A = 0;", u"B = 1 / A;"});
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 0);
  EXPECT_EQ(env.runAll(), RunResult::Error);
  ASSERT_EQ(ui.errors.size(), 1u);
  const auto &rows = ui.errors[0];
  ASSERT_EQ(rows.size(), 7u);
  EXPECT_EQ(rows[0].first, u" Date/Time ");
  EXPECT_EQ(rows[1].second, u"計算エラー：/ ゼロ除算（0 で割った）\r");
  EXPECT_EQ(rows[2].second, u"全タスク停止");
  EXPECT_EQ(rows[3].second, u"01");  // the task as the status list names it
  EXPECT_EQ(rows[4].second, u"00001");
  EXPECT_EQ(rows[5].second, u"100");
  EXPECT_EQ(ui.console.back(), u"計算エラー：/ ゼロ除算（0 で割った）\r");

  set_setting(env, &environment::Settings::stopOnRuntimeError, false);
  EXPECT_EQ(env.runAll(), RunResult::Ended);
  EXPECT_EQ(ui.errors.size(), 1u);  // no error window this time
}

TEST_F(Env, SlicesAreTimedNotCountedByPass) {
  open({u"I = 0;", u"WHILE I < 300000 DO I += 1; END"});
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 0);
  ui.pumps = 0;
  auto start = std::chrono::steady_clock::now();
  drive(env, ui);
  double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GT(env.engine().passCount(), 1000000);
  EXPECT_LT(ui.pumps, 20 + int(ms));  // a slice lasts milliseconds, never one pass
}

TEST_F(Env, KillDuringTheRunStopsIt) {
  ScriptedUi killing;
  Environment e(home.path(), killing);
  killing.onPump = [&] {
    if (e.runLoop.running() && killing.pumps > 3) e.runLoop.stopAll();
  };
  e.tabs.loadLines({u"WHILE 1 DO END"}, killing);
  ASSERT_EQ(e.compileDriver.compileActiveTab(), 0);
  EXPECT_EQ(drive(e, killing), RunResult::Stopped);
  EXPECT_FALSE(e.runLoop.running());
  EXPECT_EQ(e.engine().task(0).state, engine::tsEND);
}

TEST_F(Env, NewProgramsTakeTheLowestFreeTabUntilAllTenAreOpen) {
  for (int i = 0; i < 10; ++i) EXPECT_EQ(env.workspace.newProgram(), i);
  EXPECT_EQ(env.tabs.tab(0).caption, u"#1");
  EXPECT_EQ(env.tabs.tab(9).caption, u"#10");
  EXPECT_EQ(env.workspace.newProgram(), -1);
  EXPECT_EQ(ui.messages.back(), u"なぜかファイル保管場所が見つからない");
  EXPECT_EQ(open({u"x"}), -1);
  EXPECT_EQ(ui.messages.back(), u"これ以上編集できない");
  ASSERT_TRUE(env.workspace.closeTab(3));
  EXPECT_EQ(env.workspace.newProgram(), 3);
  EXPECT_EQ(env.tabs.tab(3).caption, u"#4");
}

TEST_F(Env, ClosingAModifiedTabAsksAndCanSaveOrCancel) {
  int tab = env.workspace.newProgram();
  env.tabs.setLines(tab, {u"A = 1;"});
  env.tabs.setModified(tab, true);
  ui.answers = {Answer::Cancel};
  EXPECT_FALSE(env.workspace.closeTab(tab));
  EXPECT_EQ(ui.questions.back(), u"変更確認: 編集内容をファイル保存するか？\r\r  #1");
  EXPECT_TRUE(env.tabs.tab(tab).inUse);
  ui.answers = {Answer::Yes};
  ui.saveAs = home / "PROG" / "abc";
  EXPECT_TRUE(env.workspace.closeTab(tab));
  EXPECT_FALSE(env.tabs.tab(tab).inUse);
  EXPECT_EQ(*text::read_file_bytes(home / "PROG" / "abc.mcl"), "A = 1;\n");  // a new file: LF
}

TEST_F(Env, OverwriteSavingANewProgramAsksForANameAndNeverWritesHashFiles) {
  int tab = env.workspace.newProgram();
  env.tabs.setLines(tab, {u"A = 1;"});
  env.tabs.setModified(tab, true);
  EXPECT_FALSE(env.workspace.overwriteSave(tab));  // the dialog was cancelled
  EXPECT_EQ(ui.questions.back().substr(0, 8), u"テキストで保存:");
  EXPECT_FALSE(std::filesystem::exists(home / "PROG" / "#1"));
  EXPECT_TRUE(env.tabs.tab(tab).modified);
  ui.saveAs = home / "PROG" / "named.mcl";
  EXPECT_TRUE(env.workspace.overwriteSave(tab));
  EXPECT_EQ(*text::read_file_bytes(home / "PROG" / "named.mcl"), "A = 1;\n");
  // From now on the tab has its file: no question.
  std::size_t asked = ui.questions.size();
  env.tabs.setLines(tab, {u"A = 2;"});
  EXPECT_TRUE(env.workspace.overwriteSave(tab));
  EXPECT_EQ(ui.questions.size(), asked);
  EXPECT_EQ(*text::read_file_bytes(home / "PROG" / "named.mcl"), "A = 2;\n");
  EXPECT_FALSE(std::filesystem::exists(home / "PROG" / "#1"));
}

TEST_F(Env, CancelWhileClosingEverythingKeepsEveryTabAndSlot) {
  int a = open({u"??\"a\";"});
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 0);
  int b = open({u"??\"b\";"});
  env.tabs.setModified(b, true);
  int c = open({u"??\"c\";"});
  ui.answers = {Answer::Cancel};
  EXPECT_FALSE(env.workspace.closeAllTabs());
  EXPECT_EQ(env.tabs.openCount(), 3);
  for (int t : {a, b, c}) EXPECT_TRUE(env.tabs.tab(t).inUse);
  EXPECT_TRUE(env.tabs.tab(b).modified);
  EXPECT_EQ(env.engine().task(0).state, engine::tsACTIVE);  // a's slot stays
  // No lets the modified tab go without saving; then everything closes.
  ui.answers = {Answer::No};
  EXPECT_TRUE(env.workspace.closeAllTabs());
  EXPECT_EQ(env.tabs.openCount(), 0);
  EXPECT_EQ(env.engine().task(0).state, engine::tsEMPTY);
}

TEST_F(Env, ClosingATabDeletesItsSlotAndTheLastTabStopsEverything) {
  int a = open({u"WHILE 1 DO END"});
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 0);
  int b = open({u"??\"b\";"});
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 1);
  EXPECT_TRUE(env.workspace.closeTab(a));
  EXPECT_EQ(env.engine().task(0).state, engine::tsEMPTY);
  EXPECT_EQ(env.engine().task(1).state, engine::tsACTIVE);
  EXPECT_EQ(env.tabs.active(), b);
  env.workspace.closeAllTabs();
  EXPECT_EQ(env.tabs.openCount(), 0);
  EXPECT_EQ(env.runAll(), RunResult::NotStarted);  // nothing open: no run
}

TEST_F(Env, SingleQuotesBecomeDoubleQuotesWhenTheOptionIsOn) {
  int tab = open({u"&S = 'it';", u"??&S;"});
  set_setting(env, &environment::Settings::replaceSingleQuotes, true);
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 0);
  EXPECT_EQ(env.tabs.tab(tab).lines[0], u"&S = \"it\";");
  env.runAll();
  EXPECT_EQ(ui.console.back(), u"\rit");
}

TEST_F(Env, PageRangeStoreLineAndStatusEdgeCases) {
  open({u"[#0].CLEAR;"});
  env.compileDriver.compileActiveTab();
  EXPECT_EQ(env.runAll(), RunResult::Error);
  EXPECT_EQ(ui.console.back(), u"頁範囲エラー 0");
  env.workspace.closeAllTabs();
  open({u"[#11].CLEAR;"});
  env.compileDriver.compileActiveTab();
  env.runAll();
  EXPECT_EQ(ui.console.back(), u"頁範囲エラー 11");
  env.workspace.closeAllTabs();

  int main = open({u"&A[] += \"x\"; &A[] += \"y\"; &A[] += \"z\";", u"[#2] = &A[];", u"S = [#3].STATUS;", u"??S;",
                   u"&T = [#2].LINE(5);"});
  int other = open({u"one", u"two"});
  ASSERT_EQ(other, 1);
  env.tabs.activate(main);
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 0);
  EXPECT_EQ(env.runAll(), RunResult::Error);
  EXPECT_EQ(env.tabs.tab(1).lines, (Lines{u"one", u"two", u"x", u"y", u"z"}));
  EXPECT_EQ(ui.console, (Lines{u"\r0", u"エラー　不正なページ、行指定"}));
}

TEST_F(Env, NewPageWithAllTenInUseGivesMinusOne) {
  open({u"N = [#].NEW;", u"??N;"});
  for (int i = 1; i < 10; ++i) env.workspace.newProgram();
  env.tabs.activate(0);
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 0);
  EXPECT_EQ(env.runAll(), RunResult::Ended);
  EXPECT_EQ(ui.messages.back(), u"なぜかファイル保管場所が見つからない");
  EXPECT_EQ(ui.console.back(), u"\r-1");
}

TEST_F(Env, SavingAddsTheFileToTheRecentListOnce) {
  int tab = env.workspace.newProgram();
  env.tabs.setLines(tab, {u"A = 1;"});
  ui.saveAs = std::filesystem::path("abc");
  ASSERT_TRUE(env.workspace.saveTabAsText(tab));
  ASSERT_TRUE(env.workspace.saveTabAsText(tab));
  EXPECT_TRUE(std::filesystem::exists(home / "PROG" / "abc.mcl"));
  const Lines entry{text::from_utf8((home / "PROG" / "abc.mcl").lexically_normal().string())};
  EXPECT_EQ(env.workspace.recentFiles(), entry);
  EXPECT_EQ(text::read_text_file(home / "Recent.$$$")->lines, entry);
  Environment again(home.path(), ui);
  EXPECT_EQ(again.workspace.recentFiles(), entry);
}

TEST_F(Env, BooksKeepTheNonEmptyProgramsAndReadBackIntoNewTabs) {
  open({u"first", u"has [=TXB=]: mark", u"x [=TXB=]#9 inside"});
  env.workspace.newProgram();  // #2 stays empty
  open({u"third"});
  Lines book = env.workspace.bookLines();
  EXPECT_EQ(book, (Lines{u"[=TXB=]:REVE VOVER BOOK VER1", u"[=TXB=]#1", u"first", u"has [=TXB=]: mark",
                         u"x [=TXB=]#9 inside", u"[=TXB=]#3", u"third"}));
  ui.saveAs = home / "PROG" / "work";
  ASSERT_TRUE(env.workspace.saveBook());
  EXPECT_TRUE(std::filesystem::exists(home / "PROG" / "work.txb"));

  env.workspace.closeAllTabs();
  ASSERT_EQ(env.tabs.openCount(), 0);
  EXPECT_EQ(env.workspace.readBook(book), 2);
  EXPECT_EQ(env.tabs.tab(0).caption, u"#1");
  EXPECT_EQ(env.tabs.tab(1).caption, u"#2");
  EXPECT_EQ(env.tabs.tab(0).lines, (Lines{u"first", u"x [=TXB=]#9 inside"}));  // the marked line is lost
  EXPECT_EQ(env.tabs.tab(1).lines, Lines{u"third"});
}

TEST_F(Env, OverwriteSaveOfABookProgramIsRefused) {
  open({u"A = 1;"});
  ui.saveAs = home / "PROG" / "b.TXB";
  ASSERT_TRUE(env.workspace.saveBook());
  struct BookUi : ScriptedUi {
    std::filesystem::path book;
    std::optional<std::filesystem::path> chooseOpenFile(const u16 &, const std::filesystem::path &,
                                                        const u16 &) override {
      return book;
    }
  } bookUi;
  bookUi.book = home / "PROG" / "b.TXB";
  Environment e(home.path(), bookUi);
  ASSERT_TRUE(e.workspace.loadBook());
  EXPECT_EQ(e.workspace.bookName(), u"b.TXB");
  EXPECT_FALSE(e.workspace.overwriteSave(0));
  EXPECT_EQ(bookUi.messages.back(), u"ＢＯＯＫ形式は保存メニューを使用する");
}

namespace {

// Shows every compile step (the compile pauses); answer() gives "次" to
// each, or "終了" after a number of steps, as the user does.
struct StepUi : ScriptedUi {
  Environment *env = nullptr;
  std::vector<environment::CompileStep> steps;
  int endAfter = -1;
  bool compileStepShown(const environment::CompileStep &step) override {
    steps.push_back(step);
    return true;
  }
  // True when the step compile ended successfully.
  bool answer() {
    while (env->compileDriver.stepCompiling()) {
      if (int(steps.size()) == endAfter) env->compileDriver.endStepCompile();
      else env->compileDriver.stepCompileNext();
    }
    return env->compileDriver.stepResult() >= 0;
  }
};

}  // namespace

TEST(StepCompile, ShowsTheStateBeforeEveryTokenAndRegistersNothing) {
  TempDir home;
  StepUi ui;
  Environment env{home.path(), ui};
  ui.env = &env;
  env.tabs.loadLines({u"A = 1;", u"B = A + 2;"}, ui);
  EXPECT_FALSE(env.compileDriver.startStepCompile());  // paused before the first token
  EXPECT_EQ(env.state(), State::StepCompiling);
  EXPECT_TRUE(ui.answer());
  EXPECT_EQ(env.state(), State::Idle);
  ASSERT_GE(ui.steps.size(), 8u);
  EXPECT_EQ(ui.steps.front().cursor, -1);
  EXPECT_TRUE(ui.steps.front().tcode.empty());
  EXPECT_EQ(ui.steps.front().nextToken, u"0 ∇ A");
  // The T-code grows as the tokens are taken; the last step sees the first
  // statement's code.
  EXPECT_FALSE(ui.steps.back().tcode.empty());
  EXPECT_EQ(env.engine().registered(), 0);
  EXPECT_EQ(env.compileDriver.registerAgain(), -1);  // nothing to register afterwards
  const Lines stepped = env.compileDriver.lastTcode();
  ASSERT_FALSE(stepped.empty());

  // "終了" lets the compile run to its end without further steps, to the
  // same T-code.
  ui.steps.clear();
  ui.endAfter = 2;
  EXPECT_FALSE(env.compileDriver.startStepCompile());
  EXPECT_TRUE(ui.answer());
  EXPECT_EQ(ui.steps.size(), 2u);
  EXPECT_EQ(env.compileDriver.lastTcode(), stepped);
}

TEST_F(Env, TheFileListPreviewsOpensProgramsAndReadsBooks) {
  const std::filesystem::path dir = home / "elsewhere";
  std::filesystem::create_directories(dir);
  ASSERT_TRUE(text::write_lines_file(dir / "a.mcl", {u"??1;"}));
  ASSERT_TRUE(text::write_lines_file(
      dir / "b.TXB", {u"[=TXB=]:REVE VOVER BOOK VER1", u"[=TXB=]#1", u"x = 1;", u"[=TXB=]#2", u"y = 2;"}));
  env.workspace.setFileList({dir / "a.mcl", dir / "b.TXB"});
  const u16 a = text::from_utf8((dir / "a.mcl").string()), b = text::from_utf8((dir / "b.TXB").string());
  EXPECT_EQ(env.workspace.recentFiles(), (Lines{a, b}));
  EXPECT_EQ(env.workspace.programDirectory(), dir);
  auto saved = text::read_text_file(home / "Recent.$$$");
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->lines, env.workspace.recentFiles());

  EXPECT_EQ(env.workspace.previewListedFile(a), Lines{u"??1;"});
  EXPECT_TRUE(env.workspace.previewListedFile(u"missing.mcl").empty());
  int tab = env.workspace.openListedFile(a);
  ASSERT_GE(tab, 0);
  EXPECT_EQ(env.tabs.tab(tab).lines, Lines{u"??1;"});

  // A book replaces the workspace after the question; No keeps it.
  ui.answers = {Answer::No};
  EXPECT_EQ(env.workspace.openListedFile(b), -1);
  EXPECT_EQ(env.tabs.openCount(), 1);
  ui.answers = {Answer::Yes};
  EXPECT_GE(env.workspace.openListedFile(b), 0);
  EXPECT_EQ(env.tabs.openCount(), 2);
  EXPECT_EQ(env.tabs.tab(1).lines, Lines{u"y = 2;"});
  EXPECT_EQ(ui.questions.back(), u"解放: ワークスペースが破棄されます");
}

// Faults met only at run time are announced by the compile: each warning
// appears exactly past its limit, and the program still compiles.
TEST_F(Env, CompileWarnsOfLongNamesAndTooManyTimers) {
  auto warnings_for = [&](const Lines &program) {
    ui.messages.clear();
    env.tabs.setModified(open(program), false);
    EXPECT_GE(env.compileDriver.compileActiveTab(), 0);
    Lines found;
    for (const u16 &m : ui.messages)
      if (m.find(u"コンパイル警告") != u16::npos) found.push_back(m);
    env.workspace.closeAllTabs();
    return found;
  };
  EXPECT_TRUE(warnings_for({u"ABCDEFGHIJKLMNOPQRST = 1;", u"&ABCDEFGHIJKLMNOPQRS = \"s\";"}).empty());
  Lines w = warnings_for({u"ABCDEFGHIJKLMNOPQRSTU = 1;", u"&ABCDEFGHIJKLMNOPQRST = \"s\";"});
  ASSERT_EQ(w.size(), 1u);
  EXPECT_NE(w[0].find(u"変数名が 20 文字を超える: ABCDEFGHIJKLMNOPQRSTU（"), u16::npos);
  EXPECT_NE(w[0].find(u": &ABCDEFGHIJKLMNOPQRST（"), u16::npos);

  auto timers = [](int n) {
    Lines p;
    for (int i = 0; i < n; ++i) p.push_back(u"TIMER \"T" + text::int16(i) + u"\", SET, 5, \"H\";");
    p.push_back(u"TIMER \"T0\", SET, 5, \"H\";");  // a name again counts once
    for (const char16_t *l : {u"FUNCTION H;", u"INTRET;", u"ENDFUNC"}) p.push_back(l);
    return p;
  };
  EXPECT_TRUE(warnings_for(timers(10)).empty());
  w = warnings_for(timers(11));
  ASSERT_EQ(w.size(), 1u);
  EXPECT_NE(w[0].find(u"タイマー名 11 個が上限 10 個を超える"), u16::npos);
}

// A program with more labels than the label table holds is refused when it
// registers (it used to be registered and then fail the link of every run):
// the tab keeps no slot, the message names the program and the limit, and
// the programs compiled before still run.
TEST_F(Env, AProgramWithTooManyLabelsIsRefusedAndOthersStillRun) {
  const int hello = open({u"??\"hello\"; ??CRLF;"});
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 0);
  auto ifs = [](int n) {
    Lines p{u"X = 0;"};
    for (int i = 0; i < n; ++i) p.push_back(u"IF X > " + text::int16(i) + u" THEN X = 1; END");
    return p;
  };
  ASSERT_GE(open(ifs(333)), 0);  // labels up to 999
  EXPECT_EQ(env.compileDriver.compileActiveTab(), 1);
  const int many = open(ifs(400));
  ui.messages.clear();
  EXPECT_EQ(env.compileDriver.compileActiveTab(), -1);
  EXPECT_EQ(slotOfTab(many), -1);
  EXPECT_EQ(env.engine().registered(), 2);
  const u16 expected = u"ラベル過多: " + env.tabs.tab(many).caption + u"（ラベル番号 1200、上限 999）";
  bool told = false;
  for (const u16 &m : ui.messages) told = told || m.find(expected) != u16::npos;
  EXPECT_TRUE(told) << "the refusal is shown";
  // The editor marks it as an error, where the labels run out.
  ASSERT_FALSE(env.compileDriver.diagnostics().empty());
  EXPECT_EQ(env.compileDriver.diagnostics().front().severity, compiler::Severity::Error);
  EXPECT_STREQ(env.compileDriver.diagnostics().front().id, "too-many-labels");
  // Any program still runs, alone or with the others.
  EXPECT_EQ(drive(env, ui, env.startTab(hello)), RunResult::Ended);
  EXPECT_NE(env.engine().console().lines().front().find(u"hello"), u16::npos);
  EXPECT_EQ(drive(env, ui), RunResult::Ended);
  EXPECT_NE(env.engine().console().lines().front().find(u"hello"), u16::npos);
}

namespace {
// A face that answers GETS later, as the IDE does, and records the prompts.
class LaterUi : public ScriptedUi {
 public:
  std::vector<int> asked;
  InputMode consoleInput(int, u16 &) override { return InputMode::Later; }
  void inputRequested(int slot) override { asked.push_back(slot); }
};
}  // namespace

// Tasks waiting in GETS are served in the order they asked; each delivered
// line goes to its own task and the prompt moves on to the next asker.
TEST(ConsoleInput, TasksAreServedInTheOrderTheyAsked) {
  TempDir home;
  LaterUi ui;
  Environment env{home.path(), ui};
  env.tabs.loadLines({u"?? GETS &A;", u"??\"A=\" + &A; ??CRLF;"}, ui);
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 0);
  env.tabs.loadLines({u"WAIT 1;", u"?? GETS &B;", u"??\"B=\" + &B; ??CRLF;"}, ui);
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 1);
  int pumps = 0;
  ui.onPump = [&] {
    if (++pumps > 100000) env.runLoop.stopAll();  // never hang
    const engine::TTaskInfo &second = env.engine().task(1);
    bool secondAsks = second.WAIT && second.CANGO_TIME == std::numeric_limits<double>::infinity();
    if (env.inputSlot() == 0 && secondAsks) {
      EXPECT_TRUE(env.deliverInput(u"first"));
    } else if (env.inputSlot() == 1) {
      EXPECT_TRUE(env.deliverInput(u"second"));
    }
  };
  ASSERT_EQ(drive(env, ui), RunResult::Ended);
  EXPECT_EQ(ui.asked, (std::vector<int>{0, 1, -1}));
  Lines console = ui.console;
  EXPECT_NE(std::find(console.begin(), console.end(), u"\rA=first"), console.end());
  EXPECT_NE(std::find(console.begin(), console.end(), u"\rB=second"), console.end());
  EXPECT_FALSE(env.deliverInput(u"nobody asks"));
}

// A run's programs read and write the tabs as pages: while it lasts the user
// may not open, close all, read a book or start a tool, and is told why.
TEST_F(Env, TheTabsAndToolsWaitForARunToEnd) {
  open({u"WHILE 1 DO END"});
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 0);
  ExtractionSpec spec;
  spec.sourcePath = u"x.html";
  int checked = 0;
  ui.onPump = [&] {
    if (!env.runLoop.running() || checked) return;
    ++checked;
    ui.messages.clear();
    EXPECT_EQ(env.workspace.openProgram(std::nullopt), -1);
    EXPECT_FALSE(env.workspace.closeAllTabs());
    EXPECT_FALSE(env.workspace.loadBook());
    EXPECT_EQ(env.workspace.openListedFile(u"a.mcl"), -1);
    EXPECT_EQ(ui.messages, Lines(4, u"タスク実行を終了すること"));
    EXPECT_EQ(env.runExtraction(spec), RunResult::NotStarted);
    EXPECT_EQ(env.runSystemProgram({u"??1;"}, false), RunResult::NotStarted);
    EXPECT_EQ(env.tabs.openCount(), 1);  // no tool left a tab behind
    EXPECT_TRUE(ui.questions.empty());   // nothing asked to choose a file
    env.runLoop.stopAll();
  };
  EXPECT_EQ(drive(env, ui), RunResult::Stopped);
  EXPECT_EQ(checked, 1);
  ui.onPump = nullptr;
  EXPECT_TRUE(env.workspace.mayChangeTabs());
  EXPECT_TRUE(env.workspace.closeAllTabs());
}

TEST_F(Env, CompilingIsRefusedWhileARunOrAStepCompileOwnsTheSlots) {
  open({u"WHILE 1 DO END"});
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 0);
  int refusedInRun = 0, refusedInStep = 0, triedInStep = 0;
  ui.onPump = [&] {
    if (!env.runLoop.running()) return;
    EXPECT_FALSE(env.mayCompile());
    refusedInRun += env.compileDriver.compileActiveTab() == -1 && env.compileDriver.compileToFreeSlot() == -1;
    env.runLoop.stopAll();
  };
  EXPECT_EQ(drive(env, ui), RunResult::Stopped);
  EXPECT_EQ(refusedInRun, 1);
  EXPECT_EQ(env.engine().registered(), 1);
  // "開始" pauses before every token; a compile meanwhile is refused.
  ui.showSteps = true;
  EXPECT_FALSE(env.compileDriver.startStepCompile());
  EXPECT_EQ(env.state(), State::StepCompiling);
  for (int i = 0; i < 3 && env.compileDriver.stepCompiling(); ++i) {
    EXPECT_FALSE(env.mayCompile());
    ++triedInStep;
    refusedInStep += env.compileDriver.compileActiveTab() == -1 && env.compileDriver.compileToFreeSlot() == -1 &&
                     !env.compileDriver.extractTokens(false) && !env.compileDriver.startStepCompile();
    env.compileDriver.stepCompileNext();
  }
  env.compileDriver.endStepCompile();
  EXPECT_EQ(triedInStep, 3);
  EXPECT_EQ(refusedInStep, triedInStep);
  EXPECT_FALSE(env.compileDriver.stepCompiling());
  EXPECT_EQ(env.compileDriver.stepResult(), 0);
  EXPECT_EQ(env.engine().registered(), 1);
  ui.onPump = nullptr;
  EXPECT_TRUE(env.mayCompile());
  EXPECT_EQ(env.compileDriver.compileToFreeSlot(), 1);
}

TEST_F(Env, AnEleventhFileIsRefusedWithTheSameMessageWhereverItComesFrom) {
  ASSERT_TRUE(text::write_lines_file(home / "PROG" / "a.mcl", {u"A = 1;"}, text::Encoding::Utf8));
  for (int i = 0; i < 10; ++i) ASSERT_GE(env.workspace.newProgram(), 0);
  EXPECT_FALSE(env.workspace.roomForAnotherTab());
  EXPECT_EQ(env.workspace.openListedFile(u"a.mcl"), -1);
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[0], u"10ファイル以上は編集できません");
  EXPECT_EQ(ui.messages[1], ui.messages[0]);
  env.workspace.closeTab(3);
  EXPECT_TRUE(env.workspace.roomForAnotherTab());
  EXPECT_GE(env.workspace.openListedFile(u"a.mcl"), 0);
}

// The environment's one state and the one question every command asks: a
// run started by startRun goes on only as its driver calls runSlice, every
// start command is refused meanwhile, and the faces hear of every change.
TEST_F(Env, OneStateAnswersEveryCommand) {
  open({u"??\"go\";", u"WHILE 1 DO WAIT 1; END"});
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 0);
  EXPECT_EQ(env.state(), State::Idle);
  EXPECT_TRUE(env.mayStart(Command::Run));
  EXPECT_FALSE(env.mayStart(Command::Pause));
  EXPECT_FALSE(env.mayStart(Command::Stop));
  const int changes = ui.stateChanges;
  ASSERT_EQ(env.startRun(), RunResult::Running);
  EXPECT_EQ(env.state(), State::Running);
  EXPECT_GT(ui.stateChanges, changes);
  for (Command c : {Command::Compile, Command::Run, Command::Tool, Command::StepCompile, Command::CodeDebug,
                    Command::ChangeTabs, Command::Settings, Command::Quit, Command::StepNext})
    EXPECT_FALSE(env.mayStart(c)) << int(c);
  EXPECT_TRUE(env.mayStart(Command::Pause));
  EXPECT_TRUE(env.mayStart(Command::Stop));
  // Refused by the environment, not only greyed out by a window.
  EXPECT_EQ(env.startRun(), RunResult::NotStarted);
  EXPECT_EQ(env.runTab(0), RunResult::NotStarted);
  EXPECT_EQ(env.compileDriver.compileToFreeSlot(), -1);
  EXPECT_FALSE(env.resetTasks());
  EXPECT_EQ(env.runSystemProgram({u"??1;"}, false), RunResult::NotStarted);
  // Nothing runs until a slice is asked for.
  EXPECT_EQ(env.engine().passCount(), 0);
  EXPECT_GE(env.runSlice(), 0);
  EXPECT_GT(env.engine().passCount(), 0);
  env.runLoop.togglePause();
  EXPECT_GE(env.runSlice(), 0);
  EXPECT_EQ(env.state(), State::Paused);
  const long long passes = env.engine().passCount();
  EXPECT_GT(env.runSlice(), 0);  // paused: the next slice after a rest, no passes
  EXPECT_EQ(env.engine().passCount(), passes);
  env.runLoop.stopAll();
  EXPECT_EQ(env.runToEnd(RunResult::Running), RunResult::Stopped);
  EXPECT_EQ(env.state(), State::Idle);
  EXPECT_EQ(env.runSlice(), -1);  // nothing left to drive
  EXPECT_TRUE(env.mayStart(Command::Run));
}

// A step compile goes one token further by compiling again up to the next
// token: paused and resumed token by token, it says exactly what an
// ordinary compile of the same text says, once, and ends with the same mark
// and T-code.
TEST(StepCompile, SteppedCompileSaysWhatAnOrdinaryCompileSays) {
  const Lines program{u"A = 1;", u"B = ;", u"C = 3;"};
  TempDir home;
  ScriptedUi plainUi;
  Environment plain{home.path(), plainUi};
  plain.tabs.loadLines(program, plainUi);
  EXPECT_FALSE(plain.compileDriver.startStepCompile());
  ASSERT_FALSE(plainUi.messages.empty());

  StepUi ui;
  Environment env{home.path(), ui};
  ui.env = &env;
  env.tabs.loadLines(program, ui);
  EXPECT_FALSE(env.compileDriver.startStepCompile());
  EXPECT_FALSE(ui.answer());
  EXPECT_GT(ui.steps.size(), 3u);
  EXPECT_EQ(ui.messages, plainUi.messages);
  EXPECT_EQ(env.compileDriver.compileError().line, plain.compileDriver.compileError().line);
  EXPECT_EQ(env.compileDriver.lastTcode(), plain.compileDriver.lastTcode());
  EXPECT_EQ(env.state(), State::Idle);
}
