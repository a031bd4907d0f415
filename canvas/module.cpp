// The canvases as a module that velmora-run loads when a program first
// uses a canvas, so that a run which draws nothing neither links nor starts
// Qt. The application object is made here, once, and never destroyed: its
// teardown would only cost time at exit.
#include <QGuiApplication>
#include <cstdio>

#include "canvas/module.h"
#include "canvas/qimage_canvas.h"

extern "C" __attribute__((visibility("default"))) velmora::engine::CanvasServices *velmora_canvas_open() {
  if (!QCoreApplication::instance()) {
    // Canvases draw for real without a display. Qt's own diagnostics are
    // not part of the runner's output.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
      if (type == QtFatalMsg) std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    });
    static int argc = 1;
    static char name[] = "velmora-run";
    static char *argv[] = {name, nullptr};
    new QGuiApplication(argc, argv);
  }
  static auto *canvases = new velmora::canvas::ImageCanvas;
  return canvases;
}
