#pragma once
// The task record of a slot.
#include <array>
#include <memory>

#include "engine/line_list.h"
#include "engine/rest_list.h"
#include "engine/str_value.h"
#include "engine/types.h"

namespace velmora::engine {

enum class TextEncoding : std::uint8_t { None, Utf8, Sjis };

// A task's drawing state on one canvas.
struct DrawState {
  int penX = 0, penY = 0;
  int penWidth = 1;
  int penColour = 0;          // black
  int baseColour = 0xFFFFFF;  // white fill
  bool penNotXor = false;
  int penStyle = 0;
  u16 fontName;  // empty: the default font
  int fontSize = 10;
  int fontStyle = 0;
  int areaColour = 0xFFFFFF;
  bool areaSet = false;  // else the whole canvas
  int areaLeft = 0, areaTop = 0, areaRight = 0, areaBottom = 0;
  int marginLeft = 0, marginTop = 0, marginRight = 0, marginBottom = 0;
  bool imageAreaSet = false;
  int imageLeft = 0, imageTop = 0, imageRight = 0, imageBottom = 0;
  bool imageCompress = false;
};

// A task's matrix work area, 21 x 21, made (zeroed) on first use: most
// tasks never compute with matrices, and twenty-two areas in every engine
// would otherwise be 150 KB written at start. Copies copy the numbers.
class TaskMatrix {
 public:
  using Rows = std::array<std::array<long double, kMatrixSize>, kMatrixSize>;
  TaskMatrix() = default;
  TaskMatrix(const TaskMatrix &o) : m_(o.m_ ? std::make_unique<Rows>(*o.m_) : nullptr) {}
  TaskMatrix &operator=(const TaskMatrix &o) {
    if (this != &o) m_ = o.m_ ? std::make_unique<Rows>(*o.m_) : nullptr;
    return *this;
  }
  TaskMatrix(TaskMatrix &&) noexcept = default;
  TaskMatrix &operator=(TaskMatrix &&) noexcept = default;

  Rows &rows() {
    if (!m_) m_ = std::make_unique<Rows>();
    return *m_;
  }
  // An area not made yet reads as zeros.
  const Rows &rows() const {
    static const Rows zeros{};
    return m_ ? *m_ : zeros;
  }
  std::array<long double, kMatrixSize> &operator[](int i) { return rows()[std::size_t(i)]; }

 private:
  std::unique_ptr<Rows> m_;
};

struct TTaskInfo {
  u16 FileName;
  int32_t SrcIndex = -1;
  int32_t PcodeListNo = -1;
  u16 name;
  bool Permit = false;
  TTaskState state = tsEMPTY;
  uint16_t INSTP = 0;
  int32_t STACKP = -1;
  bool FLAG = false;
  long double WORK = 0;
  T3D_Point VECTOR;
  long double OPE1 = 0, OPE2 = 0, OPE3 = 0;
  bool fParamStore = false;
  int32_t ParamCount = 0;
  int32_t ParamStored = 0;  // parameters collected so far in the current list
  std::array<long double, kParamValues> ParamVal{};
  u16 MAT_OPE;
  TaskMatrix Mat;
  u16 STR_OPE;
  StrValue STR_WORK, STR_REM;
  LineList LIST_WORK;
  RestList LIST_REM;
  u16 SORT_LIST, LIST_TASK, LIST_INC, LIST_NOCASE;
  bool BOOL_TASK = false;
  int32_t CalcIndex = -1;
  int32_t BPInfoIndex = -1;
  u16 HTTP_Connect_ID;
  bool fDL_Complete = false;
  bool HTTP_REQ = false;
  u16 HTTP_REQ_FILE;
  Lines HTTP_REQ_HEAD;
  int32_t HTTP_REQ_HEAD_VAR = -1;  // the list variable HTTP named, held by reference
  TextEncoding Encode_Load = TextEncoding::None;
  TextEncoding Encode_Save = TextEncoding::None;
  int32_t SelCan = -1;
  std::array<DrawState, 21> draw{};  // per canvas
  double CANGO_TIME = 0;             // end of the current WAIT, in tenths of a second
  bool WAIT = false;
  int32_t WAITCOUNT = 0;
  bool IntRequest = false;
  bool IntProcess = false;
  int32_t TimerID = 0;
  bool WAIT_IO_COMPLETE = false;
};

// An interval timer, shared by the engine.
struct TTimerInfo {
  enum State : std::uint8_t { Free = 0, Set = 1, Working = 2, Suspend = 3 };
  u16 name;  // as written, quotes included
  int32_t interval = 0;
  int32_t displayCount = 0;
  double nextTime = 0;
  State state = Free;
  u16 handler;  // as written, quotes included
  int32_t owner = -1;
  int32_t handlerPos = -1;
  int32_t fireCount = 0;
  int32_t chartPos1 = 0, chartPos2 = 0;
};

// The texts of the timer grid's state column.
u16view timer_state_text(TTimerInfo::State s);

}  // namespace velmora::engine
