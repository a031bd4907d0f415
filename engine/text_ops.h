#pragma once
// Text operations of the string and list instructions, free of registers so
// that they can be tested on their own.
#include "engine/line_list.h"
#include "engine/str_value.h"
#include "text/u16.h"

namespace velmora::engine {

// Upper-cases letters for case-insensitive searches, one code unit for one,
// so positions in the folded text are positions in the original.
char16_t fold_char(char16_t c);
u16 fold_case(u16view s);
bool contains(u16view text, u16view part);

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
