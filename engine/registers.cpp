#include "engine/registers.h"

#include "engine/text_ops.h"

namespace velmora::engine {

namespace {

// Whether the join mark ("+", the only text it holds) is set: read by
// character, as every string result asks.
inline bool joining(const TTaskInfo &t) { return t.STR_OPE.size() == 1 && t.STR_OPE[0] == u'+'; }

}  // namespace

void deliver_string(TTaskInfo &t, StrValue result) {
  if (joining(t)) {
    t.STR_OPE.clear();
    t.STR_WORK += result;
  } else {
    t.STR_WORK = std::move(result);
  }
}

void deliver_value(TTaskInfo &t, const StrValue &result) {
  if (joining(t)) {
    t.STR_OPE.clear();
    t.STR_WORK += result;
  } else {
    t.STR_WORK = result;
  }
}

void deliver_text(TTaskInfo &t, u16view result) {
  if (joining(t)) {
    t.STR_OPE.clear();
    t.STR_WORK.append(result);
  } else {
    t.STR_WORK = StrValue::copyOf(result);
  }
}

void deliver_string(TTaskInfo &t, StrValue &&result, StrValue &&rest) {
  if (joining(t)) {
    t.STR_OPE.clear();
    t.STR_WORK += result;
    t.STR_REM += rest;
  } else {
    t.STR_WORK = std::move(result);
    t.STR_REM = std::move(rest);
  }
}

void nothing_found(TTaskInfo &t) {
  if (joining(t)) t.STR_OPE.clear();
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

void finish_list(TTaskInfo &t) {
  // Only an order option reads the rest (to sort or exchange it).
  if (!t.SORT_LIST.empty()) apply_list_order(t.SORT_LIST, t.LIST_WORK, t.LIST_REM.get());
}

}  // namespace velmora::engine
