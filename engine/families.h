#pragma once
// Each instruction family registers its handlers with the engine.
namespace velmora::engine {

class Engine;

void register_control(Engine &e);  // jumps, CALL/RET, FUNCTION, STOP, WAIT, timers, breakpoints

}  // namespace velmora::engine
