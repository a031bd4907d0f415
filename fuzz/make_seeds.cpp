// Writes the seed corpora of the fuzz targets from the golden programs and
// the built-in tables, with the system's own writers:
//   velmora-fuzz-seeds OUTDIR PROGRAM.mcl...
// OUTDIR/compile: the programs; OUTDIR/tcode: their T-code; OUTDIR/book:
// books of up to three programs; OUTDIR/settings: the default settings file;
// OUTDIR/tables: each built-in table behind its selector byte.
#include <cstdio>
#include <fstream>

#include "compiler/statement_compiler.h"
#include "compiler/tokenizer.h"
#include "data/builtin_tables.h"
#include "environment/environment.h"
#include "fuzz/fuzz_common.h"

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

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: velmora-fuzz-seeds OUTDIR PROGRAM.mcl...\n");
    return 3;
  }
  const fs::path out = argv[1];
  for (const char *dir : {"compile", "tcode", "book", "settings", "tables"}) fs::create_directories(out / dir);

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
