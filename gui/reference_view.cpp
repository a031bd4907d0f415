#include "gui/reference_view.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>

namespace velmora::gui {

namespace {

bool wide(QChar c) {
  const char16_t u = c.unicode();
  return (u >= 0x3000 && u <= 0x9FFF) || (u >= 0xF900 && u <= 0xFAFF) || (u >= 0xFF00 && u <= 0xFFEF);
}

// A line that starts a block of its own rather than continuing a paragraph.
bool starts_block(const QString &line) {
  static const QRegularExpression marker(QStringLiteral("^\\s*([-*+]|\\d+[.)])\\s"));
  const QString t = line.trimmed();
  return t.isEmpty() || t.startsWith(u'#') || t.startsWith(u'|') || t.startsWith(u'>') ||
         t.startsWith(QStringLiteral("```")) || t.startsWith(QStringLiteral("<")) || marker.match(line).hasMatch();
}

}  // namespace

QString join_soft_breaks(const QString &markdown) {
  const QStringList lines = markdown.split(QChar(u'\n'));
  QStringList out;
  bool fenced = false, joinable = false;
  for (const QString &line : lines) {
    if (line.trimmed().startsWith(QStringLiteral("```"))) {
      fenced = !fenced;
      out << line;
      joinable = false;
      continue;
    }
    if (fenced) {
      out << line;
      continue;
    }
    if (joinable && !starts_block(line)) {
      QString &last = out.last();
      const QString next = line.trimmed();
      const bool tight = wide(last.back()) || wide(next.front());
      last += (tight ? QString() : QStringLiteral(" ")) + next;
    } else {
      out << line;
    }
    const QString t = line.trimmed();
    joinable = !t.isEmpty() && !t.startsWith(u'#') && !t.startsWith(u'|') && !line.endsWith(QStringLiteral("  ")) &&
               !out.last().endsWith(QStringLiteral("  "));
  }
  return out.join(QChar(u'\n'));
}

QVariant ReferenceBrowser::loadResource(int type, const QUrl &name) {
  if (type == QTextDocument::MarkdownResource && name.path().endsWith(QStringLiteral(".md"))) {
    QFile file(QStringLiteral(":") + name.path());
    if (file.open(QIODevice::ReadOnly)) return join_soft_breaks(QString::fromUtf8(file.readAll()));
  }
  return QTextBrowser::loadResource(type, name);
}

}  // namespace velmora::gui
