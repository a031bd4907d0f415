#include "environment/monitor.h"

#include "engine/number_format.h"

namespace velmora::environment {

using namespace velmora::engine;

u16 three_decimals(long double v) { return format_picture(v, u"0.000"); }

Lines task_registers(const Engine &e, int slot) {
  Lines out;
  if (slot < 0 || slot >= kSlots) return out;
  const TTaskInfo &t = e.task(slot);
  out.push_back(u"TASK  " + text::int16(slot) + u" / EXEC  " + text::int16(t.INSTP));
  out.push_back(u"STACK   " + text::int16(t.STACKP));
  out.push_back(t.FLAG ? u16(u"BOOL    TRUE") : u16(u"BOOL    FALSE"));
  out.push_back(u"WORK    " + three_decimals(t.WORK));
  out.push_back(u"STRING  " + t.STR_WORK.str());
  out.push_back(u"LIST_WK " + text::int16(long(t.LIST_WORK.size())));
  out.push_back(u"LIST_RM " + text::int16(long(t.LIST_REM.size())));
  out.push_back(u"VECT X  " + three_decimals(t.VECTOR.X));
  out.push_back(u"VECT Y  " + three_decimals(t.VECTOR.Y));
  out.push_back(u"VECT Z  " + three_decimals(t.VECTOR.Z));
  out.push_back(t.WAIT ? u16(u"WAIT    WAITING") : u16(u"WAIT    -------"));
  out.push_back(u"W-COUNT " + text::int16(t.WAITCOUNT));
  out.push_back(u"OPE  1  " + three_decimals(t.OPE1));
  out.push_back(u"OPE  2  " + three_decimals(t.OPE2));
  out.push_back(u"OPE  3  " + three_decimals(t.OPE3));
  return out;
}

std::vector<Lines> task_grid(const Engine &e) {
  std::vector<Lines> rows;
  for (int slot = 0; slot < kSlots; ++slot) {
    const TTaskInfo &t = e.task(slot);
    if (t.state == tsEMPTY) continue;
    u16 state = t.state == tsACTIVE ? u"稼動" : t.state == tsSTOP ? u"停止" : u"終了";
    rows.push_back({state, text::int16(t.INSTP), text::int16(t.STACKP), t.FLAG ? u"T" : u"F", t.WAIT ? u"W" : u"-",
                    t.IntRequest ? u"REQ" : u"", t.IntProcess ? u"SRV" : u""});
  }
  return rows;
}

namespace {

// Timer and handler names are kept as written; the grid shows them bare.
u16 unquoted(const u16 &name) {
  if (name.size() >= 2 && name.front() == u'"' && name.back() == u'"') return name.substr(1, name.size() - 2);
  return name;
}

}  // namespace

std::vector<Lines> timer_grid(const Engine &e) {
  std::vector<Lines> rows;
  for (int i = 0; i < kTimers; ++i) {
    const TTimerInfo &t = e.timer(i);
    if (t.state == TTimerInfo::Free) continue;
    rows.push_back({unquoted(t.name), text::int16(t.interval), text::int16(t.displayCount),
                    u16(timer_state_text(t.state)), unquoted(t.handler), text::int16(t.owner),
                    text::int16(t.handlerPos), text::int16(t.fireCount)});
  }
  return rows;
}

Lines variable_list(const Engine &e, int slot, u16view breakLine) {
  Lines out;
  u16 owner = slot < 0 ? u16() : text::int16(slot);
  // The stop line of the task asked for: the held line, or where it last
  // executed; never the line another task stands at.
  const ExecutionPoint &p = e.watchedTask() >= 0 ? e.watchedPoint() : e.lastPoint();
  u16 stop = breakLine.empty() ? e.lineOf(p) : u16(breakLine);
  if (slot >= 0 && slot < kSlots && breakLine.empty() && p.task != slot) {
    const TTaskInfo &t = e.task(slot);
    ExecutionPoint own;
    own.task = slot;
    own.list = t.PcodeListNo;
    own.position = int(t.INSTP) - 1;
    stop = t.state != tsEMPTY && own.position >= 0 ? e.lineOf(own) : u16();
  }
  out.push_back(owner + u":(* 停止行 *)/Stp/" + stop);
  int functions = slot >= 0 ? slot : e.watchedTask();
  if (functions >= 0)
    for (const u16 &f : e.listFunctions(functions)) {
      std::size_t blank = f.find(u' ');
      out.push_back(owner + u":" + f.substr(blank + 1) + u"/Fun/" + f.substr(0, blank));
    }
  for (int i = 0; i < kVariables; ++i) {
    const TVarInfo &v = e.variables()[i];
    if (v.name.empty() || (slot >= 0 && v.Slot != slot)) continue;
    u16 who = text::int16(v.Slot).substr(0, 10);
    if (v.share) who = u"%" + who;
    u16 line = who + u":" + v.name;
    if (v.kind == vtSTRING || v.kind == vtLIST) {
      line += v.StrList.empty() ? u"/Str/" + v.StrVal.str() : u"/Lst/" + text::int16(long(v.StrList.size()));
    } else if (v.kind == vtVECTOR) {
      line += u"/Vct/(" + three_decimals(v.Val1) + u"," + three_decimals(v.Val2) + u"," + three_decimals(v.Val3) + u")";
    } else if (!v.name.empty() && v.name[0] == u'%') {
      line += u"/Mat/R[ " + text::int16(v.MatRow) + u" ] C[ " + text::int16(v.MatCol) + u" ]";
    } else {
      line += u"/Num/" + three_decimals(v.Val1);
    }
    out.push_back(line);
  }
  return out;
}

VariableCells variable_cells(u16view line) {
  VariableCells cells;
  const std::size_t colon = line.find(u':');
  if (colon == u16view::npos) {
    cells.name = u16(line);
    return cells;
  }
  cells.owner = u16(line.substr(0, colon));
  const u16view rest = line.substr(colon + 1);
  // The first tag after the name: the content may hold any text, slashes too.
  std::size_t at = u16view::npos;
  for (u16view tag : {u16view(u"/Stp/"), u16view(u"/Fun/"), u16view(u"/Str/"), u16view(u"/Lst/"), u16view(u"/Vct/"),
                      u16view(u"/Mat/"), u16view(u"/Num/")}) {
    const std::size_t p = rest.find(tag);
    if (p < at) at = p;
  }
  if (at == u16view::npos) {
    cells.name = u16(rest);
    return cells;
  }
  cells.name = u16(rest.substr(0, at));
  cells.type = u16(rest.substr(at + 1, 3));
  cells.content = u16(rest.substr(at + 5));
  return cells;
}

}  // namespace velmora::environment
