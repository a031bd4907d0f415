// Times a program that prints many console lines in the IDE window, shown,
// from "●" to the end of the run. Compare with the same program headless:
//   echo 'FOR I = 1 TO 200000 DO ??I; ??CRLF; END' > lines.mcl
//   time build/cli/velmora-run lines.mcl > /dev/null
//   build/bench/bench-console-window [LINES]      (with a display, e.g. Xvfb)
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>

#include "gui/main_window.h"

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  const long lines = argc > 1 ? std::atol(argv[1]) : 200000;
  QTemporaryDir home;
  velmora::gui::MainWindow window(home.path().toStdString());
  window.resize(1600, 1000);
  window.show();
  QApplication::processEvents();
  window.openProgramLines({u"FOR I = 1 TO " + velmora::int16(lines) + u" DO ??I; ??CRLF; END"});
  if (window.compileActive() < 0) return 1;
  QElapsedTimer timer;
  timer.start();
  const auto result = window.run();
  const double seconds = double(timer.nsecsElapsed()) / 1e9;
  std::printf("%ld lines in the window: %.3f s (console rows %d, result %d)\n", lines, seconds,
              window.consoleView()->count(), int(result));
  return 0;
}
