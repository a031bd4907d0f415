// The views and menus of the IDE that show the environment's state,
// offscreen: monochrome colours, the timing chart, the monitor at a run-time
// error, the variable grid and its fixed rows, the P-code rows of a source
// line, what "■" resets, and the file and code-debug menus.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDockWidget>
#include <QImage>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>

#include "gui/console_view.h"
#include "gui/debugger_panel.h"
#include "gui/settings_dialog.h"
#include "gui/main_window.h"
#include "tests/gui/settle.h"
#include "gui/timing_chart_view.h"
#include "tests/gui/quiet_window.h"
#include "text/lines.h"

using velmora::testing::settle;
using namespace velmora;
using velmora::environment::RunResult;

namespace {

using TestWindow = velmora::testing::QuietWindow;

bool is_grey(const QColor &c) { return c.red() == c.green() && c.green() == c.blue(); }

// Pixels of a colour in a widget as drawn.
int pixels_of(QWidget *w, QRgb colour) {
  const QImage image = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if ((image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF)) ++n;
  return n;
}

const Lines kTimerProgram{u"FUNCTION TICK;",
                          u"  N += 1;",
                          u"  INTRET;",
                          u"ENDFUNC",
                          u"N = 0;",
                          u"TIMER \"T\", SET, 1, \"TICK\";",
                          u"TIMER \"T\", START;",
                          u"WHILE N < 4 DO WAIT 1; END",
                          u"TIMER \"T\", CANCEL;",
                          u"??N;"};

}  // namespace

class EnvironmentViewsTest : public QObject {
  Q_OBJECT
 private slots:
  void monochromeGreysTheEditorTheConsoleAndTheChart() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.show();
    w.openProgramLines({u"??\"text\"; A = 12; // note"});
    environment::Settings s = w.environment().settings();
    s.consoleBackColour = 0xFFFFC0;
    s.consoleFont.colour = 0x0000C0;
    s.drawEventChart = true;
    s.timerTimeMs = u"20";
    s.waitTimeMs = u"1";
    s.chartTimeMs = u"2";
    w.applySettings(s);
    auto formats = [&w] { return w.editor(0)->document()->firstBlock().layout()->formats(); };
    QVERIFY(formats().size() >= 3);
    bool coloured = false;
    for (const auto &f : formats()) coloured |= !is_grey(f.format.foreground().color());
    QVERIFY(coloured);
    QVERIFY(!is_grey(w.consoleView()->palette().color(QPalette::Base)));

    // The chart after a run: the timer's pulses and the slot's run lane.
    w.editor(0)->setPlainText(QString());
    for (const u16 &line : kTimerProgram) w.editor(0)->appendPlainText(QString::fromStdU16String(line));
    QCOMPARE(w.compileActive(), 0);
    QCOMPARE(settle(w, w.run()), RunResult::Ended);
    w.debuggerDock()->show();
    w.debugger()->pages()->setCurrentIndex(1);
    gui::TimingChartView *chart = w.debugger()->timingChart();
    chart->resize(500, 200);
    w.debugger()->refreshMonitor();
    QVERIFY(w.environment().runLoop.chart().columns() > 10);
    QVERIFY(pixels_of(chart, 0x0000A0) > 20);  // pulses and base line
    QVERIFY(pixels_of(chart, 0x30A030) + pixels_of(chart, 0xE0C040) > 20);

    s.monochrome = true;
    w.applySettings(s);
    for (const auto &f : formats()) QVERIFY(is_grey(f.format.foreground().color()));
    QVERIFY(is_grey(w.consoleView()->palette().color(QPalette::Base)));
    QVERIFY(is_grey(w.consoleView()->palette().color(QPalette::Text)));
    QCOMPARE(pixels_of(chart, 0x0000A0), 0);
    QCOMPARE(pixels_of(chart, 0x30A030), 0);
    const QImage grey = chart->grab().toImage();
    for (int y = 0; y < grey.height(); y += 3)
      for (int x = 0; x < grey.width(); x += 3) QVERIFY(is_grey(QColor(grey.pixel(x, y))));
  }

  void aRunTimeErrorOpensTheMonitorAtItsLine() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.show();
    // A task that waits beside the one that fails, so the failing one is slot 02.
    w.openProgramLines({u"B = 5;", u"WHILE TRUE DO WAIT 1; END"});
    QCOMPARE(w.compileActive(), 0);
    w.openProgramLines({u"A = 1;", u"??A;", u"FILE(1).OPEN(\"missing.txt\", READ);", u"??\"never\";"});
    QCOMPARE(w.compileActive(), 1);
    w.debugger()->setSlot(0);
    w.debugger()->pages()->setCurrentIndex(3);
    QCOMPARE(settle(w, w.run()), RunResult::Error);
    gui::DebuggerPanel *d = w.debugger();
    QVERIFY(w.debuggerDock()->isVisible());
    QCOMPARE(d->pages()->currentIndex(), 0);
    QCOMPARE(d->slot(), 1);
    QCOMPARE(w.environment().runLoop.runError().slot, 1);
    QCOMPARE(d->selectedSourceLine(), 2);
    // That line's P-code rows are selected, and only those.
    const QList<QListWidgetItem *> chosen = d->listingView()->selectedItems();
    QVERIFY(!chosen.isEmpty());
    for (QListWidgetItem *item : chosen) QCOMPARE(item->text().section(QChar(u' '), 0, 0).toInt(), 2);
    QCOMPARE(int(chosen.size()), int(d->listingRowsOfSourceLine(2).size()));
    // Its state: the task's variables.
    QVERIFY(d->variableView()->findItems(QStringLiteral("1:A/Num/1.000"), Qt::MatchExactly).size() == 1);
    QVERIFY(d->variableView()->findItems(QStringLiteral("0:B"), Qt::MatchStartsWith).isEmpty());

    // Clicking another source line selects its rows instead.
    d->sourceView()->setCurrentRow(0);
    for (QListWidgetItem *item : d->listingView()->selectedItems())
      QCOMPARE(item->text().section(QChar(u' '), 0, 0).toInt(), 0);
    QVERIFY(!d->listingView()->selectedItems().isEmpty());
  }

  void theVariableGridFollowsTheListAndCanKeepItsRows() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.resize(1100, 800);
    w.show();
    Lines program{u"&S = \"word\";"};
    for (int i = 0; i < 60; ++i) program.push_back(u"V" + text::int16(i) + u" = " + text::int16(i) + u";");
    w.openProgramLines(program);
    QCOMPARE(w.compileActive(), 0);
    QCOMPARE(settle(w, w.run()), RunResult::Ended);
    w.debuggerDock()->show();
    gui::DebuggerPanel *d = w.debugger();
    d->refresh();
    QTableWidget *grid = d->variableGrid();
    QCOMPARE(grid->columnCount(), 4);
    const QStringList headings{QStringLiteral(" #"), QStringLiteral(" Var"), QStringLiteral(" Type"),
                               QStringLiteral(" Cont")};
    for (int c = 0; c < 4; ++c) QCOMPARE(grid->horizontalHeaderItem(c)->text(), headings[c]);
    QCOMPARE(grid->rowCount(), d->variableView()->count());
    bool sawString = false, sawNumber = false;
    for (int r = 0; r < grid->rowCount(); ++r) {
      if (grid->item(r, 1)->text() == QStringLiteral("&S")) {
        sawString = grid->item(r, 0)->text() == QStringLiteral("0") &&
                    grid->item(r, 2)->text() == QStringLiteral("Str") &&
                    grid->item(r, 3)->text() == QStringLiteral("word");
      }
      if (grid->item(r, 1)->text() == QStringLiteral("V7"))
        sawNumber =
            grid->item(r, 2)->text() == QStringLiteral("Num") && grid->item(r, 3)->text() == QStringLiteral("7.000");
    }
    QVERIFY(sawString);
    QVERIFY(sawNumber);

    // "変数表示行固定": off, a refresh starts at the top; on, it stays.
    QCOMPARE(d->lockVariableRows()->text(), QStringLiteral("変数表示行固定"));
    QVERIFY(grid->verticalScrollBar()->maximum() > 5);
    grid->verticalScrollBar()->setValue(5);
    d->refresh();
    QCOMPARE(grid->verticalScrollBar()->value(), 0);
    d->lockVariableRows()->setChecked(true);
    grid->verticalScrollBar()->setValue(5);
    d->refresh();
    QCOMPARE(grid->verticalScrollBar()->value(), 5);
  }

  void killEmptiesTheViewsAndHidesCanvasesBySetting() {
    for (bool closeCanvases : {false, true}) {
      QTemporaryDir home;
      TestWindow w(home.path().toStdString());
      w.show();
      environment::Settings s = w.environment().settings();
      s.hideCanvasesAtEnd = closeCanvases;
      w.applySettings(s);
      w.openProgramLines({u"<?? 2 >;", u"N = 0;", u"WHILE TRUE DO N += 1; WAIT 1; END"});
      QCOMPARE(w.compileActive(), 0);
      w.debuggerDock()->show();
      w.debugger()->refresh();
      QVERIFY(w.debugger()->sourceView()->count() > 0);
      bool killed = false;
      w.onPump = [&] {
        if (!killed && w.environment().engine().passCount() > 20 && w.canvases().visible(2)) {
          killed = true;
          w.kill();
        }
      };
      QCOMPARE(settle(w, w.run()), RunResult::Stopped);
      QVERIFY(killed);
      QCOMPARE(w.canvases().visible(2), !closeCanvases);
      QCOMPARE(w.environment().compileDriver.selectedTask(), -1);
      QVERIFY(w.statusView()->selectedItems().isEmpty());
      gui::DebuggerPanel *d = w.debugger();
      QCOMPARE(d->sourceView()->count(), 0);
      QCOMPARE(d->listingView()->count(), 0);
      QCOMPARE(d->registerView()->count(), 0);
      QCOMPARE(d->variableView()->count(), 0);
      QCOMPARE(d->variableGrid()->rowCount(), 0);
      QVERIFY(!w.debuggerDock()->isVisible());
      QVERIFY(w.permitView()->isVisible());
      // Choosing the task again fills them.
      w.selectTask(0);
      QVERIFY(d->sourceView()->count() > 0);
    }
  }

  void theTokenButtonsShowBothStreamsColoured() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.show();
    w.openProgramLines({u"// head", u"x = 1;", u"", u"&S = \"a\";"});
    gui::DebuggerPanel *d = w.debugger();
    QTest::mouseClick(d->tokenButton(false), Qt::LeftButton);
    QVERIFY(w.debuggerDock()->isVisible());
    QCOMPARE(d->pages()->tabText(d->pages()->currentIndex()), QStringLiteral("トークン"));
    QCOMPARE(d->tokenView()->item(0)->text(), QStringLiteral("1 ∇ X"));
    QCOMPARE(d->tokenView()->item(0)->foreground().color(), QColor(0x00, 0x78, 0x00));
    QVERIFY(d->symbolView()->findItems(QStringLiteral("X"), Qt::MatchExactly).size() == 1);
    const int compiled = d->tokenView()->count();
    QTest::mouseClick(d->tokenButton(true), Qt::LeftButton);
    QVERIFY(d->tokenView()->count() > compiled);  // blanks and the comment line
    QVERIFY(d->tokenView()->findItems(QStringLiteral("1 ∇ x"), Qt::MatchExactly).size() == 1);
    auto spacing = d->tokenView()->findItems(QStringLiteral("2 ψ 1"), Qt::MatchExactly);
    QCOMPARE(int(spacing.size()), 1);
    QCOMPARE(spacing[0]->foreground().color(), QColor(0x90, 0x90, 0x90));
    auto text = d->tokenView()->findItems(QStringLiteral("3 Ω \"a\""), Qt::MatchExactly);
    QCOMPARE(int(text.size()), 1);
    QVERIFY(!is_grey(text[0]->foreground().color()));
    environment::Settings s = w.environment().settings();
    s.monochrome = true;
    w.applySettings(s);
    QTest::mouseClick(d->tokenButton(true), Qt::LeftButton);
    for (int i = 0; i < d->tokenView()->count(); ++i) QVERIFY(is_grey(d->tokenView()->item(i)->foreground().color()));
  }

  // &NAME is "&" and the reserved word NAME to the language: the editor
  // colours NAME as a reserved word, not as a variable; &NAMES is a variable.
  void aReservedWordAfterAKindMarkIsColouredAsReserved() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.show();
    w.openProgramLines({u"&NAME = \"Taro\"; &NAMES = \"x\"; IF A = 1 THEN"});
    const QString text = w.editor(0)->document()->firstBlock().text();
    auto colour_at = [&](int position) {
      for (const auto &f : w.editor(0)->document()->firstBlock().layout()->formats())
        if (position >= f.start && position < f.start + f.length) return f.format.foreground().color();
      return QColor();
    };
    const QColor keyword = colour_at(int(text.indexOf(QStringLiteral("IF"))));
    const QColor variable = colour_at(int(text.indexOf(QStringLiteral("&NAMES"))));
    QVERIFY(keyword.isValid() && variable.isValid() && keyword != variable);
    QCOMPARE(colour_at(int(text.indexOf(QStringLiteral("NAME ")))), keyword);
    QVERIFY(colour_at(0) != variable);  // the "&" of &NAME is no variable's
    QCOMPARE(colour_at(int(text.indexOf(QStringLiteral("NAMES")))), variable);
  }

  void theCompilerMessageBoxSettingHasItsCheckbox() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    gui::SettingsDialog dialog(w.environment().settings(), &w);
    auto *box = dialog.findChild<QCheckBox *>(QStringLiteral("COMPILE_MESSAGE_CheckBox"));
    QVERIFY(box);
    QCOMPARE(box->text(), QStringLiteral("コンパイラのメッセージボックスを表示"));
    QVERIFY(box->isChecked());
    box->setChecked(false);
    QVERIFY(!dialog.edited().showCompilerMessages);
  }

  void dirButtonsAndTheOwnerDrawnConsole() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.show();
    gui::SettingsDialog dialog(w.environment().settings(), &w);
    QStringList asked;
    dialog.chooseFile = [&asked](const QString &title, const QString &, bool directory) {
      asked << title;
      // A directory chooser for the directories, a file for the interpreter.
      if (directory == (title == QStringLiteral("COMMAND.COM位置"))) return QString();
      return directory ? QStringLiteral("/srv/velmora/data") : QStringLiteral("/usr/bin/bash");
    };
    for (const char *name : {"AppliDirEditDir", "AppliProgDirEditDir", "CMDEXEPathEditDir"}) {
      auto *button = dialog.findChild<QPushButton *>(QString::fromLatin1(name));
      QVERIFY2(button, name);
      QCOMPARE(button->text(), QStringLiteral("Dir"));
      button->click();
    }
    QCOMPARE(asked.size(), 3);
    const environment::Settings edited = dialog.edited();
    QCOMPARE(edited.dataDirectoryPath, u16(u"/srv/velmora/data/"));
    QCOMPARE(edited.programDirectoryPath, u16(u"/srv/velmora/data/"));
    QCOMPARE(edited.commandInterpreter, u16(u"/usr/bin/bash"));
    // Cancelled: the path stays.
    dialog.chooseFile = [](const QString &, const QString &, bool) { return QString(); };
    dialog.findChild<QPushButton *>(QStringLiteral("AppliDirEditDir"))->click();
    QCOMPARE(dialog.edited().dataDirectoryPath, u16(u"/srv/velmora/data/"));

    // Font size 12: the console's own fixed-height rows; other sizes: the platform's.
    w.openProgramLines({u"??\"one\"; ??CRLF; ??\"two\";"});
    QCOMPARE(w.compileActive(), 0);
    QCOMPARE(settle(w, w.run()), RunResult::Ended);
    auto *console = static_cast<gui::ConsoleView *>(w.consoleView());
    QVERIFY(!console->ownerDrawn());
    environment::Settings s = w.environment().settings();
    s.consoleFont.size = 12;
    w.applySettings(s);
    QVERIFY(console->ownerDrawn());
    QVERIFY(console->count() >= 2);
    QCOMPARE(console->rowRect(0).height(), console->fixedRowHeight());
    s.consoleFont.size = 14;
    w.applySettings(s);
    QVERIFY(!console->ownerDrawn());
    QCOMPARE(console->rowRect(0).height(), console->rowHeight());
  }

  void stepTransformationStepsTheCompileButton() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.show();
    w.openProgramLines({u"A = 1;", u"??A;"});
    gui::DebuggerPanel *d = w.debugger();
    QCOMPARE(d->stepTransformation()->text(), QStringLiteral("ｽﾃｯﾌﾟ変換"));
    QPushButton *next = nullptr, *end = nullptr;
    for (QPushButton *b : d->findChildren<QPushButton *>()) {
      if (b->text() == QStringLiteral("次")) next = b;
      if (b->text() == QStringLiteral("終了")) end = b;
    }
    QVERIFY(next && end);
    d->stepTransformation()->setChecked(true);
    QVERIFY(w.environment().compileDriver.stepTransform());
    int steps = 0;
    // The compile pauses before every token; the user answers from the
    // event loop ("次" twice, then "終了").
    auto answer = [&] {
      for (; next->isEnabled() && steps < 100; ++steps) {
        if (steps == 2) end->click();
        else next->click();
      }
    };
    QTest::mouseClick(w.taskButton(0), Qt::LeftButton);  // "ｺﾝﾊﾟｲﾙ"
    QVERIFY(w.environment().compileDriver.stepCompiling());
    QVERIFY(!w.taskButton(0)->isEnabled());  // no second compile meanwhile
    answer();
    QCOMPARE(steps, 3);
    QVERIFY(w.debuggerDock()->isVisible());
    QVERIFY(w.statusView()->item(0)->text().contains(QStringLiteral("ｱｸﾃｨﾌﾞ")));  // registered
    QVERIFY(!d->stepTransformation()->isChecked());                               // "終了" unticked it
    QVERIFY(!next->isEnabled());
    // Unticked: the next compile does not stop.
    steps = 0;
    QTest::mouseClick(w.taskButton(0), Qt::LeftButton);
    answer();
    QCOMPARE(steps, 0);
    QVERIFY(w.statusView()->item(1)->text().contains(QStringLiteral("ｱｸﾃｨﾌﾞ")));
  }

  void theFileAndCodeDebugMenus() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.show();
    for (const char *text : {"開く(&O)", "開く（シフトJIS）", "開く（UTF-8）", "ファイル保存(&B)", "全て閉じる",
                             "全スロット実行(&E)", "タスクリセット（CODE DEBUG）", "１ｽﾃｯﾌﾟ実行（CODE DEBUG）"})
      QVERIFY2(w.action(QString::fromUtf8(text)), text);

    // The Shift-JIS variant opens bytes that also read as UTF-8 as Shift-JIS.
    const std::filesystem::path file = std::filesystem::path(home.path().toStdString()) / "twofold.mcl";
    QVERIFY(text::write_file_bytes(file, "??\"\xC3\xA9\";\r\n"));
    w.openFile = file;
    w.action(QStringLiteral("開く（シフトJIS）"))->trigger();
    QCOMPARE(w.editorTabs()->count(), 1);
    QCOMPARE(w.editor(0)->toPlainText(), QStringLiteral("??\"ﾃｩ\";"));
    // Opened again as UTF-8: the same tab reads it so (one file, one tab).
    w.action(QStringLiteral("開く（UTF-8）"))->trigger();
    QCOMPARE(w.editorTabs()->count(), 1);
    QCOMPARE(w.editor(0)->toPlainText(), QStringLiteral("??\"é\";"));

    // "ファイル保存(&B)": the active tab under the chosen name.
    const std::filesystem::path saved = std::filesystem::path(home.path().toStdString()) / "saved.mcl";
    w.saveFile = saved;
    w.editor(0)->setPlainText(QStringLiteral("??\"saved\";"));
    w.action(QStringLiteral("ファイル保存(&B)"))->trigger();
    auto back = text::read_text_file(saved);
    QVERIFY(back);
    QCOMPARE(back->lines, Lines{u"??\"saved\";"});
    QVERIFY(!w.editor(0)->document()->isModified());

    // The code-debug menus step the compiled task one pass at a time.
    QCOMPARE(w.compileActive(), 0);
    w.action(QStringLiteral("タスクリセット（CODE DEBUG）"))->trigger();
    QCOMPARE(w.environment().engine().task(0).INSTP, 0);
    w.action(QStringLiteral("１ｽﾃｯﾌﾟ実行（CODE DEBUG）"))->trigger();
    QVERIFY(w.environment().engine().task(0).INSTP > 0);
    QVERIFY(w.debugger()->registerView()->item(0)->text().contains(QStringLiteral("EXEC")));
    for (int i = 0; i < 20 && w.environment().stepping(); ++i)
      w.action(QStringLiteral("１ｽﾃｯﾌﾟ実行（CODE DEBUG）"))->trigger();
    QVERIFY(w.consoleView()->count() > 0 && w.consoleView()->selectedText().count(QStringLiteral("saved")) == 1);

    // "全スロット実行(&E)" runs the permitted slots.
    w.consoleView()->clear();
    w.action(QStringLiteral("全スロット実行(&E)"))->trigger();
    settle(w);
    QVERIFY(w.consoleView()->count() > 0 && w.consoleView()->selectedText().count(QStringLiteral("saved")) == 1);

    // "全て閉じる": every tab goes, its slot with it.
    w.action(QStringLiteral("全て閉じる"))->trigger();
    QCOMPARE(w.editorTabs()->count(), 0);
    QCOMPARE(w.environment().tabs.openCount(), 0);
    QCOMPARE(w.environment().engine().task(0).state, engine::tsEMPTY);
  }
};

QTEST_MAIN(EnvironmentViewsTest)
#include "test_environment_views.moc"
