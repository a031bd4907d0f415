// Console instructions: output of values, strings, lists and matrices, the
// CONSOLE commands, ECHO and reading the console back as a list.
#include <cmath>
#include <limits>

#include "engine/machine.h"
#include "engine/families.h"
#include "engine/number_format.h"
#include "engine/registers.h"

namespace velmora::engine {

namespace {

void new_line(Machine &e) { e.console.addLine(u"\r"); }

void op_console_command(Machine &e, TTaskInfo &, const TPEXE &r) {
  const u16 &word = r.Param[1];
  if (word == u"OPEN") e.console.reset();
  else if (word == u"CRLF" || word == u"/") new_line(e);
  else if (word == u"CLEAR") e.console.clear();
  // CLOSE and EXEC leave the buffer as it is.
}

// Appends the value of operand 1 (number, string or matrix), each number
// written by `text`.
template <typename NumberText>
void print_value(Machine &e, TTaskInfo &t, const TPEXE &r, NumberText text) {
  const u16 &cls = r.Param[1];
  if (is_number_class(cls)) {
    long double v = e.num(t, r, 1);
    if (!e.errorFlag) e.console.append(text(v));
  } else if (cls == u"□") {
    int idx = e.varOf(r, 2);
    if (idx < 0) return e.undefinedError(r.Param[2]);
    const TVarInfo &m = e.vars[idx];
    for (int i = 0; i < m.MatRow; ++i) {
      for (int j = 0; j < m.MatCol; ++j) {
        u16 item = text(m.matAt(i, j)) + u" ";
        if (item[0] != u'-') item.insert(0, 1, u' ');
        e.console.append(item);
      }
      new_line(e);
    }
  } else {
    u16 s = e.str(r, 1);
    if (!e.errorFlag) e.console.append(s);
  }
}

void op_console_value(Machine &e, TTaskInfo &t, const TPEXE &r) {
  print_value(e, t, r, [](long double v) { return general_number(v); });
}

void op_console_formatted(Machine &e, TTaskInfo &t, const TPEXE &r) {
  u16 fmt = e.str(r, 3);
  if (e.errorFlag) return;
  print_value(e, t, r, [&](long double v) { return format_picture(v, fmt); });
}

void op_console_string(Machine &e, TTaskInfo &t, const TPEXE &) { e.console.append(t.STR_WORK); }

void op_console_work(Machine &e, TTaskInfo &t, const TPEXE &) { e.console.append(general_number(t.WORK)); }

void op_console_list(Machine &e, TTaskInfo &t, const TPEXE &r) {
  if (!r.Param[2].empty()) {
    // With a list operand: its list get first.
    int idx = e.varOf(r, 2);
    begin_list(t);
    if (idx >= 0) t.LIST_WORK.append(e.vars[idx].StrList);
    finish_list(t);
  }
  for (const u16view line : t.LIST_WORK) e.console.addLine(line);
}

void op_console_echo(Machine &e, TTaskInfo &t, const TPEXE &r) {
  if (!is_number_class(r.Param[1])) return;
  long double code = std::nearbyint(e.num(t, r, 1));
  if (e.errorFlag || code < 0 || code > 0xFFFF) return;
  e.console.append(u16(1, char16_t(code)));
}

void op_console_text(Machine &e, TTaskInfo &t, const TPEXE &) {
  begin_list(t);
  t.LIST_WORK.append(LineList(e.console.lines()));
  finish_list(t);
}

// GETS: one line of keyboard input into the string variable. While the host
// has no line yet the task waits (as WAIT does, without a deadline) and the
// instruction is taken again when the host releases it; the other tasks run on.
void op_console_gets(Machine &e, TTaskInfo &t, const TPEXE &r) {
  if (!e.host) return;
  u16 line;
  switch (e.host->Console_Gets(e.current, line)) {
    case EngineHost::InputState::None: return;
    case EngineHost::InputState::Pending:
      --t.INSTP;
      t.WAIT = true;
      t.CANGO_TIME = std::numeric_limits<double>::infinity();
      e.anyWait = true;
      return;
    case EngineHost::InputState::Ready: e.setString(r.Param[1], line); return;
  }
}

}  // namespace

void register_console(Machine &e) {
  e.setHandler(opCONSOLE_COMMAND, op_console_command);
  e.setHandler(opCONSOLE_VALUE, op_console_value);
  e.setHandler(opCONSOLE_FORMATTED, op_console_formatted);
  e.setHandler(opCONSOLE_STRING, op_console_string);
  e.setHandler(opCONSOLE_WORK, op_console_work);
  e.setHandler(opCONSOLE_LIST, op_console_list);
  e.setHandler(opCONSOLE_ECHO, op_console_echo);
  e.setHandler(opCONSOLE_TEXT, op_console_text);
  e.setHandler(opCONSOLE_GETS, op_console_gets);
  // Position, background colour and font are accepted and do nothing in
  // the engine: their rows say so.
}

}  // namespace velmora::engine
