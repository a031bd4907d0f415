#include "gui/highlighter.h"

#include "gui/qt_text.h"

namespace velmora::gui {

namespace {

QTextCharFormat coloured(const QColor &colour, bool bold = false) {
  QTextCharFormat f;
  f.setForeground(colour);
  if (bold) f.setFontWeight(QFont::Bold);
  return f;
}

bool word_char(QChar c) { return c.isLetterOrNumber() || c == u'_'; }

}  // namespace

ProgramHighlighter::ProgramHighlighter(const LanguageTables &tables, QTextDocument *document)
    : QSyntaxHighlighter(document), tables_(tables) {
  keyword_ = coloured(QColor(0, 0, 160), true);
  function_ = coloured(QColor(0, 110, 110));
  string_ = coloured(QColor(160, 40, 0));
  number_ = coloured(QColor(120, 0, 140));
  variable_ = coloured(QColor(0, 120, 0));
  comment_ = coloured(QColor(128, 128, 128));
  reloadWords();
}

void ProgramHighlighter::reloadWords() {
  keywords_.clear();
  functions_.clear();
  // Only words: symbols and operators stay in the text colour.
  for (const u16 &k : tables_.keywords) {
    QString w = qs(k);
    if (!w.isEmpty() && w.front().isLetter()) keywords_.insert(w.toUpper());
  }
  for (const u16 &f : tables_.mathFuncs) functions_.insert(qs(f).toUpper());
  rehighlight();
}

void ProgramHighlighter::highlightBlock(const QString &text) {
  const int n = int(text.size());
  int i = 0;
  while (i < n) {
    const QChar c = text[i];
    if (c == u'"') {  // a string constant runs to the next double quote
      int end = int(text.indexOf(QChar(u'"'), i + 1));
      end = end < 0 ? n : end + 1;
      setFormat(i, end - i, string_);
      i = end;
    } else if (c == u'/' && i + 1 < n && text[i + 1] == u'/') {
      setFormat(i, n - i, comment_);
      return;
    } else if ((c == u'&' || c == u'%' || c == u'$') && i + 1 < n && text[i + 1].isLetter()) {
      int end = i + 1;
      while (end < n && word_char(text[end])) ++end;
      setFormat(i, end - i, variable_);
      i = end;
    } else if (c.isDigit()) {
      int end = i;
      while (end < n && (text[end].isDigit() || text[end] == u'.')) ++end;
      setFormat(i, end - i, number_);
      i = end;
    } else if (c.isLetter() || c == u'_') {
      int end = i;
      while (end < n && word_char(text[end])) ++end;
      const QString word = text.mid(i, end - i).toUpper();
      if (keywords_.contains(word)) setFormat(i, end - i, keyword_);
      else if (functions_.contains(word)) setFormat(i, end - i, function_);
      i = end;
    } else {
      ++i;
    }
  }
}

}  // namespace velmora::gui
