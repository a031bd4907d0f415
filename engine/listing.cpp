#include "engine/listing.h"

#include "engine/fast/steps.h"
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

Lines form_listing(const Machine &engine, int slot) {
  Lines out;
  if (slot < 0 || slot >= kSlots) return out;
  const int list = engine.tasks[std::size_t(slot)].PcodeListNo;
  if (list < 0) return out;
  const std::vector<HotRecord> &hots = engine.hot[std::size_t(list)];
  for (std::size_t p = 0; p < hots.size(); ++p) {
    const HotRecord &h = hots[p];
    if (h.form == Form::Label) {
      out.emplace_back();
      continue;
    }
    u16 line = text::ascii16(form_info(h.form).name);
    if (h.pair) {
      line += u", step " + text::ascii16(form_info(h.step).name);
      if (h.stepRecords > 0) line += u" of " + text::int16(h.stepRecords) + u" records";
      if (h.step == Form::LoopStep) {
        const Form rounds = loop_rounds_of(engine, slot, int(p));
        if (rounds != Form::Family) line += u", " + text::ascii16(form_info(rounds).name);
      }
    }
    out.push_back(std::move(line));
  }
  return out;
}

}  // namespace velmora::engine
