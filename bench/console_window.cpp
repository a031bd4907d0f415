// Times a program that prints many console lines in the IDE window, shown,
// from "●" to the end of the run. Compare with the same program headless:
//   echo 'FOR I = 1 TO 200000 DO ??I; ??CRLF; END' > lines.mcl
//   time build/cli/velmora-run lines.mcl > /dev/null
//   build/bench/bench-console-window [LINES]      (with a display, e.g. Xvfb)
// It also prints the resident memory after the run and after "クリア", which
// must give the console's memory back.
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>
#include <fstream>
#include <string>

#include "gui/console_view.h"
#include "gui/main_window.h"

namespace {

long resident_kb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

}  // namespace

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  const long lines = argc > 1 ? std::atol(argv[1]) : 200000;
  QTemporaryDir home;
  velmora::gui::MainWindow window(home.path().toStdString());
  window.resize(1600, 1000);
  window.show();
  QApplication::processEvents();
  window.openProgramLines({u"FOR I = 1 TO " + velmora::text::int16(lines) + u" DO ??I; ??CRLF; END"});
  if (window.compileActive() < 0) return 1;
  QElapsedTimer timer;
  timer.start();
  const auto result = window.run();
  const double seconds = double(timer.nsecsElapsed()) / 1e9;
  std::printf("%ld lines in the window: %.3f s (console rows %d, result %d)\n", lines, seconds,
              window.consoleView()->count(), int(result));
  QApplication::processEvents();
  const long afterRun = resident_kb();
  emit static_cast<velmora::gui::ConsoleView *>(window.consoleView())->clearRequested();
  QApplication::processEvents();
  std::printf("resident memory: %ld MB after the run, %ld MB after クリア\n", afterRun / 1024, resident_kb() / 1024);
  return 0;
}
