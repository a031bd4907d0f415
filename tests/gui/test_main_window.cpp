// The IDE window, offscreen: editing, compiling, running, the console view,
// permits, pausing and killing from inside the run loop.
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "gui/main_window.h"

using namespace velmora;
using velmora::environment::Answer;
using velmora::environment::RunResult;

namespace {

// Answers every dialog from the test instead of showing it.
class TestWindow : public gui::MainWindow {
 public:
  using gui::MainWindow::MainWindow;
  QStringList messages, questions;
  Answer answer = Answer::Yes;
  void message(const u16 &text, const u16 &) override {
    messages << QString::fromUtf16(text.data(), qsizetype(text.size()));
  }
  bool askYesNo(const u16 &text, const u16 &) override {
    questions << QString::fromUtf16(text.data(), qsizetype(text.size()));
    return answer == Answer::Yes;
  }
  Answer askYesNoCancel(const u16 &text, const u16 &) override {
    questions << QString::fromUtf16(text.data(), qsizetype(text.size()));
    return answer;
  }
  void showRunError(const std::vector<std::pair<u16, u16>> &rows) override { errorRows = int(rows.size()); }
  int errorRows = 0;
};

QStringList items(QListWidget *list) {
  QStringList out;
  for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
  return out;
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void typedProgramCompilesRunsAndShowsItsConsole() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    int tab = w.newProgram();
    QCOMPARE(tab, 0);
    QCOMPARE(w.editorTabs()->count(), 1);
    QCOMPARE(w.editorTabs()->tabText(0), QStringLiteral("#1"));
    w.editor(0)->setPlainText(QStringLiteral("??\"こんにちは\";\n??CRLF;\nFOR I = 1 TO 3 DO ??I; END"));
    QCOMPARE(w.compileActive(), 0);
    QVERIFY(items(w.statusView())[0].startsWith(QStringLiteral("01: : ｱｸﾃｨﾌﾞ（待機） #1 T0 #1")));
    QCOMPARE(w.run(), RunResult::Ended);
    QCOMPARE(items(w.consoleView()), (QStringList{QStringLiteral("こんにちは"), QStringLiteral("123")}));
    QVERIFY(items(w.statusView())[0].contains(QStringLiteral("終了")));
  }

  void recompilingAsksAndARuntimeErrorShowsTheErrorRows() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.openProgramLines({u"A = 0;", u"B = 1 / A;"});
    QCOMPARE(w.compileActive(), 0);
    w.answer = Answer::No;
    QCOMPARE(w.compileActive(), -1);
    QCOMPARE(w.questions.size(), 1);
    QCOMPARE(w.run(), RunResult::Error);
    QCOMPARE(w.errorRows, 7);
    QCOMPARE(items(w.consoleView()).last(), QStringLiteral("計算エラー：/ Floating point division by zero"));
  }

  void permitRowsToggleOnDoubleClick() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    QCOMPARE(w.permitView()->item(0)->text(), QStringLiteral("01: 実行許可　〇"));
    emit w.permitView()->itemDoubleClicked(w.permitView()->item(0));
    QCOMPARE(w.permitView()->item(0)->text(), QStringLiteral("01: 実行不可　×"));
    QVERIFY(!w.environment().permitted(0));
  }

  void theWindowStaysResponsiveAndKillEndsTheRun() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.openProgramLines({u"??\"start\";", u"WHILE 1 DO END"});
    QCOMPARE(w.compileActive(), 0);
    bool paused = false, pauseSeen = false;
    // Timers fire inside the run loop's event processing.
    QTimer::singleShot(50, &w, [&] {
      w.pauseOrContinue();
      paused = w.environment().paused;
      QTimer::singleShot(50, &w, [&] {
        pauseSeen = true;
        w.pauseOrContinue();
        QTimer::singleShot(50, &w, [&] { w.kill(); });
      });
    });
    QCOMPARE(w.run(), RunResult::Stopped);
    QVERIFY(paused);
    QVERIFY(pauseSeen);
    QCOMPARE(items(w.consoleView()).first(), QStringLiteral("start"));
  }

  void pagesWrittenByAProgramAppearAsEditorTabs() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.openProgramLines({u"P = [#].NEW;", u"&S = \"generated line\";", u"[#P] += &S;", u"[#P].NAME(\"made\");"});
    QCOMPARE(w.compileActive(), 0);
    QCOMPARE(w.run(), RunResult::Ended);
    QCOMPARE(w.editorTabs()->count(), 2);
    QCOMPARE(w.editorTabs()->tabText(1), QStringLiteral("made"));
    QCOMPARE(w.editor(1)->toPlainText(), QStringLiteral("generated line"));
  }

  void canvasesAppearAsWindowsThatFollowTheProgram() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.openProgramLines({u"<?? 2 >;", u"<? 2 >;", u"< \"FILL\" 0, 0, 255 >;", u"< \"BOX\" 50, 50 >;"});
    QCOMPARE(w.compileActive(), 0);
    QCOMPARE(w.run(), RunResult::Ended);
    QVERIFY(w.canvases().visible(2));
    QCOMPARE(QColor(w.canvases().image(2).pixel(10, 10)), QColor(Qt::red));
    QWidget *window = nullptr;
    for (QWidget *child : w.findChildren<QWidget *>())
      if (child->windowTitle() == QStringLiteral("キャンバス 2")) window = child;
    QVERIFY(window);
    QVERIFY(window->isVisible());
  }

  void closingWhileRunningIsRefused() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.show();
    w.openProgramLines({u"WHILE 1 DO END"});
    QCOMPARE(w.compileActive(), 0);
    bool refused = false;
    QTimer::singleShot(30, &w, [&] {
      refused = !w.close();
      w.kill();
    });
    w.run();
    QVERIFY(refused);
    QVERIFY(w.messages.contains(QStringLiteral("タスク実行を終了すること")));
    QVERIFY(w.close());
  }
};

QTEST_MAIN(MainWindowTest)
#include "test_main_window.moc"
