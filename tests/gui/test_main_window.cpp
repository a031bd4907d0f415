// The IDE window, offscreen: editing, compiling, running, the console view,
// permits, pausing and killing from inside the run loop.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QFile>
#include <QLineEdit>
#include <QTableWidget>
#include <QTextBrowser>
#include <QTextBlock>
#include <QTextLayout>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "gui/code_editor.h"
#include "gui/console_input.h"
#include "gui/console_view.h"
#include "gui/debugger_panel.h"
#include "gui/main_window.h"
#include "tests/gui/settle.h"
#include "gui/qt_text.h"
#include "gui/settings_dialog.h"
#include "gui/tool_dialogs.h"
#include "text/lines.h"

using velmora::testing::settle;
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
  bool askPermission(const u16 &text, const u16 &title) override { return askYesNo(text, title); }
  Answer askYesNoCancel(const u16 &text, const u16 &) override {
    questions << QString::fromUtf16(text.data(), qsizetype(text.size()));
    return answer;
  }
  void showRunError(const std::vector<std::pair<u16, u16>> &rows) override { errorRows = int(rows.size()); }
  int errorRows = 0;
  int errorLocations = 0;
  std::function<void()> onPump;
  // Step compile: records the token row the panel marks and the T-code
  // lines it shows, then presses "次" (or "終了" after endAfter steps).
  QList<QPair<int, int>> compileSteps;
  int endStepsAfter = -1;
  bool compileStepShown(const environment::CompileStep &step) override {
    gui::MainWindow::compileStepShown(step);
    compileSteps << qMakePair(debugger()->stepTokenView()->currentRow(), debugger()->stepTcodeView()->count());
    if (compileSteps.size() == endStepsAfter)
      QTimer::singleShot(0, this, [this] { environment().compileDriver.endStepCompile(); });
    else QTimer::singleShot(0, this, [this] { environment().compileDriver.stepCompileNext(); });
    return true;
  }
  void afterSlice() override {
    gui::MainWindow::afterSlice();
    if (onPump) onPump();
  }
  void showErrorLocation(const Lines &, int) override { ++errorLocations; }
  // Each hold is recorded with the debugger's lists; the scripted action
  // (step or continue) answers it from inside the run loop.
  struct Hold {
    int slot;
    QString line;
    QStringList variables;
    QString selected;
    QString taskState;  // the monitor's STS of the held slot
  };
  QList<Hold> holds;
  std::optional<std::filesystem::path> saveAs;
  std::optional<std::filesystem::path> chooseSaveFile(const u16 &, const std::filesystem::path &,
                                                      const u16 &) override {
    return saveAs;
  }
  QStringList script;
  void breakpointHeld(int slot, u16view line) override {
    gui::MainWindow::breakpointHeld(slot, line);
    QListWidget *src = debugger()->sourceView();
    holds << Hold{slot, QString::fromUtf16(line.data(), qsizetype(line.size())),
                  [&] {
                    QStringList v;
                    for (int i = 0; i < debugger()->variableView()->count(); ++i)
                      v << debugger()->variableView()->item(i)->text();
                    return v;
                  }(),
                  src->currentItem() ? src->currentItem()->text() : QString(),
                  debugger()->taskGrid()->item(0, 0) ? debugger()->taskGrid()->item(0, 0)->text() : QString()};
    QString action = script.isEmpty() ? QStringLiteral("continue") : script.takeFirst();
    if (action == QStringLiteral("step")) debugger()->stepOneLine();
    else debugger()->continueFromBreak();
  }
};

// Red pixels in the gutter of an editor: the breakpoint marks.
int gutter_marks(gui::CodeEditor *e) {
  e->resize(400, 300);
  QImage image = e->grab().toImage();
  int red = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < e->gutterWidth() && x < image.width(); ++x) {
      QColor c = image.pixelColor(x, y);
      if (c.red() > 150 && c.green() < 80 && c.blue() < 80) ++red;
    }
  return red;
}

// The text colour the highlighter gave a column of an editor line.
QColor colour_at(QPlainTextEdit *e, int line, int column) {
  QTextBlock block = e->document()->findBlockByNumber(line);
  for (const QTextLayout::FormatRange &r : block.layout()->formats())
    if (column >= r.start && column < r.start + r.length) return r.format.foreground().color();
  return {};
}

QStringList items(QListWidget *list) {
  QStringList out;
  for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
  return out;
}

QStringList items(gui::ConsoleView *console) {
  QStringList out;
  for (int i = 0; i < console->count(); ++i) out << console->rowText(i);
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
    QTest::keyClicks(w.editor(0), QStringLiteral("x"));
    QCOMPARE(w.editorTabs()->tabText(0), QStringLiteral("#1 *"));  // changed mark
    w.editor(0)->setPlainText(QStringLiteral("??\"こんにちは\";\n??CRLF;\nFOR I = 1 TO 3 DO ??I; END"));
    QCOMPARE(w.compileActive(), 0);
    QVERIFY(items(w.statusView())[0].startsWith(QStringLiteral("01: : ｱｸﾃｨﾌﾞ（待機） #1 T0 #1")));
    QCOMPARE(settle(w, w.run()), RunResult::Ended);
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
    QCOMPARE(settle(w, w.run()), RunResult::Error);
    QCOMPARE(w.errorRows, 7);
    QCOMPARE(items(w.consoleView()).last(), QStringLiteral("計算エラー：/ ゼロ除算（0 で割った）"));
  }

  void permitRowsToggleOnDoubleClick() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    QCOMPARE(w.permitView()->item(0)->text(), QStringLiteral("01: 実行許可　〇"));
    emit w.permitView()->itemDoubleClicked(w.permitView()->item(0));
    QCOMPARE(w.permitView()->item(0)->text(), QStringLiteral("01: 実行不可　×"));
    QVERIFY(!w.environment().runLoop.permitted(0));
  }

  void theWindowStaysResponsiveAndKillEndsTheRun() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.openProgramLines({u"??\"start\";", u"WHILE 1 DO END"});
    QCOMPARE(w.compileActive(), 0);
    bool paused = false, pauseSeen = false;
    // Timers fire inside the run loop's event processing.
    int compiledDuringRun = 0;
    QTimer::singleShot(50, &w, [&] {
      compiledDuringRun = w.compileActive();  // refused: the slots belong to the run
      w.pauseOrContinue();
      paused = w.environment().runLoop.paused();
      QTimer::singleShot(50, &w, [&] {
        pauseSeen = true;
        w.pauseOrContinue();
        QTimer::singleShot(50, &w, [&] { w.kill(); });
      });
    });
    QCOMPARE(settle(w, w.run()), RunResult::Stopped);
    QCOMPARE(compiledDuringRun, -1);
    QVERIFY(w.questions.isEmpty());
    QVERIFY(paused);
    QVERIFY(pauseSeen);
    QCOMPARE(items(w.consoleView()).first(), QStringLiteral("start"));
  }

  // GETS: the input line appears for the asking task while another task runs
  // to its end; Enter delivers the line; the stop button ends a wait.
  void theInputLineServesTheAskingTaskAndStopEndsTheWait() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.openProgramLines({u"??\"name? \";", u"?? GETS &N;", u"??\"<\" + &N + \">\"; ??CRLF;"});
    QCOMPARE(w.compileActive(), 0);
    w.openProgramLines({u"FOR I = 1 TO 30 DO END", u"??\"other done\"; ??CRLF;"});
    QCOMPARE(w.compileActive(), 1);
    gui::ConsoleInputLine *input = w.consoleInputLine();
    QVERIFY(input->isHidden());
    QString prompt;
    bool otherEnded = false;
    QElapsedTimer clock;
    clock.start();
    w.onPump = [&] {
      if (clock.elapsed() > 20000) w.kill();  // never hang the suite
      if (!prompt.isEmpty() || input->isHidden()) return;
      const engine::TTaskInfo &other = w.environment().engine().task(1);
      if (other.state != engine::tsEND) return;  // the other task runs on meanwhile
      otherEnded = w.environment().engine().task(0).state == engine::tsACTIVE;
      prompt = input->prompt()->text();
      QTest::keyClicks(input->edit(), QStringLiteral("Taro"));
      QTest::keyClick(input->edit(), Qt::Key_Return);
    };
    QCOMPARE(settle(w, w.run()), RunResult::Ended);
    QCOMPARE(prompt, QStringLiteral("タスク 01 の入力:"));
    QVERIFY(otherEnded);
    QVERIFY(input->isHidden());
    const QString console = items(w.consoleView()).join(u'|');
    QVERIFY2(console.contains(QStringLiteral("name? ")) && console.contains(QStringLiteral("<Taro>")),
             qPrintable(console));

    // The stop button ends a wait for input; the next run asks afresh.
    bool asked = false;
    w.onPump = [&] {
      if (!asked && input->askingSlot() == 0) {
        asked = true;
        w.kill();
      }
    };
    QCOMPARE(settle(w, w.run()), RunResult::Stopped);
    QVERIFY(asked);
    QVERIFY(input->isHidden());
    QCOMPARE(input->askingSlot(), -1);
    QCOMPARE(w.environment().inputSlot(), -1);
  }

  void pagesWrittenByAProgramAppearAsEditorTabs() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.openProgramLines({u"P = [#].NEW;", u"&S = \"generated line\";", u"[#P] += &S;", u"[#P].NAME(\"made\");"});
    QCOMPARE(w.compileActive(), 0);
    QCOMPARE(settle(w, w.run()), RunResult::Ended);
    QCOMPARE(w.editorTabs()->count(), 2);
    QCOMPARE(w.editorTabs()->tabText(1), QStringLiteral("made"));
    QCOMPARE(w.editor(1)->toPlainText(), QStringLiteral("generated line"));
  }

  // A page a program saved is unchanged and one it loaded a file into is
  // changed, in the editor as in the tab: an edit after such a save is a
  // change again, so closing the tab still asks before the edit is lost.
  void theChangedMarkIsWhatAProgramLeftOnThePage() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.show();
    const environment::TabPool &pool = w.environment().tabs;
    QCOMPARE(w.newProgram(), 0);
    QTest::keyClicks(w.editor(0), QStringLiteral("??1;"));
    QCOMPARE(w.editorTabs()->tabText(0), QStringLiteral("#1 *"));
    QCOMPARE(w.openProgramLines({u"[#1].SAVE(\"page1.mcl\");"}), 1);
    QCOMPARE(settle(w, w.runActiveTab()), RunResult::Ended);
    const QString saved = QString::fromStdString((w.environment().workspace.programDirectory() / "page1.mcl").string());
    QFile file(saved);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(file.readAll()).trimmed(), QStringLiteral("??1;"));
    QVERIFY(!pool.tab(0).modified);
    QCOMPARE(w.editorTabs()->tabText(0), QStringLiteral("#1"));
    QVERIFY(!w.editor(0)->document()->isModified());

    // Edits after the program's save mark the tab again; undoing them is
    // back at the saved text.
    w.editorTabs()->setCurrentWidget(w.editor(0));
    QTest::keyClicks(w.editor(0), QStringLiteral("x"));
    QVERIFY(pool.tab(0).modified);
    QCOMPARE(w.editorTabs()->tabText(0), QStringLiteral("#1 *"));
    w.editor(0)->undo();
    QVERIFY(!pool.tab(0).modified);
    QCOMPARE(w.editorTabs()->tabText(0), QStringLiteral("#1"));
    QTest::keyClicks(w.editor(0), QStringLiteral("y"));
    QVERIFY(pool.tab(0).modified);
    w.answer = Answer::Cancel;
    QVERIFY(!w.closeActiveTab());
    QCOMPARE(w.questions, QStringList{QStringLiteral("編集内容をファイル保存するか？\r\r  #1")});
    QCOMPARE(w.editorTabs()->count(), 2);

    // A file loaded into an unchanged page leaves it changed.
    QCOMPARE(w.newProgram(), 2);
    QCOMPARE(w.editorTabs()->tabText(2), QStringLiteral("#3"));
    w.editorTabs()->setCurrentWidget(w.editor(1));
    w.editor(1)->setPlainText(QStringLiteral("[#3].LOAD(\"page1.mcl\");"));
    QCOMPARE(settle(w, w.runActiveTab()), RunResult::Ended);
    QCOMPARE(w.editor(2)->toPlainText(), QStringLiteral("??1;"));
    QVERIFY(pool.tab(2).modified);
    QCOMPARE(w.editorTabs()->tabText(2), QStringLiteral("#3 *"));
    QVERIFY(w.editor(2)->document()->isModified());
  }

  // Text typed into a page while the program runs is not in the file the
  // program then saves from the page: the tab stays changed.
  void anEditTypedDuringARunIsNotSavedByTheProgram() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.show();
    QCOMPARE(w.newProgram(), 0);
    QTest::keyClicks(w.editor(0), QStringLiteral("??1;"));
    QCOMPARE(w.openProgramLines({u"[#1].SAVE(\"page1.mcl\");"}), 1);
    bool typed = false;
    w.onPump = [&] {
      if (typed) return;
      typed = true;
      w.editor(0)->moveCursor(QTextCursor::End);
      w.editor(0)->insertPlainText(QStringLiteral("??2;"));
    };
    QCOMPARE(settle(w, w.runActiveTab()), RunResult::Ended);
    w.onPump = nullptr;
    QVERIFY(typed);
    QFile file(QString::fromStdString((w.environment().workspace.programDirectory() / "page1.mcl").string()));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(file.readAll()).trimmed(), QStringLiteral("??1;"));
    QCOMPARE(w.editor(0)->toPlainText(), QStringLiteral("??1;??2;"));
    QVERIFY(w.environment().tabs.tab(0).modified);
    QCOMPARE(w.editorTabs()->tabText(0), QStringLiteral("#1 *"));
    w.editorTabs()->setCurrentWidget(w.editor(0));
    w.answer = Answer::Cancel;
    QVERIFY(!w.closeActiveTab());
    QCOMPARE(w.questions.size(), 1);
  }

  void canvasesAppearAsWindowsThatFollowTheProgram() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.openProgramLines({u"<?? 2 >;", u"<? 2 >;", u"< \"FILL\" 0, 0, 255 >;", u"< \"BOX\" 50, 50 >;"});
    QCOMPARE(w.compileActive(), 0);
    QCOMPARE(settle(w, w.run()), RunResult::Ended);
    QVERIFY(w.canvases().visible(2));
    QCOMPARE(QColor(w.canvases().image(2).pixel(10, 10)), QColor(Qt::red));
    QWidget *window = nullptr;
    for (QWidget *child : w.findChildren<QWidget *>())
      if (child->windowTitle() == QStringLiteral("キャンバス 2")) window = child;
    QVERIFY(window);
    QVERIFY(window->isVisible());
  }

  void theDebuggerHoldsStepsAndContinuesATask() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.openProgramLines({u"A = 1;", u"A = A + 1;", u"??A;", u"A = A * 10;", u"??A;"});
    QCOMPARE(w.compileActive(), 0);
    gui::DebuggerPanel *d = w.debugger();
    QCOMPARE(d->slot(), 0);
    QCOMPARE(d->sourceView()->count(), 5);
    QVERIFY(d->listingView()->count() > 5);
    // Clicking a listing row selects the source line it came from.
    for (int row = 0; row < d->listingView()->count(); ++row)
      if (d->listingView()->item(row)->text().startsWith(QStringLiteral("00003 "))) {
        d->listingView()->setCurrentRow(row);
        break;
      }
    QCOMPARE(d->selectedSourceLine(), 3);

    auto *editor = static_cast<gui::CodeEditor *>(w.editor(0));
    QCOMPARE(gutter_marks(editor), 0);
    d->selectSourceLine(1);
    QVERIFY(d->addBreakpoint());
    QVERIFY(editor->marked(1) && !editor->marked(0));
    QVERIFY(gutter_marks(editor) > 10);
    QVERIFY(d->sourceView()->item(1)->text().startsWith(QStringLiteral("●")));
    QVERIFY(!d->addBreakpoint());  // one per line
    QVERIFY(items(d->listingView()).filter(QStringLiteral("[Break Point]")).size() == 1);

    w.script = {QStringLiteral("step"), QStringLiteral("continue")};
    QCOMPARE(settle(w, w.run()), RunResult::Ended);
    QCOMPARE(w.holds.size(), 2);
    QVERIFY(w.debuggerDock()->isVisibleTo(&w));
    QCOMPARE(w.holds[0].slot, 0);
    QCOMPARE(w.holds[0].line.toInt(), 1);
    QVERIFY(w.holds[0].selected.contains(QStringLiteral("A = A + 1;")));
    QVERIFY(w.holds[0].variables.contains(QStringLiteral("0:A/Num/1.000")));
    QCOMPARE(w.holds[0].taskState, QStringLiteral("停止"));
    QCOMPARE(d->taskGrid()->verticalHeaderItem(0)->text(), QStringLiteral("01"));
    QCOMPARE(w.holds[1].line.toInt(), 2);  // one line further, after the addition
    QVERIFY(w.holds[1].variables.contains(QStringLiteral("0:A/Num/2.000")));
    QCOMPARE(items(w.consoleView()), (QStringList{QStringLiteral("220")}));

    // Clearing removes the break records; the next run is not held.
    d->clearBreakpoints();
    QVERIFY(items(d->listingView()).filter(QStringLiteral("[Break Point]")).isEmpty());
    QVERIFY(!d->sourceView()->item(1)->text().startsWith(QStringLiteral("●")));
    QCOMPARE(gutter_marks(editor), 0);
    w.holds.clear();
    QCOMPARE(settle(w, w.run()), RunResult::Ended);
    QVERIFY(w.holds.isEmpty());

    // "★" steps the task line by line outside a run; the console follows.
    w.holds.clear();
    QVERIFY(d->stepTask());
    QVERIFY(d->stepTask());
    QCOMPARE(w.holds.size(), 2);
    QCOMPARE(w.holds[1].line.toInt(), 1);
    QVERIFY(w.holds[1].variables.contains(QStringLiteral("0:A/Num/1.000")));
    QVERIFY(d->stepTask());
    QVERIFY(d->stepTask());
    QCOMPARE(items(w.consoleView()), (QStringList{QStringLiteral("2")}));

    // The listing saves as a text file with CR LF line ends.
    QString file = home.filePath(QStringLiteral("slot0.MCP"));
    w.saveAs = std::filesystem::path(file.toStdString());
    QVERIFY(d->saveListing());
    QFile saved(file);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QStringList savedLines = QString::fromUtf8(saved.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(savedLines, items(d->listingView()));
  }

  void settingsAreEditedKeptInTheFileAndApplied() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    gui::SettingsDialog dialog(w.environment().settings(), &w);
    QVERIFY(dialog.showPage(QStringLiteral("タスク管理")));
    QVERIFY(!dialog.showPage(QStringLiteral("表示")));
    auto *bp = dialog.findChild<QCheckBox *>(QStringLiteral("BP_EnableCheckBox"));
    QVERIFY(bp && bp->isChecked());
    QCOMPARE(bp->text(), QStringLiteral("実行時ブレークポイントを有効にする"));
    bp->setChecked(false);
    dialog.findChild<QLineEdit *>(QStringLiteral("TabSpaceEdit"))->setText(QStringLiteral("3"));
    dialog.findChild<QCheckBox *>(QStringLiteral("TaskActAsOneCheckBox"))->setChecked(true);
    environment::Settings edited = dialog.edited();
    QVERIFY(!edited.breakpointsEnabled);
    QVERIFY(edited.endAllWhenOneEnds);
    QVERIFY(w.environment().settings().breakpointsEnabled);  // untouched until applied

    w.applySettings(edited);
    QVERIFY(!w.environment().settings().breakpointsEnabled);
    QFile file(home.filePath(QStringLiteral("User_Setting.Txt")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QString text = QString::fromUtf8(file.readAll());
    QVERIFY(text.contains(QStringLiteral("NAME=BP_EnableCheckBox\r\n0\r\n")));
    QVERIFY(text.contains(QStringLiteral("NAME=TaskActAsOneCheckBox\r\n1\r\n")));

    // The Tab key types blanks up to the next tab column, or a tab when off.
    w.newProgram();
    QPlainTextEdit *e = w.editor(0);
    QTest::keyClicks(e, QStringLiteral("ab"));
    QTest::keyClick(e, Qt::Key_Tab);
    QTest::keyClick(e, Qt::Key_Tab);
    QCOMPARE(e->toPlainText(), QStringLiteral("ab    "));
    edited.tabKeyInsertsSpaces = false;
    w.applySettings(edited);
    QTest::keyClick(e, Qt::Key_Tab);
    QCOMPARE(e->toPlainText(), QStringLiteral("ab    \t"));
  }

  void theExtractionPanelGeneratesAProgramAndItsOutputPage() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.openProgramLines({u"<tr><td>1</td><td>2</td></tr>", u"<tr><td>3</td></tr>"});
    gui::ExtractionDialog *d = w.extractionDialog();
    QVERIFY(!d->spec());  // no source path: the field is marked
    QVERIFY(!d->pathEdit()->styleSheet().isEmpty());
    d->pathEdit()->setText(QStringLiteral("#1"));
    QVERIFY(d->pathEdit()->styleSheet().isEmpty());

    d->addRow();
    QCOMPARE(d->grid()->rowCount(), 2);
    QCOMPARE(d->grid()->item(1, 0)->text(), QStringLiteral("2"));
    d->removeRow();
    d->removeRow();  // the last condition row stays, cleared
    QCOMPARE(d->grid()->rowCount(), 1);
    emit d->grid()->cellDoubleClicked(0, 1);
    QCOMPARE(d->grid()->item(0, 1)->text(), QStringLiteral("1"));
    d->grid()->setItem(0, 2, new QTableWidgetItem(QStringLiteral("<td>")));
    d->grid()->setItem(0, 3, new QTableWidgetItem(QStringLiteral("</td>")));

    auto spec = d->spec();
    QVERIFY(spec);
    QCOMPARE(spec->rows.size(), std::size_t(1));
    QVERIFY(spec->rows[0].markers[0] == u"<td>");
    QCOMPARE(settle(w, w.runExtraction(*spec)), RunResult::Ended);
    // The source, the generated program and the output page are tabs now;
    // the page holds every line zone the markers cut out.
    QCOMPARE(w.editorTabs()->count(), 3);
    QVERIFY(w.editor(1)->toPlainText().contains(QStringLiteral("&_R1C2")));
    QCOMPARE(w.editor(2)->toPlainText(), QStringLiteral("<tr><td>1</td><td>2</td></tr>\n<tr><td>3</td></tr>"));
  }

  void theLanguageDialogRenamesWordsAndReplacesLists() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    std::filesystem::path dir = home.path().toStdString();
    {
      gui::LanguageDialog d(w.environment());
      QListWidget *commands = d.list(gui::LanguageDialog::Commands);
      int row = items(commands).indexOf(QStringLiteral("WAIT"));
      QVERIFY(row >= 0);
      QVERIFY(!d.renameRow(gui::LanguageDialog::Commands, row, u"WAIT"));  // unchanged
      QVERIFY(d.renameRow(gui::LanguageDialog::Commands, row, u"PAUSE"));
      QVERIFY(items(commands).contains(QStringLiteral("PAUSE")));
      QVERIFY(!items(commands).contains(QStringLiteral("WAIT")));
      QVERIFY(!std::filesystem::exists(dir / "T-Command.txt"));  // saved on closing
      w.answer = Answer::No;                                     // saved programs stay
      d.reject();
    }
    QCOMPARE(w.questions.last(), QStringLiteral("登録済みプログラムも変更"));
    QVERIFY(std::filesystem::exists(dir / "T-Command.txt"));
    QVERIFY(std::filesystem::exists(dir / "T-Syntax.txt"));

    gui::LanguageDialog d(w.environment());
    QVERIFY(d.replaceList(gui::LanguageDialog::MathFunctions, {u"SQRT", u"SIN", u"ABS", u"", u"EXP"}));
    QCOMPARE(
        items(d.list(gui::LanguageDialog::MathFunctions)),
        (QStringList{QStringLiteral("ABS"), QStringLiteral("EXP"), QStringLiteral("SIN"), QStringLiteral("SQRT")}));
    QCOMPARE(w.messages.last(), QStringLiteral("変更反映には再起動が必要です。"));
    QFile math(home.filePath(QStringLiteral("T-Math.txt")));
    QVERIFY(math.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(math.readAll()), QStringLiteral("ABS\r\nEXP\r\nSIN\r\nSQRT\r\n"));

    // Saving to a chosen file: a system table name asks first, No keeps it.
    w.saveAs = dir / "mine.txt";
    QVERIFY(d.saveToChosenFile(gui::LanguageDialog::Keywords, {u"ZZ", u"A"}));
    QCOMPARE(text::read_text_file(dir / "mine.txt")->lines, (Lines{u"ZZ", u"A"}));  // as they stand
    w.saveAs = dir / "t-keyword.TXT";
    w.answer = Answer::No;
    QVERIFY(!d.saveToChosenFile(gui::LanguageDialog::Keywords, {u"ZZ"}));
    QCOMPARE(w.questions.last(), QStringLiteral("t-keyword.TXT :システムファイルを差し替えますか？"));
    QVERIFY(!std::filesystem::exists(dir / "t-keyword.TXT"));
  }

  void aFailedCompileOpensTheErrorLocation() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.openProgramLines({u"A = 1;", u"B = ;"});
    QCOMPARE(w.compileActive(), -1);
    QCOMPARE(w.errorLocations, 1);
    gui::ErrorLocationDialog d({u"0 ∇ A", u"0 =", u"1 ∇ B"}, 2, QFont(), &w);
    QCOMPARE(d.tokenView()->count(), 3);
    QCOMPARE(d.tokenView()->currentRow(), 2);
    QCOMPARE(d.windowTitle(), QStringLiteral("エラー認定位置"));
  }

  void panelsTheSettingsDoNotKeepAreHiddenDuringARun() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.show();
    environment::Settings s = w.environment().settings();
    s.keepEditorOnRun = false;
    w.applySettings(s);
    w.openProgramLines({u"WAIT 1;", u"??1;"});
    QCOMPARE(w.compileActive(), 0);
    bool editorShown = true, consoleShown = false;
    w.onPump = [&] {
      editorShown = w.editorTabs()->isVisible();
      consoleShown = w.consoleView()->isVisible();
    };
    QCOMPARE(settle(w, w.run()), RunResult::Ended);
    QVERIFY(!editorShown);
    QVERIFY(consoleShown);
    QVERIFY(w.editorTabs()->isVisible());  // back after the run
  }

  void stepCompileShowsEachTokenAndTheGrowingTcode() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.openProgramLines({u"A = 1;", u"B = 2;"});
    QVERIFY(!w.stepCompile());  // paused before the first token; "次" goes on from the event loop
    QTRY_VERIFY(!w.environment().compileDriver.stepCompiling());
    QCOMPARE(w.environment().compileDriver.stepResult(), 0);
    QVERIFY(w.compileSteps.size() >= 8);
    QCOMPARE(w.compileSteps.first(), qMakePair(0, 0));  // the first token marked, no T-code yet
    QVERIFY(w.compileSteps.last().first > 0);
    QVERIFY(w.compileSteps.last().second > 0);
    QVERIFY(!items(w.debugger()->stepStackView()).filter(QStringLiteral("[状態]")).isEmpty());
    QCOMPARE(w.environment().engine().registered(), 0);

    w.compileSteps.clear();
    w.endStepsAfter = 1;
    QVERIFY(!w.stepCompile());
    QTRY_VERIFY(!w.environment().compileDriver.stepCompiling());
    QCOMPARE(w.environment().compileDriver.stepResult(), 0);
    QCOMPARE(w.compileSteps.size(), 1);
  }

  void theProgramListPreviewsAndOpensFiles() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    std::filesystem::path dir = home.path().toStdString();
    QVERIFY(text::write_lines_file(dir / "PROG" / "one.mcl", {u"??\"one\";", u"??CRLF;"}));
    QVERIFY(text::write_lines_file(dir / "PROG" / "two.mcl", {u"??2;"}));
    w.environment().workspace.setFileList({dir / "PROG" / "one.mcl", dir / "PROG" / "two.mcl"});
    w.refreshFileList();
    QCOMPARE(items(w.fileListView()), (QStringList{QStringLiteral("one.mcl"), QStringLiteral("two.mcl")}));
    w.fileListView()->setCurrentRow(0);
    QCOMPARE(items(w.previewView()), (QStringList{QStringLiteral("??\"one\";"), QStringLiteral("??CRLF;")}));
    emit w.fileListView()->itemDoubleClicked(w.fileListView()->item(1));
    QCOMPARE(w.editorTabs()->count(), 1);
    QCOMPARE(w.editor(0)->toPlainText(), QStringLiteral("??2;"));
    QCOMPARE(w.compileActive(), 0);
    QCOMPARE(settle(w, w.run()), RunResult::Ended);
    QCOMPARE(items(w.consoleView()), (QStringList{QStringLiteral("2")}));

    // An opened, unchanged program closes without asking to save it.
    QCOMPARE(w.editorTabs()->tabText(0), QStringLiteral("two.mcl"));
    QVERIFY(w.closeActiveTab());
    QVERIFY(w.questions.isEmpty());
    QCOMPARE(w.editorTabs()->count(), 0);
  }

  void programsAreColouredByTheLoadedWords() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.openProgramLines({u"if &S == \"x if\" then A = SIN(12); // if", u"IFX = 1;"});
    QPlainTextEdit *e = w.editor(0);
    const QColor keyword = colour_at(e, 0, 0);
    QVERIFY(keyword.isValid());
    QCOMPARE(colour_at(e, 0, 16), keyword);       // "then", any case
    const QColor variable = colour_at(e, 0, 3);   // "&S"
    const QColor string = colour_at(e, 0, 12);    // the "if" inside the string
    const QColor function = colour_at(e, 0, 25);  // "SIN"
    const QColor number = colour_at(e, 0, 29);    // "12"
    const QColor comment = colour_at(e, 0, 37);   // the "if" inside the comment
    QList<QColor> all{keyword, variable, string, function, number, comment};
    for (const QColor &c : all) QVERIFY(c.isValid());
    QCOMPARE(
        QSet<QRgb>({keyword.rgb(), variable.rgb(), string.rgb(), function.rgb(), number.rgb(), comment.rgb()}).size(),
        6);
    QVERIFY(!colour_at(e, 1, 0).isValid());  // IFX is a user word
  }

  void findWrapsAroundAndGoToLineMovesTheCursor() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.openProgramLines({u"A = 1;", u"B = A;", u"??A;"});
    QPlainTextEdit *e = w.editor(0);
    QVERIFY(w.findText(QStringLiteral("A")));
    QCOMPARE(e->textCursor().blockNumber(), 0);
    QVERIFY(w.findText(QStringLiteral("A")));
    QCOMPARE(e->textCursor().blockNumber(), 1);
    QCOMPARE(e->textCursor().positionInBlock(), 5);  // the match "A" of "B = A;" is selected
    QCOMPARE(e->textCursor().selectedText(), QStringLiteral("A"));
    QVERIFY(w.findText(QStringLiteral("A")));
    QVERIFY(w.findText(QStringLiteral("A")));  // wraps to the top
    QCOMPARE(e->textCursor().blockNumber(), 0);
    QVERIFY(!w.findText(QStringLiteral("ZZ")));
    QCOMPARE(e->textCursor().blockNumber(), 0);  // a failed search keeps the place
    QVERIFY(w.goToLine(2));
    QCOMPARE(e->textCursor().blockNumber(), 2);
    QVERIFY(!w.goToLine(3));
  }

  void theLanguageReferenceOpensFromTheHelpMenu() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    auto *reference = qobject_cast<QTextBrowser *>(w.showLanguageReference());
    QVERIFY(reference);
    QVERIFY(reference->isVisible());
    QVERIFY(reference->toPlainText().contains(QStringLiteral("Velmora 言語 手引き")));  // Japanese first
    QVERIFY(reference->toPlainText().contains(QStringLiteral("b, g, r")));
    reference->setSource(QUrl(QStringLiteral("language.md")));  // the link to the English version
    QVERIFY(reference->toPlainText().contains(QStringLiteral("The Velmora language")));
    reference->setSource(QUrl(QStringLiteral("language.ja.md")));
    QVERIFY(reference->toPlainText().contains(QStringLiteral("キーボード入力")));
    QCOMPARE(w.showLanguageReference(), reference);  // one window, shown again
  }

  void cancelWhileQuittingKeepsEveryTabAndSlot() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.show();
    w.openProgramLines({u"??1;"});
    QCOMPARE(w.compileActive(), 0);
    w.openProgramLines({u"??2;"});
    QTest::keyClicks(w.editor(1), QStringLiteral("x"));  // the second is modified
    w.answer = Answer::Cancel;
    QVERIFY(!w.close());
    QCOMPARE(w.questions.size(), 1);
    QCOMPARE(w.editorTabs()->count(), 2);
    QCOMPARE(w.environment().engine().task(0).state, engine::tsACTIVE);
    w.answer = Answer::No;
    QVERIFY(w.close());
  }

  void recoveryCopiesOfModifiedTabsComeBackAfterACrash() {
    QTemporaryDir home;
    {
      TestWindow w(home.path().toStdString());
      w.show();
      w.openProgramLines({u"A = 1;"});
      QTest::keyClicks(w.editor(0), QStringLiteral("// kept"));
      w.openProgramLines({u"??\"saved\";"});  // not modified: no copy
      QCOMPARE(w.compileActive(), 0);
      settle(w, w.run());  // a run writes the copies first
      // The window goes away without closing, as in a crash.
    }
    TestWindow w(home.path().toStdString());
    w.answer = Answer::Yes;
    QTest::qWait(50);  // the offer comes once the event loop runs
    QCOMPARE(w.questions.size(), 1);
    QCOMPARE(w.editorTabs()->count(), 1);
    QCOMPARE(w.editor(0)->toPlainText(), QStringLiteral("// keptA = 1;"));
    QVERIFY(w.editorTabs()->tabText(0).endsWith(QStringLiteral(" *")));
    // Closing without saving lets the copy go for good.
    w.answer = Answer::No;
    QVERIFY(w.closeActiveTab());
    QVERIFY(QDir(home.path() + QStringLiteral("/Recovery")).isEmpty());
    TestWindow again(home.path().toStdString());
    QTest::qWait(50);
    QCOMPARE(again.questions.size(), 0);
  }

  void permissionsAreSetOnTheirPageAndAskedInTheWindow() {
    QTemporaryDir home, outside;
    TestWindow w(home.path().toStdString());
    w.show();
    gui::SettingsDialog dialog(w.environment().settings());
    QVERIFY(dialog.showPage(QStringLiteral("実行許可の設定")));
    auto *files = dialog.findChild<QComboBox *>(QStringLiteral("Permission2"));
    QVERIFY(files);
    QCOMPARE(files->currentText(), QStringLiteral("許可"));
    files->setCurrentIndex(1);  // 確認
    w.environment().setSettings(dialog.edited());
    QCOMPARE(w.environment().settings().Permissions[2], 1);
    const QString target = outside.path() + QStringLiteral("/x.txt");
    const u16 t = gui::u(target);
    w.openProgramLines({u"&L[] += \"x\";", u"<*> \"" + t + u"\" = &L[];"});
    QCOMPARE(w.compileActive(), 0);
    w.answer = Answer::No;
    QCOMPARE(settle(w, w.run()), RunResult::Error);
    QCOMPARE(w.questions.size(), 1);
    QVERIFY(w.questions[0].contains(target));
    QVERIFY(w.questions[0].contains(QStringLiteral("データディレクトリ外のファイル")));
    QVERIFY(!QFile::exists(target));
    w.answer = Answer::Yes;
    QCOMPARE(settle(w, w.run()), RunResult::Ended);
    QVERIFY(QFile::exists(target));
  }

  void closingWhileRunningIsRefused() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.show();
    w.openProgramLines({u"WHILE 1 DO END"});
    QCOMPARE(w.compileActive(), 0);
    w.answer = Answer::No;  // not stopped: the close is refused
    bool refused = false;
    QTimer::singleShot(30, &w, [&] {
      refused = !w.close();
      w.kill();
    });
    settle(w, w.run());
    QVERIFY(refused);
    QVERIFY(w.questions.contains(QStringLiteral("実行中です。停止して終了しますか？")));
    QVERIFY(w.messages.contains(QStringLiteral("タスク実行を終了すること")));
    QVERIFY(w.close());
  }
};

QTEST_MAIN(MainWindowTest)
#include "test_main_window.moc"
