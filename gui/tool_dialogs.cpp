#include "gui/tool_dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextBlock>
#include <QVBoxLayout>

#include "gui/qt_text.h"
#include "language/word_editing.h"
#include "text/lines.h"

namespace velmora::gui {

// ----- web page

WebPageDialog::WebPageDialog(QWidget *parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("WEBページ読み込み"));
  url_ = new QLineEdit;
  url_->setObjectName(QStringLiteral("UrlEdit"));
  url_->setMinimumWidth(420);
  encoding_ = new QComboBox;
  encoding_->addItems({QStringLiteral("UTF8"), QStringLiteral("SJIS")});
  auto *form = new QFormLayout;
  form->addRow(QStringLiteral("URL"), url_);
  form->addRow(QStringLiteral("エンコード"), encoding_);
  auto *get = new QPushButton(QStringLiteral("ゲット"));
  auto *cancel = new QPushButton(QStringLiteral("キャンセル"));
  get->setDefault(true);
  connect(get, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  auto *buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(get);
  buttons->addWidget(cancel);
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addLayout(buttons);
}

u16 WebPageDialog::url() const { return u(url_->text().trimmed()); }
u16 WebPageDialog::encoding() const { return u(encoding_->currentText()); }

// ----- error location

ErrorLocationDialog::ErrorLocationDialog(const Lines &tokens, int lastRead, const QFont &font, QWidget *parent)
    : QDialog(parent) {
  setWindowTitle(QStringLiteral("エラー認定位置"));
  tokens_ = new QListWidget;
  tokens_->setFont(font);
  for (const u16 &token : tokens) tokens_->addItem(qs(token));
  if (lastRead >= 0 && lastRead < tokens_->count()) {
    tokens_->setCurrentRow(lastRead);
    tokens_->scrollToItem(tokens_->item(lastRead), QAbstractItemView::PositionAtCenter);
  }
  auto *note = new QLabel(QStringLiteral("選択行：文法検査で最後に読んだトークン（行番号 記号 語）"));
  auto *close = new QDialogButtonBox(QDialogButtonBox::Close);
  connect(close, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto *layout = new QVBoxLayout(this);
  layout->addWidget(note);
  layout->addWidget(tokens_);
  layout->addWidget(close);
  resize(420, 480);
}

// ----- extraction

ExtractionDialog::ExtractionDialog(QWidget *parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("抽出（プログラム生成）"));
  path_ = new QLineEdit;
  path_->setObjectName(QStringLiteral("ExtUrlPathEdit"));
  encoding_ = new QLineEdit(QStringLiteral("UTF8"));
  encoding_->setObjectName(QStringLiteral("EncodeEdit"));
  encoding_->setMaximumWidth(80);
  web_ = new QCheckBox(QStringLiteral("Webアクセスコード"));
  connect(path_, &QLineEdit::textChanged, this, [this] { path_->setStyleSheet(QString()); });

  grid_ = new QTableWidget(0, kColumns);
  grid_->setObjectName(QStringLiteral("ExtractCondGrid"));
  QStringList headings{QString(), QStringLiteral("区間条件")};
  for (int k = 1; k <= 10; ++k) headings << QStringLiteral("→%1").arg(k) << QStringLiteral("%1←").arg(k);
  grid_->setHorizontalHeaderLabels(headings);
  grid_->verticalHeader()->hide();
  grid_->setColumnWidth(0, 30);
  connect(grid_, &QTableWidget::cellDoubleClicked, this, [this](int row, int column) {
    if (column == 1) toggleMode(row);
  });
  addRow();

  auto *plus = new QPushButton(QStringLiteral("+"));
  auto *minus = new QPushButton(QStringLiteral("-"));
  auto *run = new QPushButton(QStringLiteral("抽出"));
  connect(plus, &QPushButton::clicked, this, [this] { addRow(); });
  connect(minus, &QPushButton::clicked, this, [this] { removeRow(); });
  connect(run, &QPushButton::clicked, this, [this] {
    if (auto s = spec()) emit generate(*s);
  });

  auto *top = new QHBoxLayout;
  top->addWidget(new QLabel(QStringLiteral("URL／パス")));
  top->addWidget(path_, 1);
  top->addWidget(new QLabel(QStringLiteral("エンコード")));
  top->addWidget(encoding_);
  top->addWidget(web_);
  auto *buttons = new QHBoxLayout;
  buttons->addWidget(plus);
  buttons->addWidget(minus);
  buttons->addStretch();
  buttons->addWidget(run);
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(grid_);
  layout->addLayout(buttons);
  resize(900, 300);
}

void ExtractionDialog::addRow() {
  int row = grid_->rowCount();
  grid_->insertRow(row);
  auto *number = new QTableWidgetItem(QString::number(row + 1));
  number->setFlags(Qt::ItemIsEnabled);
  grid_->setItem(row, 0, number);
  auto *mode = new QTableWidgetItem(QStringLiteral("0"));
  mode->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  grid_->setItem(row, 1, mode);
}

void ExtractionDialog::removeRow() {
  int last = grid_->rowCount() - 1;
  if (last < 0) return;
  for (int c = 2; c < kColumns; ++c) delete grid_->takeItem(last, c);
  grid_->item(last, 1)->setText(QStringLiteral("0"));
  if (grid_->rowCount() >= 2) grid_->removeRow(last);  // one condition row always stays
}

void ExtractionDialog::toggleMode(int row) {
  QTableWidgetItem *mode = grid_->item(row, 1);
  if (!mode) return;
  mode->setText(mode->text() == QStringLiteral("0") ? QStringLiteral("1") : QStringLiteral("0"));
}

void ExtractionDialog::setEncoding(const u16 &encoding) { encoding_->setText(qs(encoding)); }

std::optional<environment::ExtractionSpec> ExtractionDialog::spec() {
  if (path_->text().isEmpty()) {
    path_->setStyleSheet(QStringLiteral("background: yellow"));
    return std::nullopt;
  }
  environment::ExtractionSpec s;
  s.sourcePath = u(path_->text());
  s.encoding = u(encoding_->text());
  s.webAccess = web_->isChecked();
  for (int r = 0; r < grid_->rowCount(); ++r) {
    environment::ExtractionRow row;
    row.mode = u(grid_->item(r, 1)->text());
    for (int c = 2; c < kColumns; ++c)
      if (QTableWidgetItem *item = grid_->item(r, c)) row.markers[std::size_t(c - 2)] = u(item->text());
    s.rows.push_back(std::move(row));
  }
  return s;
}

// ----- the language's words

namespace {

const char16_t kRenameWarning[] =
    u"＊予約語変更後の注意点＊\r(1)既存ユーザープログラムのコンパイル、実行が影響を受ける\r(2)"
    u"当システムの動作は一切保証されない\r"
    u"(3)変更後の予約語、文法はファイルに保存される\r\r*予約語、文法の復元手順*\r(1)"
    u"予約語、文法ファイルを取り除くと初期状態の予約語、"
    u"文法に戻る\r(2)変更された登録ユーザープログラムは手動で変更を戻す\r\r*制限*\r・2019.7.18 "
    u"登録プログラムの変更は、コメント、文字列も"
    u"変更される\r";

const char *const kCaptions[] = {"キーワード", "特殊記号・演算子", "数学関数", "コマンド", "文法"};
const char *const kFiles[] = {language::LanguageTables::kKeywordFile, language::LanguageTables::kSymbolFile,
                              language::LanguageTables::kMathFile, language::LanguageTables::kCommandFile,
                              language::LanguageTables::kSyntaxFile};

Lines editor_lines(const QPlainTextEdit *e) {
  Lines out;
  for (QTextBlock b = e->document()->begin(); b.isValid(); b = b.next()) out.push_back(u(b.text()));
  while (!out.empty() && out.back().empty()) out.pop_back();
  return out;
}

}  // namespace

LanguageDialog::LanguageDialog(environment::Environment &env, QWidget *parent) : QDialog(parent), env_(env) {
  setWindowTitle(QStringLiteral("言語定義"));
  pages_ = new QTabWidget;
  for (int i = 0; i < 5; ++i) {
    const List which = List(i);
    auto *list = new QListWidget;
    list->setObjectName(QStringLiteral("wordList%1").arg(i));
    auto *editor = new QPlainTextEdit;
    editor->setLineWrapMode(QPlainTextEdit::NoWrap);
    auto *stack = new QStackedWidget;
    lists_[std::size_t(i)] = list;
    editors_[std::size_t(i)] = editor;
    stacks_[std::size_t(i)] = stack;

    // Page 0: the list with its edit button; page 1: the editor.
    auto *listPage = new QWidget;
    auto *listLayout = new QVBoxLayout(listPage);
    listLayout->addWidget(list);
    auto *edit = new QPushButton(which == Grammar ? QStringLiteral("文法編集") : QStringLiteral("編集"));
    listLayout->addWidget(edit);
    auto *editPage = new QWidget;
    auto *editLayout = new QVBoxLayout(editPage);
    editLayout->addWidget(editor);
    auto *keep = new QPushButton(which == Grammar ? QStringLiteral("保存") : QStringLiteral("差し替え"));
    auto *discard = new QPushButton(QStringLiteral("破棄"));
    auto *saveAs =
        new QPushButton(which == Grammar ? QStringLiteral("文法のファイル保存") : QStringLiteral("ファイル保存"));
    auto *row = new QHBoxLayout;
    row->addWidget(saveAs);
    row->addStretch();
    row->addWidget(keep);
    row->addWidget(discard);
    connect(saveAs, &QPushButton::clicked, this, [this, which, editor] {
      // The word editor's lines, or the grammar as it stands.
      saveToChosenFile(which, which == Grammar ? lines(Grammar) : editor_lines(editor));
    });
    editLayout->addLayout(row);
    stack->addWidget(listPage);
    stack->addWidget(editPage);
    pages_->addTab(stack, QString::fromUtf8(kCaptions[i]));

    connect(edit, &QPushButton::clicked, this, [this, which, editor, stack] {
      QStringList text;
      for (const u16 &line : lines(which)) text << qs(line);
      editor->setPlainText(text.join(QChar(u'\n')));
      stack->setCurrentIndex(1);
    });
    connect(keep, &QPushButton::clicked, this, [this, which, editor, stack] {
      Lines edited = editor_lines(editor);
      if (edited.empty()) return;
      if (!replaceList(which, edited)) return;
      editor->clear();
      stack->setCurrentIndex(0);
    });
    connect(discard, &QPushButton::clicked, this, [editor, stack] {
      editor->clear();
      stack->setCurrentIndex(0);
    });
    if (which != Grammar)
      connect(list, &QListWidget::itemDoubleClicked, this, [this, which, list](QListWidgetItem *item) {
        env_.ui.message(kRenameWarning, u"");
        bool ok = false;
        QString word = QInputDialog::getText(this, QString::fromUtf8(kCaptions[which]), QStringLiteral("新しい語"),
                                             QLineEdit::Normal, item->text(), &ok);
        if (ok) renameRow(which, list->row(item), u(word.trimmed()));
      });
  }
  auto *close = new QDialogButtonBox(QDialogButtonBox::Close);
  connect(close, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto *layout = new QVBoxLayout(this);
  layout->addWidget(pages_);
  layout->addWidget(close);
  resize(520, 560);
  refresh();
}

const Lines &LanguageDialog::lines(List which) const {
  return env_.languageList(environment::Environment::LanguageList(which));
}

void LanguageDialog::refresh() {
  for (int i = 0; i < 5; ++i) {
    QListWidget *list = lists_[std::size_t(i)];
    list->clear();
    for (const u16 &line : lines(List(i))) list->addItem(qs(line));
  }
}

bool LanguageDialog::renameRow(List which, int row, const u16 &newWord) {
  const Lines &words = lines(which);
  if (which == Grammar || row < 0 || row >= int(words.size())) return false;
  const u16 oldWord = words[std::size_t(row)];
  if (newWord.empty() || newWord == oldWord) return false;
  env_.renameWord(oldWord, newWord);
  refresh();
  return true;
}

bool LanguageDialog::replaceList(List which, const Lines &edited) {
  if (!env_.replaceLanguageList(environment::Environment::LanguageList(which), edited)) return false;
  refresh();
  return true;
}

bool LanguageDialog::saveToChosenFile(List which, const Lines &content) {
  auto chosen = env_.ui.chooseSaveFile(u"ファイル保存", env_.home, text::from_utf8(kFiles[which]));
  if (!chosen) return false;
  const u16 name = text::from_utf8(chosen->filename().string());
  const std::string upper = text::to_utf8(text::upper_ascii(name));
  for (const char *system : kFiles) {
    if (upper.find(text::to_utf8(text::upper_ascii(text::from_utf8(system)))) == std::string::npos) continue;
    if (!env_.ui.askYesNo(name + u" :システムファイルを差し替えますか？", u"差し替え注意")) return false;
    break;
  }
  if (!text::write_lines_file(*chosen, content)) {
    env_.ui.message(u"ファイルに保存できません", u"");
    return false;
  }
  if (which != Grammar) env_.ui.message(u"変更反映には再起動が必要です。", u"");
  return true;
}

void LanguageDialog::done(int result) {
  env_.confirmRename();
  QDialog::done(result);
}

}  // namespace velmora::gui
