#pragma once
// Each instruction family registers its handlers with the engine.
#include "text/u16.h"

namespace velmora::engine {

class Engine;

// The code of a string for the ASC and HEX comparisons.
long double string_code(u16view word, u16view s);

void register_control(Engine &e);  // jumps, CALL/RET, FUNCTION, STOP, WAIT, timers, breakpoints
void register_eval(Engine &e);     // arithmetic, functions, comparisons, matrices, vectors
void register_strings(Engine &e);  // string and list expressions, stores and predicates
void register_console(Engine &e);  // console output and reading it back
void register_files(Engine &e);    // numbered files, whole-file reads and stores, directories
void register_processes(Engine &e);  // COMMAND and EXEC FILE
void register_libraries(Engine &e);  // LIB, LIBA and library calls
void register_pages(Engine &e);      // the program tabs as pages
void register_http(Engine &e);       // GET, POST, request parameters, URL decoding
void register_graphics(Engine &e);   // canvases and GRAPH commands

}  // namespace velmora::engine
