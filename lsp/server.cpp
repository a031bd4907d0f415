#include "lsp/server.h"

#include <stdexcept>

#include "text/paths.h"

#ifndef VELMORA_VERSION
#define VELMORA_VERSION "0"
#endif

namespace velmora::lsp {

namespace {

// JSON-RPC and protocol error codes.
constexpr int kParseError = -32700, kInvalidRequest = -32600, kMethodNotFound = -32601, kInvalidParams = -32602,
              kInternalError = -32603, kServerNotInitialized = -32002;

// window/showMessage types.
constexpr int kError = 1, kWarning = 2;

IndentOptions indent_options(const Json &params) {
  IndentOptions o;
  const Json &options = params.at("options");
  o.tabSize = int_of(options.at("tabSize"));
  o.insertSpaces = options.at("insertSpaces").get<bool>();
  return o;
}

}  // namespace

Server::Server(Options options, std::function<void(const std::string &)> send)
    : options_(std::move(options)), send_(std::move(send)) {}

Server::~Server() = default;

// ----- messages

void Server::handle(const std::string &body) {
  Json message;
  try {
    message = Json::parse(body);
  } catch (const Json::parse_error &e) {
    replyError(nullptr, kParseError, std::string("Parse error: ") + e.what());
    return;
  }
  if (message.is_array()) {
    replyError(nullptr, kInvalidRequest, "Invalid Request: batches are not part of the protocol");
    return;
  }
  if (!message.is_object()) {
    replyError(nullptr, kInvalidRequest, "Invalid Request: a message is a JSON object");
    return;
  }
  const auto method = message.find("method");
  const auto id = message.find("id");
  const bool hasId = id != message.end();
  if (hasId && !id->is_number_integer() && !id->is_string()) {
    replyError(nullptr, kInvalidRequest, "Invalid Request: id must be an integer or a string");
    return;
  }
  const Json idValue = hasId ? *id : Json(nullptr);
  const auto version = message.find("jsonrpc");
  if (version == message.end() || *version != "2.0") {
    if (hasId || method != message.end())
      replyError(idValue, kInvalidRequest, "Invalid Request: jsonrpc must be \"2.0\"");
    return;
  }
  if (method == message.end()) {
    // A response to one of the server's own requests (a refresh): nothing to do.
    if (hasId && (message.contains("result") || message.contains("error"))) return;
    replyError(idValue, kInvalidRequest, "Invalid Request: no method");
    return;
  }
  if (!method->is_string()) {
    replyError(idValue, kInvalidRequest, "Invalid Request: method must be a string");
    return;
  }
  const Json params = message.contains("params") ? message["params"] : Json(nullptr);
  if (hasId) request(idValue, method->get<std::string>(), params);
  else notification(method->get<std::string>(), params);
}

void Server::handleUnreadable(const MessageReader::Result &problem) {
  if (problem.status == MessageReader::Status::TooLarge) {
    replyError(nullptr, kInvalidRequest,
               "Invalid Request: a message of " + std::to_string(problem.length) + " bytes is larger than the " +
                   std::to_string(MessageReader::kMaxContent) + " bytes the server reads");
    showMessage(kError, u"velmora-lsp: " + text::int16(long(problem.length / (1024 * 1024))) +
                            u" MB のメッセージを受け取れません（上限 " +
                            text::int16(long(MessageReader::kMaxContent / (1024 * 1024))) +
                            u" MB）。大きすぎる文書は検査しません。");
  } else if (problem.status == MessageReader::Status::BadHeader) {
    replyError(nullptr, kParseError, "Parse error: " + problem.error);
  }
}

void Server::request(const Json &id, const std::string &method, const Json &params) {
  if (!initialized_ && method != "initialize") {
    replyError(id, kServerNotInitialized, "Server not initialized: " + method + " before initialize");
    return;
  }
  if (shutdown_) {
    replyError(id, kInvalidRequest, "Invalid Request: " + method + " after shutdown");
    return;
  }
  try {
    reply(id, answer(method, params));
  } catch (const RequestError &e) {
    replyError(id, e.code, e.what());
  } catch (const Json::exception &e) {
    replyError(id, kInvalidParams, "Invalid params for " + method + ": " + e.what());
  } catch (const std::invalid_argument &e) {
    replyError(id, kInvalidParams, "Invalid params for " + method + ": " + e.what());
  } catch (const std::exception &e) {
    replyError(id, kInternalError, "Internal error in " + method + ": " + e.what());
  }
}

void Server::notification(const std::string &method, const Json &params) {
  if (method == "exit") {
    exited_ = true;
    return;
  }
  if (!initialized_ || shutdown_) return;  // dropped, as the protocol asks
  try {
    if (method == "textDocument/didOpen") didOpen(params);
    else if (method == "textDocument/didChange") didChange(params);
    else if (method == "textDocument/didClose") didClose(params);
    else if (method == "workspace/didChangeConfiguration") configure(params.at("settings"));
    // Anything else ($/cancelRequest, initialized, didSave, ...) needs nothing.
  } catch (const std::exception &e) {
    // A notification has no answer: the client's log gets the reason.
    notify("window/logMessage", {{"type", kError}, {"message", "velmora-lsp: " + method + " ignored: " + e.what()}});
  }
}

void Server::reply(const Json &id, Json result) {
  send_(Json{{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}}.dump(-1, ' ', false,
                                                                                 Json::error_handler_t::replace));
}

void Server::replyError(const Json &id, int code, const std::string &message) {
  send_(Json{{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}}.dump(
      -1, ' ', false, Json::error_handler_t::replace));
}

void Server::notify(const std::string &method, Json params) {
  send_(Json{{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}}.dump(
      -1, ' ', false, Json::error_handler_t::replace));
}

void Server::showMessage(int type, const u16 &text) {
  notify("window/showMessage", {{"type", type}, {"message", utf8(text)}});
}

// ----- the language

std::shared_ptr<Server::Tables> Server::loadTables(const std::filesystem::path &home) {
  auto t = std::make_shared<Tables>();
  t->home = home;
  t->language.load(home, [&t](const u16 &m) { t->problems.push_back(m); });
  t->words = std::make_unique<Vocabulary>(t->language, language::Language::builtin());
  return t;
}

void Server::loadLanguage() {
  if (!options_.home.empty()) home_ = options_.home;
  else if (!clientHome_.empty()) home_ = text::resolve_home(clientHome_);
  else home_ = text::resolve_home();
  tables_ = options_.tables && options_.tables->home == home_ ? options_.tables : loadTables(home_);
  for (const u16 &p : tables_->problems) showMessage(kWarning, u"velmora-lsp: " + p);
  for (auto &[uri, doc] : documents_) {
    doc.analysis.reset();
    doc.due = Clock::now();
  }
}

void Server::configure(const Json &settings) {
  std::string home;
  if (settings.is_object()) {
    const Json *v = settings.contains("velmora") ? &settings["velmora"] : &settings;
    if (v->is_object() && v->contains("home") && (*v)["home"].is_string()) home = (*v)["home"].get<std::string>();
  }
  if (home == clientHome_) return;
  clientHome_ = home;
  loadLanguage();
  if (refreshTokens_) {
    send_(Json{{"jsonrpc", "2.0"},
               {"id", "velmora-refresh-" + std::to_string(nextRequestId_++)},
               {"method", "workspace/semanticTokens/refresh"}}
              .dump());
  }
}

// ----- documents

Server::Open &Server::document(const Json &params) {
  const std::string uri = params.at("textDocument").at("uri").get<std::string>();
  auto it = documents_.find(uri);
  if (it == documents_.end()) throw RequestError{kInvalidParams, "Invalid params: " + uri + " is not open"};
  return it->second;
}

const Analysis &Server::analysisOf(Open &doc) {
  if (!doc.analysis) {
    if (doc.tooLarge) doc.analysis = std::make_unique<Analysis>();
    else doc.analysis = std::make_unique<Analysis>(analyse(doc.document.lines(), tables_->language, *tables_->words));
  }
  return *doc.analysis;
}

void Server::didOpen(const Json &params) {
  const Json &item = params.at("textDocument");
  const std::string uri = item.at("uri").get<std::string>();
  Open doc;
  doc.version = item.contains("version") ? int_of(item["version"]) : 0;
  u16 text = utf16(item.at("text").get<std::string>());
  doc.tooLarge = text.size() > kMaxDocument;
  if (!doc.tooLarge) doc.document.setText(std::move(text));
  doc.due = Clock::now();
  documents_[uri] = std::move(doc);
}

void Server::didChange(const Json &params) {
  Open &doc = document(params);
  const Json &identifier = params.at("textDocument");
  if (identifier.contains("version") && !identifier["version"].is_null()) doc.version = int_of(identifier["version"]);
  for (const Json &change : params.at("contentChanges")) {
    if (change.contains("range")) {
      if (doc.tooLarge) continue;  // no text to change: the next whole text starts afresh
      const Json &range = change.at("range");
      const u16 with = utf16(change.at("text").get<std::string>());
      const std::size_t from = doc.document.offsetOf(position_of(range.at("start")));
      const std::size_t to = doc.document.offsetOf(position_of(range.at("end")));
      if (doc.document.text().size() - (to > from ? to - from : from - to) + with.size() > kMaxDocument) {
        doc.tooLarge = true;
        doc.document.setText({});
        continue;
      }
      doc.document.replace(position_of(range.at("start")), position_of(range.at("end")), with);
    } else {
      u16 text = utf16(change.at("text").get<std::string>());
      doc.tooLarge = text.size() > kMaxDocument;
      doc.document.setText(doc.tooLarge ? u16() : std::move(text));
    }
  }
  doc.analysis.reset();
  doc.due = Clock::now() + kDebounce;
}

void Server::didClose(const Json &params) {
  const std::string uri = params.at("textDocument").at("uri").get<std::string>();
  if (documents_.erase(uri)) notify("textDocument/publishDiagnostics", {{"uri", uri}, {"diagnostics", Json::array()}});
}

void Server::publish(const std::string &uri, Open &doc) {
  Json diagnostics;
  if (doc.tooLarge) {
    Finding f;
    f.message = u"この文書は大きすぎるため検査しません（上限 " + text::int16(long(kMaxDocument)) + u" 文字）。";
    f.warning = true;
    diagnostics = diagnostics_json({f});
  } else {
    diagnostics = diagnostics_json(diagnostics_of(doc.document.lines(), tables_->language, analysisOf(doc)));
  }
  notify("textDocument/publishDiagnostics", {{"uri", uri}, {"version", doc.version}, {"diagnostics", diagnostics}});
}

std::optional<Server::Clock::time_point> Server::nextDeadline() const {
  std::optional<Clock::time_point> next;
  for (const auto &[uri, doc] : documents_)
    if (doc.due && (!next || *doc.due < *next)) next = doc.due;
  return next;
}

void Server::runDue(Clock::time_point now) {
  for (auto &[uri, doc] : documents_)
    if (doc.due && *doc.due <= now) {
      doc.due.reset();
      publish(uri, doc);
    }
}

// ----- requests

Json Server::answer(const std::string &method, const Json &params) {
  if (method == "initialize") {
    if (initialized_) throw RequestError{kInvalidRequest, "Invalid Request: initialize was sent before"};
    if (params.is_object() && params.contains("initializationOptions")) {
      const Json &o = params["initializationOptions"];
      if (o.is_object()) {
        const Json *v = o.contains("velmora") ? &o["velmora"] : &o;
        if (v->is_object() && v->contains("home") && (*v)["home"].is_string())
          clientHome_ = (*v)["home"].get<std::string>();
      }
    }
    if (params.is_object())
      refreshTokens_ = params.value(Json::json_pointer("/capabilities/workspace/semanticTokens/refreshSupport"), false);
    loadLanguage();
    initialized_ = true;
    return {{"capabilities",
             {{"positionEncoding", "utf-16"},
              {"textDocumentSync", {{"openClose", true}, {"change", 2}}},
              {"completionProvider", {{"triggerCharacters", {"&", "%", "$"}}, {"resolveProvider", false}}},
              {"hoverProvider", true},
              {"definitionProvider", true},
              {"referencesProvider", true},
              {"documentHighlightProvider", true},
              {"documentSymbolProvider", true},
              {"documentFormattingProvider", true},
              {"documentRangeFormattingProvider", true},
              {"semanticTokensProvider", {{"legend", semantic_token_legend()}, {"full", true}, {"range", true}}}}},
            {"serverInfo", {{"name", "velmora-lsp"}, {"version", VELMORA_VERSION}}}};
  }
  if (method == "shutdown") {
    shutdown_ = true;
    return nullptr;
  }
  const bool known = method == "textDocument/completion" || method == "textDocument/hover" ||
                     method == "textDocument/definition" || method == "textDocument/references" ||
                     method == "textDocument/documentHighlight" || method == "textDocument/documentSymbol" ||
                     method == "textDocument/semanticTokens/full" || method == "textDocument/semanticTokens/range" ||
                     method == "textDocument/formatting" || method == "textDocument/rangeFormatting";
  if (!known) throw RequestError{kMethodNotFound, "Method not found: " + method};

  const std::string uri = params.at("textDocument").at("uri").get<std::string>();
  Open &doc = document(params);
  const DocumentView view{doc.document, analysisOf(doc), *tables_->words, tables_->language};
  if (method == "textDocument/completion") return completion(view, position_of(params.at("position")));
  if (method == "textDocument/hover") return hover(view, position_of(params.at("position")));
  if (method == "textDocument/definition") return definition(view, uri, position_of(params.at("position")));
  if (method == "textDocument/references")
    return references(view, uri, position_of(params.at("position")),
                      params.value(Json::json_pointer("/context/includeDeclaration"), true));
  if (method == "textDocument/documentHighlight") return document_highlights(view, position_of(params.at("position")));
  if (method == "textDocument/documentSymbol") return document_symbols(view);
  if (method == "textDocument/semanticTokens/full") return semantic_tokens(view);
  if (method == "textDocument/semanticTokens/range") {
    const Json &range = params.at("range");
    return semantic_tokens(view, position_of(range.at("start")).line, position_of(range.at("end")).line);
  }
  if (method == "textDocument/formatting") return formatting(view, indent_options(params));
  const Json &range = params.at("range");
  return formatting(view, indent_options(params), position_of(range.at("start")).line,
                    position_of(range.at("end")).line);
}

}  // namespace velmora::lsp
