// Writes the section "よくあるエラー" of docs/language.ja.md from the table
// of explanations, or checks that the checked-in section is current. The
// section stands between two marker comments; the rest of the page is kept.
//
//   error-docs --write docs/language.ja.md
//   error-docs --check docs/language.ja.md   (exit status 1 when stale)
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "compiler/explanations.h"

namespace {

const std::string kBegin =
    "<!-- よくあるエラー: error-docs が compiler/explanations.cpp の表から作る。直すのは表のほう -->\n";
const std::string kEnd = "<!-- よくあるエラー: ここまで -->\n";

}  // namespace

int main(int argc, char **argv) {
  if (argc != 3 || (std::string(argv[1]) != "--check" && std::string(argv[1]) != "--write")) {
    std::fprintf(stderr, "usage: error-docs --check|--write docs/language.ja.md\n");
    return 2;
  }
  const bool write = std::string(argv[1]) == "--write";
  std::ifstream in(argv[2], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "error-docs: cannot read %s\n", argv[2]);
    return 2;
  }
  std::stringstream buffer;
  buffer << in.rdbuf();
  const std::string page = buffer.str();
  const std::string section =
      kBegin +
      velmora::text::to_utf8(velmora::compiler::common_errors_markdown(velmora::language::Language::builtin())) + kEnd;
  const std::size_t begin = page.find(kBegin);
  const std::size_t end = begin == std::string::npos ? std::string::npos : page.find(kEnd, begin);
  std::string updated;
  if (begin == std::string::npos || end == std::string::npos) {
    updated = page + (page.empty() || page.back() == '\n' ? "\n" : "\n\n") + section;
  } else {
    updated = page.substr(0, begin) + section + page.substr(end + kEnd.size());
  }
  if (!write) {
    if (updated == page) return 0;
    std::fprintf(stderr, "error-docs: the section \"よくあるエラー\" of %s is not current; run error-docs --write %s\n",
                 argv[2], argv[2]);
    return 1;
  }
  std::ofstream out(argv[2], std::ios::binary);
  out << updated;
  return out ? 0 : 2;
}
