// Writes the seed corpora of the fuzz targets from the golden programs and
// the built-in tables, with the system's own writers:
//   velmora-fuzz-seeds OUTDIR PROGRAM.mcl...
// OUTDIR/compile: the programs; OUTDIR/tcode: their T-code; OUTDIR/book:
// books of up to three programs; OUTDIR/settings: the default settings file;
// OUTDIR/tables: each built-in table behind its selector byte; OUTDIR/lsp:
// a language client's session on each program (framed messages behind the
// byte that picks the reader's piece size).
#include <cstdio>
#include <fstream>

#include "compiler/statement_compiler.h"
#include "compiler/tokenizer.h"
#include "data/builtin_tables.h"
#include "environment/environment.h"
#include "fuzz/fuzz_common.h"
#include "lsp/server.h"

using namespace velmora;
namespace env = velmora::environment;
namespace fs = std::filesystem;

namespace {

class QuietUi : public env::UserInterface {
 public:
  void message(const u16 &, const u16 &) override {}
  bool askYesNo(const u16 &, const u16 &) override { return false; }
  env::Answer askYesNoCancel(const u16 &, const u16 &) override { return env::Answer::No; }
};

bool write_bytes(const fs::path &path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), std::streamsize(bytes.size()));
  return bool(out);
}

// A client's session on one program: open, change, and every request the
// server answers, at a place in the program.
std::string lsp_session(const Lines &text, int k) {
  using lsp::Json;
  u16 joined;
  for (const u16 &line : text) joined += line + u"\r\n";
  const std::string uri = "file:///p" + std::to_string(k) + ".mcl";
  const Json doc = {{"uri", uri}};
  const Json at = {{"line", int(text.size() / 2)}, {"character", 2}};
  std::string out(1, char(k * 7));
  int id = 1;
  auto add = [&](const std::string &method, Json params, bool request = true) {
    Json m = {{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}};
    if (request) m["id"] = id++;
    out += lsp::frame(m.dump());
  };
  add("textDocument/didOpen", {{"textDocument", {{"uri", uri}, {"version", 1}, {"text", text::to_utf8(joined)}}}},
      false);
  add("textDocument/didChange",
      {{"textDocument", {{"uri", uri}, {"version", 2}}},
       {"contentChanges", {{{"range", {{"start", at}, {"end", at}}}, {"text", "X = 1 +;\n"}}}}},
      false);
  for (const char *method : {"textDocument/completion", "textDocument/hover", "textDocument/definition",
                             "textDocument/references", "textDocument/documentHighlight"})
    add(method, {{"textDocument", doc}, {"position", at}, {"context", {{"includeDeclaration", true}}}});
  add("textDocument/documentSymbol", {{"textDocument", doc}});
  add("textDocument/semanticTokens/full", {{"textDocument", doc}});
  add("textDocument/formatting", {{"textDocument", doc}, {"options", {{"tabSize", 2}, {"insertSpaces", true}}}});
  add("shutdown", nullptr);
  add("exit", nullptr, false);
  return out;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: velmora-fuzz-seeds OUTDIR PROGRAM.mcl...\n");
    return 3;
  }
  const fs::path out = argv[1];
  for (const char *dir : {"compile", "tcode", "book", "settings", "tables", "lsp"}) fs::create_directories(out / dir);

  // Tables, in the order the table fuzzer's selector numbers them.
  const char *tables[] = {"T-Keyword.txt", "T-Symbol.txt", "T-Command.txt",
                          "T-Math.txt",    "T-Syntax.txt", "T-CodeGenerationRule.txt"};
  for (int k = 0; k < 6; ++k) {
    std::string bytes(1, char(k));
    bytes += data::builtin_file(tables[k]);
    if (!write_bytes(out / "tables" / tables[k], bytes)) return 1;
  }
  if (!write_bytes(out / "settings" / "default.txt",
                   text::join_lines_crlf(env::Settings{}.toLines(), text::Encoding::Utf8)))
    return 1;

  const language::Language &lang = fuzz::builtin_language();
  QuietUi ui;
  const fs::path home = out / "home";
  fs::create_directories(home);
  env::Environment environment(home, ui);
  int books = 0;
  for (int i = 2; i < argc; ++i) {
    const fs::path program = argv[i];
    auto bytes = text::read_file_bytes(program);
    if (!bytes) continue;
    const std::string name = program.stem().string();
    if (!write_bytes(out / "compile" / program.filename(), *bytes)) return 1;

    Lines text = fuzz::lines_of(*bytes);
    if (!write_bytes(out / "lsp" / (name + ".lsp"), lsp_session(text, i))) return 1;
    compiler::Tokenizer tokenizer(lang);
    compiler::TokenStream stream = tokenizer.Make_Token_From_Text(text, {}, [](const u16 &) {});
    fuzz::QuietHost host;
    compiler::StatementCompiler compiler(lang, host);
    if (!stream.failed && compiler.compile(stream.tokens) &&
        !write_bytes(out / "tcode" / (name + ".tcode"), text::join_lines_crlf(compiler.tcode(), text::Encoding::Utf8)))
      return 1;

    environment.tabs.loadLines(text, ui);
    if (environment.tabs.openCount() == 3 || i + 1 == argc) {
      std::string book = text::join_lines_crlf(environment.workspace.bookLines(), text::Encoding::Utf8);
      if (!write_bytes(out / "book" / ("book" + std::to_string(++books) + ".TXB"), book)) return 1;
      environment.workspace.closeAllTabs();
    }
  }
  std::error_code ec;
  fs::remove_all(home, ec);
  return 0;
}
