// Times a program that prints many short console lines in the IDE window,
// shown, from "●" to the end of the run, beside the same program run by
// velmora-run (output to /dev/null) in the same process run, and prints the
// resident memory the run added to the window and what "クリア" gives back:
//   build/bench/bench-console-window [LINES] [RUNS]     (1,000,000 and 3 by default;
//                                                      a display, e.g. Xvfb, or
//                                                      QT_QPA_PLATFORM=offscreen)
// The figures of each run and the best of them are printed; the targets are
// a time within 1.3 times velmora-run's and under 100 MB for a million lines.
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

#include "gui/console_view.h"
#include "gui/main_window.h"
#include "tests/gui/settle.h"

namespace {

long resident_kb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

// CPU seconds (user and system) of this process or of its ended children.
double cpu_seconds(int who) {
  rusage u{};
  getrusage(who, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// velmora-run beside this benchmark in the build tree.
QString runner() { return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../cli/velmora-run")); }

}  // namespace

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  const long lines = argc > 1 ? std::atol(argv[1]) : 1000000;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
  const velmora::u16 program = u"FOR I = 1 TO " + velmora::text::int16(lines) + u" DO ??I; ??CRLF; END";
  QTemporaryDir home;
  {
    QFile file(home.filePath(QStringLiteral("lines.mcl")));
    if (!file.open(QIODevice::WriteOnly)) return 1;
    file.write(QString::fromStdU16String(program).toUtf8() + "\n");
  }
  velmora::gui::MainWindow window(home.path().toStdString());
  window.resize(1600, 1000);
  window.show();
  QApplication::processEvents();
  window.openProgramLines({program});
  if (window.compileActive() < 0) return 1;
  double bestWindow = 1e9, bestRunner = 1e9, bestWindowCpu = 1e9, bestRunnerCpu = 1e9;
  long grown = 0;
  for (int run = 0; run < runs; ++run) {
    // The console of the run before goes first, as "クリア" would.
    emit window.consoleView()->clearRequested();
    QApplication::processEvents();
    const long before = resident_kb();
    QElapsedTimer timer;
    const double cpuBefore = cpu_seconds(RUSAGE_SELF);
    timer.start();
    const auto result = velmora::testing::settle(window, window.run());
    const double inWindow = double(timer.nsecsElapsed()) / 1e9;
    const double windowCpu = cpu_seconds(RUSAGE_SELF) - cpuBefore;
    QApplication::processEvents();
    grown = resident_kb() - before;

    QProcess headless;
    headless.setStandardOutputFile(QProcess::nullDevice());
    const double childrenBefore = cpu_seconds(RUSAGE_CHILDREN);
    timer.restart();
    headless.start(runner(), {QStringLiteral("--home"), home.path(), home.filePath(QStringLiteral("lines.mcl"))});
    headless.waitForFinished(-1);
    const double alone = double(timer.nsecsElapsed()) / 1e9;
    const double aloneCpu = cpu_seconds(RUSAGE_CHILDREN) - childrenBefore;
    bestWindow = std::min(bestWindow, inWindow);
    bestRunner = std::min(bestRunner, alone);
    bestWindowCpu = std::min(bestWindowCpu, windowCpu);
    bestRunnerCpu = std::min(bestRunnerCpu, aloneCpu);
    std::printf(
        "run %d: window %.3f s (CPU %.3f s, rows %d, result %d), velmora-run %.3f s (CPU %.3f s, exit %d), "
        "ratio %.2f, +%ld MB\n",
        run + 1, inWindow, windowCpu, window.consoleView()->count(), int(result), alone, aloneCpu, headless.exitCode(),
        inWindow / alone, grown / 1024);
  }
  std::printf(
      "best of %d, %ld lines: window %.3f s (CPU %.3f s), velmora-run %.3f s (CPU %.3f s), ratio %.2f (CPU %.2f); "
      "the run added %ld MB\n",
      runs, lines, bestWindow, bestWindowCpu, bestRunner, bestRunnerCpu, bestWindow / bestRunner,
      bestWindowCpu / bestRunnerCpu, grown / 1024);
  emit window.consoleView()->clearRequested();
  QApplication::processEvents();
  std::printf("resident memory after クリア: %ld MB\n", resident_kb() / 1024);
  return 0;
}
