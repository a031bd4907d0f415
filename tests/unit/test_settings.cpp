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
  s.SeparatorPanel = {11, 12, 13};
  s.Edit_Size_Panel = {21, 22};
  s.editorBackColour = 0x102030;
  s.editorFont = {14, u"Noto Sans CJK JP", 0x405060};
  s.consoleFont.name = u"IPAGothic Console";
  s.commonFont.size = 9;
  s.VARIABLE_ALERT_CheckBox = false;
  s.COMPILE_REPORT_CheckBox = true;
  s.UPdateDebugInfoCheckBox = s.UpdateTimerCheckBox = s.BP_EnableCheckBox = s.UpdateConsoleCheckBox = false;
  s.TaskActAsOneCheckBox = true;
  s.AppliDirCheckBox = false;
  s.AppliDirEdit = u"/data/ここ/";
  s.AppliProgDirEdit = u"/progs/";
  s.Editor_Quote_CheckBox = true;
  s.ShowErrorLocatorCheckBox = false;
  s.SysTabPitchCheckBox = false;
  s.ConsoleTabPitchEdit = u"8";
  s.ForceMonoCheckBox = s.CloseAllCanvasCheckBox = true;
  s.StayEditorCheckBox = s.StayConsoleCheckBox = s.StayProgListCheckBox = false;
  ASSERT_TRUE(s.save(home.path()));

  auto file = read_text_file(home / "User_Setting.Txt");
  ASSERT_TRUE(file);
  EXPECT_EQ(file->lines[0], u"NAME=SeparatorPanel");
  EXPECT_EQ(file->lines[1], u"11");
  EXPECT_EQ(file->lines.back(), u"1");  // CloseAllCanvasCheckBox, the last group

  Settings back;
  back.initialise(home.path());
  EXPECT_EQ(back.toLines(), s.toLines());
  EXPECT_EQ(back.consoleTabPitch(), 8);
}

TEST(Settings, AFileWithOneGroupRestoresJustThatOption) {
  TempDir home;
  home.write("User_Setting.Txt", "NAME=TaskActAsOneCheckBox\r\n1\r\n");
  Settings defaults;
  defaults.initialise(TempDir().path());
  Settings s;
  s.initialise(home.path());
  EXPECT_TRUE(s.TaskActAsOneCheckBox);
  s.TaskActAsOneCheckBox = false;
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
  EXPECT_TRUE(s.COMPILE_REPORT_CheckBox);
  EXPECT_FALSE(s.ForceMonoCheckBox);
}

TEST(Settings, TabWidthAndTabPitch) {
  EXPECT_EQ(Settings::normaliseTabWidth(u"0"), u"5");
  EXPECT_EQ(Settings::normaliseTabWidth(u"41"), u"5");
  EXPECT_EQ(Settings::normaliseTabWidth(u""), u"1");
  EXPECT_EQ(Settings::normaliseTabWidth(u"40"), u"40");
  EXPECT_EQ(Settings::normaliseTabWidth(u"x"), u"5");
  Settings s;
  s.ConsoleTabPitchEdit = u"abc";
  EXPECT_EQ(s.consoleTabPitch(), 16);
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
  s.WaitTimeEdit = u"20";
  s.TimerTimeEdit = u"0";  // never taken: the unit stays at its default
  EXPECT_EQ(s.waitUnitMs(), 20);
  EXPECT_EQ(s.timerUnitMs(), 100);
}
