#pragma once
// Each instruction family registers its handlers with the engine.
#include "text/u16.h"

namespace velmora::engine {

class Machine;

// The code of a string for the ASC and HEX comparisons.
long double string_code(u16view word, u16view s);

// A failing file instruction: the run-time error, or, when the run ignores
// file errors, one console line naming the path, and the run goes on.
void file_failure(Machine &e, u16view message, u16view path);

void register_control(Machine &e);    // jumps, CALL/RET, FUNCTION, STOP, WAIT, timers, breakpoints
void register_eval(Machine &e);       // arithmetic, functions, comparisons, matrices, vectors
void register_strings(Machine &e);    // string and list expressions, stores and predicates
void register_console(Machine &e);    // console output and reading it back
void register_files(Machine &e);      // numbered files, whole-file reads and stores, directories
void register_processes(Machine &e);  // COMMAND and EXEC FILE
void register_libraries(Machine &e);  // LIB, LIBA and library calls
void register_pages(Machine &e);      // the program tabs as pages
void register_http(Machine &e);       // GET, POST, request parameters, URL decoding
void register_graphics(Machine &e);   // canvases and GRAPH commands

}  // namespace velmora::engine
