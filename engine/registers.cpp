#include "engine/registers.h"

#include "engine/text_ops.h"

namespace velmora::engine {

void deliver_string(TTaskInfo &t, StrValue result) {
  if (t.STR_OPE == u"+") {
    t.STR_OPE.clear();
    t.STR_WORK += result;
  } else {
    t.STR_WORK = std::move(result);
  }
}

void deliver_string(TTaskInfo &t, StrValue result, StrValue rest) {
  if (t.STR_OPE == u"+") {
    t.STR_OPE.clear();
    t.STR_WORK += result;
    t.STR_REM += rest;
  } else {
    t.STR_WORK = std::move(result);
    t.STR_REM = std::move(rest);
  }
}

void nothing_found(TTaskInfo &t) {
  if (t.STR_OPE == u"+") t.STR_OPE.clear();
  else t.STR_WORK.clear();
}

void begin_list(TTaskInfo &t) {
  if (t.LIST_TASK == u"+") {
    t.LIST_TASK.clear();
  } else {
    t.LIST_WORK.clear();
    t.LIST_REM.clear();
  }
}

void finish_list(TTaskInfo &t) { apply_list_order(t.SORT_LIST, t.LIST_WORK, t.LIST_REM); }

}  // namespace velmora::engine
