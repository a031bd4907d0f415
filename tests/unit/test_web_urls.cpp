// URLs a program may reach: http and https only, for GET, POST and every
// redirect. A URL of any other scheme once read local files (file:) and
// sent raw bytes to any port (gopher:, dict:, telnet:); in the IDE nothing
// else stands in the way, so these run without any other protection.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <random>

#include "engine/http.h"
#include "environment/environment.h"
#include "tests/unit/http_server.h"
#include "tests/unit/scripted_ui.h"
#include "tests/unit/settings_change.h"
#include "tests/unit/temp_dir.h"

using namespace velmora;
using namespace velmora::environment;
using engine::Permission;
using engine::PermitMode;
using velmora::testing::ScriptedUi;
using velmora::testing::Server;
using velmora::testing::set_setting;
using velmora::testing::TempDir;

namespace {

namespace fs = std::filesystem;

class WebUrls : public ::testing::Test {
 protected:
  static Server *server;
  static void SetUpTestSuite() { server = new Server; }
  static void TearDownTestSuite() { delete server; }

  TempDir home, outside;
  ScriptedUi ui;
  Environment env{home.path(), ui};
  // What must never reach a program: a file outside the data directory and
  // a variable of the process's environment (/proc/self/environ).
  const std::string secret = "sekrit-" + std::to_string(std::random_device{}());
  fs::path secretFile = outside / "secret.txt";

  void SetUp() override {
    std::ofstream(secretFile) << secret << "\n";
    ::setenv("VELMORA_TEST_SECRET", secret.c_str(), 1);
  }
  void TearDown() override { ::unsetenv("VELMORA_TEST_SECRET"); }
  // Every kind denied but the network, as velmora-run --sandbox --allow network.
  void networkOnly() {
    Environment::PermitOverrides o;
    o.fill(PermitMode::Deny);
    o[std::size_t(Permission::Network)] = PermitMode::Allow;
    env.setUnattended(o);
  }
  u16 local(const std::string &path) const {
    return text::from_utf8("http://127.0.0.1:" + std::to_string(server->port) + path);
  }
  RunResult run(const Lines &program) {
    env.workspace.closeAllTabs();
    env.tabs.loadLines(program, ui);
    if (env.compileDriver.compileActiveTab() < 0) return RunResult::NotStarted;
    return env.runAll();
  }
  u16 last() const { return ui.console.empty() ? u16() : ui.console.back(); }
  // Everything the run could have brought in: its console, every list and
  // string variable, every file of the data directory.
  bool secretReachedTheRun() const {
    const std::string wanted = secret;
    for (const u16 &line : ui.console)
      if (text::to_utf8(line).find(wanted) != std::string::npos) return true;
    const auto &vars = env.engine().variables();
    for (int i = 0; i < vars.size(); ++i) {
      if (text::to_utf8(u16view(vars[i].StrVal)).find(wanted) != std::string::npos) return true;
      for (const auto &line : vars[i].StrList)
        if (text::to_utf8(u16view(line)).find(wanted) != std::string::npos) return true;
    }
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(home / "DATA", ec); it != fs::recursive_directory_iterator();
         it.increment(ec)) {
      if (!it->is_regular_file(ec)) continue;
      std::ifstream in(it->path(), std::ios::binary);
      std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (bytes.find(wanted) != std::string::npos) return true;
    }
    return false;
  }
};
Server *WebUrls::server = nullptr;

}  // namespace

TEST(WebUrlRule, OnlyHttpAndHttpsFromTheFirstCharacter) {
  for (const char16_t *url :
       {u"http://example.org/", u"HTTPS://example.org/a?b=c", u"hTtP://user:pw@h:8080/x", u"https://[::1]:443/"})
    EXPECT_TRUE(engine::web_url_allowed(url)) << text::to_utf8(url);
  for (const char16_t *url : {u"file:///proc/self/environ",
                              u"FILE:///etc/passwd",
                              u"file:/etc/passwd",
                              u"gopher://127.0.0.1:25/_HELO",
                              u"dict://127.0.0.1:6379/info",
                              u"telnet://127.0.0.1:22",
                              u"ftp://example.org/",
                              u"ldap://x/",
                              u"smb://x/s",
                              u"tftp://x/f",
                              u"scp://x/f",
                              u"data:,secret",
                              u"javascript:1",
                              u" http://example.org/",
                              u"http://exa mple/",
                              u"http://x/\r\nHost: y",
                              u"\thttps://x/",
                              u"http:/example.org/",
                              u"http:example.org",
                              u"//example.org/x",
                              u"example.org/x",
                              u"httpx://example.org/",
                              u"http//example.org",
                              u""})
    EXPECT_FALSE(engine::web_url_allowed(url)) << text::to_utf8(url);
  EXPECT_FALSE(engine::web_url_allowed(u16(u"http://x/") + u'\0' + u"file:///etc/passwd"));
}

TEST(WebUrlRule, TheTargetShownIsTheHostWithoutAUserName) {
  EXPECT_EQ(engine::url_target(u"http://127.0.0.1:1/x"), u"127.0.0.1:1");
  EXPECT_EQ(engine::url_target(u"https://me:pw@example.org/a"), u"example.org");
  EXPECT_EQ(engine::url_target(u"http://127.0.0.1@evil.example:8/"), u"evil.example:8");
  // Without a host the question still names something: the whole URL.
  EXPECT_EQ(engine::url_target(u"http:///etc/passwd"), u"http:///etc/passwd");
  EXPECT_EQ(engine::url_target(u"file:/etc/passwd"), u"file:/etc/passwd");
}

// The attacks as they were found: with the network allowed, a POST to a
// file URL read it, and other schemes reached any port. Each is refused
// before anything is opened, naming the URL, with and without the sandbox.
TEST_F(WebUrls, OtherSchemesStopTheRunNamingTheUrlBeforeAnythingIsOpened) {
  ASSERT_GT(server->port, 0);
  const u16 secretUrl = u"file://" + text::from_utf8(secretFile.string());
  for (bool sandboxed : {true, false}) {
    if (sandboxed) networkOnly();
    else env.setUnattended();
    for (const u16 &url :
         {secretUrl, u16(u"file:///proc/self/environ"), u16(u"FILE:///proc/self/environ"),
          u16(u"gopher://127.0.0.1:1/_x"), u16(u"dict://127.0.0.1:1/x"), u16(u"telnet://127.0.0.1:1")}) {
      EXPECT_EQ(run({u"&P[] += \"a=1\";", u"&A[] = <*> \"" + url + u"\", &P[];", u"??\"never\";"}), RunResult::Error)
          << text::to_utf8(url);
      EXPECT_EQ(last(), u"実行許可エラー：http と https 以外の URL " + url);
      EXPECT_FALSE(secretReachedTheRun()) << text::to_utf8(url);
    }
    // GET of a name that begins with "HTTP:" but is no http URL.
    EXPECT_EQ(run({u"&A[] = <*> \"HTTP:" + secretUrl + u"\";"}), RunResult::Error);
    EXPECT_EQ(last(), u"実行許可エラー：http と https 以外の URL HTTP:" + secretUrl);
    EXPECT_FALSE(secretReachedTheRun());
  }
}

// A server that redirects to a file URL gets an error, never the file.
TEST_F(WebUrls, ARedirectToAnotherSchemeIsNotFollowed) {
  ASSERT_GT(server->port, 0);
  networkOnly();
  const u16 to = local("/to?u=file://" + secretFile.string());
  EXPECT_EQ(run({u"&A[] = <*> \"" + to + u"\";", u"??\"never\";"}), RunResult::Error);
  EXPECT_EQ(last(), u"- HTTP ロード　エラー：ファイル名(" + to + u")");
  EXPECT_EQ(run({u"&P[] += \"a=1\";", u"&A[] = <*> \"" + to + u"\", &P[];", u"??\"never\";"}), RunResult::Error);
  // An http redirect is still followed.
  EXPECT_FALSE(secretReachedTheRun());
  EXPECT_EQ(run({u"&A[] = <*> \"" + local("/to?u=/page.txt") + u"\";", u"??&A[0];"}), RunResult::Ended)
      << text::to_utf8(last());
  EXPECT_NE(last().find(u"line one"), u16::npos);
}

// In the IDE, with the network on "ask", the question names where the
// program connects: the host, not a user name in front of it.
TEST_F(WebUrls, TheQuestionNamesTheHost) {
  set_setting(env, &Settings::Permissions, [] {
    std::array<int, engine::kPermissions> p{};
    p[std::size_t(Permission::Network)] = 1;
    return p;
  }());
  ui.answers = {Answer::No};
  EXPECT_EQ(run({u"&A[] = <*> \"http://trusted.example@127.0.0.1:1/x\";"}), RunResult::Error);
  ASSERT_EQ(ui.questions.size(), 1u);
  EXPECT_NE(ui.questions[0].find(u"\r\r  127.0.0.1:1\r\r"), u16::npos) << text::to_utf8(ui.questions[0]);
  // A refused scheme is never asked about.
  EXPECT_EQ(run({u"&P[] += \"a=1\";", u"&A[] = <*> \"file:///proc/self/environ\", &P[];"}), RunResult::Error);
  EXPECT_EQ(ui.questions.size(), 1u);
}

// Generated URLs: forms that read a file outside the data directory (the
// secret) or reach a raw port, as given or behind a redirect of a real
// local server, each disguised at random (case, blanks, a user name,
// slashes, percent escapes), by GET and by POST, with and without the
// sandbox's file walls. Whatever a run gets, the secret is never in it.
TEST_F(WebUrls, GeneratedUrlsNeverBringAFileFromOutsideIntoTheRun) {
  ASSERT_GT(server->port, 0);
  set_setting(env, &Settings::stopOnFileError, false);
  set_setting(env, &Settings::httpConnectLimit, u16(u"2"));
  set_setting(env, &Settings::httpStallLimit, u16(u"2"));
  const std::string port = std::to_string(server->port);
  const std::string path = secretFile.string();
  auto percent = [](const std::string &s) {
    std::string out;
    for (unsigned char c : s) {
      char buffer[4];
      std::snprintf(buffer, sizeof buffer, "%%%02X", c);
      out += std::isalnum(c) ? std::string(1, char(c)) : std::string(buffer);
    }
    return out;
  };
  // Scheme, separator, rest: the scheme and separator are what a disguise
  // changes.
  struct Form {
    std::string scheme, separator, rest;
  };
  const std::vector<Form> forms = {{"file", "://", path},
                                   {"file", ":", path},
                                   {"file", "://localhost", path},
                                   {"file", "://", "/proc/self/environ"},
                                   {"gopher", "://", "127.0.0.1:" + port + "/_GET%20/page.txt"},
                                   {"dict", "://", "127.0.0.1:" + port + "/x"},
                                   {"telnet", "://", "127.0.0.1:" + port},
                                   {"http", "://", "127.0.0.1:" + port + "/to?u=" + percent("file://" + path)},
                                   {"http", "://", "127.0.0.1:" + port + "/to?u=" + percent("file:" + path)},
                                   {"http", "://", "127.0.0.1:" + port + "/page.txt"},
                                   {"https", "://", "127.0.0.1:" + port + "/page.txt"}};
  const std::vector<std::string> blanks = {" ", "\t", "\r\n", "\n", "\f", "\v", "\x01"};
  std::mt19937 random(34);
  auto one_in = [&random](unsigned n) { return random() % n == 0; };
  int refused = 0, fetched = 0, dangerous = 0;
  for (int round = 0; round < 120; ++round) {
    Form f = forms[random() % forms.size()];
    if (one_in(2))
      for (char &c : f.scheme)
        if (one_in(2)) c = char(std::toupper(static_cast<unsigned char>(c)));
    if (one_in(5)) f.separator = std::vector<std::string>{":/", ":///", "//", "://user:pw@", ":\\\\"}[random() % 5];
    std::string url = f.scheme + f.separator + f.rest;
    if (one_in(5)) url = blanks[random() % blanks.size()] + url;
    if (one_in(5)) url += blanks[random() % blanks.size()];
    if (one_in(6)) url = "http://127.0.0.1:" + port + "/to?u=" + percent(url);
    dangerous += f.rest.find(path) != std::string::npos || f.scheme != "http";
    if (one_in(2)) networkOnly();
    else env.setUnattended();
    const u16 u = text::from_utf8(url);
    // The URL through a variable, so that no character needs quoting.
    u16 expr = u"\"\"";
    for (char16_t c : u) expr += u" + CHAR(" + text::int16(int(c)) + u")";
    const bool post = one_in(2);
    Lines program = {u"&P[] += \"a=1\";", u"&U = " + expr + u";",
                     post ? u16(u"&A[], &R[] = <*> &U, &P[];") : u16(u"&A[], &R[] = <*> &U;"), u"??&A[0];"};
    RunResult result = run(program);
    if (result == RunResult::Error && last().find(u"http と https 以外の URL") != u16::npos) ++refused;
    if (result == RunResult::Ended) ++fetched;
    ASSERT_FALSE(secretReachedTheRun()) << url << (post ? " (POST)" : " (GET)");
  }
  // Every kind of outcome occurred: the generator is not all one or the other.
  EXPECT_GT(dangerous, 60);
  EXPECT_GT(refused, 10);
  EXPECT_GT(fetched, 0);
}
