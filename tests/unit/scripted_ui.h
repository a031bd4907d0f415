#pragma once
// A UserInterface that records every message and answers questions from a
// script (Yes when the script is empty).
#include <deque>
#include <functional>

#include "environment/user_interface.h"

namespace velmora::testing {

class ScriptedUi : public environment::UserInterface {
 public:
  Lines messages, questions;
  std::deque<environment::Answer> answers;
  std::vector<std::vector<std::pair<u16, u16>>> errors;
  Lines console;
  int pumps = 0;

  void message(const u16 &text, const u16 &) override { messages.push_back(text); }
  bool askYesNo(const u16 &text, const u16 &title) override {
    questions.push_back(title + u": " + text);
    return next() == environment::Answer::Yes;
  }
  environment::Answer askYesNoCancel(const u16 &text, const u16 &title) override {
    questions.push_back(title + u": " + text);
    return next();
  }
  std::optional<std::filesystem::path> saveAs;
  std::optional<std::filesystem::path> chooseSaveFile(const u16 &title, const std::filesystem::path &,
                                                      const u16 &proposed) override {
    questions.push_back(title + u": " + proposed);
    return saveAs;
  }
  // Called after every slice of a run driven by drive(): what a user does
  // while the run goes on.
  std::function<void()> onPump;
  int stateChanges = 0;
  void stateChanged() override { ++stateChanges; }
  // Whether the step compile's state is shown (it then pauses for "次").
  bool showSteps = false;
  bool compileStepShown(const environment::CompileStep &) override { return showSteps; }
  void consoleUpdated(const Lines &lines) override { console = lines; }
  int linesCompleted = 0;  // console lines reported complete
  void consoleLineCompleted(u16view) override { ++linesCompleted; }
  std::vector<std::pair<Lines, int>> errorLocations;
  void showErrorLocation(const Lines &tokens, int lastRead) override { errorLocations.emplace_back(tokens, lastRead); }
  void showRunError(const std::vector<std::pair<u16, u16>> &rows) override { errors.push_back(rows); }
  Lines statuses;
  void blockingCallStatus(const u16 &text) override { statuses.push_back(text); }
  // A file of a tab changed on the disk: the questions asked, answered from
  // fileAnswers (KeepMine, or Cancel before a save, when it is empty), and
  // the comparisons shown (the file's lines, the tab's).
  std::deque<environment::FileChangeAnswer> fileAnswers;
  Lines fileQuestions;
  std::vector<std::pair<Lines, Lines>> comparisons;
  environment::FileChangeAnswer askFileChanged(const u16 &text, const u16 &, bool saving) override {
    fileQuestions.push_back(text);
    if (fileAnswers.empty())
      return saving ? environment::FileChangeAnswer::Cancel : environment::FileChangeAnswer::KeepMine;
    auto a = fileAnswers.front();
    fileAnswers.pop_front();
    return a;
  }
  void showComparison(const u16 &, const Lines &disk, const Lines &mine) override {
    comparisons.emplace_back(disk, mine);
  }

 private:
  environment::Answer next() {
    if (answers.empty()) return environment::Answer::Yes;
    auto a = answers.front();
    answers.pop_front();
    return a;
  }
};

// Starts a run (startRun, or what a start command returned) and drives it
// to its end slice by slice as a face does, calling ui.onPump after each.
template <class Env>
environment::RunResult drive(Env &env, ScriptedUi &ui, environment::RunResult started) {
  return env.runToEnd(started, [&ui] {
    ++ui.pumps;
    if (ui.onPump) ui.onPump();
  });
}
template <class Env>
environment::RunResult drive(Env &env, ScriptedUi &ui) {
  return drive(env, ui, env.startRun());
}

}  // namespace velmora::testing
