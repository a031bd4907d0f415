// The task status area and the breakpoint table of the IDE, offscreen: the
// buttons under the status list fill and free slots, a chosen row brings its
// tab and debugger views, the table lists breakpoints with their condition
// and hits, the timing values of the settings are locked until "変更".
#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <ctime>

#include "gui/console_view.h"
#include "gui/debugger_panel.h"
#include "gui/main_window.h"
#include "tests/gui/settle.h"
#include "tests/gui/quiet_window.h"
#include "gui/settings_dialog.h"
#include "gui/tool_dialogs.h"

using velmora::testing::settle;
using namespace velmora;
using velmora::environment::Answer;
using velmora::environment::RunResult;

namespace {

using TestWindow = velmora::testing::QuietWindow;

QString row(TestWindow &w, int slot) { return w.statusView()->item(slot)->text(); }

}  // namespace

class TaskControlsTest : public QObject {
  Q_OBJECT
 private slots:
  void theStatusAreaButtonsFillAndFreeSlots() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.show();
    QCOMPARE(w.taskButton(0)->text(), QStringLiteral("ｺﾝﾊﾟｲﾙ"));
    QCOMPARE(w.taskButton(1)->text(), QStringLiteral("追加"));
    QCOMPARE(w.taskButton(2)->text(), QStringLiteral("削除"));
    // Nothing compiled yet: "追加" has nothing to register.
    QTest::mouseClick(w.taskButton(1), Qt::LeftButton);
    QCOMPARE(row(w, 0).section(QStringLiteral(": "), 2, 2).section(QChar(u' '), 0, 0), QStringLiteral("無し"));

    w.openProgramLines({u"??\"one\";"});
    const int first = w.editorTabs()->currentIndex();
    QTest::mouseClick(w.taskButton(0), Qt::LeftButton);
    QVERIFY(row(w, 0).contains(QStringLiteral("ｱｸﾃｨﾌﾞ")));
    QCOMPARE(w.statusView()->currentRow(), 0);  // the registered slot is selected
    // "ｺﾝﾊﾟｲﾙ" asks nothing and takes the next free slot.
    QTest::mouseClick(w.taskButton(0), Qt::LeftButton);
    QVERIFY(row(w, 1).contains(QStringLiteral("ｱｸﾃｨﾌﾞ")));
    QCOMPARE(w.statusView()->currentRow(), 1);

    // "追加" registers the last compile again, for the tab it came from,
    // even when another tab is in front by then.
    w.openProgramLines({u"??\"two\";"});
    QVERIFY(w.editorTabs()->currentIndex() != first);
    QTest::mouseClick(w.taskButton(1), Qt::LeftButton);
    QVERIFY(row(w, 2).contains(QStringLiteral("ｱｸﾃｨﾌﾞ")));
    QVERIFY(row(w, 2).contains(QStringLiteral(" #1 ")));
    QCOMPARE(w.environment().compileDriver.compiledSource()[2], (Lines{u"??\"one\";"}));

    // Choosing a row: the selection field, the tab in front, the debugger.
    QTest::mouseClick(w.statusView()->viewport(), Qt::LeftButton, {},
                      w.statusView()->visualItemRect(w.statusView()->item(1)).center());
    QCOMPARE(w.environment().compileDriver.selectedTask(), 1);
    QCOMPARE(w.editorTabs()->currentIndex(), first);
    QCOMPARE(w.debugger()->slot(), 1);
    QCOMPARE(w.debugger()->sourceView()->count(), 1);
    QVERIFY(w.debugger()->sourceView()->item(0)->text().contains(QStringLiteral("??\"one\";")));
    QVERIFY(w.debugger()->registerView()->count() > 0);

    // "削除" frees the chosen slot and its breakpoints; the others stay.
    w.debugger()->selectSourceLine(0);
    QVERIFY(w.debugger()->addBreakpoint());
    QCOMPARE(w.environment().debugger.breakpointCount(), 1);
    QTest::mouseClick(w.taskButton(2), Qt::LeftButton);
    QVERIFY(row(w, 1).contains(QStringLiteral("無し")));
    QVERIFY(row(w, 0).contains(QStringLiteral("ｱｸﾃｨﾌﾞ")));
    QVERIFY(row(w, 2).contains(QStringLiteral("ｱｸﾃｨﾌﾞ")));
    QCOMPARE(w.environment().debugger.breakpointCount(), 0);
    QCOMPARE(w.debugger()->sourceView()->item(0)->text(), QStringLiteral("0000 No program"));
    // A free row selected: "削除" frees nothing.
    QVERIFY(!w.deleteTask());

    // The remaining slots run: two copies of the same program.
    QCOMPARE(settle(w, w.run()), RunResult::Ended);
    QCOMPARE(w.consoleView()->count(), 1);
    QCOMPARE(w.consoleView()->rowText(0), QStringLiteral("oneone"));
  }

  void theButtonsRestWhileARunHoldsTheSlots() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.show();
    w.openProgramLines({u"WAIT 30;"});  // far longer than a busy machine's pause: ended by the kill only
    QCOMPARE(w.compileToFreeSlot(), 0);
    bool seen = false;
    QTimer::singleShot(50, &w, [&] {
      seen = true;
      QVERIFY(!w.taskButton(0)->isEnabled());
      QVERIFY(!w.taskButton(2)->isEnabled());
      QVERIFY(!w.environment().compileDriver.deleteSelectedSlot());
      QCOMPARE(w.environment().compileDriver.registerAgain(), -1);
      w.kill();
    });
    settle(w, w.run());
    QVERIFY(seen);
    QVERIFY(w.taskButton(2)->isEnabled());
  }

  void theBreakpointTableShowsRowsConditionsAndHits() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.show();
    QTableWidget *table = w.debugger()->breakpointTable();
    QCOMPARE(table->rowCount(), 100);
    QStringList headings;
    for (int c = 0; c < table->columnCount(); ++c) headings << table->horizontalHeaderItem(c)->text();
    QCOMPARE(headings, (QStringList{"BP", "Task", "Src", "Pcd", "Cond", "Eval", "Break"}));
    QCOMPARE(table->verticalHeaderItem(0) ? table->verticalHeaderItem(0)->text()
                                          : table->model()->headerData(0, Qt::Vertical).toString(),
             QStringLiteral("1"));
    QCOMPARE(w.debugger()->totalBreakLabel()->objectName(), QStringLiteral("TotalBreakLabel"));

    w.openProgramLines({u"FOR I = 1 TO 2 DO", u"A = I;", u"B = I;", u"END;"});
    QCOMPARE(w.compileActive(), 0);
    w.debugger()->selectSourceLine(1);
    QVERIFY(w.debugger()->addBreakpoint());
    w.debugger()->selectSourceLine(2);
    QVERIFY(w.debugger()->addBreakpoint());
    auto cell = [table](int r, int c) { return table->item(r, c) ? table->item(r, c)->text() : QString(); };
    QCOMPARE(cell(0, 0), QStringLiteral("0"));
    QCOMPARE(cell(0, 1), QStringLiteral("01"));
    QCOMPARE(cell(0, 2), QStringLiteral("1"));
    QVERIFY(!cell(0, 3).isEmpty());
    QCOMPARE(cell(0, 4), QStringLiteral("STOP"));
    QCOMPARE(cell(0, 6), QStringLiteral("0"));
    QCOMPARE(cell(1, 0), QStringLiteral("1"));
    QCOMPARE(cell(1, 2), QStringLiteral("2"));
    QVERIFY(cell(2, 0).isEmpty());

    // The pop-up: "続行" makes row 1 "GO"; a free row offers nothing.
    QMenu *menu = w.debugger()->makeBreakpointMenu(0);
    QStringList captions;
    for (QAction *a : menu->actions()) captions << a->text();
    QCOMPARE(captions, (QStringList{QStringLiteral("ストップ"), QStringLiteral("続行")}));
    menu->actions().at(1)->trigger();
    QCOMPARE(cell(0, 4), QStringLiteral("GO"));
    QMenu *freeRow = w.debugger()->makeBreakpointMenu(7);
    QVERIFY(!freeRow->actions().at(0)->isEnabled());

    // A run: every hold at row 2 continues at once; row 1 passes.
    int holds = 0;
    std::function<void()> answer = [&] {
      if (w.environment().debugger.breakActive()) {
        ++holds;
        w.debugger()->continueFromBreak();
      }
    };
    QTimer pump;
    QObject::connect(&pump, &QTimer::timeout, &w, answer);
    pump.start(5);
    QCOMPARE(settle(w, w.run()), RunResult::Ended);
    pump.stop();
    QCOMPARE(holds, 2);
    w.debugger()->refresh();
    QCOMPARE(cell(0, 6), QStringLiteral("2"));
    QCOMPARE(cell(1, 6), QStringLiteral("2"));
    QCOMPARE(w.debugger()->totalBreakLabel()->text(), QStringLiteral("2"));
    // "全て削除" empties the table and the counter.
    w.debugger()->clearBreakpoints();
    QVERIFY(cell(0, 0).isEmpty());
    QVERIFY(cell(1, 4).isEmpty());
    QVERIFY(w.debugger()->totalBreakLabel()->text().isEmpty());
  }

  void aPauseShowsTheSelectedTaskOnAGreenRunPanel() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.show();
    w.openProgramLines({u"WAIT 2;"});
    QCOMPARE(w.compileToFreeSlot(), 0);
    w.openProgramLines({u"WAIT 30;"});
    QCOMPARE(w.compileToFreeSlot(), 1);
    w.selectTask(1);
    w.debugger()->setSlot(0);
    const QColor normal = w.permitView()->palette().color(QPalette::Base);
    QColor whilePaused;
    int shownSlot = -1, selectedRow = -1;
    QTimer::singleShot(50, &w, [&] {
      w.pauseOrContinue();
      whilePaused = w.permitView()->palette().color(QPalette::Base);
      shownSlot = w.debugger()->slot();
      selectedRow = w.statusView()->currentRow();
      w.pauseOrContinue();
      QCOMPARE(w.permitView()->palette().color(QPalette::Base), normal);
      w.kill();
    });
    settle(w, w.run());
    QCOMPARE(whilePaused, QColor(170, 230, 170));
    QCOMPARE(shownSlot, 1);
    QCOMPARE(selectedRow, 1);
    QCOMPARE(w.permitView()->palette().color(QPalette::Base), normal);
  }

  // A tool's generated program runs in slices like any run: an extraction
  // over a big page leaves the window answering, its actions follow the
  // state, "■" ends it and the environment is idle again, and the window
  // can be closed.
  void aGeneratedProgramRunsInSlicesAndTheStopButtonEndsIt() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.show();
    Lines page;
    for (int i = 0; i < 20000; ++i) page.push_back(u"<tr><td>" + text::int16(i) + u"</td></tr>");
    w.openProgramLines(page);
    environment::ExtractionSpec spec;
    spec.sourcePath = u"#1";
    spec.rows.resize(1);
    spec.rows[0].mode = u"1";
    spec.rows[0].markers[0] = u"<td>";
    spec.rows[0].markers[1] = u"</td>";
    const auto started = std::chrono::steady_clock::now();
    QCOMPARE(w.runExtraction(spec), RunResult::Running);
    QVERIFY(std::chrono::steady_clock::now() - started < std::chrono::seconds(1));
    QCOMPARE(w.environment().state(), environment::State::Running);
    auto *kill = w.findChild<QAction *>(QStringLiteral("killButton"));
    QVERIFY(kill && kill->isEnabled());
    QVERIFY(!w.action(QStringLiteral("文法検査＆コード生成"))->isEnabled());
    QVERIFY(!w.action(QStringLiteral("抽出（プログラム生成）"))->isEnabled());
    QPushButton *extract = nullptr;
    for (QPushButton *b : w.extractionDialog()->findChildren<QPushButton *>())
      if (b->text() == QStringLiteral("抽出")) extract = b;
    QVERIFY(extract && !extract->isEnabled());
    // Events are handled while it runs: a 10 ms timer fires at least once
    // per 40 ms the process spends. Counted in the process's CPU time, so
    // that other work on the machine does not count against the window
    // (in wall time a turn of the loop took three times as long on a busy
    // machine). A second tool is refused.
    int fired = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { ++fired; });
    const std::clock_t cpuStart = std::clock();
    tick.start(10);
    QTest::qWait(200);
    QTRY_VERIFY_WITH_TIMEOUT(fired >= 5, 20000);
    const double cpuMs = 1000.0 * double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    QVERIFY2(cpuMs / fired <= 40, qPrintable(QStringLiteral("%1 ms for %2 events").arg(cpuMs).arg(fired)));
    QCOMPARE(w.environment().state(), environment::State::Running);
    QCOMPARE(w.runExtraction(spec), RunResult::NotStarted);
    kill->trigger();
    QCOMPARE(settle(w), RunResult::Stopped);
    QCOMPARE(w.environment().state(), environment::State::Idle);
    QVERIFY(w.action(QStringLiteral("文法検査＆コード生成"))->isEnabled());
    QVERIFY(!kill->isEnabled());
    QVERIFY(extract->isEnabled());
    // The generated program and its output page are tabs; a normal run works again.
    QCOMPARE(w.editorTabs()->count(), 3);
    QVERIFY(w.editor(1)->toPlainText().contains(QStringLiteral("&_R1C2")));
    w.openProgramLines({u"??\"after\";"});
    QCOMPARE(settle(w, w.runActiveTab()), RunResult::Ended);
    QVERIFY(w.close());
  }

  void timingValuesChangeOnlyAfterTheWarningAndNeverBelowOne() {
    environment::Settings settings;
    gui::SettingsDialog dialog(settings);
    QStringList warnings;
    dialog.warn = [&](const QString &text) { warnings << text; };
    QVERIFY(dialog.showPage(QStringLiteral("タイマー性能")));
    auto *wait = dialog.findChild<QLineEdit *>(QStringLiteral("WaitTimeEdit"));
    auto *chart = dialog.findChild<QLineEdit *>(QStringLiteral("TimingChartEdit"));
    QVERIFY(wait && chart);
    QVERIFY(!wait->isEnabled());
    QVERIFY(!chart->isEnabled());
    int locked = 0;
    for (QLabel *l : dialog.findChildren<QLabel *>())
      if (l->text() == QStringLiteral("*変更不可")) ++locked;
    QCOMPARE(locked, 3);
    QCOMPARE(wait->text(), QStringLiteral("100"));

    auto *change = dialog.findChild<QPushButton *>(QStringLiteral("WaitTimeEditChange"));
    QVERIFY(change);
    QCOMPARE(change->text(), QStringLiteral("変更"));
    change->click();
    QCOMPARE(warnings,
             QStringList{QStringLiteral("警告：　値の変更は、アプリケーションプログラム動作に影響する場合があります")});
    QVERIFY(wait->isEnabled());
    QVERIFY(!chart->isEnabled());  // each value has its own "変更"
    QCOMPARE(wait->text(), QStringLiteral("100"));

    // Zero and negative values are refused and the dialog stays open.
    dialog.show();
    wait->setText(QStringLiteral("0"));
    dialog.accept();
    QCOMPARE(warnings.last(), QStringLiteral("零、負数は設定できません"));
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(dialog.edited().waitTimeMs, u16(u"100"));  // not taken
    wait->setText(QStringLiteral("-3"));
    dialog.accept();
    QCOMPARE(warnings.size(), 3);
    wait->setText(QStringLiteral("25"));
    dialog.accept();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.edited().waitTimeMs, u16(u"25"));
    QCOMPARE(dialog.edited().waitUnitMs(), 25);
  }
};

QTEST_MAIN(TaskControlsTest)
#include "test_task_controls.moc"
