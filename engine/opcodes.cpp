#include "engine/opcodes.h"

#include <memory>

namespace velmora::engine {

namespace {

// Slot sources for Param[1], Param[2], ... : "n" field n, "n'" field n after
// an optional NOT, "N" the NOT word or empty, "=X" the fixed text X, "-" empty.
struct Row {
  int code;
  const char *slots;
  const char16_t *mark;
  int markSlot;
};

const Row kRows[] = {
    {0, "N 1' 2' 3' 4' 5'", nullptr, 0},
    {1, "", u"[TRUE]", 1},
    {2, "", u"[FALSE]", 1},
    {3, "1 2 3 4 5", nullptr, 0},
    {4, "2 3", u"[NEG]", 3},
    {5, "1 2", nullptr, 0},
    {6, "1", nullptr, 0},
    {7, "1 3 5", nullptr, 0},
    {8, "2", nullptr, 0},
    {15, "3 1 2 4 5", nullptr, 0},
    {20, "2 3", u"<==", 3},
    {21, "2", u"<--", 2},
    {22, "2", u"<--", 2},
    {23, "2 3", u"<--", 3},
    {25, "", u"[STOP!]", 1},
    {30, "2 4", nullptr, 0},
    {31, "1 3 4 5", nullptr, 0},
    {32, "1 2 3 5", nullptr, 0},
    {33, "4", nullptr, 0},
    {34, "4 6 7 9 10", nullptr, 0},
    {40, "3 4", nullptr, 0},
    {41, "3 4", nullptr, 0},
    {42, "3 4", u"[VALUE]", 9},
    {43, "3 4 6 7", nullptr, 0},
    {44, "1 2 3", nullptr, 0},
    {45, "2 4 5", u"[ASSIGN STRING]", 9},
    {46, "1 2 4 5", u"[ADD STRING]", 9},
    {47, "1 2 6 7 9 10 12 13", u"[COPY]", 9},
    {48, "1 2 6 7 9 10", u"[FORMT]", 9},
    {49, "3 4 6 7", u"[STRING POS]", 9},
    {50, "2 3 5 6", u"[SETLINK]", 5},
    {51, "2 3 5 6", u"[DELLINK]", 5},
    {52, "2 3", u"[SETPOS]", 3},
    {53, "2 3", u"[GETPOS]", 3},
    {54, "2 3 5 6", u"[GETCHILD]", 5},
    {55, "2 3", u"[GETPAR]", 3},
    {56, "2 3 5 6 8 9", u"[ROT]", 7},
    {57, "2 3 6", u"[MOVE]", 4},
    {58, "2 3", u"[GETANG]", 3},
    {59, "2 3 6", u"[SETANG]", 4},
    {70, "3 4", u"[INPUT]", 3},
    {71, "2 3 5 6", u"[OUTPUT]", 5},
    {72, "", u"[PARA INPUT]", 1},
    {73, "2 3", u"[PARA OUTPUT]", 3},
    {74, "3 4", u"[JOY BTN]", 3},
    {75, "3 4", u"[JOY X]", 3},
    {76, "3 4", u"[JOY Y]", 3},
    {77, "3 4", u"[JOY Z]", 3},
    {78, "", u"[PARA STATUS]", 1},
    {79, "2 3", u"[PARA CONT]", 3},
    {80, "2 3", u"[WAIT]", 3},
    {81, "3 5 7 8 11", u"[TIMER SET]", 6},
    {82, "3 5", u"[TIMER CONTROL]", 3},
    {83, "", u"[INT RETURN]", 1},
    {95, "2", u"[JMP-IF-TRUE]", 2},
    {96, "", u"[RET]", 1},
    {97, "3", u"[CALL]", 2},
    {98, "2", u"[JMP-IF-FALSE]", 2},
    {99, "2", u"[JMP]", 2},
    {100, "1 2 3 4 5", nullptr, 0},
    {101, "1", nullptr, 0},
    {102, "1 2 3", u"[MATH FUNC.]", 9},
    {103, "1", u"[SET SCALAR]", 9},
    {109, "N 1' 2' 3'", nullptr, 0},
    {110, "", u"[BOOL INVERT]", 1},
    {120, "2 3 5 6 8 9", u"[MATRIX DEFINE]", 9},
    {121, "1 2 4 5 7 8", u"[MATRIX SET ELEM]", 9},
    {122, "1 2 4 5 7 8", u"[MATRIX SET ELEM]", 9},
    {123, "1 2 3", u"[MATRIX GET]", 9},
    {124, "1 2 3", u"[MATRIX OPERATE]", 9},
    {125, "1 2", u"[MATRIX STORE]", 9},
    {126, "1 2 4 5", u"[MATRIX STORE ROW]", 9},
    {127, "2 3 5 6", u"[VECTOR DEFINE]", 9},
    {128, "1 2 3", u"[MATRIX INVERSE/UNITIZE STORE]", 9},
    {129, "1 2 4 5", u"[MATRIX INVERSE/UNITIZE STORE]", 9},
    {130, "1 2", u"[PARAM OPE]", 9},
    {201, "N 3' 1' 2' 4' 6' 7'", nullptr, 0},
    {202, "N 6' 1' 3' 4' 7' 8'", nullptr, 0},
    {203, "N 1' 2' 3' 4' 5'", u"[EQUAL STR?]", 9},
    {204, "N 1' 2' 3' 4' 5'", u"[INCLUDE STR?]", 9},
    {300, "1 2", u"[LIST CLEAR]", 9},
    {301, "1 2 4 5 6", u"[LIST +-]", 9},
    {302, "1 2", u"[LIST SIZE]", 9},
    {303, "1 2 4 5", u"[LIST DEL LINE]", 9},
    {304, "1 2 4 5 10 11", u"[LIST INS LINE]", 9},
    {310, "1 2 4 5", u"[LIST 1 LINE GET]", 9},
    {311, "1 2", u"[STRING GET]", 9},
    {312, "1", u"[STRING CONCAT]", 9},
    {313, "1 2 4 5", u"[STRING 1 CHAR]", 9},
    {314, "1 2 4 5 8 9", u"[LIST 1 CHAR]", 9},
    {315, "3 4", u"[LIST 1 CHAR]", 9},
    {316, "1 2 4 5 8 9 11 12", u"[LIST  CHAR ZONE]", 9},
    {317, "1 2 4 5", u"[NUM FORMATTED]", 9},
    {318, "1 2 4 5 7 8", u"[STRING  CHAR ZONE]", 9},
    {320, "1 2", u"[VAR STORE]", 9},
    {321, "1 2", u"[LIST STORE]", 9},
    {322, "1 2 4 5", u"[LIST STORE]", 9},
    {323, "1 2 4 5 8 9", u"[LIST 1 CHAR ]", 9},
    {324, "1 2 4 5", u"[VAR ELEM STORE]", 9},
    {325, "2 3", u"[FILE STORE]", 9},
    {326, "1 2", u"[LIST ADD LINE]", 9},
    {327, "1 2 5 6", u"[LIST SPLIT STORE]", 9},
    {328, "2 3", u"[FILE DELETE]", 9},
    {329, "1 2 4 5", u"[STRING SPLIT STORE]", 9},
    {330, "1 2", u"[LIST GET]", 9},
    {331, "2 3", u"[TEXT FILE GET]", 9},
    {332, "", u"[DATE GET]", 9},
    {333, "", u"[TIME GET]", 9},
    {334, "1 2 4 5", u"[LIST COND GET]", 9},
    {335, "1 2 4 5 7 8", u"[LIST ZONE GET]", 9},
    {336, "1", u"[LIST OPTION]", 9},
    {337, "1", u"[LIST INCLUDE COND]", 9},
    {338, "1", u"[LIST NOCASE COND]", 9},
    {339, "1", u"[LIST TASK]", 9},
    {340, "1 2 4 5 8 9 11 12", u"[LIST LINE,ZONE]", 9},
    {341, "1 2 4 5 7 8", u"[LIST  CHAR ZONE BY LIST]", 9},
    {342, "1 2 4 5 8 9 11 12", u"[LIST  CHAR ZONE STOP LIST]", 9},
    {350, "2 3", u"[GET PAGE]", 9},
    {351, "2 3", u"[ADD LINE]", 9},
    {352, "2 3", u"[CLEAR PAGE]", 9},
    {353, "", u"[NEW PAGE]", 9},
    {354, "2 3", u"[RUN PAGE]", 9},
    {355, "2 3", u"[FREE PAGE]", 9},
    {356, "2 3", u"[STOP PAGE]", 9},
    {357, "2 3", u"[ACTIVE PAGE]", 9},
    {358, "2 3", u"[PAGE STATUS]", 9},
    {359, "2 3 5", u"[PAGE STORE/APPEND]", 9},
    {360, "", u"[PAGE SELF #]", 9},
    {361, "", u"[CALLER LINE]", 9},
    {362, "5 6", u"[SELF PAGE LINE]", 9},
    {363, "5 6 8 9", u"[SELF PAGE INS LINE]", 9},
    {364, "2 3 8 9", u"[PAGE LINE]", 9},
    {365, "2 3 8 9 11 12", u"[PAGE INS LINE]", 9},
    {366, "5 6", u"[PAGE DEL LINE]", 9},
    {367, "2 3 8 9", u"[PAGE DEL LINE]", 9},
    {368, "", u"[GET CONSOLE TEXT]", 9},
    {370, "2 3 5 6", u"[URL PARSE LIST]", 9},
    {371, "2 3", u"[URL PARSE STR]", 9},
    {372, "2 3 5 6", u"[URL FILE POST]", 9},
    {373, "2 3", u"[HTTP REQEST HEADER]", 9},
    {374, "2 3 4", u"[GET FILE ENCODED]", 9},
    {375, "2 3 4 6 7", u"[URL FILE POST ENCODED]", 9},
    {380, "", u"[PAGE Name Get]", 9},
    {381, "5 6", u"[PAGE Name Set]", 9},
    {382, "2 3", u"[PAGE Name Get]", 9},
    {383, "2 3 8 9", u"[PAGE Name Set]", 9},
    {384, "5 6", u"[PAGE Save]", 9},
    {385, "2 3 8 9", u"[PAGE Save]", 9},
    {386, "5 6", u"[PAGE Load]", 9},
    {387, "2 3 8 9", u"[PAGE Load]", 9},
    {405, "1 2 4 5", u"[DEL STRING]", 9},
    {406, "1 2 4 5 7 8", u"[REP STRING]", 9},
    {410, "N 1' 2'", u"[VAR STATE]", 9},
    {411, "N 1' 2' 4' 5'", u"[STRING STATE]", 9},
    {412, "N 1' 2'", u"[LIST STATE]", 9},
    {420, "3 4", u"[INT STRING]", 9},
    {421, "3 4", u"[STRING LENGTH]", 9},
    {422, "3 4 6 7 9 10", u"[COPY To REG]", 9},
    {460, "2 3", u"[VOLUME INFO]", 9},
    {461, "3 4 5", u"[DIR GET]", 9},
    {462, "3", u"[DIR GET]", 9},
    {500, "2 3", u"[GRAPH CMD]", 9},
    {501, "2 3", u"[GRAPH CMD]", 9},
    {502, "2 3", u"[GRAPH CMD]", 9},
    {503, "2 3", u"[GRAPH CMD]", 9},
    {504, "2 3 4 5", u"[GRAPH CMD]", 9},
    {505, "2 3 4 5 6 7", u"[GRAPH CMD]", 9},
    {506, "2 3", u"[GRAPH CMD]", 9},
    {507, "2 3 4 5", u"[GRAPH CMD]", 9},
    {508, "2 3 4 5 6 7", u"[GRAPH CMD]", 9},
    {509, "2 3 4 5", u"[GRAPH CMD]", 9},
    {510, "2 3 4 5 6 7", u"[GRAPH CMD]", 9},
    {700, "3 4 9 10 12", u"[FILE OPEN]", 6},
    {701, "3 4", u"[FILE CLOSE]", 3},
    {702, "3 4 9 10", u"[FILE READ]", 6},
    {703, "3 4 9 10", u"[FILE WRITE]", 6},
    {704, "N 3' 4'", u"[FILE EOF]", 4},
    {705, "N 2' 3'", u"[FILE EXIST]", 4},
    {750, "3 4 6 7", u"[CONSOLE POS]", 6},
    {751, "2", u"[CONSOLE]", 6},
    {752, "2 3", u"[CONSOLE]", 6},
    {753, "3 4", u"[CONSOLE BACK COLOR]", 6},
    {754, "3 4 6 7 9 10", u"[CONSOLE FONT]", 7},
    {755, "3 4", u"[CONSOLE ECHO]", 6},
    {756, "4", u"[CONSOLE GETS]", 6},
    {757, "2 3 4", u"[COMMAND ]", 6},
    {758, "2 3", u"[EXEC FILE]", 6},
    {759, "2 3", u"[CONSOLE LIST]", 6},
    {760, "", u"[CONSOLE MULTI]", 6},
    {761, "", u"[CONSOLE WORK.REG]", 6},
    {763, "2 3 5 6", u"[CONSOLE FORMAT OUT]", 6},
    {800, "3 4 5", u"[LIB DEFINE]", 6},
    {801, "2 3 4 5 6 7", u"[LIB FUN DEFINE]", 7},
    {810, "2 5 =0", u"[LIB EXEC 0]", 6},
    {811, "2 5 =1 7 8", u"[LIB EXEC 1]", 6},
    {812, "2 5 =2 7 8 10 11", u"[LIB EXEC 2]", 8},
    {813, "2 5 =3 7 8 10 11 13 14", nullptr, 0},
    {902, "", u"[FUNCTION DEF]", 6},
};

// Boolean rule codes whose field 1 may be the word NOT.
constexpr int kNotCodes[] = {0, 109, 201, 202, 203, 204, 410, 411, 412, 704, 705};

std::array<OpcodeInfo, 1000> build_table() {
  std::array<OpcodeInfo, 1000> table{};
  for (const Row &row : kRows) {
    OpcodeInfo &info = table[std::size_t(row.code)];
    info.code = row.code;
    if (row.mark) info.mark = row.mark;
    info.markSlot = row.markSlot;
    std::string_view slotList(row.slots);
    int k = 1;
    std::size_t pos = 0;
    while (pos < slotList.size() && k <= 9) {
      std::size_t end = slotList.find(' ', pos);
      if (end == std::string_view::npos) end = slotList.size();
      std::string_view item = slotList.substr(pos, end - pos);
      SlotSource &src = info.slots[std::size_t(k)];
      if (item == "N") {
        src.kind = SlotSource::NotWord;
      } else if (item == "-") {
        src.kind = SlotSource::Empty;
      } else if (item[0] == '=') {
        src.kind = SlotSource::Fixed;
        src.fixed = char16_t(item[1]);
      } else {
        bool shifted = item.back() == '\'';
        src.kind = shifted ? SlotSource::NotShifted : SlotSource::Field;
        src.field = std::uint8_t(std::stoi(std::string(item.substr(0, item.size() - (shifted ? 1 : 0)))));
      }
      ++k;
      pos = end + 1;
    }
  }
  for (int code : kNotCodes) table[std::size_t(code)].optionalNot = true;
  return table;
}

}  // namespace

const OpcodeInfo *opcode_info(int code) {
  static const std::array<OpcodeInfo, 1000> table = build_table();
  if (code < 0 || code >= 1000) return nullptr;
  const OpcodeInfo &info = table[std::size_t(code)];
  return info.code < 0 ? nullptr : &info;
}

}  // namespace velmora::engine
