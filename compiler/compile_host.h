#pragma once
#include "text/u16.h"

namespace velmora::compiler {

class StatementCompiler;

// What the compiler needs from its surroundings: modal messages, placing the
// editor on an error line, and the step-mode wait. A compile runs to its end
// without handing control back to any event loop.
class CompileHost {
 public:
  virtual ~CompileHost() = default;
  virtual void message(const u16 &text) = 0;
  virtual void locateLine(u16view /*line*/) {}
  // Step mode: called before every token is taken, with the whole compile
  // state readable from the compiler. A host that shows the state and waits
  // for the user ends the compile here by throwing, and compiles the same
  // tokens again (they compile the same way) to go one token further.
  virtual void stepWait(const StatementCompiler & /*state*/) {}
};

}  // namespace velmora::compiler
