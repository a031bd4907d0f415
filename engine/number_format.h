#pragma once
// Number texts of the language: the general form used by console output and
// the picture formats of VALSTR, "x : fmt" and formatted console output.
#include "text/u16.h"

namespace velmora::engine {

// General form: at most 15 significant digits, "." as the decimal separator,
// no trailing zeros. Exponent form ("1E20", "1.5E-7") when the decimal
// exponent is 15 or more or below -4, as the common general format does.
u16 general_number(long double value);

// Picture format: "0" digit (padded), "#" optional digit, "." decimal point,
// "," thousands separators, "E+"/"E-" (also "e+"/"e-") exponent with its "0"
// digits, "..." and '...' literal text, other characters as they stand, and
// up to three ";" sections for positive, negative and zero values (an empty
// negative or zero section uses the positive one). Rounding is half away
// from zero. An empty format gives the general form.
u16 format_picture(long double value, u16view format);

// Decimal text of a value truncated to an integer (INTSTR): every digit of
// it, beyond the 64-bit range too.
u16 integer_text(long double value);

}  // namespace velmora::engine
