// The window follows the program: the line a task stands at while it is
// held at a breakpoint, stepped line by line ("＞-") or stepped outside a run
// ("★") is coloured in its editor with an arrow in the gutter, its tab in
// front, and goes once the task goes on; the debugger shows the slot of the
// tab in front.
#include "gui/code_editor.h"
#include "gui/debugger_panel.h"
#include "gui/main_window.h"

namespace velmora::gui {

void MainWindow::showHeldLine() {
  const environment::Debugger &d = env_->debugger;
  int slot = -1;
  u16 text;
  if (env_->runLoop.running() && d.breakActive() && !d.stepLineRequest()) {
    slot = d.breakTask();
    text = d.breakLine();
  } else if (!env_->runLoop.running() && env_->stepping()) {
    slot = steppedSlot_;
    text = env_->stepLine();
  }
  int tab = -1, line = -1;
  if (slot >= 0 && slot < engine::kSlots && text::parse_int(text, line) && line >= 0)
    tab = env_->engine().task(slot).SrcIndex;
  for (int i = 0; i < environment::TabPool::kTabs; ++i) {
    auto *e = static_cast<CodeEditor *>(editors_[std::size_t(i)]);
    const bool here = i == tab && tabs_->indexOf(e) >= 0;
    e->setHeldLine(here ? line : -1);
  }
}

void MainWindow::followTabInFront() {
  const int slot = env_->slotOfTab(poolIndexOf(tabs_->currentWidget()));
  if (slot < 0 || slot == debugger_->slot()) return;
  debugger_->setSlot(slot);
  if (debuggerDock_->isVisible()) debugger_->refresh();
}

}  // namespace velmora::gui
