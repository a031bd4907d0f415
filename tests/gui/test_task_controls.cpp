// The task status area and the breakpoint table of the IDE, offscreen: the
// buttons under the status list fill and free slots, a chosen row brings its
// tab and debugger views, the table lists breakpoints with their condition
// and hits.
#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "gui/debugger_panel.h"
#include "gui/main_window.h"

using namespace velmora;
using velmora::environment::Answer;
using velmora::environment::RunResult;

namespace {

class TestWindow : public gui::MainWindow {
 public:
  using gui::MainWindow::MainWindow;
  QStringList messages;
  void message(const u16 &text, const u16 &) override {
    messages << QString::fromUtf16(text.data(), qsizetype(text.size()));
  }
  bool askYesNo(const u16 &, const u16 &) override { return true; }
  Answer askYesNoCancel(const u16 &, const u16 &) override { return Answer::No; }
  void showRunError(const std::vector<std::pair<u16, u16>> &) override {}
  void showErrorLocation(const Lines &, int) override {}
};

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
    QCOMPARE(w.environment().compiledSource[2], (Lines{u"??\"one\";"}));

    // Choosing a row: the selection field, the tab in front, the debugger.
    QTest::mouseClick(w.statusView()->viewport(), Qt::LeftButton, {},
                      w.statusView()->visualItemRect(w.statusView()->item(1)).center());
    QCOMPARE(w.environment().selectedTask, 1);
    QCOMPARE(w.editorTabs()->currentIndex(), first);
    QCOMPARE(w.debugger()->slot(), 1);
    QCOMPARE(w.debugger()->sourceView()->count(), 1);
    QVERIFY(w.debugger()->sourceView()->item(0)->text().contains(QStringLiteral("??\"one\";")));
    QVERIFY(w.debugger()->registerView()->count() > 0);

    // "削除" frees the chosen slot and its breakpoints; the others stay.
    w.debugger()->selectSourceLine(0);
    QVERIFY(w.debugger()->addBreakpoint());
    QCOMPARE(w.environment().breakpointCount(), 1);
    QTest::mouseClick(w.taskButton(2), Qt::LeftButton);
    QVERIFY(row(w, 1).contains(QStringLiteral("無し")));
    QVERIFY(row(w, 0).contains(QStringLiteral("ｱｸﾃｨﾌﾞ")));
    QVERIFY(row(w, 2).contains(QStringLiteral("ｱｸﾃｨﾌﾞ")));
    QCOMPARE(w.environment().breakpointCount(), 0);
    QCOMPARE(w.debugger()->sourceView()->item(0)->text(), QStringLiteral("0000 No program"));
    // A free row selected: "削除" frees nothing.
    QVERIFY(!w.deleteTask());

    // The remaining slots run: two copies of the same program.
    QCOMPARE(w.run(), RunResult::Ended);
    QCOMPARE(w.consoleView()->count(), 1);
    QCOMPARE(w.consoleView()->item(0)->text(), QStringLiteral("oneone"));
  }

  void theButtonsRestWhileARunHoldsTheSlots() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.show();
    w.openProgramLines({u"WAIT 3;"});
    QCOMPARE(w.compileToFreeSlot(), 0);
    bool seen = false;
    QTimer::singleShot(50, &w, [&] {
      seen = true;
      QVERIFY(!w.taskButton(0)->isEnabled());
      QVERIFY(!w.taskButton(2)->isEnabled());
      QVERIFY(!w.environment().DelTaskButtonClick());
      QCOMPARE(w.environment().AddTaskButtonClick(), -1);
      w.kill();
    });
    w.run();
    QVERIFY(seen);
    QVERIFY(w.taskButton(2)->isEnabled());
  }
};

QTEST_MAIN(TaskControlsTest)
#include "test_task_controls.moc"
