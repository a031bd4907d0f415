// Every command of the window in every state of the environment: fired
// twice in a row while idle, compiling, running, paused, held, step-compiling
// and waiting for input, it never starts a run or a compile inside another,
// and afterwards "■" and quitting work. Also the two ways a second command
// used to nest: Ctrl+F5 pressed again while a run starts, F9 during a long
// compile.
#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

#include "gui/debugger_panel.h"
#include "gui/main_window.h"
#include "tests/gui/quiet_window.h"
#include "tests/gui/settle.h"
#include "text/lines.h"

using namespace velmora;
using velmora::environment::RunResult;
using velmora::environment::State;
using velmora::testing::settle;

namespace {

// A window that lets a test act while a compile shows a message (the only
// moment a compile lets anything else happen).
class Window : public velmora::testing::QuietWindow {
 public:
  using QuietWindow::QuietWindow;
  std::function<void()> duringCompileMessage;
  void message(const u16 &text, const u16 &title) override {
    QuietWindow::message(text, title);
    if (duringCompileMessage && environment().state() == State::Compiling) {
      auto act = std::move(duringCompileMessage);
      duringCompileMessage = nullptr;
      act();
    }
  }
};

// Every run of it adds a line to runs.txt, then it waits for ever.
Lines endless(bool asksForInput = false) {
  Lines p{u"FILE(1).OPEN(\"runs.txt\", APPEND);", u"FILE(1).WRITE(\"run\");", u"FILE(1).CLOSE;"};
  if (asksForInput) p.push_back(u"?? GETS &A;");
  p.push_back(u"WHILE 1 DO WAIT 1; END");
  return p;
}

int runsStarted(Window &w) {
  auto file = text::read_text_file(w.environment().dataDirectory() / "runs.txt");
  if (!file) return 0;
  int n = 0;
  for (const u16 &line : file->lines) n += line == u"run";
  return n;
}

bool waitFor(Window &w, State s) {
  for (int i = 0; i < 2000 && w.environment().state() != s; ++i) QTest::qWait(1);
  return w.environment().state() == s;
}

// "■" and then quitting: the window must come back to idle and close.
void stopAndQuit(Window &w, const QString &what) {
  w.kill();
  settle(w);
  QVERIFY2(w.environment().state() == State::Idle, qPrintable(what));
  QVERIFY2(w.close(), qPrintable(what));
}

enum class Setup { Idle, Compiling, Running, Paused, Held, StepCompiling, WaitingForInput };

const char *const kActions[] = {"文法検査＆コード生成",
                                "実行(&E)",
                                "このタブを実行",
                                "実行中断",
                                "実行中スロットの強制終了(&A)",
                                "全スロット実行(&E)",
                                "タスクリセット（CODE DEBUG）",
                                "１ｽﾃｯﾌﾟ実行（CODE DEBUG）",
                                "開く(&O)",
                                "閉じる(&X)",
                                "全て閉じる",
                                "新規(&N)",
                                "上書き保存(&S)",
                                "ブック読込",
                                "●",
                                "▶ このタブを実行",
                                "〓",
                                "■"};

// The buttons of the task area and of the step compile.
const char *const kButtons[] = {"ｺﾝﾊﾟｲﾙ", "追加", "削除", "開始", "次", "終了"};

QPushButton *button(Window &w, const QString &text) {
  for (QPushButton *b : w.findChildren<QPushButton *>())
    if (b->text() == text) return b;
  return nullptr;
}

}  // namespace

class ActionStatesTest : public QObject {
  Q_OBJECT
 private slots:
  // Ctrl+F5 pressed five times before the first run got going: one run,
  // and "■" ends it for good.
  void runTabPressedRepeatedlyStartsOneRun() {
    QTemporaryDir home;
    Window w(home.path().toStdString());
    w.show();
    w.openProgramLines(endless());
    QAction *runTab = w.action(QStringLiteral("このタブを実行"));
    QVERIFY(runTab);
    for (int i = 0; i < 4; ++i) QTimer::singleShot(0, runTab, [runTab] { runTab->trigger(); });
    runTab->trigger();
    QTRY_COMPARE(runsStarted(w), 1);
    QTest::qWait(100);  // time for any second run to show itself
    QCOMPARE(runsStarted(w), 1);
    QVERIFY(!runTab->isEnabled());
    QVERIFY(w.action(QStringLiteral("実行中スロットの強制終了(&A)"))->isEnabled());
    w.kill();
    QCOMPARE(settle(w), RunResult::Stopped);
    QTest::qWait(50);
    QCOMPARE(runsStarted(w), 1);  // nothing started after the stop
    QVERIFY(runTab->isEnabled());
    QVERIFY(w.close());
  }

  // F9 arriving while a long program compiles is handled after it, never
  // inside it; the compile registers its slot.
  void compileDuringACompileWaitsForItsEnd() {
    QTemporaryDir home;
    Window w(home.path().toStdString());
    w.show();
    Lines program;
    for (int i = 0; i < 10000; ++i) program.push_back(u"A = A + " + text::int16(i) + u";");
    w.openProgramLines(program);
    bool outerDone = false, innerInside = false, innerRan = false;
    QTimer::singleShot(0, &w, [&] {
      innerRan = true;
      innerInside = !outerDone;
      w.compileActive();
    });
    const int outer = w.compileActive();
    outerDone = true;
    QCOMPARE(outer, 0);
    QTRY_VERIFY(innerRan);
    QVERIFY(!innerInside);
    QCOMPARE(w.environment().state(), State::Idle);
    QVERIFY(w.close());
  }

  void everyActionInEveryState_data() {
    QTest::addColumn<int>("setup");
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("isButton");
    const std::pair<Setup, const char *> setups[] = {{Setup::Idle, "idle"},
                                                     {Setup::Compiling, "compiling"},
                                                     {Setup::Running, "running"},
                                                     {Setup::Paused, "paused"},
                                                     {Setup::Held, "held"},
                                                     {Setup::StepCompiling, "step-compiling"},
                                                     {Setup::WaitingForInput, "waiting"}};
    for (auto [setup, name] : setups) {
      for (const char *a : kActions) QTest::addRow("%s / %s", name, a) << int(setup) << QString::fromUtf8(a) << false;
      for (const char *b : kButtons)
        QTest::addRow("%s / button %s", name, b) << int(setup) << QString::fromUtf8(b) << true;
    }
  }

  void everyActionInEveryState() {
    QFETCH(int, setup);
    QFETCH(QString, command);
    QFETCH(bool, isButton);
    QTemporaryDir home;
    Window w(home.path().toStdString());
    w.show();
    auto fireTwice = [&] {
      if (isButton) {
        QPushButton *b = button(w, command);
        QVERIFY2(b, qPrintable(command));
        b->click();  // a disabled button ignores the click, as it does the user's
        b->click();
      } else {
        QAction *a = w.action(command);
        // While paused the pause command reads "実行再開" and its button "○".
        if (!a && command == QStringLiteral("実行中断")) a = w.action(QStringLiteral("実行再開"));
        if (!a && command == QStringLiteral("〓")) a = w.action(QStringLiteral("○"));
        QVERIFY2(a, qPrintable(command));
        a->trigger();  // a disabled action ignores it
        a->trigger();
      }
    };
    const Setup s = Setup(setup);
    w.openProgramLines(endless(s == Setup::WaitingForInput));
    switch (s) {
      case Setup::Idle:
        QCOMPARE(w.compileActive(), 0);
        fireTwice();
        break;
      case Setup::Compiling: {
        // A syntax error's message is up while the compile is in progress.
        w.openProgramLines({u"A = ;"});
        bool fired = false;
        w.duringCompileMessage = [&] {
          fired = true;
          QVERIFY(!w.action(QStringLiteral("文法検査＆コード生成"))->isEnabled());
          fireTwice();
          QCOMPARE(w.environment().state(), State::Compiling);
        };
        QCOMPARE(w.compileActive(), -1);
        QVERIFY(fired);
        break;
      }
      case Setup::Running:
      case Setup::Paused:
      case Setup::Held:
      case Setup::WaitingForInput: {
        QCOMPARE(w.compileActive(), 0);
        if (s == Setup::Held) QVERIFY(w.toggleBreakpointAt(0, 3));
        w.runActiveTab();
        const State wanted = s == Setup::Held              ? State::Held
                             : s == Setup::WaitingForInput ? State::WaitingForInput
                                                           : State::Running;
        QVERIFY(waitFor(w, wanted));
        if (s == Setup::Paused) {
          w.pauseOrContinue();
          QCOMPARE(w.environment().state(), State::Paused);
        }
        fireTwice();
        break;
      }
      case Setup::StepCompiling:
        QVERIFY(!w.stepCompile());
        QCOMPARE(w.environment().state(), State::StepCompiling);
        fireTwice();
        break;
    }
    QTest::qWait(20);  // slices of whatever runs now
    QVERIFY2(runsStarted(w) <= 1, qPrintable(command));
    stopAndQuit(w, command);
  }
};

QTEST_MAIN(ActionStatesTest)
#include "test_action_states.moc"
