#pragma once
// Environment commands that write a short program in the system's own
// language and run it: loading a web page into a tab, and the extraction
// program generator.
#include <array>

#include "text/u16.h"

namespace velmora::environment {

// One row of the extraction grid: the section mode and ten marker pairs.
struct ExtractionRow {
  u16 mode = u"0";                // "0" nest, anything else repeat
  std::array<u16, 20> markers{};  // start 1, end 1, start 2, end 2, ...
};

struct ExtractionSpec {
  u16 sourcePath;
  u16 encoding = u"UTF8";
  bool webAccess = false;
  std::vector<ExtractionRow> rows;
};

// The generated program; sourcePage is the page (1..10) read without web access.
Lines extraction_program(const ExtractionSpec &spec, int sourcePage);
// A marker as a string constant of the language (a double quote inside
// becomes "+char(34)+").
u16 escaped_marker(u16view text);

}  // namespace velmora::environment
