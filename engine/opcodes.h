#pragma once
// The loader's view of the instruction table (engine/instructions.h): for
// each rule code that becomes a record, which T-code field goes into which
// Param slot, and the listing mark it carries.
#include <array>
#include <cstdint>

#include "engine/instructions.h"
#include "engine/types.h"

namespace velmora::engine {

// Where Param[k] (k = 1..9) comes from.
struct SlotSource {
  enum Kind : std::uint8_t { Empty, Field, NotShifted, NotWord, Fixed } kind = Empty;
  std::uint8_t field = 0;  // Field / NotShifted: the T-code field number
  char16_t fixed = 0;      // Fixed: a one-character text ("0".."3")
};

struct OpcodeInfo {
  int code = -1;                       // -1: not an instruction
  std::array<SlotSource, 10> slots{};  // index 1..9
  u16 mark;                            // listing mark, may be empty
  int markSlot = 0;                    // Param slot that holds the mark
  bool optionalNot = false;            // field 1 may be NOT
  std::uint32_t flags = 0;             // InstructionFlag bits of the row
  const InstructionRow *row = nullptr;
};

// The row of a rule code that the loader turns into a record, or nullptr
// when the loader drops the code.
const OpcodeInfo *opcode_info(int code);

}  // namespace velmora::engine
