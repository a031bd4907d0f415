#pragma once
// The task and variable monitor as texts: the registers of a task, the task
// and timer grids and the variable list, read from the engine's tables.
#include "engine/engine.h"

namespace velmora::environment {

// "0.000": three decimals, rounded half away from zero.
u16 three_decimals(long double v);

Lines task_registers(const engine::Engine &e, int slot);
// Rows of the task grid: STS, PC, STK, BOOL, WAIT, IREQ, ISRV (non-empty slots).
std::vector<Lines> task_grid(const engine::Engine &e);
// Rows of the timer grid: TNAME, INI, CNT, STS, HANDLER, TASK, LINE, EVENT.
std::vector<Lines> timer_grid(const engine::Engine &e);
// The variable list of one task (slot) or of all tasks (slot -1); breakLine is
// the source line of a held break, or empty.
Lines variable_list(const engine::Engine &e, int slot, u16view breakLine);

// A line of the variable list in the four columns of its grid (" #", " Var",
// " Type", " Cont"): owner text, name, type tag ("Stp", "Fun", "Str", "Lst",
// "Vct", "Mat", "Num") and content. A line without a tag keeps its text
// as the name.
struct VariableCells {
  u16 owner, name, type, content;
};
VariableCells variable_cells(u16view line);

}  // namespace velmora::environment
