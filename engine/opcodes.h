#pragma once
// The instruction set: one row per rule code, read by the loader (which T-code
// field goes into which Param slot), the P-code listing (the listing mark)
// and the dispatcher (which family handles it).
#include <array>
#include <cstdint>

#include "engine/types.h"

namespace velmora::engine {

// Where Param[k] (k = 1..9) comes from.
struct SlotSource {
  enum Kind : std::uint8_t { Empty, Field, NotShifted, NotWord, Fixed } kind = Empty;
  std::uint8_t field = 0;   // Field / NotShifted: the T-code field number
  char16_t fixed = 0;       // Fixed: a one-character text ("0".."3")
};

struct OpcodeInfo {
  int code = -1;                       // -1: not an instruction
  std::array<SlotSource, 10> slots{};  // index 1..9
  u16view mark;                        // listing mark, may be empty
  int markSlot = 0;                    // Param slot that holds the mark
  bool optionalNot = false;            // field 1 may be NOT
};

// The row of a rule code, or nullptr when the loader drops the code.
const OpcodeInfo *opcode_info(int code);

}  // namespace velmora::engine
