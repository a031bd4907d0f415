#pragma once
// Colours a program as the language sees it: words of the keyword list,
// mathematical functions, string constants, numbers, typed variables
// (&, %, $) and "//" comments. The words come from the loaded tables, so
// an edited language is coloured as edited.
#include <QSet>
#include <QSyntaxHighlighter>

#include "language/language_tables.h"

namespace velmora::gui {

class ProgramHighlighter : public QSyntaxHighlighter {
  Q_OBJECT
 public:
  ProgramHighlighter(const language::LanguageTables &tables, QTextDocument *document);
  // The word lists changed (words renamed or replaced).
  void reloadWords();
  // "カラー表示をモノクロにする": every colour as its grey.
  void setMonochrome(bool on);
  bool monochrome() const { return monochrome_; }

 protected:
  void highlightBlock(const QString &text) override;

 private:
  const language::LanguageTables &tables_;
  QSet<QString> keywords_, functions_;
  QTextCharFormat keyword_, function_, string_, number_, variable_, comment_;
  bool monochrome_ = false;
  void makeFormats();
};

}  // namespace velmora::gui
