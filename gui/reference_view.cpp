#include "gui/reference_view.h"

#include <QFile>
#include <QTextBlock>
#include <QTextCursor>

namespace velmora::gui {

namespace {

constexpr QChar kMark(0x200B);

bool wide(QChar c) {
  const char16_t u = c.unicode();
  return (u >= 0x3000 && u <= 0x9FFF) || (u >= 0xF900 && u <= 0xFAFF) || (u >= 0xFF00 && u <= 0xFFEF);
}

}  // namespace

QString mark_cjk_line_breaks(const QString &markdown) {
  QStringList lines = markdown.split(QChar(u'\n'));
  for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
    const QString &line = lines[i];
    if (line.endsWith(QStringLiteral("  "))) continue;  // a hard break stays one
    const QString end = line.trimmed(), next = lines[i + 1].trimmed();
    if (!end.isEmpty() && !next.isEmpty() && wide(end.back()) && wide(next.front())) lines[i] += kMark;
  }
  return lines.join(QChar(u'\n'));
}

void close_marked_breaks(QTextDocument *document) {
  QTextCursor cursor(document);
  cursor.beginEditBlock();
  for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
    const QString text = block.text();
    // From the end, so that earlier positions stay valid.
    for (qsizetype i = text.size() - 1; i >= 0; --i) {
      if (text[i] != kMark) continue;
      cursor.setPosition(block.position() + int(i));
      cursor.setPosition(block.position() + int(i) + (i + 1 < text.size() && text[i + 1] == u' ' ? 2 : 1),
                         QTextCursor::KeepAnchor);
      cursor.removeSelectedText();
    }
  }
  cursor.endEditBlock();
}

QVariant ReferenceBrowser::loadResource(int type, const QUrl &name) {
  if (type == QTextDocument::MarkdownResource && name.path().endsWith(QStringLiteral(".md"))) {
    QFile file(QStringLiteral(":") + name.path());
    if (file.open(QIODevice::ReadOnly)) return mark_cjk_line_breaks(QString::fromUtf8(file.readAll()));
  }
  return QTextBrowser::loadResource(type, name);
}

void ReferenceBrowser::doSetSource(const QUrl &name, QTextDocument::ResourceType type) {
  QTextBrowser::doSetSource(name, type);
  close_marked_breaks(document());
}

}  // namespace velmora::gui
