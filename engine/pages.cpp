// Pages: running programs read and change the program tabs of the
// environment, create, free, rename, save and load them, and run one as a
// further task. Pages are 1..10 in programs, 0..9 in the services.
#include <cmath>

#include "text/beneath.h"
#include "engine/machine.h"
#include "engine/families.h"
#include "engine/registers.h"

namespace velmora::engine {

namespace {

long page_number(Machine &e, TTaskInfo &t, const TPEXE &r, int k) {
  long double n = std::trunc(e.num(t, r, k));
  return n > 1e9L ? 1000000000L : n < -1e9L ? -1000000000L : long(n);
}

// The page index of operand k, or -1 after the range error.
int page_index(Machine &e, TTaskInfo &t, const TPEXE &r, int k, bool listMessage) {
  long n = page_number(e, t, r, k);
  if (e.errorFlag) return -1;
  if (n < 1 || n > kSlots) {
    e.runtimeError(u16(listMessage ? u"エラー：頁範囲エラー " : u"頁範囲エラー ") + text::int16(n));
    return -1;
  }
  return int(n - 1);
}

// The current task's home page, checked like an operand for INS and DEL.
int own_page(Machine &e, TTaskInfo &t, bool check) {
  int i = t.SrcIndex;
  if (check && (i < 0 || i >= kSlots)) {
    e.runtimeError(u"頁範囲エラー " + text::int16(i + 1));
    return -1;
  }
  return i;
}

void line_error(Machine &e) { e.runtimeError(u"エラー　不正なページ、行指定"); }
void page_error(Machine &e) { e.runtimeError(u"エラー　不正なページ指定"); }

void get_page(Machine &e, TTaskInfo &t, int page) {
  begin_list(t);
  Lines lines;
  e.host->Get_Page_Append(page, lines);
  t.LIST_WORK.append(LineList(std::move(lines)));
  finish_list(t);
}

// Line m of a page through the list register, as GET PAGE fills it.
void page_line(Machine &e, TTaskInfo &t, int page, long m) {
  get_page(e, t, page);
  if (m < 0 || m >= long(t.LIST_WORK.size())) return line_error(e);
  deliver_string(t, t.LIST_WORK.value(std::size_t(m)));
}

void op_get_page(Machine &e, TTaskInfo &t, const TPEXE &r) {
  int page = page_index(e, t, r, 1, true);
  if (page >= 0) get_page(e, t, page);
}

void op_add_line(Machine &e, TTaskInfo &t, const TPEXE &r) {
  int page = page_index(e, t, r, 1, true);
  if (page >= 0) e.host->Add_To_Page(page, t.STR_WORK);
}

void op_clear_page(Machine &e, TTaskInfo &t, const TPEXE &r) {
  int page = page_index(e, t, r, 1, false);
  if (page >= 0) e.host->Clear_Page(page);
}

void op_new_page(Machine &e, TTaskInfo &t, const TPEXE &) { t.WORK = e.host->New_Page(); }

void op_run_page(Machine &e, TTaskInfo &t, const TPEXE &r) {
  long n = page_number(e, t, r, 1);
  if (e.errorFlag) return;
  if (n <= 0)
    return e.runtimeError(u" 指定ページが実行できない:" + r.Param[2] + u"=" + text::int16(n) + u" /現在利用可能変数=" +
                          text::int16(e.vars.countFree()));
  if (n > kSlots) return e.runtimeError(u"頁範囲エラー " + text::int16(n));
  // Replacing the slot of the task that runs this instruction would free the
  // code it is executing.
  if (n - 1 == e.current) return e.runtimeError(u" 実行登録できません");
  // No task advances while the page compiles.
  e.host->setRunPaused(true);
  e.host->Let_Page_Active(int(n - 1));
  int slot = e.host->Compile_Replace(int(n - 1), tsSTOP);
  e.host->setRunPaused(false);
  if (slot < 0) return e.runtimeError(u" 実行登録できません");
  // The run linked every slot when it started; the new code is linked now.
  if (e.linkSlot(slot)) return e.runtimeError(u"タスク " + slot_name(slot) + u" 内部エラー: ラベル過多\r");
  e.tasks[std::size_t(slot)].Permit = true;
  e.scheduleChanged();
}

void op_free_page(Machine &e, TTaskInfo &t, const TPEXE &r) {
  int page = page_index(e, t, r, 1, false);
  if (page >= 0) e.host->Free_Page(page, e.current);
}

void set_slot_state(Machine &e, TTaskInfo &t, const TPEXE &r, TTaskState state) {
  int page = page_index(e, t, r, 1, false);
  if (page < 0) return;
  TTaskInfo &target = e.tasks[std::size_t(page)];
  if (target.state == tsEMPTY) return;  // a slot without a program stays empty
  target.state = state;
  if (state == tsACTIVE && target.WAIT) e.anyWait = true;
  e.scheduleChanged();
}

void op_stop_page(Machine &e, TTaskInfo &t, const TPEXE &r) { set_slot_state(e, t, r, tsSTOP); }
void op_active_page(Machine &e, TTaskInfo &t, const TPEXE &r) { set_slot_state(e, t, r, tsACTIVE); }

void op_page_status(Machine &e, TTaskInfo &t, const TPEXE &r) {
  int page = page_index(e, t, r, 1, false);
  if (page >= 0) t.WORK = e.tasks[std::size_t(page)].state;
}

void op_page_store(Machine &e, TTaskInfo &t, const TPEXE &r) {
  int page = page_index(e, t, r, 1, false);
  if (page < 0) return;
  if (r.Param[3] == u"=") {
    e.host->Set_Page_Append(page, t.LIST_WORK.lines());
  } else {
    for (const u16view line : t.LIST_WORK) e.host->Add_To_Page(page, line);
  }
}

void op_page_self(Machine &, TTaskInfo &t, const TPEXE &) { t.WORK = t.SrcIndex + 1; }

void op_caller_line(Machine &e, TTaskInfo &t, const TPEXE &) {
  t.WORK = -1;
  if (t.STACKP < 0 || t.PcodeListNo < 0) return e.runtimeError(u"エラー　不正な行番号");
  int p = e.callStack[std::size_t(e.current)][std::size_t(t.STACKP)];
  const PcodeList &list = e.lists[std::size_t(t.PcodeListNo)];
  int line = 0;
  if (p < 1 || p - 1 >= int(list.size()) || !text::parse_int(list[std::size_t(p - 1)].Param[10], line))
    return e.runtimeError(u"エラー　不正な行番号");
  t.WORK = line;
}

long line_number(Machine &e, TTaskInfo &t, const TPEXE &r, int k) { return page_number(e, t, r, k); }

void op_self_line(Machine &e, TTaskInfo &t, const TPEXE &r) {
  long m = line_number(e, t, r, 1);
  if (!e.errorFlag) page_line(e, t, own_page(e, t, false), m);
}

void op_page_line(Machine &e, TTaskInfo &t, const TPEXE &r) {
  int page = page_index(e, t, r, 1, true);
  long m = line_number(e, t, r, 3);
  if (page >= 0 && !e.errorFlag) page_line(e, t, page, m);
}

void insert_line(Machine &e, int page, long m, const u16 &s) {
  if (m < 0 || m > 1000000000L || !e.host->Ins_To_Page(page, int(m), s)) line_error(e);
}

void op_self_insert(Machine &e, TTaskInfo &t, const TPEXE &r) {
  long m = line_number(e, t, r, 1);
  u16 s = e.str(r, 3);
  int page = own_page(e, t, true);
  if (page >= 0 && !e.errorFlag) insert_line(e, page, m, s);
}

void op_page_insert(Machine &e, TTaskInfo &t, const TPEXE &r) {
  int page = page_index(e, t, r, 1, false);
  long m = line_number(e, t, r, 3);
  u16 s = e.str(r, 5);
  if (page >= 0 && !e.errorFlag) insert_line(e, page, m, s);
}

void delete_line(Machine &e, int page, long m) {
  if (m < 0 || m > 1000000000L || !e.host->Del_From_Page(page, int(m))) line_error(e);
}

void op_self_delete(Machine &e, TTaskInfo &t, const TPEXE &r) {
  long m = line_number(e, t, r, 1);
  int page = own_page(e, t, true);
  if (page >= 0 && !e.errorFlag) delete_line(e, page, m);
}

void op_page_delete(Machine &e, TTaskInfo &t, const TPEXE &r) {
  int page = page_index(e, t, r, 1, false);
  long m = line_number(e, t, r, 3);
  if (page >= 0 && !e.errorFlag) delete_line(e, page, m);
}

void name_of(Machine &e, TTaskInfo &t, int page) {
  u16 name;
  if (!e.host->Get_Page_Name(page, name)) return page_error(e);
  deliver_string(t, name);
}

void rename(Machine &e, TTaskInfo &t, int page, const u16 &name) {
  if (!e.host->Set_Page_Name(page, name)) return page_error(e);
  deliver_string(t, name);
}

void op_self_name(Machine &e, TTaskInfo &t, const TPEXE &) { name_of(e, t, own_page(e, t, false)); }

void op_self_rename(Machine &e, TTaskInfo &t, const TPEXE &r) {
  u16 s = e.str(r, 1);
  if (!e.errorFlag) rename(e, t, own_page(e, t, false), s);
}

void op_page_name(Machine &e, TTaskInfo &t, const TPEXE &r) {
  int page = page_index(e, t, r, 1, false);
  if (page >= 0) name_of(e, t, page);
}

void op_page_rename(Machine &e, TTaskInfo &t, const TPEXE &r) {
  int page = page_index(e, t, r, 1, false);
  u16 s = e.str(r, 3);
  if (page >= 0 && !e.errorFlag) rename(e, t, page, s);
}

void save(Machine &e, int page, const u16 &file) {
  // A failed write is a file error, like every other write: the user
  // should look at the disk, not at the page number.
  u16 failedPath;
  if (!text::representable_file_name(file))
    return e.runtimeError(u"- ファイル パスエラー(" + text::escaped_file_name(file) + u")");
  if (e.host->Set_Page_Save(page, file, failedPath) || e.errorFlag) return;
  if (failedPath.empty()) page_error(e);
  else e.runtimeError(u"- ファイルI/Oエラー\r" + failedPath);
}

void load(Machine &e, int page, const u16 &file) {
  if (!text::representable_file_name(file))
    return e.runtimeError(u"- ファイル パスエラー(" + text::escaped_file_name(file) + u")");
  if (!e.host->Get_Page_Load(page, file) && !e.errorFlag) page_error(e);
}

void op_self_save(Machine &e, TTaskInfo &t, const TPEXE &r) {
  u16 f = e.rawStr(r, 1);
  if (!e.errorFlag) save(e, own_page(e, t, false), f);
}

void op_page_save(Machine &e, TTaskInfo &t, const TPEXE &r) {
  int page = page_index(e, t, r, 1, false);
  u16 f = e.rawStr(r, 3);
  if (page >= 0 && !e.errorFlag) save(e, page, f);
}

void op_self_load(Machine &e, TTaskInfo &t, const TPEXE &r) {
  u16 f = e.rawStr(r, 1);
  if (!e.errorFlag) load(e, own_page(e, t, false), f);
}

void op_page_load(Machine &e, TTaskInfo &t, const TPEXE &r) {
  int page = page_index(e, t, r, 1, false);
  u16 f = e.rawStr(r, 3);
  if (page >= 0 && !e.errorFlag) load(e, page, f);
}

}  // namespace

void register_pages(Machine &e) {
  e.setHandler(opGET_PAGE, op_get_page);
  e.setHandler(opADD_LINE, op_add_line);
  e.setHandler(opCLEAR_PAGE, op_clear_page);
  e.setHandler(opNEW_PAGE, op_new_page);
  e.setHandler(opRUN_PAGE, op_run_page);
  e.setHandler(opFREE_PAGE, op_free_page);
  e.setHandler(opSTOP_PAGE, op_stop_page);
  e.setHandler(opACTIVE_PAGE, op_active_page);
  e.setHandler(opPAGE_STATUS, op_page_status);
  e.setHandler(opPAGE_STORE, op_page_store);
  e.setHandler(opPAGE_SELF, op_page_self);
  e.setHandler(opCALLER_LINE, op_caller_line);
  e.setHandler(opSELF_LINE, op_self_line);
  e.setHandler(opSELF_INSERT, op_self_insert);
  e.setHandler(opPAGE_LINE, op_page_line);
  e.setHandler(opPAGE_INSERT, op_page_insert);
  e.setHandler(opSELF_DELETE, op_self_delete);
  e.setHandler(opPAGE_DELETE, op_page_delete);
  e.setHandler(opSELF_NAME, op_self_name);
  e.setHandler(opSELF_RENAME, op_self_rename);
  e.setHandler(opPAGE_NAME, op_page_name);
  e.setHandler(opPAGE_RENAME, op_page_rename);
  e.setHandler(opSELF_SAVE, op_self_save);
  e.setHandler(opPAGE_SAVE, op_page_save);
  e.setHandler(opSELF_LOAD, op_self_load);
  e.setHandler(opPAGE_LOAD, op_page_load);
}

}  // namespace velmora::engine
