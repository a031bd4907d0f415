#include "gui/find_replace.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>
#include <QVBoxLayout>

namespace velmora::gui {

namespace {

const auto kCase = QTextDocument::FindCaseSensitively;

}  // namespace

bool find_next_match(QPlainTextEdit *editor, const QString &text) {
  if (!editor || text.isEmpty()) return false;
  QTextCursor found = editor->document()->find(text, editor->textCursor(), kCase);
  if (found.isNull()) found = editor->document()->find(text, 0, kCase);  // from the top again
  if (found.isNull()) return false;
  editor->setTextCursor(found);
  editor->ensureCursorVisible();
  return true;
}

bool replace_selected_match(QPlainTextEdit *editor, const QString &text, const QString &with) {
  if (!editor || text.isEmpty() || editor->isReadOnly()) return false;
  QTextCursor c = editor->textCursor();
  const bool replaced = c.hasSelection() && c.selectedText() == text;
  if (replaced) {
    c.insertText(with);
    editor->setTextCursor(c);
  }
  find_next_match(editor, text);
  return replaced;
}

int replace_all_matches(QPlainTextEdit *editor, const QString &text, const QString &with) {
  if (!editor || text.isEmpty() || editor->isReadOnly()) return 0;
  QTextDocument *doc = editor->document();
  QTextCursor edit(doc);
  int count = 0;
  edit.beginEditBlock();
  for (QTextCursor found = doc->find(text, 0, kCase); !found.isNull();
       found = doc->find(text, found.position(), kCase)) {  // after the replacement: no match inside it
    found.insertText(with);
    ++count;
  }
  edit.endEditBlock();
  return count;
}

ReplaceDialog::ReplaceDialog(std::function<QPlainTextEdit *()> editor, QWidget *parent)
    : QDialog(parent), editor_(std::move(editor)), find_(new QLineEdit), with_(new QLineEdit), result_(new QLabel) {
  setWindowTitle(QStringLiteral("置換"));
  setObjectName(QStringLiteral("replaceDialog"));
  auto *form = new QFormLayout;
  form->addRow(QStringLiteral("検索する文字列"), find_);
  form->addRow(QStringLiteral("置換後の文字列"), with_);
  auto *next = new QPushButton(QStringLiteral("次を検索"));
  auto *one = new QPushButton(QStringLiteral("置換"));
  auto *all = new QPushButton(QStringLiteral("すべて置換"));
  auto *close = new QPushButton(QStringLiteral("閉じる"));
  next->setDefault(true);
  auto *buttons = new QHBoxLayout;
  for (QPushButton *b : {next, one, all, close}) buttons->addWidget(b);
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addLayout(buttons);
  layout->addWidget(result_);
  connect(next, &QPushButton::clicked, this, [this] { findNext(); });
  connect(one, &QPushButton::clicked, this, [this] { replaceOne(); });
  connect(all, &QPushButton::clicked, this, [this] { replaceAll(); });
  connect(close, &QPushButton::clicked, this, &QDialog::close);
}

bool ReplaceDialog::findNext() {
  const bool found = find_next_match(editor_(), find_->text());
  result_->setText(found ? QString() : QStringLiteral("見つかりません"));
  return found;
}

bool ReplaceDialog::replaceOne() {
  QPlainTextEdit *e = editor_();
  const bool replaced = replace_selected_match(e, find_->text(), with_->text());
  if (!e || !e->textCursor().hasSelection()) result_->setText(QStringLiteral("見つかりません"));
  else result_->setText(replaced ? QStringLiteral("1 件置換しました") : QString());
  return replaced;
}

int ReplaceDialog::replaceAll() {
  const int n = replace_all_matches(editor_(), find_->text(), with_->text());
  result_->setText(n ? QStringLiteral("%1 件置換しました").arg(n) : QStringLiteral("見つかりません"));
  return n;
}

}  // namespace velmora::gui
