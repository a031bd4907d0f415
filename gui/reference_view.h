#pragma once
// The language reference in the help window: Markdown from the IDE's
// resources, rendered by Qt's Markdown reader (CommonMark with tables,
// fenced and indented code). A line break inside a Japanese sentence is no
// blank in Japanese, but the reader makes every soft break one: the breaks
// between two CJK characters are marked in the source (a zero-width space)
// and the blank after each mark is taken out of the rendered text again.
#include <QTextBrowser>

namespace velmora::gui {

// The Markdown with a zero-width space at the end of every line whose last
// character and the next line's first are CJK (or full-width) characters.
QString mark_cjk_line_breaks(const QString &markdown);
// In the rendered document: each mark and the blank the break left after it
// go; a mark at the end of a block (a code line) goes alone.
void close_marked_breaks(QTextDocument *document);

class ReferenceBrowser : public QTextBrowser {
 public:
  using QTextBrowser::QTextBrowser;
  QVariant loadResource(int type, const QUrl &name) override;

 protected:
  void doSetSource(const QUrl &name, QTextDocument::ResourceType type) override;
};

}  // namespace velmora::gui
