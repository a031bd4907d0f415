// One window session, many programs: every bundled example run right after
// every other example gives what it gives run alone in a fresh window: the
// same console, the same canvases (size and pixels) and the same files. A
// run starts from the state a first run finds, whatever ran before it.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <map>
#include <optional>

#include "gui/console_view.h"
#include "gui/main_window.h"
#include "gui/qt_text.h"
#include "tests/gui/quiet_window.h"
#include "tests/gui/settle.h"
#include "tests/unit/http_server.h"

using namespace velmora;
using environment::RunResult;

namespace {

const QString kSource = QStringLiteral(VELMORA_SOURCE_DIR);

QStringList file_lines(const QString &path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  QStringList lines = QString::fromUtf8(f.readAll()).split(QChar(u'\n'));
  while (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
  return lines;
}

// The files of a directory and what they hold.
std::map<QString, QByteArray> files_of(const QString &dir) {
  std::map<QString, QByteArray> out;
  for (const QString &name : QDir(dir).entryList(QDir::Files)) {
    QFile f(dir + u'/' + name);
    if (f.open(QIODevice::ReadOnly)) out[name] = f.readAll();
  }
  return out;
}

// What one run left: its console, the ten canvases and the data files it
// wrote or removed (absent: nullopt).
struct Outcome {
  RunResult result = RunResult::NotStarted;
  QStringList console;
  QList<QImage> canvases;
  std::map<QString, std::optional<QByteArray>> files;
};

// A home with the examples, their data, the test library and the grammar
// with the library rules (a superset of the built-in one, so every example
// compiles with it).
void prepare_home(const QString &home) {
  QDir(home).mkpath(QStringLiteral("PROG"));
  QDir(home).mkpath(QStringLiteral("DATA"));
  for (const QString &f : QDir(kSource + QStringLiteral("/examples")).entryList({QStringLiteral("*.mcl")}, QDir::Files))
    QFile::copy(kSource + QStringLiteral("/examples/") + f, home + QStringLiteral("/PROG/") + f);
  for (const QString &f : QDir(kSource + QStringLiteral("/examples/data")).entryList(QDir::Files))
    QFile::copy(kSource + QStringLiteral("/examples/data/") + f, home + QStringLiteral("/DATA/") + f);
  QFile::copy(QStringLiteral(VELMORA_TEST_LIBRARY), home + QStringLiteral("/libvelmora_test_library.so"));
  QFile::copy(kSource + QStringLiteral("/examples/library_call.T-Syntax.txt"), home + QStringLiteral("/T-Syntax.txt"));
}

// WAIT and TIMER units of 10 ms: the clock ticks ten times as fast.
void quick_units(gui::MainWindow &w) {
  environment::Settings s = w.environment().settings();
  s.waitTimeMs = s.timerTimeMs = u"10";
  w.environment().setSettings(s);
}

// Runs an example as a user does: the programs open before are closed, its
// file (and its further task) opened, compiled and run with "●"; typed
// input answers GETS.
Outcome run_example(testing::QuietWindow &w, const QString &home, const QString &name, int port) {
  Outcome o;
  const QString prog = home + QStringLiteral("/PROG/");
  const QString data = home + QStringLiteral("/DATA");
  if (!w.closeAllTabs()) return o;
  QStringList input = file_lines(kSource + QStringLiteral("/tests/examples/") + name + QStringLiteral(".in"));
  for (QString &line : input) line.replace(QStringLiteral("{PORT}"), QString::number(port));
  input << QString();
  w.onPump = [&w, &input] {
    if (w.environment().inputSlot() >= 0 && !input.isEmpty()) w.environment().deliverInput(gui::u(input.takeFirst()));
  };
  const auto before = files_of(data);
  if (w.openProgramFile((prog + name + QStringLiteral(".mcl")).toStdString()) < 0 || w.compileActive() < 0) return o;
  if (QFile::exists(prog + name + QStringLiteral(".2.mcl")) &&
      (w.openProgramFile((prog + name + QStringLiteral(".2.mcl")).toStdString()) < 0 || w.compileActive() < 0))
    return o;
  o.result = testing::settle(w, w.run());
  w.onPump = nullptr;
  for (int i = 0; i < w.consoleView()->count(); ++i) o.console << w.consoleView()->rowText(i);
  while (!o.console.isEmpty() && o.console.back().isEmpty()) o.console.removeLast();
  for (int c = 0; c < engine::kCanvases; ++c) o.canvases << w.canvases().image(c);
  const auto after = files_of(data);
  for (const auto &[file, bytes] : after)
    if (!before.count(file) || before.at(file) != bytes) o.files[file] = bytes;
  for (const auto &[file, bytes] : before)
    if (!after.count(file)) o.files[file] = std::nullopt;
  return o;
}

// A walk through the examples in which every example follows every other
// one exactly once: an Euler circuit of the complete directed graph.
QList<int> every_pair_order(int n) {
  std::vector<std::vector<int>> next(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i)
    for (int j = n - 1; j >= 0; --j)
      if (j != i) next[std::size_t(i)].push_back(j);
  QList<int> circuit, stack{0};
  while (!stack.isEmpty()) {
    auto &out = next[std::size_t(stack.back())];
    if (out.empty()) {
      circuit.prepend(stack.takeLast());
    } else {
      stack.append(out.back());
      out.pop_back();
    }
  }
  return circuit;
}

}  // namespace

class OneSession : public QObject {
  Q_OBJECT
 private slots:
  void everyExampleAfterEveryOtherGivesWhatItGivesAlone() {
    testing::Server server;
    QVERIFY(server.port > 0);
    QStringList names;
    for (const QString &f :
         QDir(kSource + QStringLiteral("/examples")).entryList({QStringLiteral("*.mcl")}, QDir::Files))
      if (f.count(u'.') == 1) names << f.section(u'.', 0, 0);
    QVERIFY(names.size() >= 13);

    // Each example alone, in a window of its own over a home of its own.
    std::map<QString, Outcome> alone;
    for (const QString &name : names) {
      QTemporaryDir home;
      prepare_home(home.path());
      testing::QuietWindow w(home.path().toStdString());
      quick_units(w);
      w.show();
      alone[name] = run_example(w, home.path(), name, server.port);
      QVERIFY2(alone[name].result == RunResult::Ended, qPrintable(name + u' ' + w.messages.join(u' ')));
      QCOMPARE(alone[name].console,
               file_lines(kSource + QStringLiteral("/tests/examples/") + name + QStringLiteral(".out")));
    }

    // Then all of them in one window, each after each.
    QTemporaryDir home;
    prepare_home(home.path());
    testing::QuietWindow w(home.path().toStdString());
    quick_units(w);
    w.show();
    const QList<int> order = every_pair_order(int(names.size()));
    QCOMPARE(order.size(), names.size() * (names.size() - 1) + 1);
    QString previous = QStringLiteral("(start)");
    for (int index : order) {
      const QString &name = names[index];
      const Outcome o = run_example(w, home.path(), name, server.port);
      const QString where = name + QStringLiteral(" after ") + previous;
      const Outcome &a = alone[name];
      QVERIFY2(o.result == a.result, qPrintable(where));
      QVERIFY2(o.console == a.console, qPrintable(where + u'\n' + o.console.join(u'\n')));
      for (int c = 0; c < engine::kCanvases; ++c)
        QVERIFY2(o.canvases[c] == a.canvases[c], qPrintable(where + QStringLiteral(": canvas %1, %2x%3 against %4x%5")
                                                                        .arg(c)
                                                                        .arg(o.canvases[c].width())
                                                                        .arg(o.canvases[c].height())
                                                                        .arg(a.canvases[c].width())
                                                                        .arg(a.canvases[c].height())));
      // Every file the example writes (or removes) alone, it writes the same.
      for (const auto &[file, bytes] : a.files) {
        QFile f(home.path() + QStringLiteral("/DATA/") + file);
        const bool there = f.open(QIODevice::ReadOnly);
        QVERIFY2(there == bytes.has_value(), qPrintable(where + QStringLiteral(": ") + file));
        if (there) QVERIFY2(f.readAll() == *bytes, qPrintable(where + QStringLiteral(": ") + file));
      }
      previous = name;
    }
  }
};

QTEST_MAIN(OneSession)
#include "test_one_session.moc"
