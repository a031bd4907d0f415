#pragma once
// The debugger: the breakpoint table ("BP", "Task", "Src", "Pcd", "Cond",
// "Eval", "Break"), the break records it keeps in the engine, and the hold
// of a task that reached one, stepped line by line while the others run on.
// The run loop asks it after every batch of passes (checkHolds, stepOneLine);
// the window shows its state and sends the user's commands.
#include <array>

#include "engine/engine.h"
#include "environment/settings.h"
#include "environment/user_interface.h"

namespace velmora::environment {

struct Breakpoint {
  bool used = false;
  int number = 0;  // in order of creation
  int slot = -1;
  int line = -1;   // source line index
  int pcode = -1;  // where the break record went in
  u16 condition;   // "STOP" holds the task, "GO" counts and passes
  int hits = 0;
};

class Debugger {
 public:
  static constexpr int kBreakpoints = 100;

  Debugger(engine::Engine &engine, UserInterface &ui, const Settings &settings);

  // ----- the table
  // "ブレーク+": a break record before the first record of the source line;
  // false when the line has no code, already has a break, or the table is full.
  bool addBreakpoint(int slot, int line);
  // "ブレーク−" and a click on a marked gutter line: the line's break record
  // goes and its row is freed; false when the line has no breakpoint.
  bool removeBreakpoint(int slot, int line);
  void removeSlotBreakpoints(int slot);
  void clearBreakpoints();  // "全て削除"
  bool isBreakpoint(int slot, int line) const;
  int breakpointCount() const;
  // The row of the breakpoint with that number, or null.
  const Breakpoint *numbered(int number) const;
  const std::array<Breakpoint, kBreakpoints> &breakpoints() const { return breakpoints_; }
  // The table's pop-up: "ストップ" makes a row "STOP", "続行" makes it "GO".
  // False for a free row or another condition.
  bool setBreakpointCondition(int row, u16view condition);
  // A row of the table as shown under "BP", "Task", "Src", "Pcd", "Cond",
  // "Eval", "Break"; every cell empty for a free row.
  std::array<u16, 7> breakpointCells(int row) const;

  // ----- holds during a run
  void continueFromBreak();  // "＞*"
  void requestLineStep();    // "＞-"
  // A run starts: no hold, no step request, hit counts from zero.
  void Initial_Debugger();
  // After a batch of passes: a task stopped at a "GO" break passes on, one
  // at a "STOP" break becomes the held task (one at a time).
  void Check_Task_BREAK();
  // One line further for the held task: it runs until its source line changes.
  void stepOneLine();

  bool breakActive() const { return breakActive_; }
  bool stepLineRequest() const { return stepLineRequest_; }
  int breakTask() const { return breakTask_; }
  const u16 &breakLine() const { return breakLine_; }
  int haltCount() const { return haltCount_; }

 private:
  engine::Engine &engine_;
  UserInterface &ui_;
  const Settings &settings_;
  std::array<Breakpoint, kBreakpoints> breakpoints_{};
  int breakpointsCreated_ = 0;
  int haltCount_ = 0;
  bool breakActive_ = false, stepLineRequest_ = false;
  int breakTask_ = -1;
  u16 breakLine_;
  Breakpoint *breakpoint(int number);
};

}  // namespace velmora::environment
