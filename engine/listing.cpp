#include "engine/listing.h"

namespace velmora::engine {

u16 listing_line(const TPEXE &r) {
  u16 kind = int16(r.kind < 0 ? -r.kind : r.kind);
  const std::size_t width = r.kind < 0 ? 3 : 4;
  if (kind.size() < width) kind.insert(0, width - kind.size(), u'0');
  if (r.kind < 0) kind.insert(0, 1, u'-');
  u16 line = r.Param[10] + u" " + kind + u" ";
  for (std::size_t k = 1; k <= 9; ++k) line += r.Param[k] + u" ";
  return line;
}

Lines slot_listing(const Engine &engine, int slot) {
  Lines out;
  if (slot < 0 || slot >= kSlots) return out;
  int list = engine.tasks[std::size_t(slot)].PcodeListNo;
  if (list < 0) return out;
  for (const TPEXE &r : engine.lists[std::size_t(list)]) out.push_back(listing_line(r));
  return out;
}

}  // namespace velmora::engine
