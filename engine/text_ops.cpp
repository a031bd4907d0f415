#include "engine/text_ops.h"

#include <algorithm>

namespace velmora::engine {

char16_t fold_char(char16_t c) {
  if (c >= u'a' && c <= u'z') return char16_t(c - 32);
  if (c >= u'ａ' && c <= u'ｚ') return char16_t(c - 32);               // full-width Latin
  if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return char16_t(c - 32);  // Latin-1
  return c;
}

namespace {

// The zone options "[++]" "[+-]" "[-+]" "[--]": whether the zone keeps its
// start and its end text. Read by character: these run for every zone.
bool zone_option(u16view option) {
  return option.size() == 4 && option[0] == u'[' && option[3] == u']' && (option[1] == u'+' || option[1] == u'-') &&
         (option[2] == u'+' || option[2] == u'-');
}
bool includes_start(u16view option) { return zone_option(option) && option[1] == u'+'; }
bool includes_end(u16view option) { return zone_option(option) && option[2] == u'+'; }

}  // namespace

u16 fold_case(u16view s) {
  u16 out(s);
  for (char16_t &c : out) c = fold_char(c);
  return out;
}

Zone string_zone(u16view s, u16view a, u16view b, u16view option, bool fold) {
  u16 t = fold ? fold_case(s) : u16(s);
  u16 fa = fold ? fold_case(a) : u16(a);
  u16 fb = fold ? fold_case(b) : u16(b);
  Zone none{u16(), u16(s)};
  // Positions from 1, as the zone rules count them.
  std::size_t start = 1;
  if (!fa.empty()) {
    std::size_t p = t.find(fa);
    if (p == u16::npos) return none;
    start = p + 1;
  }
  std::size_t end = s.size() + 1;
  if (!fb.empty()) {
    std::size_t p = start < t.size() ? t.find(fb, start) : u16::npos;  // from start + 1 on
    if (p == u16::npos) return none;
    end = p + 1;
  }
  if (!includes_start(option)) start += fa.size();
  if (includes_end(option)) end += fb.size();
  end = std::min(end, s.size() + 1);
  Zone z;
  if (start < end) z.result = u16(s.substr(start - 1, end - start));
  z.rest = u16(s.substr(0, std::min(start - 1, s.size())));
  if (end - 1 < s.size()) z.rest += s.substr(std::max(end - 1, start - 1));
  return z;
}

Zone zone_by_list(u16view s, u16view a, const LineList &ends, u16view option, bool fold) {
  if (ends.empty()) return string_zone(s, a, u"", option, fold);
  Zone best{u16(), u16(s)};
  bool found = false;
  for (const u16view b : ends) {
    Zone z = string_zone(s, a, b, option, fold);
    if (z.result.empty()) continue;
    if (!found || z.result.size() < best.result.size()) {
      best = std::move(z);
      found = true;
    }
  }
  return best;
}

ValueZone value_zone(const StrValue &s, u16view a, u16view b, u16view option, bool fold) {
  u16 foldedA, foldedB;  // the ends folded, only when folding
  if (fold) foldedA = fold_case(a), foldedB = fold_case(b);
  const u16view fa = fold ? u16view(foldedA) : a;
  const u16view fb = fold ? u16view(foldedB) : b;
  char16_t (*f)(char16_t) = fold ? fold_char : nullptr;
  const std::size_t n = s.size();
  // Positions from 1, as the zone rules count them.
  std::size_t start = 1, found = u16::npos;
  if (!fa.empty()) {
    found = s.find(fa, s.hintFor(fa, fold), f);
    if (found == u16::npos) return {StrValue(), s};
    start = found + 1;
  }
  std::size_t end = n + 1;
  if (!fb.empty()) {
    std::size_t p = start < n ? s.find(fb, start, f) : u16::npos;  // from start + 1 on
    if (p == u16::npos) return {StrValue(), s};
    end = p + 1;
  }
  if (!includes_start(option)) start += fa.size();
  if (includes_end(option)) end += fb.size();
  end = std::min(end, n + 1);
  const std::size_t kept = std::min(start - 1, n);  // the rest's head: s up to the zone
  // Both made in place (no value made and then moved in): a zone is cut
  // for every cell of a page.
  ValueZone z{start < end ? s.slice(start - 1, end - start) : StrValue(), [&] {
                if (end - 1 >= n) return s.slice(0, kept);
                const std::size_t from = std::max(end - 1, start - 1);
                if (kept == 0) return s.slice(from, n - from);
                return StrValue::concat(s.slice(0, kept), s.slice(from, n - from));
              }()};
  if (found != u16::npos) {
    // The rest agrees with s on its first `kept` characters, where the
    // first occurrence was `found`: none can begin earlier than this.
    std::size_t bound = kept + 1 >= fa.size() ? kept + 1 - fa.size() : 0;
    z.rest.setHint(fa, fold, std::min(found, bound), &s);
  }
  return z;
}

ValueZone value_zone_by_list(const StrValue &s, u16view a, const LineList &ends, u16view option, bool fold) {
  if (ends.empty()) return value_zone(s, a, u"", option, fold);
  ValueZone best{StrValue(), s};
  bool found = false;
  for (const u16view b : ends) {
    ValueZone z = value_zone(s, a, b, option, fold);
    if (z.result.empty()) continue;
    if (!found || z.result.size() < best.result.size()) {
      best = std::move(z);
      found = true;
    }
  }
  return best;
}

void select_line_zone(const LineList &lines, u16view a, u16view b, u16view option, bool fold, LineList &selected,
                      LineList &rest) {
  u16 fa = fold ? fold_case(a) : u16(a);
  u16 fb = fold ? fold_case(b) : u16(b);
  enum { Before, Inside, After } state = fa.empty() ? Inside : Before;
  // Lines go to the registers sharing their text.
  lines.forEach([&](const Line &line) {
    u16 folded;
    u16view t = line.view();
    if (fold) t = folded = fold_case(t);
    switch (state) {
      case Before:
        if (contains(t, fa)) {
          state = Inside;
          (includes_start(option) ? selected : rest).push_back(line);
        } else {
          rest.push_back(line);
        }
        break;
      case Inside:
        if (!fb.empty() && contains(t, fb)) {
          state = After;
          (includes_end(option) ? selected : rest).push_back(line);
        } else {
          selected.push_back(line);
        }
        break;
      case After: rest.push_back(line); break;
    }
  });
}

namespace {

void sort_unique(Lines &lines) {
  std::vector<std::pair<u16, u16>> keyed;
  keyed.reserve(lines.size());
  for (u16 &line : lines) keyed.emplace_back(fold_case(line), std::move(line));
  std::stable_sort(keyed.begin(), keyed.end(), [](const auto &x, const auto &y) { return x.first < y.first; });
  lines.clear();
  for (std::size_t i = 0; i < keyed.size(); ++i)
    if (i == 0 || keyed[i].first != keyed[i - 1].first) lines.push_back(std::move(keyed[i].second));
}

}  // namespace

void apply_list_order(u16 &option, LineList &list, LineList &rest) {
  if (option == u"[<]" || option == u"[>]") {
    const bool reversed = option == u"[>]";
    for (LineList *l : {&list, &rest})
      l->change([&](Lines &lines) {
        sort_unique(lines);
        if (reversed) std::reverse(lines.begin(), lines.end());
      });
  } else if (option == u"[!]") {
    list.swap(rest);
  }
  option.clear();
}

u16 replace_repeatedly(u16 value, u16view from, u16view to) {
  if (from.empty() || from == to || contains(to, from)) return value;
  for (std::size_t p; (p = value.find(from)) != u16::npos;) {
    value.replace(p, from.size(), to);
    if (value.size() >= 255) break;
  }
  return value;
}

u16 replace_all(u16view value, u16view from, u16view to, bool fold) {
  if (from.empty()) return u16(value);
  u16 t = fold ? fold_case(value) : u16(value);
  u16 f = fold ? fold_case(from) : u16(from);
  u16 out;
  std::size_t pos = 0;
  for (std::size_t p; (p = t.find(f, pos)) != u16::npos; pos = p + f.size()) {
    out += value.substr(pos, p - pos);
    out += to;
  }
  out += value.substr(pos);
  return out;
}

}  // namespace velmora::engine
