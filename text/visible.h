#pragma once
// Text shown to a user who decides on it, such as a question whether a
// program may run a command: what a program chose (a page's name, a
// command, a path, a URL) must not rearrange the question around it.
#include <cstddef>

#include "text/u16.h"

namespace velmora::text {

// Every character that would break the line, hide what follows or change
// the order it is read in shown as an escape: controls (C0, DEL, C1) as
// \xHH, line and paragraph separators, direction marks, embeddings,
// overrides and isolates and a lone half of a surrogate pair as \uHHHH.
// With a width, the result is broken into lines of at most that many
// characters (CR between, followed by `indent`), an escape never split.
u16 visible_text(u16view text, std::size_t width = 0, u16view indent = {});

}  // namespace velmora::text
