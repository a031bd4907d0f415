#pragma once
// Each instruction family registers its handlers with the engine.
#include "text/u16.h"

namespace velmora::engine {

class Engine;

// The code of a string for the ASC and HEX comparisons.
long double string_code(u16view word, u16view s);

void register_control(Engine &e);  // jumps, CALL/RET, FUNCTION, STOP, WAIT, timers, breakpoints
void register_eval(Engine &e);     // arithmetic, functions, comparisons, matrices, vectors

}  // namespace velmora::engine
