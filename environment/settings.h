#pragma once
// The user options of the environment and the settings file
// "User_Setting.Txt" beside the program.
#include <array>
#include <filesystem>
#include <optional>

#include "text/u16.h"

namespace velmora::environment {

struct FontSetting {
  int size = 10;
  u16 name = u"IPAGothic";
  int colour = 0;  // 0xRRGGBB
};

struct Settings {
  static constexpr const char *kFileName = "User_Setting.Txt";

  // 実行時表示
  bool updateTaskStatus = true;
  bool updateTimerStatus = true;
  bool breakpointsEnabled = true;
  bool drawEventChart = false;
  bool updateConsole = true;
  bool keepProgramListOnRun = true, keepEditorOnRun = true, keepConsoleOnRun = true, keepDebuggerOnRun = true;
  // エラー検出
  bool stopOnFileError = true;
  bool stopOnCommandError = true;
  bool stopOnRuntimeError = true;
  bool variableAlert = true;
  bool showCompileReport = false;
  bool showErrorLocator = true;
  // The compiler's own message boxes ("Syntax Error", "MATH Syntax Error",
  // "COMPILE STOP", ...); off: only the plain explanation, without a box.
  bool showCompilerMessages = true;
  // パス設定
  bool useDataDirectory = false;
  u16 dataDirectoryPath;
  u16 commandInterpreter = u"/bin/sh";
  bool useProgramDirectory = false;
  u16 programDirectoryPath;
  // タイマー性能
  u16 waitTimeMs = u"100", timerTimeMs = u"100", chartTimeMs = u"20";
  // HTTP: seconds to connect, and seconds without data before a transfer
  // is abandoned (0: no limit).
  u16 httpConnectLimit = u"30", httpStallLimit = u"60";
  // 実行許可の設定: external commands, library calls, files outside the data
  // directory, network; each 0 allow, 1 ask, 2 deny.
  std::array<int, 5> Permissions{0, 0, 0, 0, 0};
  // エディッタ
  bool replaceSingleQuotes = false;
  bool asciiNamesOnly = false;
  int editorBackColour = 0xFFFFFF, consoleBackColour = 0xFFFFFF;
  FontSetting editorFont, consoleFont, commonFont;
  bool tabKeyInsertsSpaces = true;
  // Line ends of a program saved for the first time: LF as is usual here,
  // or CR LF. A file read from the disk keeps its own.
  bool newFilesCrLf = false;
  u16 tabWidth = u"5";
  bool expandConsoleTabs = true;
  u16 consoleTabWidth = u"16";
  // タスク管理
  bool endAllWhenOneEnds = false;
  bool hideCanvasesAtEnd = false;
  // 抽出
  bool monochrome = false;
  // Saved panel sizes of the main window.
  std::array<int, 3> separatorSizes{200, 200, 0};
  std::array<int, 2> centreSizes{600, 300}, debugSizes{300, 300}, fileSelectSizes{200, 200}, taskMonitorSizes{200, 200},
      fileContentSizes{200, 200}, editSizes{150, 400};
  // The main window: left, top (-1: where the window manager puts it),
  // width, height, maximised (0/1).
  std::array<int, 5> mainWindowGeometry{-1, -1, 1100, 700, 0};
  // The same as the window system keeps it (frame, screen and maximised
  // state; Base64 of the window's saved geometry): restoring it puts the
  // window back exactly, where the numbers above would place the frame at
  // the inner corner. Empty in files of older versions.
  u16 mainWindowState;

  // Start-up of the settings: "PROG" and "DATA" beside the program become the
  // user program and data directories (both ticked), then the file, when
  // present, overrides them.
  void initialise(const std::filesystem::path &home);
  // First start of an installed program: the bundled examples (programs
  // into PROG, their data files into DATA), so the program list shows them.
  static void copyExamples(const std::filesystem::path &examples, const std::filesystem::path &home);
  Lines toLines() const;
  // Applies the groups found in the lines; stops at the first value that is
  // not a whole number where one is expected. Returns false then.
  bool restore(const Lines &lines);
  bool save(const std::filesystem::path &home) const;
  bool load(const std::filesystem::path &home);

  // The HTTP limits in seconds: the default when the text is not a number
  // from 0 up.
  long httpConnectTimeout() const;
  long httpStallTimeout() const;
  // The timing values in milliseconds ("タイマー性能"): a whole number of at
  // least 1, or nothing, which the dialog refuses with kTimeRefused.
  static std::optional<int> timeValue(u16view text);
  static constexpr const char16_t *kTimeRefused = u"零、負数は設定できません";
  // What one WAIT and one TIMER unit last, in milliseconds (100 when the
  // text is no valid value).
  int waitUnitMs() const;
  int timerUnitMs() const;

  // A colour (0xRRGGBB) as the views show it: with "カラー表示をモノクロにする"
  // the grey of the same brightness (ITU-R BT.601 weights), else unchanged.
  static int grey(int rgb);
  int shownColour(int rgb) const { return monochrome ? grey(rgb) : rgb; }

  // The "Dir" buttons of "パス設定": the directory of the file chosen in
  // the dialog (proposed as "dummy"), with its trailing separator, for the
  // data and the user program directory; for the command interpreter the
  // chosen file itself (a shell here, not a COMMAND.COM in that folder).
  static u16 directoryOfChoice(const std::filesystem::path &chosen);
  // A directory taken from a directory chooser, with its trailing separator.
  static u16 chosenDirectory(const std::filesystem::path &directory);
  static u16 interpreterOfChoice(const std::filesystem::path &chosen);
  // The console is drawn by the environment, a fixed height per row, at
  // font size 12; by the platform at any other size.
  bool consoleOwnerDrawn() const { return consoleFont.size == 12; }

  // The console tab pitch as a number (16 when the text is not one).
  int consoleTabPitch() const;
  // The Tab width of the editors: 1..40; empty gives 1, anything else 5.
  static u16 normaliseTabWidth(u16view text);
};

}  // namespace velmora::environment
