#pragma once
// Text operations of the string and list instructions, free of registers so
// that they can be tested on their own.
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/line_list.h"
#include "engine/str_value.h"
#include "text/u16.h"

namespace velmora::engine {

// Upper-cases letters for case-insensitive searches, one code unit for one,
// so positions in the folded text are positions in the original.
char16_t fold_char(char16_t c);
u16 fold_case(u16view s);
// A text looked for in many texts, such as every line of a list: line
// selectors ask it of mostly short lines that do not hold it. What can be
// worked out once (the first two characters, spread over a vector) is;
// each text is then scanned eight positions at a time where the first two
// characters stand, and only there compared in full. An empty part occurs
// everywhere.
class Needle {
 public:
  explicit Needle(u16view part) : part_(part) {
    if (part.size() >= 1) c0_ = part[0];
    if (part.size() >= 2) c1_ = part[1];
#if defined(__SSE2__)
    first_ = _mm_set1_epi16(short(c0_));
    second_ = _mm_set1_epi16(short(c1_));
#endif
  }
  bool in(u16view text) const {
    const std::size_t m = part_.size();
    if (m == 0) return true;
    if (text.size() < m) return false;
    const char16_t *p = text.data();
    const std::size_t last = text.size() - m;
    if (m == 1) {
      for (std::size_t i = 0; i <= last; ++i)
        if (p[i] == c0_) return true;
      return false;
    }
    std::size_t i = 0;
#if defined(__SSE2__)
    // Both loads stay within the text.
    for (; i + 9 <= text.size() && i <= last; i += 8) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i + 1));
      unsigned mask = unsigned(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi16(a, first_), _mm_cmpeq_epi16(b, second_))));
      if (last - i < 7) mask &= (1u << (2 * (last - i + 1))) - 1;  // positions past the last cannot match
      while (mask) {
        if (rest_at(p + i + std::size_t(__builtin_ctz(mask)) / 2)) return true;
        mask &= mask - 1;
        mask &= mask - 1;  // both bytes of the position
      }
    }
#endif
    for (; i <= last; ++i)
      if (p[i] == c0_ && p[i + 1] == c1_ && rest_at(p + i)) return true;
    return false;
  }

 private:
  // Whether the characters after the first two match at `at`.
  bool rest_at(const char16_t *at) const {
    return std::memcmp(at + 2, part_.data() + 2, (part_.size() - 2) * sizeof(char16_t)) == 0;
  }
  u16view part_;
  char16_t c0_ = 0, c1_ = 0;
#if defined(__SSE2__)
  __m128i first_, second_;
#endif
};

inline bool contains(u16view text, u16view part) { return Needle(part).in(text); }

struct Zone {
  u16 result;
  u16 rest;
};

// The zone of s from the start condition a to the end condition b (an empty
// condition is absent). The zone option ("[++]", "[+-]", "[-+]", "[--]" or
// empty) says whether the conditions belong to the result.
Zone string_zone(u16view s, u16view a, u16view b, u16view option, bool fold);
// The zone whose end condition is any line of `ends`: the shortest
// non-empty result wins, the earliest on a tie; no ends: to the end of s.
Zone zone_by_list(u16view s, u16view a, const LineList &ends, u16view option, bool fold);
// The same on a string value: the result and the rest share its text where
// they can, and the rest carries a hint of where the next search for the
// same start condition may begin, so that cutting zones out of a text from
// left to right costs the length of the text once.
struct ValueZone {
  StrValue result;
  StrValue rest;
};
ValueZone value_zone(const StrValue &s, u16view a, u16view b, u16view option, bool fold);
ValueZone value_zone_by_list(const StrValue &s, u16view a, const LineList &ends, u16view option, bool fold);

// The lines from the one containing a to the one containing b.
void select_line_zone(const LineList &lines, u16view a, u16view b, u16view option, bool fold, LineList &selected,
                      LineList &rest);

// "[<]" sorts both registers ignoring case and keeps one of equal lines,
// "[>]" the same reversed, "[!]" exchanges them. The option is cleared.
void apply_list_order(u16 &option, LineList &list, LineList &rest);

// REP: nothing when `from` equals `to` or occurs in it; otherwise replaces
// the first occurrence again and again until there is none or the value has
// reached 255 characters.
u16 replace_repeatedly(u16 value, u16view from, u16view to);
// Every occurrence of `from`, left to right without overlap, by `to`.
u16 replace_all(u16view value, u16view from, u16view to, bool fold);

}  // namespace velmora::engine
