#include "gui/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace velmora::gui {

bool install_qt_translations(QCoreApplication &app) {
  const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  auto *t = new QTranslator(&app);
  if (!t->load(QStringLiteral("qtbase_ja"), dir)) {
    delete t;
    return false;
  }
  QCoreApplication::installTranslator(t);
  return true;
}

}  // namespace velmora::gui
