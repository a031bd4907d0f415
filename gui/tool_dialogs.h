#pragma once
// The tool windows of the IDE: loading a web page into a tab, the
// extraction program generator and the editor of the language's words and
// grammar.
#include <QDialog>

#include "environment/environment.h"
#include "environment/generated_programs.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QStackedWidget;
class QTableWidget;
class QTabWidget;

namespace velmora::gui {

// "WEBページ読み込み": a URL and an encoding, "ゲット" or "キャンセル".
class WebPageDialog : public QDialog {
  Q_OBJECT
 public:
  explicit WebPageDialog(QWidget *parent = nullptr);
  u16 url() const;
  u16 encoding() const;
  QLineEdit *urlEdit() const { return url_; }
  QComboBox *encodingBox() const { return encoding_; }

 private:
  QLineEdit *url_ = nullptr;
  QComboBox *encoding_ = nullptr;
};

// "エラー認定位置": the token stream of a failed compile, the last token the
// recogniser read selected.
class ErrorLocationDialog : public QDialog {
  Q_OBJECT
 public:
  ErrorLocationDialog(const Lines &tokens, int lastRead, const QFont &font, QWidget *parent = nullptr);
  QListWidget *tokenView() const { return tokens_; }

 private:
  QListWidget *tokens_ = nullptr;
};

// "抽出（プログラム生成）": the source, the encoding, the web-access switch and
// the condition grid (section mode and ten marker pairs per row).
class ExtractionDialog : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kColumns = 22;
  explicit ExtractionDialog(QWidget *parent = nullptr);

  void addRow();     // "+"
  void removeRow();  // "-"
  void toggleMode(int row);
  // The grid as the generator reads it; nullopt (path field marked) when the
  // source path is empty.
  std::optional<environment::ExtractionSpec> spec();
  void setEncoding(const u16 &encoding);

  QLineEdit *pathEdit() const { return path_; }
  QLineEdit *encodingEdit() const { return encoding_; }
  QCheckBox *webAccess() const { return web_; }
  QTableWidget *grid() const { return grid_; }

 signals:
  void generate(const environment::ExtractionSpec &spec);  // "抽出"

 private:
  QLineEdit *path_ = nullptr;
  QLineEdit *encoding_ = nullptr;
  QCheckBox *web_ = nullptr;
  QTableWidget *grid_ = nullptr;
};

// The words of the language ("キーワード", "特殊記号・演算子", "数学関数",
// "コマンド") and the grammar ("文法"): renaming one word by double-click,
// replacing a whole list, editing the grammar as text.
class LanguageDialog : public QDialog {
  Q_OBJECT
 public:
  enum List { Keywords, Symbols, MathFunctions, Commands, Grammar };
  LanguageDialog(environment::Environment &env, QWidget *parent = nullptr);

  QListWidget *list(List which) const { return lists_[which]; }
  QTabWidget *pages() const { return pages_; }
  // Renames the word in a row (after the warning); false when unchanged.
  bool renameRow(List which, int row, const u16 &newWord);
  // "差し替え" / "保存": the editor's lines replace the list (sorted for a
  // word list) and are written to its table file.
  bool replaceList(List which, const Lines &lines);
  // "ファイル保存" / "文法のファイル保存": the lines as they stand into a chosen
  // file; a system table file name asks first.
  bool saveToChosenFile(List which, const Lines &lines);
  void refresh();

 protected:
  void done(int result) override;  // a pending rename is confirmed on closing

 private:
  environment::Environment &env_;
  QTabWidget *pages_ = nullptr;
  std::array<QListWidget *, 5> lists_{};
  std::array<QPlainTextEdit *, 5> editors_{};
  std::array<QStackedWidget *, 5> stacks_{};
  const Lines &lines(List which) const;
};

}  // namespace velmora::gui
