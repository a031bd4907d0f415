// The window's markers of a compile's diagnostics, offscreen: every program of
// the beginner-mistake corpus gets the markers compiler::program_diagnostics
// (and so velmora-run --check) gives it, at the same line, column and length
// with the same text; a warning is underlined, barred in the gutter and
// explained in a tool tip; an edit takes the markers away; a tab run with
// Ctrl+F5 is marked when it is compiled first.
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>

#include "compiler/diagnostics.h"
#include "gui/code_editor.h"
#include "gui/main_window.h"
#include "tests/gui/quiet_window.h"
#include "text/lines.h"

using namespace velmora;

namespace {

QString qs(const u16 &text) { return QString::fromUtf16(text.data(), qsizetype(text.size())); }

gui::CodeEditor::Marker::Kind kind_of(compiler::Severity s) {
  return s == compiler::Severity::Error     ? gui::CodeEditor::Marker::Error
         : s == compiler::Severity::Warning ? gui::CodeEditor::Marker::Warning
                                            : gui::CodeEditor::Marker::Note;
}

int coloured_gutter_pixels(gui::CodeEditor *e, int line, const QColor &colour) {
  // The gutter stands at the top left of the contents; its rows of a line
  // are those lineAtGutterY gives that line for.
  const QImage image = e->grab().toImage();
  const QPoint origin = e->contentsRect().topLeft();
  int n = 0;
  for (int y = 0; y + origin.y() < image.height(); ++y) {
    if (e->lineAtGutterY(y) != line) continue;
    for (int x = 0; x < e->gutterWidth() && x + origin.x() < image.width(); ++x)
      if (image.pixelColor(x + origin.x(), y + origin.y()) == colour) ++n;
  }
  return n;
}

}  // namespace

class DiagnosticMarkersTest : public QObject {
  Q_OBJECT

 private slots:
  void everyMistakeIsMarkedAsTheDiagnosticsFunctionSays() {
    QTemporaryDir home;
    velmora::testing::QuietWindow w(home.path().toStdString());
    const QDir corpus(QStringLiteral(VELMORA_SOURCE_DIR "/tests/mistakes"));
    const QStringList files = corpus.entryList({QStringLiteral("*.mcl")}, QDir::Files, QDir::Name);
    QVERIFY(files.size() >= 50);
    for (const QString &file : files) {
      const Lines program = text::read_text_file(corpus.filePath(file).toStdString())->lines;
      const int tab = w.openProgramLines(program);
      QVERIFY(tab >= 0);
      w.compileActive();
      const auto expected = compiler::program_diagnostics(w.environment().language(), program);
      const auto &markers = static_cast<gui::CodeEditor *>(w.editor(tab))->markers();
      QCOMPARE(markers.size(), qsizetype(expected.size()));
      for (qsizetype i = 0; i < markers.size(); ++i) {
        const compiler::Diagnostic &d = expected[std::size_t(i)];
        QVERIFY2(markers[i].line == d.line && markers[i].column == d.column && markers[i].length == d.length &&
                     markers[i].kind == kind_of(d.severity) && markers[i].text == qs(d.explanation),
                 qPrintable(file + QStringLiteral(": ") + markers[i].text));
      }
      QVERIFY(w.closeAllTabs());
    }
  }

  void aWarningIsUnderlinedBarredAndExplainedUntilTheNextEdit() {
    QTemporaryDir home;
    velmora::testing::QuietWindow w(home.path().toStdString());
    w.resize(1000, 600);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const int tab = w.openProgramLines({u"A = 1;", u"P = 3,14;", u"??P;"});
    auto *e = static_cast<gui::CodeEditor *>(w.editor(tab));
    QVERIFY(w.compileActive() >= 0);  // a warning: the program is registered all the same
    QCOMPARE(e->markers().size(), 1);
    const gui::CodeEditor::Marker m = e->markers().front();
    QCOMPARE(m.kind, gui::CodeEditor::Marker::Warning);
    QCOMPARE(m.line, 1);
    QCOMPARE(m.column, 4);
    QCOMPARE(m.length, 4);  // "3,14"
    // The underline covers exactly that text.
    bool underlined = false;
    for (const QTextEdit::ExtraSelection &s : e->extraSelections())
      if (s.format.underlineStyle() == QTextCharFormat::WaveUnderline) {
        underlined = true;
        QCOMPARE(s.cursor.selectedText(), QStringLiteral("3,14"));
      }
    QVERIFY(underlined);
    QVERIFY(coloured_gutter_pixels(e, 1, QColor(230, 140, 0)) > 0);
    QCOMPARE(coloured_gutter_pixels(e, 0, QColor(230, 140, 0)), 0);
    QVERIFY(e->markerTextAt(1, 5).contains(QStringLiteral("小数点ではありません")));
    QVERIFY(e->markerTextAt(1, 0).isEmpty());
    QVERIFY(e->markerTextAt(0, 4).isEmpty());
    QCOMPARE(e->errorLine(), -1);  // no error mark for a warning
    // The next edit takes the markers away.
    QTest::keyClick(e, Qt::Key_Space);
    QVERIFY(e->markers().isEmpty());
    QVERIFY(e->extraSelections().isEmpty());
    QCOMPARE(coloured_gutter_pixels(e, 1, QColor(230, 140, 0)), 0);
  }

  void aMissingSemicolonIsMarkedAtTheCharacterBeforeItsPlace() {
    QTemporaryDir home;
    velmora::testing::QuietWindow w(home.path().toStdString());
    const int tab = w.openProgramLines({u"A = 1", u"B = 2;"});
    auto *e = static_cast<gui::CodeEditor *>(w.editor(tab));
    QCOMPARE(w.compileActive(), -1);
    QCOMPARE(e->markers().size(), 1);
    QCOMPARE(e->markers().front().kind, gui::CodeEditor::Marker::Error);
    QCOMPARE(e->markers().front().length, 0);
    QVERIFY(e->markerTextAt(0, 4).contains(QStringLiteral("「;」がありません")));  // the "1"
    QCOMPARE(e->errorLine(), 0);
  }

  void aLabelLeftOverIsMarkedWhereTheStatementLacksItsSemicolon() {
    // The compiler's "ラベル残存" (once only in the status bar) is a warning
    // with a marker at the place of the missing ";".
    QTemporaryDir home;
    velmora::testing::QuietWindow w(home.path().toStdString());
    const int tab = w.openProgramLines({u"A = 1;", u"??\"hello\""});
    auto *e = static_cast<gui::CodeEditor *>(w.editor(tab));
    QVERIFY(w.compileActive() >= 0);
    QCOMPARE(e->markers().size(), 1);
    const gui::CodeEditor::Marker m = e->markers().front();
    QCOMPARE(m.kind, gui::CodeEditor::Marker::Warning);
    QCOMPARE(m.line, 1);
    QCOMPARE(m.column, 9);
    QCOMPARE(m.length, 0);
    QVERIFY(e->markerTextAt(1, 8).contains(QStringLiteral("実行されません")));  // the closing quote
    const auto &d = w.environment().compileDriver.diagnostics();
    QCOMPARE(d.size(), std::size_t(1));
    QVERIFY(qs(d.front().message).startsWith(QStringLiteral("事象：ラベル残存")));
  }

  void aTabRunAloneIsMarkedWhenItIsCompiledFirst() {
    QTemporaryDir home;
    velmora::testing::QuietWindow w(home.path().toStdString());
    const int tab = w.openProgramLines({u"CALL FOO;", u"??1;"});
    auto *e = static_cast<gui::CodeEditor *>(w.editor(tab));
    w.runActiveTab();
    QTRY_VERIFY(!w.environment().runLoop.running());
    QCOMPARE(e->markers().size(), 1);
    QCOMPARE(e->markers().front().line, 0);
    QCOMPARE(e->markers().front().column, 5);
    // Run again without an edit: nothing is compiled, the markers stay.
    w.runActiveTab();
    QTRY_VERIFY(!w.environment().runLoop.running());
    QCOMPARE(e->markers().size(), 1);
  }
};

QTEST_MAIN(DiagnosticMarkersTest)
#include "test_diagnostic_markers.moc"
