// Keyboard input for GETS. A face that reads at once (the runner) answers
// immediately; the IDE queues the asking tasks, shows an input line for the
// first of them and hands the typed line back, while the other tasks run on.
#include <algorithm>

#include "environment/environment.h"

namespace velmora::environment {

engine::EngineHost::InputState Environment::Console_Gets(int slot, u16 &line) {
  if (slot < 0 || slot >= int(inputReady_.size())) return InputState::None;
  if (auto &ready = inputReady_[std::size_t(slot)]) {
    line = std::move(*ready);
    ready.reset();
    return InputState::Ready;
  }
  switch (ui.consoleInput(slot, line)) {
    case UserInterface::InputMode::None: return InputState::None;
    case UserInterface::InputMode::Immediate: return InputState::Ready;
    case UserInterface::InputMode::Later: break;
  }
  if (std::find(inputQueue_.begin(), inputQueue_.end(), slot) == inputQueue_.end()) {
    inputQueue_.push_back(slot);
    if (inputQueue_.size() == 1) ui.inputRequested(slot);
  }
  return InputState::Pending;
}

bool Environment::deliverInput(const u16 &line) {
  if (inputQueue_.empty()) return false;
  int slot = inputQueue_.front();
  inputQueue_.pop_front();
  if (engine_.wakeForInput(slot)) inputReady_[std::size_t(slot)] = line;  // GETS runs again and takes it
  ui.inputRequested(inputSlot());
  return true;
}

void Environment::cancelInput() {
  bool asked = !inputQueue_.empty();
  inputQueue_.clear();
  for (auto &ready : inputReady_) ready.reset();
  if (asked) ui.inputRequested(-1);
}

}  // namespace velmora::environment
