#pragma once
// The language server: JSON-RPC 2.0 requests and notifications of the
// Language Server Protocol 3.17, answered from the same core libraries as
// velmora-run. One thread calls it; messages come in whole (framing.h).
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>

#include "lsp/features.h"
#include "lsp/framing.h"

namespace velmora::lsp {

class Server {
 public:
  using Clock = std::chrono::steady_clock;
  // A document is kept up to this many UTF-16 units; a larger one is dropped
  // and said so, so that edits cannot make the server grow without end.
  static constexpr std::size_t kMaxDocument = 4 * 1024 * 1024;
  // How long after the last change diagnostics wait for the next one.
  static constexpr std::chrono::milliseconds kDebounce{30};

  // The tables read from one home and the words derived from them. Servers
  // may share them (the fuzzer keeps one set from input to input): after
  // loading only the vocabulary's description cache changes, and it holds
  // what any server would compute.
  struct Tables {
    std::filesystem::path home;
    language::Language language;
    std::unique_ptr<Vocabulary> words;
    Lines problems;  // what reading the tables reported
  };
  static std::shared_ptr<Tables> loadTables(const std::filesystem::path &home);

  struct Options {
    std::filesystem::path home;      // --home; empty: the client's setting, VELMORA_HOME, the default
    std::shared_ptr<Tables> tables;  // already read: used while the home is theirs
  };
  Server(Options options, std::function<void(const std::string &json)> send);
  ~Server();

  // One message's JSON.
  void handle(const std::string &body);
  // What the reader could not make a message of.
  void handleUnreadable(const MessageReader::Result &problem);
  // When the next pending diagnostics are due (none: nothing pending).
  std::optional<Clock::time_point> nextDeadline() const;
  // Publishes the diagnostics that are due.
  void runDue(Clock::time_point now = Clock::now());

  bool exited() const { return exited_; }
  // 0 after shutdown then exit; 1 for an exit without shutdown.
  int exitCode() const { return shutdown_ ? 0 : 1; }
  // Where the tables were read from (tests, logs).
  const std::filesystem::path &home() const { return home_; }

 private:
  struct Open {
    Document document;
    int version = 0;
    bool tooLarge = false;
    std::unique_ptr<Analysis> analysis;    // of the current text; null when stale
    std::optional<Clock::time_point> due;  // diagnostics to publish
  };

  Options options_;
  std::function<void(const std::string &)> send_;
  std::filesystem::path home_;
  std::string clientHome_;
  std::shared_ptr<Tables> tables_;
  std::map<std::string, Open> documents_;
  bool initialized_ = false, shutdown_ = false, exited_ = false;
  bool refreshTokens_ = false;  // the client takes workspace/semanticTokens/refresh
  int nextRequestId_ = 1;

  void loadLanguage();
  void request(const Json &id, const std::string &method, const Json &params);
  void notification(const std::string &method, const Json &params);
  Json answer(const std::string &method, const Json &params);
  void reply(const Json &id, Json result);
  void replyError(const Json &id, int code, const std::string &message);
  void notify(const std::string &method, Json params);
  void showMessage(int type, const u16 &text);

  void didOpen(const Json &params);
  void didChange(const Json &params);
  void didClose(const Json &params);
  void configure(const Json &settings);
  Open &document(const Json &params);
  const Analysis &analysisOf(Open &doc);
  void publish(const std::string &uri, Open &doc);
};

// A request the server refuses, with its JSON-RPC error code. A
// notification that meets one (a change of a document never opened) is
// logged like any other failure.
struct RequestError : std::runtime_error {
  RequestError(int c, const std::string &m) : std::runtime_error(m), code(c) {}
  int code;
};

}  // namespace velmora::lsp
