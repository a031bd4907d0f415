#pragma once
// Qt's own texts (file dialogs, Yes/No/Cancel buttons) in Japanese.
class QCoreApplication;

namespace velmora::gui {

// Installs Qt's Japanese translations from Qt's translation directory;
// false when they are not installed (the texts stay English).
bool install_qt_translations(QCoreApplication &app);

}  // namespace velmora::gui
