// Writes docs/words.ja.md from the word reference, or checks that the
// checked-in page is current.
//
//   word-docs --write docs/words.ja.md
//   word-docs --check docs/words.ja.md   (exit status 1 when stale)
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "compiler/word_reference.h"

int main(int argc, char **argv) {
  if (argc != 3 || (std::string(argv[1]) != "--check" && std::string(argv[1]) != "--write")) {
    std::fprintf(stderr, "usage: word-docs --check|--write docs/words.ja.md\n");
    return 2;
  }
  const std::string page =
      velmora::text::to_utf8(velmora::compiler::word_reference_markdown(velmora::language::Language::builtin()));
  if (std::string(argv[1]) == "--write") {
    std::ofstream out(argv[2], std::ios::binary);
    out << page;
    return out ? 0 : 2;
  }
  std::ifstream in(argv[2], std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  if (in && buffer.str() == page) return 0;
  std::fprintf(stderr, "word-docs: %s is not current; run word-docs --write %s\n", argv[2], argv[2]);
  return 1;
}
