#pragma once
// The P-code listing: one line per record, shared by the debugger view,
// velmora-run --listing and the saved ".MCP" files.
#include "engine/pcode.h"

namespace velmora::engine {

class Machine;

// Source line, blank, the kind ("0098"; "-001" for labels, "-002" for
// function entries), blank, then Param[1] to Param[9] each followed by a blank.
u16 listing_line(const TPEXE &record);

// The name and one-line description of a kind, for the debugger's view:
// "JMP_IF_FALSE: jump to label Param[1] if FLAG is false"; empty for a kind
// without a row.
u16 instruction_caption(int kind);

// Every record of a slot (engine/ only: others ask Engine::listing).
Lines slot_listing(const Machine &machine, int slot);

// For every record of a linked slot, the fast forms it will take
// (engine/fast/forms.h): its own form, the step that starts at it and the
// rounds a loop step goes on to ("compare, step compare_jump"); empty for a
// label or function line.
Lines form_listing(const Machine &machine, int slot);

}  // namespace velmora::engine
