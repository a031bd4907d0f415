#pragma once
#include "text/u16.h"

namespace velmora::compiler {

class StatementCompiler;

// What the compiler needs from its surroundings: modal messages, event
// processing while it works, placing the editor on an error line, and the
// step-mode wait. Headless, every method but message returns at once.
class CompileHost {
 public:
  virtual ~CompileHost() = default;
  virtual void message(const u16 &text) = 0;
  virtual void pumpEvents() {}
  virtual void locateLine(u16view /*line*/) {}
  // Step mode: called before every token is taken, with the whole compile
  // state readable from the compiler; returns when the user asks for the
  // next token (or ends step mode).
  virtual void stepWait(const StatementCompiler & /*state*/) {}
};

}  // namespace velmora::compiler
