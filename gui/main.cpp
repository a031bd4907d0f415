// velmora: the IDE window.
#include <QApplication>
#include <QDir>
#include <QFont>
#include <QLockFile>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTimer>

#include "gui/main_window.h"
#include "text/paths.h"

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  app.setFont(QFont(QStringLiteral("IPAGothic"), 10));

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
  velmora::gui::MainWindow window(velmora::resolve_home(home));
  window.show();
  if (!program.empty()) {
    // The program given on the command line is opened and compiled once the
    // window is shown.
    QTimer::singleShot(0, &window, [&window, program] {
      if (window.openProgramFile(program) >= 0) window.compileActive();
    });
  }
  return app.exec();
}
