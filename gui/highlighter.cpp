#include "gui/highlighter.h"

#include "environment/settings.h"
#include "gui/qt_text.h"

namespace velmora::gui {

namespace {

QTextCharFormat coloured(int rgb, bool mono, bool bold = false) {
  QTextCharFormat f;
  if (mono) rgb = environment::Settings::grey(rgb);
  f.setForeground(QColor(QRgb(unsigned(rgb) | 0xFF000000u)));
  if (bold) f.setFontWeight(QFont::Bold);
  return f;
}

bool word_char(QChar c) { return c.isLetterOrNumber() || c == u'_'; }

}  // namespace

ProgramHighlighter::ProgramHighlighter(const language::LanguageTables &tables, QTextDocument *document)
    : QSyntaxHighlighter(document), tables_(tables) {
  makeFormats();
  reloadWords();
}

void ProgramHighlighter::makeFormats() {
  keyword_ = coloured(0x0000A0, monochrome_, true);
  function_ = coloured(0x006E6E, monochrome_);
  string_ = coloured(0xA02800, monochrome_);
  number_ = coloured(0x78008C, monochrome_);
  variable_ = coloured(0x007800, monochrome_);
  comment_ = coloured(0x808080, monochrome_);
}

void ProgramHighlighter::setMonochrome(bool on) {
  if (on == monochrome_) return;
  monochrome_ = on;
  makeFormats();
  rehighlight();
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
      // A reserved word after the mark stays a reserved word (&NAME is "&"
      // and the keyword NAME to the language, no variable).
      const QString word = text.mid(i + 1, end - i - 1).toUpper();
      if (keywords_.contains(word)) setFormat(i + 1, end - i - 1, keyword_);
      else if (functions_.contains(word)) setFormat(i + 1, end - i - 1, function_);
      else setFormat(i, end - i, variable_);
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
