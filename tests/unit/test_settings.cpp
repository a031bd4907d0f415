#include <gtest/gtest.h>

#include "environment/settings.h"
#include "tests/unit/temp_dir.h"
#include "text/lines.h"

using namespace velmora;
using namespace velmora::environment;
using velmora::testing::TempDir;

TEST(Settings, EveryGroupRoundTripsThroughTheFile) {
  TempDir home;
  Settings s;
  s.initialise(home.path());
  s.separatorSizes = {11, 12, 13};
  s.editSizes = {21, 22};
  s.editorBackColour = 0x102030;
  s.editorFont = {14, u"Noto Sans CJK JP", 0x405060};
  s.consoleFont.name = u"IPAGothic Console";
  s.commonFont.size = 9;
  s.variableAlert = false;
  s.showCompileReport = true;
  s.updateTaskStatus = s.updateTimerStatus = s.breakpointsEnabled = s.updateConsole = false;
  s.endAllWhenOneEnds = true;
  s.useDataDirectory = false;
  s.dataDirectoryPath = u"/data/ここ/";
  s.programDirectoryPath = u"/progs/";
  s.replaceSingleQuotes = true;
  s.showErrorLocator = false;
  s.expandConsoleTabs = false;
  s.consoleTabWidth = u"8";
  s.monochrome = s.hideCanvasesAtEnd = true;
  s.keepEditorOnRun = s.keepConsoleOnRun = s.keepProgramListOnRun = false;
  s.httpStallLimit = u"5";
  s.newFilesCrLf = true;
  s.mainWindowState = u"AdnQywADAAAAAAAA";
  ASSERT_TRUE(s.save(home.path()));

  auto file = text::read_text_file(home / "User_Setting.Txt");
  ASSERT_TRUE(file);
  EXPECT_EQ(file->lines[0], u"NAME=SeparatorPanel");
  EXPECT_EQ(file->lines[1], u"11");
  // The permissions, the HTTP limits and the window come last, after the
  // groups the file always had.
  const Lines &l = file->lines;
  ASSERT_GE(l.size(), 19u);
  EXPECT_EQ(Lines(l.end() - 19, l.end()),
            (Lines{u"NAME=CloseAllCanvasCheckBox", u"1", u"NAME=Permission_Panel", u"0", u"0", u"0", u"0", u"0",
                   u"NAME=HTTP_Timeout_Panel", u"30", u"5", u"NAME=Main_Window_Panel", u"-1", u"-1", u"1100", u"700",
                   u"0", u"NAME=Main_Window_State", u"AdnQywADAAAAAAAA"}));

  Settings back;
  back.initialise(home.path());
  EXPECT_EQ(back.toLines(), s.toLines());
  EXPECT_EQ(back.consoleTabPitch(), 8);
  EXPECT_EQ(back.httpStallTimeout(), 5);
  back.httpConnectLimit = u"-1";  // not a limit: the default
  EXPECT_EQ(back.httpConnectTimeout(), 30);
}

TEST(Settings, AFileWithOneGroupRestoresJustThatOption) {
  TempDir home;
  home.write("User_Setting.Txt", "NAME=TaskActAsOneCheckBox\r\n1\r\n");
  Settings defaults;
  defaults.initialise(TempDir().path());
  Settings s;
  s.initialise(home.path());
  EXPECT_TRUE(s.endAllWhenOneEnds);
  s.endAllWhenOneEnds = false;
  Lines a = s.toLines(), b = defaults.toLines();
  // Everything else is at its default (the directories differ by home).
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].find(u"PROG") == u16::npos && a[i].find(u"DATA") == u16::npos) {
      EXPECT_EQ(a[i], b[i]) << i;
    }
  }
}

TEST(Settings, ABadNumberEndsRestoringThere) {
  Settings s;
  EXPECT_FALSE(s.restore({u"NAME=COMPILE_REPORT_CheckBox", u"1", u"NAME=SysTabPitchCheckBox", u"x", u"16",
                          u"NAME=ForceMonoCheckBox", u"1"}));
  EXPECT_TRUE(s.showCompileReport);
  EXPECT_FALSE(s.monochrome);
}

TEST(Settings, TabWidthAndTabPitch) {
  EXPECT_EQ(Settings::normaliseTabWidth(u"0"), u"5");
  EXPECT_EQ(Settings::normaliseTabWidth(u"41"), u"5");
  EXPECT_EQ(Settings::normaliseTabWidth(u""), u"1");
  EXPECT_EQ(Settings::normaliseTabWidth(u"40"), u"40");
  EXPECT_EQ(Settings::normaliseTabWidth(u"x"), u"5");
  Settings s;
  s.consoleTabWidth = u"abc";
  EXPECT_EQ(s.consoleTabPitch(), 16);
}

// The bundled examples: programs into PROG, data files into DATA; a file the
// user already has is kept.
TEST(Settings, ExamplesAreCopiedIntoProgAndData) {
  velmora::testing::TempDir dir;
  const auto examples = dir.path() / "examples";
  std::filesystem::create_directories(examples / "data");
  ASSERT_TRUE(velmora::text::write_lines_file(examples / "a.mcl", {u"??1;"}));
  ASSERT_TRUE(velmora::text::write_lines_file(examples / "data" / "d.txt", {u"x"}));
  const auto home = dir.path() / "home";
  std::filesystem::create_directories(home / "PROG");
  ASSERT_TRUE(velmora::text::write_lines_file(home / "PROG" / "a.mcl", {u"mine"}));
  velmora::environment::Settings::copyExamples(examples, home);
  EXPECT_EQ(velmora::text::read_text_file(home / "PROG" / "a.mcl")->lines, velmora::Lines{u"mine"});
  EXPECT_TRUE(std::filesystem::exists(home / "DATA" / "d.txt"));
  EXPECT_FALSE(std::filesystem::exists(home / "PROG" / "data"));
  std::filesystem::remove(home / "PROG" / "a.mcl");
  velmora::environment::Settings::copyExamples(examples, home);
  EXPECT_EQ(velmora::text::read_text_file(home / "PROG" / "a.mcl")->lines, velmora::Lines{u"??1;"});
}

// Found by fuzzing the settings reader: a group cut short by a lost line
// took the next key line as its font name; saved, that name was read as a
// key at the next start and every option after it fell back to its default.
TEST(Settings, AGroupCutShortLeavesTheNextKeyLineAKey) {
  TempDir home;
  home.write(Settings::kFileName,
             "NAME=Editor_BackColor_Panel\r\n255\r\n12\r\n"  // font name and colour lost
             "NAME=SeparatorPanel\r\n31\r\n32\r\n33\r\n"
             "NAME=Console_BackColor_Panel\r\n1\r\n9\r\nConsole Font\r\n2\r\n"
             "NAME=TaskActAsOneCheckBox\r\n1\r\n");
  Settings s;
  ASSERT_TRUE(s.load(home.path()));
  EXPECT_EQ(s.editorBackColour, 255);
  EXPECT_EQ(s.editorFont.size, 12);
  EXPECT_EQ(s.editorFont.name, Settings{}.editorFont.name);
  EXPECT_EQ(s.editorFont.colour, Settings{}.editorFont.colour);
  EXPECT_EQ(s.separatorSizes, (std::array<int, 3>{31, 32, 33}));

  // Saved and restored at the next start, everything comes back.
  ASSERT_TRUE(s.save(home.path()));
  Settings next;
  ASSERT_TRUE(next.load(home.path()));
  EXPECT_EQ(next.toLines(), s.toLines());
  EXPECT_EQ(next.consoleFont.name, u"Console Font");
  EXPECT_TRUE(next.endAllWhenOneEnds);
}

TEST(Settings, TimingValuesAreWholeNumbersOfAtLeastOne) {
  EXPECT_EQ(Settings::timeValue(u"100"), 100);
  EXPECT_EQ(Settings::timeValue(u"1"), 1);
  EXPECT_EQ(Settings::timeValue(u"0"), std::nullopt);
  EXPECT_EQ(Settings::timeValue(u"-5"), std::nullopt);
  EXPECT_EQ(Settings::timeValue(u""), std::nullopt);
  EXPECT_EQ(Settings::timeValue(u"1.5"), std::nullopt);
  Settings s;
  EXPECT_EQ(s.waitUnitMs(), 100);
  s.waitTimeMs = u"20";
  s.timerTimeMs = u"0";  // never taken: the unit stays at its default
  EXPECT_EQ(s.waitUnitMs(), 20);
  EXPECT_EQ(s.timerUnitMs(), 100);
}

TEST(Settings, DirButtonsTakeTheDirectoryOfTheChosenFile) {
  EXPECT_EQ(Settings::directoryOfChoice("/home/user/data/dummy"), u"/home/user/data/");
  EXPECT_EQ(Settings::directoryOfChoice("/dummy"), u"/");
  EXPECT_EQ(Settings::directoryOfChoice("/home/ユーザー/プログラム/dummy"), u"/home/ユーザー/プログラム/");
  EXPECT_EQ(Settings::directoryOfChoice(""), u"");
  EXPECT_EQ(Settings::interpreterOfChoice("/usr/bin/bash"), u"/usr/bin/bash");
}

TEST(Settings, DirButtonsTakeAChosenDirectoryWithItsSeparator) {
  EXPECT_EQ(Settings::chosenDirectory("/home/user/data"), u"/home/user/data/");
  EXPECT_EQ(Settings::chosenDirectory("/home/user/data/"), u"/home/user/data/");
  EXPECT_EQ(Settings::chosenDirectory("/"), u"/");
  EXPECT_EQ(Settings::chosenDirectory(""), u"");
}

TEST(Settings, TheWindowAndTheMonitorGridsKeepTheirSizes) {
  Settings s;
  EXPECT_EQ(s.mainWindowGeometry, (std::array<int, 5>{-1, -1, 1100, 700, 0}));
  s.mainWindowGeometry = {40, 30, 1400, 900, 1};
  s.taskMonitorSizes = {180, 120};
  Settings back;
  ASSERT_TRUE(back.restore(s.toLines()));
  EXPECT_EQ(back.mainWindowGeometry, s.mainWindowGeometry);
  EXPECT_EQ(back.taskMonitorSizes, s.taskMonitorSizes);
  // A file of an earlier version, without the window's group, keeps the defaults.
  Settings old;
  ASSERT_TRUE(old.restore({u"NAME=TaskActAsOneCheckBox", u"1"}));
  EXPECT_EQ(old.mainWindowGeometry[2], 1100);
}

TEST(Settings, TheConsoleDrawsItselfAtFontSizeTwelveOnly) {
  Settings s;
  for (int size : {8, 10, 11, 13, 20}) {
    s.consoleFont.size = size;
    EXPECT_FALSE(s.consoleOwnerDrawn()) << size;
  }
  s.consoleFont.size = 12;
  EXPECT_TRUE(s.consoleOwnerDrawn());
}
