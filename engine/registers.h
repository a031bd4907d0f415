#pragma once
// How results reach a task's string and list registers, shared by every
// family that produces strings or lists (strings, console, files, pages).
#include "engine/task.h"

namespace velmora::engine {

// A string result through the join mark: appended after "+", else replacing.
void deliver_string(TTaskInfo &t, StrValue result);
// The same for a value that the register shares.
void deliver_value(TTaskInfo &t, const StrValue &result);
// The same for a text that the register copies (joined in place).
void deliver_text(TTaskInfo &t, u16view result);
// The same for zone and list-line results, which carry a rest.
void deliver_string(TTaskInfo &t, StrValue &&result, StrValue &&rest);
// An instruction that finds nothing: clears the register, or only the mark.
void nothing_found(TTaskInfo &t);
// Empties the list registers before a list result unless a join is pending.
void begin_list(TTaskInfo &t);
// Applies (and clears) the list order option to a newly produced list.
void finish_list(TTaskInfo &t);

// A class token that stands for a number.
inline bool is_number_class(u16view cls) { return cls == u"Δ" || cls == u"∇" || cls == u"xN" || cls == u"xNVAR"; }

}  // namespace velmora::engine
