// velmora: the IDE window.
#include <QApplication>
#include <QDir>
#include <QLocale>
#include <QFont>
#include <QLockFile>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTimer>

#include "gui/main_window.h"
#include "gui/qt_translations.h"
#include "text/paths.h"

#include <cstdio>
#include <cstring>

namespace {

const char kUsage[] =
    "使い方: velmora [--home DIR] [FILE.mcl]\n"
    "\n"
    "Velmora の IDE を開く。FILE を指定すると、そのプログラムを開いてコンパイルする。\n"
    "\n"
    "  --home DIR   プログラム自身のディレクトリ（言語の表、User_Setting.Txt、PROG、DATA）\n"
    "  --help       この説明を表示して終了\n"
    "  --version    版を表示して終了\n"
    "\n"
    "画面なしで実行するには velmora-run を使う。\n";

}  // namespace

int main(int argc, char **argv) {
  // Usage and version need no display.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--home") == 0) {
      ++i;
      continue;
    }
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("velmora %s\n", VELMORA_VERSION);
      return 0;
    }
    if (argv[i][0] == '-' && argv[i][1] == '-') {
      std::fprintf(stderr, "velmora: 不明なオプション %s\n", argv[i]);
      std::fputs(kUsage, stderr);
      return 3;
    }
  }
  QApplication app(argc, argv);
  app.setFont(QFont(QStringLiteral("IPAGothic"), 10));
  QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
  velmora::gui::install_qt_translations(app);

  // One IDE at a time, as the named lock "VelmoraIde".
  QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (runtime.isEmpty()) runtime = QDir::tempPath();
  QLockFile lock(runtime + QStringLiteral("/VelmoraIde.lock"));
  if (!lock.tryLock(0)) {
    QMessageBox::critical(nullptr, QStringLiteral("Exec"), QStringLiteral("Can\"t Execute More"));
    return 1;
  }

  std::string home, program;
  QStringList args = app.arguments();
  for (int i = 1; i < args.size(); ++i) {
    if (args[i] == QStringLiteral("--home") && i + 1 < args.size()) home = args[++i].toStdString();
    else if (program.empty()) program = args[i].toStdString();
  }
  velmora::gui::MainWindow window(velmora::text::resolve_home(home));
  window.show();
  if (!program.empty()) {
    // The program given on the command line is opened and compiled once the
    // window is shown.
    QTimer::singleShot(0, &window, [&window, program] {
      if (window.openProgramFile(program) >= 0) window.compileActive();
    });
  } else {
    // Nothing named: a first tab with the greeting program (after any
    // recovery copies were offered), ready for F9 and Ctrl+F5.
    QTimer::singleShot(0, &window, [&window] { window.greetIfEmpty(); });
  }
  return app.exec();
}
