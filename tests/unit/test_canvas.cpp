// Canvas graphics end to end: programs draw on the QImage canvases, save a
// PNG, and the test decodes the file and checks its pixels.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>

#include "canvas/qimage_canvas.h"
#include "environment/environment.h"
#include "tests/unit/scripted_ui.h"
#include "tests/unit/temp_dir.h"

using namespace velmora;
using namespace velmora::environment;
using velmora::testing::ScriptedUi;
using velmora::testing::TempDir;

namespace {

class Canvas : public ::testing::Test {
 protected:
  TempDir home;
  ScriptedUi ui;
  Environment env{home.path(), ui};
  canvas::ImageCanvas canvases;
  void SetUp() override { env.setCanvas(&canvases); }
  RunResult runProgram(const Lines &program) {
    env.workspace.closeAllTabs();
    env.tabs.loadLines(program, ui);
    if (env.compileDriver.compileActiveTab() < 0) return RunResult::NotStarted;
    return env.runAll();
  }
  QImage saved(const char *name) { return QImage(QString::fromStdString((home / "DATA" / name).string())); }
};

bool same(QRgb a, Qt::GlobalColor b) { return QColor(a) == QColor(b); }

}  // namespace

TEST_F(Canvas, BoxRatePieLineAndTextDrawWhereTheyShould) {
  ASSERT_EQ(runProgram({u"<? 0 >;", u"< \"FILL\" 0, 0, 255 >;", u"< \"BOX\" 100, 50 >;", u"< \"AT\" 0, 0 >;",
                        u"< \"FILL\" 255, 0, 0 >;", u"< \"BOXRATE\" \"X\" 200, 50, 25, 75 >;", u"< \"AT\" 300, 300 >;",
                        u"< \"FILL\" 0, 255, 0 >;", u"< \"PIE\" \"%\" 50, 0, 25 >;", u"< \"AT\" 10, 200 >;",
                        u"< \"COLOR\" 0, 0, 0 >;", u"< \"FILL\" 255, 255, 255 >;", u"< \"LINE\" 200, 200 >;",
                        u"< \"SAVE\" \"PNG\" \"out.png\" 0, 0, 400, 400 >;"}),
            RunResult::Ended)
      << text::to_utf8(ui.console.back());
  QImage img = saved("out.png");
  ASSERT_FALSE(img.isNull());
  ASSERT_EQ(img.size(), QSize(400, 400));
  // BOX from (0,0) to (100,50) in red (0, 0, 255 puts 255 in the red byte),
  // then BOXRATE X 25..75 % of 0..200: x 50 to 150 in blue.
  EXPECT_TRUE(same(img.pixel(25, 25), Qt::red));
  EXPECT_TRUE(same(img.pixel(75, 25), Qt::blue));
  EXPECT_TRUE(same(img.pixel(140, 25), Qt::blue));
  EXPECT_TRUE(same(img.pixel(160, 25), Qt::white));
  EXPECT_TRUE(same(img.pixel(75, 60), Qt::white));
  // PIE % from 0 to 25 fills the upper-right quarter.
  EXPECT_TRUE(same(img.pixel(320, 280), Qt::green));
  EXPECT_TRUE(same(img.pixel(280, 280), Qt::white));
  EXPECT_TRUE(same(img.pixel(320, 320), Qt::white));
  // The black line along y = 200.
  EXPECT_TRUE(same(img.pixel(100, 200), Qt::black));
}

TEST_F(Canvas, ImagesLoadBackAndSaveAsBmp) {
  ASSERT_EQ(
      runProgram({u"<? 1 >;", u"< \"FILL\" 0, 255, 0 >;", u"< \"BOX\" 40, 40 >;",
                  u"< \"SAVE\" \"PNG\" \"a.png\" 0, 0, 40, 40 >;", u"<? 2 >;",
                  u"< \"LOAD\" \"IMG\" \"a.png\" 100, 100 >;", u"< \"SAVE\" \"BMP\" \"b.bmp\" 90, 90, 150, 150 >;"}),
      RunResult::Ended);
  QImage b = saved("b.bmp");
  ASSERT_FALSE(b.isNull());
  EXPECT_TRUE(same(b.pixel(20, 20), Qt::green));  // (110, 110) of canvas 2
  EXPECT_TRUE(same(b.pixel(5, 5), Qt::white));
  // One option word alone, an unknown format or an empty rectangle saves
  // nothing.
  ASSERT_EQ(
      runProgram({u"<? 1 >;", u"< \"BOX\" 40, 40 >;", u"< \"SAVE\" \"one.png\" 0, 0, 40, 40 >;",
                  u"< \"SAVE\" \"GIF\" \"c.gif\" 0, 0, 40, 40 >;", u"< \"SAVE\" \"PNG\" \"d.png\" 40, 40, 40, 80 >;"}),
      RunResult::Ended);
  EXPECT_FALSE(std::filesystem::exists(env.dataDirectory() / "one.png"));
  EXPECT_FALSE(std::filesystem::exists(env.dataDirectory() / "c.gif"));
  EXPECT_FALSE(std::filesystem::exists(env.dataDirectory() / "d.png"));
}

TEST_F(Canvas, CanvasNumbersAreCheckedAndStateIsPerTask) {
  EXPECT_EQ(runProgram({u"<? 10 >;"}), RunResult::Error);
  EXPECT_EQ(ui.console.back(), u"キャンバス番号エラー　範囲外　10");
  ASSERT_EQ(runProgram({u"<? 3 >;", u"< \"MODE\" 1 >;", u"< \"MODE\" 2 >;", u"< \"PEN\" 4 >;", u"< \"AT\" 10, 20 >;",
                        u"< \"AT\" \"CLOCK\" 10, 0 >;"}),
            RunResult::Ended);
  const engine::DrawState &d = env.engine().task(0).draw[3];
  EXPECT_TRUE(d.penNotXor);  // MODE 2 changed nothing
  EXPECT_EQ(d.penWidth, 4);
  EXPECT_EQ(d.penX, 20);
  EXPECT_EQ(d.penY, 20);
  // Without a selected canvas nothing is drawn and nothing fails.
  EXPECT_EQ(runProgram({u"< \"BOX\" 10, 10 >;"}), RunResult::Ended);
  EXPECT_TRUE(canvases.visible(3) == false);
  ASSERT_EQ(runProgram({u"<?? 3 >;"}), RunResult::Ended);
  EXPECT_TRUE(canvases.visible(3));
}

// A run starts from the canvases a first run would find: their first size
// and blank, whatever ran before (a clock's EXTENT 200, 200 used to stay,
// and the next program's 400 x 400 picture came out three-quarters black).
TEST_F(Canvas, ARunFindsTheCanvasesAsTheFirstRunDid) {
  ASSERT_EQ(runProgram({u"<?? 0 >;", u"<? 0 >;", u"< \"EXTENT\" 200, 200 >;", u"< \"FILL\" 0, 0, 255 >;",
                        u"< \"BOX\" 200, 200 >;", u"<? 1 >;", u"< \"FILL\" 0, 255, 0 >;", u"< \"BOX\" 50, 50 >;"}),
            RunResult::Ended);
  ASSERT_EQ(canvases.image(0).size(), QSize(200, 200));
  // The next program draws a bar on canvas 0 and saves the whole canvas;
  // canvas 1 it only saves.
  ASSERT_EQ(runProgram({u"<? 0 >;", u"< \"FILL\" 255, 0, 0 >;", u"< \"AT\" 300, 390 >;", u"< \"BOX\" 350, 300 >;",
                        u"< \"SAVE\" \"PNG\" \"chart.png\" 0, 0, 400, 400 >;", u"<? 1 >;",
                        u"< \"SAVE\" \"PNG\" \"one.png\" 0, 0, 100, 100 >;"}),
            RunResult::Ended);
  QImage chart = saved("chart.png");
  ASSERT_EQ(chart.size(), QSize(400, 400));
  EXPECT_TRUE(same(chart.pixel(320, 350), Qt::blue));   // the bar, beyond the old 200 x 200
  EXPECT_TRUE(same(chart.pixel(100, 100), Qt::white));  // nothing of the first run's red
  EXPECT_TRUE(same(chart.pixel(399, 10), Qt::white));
  EXPECT_TRUE(same(saved("one.png").pixel(25, 25), Qt::white));  // nor of its green
  // The window stays where it was shown.
  EXPECT_TRUE(canvases.visible(0));
}

// A picture holds what the canvas shows: an area reaching beyond the
// canvas is saved as the part that lies on it, never with an undrawn
// (black) margin; an area wholly outside saves nothing.
TEST_F(Canvas, SavingBeyondTheCanvasSavesWhatItShows) {
  ASSERT_EQ(runProgram({u"<? 2 >;", u"< \"EXTENT\" 100, 80 >;", u"< \"FILL\" 0, 255, 0 >;", u"< \"BOX\" 100, 80 >;",
                        u"< \"SAVE\" \"PNG\" \"big.png\" -10, 0, 400, 400 >;",
                        u"< \"SAVE\" \"PNG\" \"out.png\" 150, 150, 400, 400 >;"}),
            RunResult::Ended);
  QImage big = saved("big.png");
  ASSERT_EQ(big.size(), QSize(100, 80));
  EXPECT_TRUE(same(big.pixel(99, 79), Qt::green));
  EXPECT_TRUE(same(big.pixel(0, 0), Qt::green));
  EXPECT_FALSE(std::filesystem::exists(env.dataDirectory() / "out.png"));
}

int main(int argc, char **argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
