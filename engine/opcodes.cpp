#include "engine/opcodes.h"

#include <string>
#include <string_view>

namespace velmora::engine {

namespace {

std::array<OpcodeInfo, 1000> build_table() {
  std::array<OpcodeInfo, 1000> table{};
  for (const InstructionRow &row : kInstructionRows) {
    // Labels and function lines are not rule codes; breakpoints come only
    // from the debugger; compile-time codes never become records.
    if (row.code < 0 || row.code >= 1000 || (row.flags & (ifBreak | ifNotLoaded))) continue;
    OpcodeInfo &info = table[std::size_t(row.code)];
    info.code = row.code;
    info.row = &row;
    info.flags = row.flags;
    for (const char *c = row.mark; *c; ++c) info.mark += char16_t(*c);
    info.markSlot = row.markSlot;
    info.optionalNot = (row.flags & ifOptionalNot) != 0;
    std::string_view slotList(row.layout);
    int k = 1;
    std::size_t pos = 0;
    while (pos < slotList.size() && k <= 9) {
      std::size_t end = slotList.find(' ', pos);
      if (end == std::string_view::npos) end = slotList.size();
      std::string_view item = slotList.substr(pos, end - pos);
      SlotSource &src = info.slots[std::size_t(k)];
      if (item == "N") {
        src.kind = SlotSource::NotWord;
      } else if (item == "-") {
        src.kind = SlotSource::Empty;
      } else if (item[0] == '=') {
        src.kind = SlotSource::Fixed;
        src.fixed = char16_t(item[1]);
      } else {
        bool shifted = item.back() == '\'';
        src.kind = shifted ? SlotSource::NotShifted : SlotSource::Field;
        src.field = std::uint8_t(std::stoi(std::string(item.substr(0, item.size() - (shifted ? 1 : 0)))));
      }
      ++k;
      pos = end + 1;
    }
  }
  return table;
}

}  // namespace

const OpcodeInfo *opcode_info(int code) {
  static const std::array<OpcodeInfo, 1000> table = build_table();
  if (code < 0 || code >= 1000) return nullptr;
  const OpcodeInfo &info = table[std::size_t(code)];
  return info.code < 0 ? nullptr : &info;
}

}  // namespace velmora::engine
