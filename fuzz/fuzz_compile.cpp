// Arbitrary program text through the tokenizer and the statement compiler;
// the T-code of every compile that succeeded is registered and linked.
#include "compiler/statement_compiler.h"
#include "compiler/tokenizer.h"
#include "fuzz/fuzz_common.h"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  const language::Language &lang = fuzz::builtin_language();
  Lines text = fuzz::lines_of(fuzz::bytes_of(data, size));

  compiler::Tokenizer tokenizer(lang);
  compiler::TokenizeOptions options;
  // The last byte picks the tokenizer's modes, so that the spacing mode and
  // kept comments are reached as well as the compile mode.
  const uint8_t mode = size ? data[size - 1] : 0;
  options.IsGenSpaceInfo = (mode & 0x81) == 0x81;
  options.IsNoComment = (mode & 0x82) == 0x82;
  options.IsUpperCase = (mode & 0x84) != 0x84;
  options.variableAlert = (mode & 0x88) == 0x88;
  compiler::TokenStream stream = tokenizer.Make_Token_From_Text(text, options, [](const u16 &) {});
  if (stream.failed || options.IsGenSpaceInfo) return 0;

  fuzz::QuietHost host;
  compiler::StatementCompiler compiler(lang, host);
  if (!compiler.compile(stream.tokens)) return 0;
  fuzz::register_and_link(compiler.tcode(), stream.userSymbols, stream.sharedNames);
  return 0;
}
