#pragma once
// The instruction set of the P-code, defined once. Every instruction is one
// row of VELMORA_INSTRUCTIONS; the loader (which T-code field goes into which
// Param slot), the linker, the scheduler, the listing, the compiler, the
// handler registration of every family and docs/instructions.md all read
// it. Adding an instruction touches one row (and its family's handler).
//
// This header depends on nothing but the standard library, so that the
// compiler and small tools can include it as well as the engine.
#include <array>
#include <cstdint>

namespace velmora::engine {

// What the rest of the system needs to know about a row besides its layout.
enum InstructionFlag : std::uint32_t {
  ifNone = 0,
  ifLabel = 1u << 0,           // label record "L_n": entered in the label table, does nothing
  ifFunction = 1u << 1,        // function record "F_name": found by name, does nothing
  ifBreak = 1u << 2,           // inserted by the debugger only; a T-code line with its code is dropped
  ifNoAction = 1u << 3,        // loaded and listed; executing it does nothing, on purpose
  ifNotLoaded = 1u << 4,       // a code the compiler knows that never becomes a record
  ifOptionalNot = 1u << 5,     // field 1 may be the word NOT, which shifts the operand fields
  ifJump = 1u << 6,            // Param[1] is a label number
  ifCall = 1u << 7,            // Param[1] names a function, found when linked
  ifFunctionEntry = 1u << 8,   // skips past the function body's closing RET, found when linked
  ifReturn = 1u << 9,          // ends a function body unless written as EXIT
  ifScalarTarget = 1u << 10,   // Param[1] names the scalar variable written; linking puts its number there
  ifRelation4 = 1u << 11,      // the relation operator text is Param[4]
  ifRelation2 = 1u << 12,      // the relation operator text is Param[2]
  ifDeferred = 1u << 13,       // compiler: the line stores what the rest of the statement computes,
                               // so it is emitted at the end of the statement
  ifOperatorFirst = 1u << 14,  // compiler: the operator token moves before its two operands
  ifSchedule = 1u << 15,       // may change what runs next: task states, waits, timers,
                               // transfers or other slots
};

constexpr std::uint32_t operator|(InstructionFlag a, InstructionFlag b) { return std::uint32_t(a) | std::uint32_t(b); }
constexpr std::uint32_t operator|(std::uint32_t a, InstructionFlag b) { return a | std::uint32_t(b); }

// X(NAME, code, mark, mark slot, layout, flags, description)
//
// NAME    the enumerator is opNAME; the docs and the debugger show NAME.
// code    the rule code of the grammar rule that generates it; the kind of
//         its records. Labels and function entries have -1 and -2.
// mark    the listing mark stored in Param[mark slot] ("" and 0: none). The
//         P-code listing prints it; no handler reads it.
// layout  where Param[1], Param[2], ... come from: "n" T-code field n,
//         "n'" field n, or n+1 when field 1 is NOT, "N" the word NOT or
//         empty, "=X" the fixed text X, "-" empty.
#define VELMORA_INSTRUCTIONS(X)                                                                                        \
  X(LABEL, -1, "", 0, "", ifLabel, "Label L_n: a jump target; does nothing when reached")                              \
  X(FUNCTION, -2, "", 0, "", ifFunction, "Function line F_name: where CALL and timers enter")                          \
  X(COMPARE, 0, "", 0, "N 1' 2' 3' 4' 5'", ifOptionalNot | ifRelation4,                                                \
    "FLAG := operand(2) relation(Param[4]) operand(5), inverted by NOT")                                               \
  X(SET_TRUE, 1, "[TRUE]", 1, "", ifNone, "FLAG := true")                                                              \
  X(SET_FALSE, 2, "[FALSE]", 1, "", ifNone, "FLAG := false")                                                           \
  X(BINARY, 3, "", 0, "1 2 3 4 5", ifOperatorFirst, "WORK := operand(2) op operand(4); op is + - * / ^ in Param[1]")   \
  X(NEGATE, 4, "[NEG]", 3, "2 3", ifNone, "WORK := -operand(1)")                                                       \
  X(LOAD, 5, "", 0, "1 2", ifNone, "WORK := operand(1)")                                                               \
  X(ZERO, 6, "", 0, "1", ifNone, "WORK := 0")                                                                          \
  X(VECTOR_ADD, 7, "", 0, "1 3 5", ifOperatorFirst, "VECTOR := $a + $b or $a - $b")                                    \
  X(VECTOR_LOAD, 8, "", 0, "2", ifNone, "VECTOR := $a")                                                                \
  X(BITS, 15, "", 0, "3 1 2 4 5", ifNone, "WORK := operand(2) AND/OR/XOR/SHR/SHL operand(4) as 32-bit words")          \
  X(VECTOR_COMPONENT_SET, 20, "<==", 3, "2 3", ifNone,                                                                 \
    "component Param[2] of $a := WORK (SET $V = a, b, c fills all three)")                                             \
  X(VECTOR_STORE, 21, "<--", 2, "2", ifNone, "$a := VECTOR")                                                           \
  X(ASSIGN, 22, "<--", 2, "2", ifScalarTarget, "scalar Param[1] := WORK")                                              \
  X(ASSIGN_OP, 23, "<--", 3, "2 3", ifNone, "scalar Param[1] op= WORK; op is += -= *= /=")                             \
  X(STOP, 25, "[STOP!]", 1, "", ifSchedule, "STOP: the task ends")                                                     \
  X(VECTOR_COMPONENT_GET, 30, "", 0, "2 4", ifNone, "WORK := component X, Y or Z of $a")                               \
  X(VECTOR_SCALE, 31, "", 0, "1 3 4 5", ifOperatorFirst, "VECTOR := $a * n or $a / n")                                 \
  X(SCALE_VECTOR, 32, "", 0, "1 2 3 5", ifOperatorFirst, "VECTOR := n * $a")                                           \
  X(UNIT_VECTOR, 33, "", 0, "4", ifNone, "UNITV: VECTOR := $a scaled to length 1")                                     \
  X(ROTATE_VECTOR, 34, "", 0, "4 6 7 9 10", ifNone,                                                                    \
    "VROT: VECTOR := $a rotated by an angle in degrees about axis 1, 2 or 3")                                          \
  X(ASC, 40, "", 0, "3 4", ifNone, "WORK := ASC code of a string")                                                     \
  X(HEX, 41, "", 0, "3 4", ifNone, "WORK := value of a string of hexadecimal digits")                                  \
  X(STRING_VALUE, 42, "[VALUE]", 9, "3 4", ifNone, "WORK := number written in a string")                               \
  X(MOD, 43, "", 0, "3 4 6 7", ifNone, "WORK := MOD(operand(1), operand(3)) of the truncated values")                  \
  X(RANDSEED, 44, "", 0, "1 2 3", ifNone, "RANDSEED: random seed := operand(2)")                                       \
  X(ASSIGN_STRING, 45, "[ASSIGN STRING]", 9, "2 4 5", ifNone, "&a := string")                                          \
  X(ADD_STRING, 46, "[ADD STRING]", 9, "1 2 4 5", ifNone, "&a += string")                                              \
  X(COPY_STORE, 47, "[COPY]", 9, "1 2 6 7 9 10 12 13", ifNone, "COPY: &a := part of a string")                         \
  X(FORMAT_STORE, 48, "[FORMT]", 9, "1 2 6 7 9 10", ifNone, "VALSTR: &a := number formatted by a pattern")             \
  X(STRING_POSITION, 49, "[STRING POS]", 9, "3 4 6 7", ifNone, "SPOS: WORK := position of one string in another")      \
  X(SETLINK, 50, "[SETLINK]", 5, "2 3 5 6", ifNoAction, "SETLINK: accepted, does nothing")                             \
  X(DELLINK, 51, "[DELLINK]", 5, "2 3 5 6", ifNoAction, "DELLINK: accepted, does nothing")                             \
  X(SETPOS, 52, "[SETPOS]", 3, "2 3", ifNoAction, "SETPOS: accepted, does nothing")                                    \
  X(GETPOS, 53, "[GETPOS]", 3, "2 3", ifNoAction, "GETPOS: accepted, does nothing")                                    \
  X(GETCHILD, 54, "[GETCHILD]", 5, "2 3 5 6", ifNone, "GETCHILD: WORK := -1")                                          \
  X(GETPAR, 55, "[GETPAR]", 3, "2 3", ifNone, "GETPAR: WORK := -1")                                                    \
  X(ROT, 56, "[ROT]", 7, "2 3 5 6 8 9", ifNoAction, "ROT: accepted, does nothing")                                     \
  X(MOVE, 57, "[MOVE]", 4, "2 3 6", ifNoAction, "MOVE: accepted, does nothing")                                        \
  X(GETANG, 58, "[GETANG]", 3, "2 3", ifNoAction, "GETANG: accepted, does nothing")                                    \
  X(SETANG, 59, "[SETANG]", 4, "2 3 6", ifNoAction, "SETANG: accepted, does nothing")                                  \
  X(INPUT, 70, "[INPUT]", 3, "3 4", ifNoAction, "port INPUT: loaded, not executed")                                    \
  X(OUTPUT, 71, "[OUTPUT]", 5, "2 3 5 6", ifNoAction, "port OUTPUT: loaded, not executed")                             \
  X(PARA_INPUT, 72, "[PARA INPUT]", 1, "", ifNoAction, "parallel port input: loaded, not executed")                    \
  X(PARA_OUTPUT, 73, "[PARA OUTPUT]", 3, "2 3", ifNoAction, "parallel port output: loaded, not executed")              \
  X(JOY_BUTTON, 74, "[JOY BTN]", 3, "3 4", ifNoAction, "joystick buttons: loaded, not executed")                       \
  X(JOY_X, 75, "[JOY X]", 3, "3 4", ifNoAction, "joystick X: loaded, not executed")                                    \
  X(JOY_Y, 76, "[JOY Y]", 3, "3 4", ifNoAction, "joystick Y: loaded, not executed")                                    \
  X(JOY_Z, 77, "[JOY Z]", 3, "3 4", ifNoAction, "joystick Z: loaded, not executed")                                    \
  X(PARA_STATUS, 78, "[PARA STATUS]", 1, "", ifNoAction, "parallel port status: loaded, not executed")                 \
  X(PARA_CONTROL, 79, "[PARA CONT]", 3, "2 3", ifNoAction, "parallel port control: loaded, not executed")              \
  X(WAIT, 80, "[WAIT]", 3, "2 3", ifSchedule, "WAIT: the task runs nothing for operand(1) tenths of a second")         \
  X(TIMER_SET, 81, "[TIMER SET]", 6, "3 5 7 8 11", ifNone,                                                             \
    "TIMER SET: define a named interval timer with a handler function")                                                \
  X(TIMER_CONTROL, 82, "[TIMER CONTROL]", 3, "3 5", ifSchedule, "TIMER CONTROL: START, STOP or CANCEL a named timer")  \
  X(INTERRUPT_RETURN, 83, "[INT RETURN]", 1, "", ifSchedule,                                                           \
    "INTRET: return from a timer handler to where the task was interrupted")                                           \
  X(JMP_IF_TRUE, 95, "[JMP-IF-TRUE]", 2, "2", ifJump, "jump to label Param[1] if FLAG is true")                        \
  X(RET, 96, "[RET]", 1, "", ifReturn, "RET (ENDFUNC, EXIT): return after the CALL")                                   \
  X(CALL, 97, "[CALL]", 2, "3", ifCall, "CALL the function named Param[1]")                                            \
  X(JMP_IF_FALSE, 98, "[JMP-IF-FALSE]", 2, "2", ifJump, "jump to label Param[1] if FLAG is false")                     \
  X(JMP, 99, "[JMP]", 2, "2", ifJump, "jump to label Param[1]")                                                        \
  X(STEP, 100, "", 0, "1 2 3 4 5", ifNone, "expression step: WORK := operand(2) op operand(4), then pushed")           \
  X(LOAD_VALUE, 101, "", 0, "1", ifNone, "WORK := operand(1), the last value of an expression")                        \
  X(MATH, 102, "[MATH FUNC.]", 9, "1 2 3", ifNone, "WORK := math function Param[1] of operand(2), then pushed")        \
  X(TRUTH_VALUE, 103, "[SET SCALAR]", 9, "1", ifNone, "WORK := 1 for TRUE, 0 for FALSE")                               \
  X(COMPARE_WORK, 109, "", 0, "N 1' 2' 3'", ifOptionalNot | ifRelation4,                                               \
    "FLAG := operand(2) relation(Param[4]) WORK, inverted by NOT")                                                     \
  X(BOOL_INVERT, 110, "[BOOL INVERT]", 1, "", ifNone, "sets the task's boolean-task flag")                             \
  X(MATRIX_DEFINE, 120, "[MATRIX DEFINE]", 9, "2 3 5 6 8 9", ifNone,                                                   \
    "MATRIX: set the rows and columns of %a; WORK := their product")                                                   \
  X(MATRIX_ELEMENT_GET, 121, "[MATRIX SET ELEM]", 9, "1 2 4 5 7 8", ifNone, "WORK := element (row, column) of %a")     \
  X(MATRIX_ELEMENT_SET, 122, "[MATRIX SET ELEM]", 9, "1 2 4 5 7 8", ifDeferred, "element (row, column) of %a := WORK") \
  X(MATRIX_GET, 123, "[MATRIX GET]", 9, "1 2 3", ifNone, "matrix register op= %a, then the next operator is Param[3]") \
  X(MATRIX_OPERATE, 124, "[MATRIX OPERATE]", 9, "1 2 3", ifNone,                                                       \
    "matrix register op= %a (+ - *), then the next operator is Param[3]")                                              \
  X(MATRIX_STORE, 125, "[MATRIX STORE]", 9, "1 2", ifDeferred, "%a := matrix register")                                \
  X(MATRIX_STORE_ROW, 126, "[MATRIX STORE ROW]", 9, "1 2 4 5", ifDeferred,                                             \
    "row of %a := the collected parameters (or WORK)")                                                                 \
  X(VECTOR_DEFINE, 127, "[VECTOR DEFINE]", 9, "2 3 5 6", ifNone,                                                       \
    "VECTOR: %a becomes a one-column matrix; WORK := its rows")                                                        \
  X(MATRIX_UNARY, 128, "[MATRIX INVERSE/UNITIZE STORE]", 9, "1 2 3", ifNone,                                           \
    "matrix register := inverse (~) or unit (^) of %a")                                                                \
  X(MATRIX_SCALE, 129, "[MATRIX INVERSE/UNITIZE STORE]", 9, "1 2 4 5", ifNone, "matrix register := n * %a")            \
  X(PARAMETER, 130, "[PARAM OPE]", 9, "1 2", ifNone,                                                                   \
    "xPR n: collect WORK as parameter n; a negative n sets the parameter count")                                       \
  X(COMPARE_CODE_RIGHT, 201, "", 0, "N 3' 1' 2' 4' 6' 7'", ifOptionalNot | ifRelation2,                                \
    "FLAG := number relation ASC/HEX of a string")                                                                     \
  X(COMPARE_CODE_LEFT, 202, "", 0, "N 6' 1' 3' 4' 7' 8'", ifOptionalNot | ifRelation2,                                 \
    "FLAG := ASC/HEX of a string relation number")                                                                     \
  X(COMPARE_STRINGS, 203, "[EQUAL STR?]", 9, "N 1' 2' 3' 4' 5'", ifOptionalNot,                                        \
    "FLAG := strings equal (=), or longer (>) or shorter (<)")                                                         \
  X(CONTAINS, 204, "[INCLUDE STR?]", 9, "N 1' 2' 3' 4' 5'", ifOptionalNot,                                             \
    "FLAG := one string occurs in the other: (= or =)")                                                                \
  X(LIST_CLEAR, 300, "[LIST CLEAR]", 9, "1 2", ifNone, "&a[] := empty list")                                           \
  X(LIST_ADD_REMOVE, 301, "[LIST +-]", 9, "1 2 4 5 6", ifNone,                                                         \
    "&a[] += line (append) or -= line (remove the first equal line)")                                                  \
  X(LIST_SIZE, 302, "[LIST SIZE]", 9, "1 2", ifNone, "WORK := number of lines of &a[]")                                \
  X(LIST_DELETE, 303, "[LIST DEL LINE]", 9, "1 2 4 5", ifNone, "delete line n of &a[]")                                \
  X(LIST_INSERT, 304, "[LIST INS LINE]", 9, "1 2 4 5 10 11", ifNone, "insert a line before line n of &a[]")            \
  X(LIST_LINE, 310, "[LIST 1 LINE GET]", 9, "1 2 4 5", ifNone, "string register := line n of &a[]")                    \
  X(STRING_GET, 311, "[STRING GET]", 9, "1 2", ifNone, "string register := (or +=) a string")                          \
  X(STRING_CONCAT, 312, "[STRING CONCAT]", 9, "1", ifNone, "the next string part is appended")                         \
  X(STRING_CHAR, 313, "[STRING 1 CHAR]", 9, "1 2 4 5", ifNone, "string register := character n of a string")           \
  X(LIST_CHAR, 314, "[LIST 1 CHAR]", 9, "1 2 4 5 8 9", ifNone, "string register := character m of line n of &a[]")     \
  X(CHAR, 315, "[LIST 1 CHAR]", 9, "3 4", ifNone, "CHAR: string register := character of a code")                      \
  X(LIST_ZONE, 316, "[LIST  CHAR ZONE]", 9, "1 2 4 5 8 9 11 12", ifNone,                                               \
    "string register := the text between two marks in line n of &a[]")                                                 \
  X(NUMBER_FORMATTED, 317, "[NUM FORMATTED]", 9, "1 2 4 5", ifNone, "string register := number written with a format") \
  X(STRING_ZONE, 318, "[STRING  CHAR ZONE]", 9, "1 2 4 5 7 8", ifNone,                                                 \
    "string register := the text between two marks in a string")                                                       \
  X(VAR_STORE, 320, "[VAR STORE]", 9, "1 2", ifDeferred, "&a := string register")                                      \
  X(LIST_STORE, 321, "[LIST STORE]", 9, "1 2", ifDeferred, "&a[] := list register")                                    \
  X(LIST_ELEMENT_STORE, 322, "[LIST STORE]", 9, "1 2 4 5", ifDeferred, "line n of &a[] := string register")            \
  X(LIST_CHAR_STORE, 323, "[LIST 1 CHAR ]", 9, "1 2 4 5 8 9", ifDeferred,                                              \
    "character m of line n of &a[] := string register")                                                                \
  X(VAR_ELEMENT_STORE, 324, "[VAR ELEM STORE]", 9, "1 2 4 5", ifDeferred, "character n of &a := string register")      \
  X(FILE_STORE, 325, "[FILE STORE]", 9, "2 3", ifDeferred, "a text file := list register")                             \
  X(LIST_ADD_LINE, 326, "[LIST ADD LINE]", 9, "1 2", ifDeferred, "append the list register to &a[]")                   \
  X(LIST_SPLIT_STORE, 327, "[LIST SPLIT STORE]", 9, "1 2 5 6", ifDeferred,                                             \
    "two lists := the list register and the rest list")                                                                \
  X(FILE_DELETE, 328, "[FILE DELETE]", 9, "2 3", ifNone, "delete a file")                                              \
  X(SPLIT_STORE, 329, "[STRING SPLIT STORE]", 9, "1 2 4 5", ifDeferred,                                                \
    "two strings := the string register and the rest string")                                                          \
  X(LIST_GET, 330, "[LIST GET]", 9, "1 2", ifNone, "list register := (or +=) &a[]")                                    \
  X(TEXT_FILE_GET, 331, "[TEXT FILE GET]", 9, "2 3", ifSchedule,                                                       \
    "list register := lines of a text file; for a URL the task waits for the transfer")                                \
  X(DATE, 332, "[DATE GET]", 9, "", ifNone, "DATE: string register := today's date")                                   \
  X(TIME, 333, "[TIME GET]", 9, "", ifNone, "TIME: string register := the time of day")                                \
  X(LIST_SELECT, 334, "[LIST COND GET]", 9, "1 2 4 5", ifNone,                                                         \
    "list register := the lines of &a[] that contain a text")                                                          \
  X(LIST_ZONE_LINES, 335, "[LIST ZONE GET]", 9, "1 2 4 5 7 8", ifNone,                                                 \
    "list register := the lines of &a[] between two marks")                                                            \
  X(LIST_OPTION, 336, "[LIST OPTION]", 9, "1", ifNone, "list order option := Param[1]")                                \
  X(ZONE_OPTION, 337, "[LIST INCLUDE COND]", 9, "1", ifNone, "zone option := Param[1]")                                \
  X(CASE_OPTION, 338, "[LIST NOCASE COND]", 9, "1", ifNone, "letter-case option := Param[1]")                          \
  X(LIST_JOIN, 339, "[LIST TASK]", 9, "1", ifNone, "the next list is joined to the list register")                     \
  X(LIST_LINE_ZONES, 340, "[LIST LINE,ZONE]", 9, "1 2 4 5 8 9 11 12", ifNone,                                          \
    "list register := the text between two marks in each line of &a[]")                                                \
  X(STRING_ZONE_BY_LIST, 341, "[LIST  CHAR ZONE BY LIST]", 9, "1 2 4 5 7 8", ifNone,                                   \
    "string register := the text between marks taken from a list")                                                     \
  X(LIST_ZONE_BY_LIST, 342, "[LIST  CHAR ZONE STOP LIST]", 9, "1 2 4 5 8 9 11 12", ifNone,                             \
    "string register := the text of line n between marks taken from a list")                                           \
  X(GET_PAGE, 350, "[GET PAGE]", 9, "2 3", ifNone, "list register := the lines of page n")                             \
  X(ADD_LINE, 351, "[ADD LINE]", 9, "2 3", ifDeferred, "append the string register to page n")                         \
  X(CLEAR_PAGE, 352, "[CLEAR PAGE]", 9, "2 3", ifNone, "empty page n")                                                 \
  X(NEW_PAGE, 353, "[NEW PAGE]", 9, "", ifNone, "WORK := number of a new page")                                        \
  X(RUN_PAGE, 354, "[RUN PAGE]", 9, "2 3", ifSchedule, "compile page n and start it as a task")                        \
  X(FREE_PAGE, 355, "[FREE PAGE]", 9, "2 3", ifNone, "close page n")                                                   \
  X(STOP_PAGE, 356, "[STOP PAGE]", 9, "2 3", ifSchedule, "hold the task of page n")                                    \
  X(ACTIVE_PAGE, 357, "[ACTIVE PAGE]", 9, "2 3", ifSchedule, "let the task of page n run again")                       \
  X(PAGE_STATUS, 358, "[PAGE STATUS]", 9, "2 3", ifNone, "WORK := state of the task of page n")                        \
  X(PAGE_STORE, 359, "[PAGE STORE/APPEND]", 9, "2 3 5", ifDeferred, "page n := (or +=) the list register")             \
  X(PAGE_SELF, 360, "[PAGE SELF #]", 9, "", ifNone, "WORK := the task's own page number")                              \
  X(CALLER_LINE, 361, "[CALLER LINE]", 9, "", ifNone, "string register := the caller's line")                          \
  X(SELF_LINE, 362, "[SELF PAGE LINE]", 9, "5 6", ifNone, "string register := line m of the own page")                 \
  X(SELF_INSERT, 363, "[SELF PAGE INS LINE]", 9, "5 6 8 9", ifNone, "insert a line before line m of the own page")     \
  X(PAGE_LINE, 364, "[PAGE LINE]", 9, "2 3 8 9", ifNone, "string register := line m of page n")                        \
  X(PAGE_INSERT, 365, "[PAGE INS LINE]", 9, "2 3 8 9 11 12", ifNone, "insert a line before line m of page n")          \
  X(SELF_DELETE, 366, "[PAGE DEL LINE]", 9, "5 6", ifNone, "delete line m of the own page")                            \
  X(PAGE_DELETE, 367, "[PAGE DEL LINE]", 9, "2 3 8 9", ifNone, "delete line m of page n")                              \
  X(CONSOLE_TEXT, 368, "[GET CONSOLE TEXT]", 9, "", ifNone, "list register := the console lines")                      \
  X(URL_LIST, 370, "[URL PARSE LIST]", 9, "2 3 5 6", ifNone,                                                           \
    "list register := the parts of a URL-encoded text split at a separator")                                           \
  X(URL_STRING, 371, "[URL PARSE STR]", 9, "2 3", ifNone, "string register := URL-decoded text")                       \
  X(POST, 372, "[URL FILE POST]", 9, "2 3 5 6", ifSchedule, "POST to a URL; the task waits for the transfer")          \
  X(REQUEST_HEADER, 373, "[HTTP REQEST HEADER]", 9, "2 3", ifNone, "the list that receives the next answer's headers") \
  X(GET_FILE_ENCODED, 374, "[GET FILE ENCODED]", 9, "2 3 4", ifSchedule,                                               \
    "list register := lines of a text file or URL in a named encoding")                                                \
  X(POST_ENCODED, 375, "[URL FILE POST ENCODED]", 9, "2 3 4 6 7", ifSchedule,                                          \
    "POST to a URL in a named encoding; the task waits for the transfer")                                              \
  X(SELF_NAME, 380, "[PAGE Name Get]", 9, "", ifNone, "string register := the own page's name")                        \
  X(SELF_RENAME, 381, "[PAGE Name Set]", 9, "5 6", ifNone, "rename the own page")                                      \
  X(PAGE_NAME, 382, "[PAGE Name Get]", 9, "2 3", ifNone, "string register := the name of page n")                      \
  X(PAGE_RENAME, 383, "[PAGE Name Set]", 9, "2 3 8 9", ifNone, "rename page n")                                        \
  X(SELF_SAVE, 384, "[PAGE Save]", 9, "5 6", ifNone, "save the own page to a file")                                    \
  X(PAGE_SAVE, 385, "[PAGE Save]", 9, "2 3 8 9", ifNone, "save page n to a file")                                      \
  X(SELF_LOAD, 386, "[PAGE Load]", 9, "5 6", ifNone, "load a file into the own page")                                  \
  X(PAGE_LOAD, 387, "[PAGE Load]", 9, "2 3 8 9", ifNone, "load a file into page n")                                    \
  X(DELETE_STRING, 405, "[DEL STRING]", 9, "1 2 4 5", ifNone,                                                          \
    "string register := a string without every occurrence of a text")                                                  \
  X(REPLACE_STRING, 406, "[REP STRING]", 9, "1 2 4 5 7 8", ifNone,                                                     \
    "string register := a string with every occurrence of a text replaced")                                            \
  X(VALUE_STATE, 410, "[VAR STATE]", 9, "N 1' 2'", ifOptionalNot,                                                      \
    "FLAG := a number or string operand is set (not 0, not empty)")                                                    \
  X(STRING_STATE, 411, "[STRING STATE]", 9, "N 1' 2' 4' 5'", ifOptionalNot, "FLAG := a string has the state named")    \
  X(LIST_STATE, 412, "[LIST STATE]", 9, "N 1' 2'", ifOptionalNot, "FLAG := &a[] has lines")                            \
  X(INT_STRING, 420, "[INT STRING]", 9, "3 4", ifNone, "INTSTR: string register := integer text")                      \
  X(STRING_LENGTH, 421, "[STRING LENGTH]", 9, "3 4", ifNone, "WORK := length of a string")                             \
  X(COPY_TO_REGISTER, 422, "[COPY To REG]", 9, "3 4 6 7 9 10", ifNone, "COPY: string register := part of a string")    \
  X(VOLUME_INFO, 460, "[VOLUME INFO]", 9, "2 3", ifNone, "list register := facts of a drive")                          \
  X(DIR_SET, 461, "[DIR GET]", 9, "3 4 5", ifNone, "DIR: change the current directory")                                \
  X(DIR_GET, 462, "[DIR GET]", 9, "3", ifNone, "DIR: string register := the current directory")                        \
  X(CANVAS_HIDE, 500, "[GRAPH CMD]", 9, "2 3", ifNone, "hide canvas n")                                                \
  X(CANVAS_SHOW, 501, "[GRAPH CMD]", 9, "2 3", ifNone, "show canvas n")                                                \
  X(CANVAS_SELECT, 502, "[GRAPH CMD]", 9, "2 3", ifNone, "canvas n receives the task's drawing")                       \
  X(GRAPH_0, 503, "[GRAPH CMD]", 9, "2 3", ifNone, "GRAPH command without options")                                    \
  X(GRAPH_1, 504, "[GRAPH CMD]", 9, "2 3 4 5", ifNone, "GRAPH command with one option")                                \
  X(GRAPH_2, 505, "[GRAPH CMD]", 9, "2 3 4 5 6 7", ifNone, "GRAPH command with two options")                           \
  X(GRAPH_STORE_0, 506, "[GRAPH CMD]", 9, "2 3", ifDeferred,                                                           \
    "GRAPH command without options, taking the value computed after it")                                               \
  X(GRAPH_STORE_1, 507, "[GRAPH CMD]", 9, "2 3 4 5", ifDeferred,                                                       \
    "GRAPH command with one option, taking the value computed after it")                                               \
  X(GRAPH_STORE_2, 508, "[GRAPH CMD]", 9, "2 3 4 5 6 7", ifDeferred,                                                   \
    "GRAPH command with two options, taking the value computed after it")                                              \
  X(GRAPH_LIST, 509, "[GRAPH CMD]", 9, "2 3 4 5", ifDeferred, "GRAPH command with a list")                             \
  X(GRAPH_OPTION_LIST, 510, "[GRAPH CMD]", 9, "2 3 4 5 6 7", ifDeferred, "GRAPH command with an option and a list")    \
  X(FILE_OPEN, 700, "[FILE OPEN]", 6, "3 4 9 10 12", ifNone, "open numbered file n")                                   \
  X(FILE_CLOSE, 701, "[FILE CLOSE]", 3, "3 4", ifNone, "close numbered file n")                                        \
  X(FILE_READ, 702, "[FILE READ]", 6, "3 4 9 10", ifNone, "read the next line of file n")                              \
  X(FILE_WRITE, 703, "[FILE WRITE]", 6, "3 4 9 10", ifNone, "write a line to file n")                                  \
  X(FILE_EOF, 704, "[FILE EOF]", 4, "N 3' 4'", ifOptionalNot, "FLAG := file n is at its end")                          \
  X(FILE_EXIST, 705, "[FILE EXIST]", 4, "N 2' 3'", ifOptionalNot, "FLAG := a file exists")                             \
  X(CONSOLE_POSITION, 750, "[CONSOLE POS]", 6, "3 4 6 7", ifNoAction,                                                  \
    "console cursor position: accepted, does nothing")                                                                 \
  X(CONSOLE_COMMAND, 751, "[CONSOLE]", 6, "2", ifNone, "console command: clear, show, hide ...")                       \
  X(CONSOLE_VALUE, 752, "[CONSOLE]", 6, "2 3", ifNone, "write a value to the console")                                 \
  X(CONSOLE_BACK_COLOUR, 753, "[CONSOLE BACK COLOR]", 6, "3 4", ifNoAction,                                            \
    "console background colour: accepted, does nothing")                                                               \
  X(CONSOLE_FONT, 754, "[CONSOLE FONT]", 7, "3 4 6 7 9 10", ifNoAction, "console font: accepted, does nothing")        \
  X(CONSOLE_ECHO, 755, "[CONSOLE ECHO]", 6, "3 4", ifNone, "write the character of a code")                            \
  X(CONSOLE_GETS, 756, "[CONSOLE GETS]", 6, "4", ifNone,                                                               \
    "read a line of keyboard input into the string variable; the task waits for it")                                   \
  X(COMMAND, 757, "[COMMAND ]", 6, "2 3 4", ifNone, "run an external command")                                         \
  X(EXEC_FILE, 758, "[EXEC FILE]", 6, "2 3", ifNone, "start an external program")                                      \
  X(CONSOLE_LIST, 759, "[CONSOLE LIST]", 6, "2 3", ifDeferred, "write the lines of a list")                            \
  X(CONSOLE_STRING, 760, "[CONSOLE MULTI]", 6, "", ifDeferred, "write the string register")                            \
  X(CONSOLE_WORK, 761, "[CONSOLE WORK.REG]", 6, "", ifDeferred, "write WORK")                                          \
  X(CONSOLE_RESERVED, 762, "", 0, "", ifNotLoaded | ifDeferred,                                                        \
    "reserved console code: deferred by the compiler, dropped by the loader")                                          \
  X(CONSOLE_FORMATTED, 763, "[CONSOLE FORMAT OUT]", 6, "2 3 5 6", ifNone, "write a number with a format")              \
  X(LIB_DEFINE, 800, "[LIB DEFINE]", 6, "3 4 5", ifNone, "LIB: load a shared library under an alias")                  \
  X(LIB_FUNCTION_DEFINE, 801, "[LIB FUN DEFINE]", 7, "2 3 4 5 6 7", ifNone,                                            \
    "LIBA: declare a library function and its arguments")                                                              \
  X(LIB_CALL_0, 810, "[LIB EXEC 0]", 6, "2 5 =0", ifNoAction,                                                          \
    "library call without arguments: accepted, does nothing")                                                          \
  X(LIB_CALL_1, 811, "[LIB EXEC 1]", 6, "2 5 =1 7 8", ifNone, "call a library function with one argument")             \
  X(LIB_CALL_2, 812, "[LIB EXEC 2]", 8, "2 5 =2 7 8 10 11", ifNoAction,                                                \
    "library call with two arguments: accepted, does nothing")                                                         \
  X(LIB_CALL_3, 813, "", 0, "2 5 =3 7 8 10 11 13 14", ifNoAction,                                                      \
    "library call with three arguments: accepted, does nothing")                                                       \
  X(BREAKPOINT, 900, "[Break Point]", 9, "", ifBreak | ifSchedule,                                                     \
    "breakpoint n: the task stops here for the debugger")                                                              \
  X(BLOCK_CLOSE, 901, "", 0, "", ifNotLoaded,                                                                          \
    "compiler only: closes a flow block before its terminator word is generated")                                      \
  X(FUNCTION_ENTRY, 902, "[FUNCTION DEF]", 6, "", ifFunctionEntry,                                                     \
    "FUNCTION: straight-line flow skips the body, past its closing RET")

// The rule codes by name: opRET is 96.
enum Op : std::int32_t {
#define VELMORA_OP_ENUM(name, code, mark, markSlot, layout, flags, text) op##name = code,
  VELMORA_INSTRUCTIONS(VELMORA_OP_ENUM)
#undef VELMORA_OP_ENUM
};

struct InstructionRow {
  const char *name;         // "RET"
  std::int32_t code;        // 96
  const char *mark;         // "[RET]"; "" when none
  std::int32_t markSlot;    // the Param slot of the mark; 0 when none
  const char *layout;       // see above
  std::uint32_t flags;      // InstructionFlag bits
  const char *description;  // one line
};

inline constexpr InstructionRow kInstructionRows[] = {
#define VELMORA_OP_ROW(name, code, mark, markSlot, layout, flags, text) \
  {#name, code, mark, markSlot, layout, std::uint32_t(flags), text},
    VELMORA_INSTRUCTIONS(VELMORA_OP_ROW)
#undef VELMORA_OP_ROW
};

// Record kinds run from -2 to 999.
constexpr int kKindLowest = -2;
constexpr int kKindCount = 1002;

// The row of a kind, or nullptr.
constexpr const InstructionRow *instruction_row(int code) {
  for (const InstructionRow &row : kInstructionRows)
    if (row.code == code) return &row;
  return nullptr;
}

// Flags by kind, indexed by kind - kKindLowest.
inline constexpr std::array<std::uint32_t, kKindCount> kFlagsByKind = [] {
  std::array<std::uint32_t, kKindCount> flags{};
  for (const InstructionRow &row : kInstructionRows) flags[std::size_t(row.code - kKindLowest)] = row.flags;
  return flags;
}();

constexpr std::uint32_t instruction_flags(int code) {
  return code >= kKindLowest && code < kKindLowest + kKindCount ? kFlagsByKind[std::size_t(code - kKindLowest)] : 0;
}

constexpr bool has_flag(int code, InstructionFlag flag) { return (instruction_flags(code) & flag) != 0; }

// The three-digit T-code text of a rule code: "096".
struct CodeDigits {
  char text[4];
};
constexpr CodeDigits code_digits(int code) {
  return {{char('0' + code / 100 % 10), char('0' + code / 10 % 10), char('0' + code % 10), '\0'}};
}

}  // namespace velmora::engine
