// The window keeps its promises: files changed outside are noticed, the
// window comes back where it was, lines and slots are numbered as the user
// sees them, labels say what is true, a tool's own program stays out of
// sight, and a long console costs little memory.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <malloc.h>
#include <thread>

#include "gui/code_editor.h"
#include "gui/console_view.h"
#include "gui/debugger_panel.h"
#include "gui/main_window.h"
#include "gui/qt_text.h"
#include "tests/gui/quiet_window.h"
#include "tests/gui/settle.h"
#include "tests/unit/http_server.h"

using namespace velmora;
using environment::FileChangeAnswer;
using environment::RunResult;

namespace {

// Records the questions about files changed outside and answers them.
class FileWindow : public testing::QuietWindow {
 public:
  using QuietWindow::QuietWindow;
  QStringList fileQuestions;
  FileChangeAnswer answer = FileChangeAnswer::KeepMine;
  FileChangeAnswer askFileChanged(const u16 &text, const u16 &, bool) override {
    fileQuestions << gui::qs(text);
    return answer;
  }
  std::vector<std::pair<u16, u16>> errorRows;
  void showRunError(const std::vector<std::pair<u16, u16>> &rows) override { errorRows = rows; }
  QStringList questions;
  bool askYesNo(const u16 &text, const u16 &) override {
    questions << gui::qs(text);
    return true;
  }
};

void write_file(const QString &path, const QByteArray &bytes) {
  // A moment later than the last write, as another editor's save would be.
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  QFile f(path + QStringLiteral(".tmp"));
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(bytes);
  f.close();
  QFile::remove(path);
  QVERIFY(QFile::rename(path + QStringLiteral(".tmp"), path));  // as careful editors save
}

std::size_t heap_in_use() {
  malloc_trim(0);
  return mallinfo2().uordblks;
}

}  // namespace

class WindowPromises : public QObject {
  Q_OBJECT
 private slots:
  // A program changed by another editor while it is open: a tab without
  // edits shows the new text; a tab with edits asks, and "このまま" keeps
  // the tab's text (nothing was noticed before: the next Ctrl+S wrote over
  // the other editor's change without a word).
  void filesChangedOutsideAreNoticed() {
    QTemporaryDir home;
    FileWindow w(home.path().toStdString());
    w.show();
    const QString path = home.path() + QStringLiteral("/PROG/watched.mcl");
    write_file(path, "A = 1;\n");
    const int tab = w.openProgramFile(path.toStdString());
    QVERIFY(tab >= 0);
    write_file(path, "A = 2;\n");
    QTRY_COMPARE(w.editor(tab)->toPlainText(), QStringLiteral("A = 2;"));
    QVERIFY(!w.editor(tab)->document()->isModified());
    QVERIFY(w.fileQuestions.isEmpty());

    w.editor(tab)->appendPlainText(QStringLiteral("B = 3;"));
    write_file(path, "A = 4;\n");
    QTRY_COMPARE(w.fileQuestions.size(), 1);
    QVERIFY(w.fileQuestions[0].contains(QStringLiteral("watched.mcl")));
    QCOMPARE(w.editor(tab)->toPlainText(), QStringLiteral("A = 2;\nB = 3;"));
    QVERIFY(w.overwriteActive());
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("A = 2;\nB = 3;\n"));  // its own line ends kept
    QCOMPARE(w.fileQuestions.size(), 1);                    // its own save raised no question
  }

  // The program list names files: a program saved outside PROG is listed by
  // its name, opens as that file, and once gone says so.
  void theProgramListNamesFiles() {
    QTemporaryDir home, outside;
    FileWindow w(home.path().toStdString());
    w.show();
    write_file(home.path() + QStringLiteral("/PROG/out.mcl"), "??\"namesake\";\n");
    w.newProgram();
    w.editor(0)->setPlainText(QStringLiteral("??\"mine\";"));
    w.saveFile = (outside.path() + QStringLiteral("/out.mcl")).toStdString();
    QVERIFY(w.saveActiveAsText());
    w.refreshFileList();
    QListWidget *list = w.fileListView();
    QListWidgetItem *item = nullptr;
    for (int i = 0; i < list->count(); ++i)
      if (gui::MainWindow::listedEntry(list->item(i)) == outside.path() + QStringLiteral("/out.mcl"))
        item = list->item(i);
    QVERIFY(item);
    QCOMPARE(item->text(), QStringLiteral("out.mcl"));
    QVERIFY(w.closeAllTabs());
    const int tab = w.openListedFile(gui::MainWindow::listedEntry(item));
    QVERIFY(tab >= 0);
    QCOMPARE(w.editor(tab)->toPlainText(), QStringLiteral("??\"mine\";"));
    QVERIFY(w.closeAllTabs());
    QFile::remove(outside.path() + QStringLiteral("/out.mcl"));
    w.refreshFileList();
    bool gone = false;
    for (int i = 0; i < list->count(); ++i)
      gone |= list->item(i)->text() == QStringLiteral("out.mcl（ファイルがありません）");
    QVERIFY(gone);
    QCOMPARE(w.openListedFile(outside.path() + QStringLiteral("/out.mcl")), -1);
    QCOMPARE(w.editorTabs()->count(), 0);
  }

  // Three starts in a row put the window's frame where the first left it
  // (the inner corner used to be restored as the frame's, 20 px down and
  // 1 px right on every start).
  void theWindowComesBackWhereItWas() {
    QTemporaryDir home;
    QPoint where;
    QSize size;
    for (int start = 0; start < 4; ++start) {
      testing::QuietWindow w(home.path().toStdString());
      w.show();
      QVERIFY(QTest::qWaitForWindowExposed(&w));
      if (start == 0) {
        w.setGeometry(120, 140, 900, 600);
        QTRY_COMPARE(w.geometry().topLeft(), QPoint(120, 140));
        where = w.frameGeometry().topLeft();
        size = w.size();
      } else {
        QCOMPARE(w.frameGeometry().topLeft(), where);
        QCOMPARE(w.size(), size);
      }
      QVERIFY(w.close());
    }
  }

  // The gutter counts lines from 1, as velmora-run and the explanations do:
  // ten lines need two digits. Slots are named as the status list names
  // them, a compile error's line as the gutter shows it.
  void linesAndSlotsAreNumberedAsTheUserSeesThem() {
    QTemporaryDir home;
    FileWindow w(home.path().toStdString());
    w.show();
    auto *editor = static_cast<gui::CodeEditor *>(w.editor(w.newProgram()));
    editor->setPlainText(QStringLiteral("A = 1;\n").repeated(9).chopped(1));
    const int nine = editor->gutterWidth();
    editor->setPlainText(QStringLiteral("A = 1;\n").repeated(10).chopped(1));
    const int ten = editor->gutterWidth();
    editor->setPlainText(QStringLiteral("A = 1;\n").repeated(99).chopped(1));
    QVERIFY(ten > nine);
    QCOMPARE(ten, editor->gutterWidth());

    editor->setPlainText(QStringLiteral("A = 1;\nB = 2;\nC = + ;"));
    QCOMPARE(w.compileActive(), -1);
    QCOMPARE(editor->errorLine(), 2);
    QVERIFY2(w.statusBar()->currentMessage().startsWith(QStringLiteral("行 3")),
             qPrintable(w.statusBar()->currentMessage()));
    editor->setPlainText(QStringLiteral("A = 1;"));
    QCOMPARE(w.compileActive(), 0);
    w.messages.clear();
    w.compileActive();  // asks before replacing slot 01
    QVERIFY(w.questions.contains(QStringLiteral("スロットNo. 01  既存のコードを差し替えるか？")));
  }

  // "★" steps a task outside a run: the status says so, not "ブレーク", and
  // "■" has no run to stop.
  void stepOutsideARunSaysWhatItIs() {
    QTemporaryDir home;
    FileWindow w(home.path().toStdString());
    w.show();
    w.openProgramLines({u"A = 1;", u"B = 2;"});
    QCOMPARE(w.compileActive(), 0);
    w.debugger()->setSlot(0);
    QVERIFY(w.debugger()->stepTask());
    QVERIFY2(w.statusBar()->currentMessage().startsWith(QStringLiteral("ステップ実行")),
             qPrintable(w.statusBar()->currentMessage()));
    QVERIFY(!w.action(QStringLiteral("実行中スロットの強制終了(&A)"))->isEnabled());
  }

  // While one program is held at a breakpoint, the debugger on another
  // program (its tab in front) marks none of its lines and shows its own
  // stop line (it kept the held program's row and line); back on the held
  // program, the held line is marked again.
  void theDebuggerShowsEachProgramsOwnLines() {
    QTemporaryDir home;
    FileWindow w(home.path().toStdString());
    w.show();
    w.editor(w.newProgram())->setPlainText(QStringLiteral("A = 1;\nB = 2;\nC = 3;\nD = 4;"));
    QCOMPARE(w.compileActive(), 0);
    w.editor(w.newProgram())->setPlainText(QStringLiteral("K = 0;\nWHILE K < 1000000 DO K += 1; END\nX = 1;\nY = 2;"));
    QCOMPARE(w.compileActive(), 1);
    QVERIFY(w.toggleBreakpointAt(0, 2));
    QCOMPARE(w.run(), RunResult::Running);
    QTRY_COMPARE(w.environment().state(), environment::State::Held);
    QCOMPARE(w.debugger()->sourceView()->currentRow(), 2);
    w.editorTabs()->setCurrentWidget(w.editor(1));
    QCOMPARE(w.debugger()->slot(), 1);
    QCOMPARE(w.debugger()->sourceView()->currentRow(), -1);
    QListWidget *variables = w.debugger()->variableView();
    QVERIFY(variables->count() > 0);
    QVERIFY2(!variables->item(0)->text().endsWith(QStringLiteral("/Stp/00002")), qPrintable(variables->item(0)->text()));
    w.editorTabs()->setCurrentWidget(w.editor(0));
    QCOMPARE(w.debugger()->sourceView()->currentRow(), 2);
    w.kill();
    QCOMPARE(testing::settle(w), RunResult::Stopped);
  }

  // The web-page tool's own program is not shown as a tab while it loads,
  // and a failed load names the tool and the page, not a line of that
  // program.
  void theWebPageToolKeepsItsProgramOutOfSight() {
    testing::Server server;
    QVERIFY(server.port > 0);
    QTemporaryDir home;
    FileWindow w(home.path().toStdString());
    w.show();
    w.editor(w.newProgram())->setPlainText(QStringLiteral("??1;"));
    bool seen = false, loading = false;
    w.onPump = [&] {
      loading |= w.environment().toolProgramTab() >= 0;
      for (int i = 0; i < w.editorTabs()->count(); ++i)
        seen |= w.editorTabs()->tabText(i).startsWith(QStringLiteral("__$$$__"));
    };
    const u16 url = u"http://127.0.0.1:" + text::int16(server.port) + u"/page.txt";
    QCOMPARE(testing::settle(w, w.loadWebPage(url, u"UTF8")), RunResult::Ended);
    QVERIFY(loading);
    QVERIFY(!seen);
    const u16 nowhere = u"http://127.0.0.1:1/x";  // nothing listens there
    QCOMPARE(testing::settle(w, w.loadWebPage(nowhere, u"UTF8")), RunResult::Error);
    QVERIFY(!seen);
    QCOMPARE(int(w.errorRows.size()), 7);
    QCOMPARE(gui::qs(w.errorRows[3].second), QStringLiteral("WEBページ読込（URL）"));
    QCOMPARE(gui::qs(w.errorRows[4].second), gui::qs(nowhere));
  }

  // A long console is one buffer and an offset per line: 200,000 short
  // lines add well under 150 bytes each to the window (the engine's own
  // lines included); a row object per line took about 270.
  void aLongConsoleIsCompact() {
    QTemporaryDir home;
    testing::QuietWindow w(home.path().toStdString());
    w.resize(800, 600);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.openProgramLines({u"FOR I = 1 TO 200000 DO ??I; ??CRLF; END"});
    QCOMPARE(w.compileActive(), 0);
    const std::size_t before = heap_in_use();
    QCOMPARE(testing::settle(w, w.run()), RunResult::Ended);
    QApplication::processEvents();
    QCOMPARE(w.consoleView()->count(), 200001);
    QCOMPARE(w.consoleView()->rowText(199999), QStringLiteral("200000"));
    QTRY_VERIFY(w.consoleView()->followsEnd());
    const double perLine = double(heap_in_use() - before) / 200000;
    QVERIFY2(perLine < 150, qPrintable(QString::number(perLine)));
  }
};

int main(int argc, char **argv) {
  // The offscreen platform with window frames, as a window manager draws
  // them, so that a frame's position and the inner corner differ.
  QTemporaryFile config(QDir::tempPath() + QStringLiteral("/velmora-offscreen-XXXXXX.json"));
  if (qgetenv("QT_QPA_PLATFORM") == "offscreen" && config.open()) {
    config.write(R"({"windowFrameMargins": true, "screens": [{"name": "offscreen", "x": 0, "y": 0,
                  "width": 1600, "height": 1000, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    config.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.fileName().toLocal8Bit());
  }
  QApplication app(argc, argv);
  WindowPromises test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_window_promises.moc"
