#pragma once
#include <cstdint>

#include "engine/instructions.h"
#include "text/u16.h"

namespace velmora::engine {

constexpr int kSlots = 10;     // task slots and P-code lists
constexpr int kLabels = 1001;  // label table entries per slot (1000 never used)
// Records a P-code list may hold. The execution point is 16 bits wide, and
// the position after the last record must fit too: at 65,536 records it
// would wrap to 0 and the program would start again instead of ending.
constexpr int kMaxRecords = 65535;
constexpr int kCallStack = 101;   // call stack entries per task
constexpr int kCalcStack = 51;    // calculation stack entries per task
constexpr int kVariables = 5000;  // variable table entries (+ the unused entry 5000)
constexpr int kMatrixSize = 21;   // matrix storage is 21 x 21
constexpr int kParamValues = 21;  // collected function parameters
constexpr int kTimers = 10;
constexpr int kFiles = 10;
constexpr int kLibraries = 11;
constexpr int kLibraryFunctions = 101;
constexpr int kNameLength = 20;  // task, variable, timer and handler names

enum TTaskState : std::uint8_t { tsEMPTY = 0, tsACTIVE = 1, tsSTOP = 2, tsEND = 3 };

// The state texts the environment shows.
u16view task_state_text(TTaskState s);
// A slot as the task lists show it to the user: "01" to "10".
u16 slot_name(int slot);

enum TVarType : std::uint8_t { vtSCALAR = 0, vtVECTOR = 1, vtSTRING = 2, vtLIST = 3, vtMATRIX = 4 };

struct T3D_Point {
  long double X = 0, Y = 0, Z = 0;
};

// Record kinds that are not rule codes (names kept for the tools and tests).
constexpr int kKindLabel = opLABEL;
constexpr int kKindFunction = opFUNCTION;
constexpr int kKindBreakpoint = opBREAKPOINT;

}  // namespace velmora::engine
