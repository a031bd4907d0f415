#pragma once
// Every modal message, question and file choice of the environment goes
// through this interface: the IDE answers with dialogs, the
// headless runner prints and takes the documented defaults, tests answer
// from a script.
#include <cstddef>
#include <filesystem>
#include <optional>

#include "text/u16.h"

namespace velmora::environment {

enum class Answer { Yes, No, Cancel };

// What to do with a tab whose file changed on the disk: take the file's text
// ("読み直す"), keep the tab's ("このまま", or before a save "上書き"),
// compare the two first, or (before a save) save nothing.
enum class FileChangeAnswer { Reload, KeepMine, Compare, Cancel };

// The longest line of what a permission question shows of a program's
// choosing (its page's name, the target), so that a dialog cuts none off.
constexpr std::size_t kQuestionWidth = 80;

// The compiler's whole state before it takes a token (step compile).
struct CompileStep {
  Lines tcode;
  Lines tokens;
  int cursor = -1;  // the token last taken
  u16 nextToken;
  u16 tokenBuffer;
  Lines states;  // "group row field cursor", innermost last
  Lines labels, terms, operators, operands;
};

class UserInterface {
 public:
  virtual ~UserInterface() = default;
  virtual void message(const u16 &text, const u16 &title) = 0;
  virtual bool askYesNo(const u16 &text, const u16 &title) = 0;
  virtual Answer askYesNoCancel(const u16 &text, const u16 &title) = 0;
  // A question whose safe answer is No (may a program use a command, a
  // library, a file, the network?): Enter alone must not say Yes.
  virtual bool askPermission(const u16 &text, const u16 &title) { return askYesNo(text, title); }
  virtual std::optional<std::filesystem::path> chooseOpenFile(const u16 & /*title*/,
                                                              const std::filesystem::path & /*dir*/,
                                                              const u16 & /*pattern*/) {
    return std::nullopt;
  }
  virtual std::optional<std::filesystem::path> chooseSaveFile(const u16 & /*title*/,
                                                              const std::filesystem::path & /*dir*/,
                                                              const u16 & /*proposed*/) {
    return std::nullopt;
  }
  // A file open in a tab with edits of its own changed on the disk; saving:
  // the question comes before an overwrite.
  virtual FileChangeAnswer askFileChanged(const u16 & /*text*/, const u16 & /*title*/, bool saving) {
    return saving ? FileChangeAnswer::Cancel : FileChangeAnswer::KeepMine;
  }
  // The file's text beside the tab's, for the user to compare.
  virtual void showComparison(const u16 & /*title*/, const Lines & /*disk*/, const Lines & /*mine*/) {}
  // The environment's state changed (a compile or run started or ended, a
  // pause, a hold, a wait for input): the window sets its actions anew.
  virtual void stateChanged() {}
  // Places the editor of a tab on a source line (after a syntax error).
  virtual void locateLine(int /*tab*/, u16view /*line*/) {}
  // The console buffer after passes that may have written to it.
  virtual void consoleUpdated(const Lines & /*lines*/) {}
  // A console line the moment it is complete (a later line was added).
  virtual void consoleLineCompleted(u16view /*line*/) {}
  // A task is held at a breakpoint, or after a line step, at a source line.
  virtual void breakpointHeld(int /*slot*/, u16view /*line*/) {}
  // After a failed compile: the token stream with the last token the
  // recogniser read (an index into tokens, or -1).
  virtual void showErrorLocation(const Lines & /*tokens*/, int /*lastRead*/) {}
  // Step compile: the state before the compiler takes its next token. True
  // when the user will answer with "次" or "終了" (the compile pauses and
  // the command returns); false lets the compile go on at once.
  virtual bool compileStepShown(const CompileStep & /*step*/) { return false; }
  // Keyboard input for GETS of the task in `slot`. Immediate: `line` holds
  // the line now (the runner reads standard input); Later: the face shows
  // an input line and hands the typed line to Environment::deliverInput;
  // None: there is no keyboard and GETS does nothing.
  enum class InputMode { None, Immediate, Later };
  virtual InputMode consoleInput(int /*slot*/, u16 & /*line*/) { return InputMode::None; }
  // The task the input line serves now, -1 when no task waits for input.
  virtual void inputRequested(int /*slot*/) {}
  // The error window: seven label rows and their values.
  virtual void showRunError(const std::vector<std::pair<u16, u16>> & /*rows*/) {}
  // A call into a library function starts (the window cannot respond until
  // it returns) or has ended: the status line says so.
  virtual void blockingCallStatus(const u16 & /*text*/) {}
};

}  // namespace velmora::environment
