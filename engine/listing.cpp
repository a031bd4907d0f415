#include "engine/listing.h"

#include "engine/machine.h"

namespace velmora::engine {

u16 listing_line(const TPEXE &r) {
  // Labels and function entries (negative kinds) print as "-001", "-002".
  const bool negative = (instruction_flags(r.kind) & (ifLabel | ifFunction)) != 0;
  u16 kind = text::int16(negative ? -r.kind : r.kind);
  const std::size_t width = negative ? 3 : 4;
  if (kind.size() < width) kind.insert(0, width - kind.size(), u'0');
  if (negative) kind.insert(0, 1, u'-');
  u16 line = r.Param[10] + u" " + kind + u" ";
  for (std::size_t k = 1; k <= 9; ++k) line += r.Param[k] + u" ";
  return line;
}

u16 instruction_caption(int kind) {
  const InstructionRow *row = instruction_row(kind);
  if (!row) return {};
  return text::from_utf8(row->name) + u": " + text::from_utf8(row->description);
}

Lines slot_listing(const Machine &engine, int slot) {
  Lines out;
  if (slot < 0 || slot >= kSlots) return out;
  int list = engine.tasks[std::size_t(slot)].PcodeListNo;
  if (list < 0) return out;
  for (const TPEXE &r : engine.lists[std::size_t(list)]) out.push_back(listing_line(r));
  return out;
}

}  // namespace velmora::engine
