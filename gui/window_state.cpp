// The window's own state kept in the settings: its place, size and
// maximised state, and the heights of the debugger's task and timer grids.
#include <QGuiApplication>
#include <QScreen>
#include <QSplitter>

#include "gui/debugger_panel.h"
#include "gui/main_window.h"
#include "gui/qt_text.h"

namespace velmora::gui {

void MainWindow::restoreWindowState() {
  const environment::Settings &s = env_->settings();
  // The window system's own record puts the frame back where it was (and
  // on a screen that is still there); the numbers of older files are the
  // inner rectangle, given back as such.
  if (!s.mainWindowState.empty() && restoreGeometry(QByteArray::fromBase64(qs(s.mainWindowState).toLatin1(),
                                                                           QByteArray::AbortOnBase64DecodingErrors)))
    return;
  const auto &g = s.mainWindowGeometry;
  QRect room =
      QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->availableGeometry() : QRect(0, 0, 1280, 800);
  const int width = std::clamp(g[2], 400, std::max(400, room.width()));
  const int height = std::clamp(g[3], 300, std::max(300, room.height()));
  // A place on no screen any more (another monitor, a smaller display) is
  // left to the window manager.
  if (g[0] >= 0 && g[1] >= 0 && room.intersects(QRect(g[0], g[1], 100, 50))) setGeometry(g[0], g[1], width, height);
  else resize(width, height);
  if (g[4]) setWindowState(windowState() | Qt::WindowMaximized);
}

void MainWindow::keepWindowState() {
  environment::Settings s = env_->settings();
  const QRect r = isMaximized() ? normalGeometry() : geometry();
  if (r.isValid())
    s.mainWindowGeometry = {std::max(r.x(), 0), std::max(r.y(), 0), r.width(), r.height(), isMaximized() ? 1 : 0};
  s.mainWindowState = u(QString::fromLatin1(saveGeometry().toBase64()));
  if (auto *monitor = debugger_->findChild<QSplitter *>(QStringLiteral("monitorSplit"))) {
    const QList<int> sizes = monitor->sizes();
    if (sizes.size() >= 2 && sizes[0] > 0 && sizes[1] > 0) s.taskMonitorSizes = {sizes[0], sizes[1]};
  }
  env_->setSettings(s);
}

}  // namespace velmora::gui
