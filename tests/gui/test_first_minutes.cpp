// The IDE's first minutes, offscreen: what the window shows on a start,
// how it follows a program through errors, breakpoints and stops, the
// editor's basics, and where it keeps its own state.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "gui/code_editor.h"
#include "gui/main_window.h"
#include "tests/gui/quiet_window.h"

using namespace velmora;
using velmora::environment::RunResult;

class FirstMinutesTest : public QObject {
  Q_OBJECT
 private slots:
  void aStartWithoutTabsSaysHowToBeginAndGreets() {
    QTemporaryDir home;
    QDir(home.path()).mkpath(QStringLiteral("PROG"));
    QFile f(home.path() + QStringLiteral("/PROG/hello.mcl"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("??\"hi\";\n");
    f.close();
    testing::QuietWindow w(home.path().toStdString());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    // The examples of the program directory are listed.
    QCOMPARE(w.fileListView()->count(), 1);
    QCOMPARE(w.fileListView()->item(0)->text(), QStringLiteral("hello.mcl"));
    // No tab: the editor area says how to start; F9 and Ctrl+F5 say it too.
    auto *hint = w.findChild<QLabel *>(QStringLiteral("emptyEditorHint"));
    QVERIFY(hint);
    QVERIFY(hint->isVisible());
    QVERIFY(hint->text().contains(QStringLiteral("新規")));
    QVERIFY(hint->text().contains(QStringLiteral("開く")));
    QVERIFY(hint->text().contains(QStringLiteral("プログラムリスト")));
    QCOMPARE(w.compileActive(), -1);
    QVERIFY(w.statusBar()->currentMessage().contains(QStringLiteral("新規")));
    w.statusBar()->clearMessage();
    QCOMPARE(w.runActiveTab(), RunResult::NotStarted);
    QVERIFY(w.statusBar()->currentMessage().contains(QStringLiteral("新規")));
    // The greeting: a first tab, unchanged, that compiles and runs alone.
    QCOMPARE(w.greetIfEmpty(), 0);
    QVERIFY(!hint->isVisible());
    QCOMPARE(w.editorTabs()->count(), 1);
    QVERIFY(!w.editor(0)->document()->isModified());
    QCOMPARE(w.greetIfEmpty(), -1);
    QCOMPARE(w.runActiveTab(), RunResult::Ended);
    bool greeted = false;
    for (int i = 0; i < w.consoleView()->count(); ++i)
      greeted |= w.consoleView()->item(i)->text().contains(QStringLiteral("こんにちは"));
    QVERIFY(greeted);
    // Closing the last tab brings the note back.
    QVERIFY(w.closeActiveTab());
    QVERIFY(hint->isVisible());
  }

  // Enter alone on the permission question answers いいえ.
  void thePermissionQuestionDefaultsToNo() {
    QTemporaryDir home;
    gui::MainWindow w(home.path().toStdString());
    w.show();
    bool defaultIsNo = false, asked = false;
    QTimer::singleShot(50, [&] {
      auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
      if (!box) return;
      asked = true;
      defaultIsNo = box->defaultButton() == box->button(QMessageBox::No);
      QTest::keyClick(box, Qt::Key_Return);
    });
    QCOMPARE(w.askPermission(u"プログラム「#1」の EXEC が外部コマンドを使おうとしています。", u"実行許可の確認"), false);
    QVERIFY(asked);
    QVERIFY(defaultIsNo);
  }
};

QTEST_MAIN(FirstMinutesTest)
#include "test_first_minutes.moc"
