// Arbitrary T-code lines through the loader: field splitting, operand
// decoding, duplicate labels and functions, escapes of string constants,
// then registration and linking (labels, functions, variable numbers).
#include "fuzz/fuzz_common.h"
#include "text/fields.h"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  Lines tcode = fuzz::lines_of(fuzz::bytes_of(data, size));
  // The names after "∇" become the program's variables, as the tokenizer
  // would have registered them; every third one shared.
  Lines taskVars, sharedVars;
  for (const u16 &line : tcode) {
    auto items = text::split_fields(line);
    for (std::size_t k = 0; k + 1 < items.size() && taskVars.size() + sharedVars.size() < 200; ++k)
      if (items[k] == u"∇") (k % 3 == 2 ? sharedVars : taskVars).emplace_back(items[k + 1]);
  }
  fuzz::register_and_link(tcode, taskVars, sharedVars);
  return 0;
}
