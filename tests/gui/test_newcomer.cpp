// The IDE as a newcomer meets it, offscreen: the keyboard goes where the
// user looks, the edit commands act on the focused widget, the console can
// be copied, errors are marked at their line, one tab runs alone, canvas
// windows stay ordinary, Qt's buttons speak Japanese.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>

#include "gui/canvas_window.h"
#include "gui/code_editor.h"
#include "gui/console_view.h"
#include "gui/debugger_panel.h"
#include "gui/main_window.h"
#include "tests/gui/settle.h"
#include "tests/gui/quiet_window.h"
#include "gui/qt_translations.h"

using velmora::testing::settle;
using namespace velmora;
using velmora::environment::Answer;
using velmora::environment::RunResult;

namespace {

class TestWindow : public velmora::testing::QuietWindow {
 public:
  using QuietWindow::QuietWindow;
  QStringList consoleAtError;
  void showRunError(const std::vector<std::pair<u16, u16>> &) override {
    for (int i = 0; i < consoleView()->count(); ++i) consoleAtError << consoleView()->rowText(i);
  }
};

QStringList items(gui::ConsoleView *console) {
  QStringList out;
  for (int i = 0; i < console->count(); ++i) out << console->rowText(i);
  return out;
}

int red_gutter_pixels(gui::CodeEditor *e) {
  QImage image = e->grab().toImage();
  int red = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < e->gutterWidth() && x < image.width(); ++x) {
      QColor c = image.pixelColor(x, y);
      if (c.red() > 180 && c.green() < 80 && c.blue() < 80) ++red;
    }
  return red;
}

Lines numbered_program(int lines, int errorAt) {
  Lines program;
  for (int i = 0; i < lines; ++i) program.push_back(i == errorAt ? u16(u"B = 1 +;") : u"A = " + text::int16(i) + u";");
  return program;
}

}  // namespace

class NewcomerTest : public QObject {
  Q_OBJECT
 private slots:
  void newOpenedAndSwitchedTabsTakeTheKeyboard() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.show();
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.newProgram();
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("A=1;"));
    QCOMPARE(w.editor(0)->toPlainText(), QStringLiteral("A=1;"));
    w.openProgramLines({u"B = 2;"});
    QCOMPARE(QApplication::focusWidget(), w.editor(1));
    w.editorTabs()->setCurrentIndex(0);
    QCOMPARE(QApplication::focusWidget(), w.editor(0));
    // The title names the program in front and its changed mark.
    QCOMPARE(w.windowTitle(), QStringLiteral("#1[*] - Velmora"));
    QVERIFY(w.isWindowModified());
    w.editorTabs()->setCurrentIndex(1);
    QCOMPARE(w.windowTitle(), QStringLiteral("__$$$__[*] - Velmora"));
    QVERIFY(!w.isWindowModified());
  }

  void editCommandsActOnTheFocusedWidgetAndTheConsoleCopies() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.show();
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.openProgramLines({u"??\"one\";", u"??CRLF;", u"??\"two\";"});
    QCOMPARE(w.compileActive(), 0);
    QCOMPARE(settle(w, w.run()), RunResult::Ended);
    QCOMPARE(items(w.consoleView()), (QStringList{QStringLiteral("one"), QStringLiteral("two")}));
    const QString program = w.editor(0)->toPlainText();

    // Keys: Ctrl+A, Ctrl+X, Ctrl+V in the console leave the program alone.
    w.consoleView()->setFocus();
    QCOMPARE(QApplication::focusWidget(), w.consoleView());
    QTest::keyClick(w.consoleView(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(w.consoleView(), Qt::Key_X, Qt::ControlModifier);
    QTest::keyClick(w.consoleView(), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(w.editor(0)->toPlainText(), program);
    QCOMPARE(w.consoleView()->selectedCount(), 2);
    QApplication::clipboard()->clear();
    QTest::keyClick(w.consoleView(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("one\ntwo"));

    // The menu's commands, too, go to the focused widget.
    w.consoleView()->setCurrentRow(1);
    QApplication::clipboard()->clear();
    w.action(QStringLiteral("コピー(&C)"))->trigger();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("two"));
    w.action(QStringLiteral("すべて選択(&A)"))->trigger();
    w.action(QStringLiteral("切り取り(&T)"))->trigger();
    QCOMPARE(w.editor(0)->toPlainText(), program);
    w.editor(0)->setFocus();
    w.action(QStringLiteral("すべて選択(&A)"))->trigger();
    w.action(QStringLiteral("切り取り(&T)"))->trigger();
    QCOMPARE(w.editor(0)->toPlainText(), QString());
    QCOMPARE(QApplication::clipboard()->text(), program);

    // The console's own menu: copy, select all, clear.
    auto *console = static_cast<gui::ConsoleView *>(w.consoleView());
    QMenu *menu = console->makeContextMenu();
    QStringList captions;
    for (QAction *a : menu->actions())
      if (!a->isSeparator()) captions << a->text();
    QCOMPARE(captions, (QStringList{QStringLiteral("コピー"), QStringLiteral("すべて選択"), QStringLiteral("クリア")}));
    menu->actions().last()->trigger();
    QCOMPARE(console->count(), 0);
    w.consoleUpdated(w.environment().engine().console().lines());
    QVERIFY(items(console).join(QString()).isEmpty());  // the buffer was emptied too
  }

  void aFailedCompileMarksItsLineInTheMiddleOfTheEditor() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.resize(1000, 600);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.openProgramLines(numbered_program(120, 60));
    auto *e = static_cast<gui::CodeEditor *>(w.editor(0));
    QCOMPARE(red_gutter_pixels(e), 0);
    QCOMPARE(w.compileActive(), -1);
    QVERIFY(!w.messages.isEmpty());  // the message box stays
    QCOMPARE(e->errorLine(), 60);
    QCOMPARE(e->textCursor().blockNumber(), 60);
    QCOMPARE(e->textCursor().positionInBlock(), 6);  // on the "+" the explanation names
    QCOMPARE(e->extraSelections().size(), 2);  // the line, and the "+" underlined
    QVERIFY(red_gutter_pixels(e) > 20);
    // The status bar and the marked line explain the error in plain words,
    // at the token's line and character.
    QCOMPARE(
        w.statusBar()->currentMessage(),
        QStringLiteral(
            "行 61（7 文字目）: 「+」のあとに計算する値がありません。数か変数を書くか、余分な「+」を消してください。"));
    QCOMPARE(e->errorNote(),
             QStringLiteral("「+」のあとに計算する値がありません。数か変数を書くか、余分な「+」を消してください。"));
    const int y = e->cursorRect().center().y(), h = e->viewport()->height();
    QVERIFY2(y > h / 4 && y < h * 3 / 4, qPrintable(QStringLiteral("%1 of %2").arg(y).arg(h)));
    // The next edit takes the mark and the message away.
    QTest::keyClick(e, Qt::Key_Space);
    QCOMPARE(e->errorLine(), -1);
    QVERIFY(e->extraSelections().isEmpty());
    QVERIFY(w.statusBar()->currentMessage().isEmpty());
    QCOMPARE(red_gutter_pixels(e), 0);
    // A good compile says where the code went.
    e->setPlainText(QStringLiteral("A = 1;"));
    QCOMPARE(w.compileActive(), 0);
    QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("コンパイル完了: スロット 01"));
  }

  void aRunTimeErrorMarksTheFailingLineAndTheConsoleIsShownFirst() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.show();
    w.openProgramLines({u"??\"start\";", u"??CRLF;", u"A = 0;", u"B = 1 / A;", u"??\"never\";"});
    QCOMPARE(w.compileActive(), 0);
    QCOMPARE(settle(w, w.run()), RunResult::Error);
    QCOMPARE(w.consoleAtError.first(), QStringLiteral("start"));
    QVERIFY(w.consoleAtError.last().startsWith(QStringLiteral("計算エラー")));
    auto *e = static_cast<gui::CodeEditor *>(w.editor(0));
    QCOMPARE(e->errorLine(), 3);
    QCOMPARE(e->textCursor().blockNumber(), 3);
    QVERIFY(w.statusBar()->currentMessage().contains(QStringLiteral("計算エラー")));
    // Nothing is held after the run: the step buttons are off.
    for (QPushButton *b : w.debugger()->findChildren<QPushButton *>())
      if (b->text() == QStringLiteral("＞-") || b->text() == QStringLiteral("＞*")) QVERIFY(!b->isEnabled());
  }

  void runningOneTabRunsItsSlotAloneAndTheRunIsShownBeforehand() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.openProgramLines({u"WAIT 1;", u"??\"first\";"});
    QCOMPARE(w.compileActive(), 0);
    w.openProgramLines({u"??\"second\";"});
    QCOMPARE(w.compileActive(), 1);
    QCOMPARE(w.runButtonHint(), QStringLiteral("全スロット実行 (F5): 2 スロット (01, 02) を実行"));
    QVERIFY(w.statusView()->item(0)->font().bold() && w.statusView()->item(1)->font().bold());
    QVERIFY(!w.statusView()->item(2)->font().bold());
    emit w.permitView()->itemDoubleClicked(w.permitView()->item(1));
    QCOMPARE(w.runButtonHint(), QStringLiteral("全スロット実行 (F5): 1 スロット (01) を実行"));
    QVERIFY(!w.statusView()->item(1)->font().bold());
    emit w.permitView()->itemDoubleClicked(w.permitView()->item(1));

    w.editorTabs()->setCurrentIndex(0);
    QString hintDuringRun;
    w.onPump = [&] {
      if (w.environment().runLoop.running()) hintDuringRun = w.runButtonHint();
    };
    QCOMPARE(settle(w, w.runActiveTab()), RunResult::Ended);
    QCOMPARE(items(w.consoleView()), (QStringList{QStringLiteral("first")}));
    QCOMPARE(hintDuringRun, QStringLiteral("全スロット実行 (F5): 1 スロット (01) を実行"));
    // A changed tab is compiled again before it runs, into its own slot.
    w.editorTabs()->setCurrentIndex(1);
    w.editor(1)->setPlainText(QStringLiteral("??\"changed\";"));
    QCOMPARE(settle(w, w.runActiveTab()), RunResult::Ended);
    QCOMPARE(items(w.consoleView()), (QStringList{QStringLiteral("changed")}));
    QCOMPARE(w.environment().slotOfTab(1), 1);
    QVERIFY(w.action(QStringLiteral("このタブを実行"))->shortcut() == QKeySequence(Qt::CTRL | Qt::Key_F5));
    // "●" still runs every permitted slot.
    QCOMPARE(settle(w, w.run()), RunResult::Ended);
    const QString all = items(w.consoleView()).join(QChar(u'|'));
    QVERIFY2(all.contains(QStringLiteral("first")) && all.contains(QStringLiteral("changed")), qPrintable(all));
  }

  void aClickInTheGutterPutsOrRemovesABreakpoint() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.resize(900, 600);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.openProgramLines({u"A = 1;", u"A = A + 1;", u"??A;"});
    auto *e = static_cast<gui::CodeEditor *>(w.editor(0));
    auto clickLine = [&](int line) {
      int y = e->cursorRect(QTextCursor(e->document()->findBlockByNumber(line))).center().y();
      QCOMPARE(e->lineAtGutterY(y), line);
      QTest::mouseClick(e->gutter(), Qt::LeftButton, {}, QPoint(5, y));
    };
    clickLine(1);
    QVERIFY(w.statusBar()->currentMessage().contains(QStringLiteral("コンパイル")));  // nothing compiled yet
    QCOMPARE(w.compileActive(), 0);
    clickLine(1);
    QVERIFY(w.environment().debugger.isBreakpoint(0, 1));
    QVERIFY(e->marked(1));
    clickLine(1);
    QVERIFY(!w.environment().debugger.isBreakpoint(0, 1));
    QCOMPARE(w.environment().debugger.breakpointCount(), 0);
    // "ブレーク−" removes the selected line's breakpoint.
    gui::DebuggerPanel *d = w.debugger();
    d->selectSourceLine(2);
    QVERIFY(d->addBreakpoint());
    QVERIFY(!d->addBreakpoint());  // a second one on a line is ignored
    QVERIFY(d->removeBreakpoint());
    QCOMPARE(w.environment().debugger.breakpointCount(), 0);
    QVERIFY(!d->removeBreakpoint());
    // The task selector counts slots as the lists do.
    auto *selector = d->findChild<QSpinBox *>(QStringLiteral("debugSlot"));
    QCOMPARE(selector->text(), QStringLiteral("01"));
    QVERIFY(!selector->toolTip().isEmpty());
    // The task grid: one text line per row, rows named as the lists name slots.
    d->refreshMonitor();
    QCOMPARE(d->taskGrid()->verticalHeaderItem(0)->text(), QStringLiteral("01"));
    QVERIFY(d->taskGrid()->rowHeight(0) < 2 * d->taskGrid()->fontMetrics().height());
  }

  void canvasWindowsAreOrdinaryToolWindowsThatSaveTheirPicture() {
    QTemporaryDir home;
    TestWindow w(home.path().toStdString());
    w.openProgramLines({u"<?? 1 >;", u"<? 1 >;", u"< \"FILL\" 0, 0, 255 >;", u"< \"BOX\" 50, 50 >;"});
    QCOMPARE(w.compileActive(), 0);
    QCOMPARE(settle(w, w.run()), RunResult::Ended);
    gui::CanvasWindow *canvas = nullptr;
    for (auto *c : w.findChildren<gui::CanvasWindow *>())
      if (c->windowTitle() == QStringLiteral("キャンバス 1")) canvas = c;
    QVERIFY(canvas);
    QVERIFY(canvas->isVisible());
    QVERIFY(!(canvas->windowFlags() & Qt::WindowStaysOnTopHint));
    QCOMPARE(canvas->windowFlags() & Qt::WindowType_Mask, Qt::Tool);
    QVERIFY(canvas->testAttribute(Qt::WA_ShowWithoutActivating));
    const QString file = QDir(home.path()).filePath(QStringLiteral("picture.png"));
    w.saveFile = std::filesystem::path(file.toStdString());
    emit canvas->saveRequested(1);
    QImage saved(file);
    QVERIFY(!saved.isNull());
    QCOMPARE(saved.size(), w.canvases().image(1).size());
    QCOMPARE(QColor(saved.pixel(5, 5)), QColor(Qt::red));
  }

  void qtsOwnButtonsSpeakJapanese() {
    QVERIFY(gui::install_qt_translations(*QCoreApplication::instance()));
    QMessageBox box(QMessageBox::Question, QStringLiteral("確認"), QStringLiteral("?"),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    QVERIFY(box.button(QMessageBox::Yes)->text().contains(QStringLiteral("はい")));
    QVERIFY(box.button(QMessageBox::No)->text().contains(QStringLiteral("いいえ")));
    QVERIFY(box.button(QMessageBox::Cancel)->text().contains(QStringLiteral("キャンセル")));
  }
};

QTEST_MAIN(NewcomerTest)
#include "test_newcomer.moc"
