#pragma once
// The language reference in the help window: Markdown from the IDE's
// resources, with the source's soft line breaks joined before rendering, so
// that Japanese sentences broken across source lines show no stray blanks.
#include <QTextBrowser>

namespace velmora::gui {

// The lines of each paragraph (and list item) joined: with nothing between
// them when either side of the break is a CJK character, else with one
// blank. Blank lines, headings, list markers, tables, quotes, fenced code
// and hard breaks (two trailing blanks) stay as they are.
QString join_soft_breaks(const QString &markdown);

class ReferenceBrowser : public QTextBrowser {
 public:
  using QTextBrowser::QTextBrowser;
  QVariant loadResource(int type, const QUrl &name) override;
};

}  // namespace velmora::gui
