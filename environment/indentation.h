#pragma once
// Indentation as the program editors keep it: a line that opens a block
// (ends with DO, THEN or ELSE, or starts a FUNCTION) indents the next line
// one step further; END, ELSE and ENDFUNC on a line of their own step back
// when the line is finished. Comments ("//") and string constants do not
// count.
#include "text/u16.h"

namespace velmora::environment {

// The code of a line in upper case, without its comment and outer blanks.
u16 codeOfLine(u16view line);
bool opensBlock(u16view line);
// The blanks the next line starts with after Enter at the end of `line`.
u16 indentAfter(u16view line, int unit);
// When `line` is just END, ELSE or ENDFUNC and indented by at least one
// step: the line one step further left; else the line unchanged.
u16 dedentClosing(u16view line, int unit);

}  // namespace velmora::environment
