// Writes docs/instructions.md from the instruction table, or checks that
// the checked-in copy is current.
//
//   instruction-docs > docs/instructions.md
//   instruction-docs --check docs/instructions.md   (exit status 1 when stale)
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "engine/instructions.h"

using namespace velmora::engine;

namespace {

struct FlagText {
  InstructionFlag flag;
  const char *text;
};

constexpr FlagText kFlagTexts[] = {
    {ifLabel, "label"},
    {ifFunction, "function line"},
    {ifBreak, "debugger only"},
    {ifNoAction, "does nothing"},
    {ifNotLoaded, "compiler only"},
    {ifOptionalNot, "optional NOT"},
    {ifJump, "jump"},
    {ifCall, "call"},
    {ifFunctionEntry, "function entry"},
    {ifReturn, "return"},
    {ifScalarTarget, "scalar target"},
    {ifDeferred, "deferred store"},
    {ifOperatorFirst, "operator first"},
    {ifSchedule, "may change the schedule"},
};

// Markdown table cells: a vertical bar would end the cell.
std::string cell(const std::string &text) {
  std::string out;
  for (char c : text) {
    if (c == '|') out += "\\|";
    else out += c;
  }
  return out;
}

std::string code_cell(int code) {
  if (code < 0) return code == opLABEL ? "-001 (L_n)" : "-002 (F_name)";
  return code_digits(code).text;
}

// "n" field n, "n'" field n after an optional NOT, "N" the NOT word, "=X"
// fixed text: written as "1←3 2←5" like the listing's slot numbers.
std::string slots(const char *layout) {
  std::istringstream items(layout);
  std::string item, out;
  int k = 1;
  while (items >> item) {
    if (!out.empty()) out += ' ';
    std::string source = item == "N"      ? "NOT"
                         : item == "-"    ? "empty"
                         : item[0] == '=' ? "\"" + item.substr(1) + "\""
                                          : item;
    out += std::to_string(k) + "←" + source;
    ++k;
  }
  return out;
}

std::string flags_text(std::uint32_t flags) {
  std::string out;
  for (const FlagText &f : kFlagTexts)
    if (flags & f.flag) out += std::string(out.empty() ? "" : ", ") + f.text;
  return out;
}

std::string document() {
  std::ostringstream out;
  out << "# P-code instructions\n\n"
         "Generated from engine/instructions.h by `build/engine/instruction-docs > "
         "docs/instructions.md`; do not edit by hand (a test checks that this file is current).\n\n"
         "Each line of the debugger's P-code view and of a saved \".MCP\" listing is one record: "
         "the source line, the code (\"0098\"; \"-001\" for a label, \"-002\" for a function "
         "line), then `Param[1]` to `Param[9]`. The table tells what each code does and where its "
         "`Param` slots come from in the T-code line (\"2←3\": `Param[2]` holds field 3; \"n'\": "
         "field n, or n+1 when field 1 is the word NOT). operand(k) is the operand pair "
         "`Param[k]`, `Param[k+1]`: a class token (∇ variable, Δ number, xN negative number, "
         "xPOP stack, Ω string, Σ string variable, ...) and its value. WORK, FLAG and VECTOR "
         "are the task's registers; the string and list registers are where string and list "
         "expressions leave their results.\n\n"
         "| Code | Name | Listing mark | Slots | What it does | Notes |\n"
         "|---|---|---|---|---|---|\n";
  for (const InstructionRow &row : kInstructionRows) {
    std::string mark = row.mark[0] ? std::string(row.mark) + " (" + std::to_string(row.markSlot) + ")" : "";
    out << "| " << code_cell(row.code) << " | " << row.name << " | " << cell(mark) << " | " << slots(row.layout)
        << " | " << cell(row.description) << " | " << flags_text(row.flags) << " |\n";
  }
  out << "\nNotes: *does nothing* rows are loaded and listed but executing them has no effect; "
         "*compiler only* codes never become records; *deferred store* lines are emitted at the "
         "end of their statement; *may change the schedule* instructions can stop, hold or "
         "start tasks, start waits, timers or transfers, so the scheduler looks at the slots "
         "again after them.\n";
  return out.str();
}

}  // namespace

int main(int argc, char **argv) {
  const std::string text = document();
  if (argc == 3 && std::string(argv[1]) == "--check") {
    std::ifstream in(argv[2], std::ios::binary);
    std::stringstream current;
    current << in.rdbuf();
    if (current.str() == text) return 0;
    std::cerr << argv[2] << " is out of date: run build/engine/instruction-docs > " << argv[2] << "\n";
    return 1;
  }
  if (argc != 1) {
    std::cerr << "usage: instruction-docs [--check FILE]\n";
    return 2;
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  return 0;
}
