#include "gui/settings_dialog.h"

#include <algorithm>

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "gui/qt_text.h"

namespace velmora::gui {

using environment::FontSetting;
using environment::Settings;

namespace {

struct Check {
  const char *page;
  const char *group;  // nullptr: directly on the page
  const char *caption;
  bool Settings::*member;
  const char *name;
};

// The object name of each box is that of its widget, kept apart from the
// field it edits.
#define VELMORA_CHECK(page, group, caption, member, widget) \
  { page, group, caption, &Settings::member, widget }

const Check kChecks[] = {
    VELMORA_CHECK("実行時表示", nullptr, "実行時にタスク状態を更新する", updateTaskStatus, "UPdateDebugInfoCheckBox"),
    VELMORA_CHECK("実行時表示", nullptr, "実行時タイマー状態を更新する", updateTimerStatus, "UpdateTimerCheckBox"),
    VELMORA_CHECK("実行時表示", nullptr, "実行時ブレークポイントを有効にする", breakpointsEnabled, "BP_EnableCheckBox"),
    VELMORA_CHECK("実行時表示", nullptr, "実行時にｲﾍﾞﾝﾄﾁｬｰﾄを描画する", drawEventChart, "EventChartCheckBox"),
    VELMORA_CHECK("実行時表示", nullptr, "実行時にコンソール状態を更新する", updateConsole, "UpdateConsoleCheckBox"),
    VELMORA_CHECK("実行時表示", "実行開始時　画面レイアウト", "プログラムリスト", keepProgramListOnRun,
                  "StayProgListCheckBox"),
    VELMORA_CHECK("実行時表示", "実行開始時　画面レイアウト", "プログラム編集", keepEditorOnRun, "StayEditorCheckBox"),
    VELMORA_CHECK("実行時表示", "実行開始時　画面レイアウト", "システムコンソール", keepConsoleOnRun,
                  "StayConsoleCheckBox"),
    VELMORA_CHECK("実行時表示", "実行開始時　画面レイアウト", "デバッガ", keepDebuggerOnRun, "StayDebugCheckBox"),
    VELMORA_CHECK("エラー検出", nullptr, "ファイル入出力エラーを検出する(実行中断)", stopOnFileError,
                  "FILE_ERROR_CheckBox"),
    VELMORA_CHECK("エラー検出", nullptr, "COMMAND.COM　実行エラー検出", stopOnCommandError,
                  "COMMAND_EXEC_ERROR_CheckBox"),
    VELMORA_CHECK("エラー検出", nullptr, "実行時エラー検出で停止", stopOnRuntimeError, "Runtime_Error_Stop_CheckBox"),
    VELMORA_CHECK("エラー検出", "内部形式変換時メッセージ", "変数・ラベル警告メッセージ", variableAlert,
                  "VARIABLE_ALERT_CheckBox"),
    VELMORA_CHECK("エラー検出", nullptr, "レポート表示", showCompileReport, "COMPILE_REPORT_CheckBox"),
    VELMORA_CHECK("エラー検出", nullptr, "エラー認定位置表示", showErrorLocator, "ShowErrorLocatorCheckBox"),
    VELMORA_CHECK("エラー検出", nullptr, "コンパイラのメッセージボックスを表示", showCompilerMessages,
                  "COMPILE_MESSAGE_CheckBox"),
    VELMORA_CHECK("パス設定", "データパス設定", "データ 用ディレクトリを使う", useDataDirectory, "AppliDirCheckBox"),
    VELMORA_CHECK("パス設定", "ユーザープログラムパス設定", "ユーザープログラム用ディレクトリを使う",
                  useProgramDirectory, "AppliProgDirCheckBox"),
    VELMORA_CHECK("エディッタ", "コード変換", "シングルクォートをダブルクォートに置き換え", replaceSingleQuotes,
                  "Editor_Quote_CheckBox"),
    VELMORA_CHECK("エディッタ", "変数名", "半角英数字のみ許可", asciiNamesOnly, "Ascii_Name_Only_CheckBox"),
    VELMORA_CHECK("エディッタ", "ＴＡＢキー設定", "空白文字置き換え", tabKeyInsertsSpaces, "TabSpaceConv_CheckBox"),
    VELMORA_CHECK("エディッタ", "改行コード", "新しいファイルを CR LF で保存する（オフ: LF）", newFilesCrLf,
                  "NewFile_CRLF_CheckBox"),
    VELMORA_CHECK("エディッタ", "コンソールTAB展開", "空白文字置き換え", expandConsoleTabs, "SysTabPitchCheckBox"),
    VELMORA_CHECK("タスク管理", "タスク連携", "１タスク終了時、全タスク終了", endAllWhenOneEnds,
                  "TaskActAsOneCheckBox"),
    VELMORA_CHECK("タスク管理", "キャンバス連携", "タスク終了時、全て非表示にする", hideCanvasesAtEnd,
                  "CloseAllCanvasCheckBox"),
    VELMORA_CHECK("抽出", nullptr, "カラー表示をモノクロにする", monochrome, "ForceMonoCheckBox"),
};

struct Text {
  const char *page;
  const char *group;
  const char *label;
  u16 Settings::*member;
  const char *name;
};

#define VELMORA_TEXT(page, group, label, member, widget) \
  { page, group, label, &Settings::member, widget }

const Text kTexts[] = {
    VELMORA_TEXT("パス設定", "データパス設定", "", dataDirectoryPath, "AppliDirEdit"),
    VELMORA_TEXT("パス設定", "COMMAND.COM位置", "", commandInterpreter, "CMDEXEPathEdit"),
    VELMORA_TEXT("パス設定", "ユーザープログラムパス設定", "", programDirectoryPath, "AppliProgDirEdit"),
    VELMORA_TEXT("タイマー性能", "WAITコマンド", "ミリ秒", waitTimeMs, "WaitTimeEdit"),
    VELMORA_TEXT("タイマー性能", "TIMERコマンド", "ミリ秒", timerTimeMs, "TimerTimeEdit"),
    VELMORA_TEXT("タイマー性能", "タイミングチャート", "ミリ秒", chartTimeMs, "TimingChartEdit"),
    VELMORA_TEXT("タイマー性能", "HTTP通信　接続待ち", "秒（0：制限なし）", httpConnectLimit, "HttpConnectTimeoutEdit"),
    VELMORA_TEXT("タイマー性能", "HTTP通信　無応答で中断", "秒（0：制限なし）", httpStallLimit, "HttpStallTimeoutEdit"),
    VELMORA_TEXT("エディッタ", "ＴＡＢキー設定", "桁", tabWidth, "TabSpaceEdit"),
    VELMORA_TEXT("エディッタ", "コンソールTAB展開", "桁", consoleTabWidth, "ConsoleTabPitchEdit"),
};

const char *const kPages[] = {"実行時表示", "エラー検出", "パス設定", "タイマー性能",
                              "エディッタ", "タスク管理", "抽出",     "実行許可の設定"};

// The kinds of the permission page, in the order of Settings::Permissions.
const char *const kPermissionKinds[] = {"外部コマンド（COMMAND, EXEC FILE）", "ライブラリ呼び出し（LIB, LIBA, ::）",
                                        "データディレクトリ外のファイル書き込み・削除", "ネットワーク（HTTP）",
                                        "データディレクトリ外のファイル（読み込み）"};

QString colour_name(int rgb) { return QColor(QRgb(unsigned(rgb) | 0xFF000000u)).name(); }

}  // namespace

SettingsDialog::SettingsDialog(const Settings &settings, QWidget *parent) : QDialog(parent), settings_(settings) {
  setWindowTitle(QStringLiteral("設定"));
  warn = [this](const QString &text) { QMessageBox::warning(this, QStringLiteral("設定"), text); };
  chooseFile = [this](const QString &title, const QString &start, bool directory) {
    if (directory) return QFileDialog::getExistingDirectory(this, title, start);
    return QFileDialog::getOpenFileName(this, title, start);
  };
  pages_ = new QListWidget;
  pages_->setObjectName(QStringLiteral("settingPages"));
  pages_->setMaximumWidth(140);
  stack_ = new QStackedWidget;

  for (const char *caption : kPages) {
    const QString page = QString::fromUtf8(caption);
    pages_->addItem(page);
    auto *content = new QWidget;
    auto *layout = new QVBoxLayout(content);
    std::vector<std::pair<QString, QGroupBox *>> groups;
    // The layout a control goes into: the page, or its group box.
    auto place = [&](const char *group) -> QVBoxLayout * {
      if (!group) return layout;
      QString g = QString::fromUtf8(group);
      for (auto &[name, box] : groups)
        if (name == g) return static_cast<QVBoxLayout *>(box->layout());
      auto *box = new QGroupBox(g);
      new QVBoxLayout(box);
      layout->addWidget(box);
      groups.emplace_back(g, box);
      return static_cast<QVBoxLayout *>(box->layout());
    };
    for (const Check &c : kChecks) {
      if (page != QString::fromUtf8(c.page)) continue;
      auto *box = new QCheckBox(QString::fromUtf8(c.caption));
      box->setObjectName(QString::fromLatin1(c.name));
      box->setChecked(settings_.*(c.member));
      place(c.group)->addWidget(box);
      readers_.push_back([box, m = c.member](Settings &s) { s.*m = box->isChecked(); });
    }
    for (const Text &t : kTexts) {
      if (page != QString::fromUtf8(t.page)) continue;
      auto *edit = new QLineEdit(qs(settings_.*(t.member)));
      edit->setObjectName(QString::fromLatin1(t.name));
      auto *row = new QHBoxLayout;
      row->addWidget(edit);
      if (*t.label) row->addWidget(new QLabel(QString::fromUtf8(t.label)));
      place(t.group)->addLayout(row);
      const bool timing =
          t.member == &Settings::waitTimeMs || t.member == &Settings::timerTimeMs || t.member == &Settings::chartTimeMs;
      if (timing) {
        // The timing values change how programs run: locked until "変更"
        // has shown its warning, and only whole numbers of at least 1.
        edit->setEnabled(false);
        auto *locked = new QLabel(QStringLiteral("*変更不可"));
        auto *change = new QPushButton(QStringLiteral("変更"));
        change->setObjectName(QString::fromLatin1(t.name) + QStringLiteral("Change"));
        row->addWidget(locked);
        row->addWidget(change);
        connect(change, &QPushButton::clicked, this, [this, edit, locked, change] {
          warn(QStringLiteral("警告：　値の変更は、アプリケーションプログラム動作に影響する場合があります"));
          edit->setEnabled(true);
          locked->hide();
          change->setEnabled(false);
          edit->setFocus();
        });
        timingEdits_.push_back(edit);
        readers_.push_back([edit, m = t.member](Settings &s) {
          if (Settings::timeValue(u(edit->text()))) s.*m = u(edit->text());
        });
        continue;
      }
      readers_.push_back([edit, m = t.member](Settings &s) { s.*m = u(edit->text()); });
      const bool path = t.member == &Settings::dataDirectoryPath || t.member == &Settings::programDirectoryPath ||
                        t.member == &Settings::commandInterpreter;
      if (path) {
        auto *dir = new QPushButton(QStringLiteral("Dir"));
        dir->setObjectName(QString::fromLatin1(t.name) + QStringLiteral("Dir"));
        row->addWidget(dir);
        const bool interpreter = t.member == &Settings::commandInterpreter;
        connect(dir, &QPushButton::clicked, this, [this, edit, interpreter, group = QString::fromUtf8(t.group)] {
          QString start = edit->text();
          if (interpreter) start = QFileInfo(start).path();
          const QString chosen = chooseFile(group, start, !interpreter);
          if (chosen.isEmpty()) return;
          const std::filesystem::path file(chosen.toStdString());
          edit->setText(qs(interpreter ? Settings::interpreterOfChoice(file) : Settings::chosenDirectory(file)));
        });
      }
    }
    if (page == QStringLiteral("実行許可の設定")) {
      // What programs may do beyond computing: allow, ask once per run, deny.
      auto *note =
          new QLabel(QStringLiteral("他の人が書いたプログラムを実行するときは「確認」か「禁止」にしてください。"));
      note->setWordWrap(true);
      layout->addWidget(note);
      auto *form = new QFormLayout;
      for (int k = 0; k < int(std::size(kPermissionKinds)); ++k) {
        auto *choice = new QComboBox;
        choice->setObjectName(QStringLiteral("Permission%1").arg(k));
        choice->addItems({QStringLiteral("許可"), QStringLiteral("確認"), QStringLiteral("禁止")});
        choice->setCurrentIndex(std::clamp(settings_.Permissions[std::size_t(k)], 0, 2));
        form->addRow(QString::fromUtf8(kPermissionKinds[k]), choice);
        readers_.push_back([choice, k](Settings &s) { s.Permissions[std::size_t(k)] = choice->currentIndex(); });
      }
      layout->addLayout(form);
    }
    if (page == QStringLiteral("エディッタ")) {
      // Fonts and background colours of the editors, the console and the window.
      struct Look {
        const char *group;
        FontSetting Settings::*font;
        int Settings::*back;  // nullptr: no background
        const char *name;
      };
      const Look looks[] = {{"エディッタカラー", &Settings::editorFont, &Settings::editorBackColour, "Editor"},
                            {"コンソールカラー", &Settings::consoleFont, &Settings::consoleBackColour, "Console"},
                            {"共通設定", &Settings::commonFont, nullptr, "Common"}};
      for (const Look &look : looks) {
        auto *row = new QHBoxLayout;
        auto *font = new QPushButton(QStringLiteral("フォント"));
        font->setObjectName(QStringLiteral("%1Font").arg(QLatin1String(look.name)));
        auto *fontLabel = new QLabel;
        auto showFont = [this, fontLabel, f = look.font] {
          const FontSetting &fs = settings_.*f;
          fontLabel->setText(QStringLiteral("%1 %2pt").arg(qs(fs.name)).arg(fs.size));
        };
        showFont();
        connect(font, &QPushButton::clicked, this, [this, f = look.font, showFont] {
          FontSetting &fs = settings_.*f;
          bool ok = false;
          QFont chosen = QFontDialog::getFont(&ok, QFont(qs(fs.name), fs.size), this);
          if (!ok) return;
          fs.name = u(chosen.family());
          fs.size = chosen.pointSize() > 0 ? chosen.pointSize() : fs.size;
          showFont();
        });
        row->addWidget(font);
        row->addWidget(fontLabel);
        if (look.back) {
          auto *back = new QPushButton(QStringLiteral("背景"));
          back->setObjectName(QStringLiteral("%1Back").arg(QLatin1String(look.name)));
          auto *swatch = new QLabel(colour_name(settings_.*(look.back)));
          connect(back, &QPushButton::clicked, this, [this, b = look.back, swatch] {
            QColor c = QColorDialog::getColor(QColor(colour_name(settings_.*b)), this);
            if (!c.isValid()) return;
            settings_.*b = int(c.rgb() & 0xFFFFFFu);
            swatch->setText(c.name());
          });
          row->addWidget(back);
          row->addWidget(swatch);
        }
        row->addStretch();
        place(look.group)->addLayout(row);
        readers_.push_back([f = look.font, b = look.back, this](Settings &s) {
          s.*f = settings_.*f;
          if (b) s.*b = settings_.*b;
        });
      }
    }
    layout->addStretch();
    stack_->addWidget(content);
  }
  connect(pages_, &QListWidget::currentRowChanged, stack_, &QStackedWidget::setCurrentIndex);
  pages_->setCurrentRow(0);

  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto *body = new QHBoxLayout;
  body->addWidget(pages_);
  body->addWidget(stack_, 1);
  auto *outer = new QVBoxLayout(this);
  outer->addLayout(body);
  outer->addWidget(buttons);
}

Settings SettingsDialog::edited() const {
  Settings s = settings_;
  for (const auto &read : readers_) read(s);
  s.tabWidth = Settings::normaliseTabWidth(s.tabWidth);
  return s;
}

void SettingsDialog::accept() {
  for (QLineEdit *edit : timingEdits_)
    if (!Settings::timeValue(u(edit->text()))) {
      showPage(QStringLiteral("タイマー性能"));
      warn(qs(Settings::kTimeRefused));
      edit->setFocus();
      edit->selectAll();
      return;
    }
  QDialog::accept();
}

bool SettingsDialog::showPage(const QString &caption) {
  auto found = pages_->findItems(caption, Qt::MatchExactly);
  if (found.isEmpty()) return false;
  pages_->setCurrentItem(found.first());
  return true;
}

}  // namespace velmora::gui
