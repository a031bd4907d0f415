#pragma once
// The built-in grammar ships its library rules as comment lines
// ("//#800: ..."); tests of library calls turn them into rules ("#800: ...").
#include "environment/environment.h"

namespace velmora::testing {

inline void enable_library_rules(environment::Environment &env) {
  for (u16 &line : env.language.tables.syntax)
    if (line.size() > 6 && line.substr(0, 3) == u"//#" && line[6] == u':' && line.substr(3, 1) == u"8")
      line = line.substr(2);
  env.language.tables.ReconstSyntax([](const u16 &) {});
}

}  // namespace velmora::testing
