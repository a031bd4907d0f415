#pragma once
// Shared pieces of the libFuzzer targets: input bytes as a text file's lines,
// a compile host that says nothing, and the built-in language.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "compiler/compile_host.h"
#include "engine/engine.h"
#include "engine/listing.h"
#include "language/language.h"
#include "text/encoding.h"
#include "text/lines.h"

namespace velmora::fuzz {

inline std::string_view bytes_of(const uint8_t *data, std::size_t size) {
  return {reinterpret_cast<const char *>(data), size};
}

// The lines a file of these bytes reads as (byte-order mark, UTF-8 or CP932).
inline Lines lines_of(std::string_view bytes) { return text::split_lines(text::decode_bytes(bytes).text); }

class QuietHost : public compiler::CompileHost {
 public:
  void message(const u16 &) override {}
};

inline const language::Language &builtin_language() {
  static const language::Language lang = language::Language::builtin();
  return lang;
}

// Registers T-code in a fresh engine as compiling does, links it as a run
// start does, and lists it as the debugger does. Nothing is executed.
inline void register_and_link(const Lines &tcode, const Lines &taskVars, const Lines &sharedVars) {
  engine::Engine engine;
  Lines messages;
  int slot = engine.registerProgram(tcode, taskVars, sharedVars, messages, engine::tsACTIVE, u"fuzz", 0);
  if (slot < 0) return;
  if (engine.linkAll()) return;
  engine.listing(slot);
  engine.listFunctions(slot);
}

}  // namespace velmora::fuzz
