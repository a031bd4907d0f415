// Conversions between the server's values and protocol JSON.
#include <algorithm>
#include <limits>
#include <stdexcept>

#include "lsp/features.h"

namespace velmora::lsp {

std::string utf8(u16view text) { return text::to_utf8(text); }
u16 utf16(const std::string &text) { return text::from_utf8(text); }

Json range_json(Position start, Position end) {
  return {{"start", {{"line", start.line}, {"character", start.character}}},
          {"end", {{"line", end.line}, {"character", end.character}}}};
}

Json range_json(const Span &span) {
  return range_json({span.line, span.column}, {span.line, span.column + span.length});
}

int int_of(const Json &value) {
  constexpr long long lo = std::numeric_limits<int>::min(), hi = std::numeric_limits<int>::max();
  if (value.is_number_unsigned()) return int(std::min<unsigned long long>(value.get<unsigned long long>(), hi));
  if (value.is_number_integer()) return int(std::clamp<long long>(value.get<long long>(), lo, hi));
  throw std::invalid_argument("an integer was expected, not " + value.dump());
}

Position position_of(const Json &position) { return {int_of(position.at("line")), int_of(position.at("character"))}; }

Json diagnostics_json(const std::vector<Finding> &findings) {
  Json out = Json::array();
  for (const Finding &f : findings) {
    Json d = {{"range", range_json(f.span)},
              {"severity", f.warning ? 2 : 1},
              {"source", "velmora"},
              {"message", utf8(f.message)}};
    if (!f.code.empty()) d["code"] = f.code;
    out.push_back(std::move(d));
  }
  return out;
}

}  // namespace velmora::lsp
