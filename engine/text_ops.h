#pragma once
// Text operations of the string and list instructions, free of registers so
// that they can be tested on their own.
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/line_list.h"
#include "engine/str_value.h"
#include "text/u16.h"

// Loads that may read past a text's end (within its page) are left out
// where the address checker would take them for faults.
#if defined(__SANITIZE_ADDRESS__)
#define VELMORA_NO_WIDE_LOADS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELMORA_NO_WIDE_LOADS 1
#endif
#endif

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
#if defined(__SSE2__) && !defined(VELMORA_NO_WIDE_LOADS)
    if (text.size() <= 8) {
      // A short text is read in one load when the sixteen bytes from its
      // start lie within one page (they may run past the text, never into
      // an unmapped page); the lanes past the last position are dropped.
      if ((reinterpret_cast<std::uintptr_t>(p) & 4095) <= 4096 - 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        unsigned mask = pairs(a, _mm_srli_si128(a, 2)) & ((1u << (2 * (last + 1))) - 1);
        for (; mask; mask &= mask - 1)
          if (rest_at(p + std::size_t(__builtin_ctz(mask)) / 2)) return true;
        return false;
      }
    } else {
      // Blocks of eight positions, both loads within the text; the last
      // block is moved back to end at the text's end (overlapping the one
      // before), so no position is left to a character-wise tail.
      for (;;) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i + 1));
        for (unsigned mask = pairs(a, b); mask; mask &= mask - 1) {
          const std::size_t at = i + std::size_t(__builtin_ctz(mask)) / 2;
          if (at <= last && rest_at(p + at)) return true;
        }
        if (i + 8 > last) return false;
        i += 8;
        if (i + 9 > text.size()) i = text.size() - 9;
      }
    }
#endif
    for (; i <= last; ++i)
      if (p[i] == c0_ && p[i + 1] == c1_ && rest_at(p + i)) return true;
    return false;
  }

 private:
#if defined(__SSE2__)
  // One bit (the even one of each lane) per position where the first two
  // characters stand: `a` holds the characters at the positions, `b` those
  // after them.
  unsigned pairs(__m128i a, __m128i b) const {
    return unsigned(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi16(a, first_), _mm_cmpeq_epi16(b, second_)))) & 0x5555u;
  }
#endif
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
