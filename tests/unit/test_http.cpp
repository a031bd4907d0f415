// HTTP transfers end to end against a real server on 127.0.0.1, and the URL
// decoding and splitting.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

#include "engine/http.h"
#include "environment/environment.h"
#include "tests/unit/http_server.h"
#include "tests/unit/scripted_ui.h"
#include "tests/unit/settings_change.h"
#include "tests/unit/temp_dir.h"

extern char **environ;

using namespace velmora;
using namespace velmora::environment;
using velmora::testing::ScriptedUi;
using velmora::testing::Server;
using velmora::testing::set_setting;
using velmora::testing::TempDir;

namespace {

class Http : public ::testing::Test {
 protected:
  static Server *server;
  static void SetUpTestSuite() { server = new Server; }
  static void TearDownTestSuite() { delete server; }
  TempDir home;
  ScriptedUi ui;
  Environment env{home.path(), ui};
  u16 url(const char16_t *path) { return u"http://127.0.0.1:" + text::int16(server->port) + path; }
  RunResult runProgram(const Lines &program) {
    env.tabs.loadLines(program, ui);
    if (env.compileDriver.compileActiveTab() < 0) return RunResult::NotStarted;
    return env.runAll();
  }
  const engine::LineList &list(const char16_t *name) {
    return env.engine().variables()[env.engine().variables().find(0, name)].StrList;
  }
};
Server *Http::server = nullptr;

}  // namespace

TEST_F(Http, GetGivesTheBodyAndTheResponseReport) {
  ASSERT_GT(server->port, 0);
  ASSERT_EQ(runProgram({u"&B[], &R[] = <*> \"" + url(u"/redirect") + u"\";", u"??\"resumed\";"}), RunResult::Ended)
      << text::to_utf8(ui.console.back());
  EXPECT_EQ(list(u"&B"), (Lines{u"line one", u"line two"}));
  const engine::LineList &r = list(u"&R");
  ASSERT_GE(r.size(), 9u);
  EXPECT_EQ(r[0], u" Status-Code:200");
  EXPECT_EQ(r[1], u" Status-Text:OK");
  EXPECT_EQ(r[3], u"   Mime-Type:text/plain");
  EXPECT_EQ(r[6], u"    Char-Set:utf-8");
  EXPECT_EQ(r[8], u"    Language:ja");
  EXPECT_NE(std::find(r.begin(), r.end(), u"Cookies_0:Name=session"), r.end());
  EXPECT_NE(std::find(r.begin(), r.end(), u"Cookies_0:HttpOnly=True"), r.end());
  EXPECT_EQ(ui.console.back(), u"\rresumed");
  // The transfer file was removed after reading.
  EXPECT_FALSE(std::filesystem::exists(home / "DATA" / "_net_0.$$$"));
}

TEST_F(Http, PostSendsTheListAsFormFieldsAndOtherTasksKeepRunning) {
  ASSERT_GT(server->port, 0);
  env.tabs.loadLines(
      {u"&F[] += \"name=ベルモラ\";", u"&F[] += \"q=a b&c\";", u"&A[] = <*> UTF8 \"" + url(u"/echo") + u"\" , &F[];"},
      ui);
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 0);
  env.tabs.loadLines({u"N = 0;", u"WHILE N < 1000 DO N += 1; END"}, ui);
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 1);
  ASSERT_EQ(env.runAll(), RunResult::Ended);
  EXPECT_EQ(list(u"&A"), (Lines{u"name=ベルモラ", u"q=a b&c"}));
}

TEST_F(Http, RequestParametersAndTheirErrors) {
  ASSERT_GT(server->port, 0);
  ASSERT_EQ(runProgram({u"&H[] += \"2000\";", u"&H[] += \"5000\";", u"&H[] += \"VelmoraTest/1\";", u"HTTP &H[];",
                        u"&A[] = <*> \"" + url(u"/agent") + u"\";"}),
            RunResult::Ended);
  EXPECT_EQ(list(u"&A"), Lines{u"VelmoraTest/1"});
  env.workspace.closeAllTabs();
  EXPECT_EQ(runProgram({u"&H[] += \"2000\";", u"HTTP &H[];", u"&A[] = <*> \"" + url(u"/agent") + u"\";"}),
            RunResult::Error);
  EXPECT_EQ(ui.console.back(), u"- HTTP INVALID PARAMETER ");
}

// A task stopped while its transfer runs gets the result when it is made
// active again (the result was thrown away, and the task waited forever),
// and no transfer file stays in the data directory after the run.
TEST_F(Http, ATaskStoppedDuringATransferResumesWhenActiveAgain) {
  ASSERT_GT(server->port, 0);
  env.tabs.loadLines({u"WAIT 3;", u"[#2].STOP;", u"WAIT 40;", u"[#2].ACTIVE;"}, ui);
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 0);
  env.tabs.loadLines({u"&A[] = <*> \"" + url(u"/slow") + u"\";", u"??\"got \" + &A[0];"}, ui);
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 1);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(env.runAll(), RunResult::Ended);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
  EXPECT_NE(ui.console.back().find(u"got late"), u16::npos) << text::to_utf8(ui.console.back());
  EXPECT_FALSE(std::filesystem::exists(home / "DATA" / "_net_1.$$$"));
}

// A run that ends while the task is still stopped after its transfer
// finished leaves no transfer file behind.
TEST_F(Http, TransferFilesLeaveTheDataDirectoryWhenTheRunEnds) {
  ASSERT_GT(server->port, 0);
  env.tabs.loadLines({u"WAIT 3;", u"[#2].STOP;", u"WAIT 40;"}, ui);
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 0);
  env.tabs.loadLines({u"&A[] = <*> \"" + url(u"/slow") + u"\";"}, ui);
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 1);
  // The stopped task keeps the run going: stopped by ■ once the body is in.
  auto stopAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(4500);
  ui.onPump = [&] {
    if (std::chrono::steady_clock::now() > stopAt) env.runLoop.stopAll();
  };
  EXPECT_EQ(drive(env, ui), RunResult::Stopped);
  EXPECT_FALSE(std::filesystem::exists(home / "DATA" / "_net_1.$$$"));
}

TEST_F(Http, AFailedTransferIsReportedInsteadOfWaitingForever) {
  // A port nobody listens on: the connection is refused.
  EXPECT_EQ(runProgram({u"&A[] = <*> \"http://127.0.0.1:1/x\";"}), RunResult::Error);
  EXPECT_EQ(ui.console.back(), u"- HTTP ロード　エラー：ファイル名(http://127.0.0.1:1/x)");
}

TEST_F(Http, AServerThatStopsAnsweringEndsTheWaitByTheStallLimit) {
  ASSERT_GT(server->port, 0);
  set_setting(env, &environment::Settings::httpStallLimit, u"1");
  for (const char16_t *path : {u"/silent", u"/stalls"}) {
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(runProgram({u"&A[] = <*> \"" + url(path) + u"\";"}), RunResult::Error) << text::to_utf8(path);
    EXPECT_EQ(ui.console.back(), u"- HTTP ロード　エラー：ファイル名(" + url(path) + u")");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    env.workspace.closeAllTabs();
  }
  // A program's own response time-out comes first: no stall limit applies.
  set_setting(env, &environment::Settings::httpStallLimit, u"600");
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(runProgram({u"&H[] += \"\";", u"&H[] += \"800\";", u"&H[] += \"\";", u"HTTP &H[];",
                        u"&A[] = <*> \"" + url(u"/silent") + u"\";"}),
            RunResult::Error);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST_F(Http, ShiftJisBodiesAreReadByTheTextRules) {
  ASSERT_GT(server->port, 0);
  ASSERT_EQ(runProgram({u"&A[] = <*> SJIS \"" + url(u"/sjis.txt") + u"\";"}), RunResult::Ended);
  EXPECT_EQ(list(u"&A"), Lines{u"日本語"});
}

TEST_F(Http, AWebPageLoadsIntoAPageNamedAfterItsUrl) {
  ASSERT_GT(server->port, 0);
  ASSERT_TRUE(env.loadWebPage(url(u"/page.txt"), u"UTF8"));
  EXPECT_EQ(env.tabs.openCount(), 1);  // the program's own tab is closed
  const Tab &page = env.tabs.tab(env.tabs.active());
  EXPECT_EQ(page.caption, url(u"/page.txt"));
  EXPECT_EQ(page.lines, (Lines{u"line one", u"line two"}));
  EXPECT_TRUE(page.modified);
}

TEST_F(Http, AFailedWebPageLoadLeavesNoEmptyPageAndStartsNoOtherProgram) {
  env.tabs.loadLines({u"??\"user program\";"}, ui);
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 0);
  EXPECT_FALSE(env.loadWebPage(u"http://127.0.0.1:1/x", u"UTF8"));
  EXPECT_EQ(env.tabs.openCount(), 1);  // only the user's program
  for (const u16 &line : ui.console) EXPECT_EQ(line.find(u"user program"), u16::npos);
}

// A web page whose server never answers: the load is a run like any other,
// driven slice by slice; "■" ends it, no page is left behind and the
// environment takes commands again.
TEST_F(Http, AStalledWebPageLoadIsARunThatTheStopButtonEnds) {
  ASSERT_GT(server->port, 0);
  env.tabs.loadLines({u"??1;"}, ui);
  ASSERT_EQ(env.startWebPage(url(u"/silent"), u"UTF8"), RunResult::Running);
  EXPECT_EQ(env.state(), State::Running);
  EXPECT_FALSE(env.mayStart(Command::Tool));
  EXPECT_FALSE(env.mayStart(Command::ChangeTabs));
  const auto stopAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
  int slices = 0;
  ui.onPump = [&] {
    ++slices;
    if (std::chrono::steady_clock::now() > stopAt) env.runLoop.stopAll();
  };
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(drive(env, ui, RunResult::Running), RunResult::Stopped);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_GT(slices, 10);  // the waiting run came back between its slices
  EXPECT_FALSE(env.webPageLoaded());
  EXPECT_EQ(env.tabs.openCount(), 1);  // neither the program's tab nor an empty page stays
  EXPECT_EQ(env.state(), State::Idle);
  EXPECT_TRUE(env.mayStart(Command::Tool));
  ASSERT_TRUE(env.loadWebPage(url(u"/page.txt"), u"UTF8"));
  EXPECT_TRUE(env.webPageLoaded());
  EXPECT_EQ(env.tabs.openCount(), 2);
}

TEST(Url, DecodingAndSplitting) {
  EXPECT_EQ(engine::url_decode(u"a%20b%E3%81%82&amp;c"), u"a bあ&c");
  EXPECT_EQ(engine::url_decode(u"&LT;x&gt; &#65;&#x42; &#;bad &copy;"), u"<x> AB &#;bad ©");
  EXPECT_EQ(engine::url_decode(u"100%"), u"100%");
  EXPECT_EQ(engine::url_split(u"x?a=1&b=2", u"="), (Lines{u"x", u"a", u"1", u"b", u"2"}));
  EXPECT_EQ(engine::url_split(u"x?a=1&b=2", u""), (Lines{u"x", u"a=1", u"b=2"}));
  EXPECT_EQ(engine::url_split(u"?a&b", u""), Lines{u"?a&b"});  // an empty first part stops the cutting
}
