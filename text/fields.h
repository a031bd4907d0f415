#pragma once
// Fields of a line as token lines and T-code lines separate them.
#include "text/u16.h"

namespace velmora::text {

// Splits a line into fields as token lines and T-code lines are split: runs
// of blanks (U+0020 only) separate fields and leading blanks are skipped; a
// field that begins with a double quote runs to the next double quote, both
// quotes and every blank between them included (to the end of the line when
// there is no closing quote).
std::vector<u16view> split_fields(u16view line);

// Field n (from 0) of a line; the empty text when the line has fewer fields.
u16view field(u16view line, std::size_t n);

}  // namespace velmora::text
