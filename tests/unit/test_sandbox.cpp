// A run that may not write (or read) outside the data directory, attacked as
// a hostile program and its data would: NUL in names, the program's own
// directory, links planted in the data directory, predictable temporary
// names, second hard links, FIFOs, and a second process swapping a file for
// a link while the program opens it. Nothing outside the data directory may
// be created or changed.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "environment/environment.h"
#include "tests/unit/http_server.h"
#include "tests/unit/scripted_ui.h"
#include "tests/unit/settings_change.h"
#include "tests/unit/temp_dir.h"
#include "text/beneath.h"

using namespace velmora;
using namespace velmora::environment;
using engine::Permission;
using velmora::testing::ScriptedUi;
using velmora::testing::Server;
using velmora::testing::set_setting;
using velmora::testing::TempDir;

namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path &p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Every entry under a directory (links not followed) with its kind and
// content, skipping one subdirectory: what must stay as it was.
std::map<std::string, std::string> snapshot(const fs::path &root, const fs::path &skip = {}) {
  std::map<std::string, std::string> seen;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    const fs::path &p = it->path();
    if (!skip.empty() && p == skip) {
      it.disable_recursion_pending();
      continue;
    }
    auto st = fs::symlink_status(p, ec);
    std::string what = fs::is_symlink(st)        ? "link:" + fs::read_symlink(p, ec).string()
                       : fs::is_regular_file(st) ? "file:" + slurp(p)
                                                 : "other";
    seen[fs::relative(p, root).string()] = what;
  }
  return seen;
}

class Sandbox : public ::testing::Test {
 protected:
  TempDir home, outside;
  ScriptedUi ui;
  Environment env{home.path(), ui};
  fs::path data = home / "DATA";
  fs::path victim = outside / "victim.txt";

  void SetUp() override {
    std::ofstream(victim) << "precious";
    confine();
  }
  // As velmora-run --sandbox: every kind denied.
  void confine(bool network = false) {
    Environment::PermitOverrides o;
    o.fill(engine::PermitMode::Deny);
    if (network) o[std::size_t(Permission::Network)] = engine::PermitMode::Allow;
    env.setUnattended(o);
  }
  void unconfine() {
    Environment::PermitOverrides o;
    o.fill(engine::PermitMode::Allow);
    env.setUnattended(o);
  }
  RunResult run(const Lines &program) {
    env.workspace.closeAllTabs();
    env.tabs.loadLines(program, ui);
    if (env.compileDriver.compileActiveTab() < 0) return RunResult::NotStarted;
    return env.runAll();
  }
  u16 last() const { return ui.console.empty() ? u16() : ui.console.back(); }
  u16 abs(const fs::path &p) const { return text::from_utf8(p.string()); }
  void expectVictimUntouched() {
    EXPECT_EQ(slurp(victim), "precious");
    EXPECT_EQ(snapshot(outside.path()).size(), 1u) << "something was created outside";
  }
};

const Lines kStoreSteps = {u"&L[] += \"pwned\";"};

}  // namespace

// 1. "../escaped.txt" NUL "/../DATA/y": judged as DATA/y, created as
// ../escaped.txt before. A NUL never reaches a system call, whatever the
// permissions.
TEST_F(Sandbox, ANulInAFileNameIsAPathErrorWithTheNameEscaped) {
  for (bool confined : {true, false}) {
    if (!confined) unconfine();
    for (const u16 &op :
         {u16(u"<*> &N = &L[];"), u16(u"FILE(1).OPEN(&N, WRITE);"), u16(u"&A[] = <*> &N;"), u16(u"[#1].SAVE(&N);")}) {
      Lines program = kStoreSteps;
      program.push_back(u"&N = \"../escaped.txt\" + CHAR(0) + \"/../DATA/y\";");
      program.push_back(op);
      EXPECT_EQ(run(program), RunResult::Error) << text::to_utf8(op);
      EXPECT_NE(last().find(u"パスエラー(../escaped.txt\\x00/../DATA/y)"), u16::npos) << text::to_utf8(last());
    }
  }
  EXPECT_FALSE(fs::exists(home / "escaped.txt"));
  EXPECT_FALSE(fs::exists(data / "y"));
}

// 2. With the data directory set to the program's own directory, a confined
// run could rewrite User_Setting.Txt (and move the data directory to "/"
// for the next run). Settings, PROG and recovery copies are outside.
TEST_F(Sandbox, TheProgramsOwnDirectoryIsOutsideEvenWhenItHoldsTheData) {
  set_setting(env, &Settings::dataDirectoryPath, abs(home.path()) + u"/");
  ASSERT_TRUE(env.settings().save(home.path()));
  const std::string settingsBefore = slurp(home / "User_Setting.Txt");
  const bool recentBefore = fs::exists(home / "Recent.$$$");
  const std::string recent = slurp(home / "Recent.$$$");
  ASSERT_FALSE(settingsBefore.empty());
  fs::create_directories(home / "Recovery");
  fs::create_directories(home / "mine");
  for (const char16_t *name : {u"User_Setting.Txt", u"Recent.$$$", u"PROG/evil.mcl", u"Recovery/0.txt"}) {
    Lines program = kStoreSteps;
    program.push_back(u"<*> \"" + u16(name) + u"\" = &L[];");
    EXPECT_EQ(run(program), RunResult::Error) << text::to_utf8(name);
    EXPECT_EQ(last().rfind(u"実行許可エラー：データディレクトリ外のファイル ", 0), 0u) << text::to_utf8(last());
  }
  EXPECT_EQ(slurp(home / "User_Setting.Txt"), settingsBefore);
  EXPECT_EQ(fs::exists(home / "Recent.$$$"), recentBefore);
  EXPECT_EQ(slurp(home / "Recent.$$$"), recent);
  EXPECT_FALSE(fs::exists(home / "PROG" / "evil.mcl"));
  EXPECT_FALSE(fs::exists(home / "Recovery" / "0.txt"));
  // Elsewhere beneath the data directory files stay free.
  EXPECT_EQ(run({u"&L[] += \"x\";", u"<*> \"mine/ok.txt\" = &L[];"}), RunResult::Ended) << text::to_utf8(last());
  EXPECT_TRUE(fs::exists(home / "mine" / "ok.txt"));
}

// The same for reading: with the data directory holding the program's own
// directory, a run that may not read outside read the user's programs in
// PROG, the settings and the recovery copies, with every reading
// instruction.
TEST_F(Sandbox, TheProgramsOwnDirectoryIsOutsideForReadingToo) {
  set_setting(env, &Settings::dataDirectoryPath, abs(home.path()) + u"/");
  fs::create_directories(home / "PROG");
  fs::create_directories(home / "Recovery");
  fs::create_directories(home / "mine");
  std::ofstream(home / "PROG" / "private.mcl") << "secret program";
  std::ofstream(home / "Recovery" / "0.txt") << "secret copy";
  std::ofstream(home / "User_Setting.Txt") << "secret settings";
  std::ofstream(home / "mine" / "ok.txt") << "free";
  for (const char16_t *name : {u"PROG/private.mcl", u"Recovery/0.txt", u"User_Setting.Txt"}) {
    const u16 path = abs(home / text::to_utf8(name));
    for (const u16 &op : {u"&A[] = <*> \"" + u16(name) + u"\";", u"FILE(1).OPEN(\"" + u16(name) + u"\", READ);",
                          u"[#1].LOAD(\"" + path + u"\");"}) {
      EXPECT_EQ(run({op, u"??&A[0];"}), RunResult::Error) << text::to_utf8(op);
      EXPECT_EQ(last().rfind(u"実行許可エラー：データディレクトリ外のファイル（読み込み） ", 0), 0u)
          << text::to_utf8(op) << ": " << text::to_utf8(last());
      for (const u16 &line : ui.console) EXPECT_EQ(line.find(u"secret"), u16::npos) << text::to_utf8(op);
    }
  }
  // Elsewhere beneath the data directory files stay readable.
  EXPECT_EQ(run({u"&A[] = <*> \"mine/ok.txt\"; ??&A[0];"}), RunResult::Ended) << text::to_utf8(last());
  EXPECT_NE(last().find(u"free"), u16::npos);
}

// 3. A dangling link that arrived with someone's data: every write through
// it created the link's target outside.
TEST_F(Sandbox, ADanglingLinkInTheDataDirectoryIsNotFollowedOutside) {
  fs::create_symlink(outside / "created.txt", data / "notes.txt");
  const Lines ops = {u"<*> \"notes.txt\" = &L[];", u"FILE(1).OPEN(\"notes.txt\", WRITE);",
                     u"FILE(1).OPEN(\"notes.txt\", APPEND);", u"[#1].SAVE(\"" + abs(data / "notes.txt") + u"\");"};
  for (const u16 &op : ops) {
    Lines program = kStoreSteps;
    program.push_back(op);
    EXPECT_EQ(run(program), RunResult::Error) << text::to_utf8(op);
    EXPECT_EQ(last().rfind(u"実行許可エラー：データディレクトリ外のファイル ", 0), 0u) << text::to_utf8(last());
  }
  expectVictimUntouched();
  // Deleting removes the link, never what it names.
  fs::create_symlink(victim, data / "to_victim");
  EXPECT_EQ(run({u"<!!!> \"to_victim\";"}), RunResult::Ended);
  EXPECT_FALSE(fs::is_symlink(fs::symlink_status(data / "to_victim")));
  expectVictimUntouched();
}

// 4. The temporary file of a whole-file store had a fixed name beside the
// target: a link planted under that name made the store write outside.
TEST_F(Sandbox, APlantedLinkUnderTheOldTemporaryNameIsNeverOpened) {
  for (bool confined : {true, false}) {
    if (!confined) unconfine();
    fs::create_symlink(victim, data / "notes.txt.velmora-tmp");
    EXPECT_EQ(run({u"&L[] += \"mine\";", u"<*> \"notes.txt\" = &L[];"}), RunResult::Ended) << text::to_utf8(last());
    EXPECT_EQ(slurp(data / "notes.txt"), "mine\r\n");
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(data / "notes.txt.velmora-tmp")));
    fs::remove(data / "notes.txt.velmora-tmp");
    fs::remove(data / "notes.txt");
  }
  expectVictimUntouched();
}

// 4b. The same for the HTTP transfer file: a link "_net_0.$$$.part" made a
// --sandbox --allow network run write the body over a file outside.
TEST_F(Sandbox, APlantedLinkBesideTheTransferFileGetsNoBody) {
  Server server;
  ASSERT_GT(server.port, 0);
  confine(true);
  fs::create_symlink(victim, data / "_net_0.$$$.part");
  u16 url = u"http://127.0.0.1:" + text::int16(server.port) + u"/page.txt";
  EXPECT_EQ(run({u"&A[] = <*> \"" + url + u"\";", u"?? &A[0];"}), RunResult::Ended) << text::to_utf8(last());
  EXPECT_FALSE(ui.console.empty());
  expectVictimUntouched();
  EXPECT_FALSE(fs::exists(data / "_net_0.$$$"));
}

// A file of the data directory with a second name outside cannot be told
// apart from one of its own: refused for writing.
TEST_F(Sandbox, AHardLinkToAFileOutsideIsRefusedForWriting) {
  fs::create_hard_link(victim, data / "twin.txt");
  for (const char16_t *op : {u"<*> \"twin.txt\" = &L[];", u"FILE(1).OPEN(\"twin.txt\", APPEND);"}) {
    Lines program = kStoreSteps;
    program.push_back(op);
    EXPECT_EQ(run(program), RunResult::Error) << text::to_utf8(op);
    EXPECT_EQ(last().rfind(u"実行許可エラー：データディレクトリ外のファイル ", 0), 0u) << text::to_utf8(last());
  }
  EXPECT_EQ(slurp(victim), "precious");
}

// A FIFO neither holds the run nor takes data: the open error, at once.
TEST_F(Sandbox, AFifoIsRefusedWithoutWaitingForAReader) {
  ASSERT_EQ(mkfifo((data / "pipe").c_str(), 0600), 0);
  for (bool confined : {true, false}) {
    if (!confined) unconfine();
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(run({u"FILE(1).OPEN(\"pipe\", WRITE);", u"??\"never\";"}), RunResult::Error);
    EXPECT_NE(last().find(u"ファイルオープンエラー"), u16::npos) << text::to_utf8(last());
    EXPECT_EQ(run({u"FILE(1).OPEN(\"pipe\", READ);", u"??\"never\";"}), RunResult::Error);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  }
}

// Reading outside the data directory is the fifth permission: allowed by
// default, denied in the sandbox, links included.
TEST_F(Sandbox, ReadingOutsideIsItsOwnPermission) {
  fs::create_symlink(victim, data / "peek.txt");
  const Lines reads = {u"&A[] = <*> \"" + abs(victim) + u"\";", u"&A[] = <*> \"peek.txt\";",
                       u"FILE(1).OPEN(\"" + abs(victim) + u"\", READ);",
                       u"&A[] = <*> \"../../" + abs(victim.relative_path()) + u"\";",
                       u"[#1].LOAD(\"" + abs(victim) + u"\");"};
  for (const u16 &op : reads) {
    EXPECT_EQ(run({op}), RunResult::Error) << text::to_utf8(op);
    EXPECT_EQ(last().rfind(u"実行許可エラー：データディレクトリ外のファイル（読み込み） ", 0), 0u)
        << text::to_utf8(last());
  }
  std::ofstream(data / "mine.txt") << "ok";
  EXPECT_EQ(run({u"&A[] = <*> \"mine.txt\";", u"?? &A[0];"}), RunResult::Ended);
  unconfine();
  EXPECT_EQ(run({u"&A[] = <*> \"peek.txt\";", u"?? &A[0];"}), RunResult::Ended);
  EXPECT_NE(last().find(u"precious"), u16::npos);
}

// 5. A second process swaps DATA/flip between a regular file and a link to
// a file outside while the program opens "flip" for writing, run after
// run, for a bounded time. Judging the name and then opening it let some
// writes land outside.
TEST_F(Sandbox, ASwapBetweenCheckAndOpenCannotLeadOutside) {
  set_setting(env, &Settings::stopOnFileError, false);
  std::ofstream(data / "flip") << "inside";
  // And a directory of the name swapped with a link to the directory
  // outside, atomically (RENAME_EXCHANGE), while files are made in it.
  fs::create_directories(data / "d");
  fs::create_directory_symlink(outside.path(), data / ".alt");
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Only system calls here: swap, swap, until the parent is done.
    const std::string link = (data / ".l").string(), file = (data / ".f").string(), flip = (data / "flip").string();
    const std::string alt = (data / ".alt").string(), dir = (data / "d").string();
    for (long i = 0; i < 20000000; ++i) {
      (void)!symlink(victim.c_str(), link.c_str());
      (void)!rename(link.c_str(), flip.c_str());
      int fd = open(file.c_str(), O_WRONLY | O_CREAT, 0600);
      if (fd >= 0) close(fd);
      (void)!rename(file.c_str(), flip.c_str());
      (void)!syscall(SYS_renameat2, AT_FDCWD, alt.c_str(), AT_FDCWD, dir.c_str(), 2 /* RENAME_EXCHANGE */);
      if (getppid() == 1) break;
    }
    _exit(0);
  }
  env.workspace.closeAllTabs();
  env.tabs.loadLines(
      {u"&L[] += \"pwned\";", u"FOR K = 1 TO 50 DO", u"FILE(1).OPEN(\"flip\", WRITE);", u"FILE(1).WRITE(\"pwned\");",
       u"FILE(1).CLOSE;", u"FILE(2).OPEN(\"flip\", APPEND);", u"FILE(2).WRITE(\"pwned\");", u"FILE(2).CLOSE;",
       u"<*> \"flip\" = &L[];", u"<*> \"d/made.txt\" = &L[];", u"FILE(3).OPEN(\"d/opened.txt\", WRITE);",
       u"FILE(3).CLOSE;", u"END"},
      ui);
  ASSERT_GE(env.compileDriver.compileActiveTab(), 0);
  int runs = 0;
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
  while (std::chrono::steady_clock::now() < until) {
    env.runAll();
    ++runs;
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_GT(runs, 0);
  EXPECT_EQ(slurp(victim), "precious");
  EXPECT_FALSE(fs::exists(outside / "made.txt"));
  EXPECT_FALSE(fs::exists(outside / "opened.txt"));
}

// Hostile names, generated: NUL, "..", absolute names, backslashes, links
// made here, long names, lone surrogates (no UTF-8 form). Whatever a
// confined program does with them, nothing outside the data directory is
// created or changed, and the program's own directory stays as it was.
TEST_F(Sandbox, GeneratedHostileNamesChangeNothingOutsideTheDataDirectory) {
  set_setting(env, &Settings::stopOnFileError, false);
  fs::create_directories(data / "sub");
  fs::create_directory_symlink(outside.path(), data / "dirlink");
  fs::create_symlink(victim, data / "filelink");
  fs::create_symlink("../../", data / "sub" / "up");
  fs::create_symlink(outside / "ghost.txt", data / "dangling");
  const std::vector<u16> parts = {u"..",
                                  u".",
                                  u"/",
                                  u"\\",
                                  u"sub",
                                  u"dirlink",
                                  u"filelink",
                                  u"up",
                                  u"dangling",
                                  u"victim.txt",
                                  u"User_Setting.Txt",
                                  u"PROG",
                                  u"a",
                                  u16(1, u'\0'),
                                  u16(1, char16_t(0xD800)),
                                  u16(300, u'x'),
                                  abs(outside.path()),
                                  abs(home.path()),
                                  u"_net_0.$$$",
                                  u":",
                                  u"*"};
  const auto before = snapshot(outside.path());
  const auto homeBefore = snapshot(home.path(), data);
  std::mt19937 random(25);
  for (int round = 0; round < 60; ++round) {
    u16 name;
    int n = 1 + int(random() % 6);
    for (int k = 0; k < n; ++k) {
      name += parts[random() % parts.size()];
      if (random() % 2) name += u'/';
    }
    // The name as CHAR codes, so that no character needs quoting.
    u16 expr = u"\"\"";
    for (char16_t c : name) expr += u" + CHAR(" + text::int16(int(c)) + u")";
    Lines program = {u"&L[] += \"pwned\";",
                     u"&N = " + expr + u";",
                     u"<*> &N = &L[];",
                     u"FILE(1).OPEN(&N, WRITE);",
                     u"FILE(1).WRITE(\"pwned\");",
                     u"FILE(1).CLOSE;",
                     u"FILE(2).OPEN(&N, APPEND);",
                     u"FILE(2).WRITE(\"pwned\");",
                     u"FILE(2).CLOSE;",
                     u"[#1].SAVE(&N);",
                     u"<!!!> &N;"};
    run(program);
  }
  EXPECT_EQ(snapshot(outside.path()), before);
  EXPECT_EQ(snapshot(home.path(), data), homeBefore);
}

TEST(Beneath, NamesThatCannotBeFileNamesAreRecognisedAndShownEscaped) {
  EXPECT_TRUE(text::representable_file_name(u"ファイル.txt"));
  EXPECT_TRUE(text::representable_file_name(u"\U0001F600.txt"));  // a whole surrogate pair
  EXPECT_FALSE(text::representable_file_name(u16(u"a") + u'\0' + u"b"));
  EXPECT_FALSE(text::representable_file_name(u16(1, char16_t(0xDC00))));
  EXPECT_FALSE(text::representable_file_name(u16(u"x") + char16_t(0xD800)));
  EXPECT_EQ(text::escaped_file_name(u16(u"a") + u'\0' + u"\tb" + char16_t(0xD800)), u"a\\x00\\x09b\\uD800");
}

TEST(Beneath, TheFallbackWalkRefusesLinksAndGoingUp) {
  // Where openat2 is present the kernel answers; either way these must hold.
  TempDir d, out;
  fs::create_directories(d / "in");
  fs::create_directory_symlink(out.path(), d / "in" / "link");
  int dir = ::open(d.path().c_str(), O_PATH | O_DIRECTORY);
  ASSERT_GE(dir, 0);
  for (auto opener : {text::open_beneath, text::open_beneath_walking}) {
    for (const char *name : {"in/link/x", "../x", "/etc/passwd", "in/../../x"}) {
      errno = 0;
      EXPECT_LT(opener(dir, name, O_WRONLY | O_CREAT, 0600), 0) << name;
      EXPECT_TRUE(errno == EXDEV || errno == ELOOP) << name << " " << errno;
    }
    int fd = opener(dir, "in/./ok.txt", O_WRONLY | O_CREAT, 0600);
    EXPECT_GE(fd, 0);
    ::close(fd);
  }
  ::close(dir);
  EXPECT_TRUE(fs::is_empty(out.path()));
}

// A file of the data directory with a second name may be a file outside
// under another name: refused for reading too, not only for writing.
TEST_F(Sandbox, AHardLinkToAFileOutsideIsRefusedForReading) {
  fs::create_hard_link(victim, data / "twin.txt");
  const u16 twin = abs(data / "twin.txt");
  for (const u16 &op : {u16(u"&A[] = <*> \"twin.txt\";"), u16(u"FILE(1).OPEN(\"twin.txt\", READ);"),
                        u"[#1].LOAD(\"" + twin + u"\");"}) {
    EXPECT_EQ(run({op, u"??&A[0];"}), RunResult::Error) << text::to_utf8(op);
    EXPECT_EQ(
        last().rfind(u"実行許可エラー：データディレクトリ外のファイル（読み込み） " + twin + u"（ハードリンク）", 0),
        0u)
        << text::to_utf8(last());
  }
  for (const u16 &line : ui.console) EXPECT_EQ(line.find(u"precious"), u16::npos);
  // With reading allowed the same file reads.
  unconfine();
  EXPECT_EQ(run({u"&A[] = <*> \"twin.txt\";", u"??&A[0];"}), RunResult::Ended);
  EXPECT_NE(last().find(u"precious"), u16::npos);
}

// Links inside the data directory were followed by some instructions and
// refused by others (a store through a link refused, FILE OPEN WRITE and
// APPEND through it written; an absolute link refused for reading, a
// relative one read). A confined run follows no link: every instruction
// refuses every link alike, and the refusal says a link is why.
TEST_F(Sandbox, NoInstructionFollowsALinkAndTheRefusalSaysSo) {
  std::ofstream(data / "real.txt") << "real\r\n";
  fs::create_directories(data / "sub");
  std::ofstream(data / "sub" / "in.txt") << "in\r\n";
  fs::create_symlink("real.txt", data / "alias.txt");
  fs::create_symlink(data / "real.txt", data / "absolute.txt");
  fs::create_directory_symlink("sub", data / "dirlink");
  for (const char16_t *name : {u"alias.txt", u"absolute.txt", u"dirlink/in.txt"}) {
    const u16 path = abs(data / text::to_utf8(name));
    const Lines writes = {u"<*> \"" + u16(name) + u"\" = &L[];", u"FILE(1).OPEN(\"" + u16(name) + u"\", WRITE);",
                          u"FILE(1).OPEN(\"" + u16(name) + u"\", APPEND);", u"[#1].SAVE(\"" + path + u"\");"};
    for (const u16 &op : writes) {
      Lines program = kStoreSteps;
      program.push_back(op);
      EXPECT_EQ(run(program), RunResult::Error) << text::to_utf8(op);
      EXPECT_EQ(last().rfind(u"実行許可エラー：データディレクトリ外のファイル " + path + u"（リンク）", 0), 0u)
          << text::to_utf8(last());
    }
    const Lines reads = {u"&A[] = <*> \"" + u16(name) + u"\";", u"FILE(1).OPEN(\"" + u16(name) + u"\", READ);",
                         u"[#1].LOAD(\"" + path + u"\");"};
    for (const u16 &op : reads) {
      EXPECT_EQ(run({op}), RunResult::Error) << text::to_utf8(op);
      EXPECT_EQ(last().rfind(u"実行許可エラー：データディレクトリ外のファイル（読み込み） " + path + u"（リンク）", 0),
                0u)
          << text::to_utf8(last());
    }
  }
  EXPECT_EQ(slurp(data / "real.txt"), "real\r\n");
  EXPECT_EQ(slurp(data / "sub" / "in.txt"), "in\r\n");
  // A run that may write anywhere writes through a link, as before.
  unconfine();
  EXPECT_EQ(run({u"&L[] += \"through\";", u"<*> \"alias.txt\" = &L[];"}), RunResult::Ended);
  EXPECT_EQ(slurp(data / "real.txt"), "through\r\n");
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(data / "alias.txt")));
}

// [DIR PROG] moved the program directory (where pages are saved and
// loaded, part of the program's own directory) anywhere, with every
// permission denied; [DIR DATA] was checked. Both are now.
TEST_F(Sandbox, TheProgramDirectoryIsCheckedLikeTheDataDirectory) {
  const u16 before = env.settings().programDirectoryPath;
  for (const char16_t *type : {u"PROG", u"DATA"}) {
    EXPECT_EQ(run({u"&D = [DIR " + u16(type) + u" \"/etc/\"];", u"??\"never\";"}), RunResult::Error);
    EXPECT_EQ(last().rfind(u"実行許可エラー：データディレクトリ外のファイル /etc/", 0), 0u) << text::to_utf8(last());
  }
  EXPECT_EQ(env.settings().programDirectoryPath, before);
  // Inside the data directory it may move.
  fs::create_directories(data / "programs");
  EXPECT_EQ(run({u"&D = [DIR PROG \"" + abs(data / "programs") + u"\"];", u"??&D;"}), RunResult::Ended)
      << text::to_utf8(last());
}

namespace {
// Processes (not yet ended) whose command line holds the text.
std::vector<pid_t> processes_with(const std::string &text) {
  std::vector<pid_t> found;
  for (const auto &entry : fs::directory_iterator("/proc")) {
    const std::string pid = entry.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string cmdline = slurp(entry.path() / "cmdline"), stat = slurp(entry.path() / "stat");
    std::size_t close = stat.rfind(") ");
    if (cmdline.find(text) != std::string::npos && close != std::string::npos && stat[close + 2] != 'Z')
      found.push_back(pid_t(std::stol(pid)));
  }
  return found;
}
}  // namespace

// The commands of a confined run the environment starts itself (the IDE,
// which restricts no process): nothing of the user's environment, and
// ended with the run, whatever they were doing.
TEST_F(Sandbox, AConfinedRunsCommandsGetACleanEnvironmentAndEndWithTheRun) {
  Environment::PermitOverrides o;
  o.fill(engine::PermitMode::Deny);
  o[std::size_t(Permission::Commands)] = engine::PermitMode::Allow;
  env.setUnattended(o);
  ::setenv("VELMORA_TEST_TOKEN", "sekrit-token", 1);
  const std::string marker = "31." + std::to_string(::getpid());
  EXPECT_EQ(run({u"COMMAND HIDE \"env > env.tmp; mv env.tmp env.txt; exec sleep " + text::from_utf8(marker) + u"\";",
                 u"WHILE NOT EXIST \"env.txt\" DO WAIT 1; END"}),
            RunResult::Ended)
      << text::to_utf8(last());
  ::unsetenv("VELMORA_TEST_TOKEN");
  const std::string seen = slurp(data / "env.txt");
  EXPECT_EQ(seen.find("sekrit-token"), std::string::npos) << seen;
  EXPECT_NE(seen.find("HOME=" + data.string() + "\n"), std::string::npos) << seen;
  EXPECT_NE(seen.find("PATH="), std::string::npos) << seen;
  const std::string sleeping = std::string("sleep\0", 6) + marker;
  EXPECT_TRUE(processes_with(sleeping).empty());
  // An ordinary run's command keeps the user's environment and its life.
  unconfine();
  ::setenv("VELMORA_TEST_TOKEN", "sekrit-token", 1);
  fs::remove(data / "env.txt");
  EXPECT_EQ(run({u"COMMAND HIDE \"env > env.tmp; mv env.tmp env.txt; exec sleep " + text::from_utf8(marker) + u"\";",
                 u"WHILE NOT EXIST \"env.txt\" DO WAIT 1; END"}),
            RunResult::Ended);
  ::unsetenv("VELMORA_TEST_TOKEN");
  EXPECT_NE(slurp(data / "env.txt").find("sekrit-token"), std::string::npos);
  const std::vector<pid_t> lives = processes_with(sleeping);
  EXPECT_EQ(lives.size(), 1u);
  for (pid_t pid : lives) ::kill(pid, SIGKILL);
}
