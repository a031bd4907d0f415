#include "environment/settings.h"

#include <functional>

#include "text/lines.h"
#include "text/paths.h"

namespace velmora::environment {

namespace {

// One value line of a group: written from the settings, applied back; the
// apply step returns false when the line is not a valid value.
struct Value {
  std::function<u16(const Settings &)> write;
  std::function<bool(Settings &, u16view)> apply;
};

Value check(bool Settings::*member) {
  return {[member](const Settings &s) { return u16(s.*member ? u"1" : u"0"); },
          [member](Settings &s, u16view v) {
            int n;
            if (!text::parse_int(v, n)) return false;
            s.*member = n != 0;
            return true;
          }};
}

Value number(std::function<int &(Settings &)> ref) {
  return {[ref](const Settings &s) { return text::int16(ref(const_cast<Settings &>(s))); },
          [ref](Settings &s, u16view v) { return text::parse_int(v, ref(s)); }};
}

Value text(u16 Settings::*member) {
  return {[member](const Settings &s) { return s.*member; },
          [member](Settings &s, u16view v) {
            s.*member = u16(v);
            return true;
          }};
}

Value font_name(FontSetting Settings::*font) {
  return {[font](const Settings &s) { return (s.*font).name; },
          [font](Settings &s, u16view v) {
            (s.*font).name = u16(v);
            return true;
          }};
}

struct Group {
  const char16_t *key;
  std::vector<Value> values;
};

// The one place where the option names stored in "User_Setting.Txt" are
// spelled out: each stored name (kept as files written earlier hold it)
// with the fields its value lines fill, in the order they are written.
const std::vector<Group> &groups() {
  static const std::vector<Group> table = {
      {u"NAME=SeparatorPanel",
       {number([](Settings &s) -> int & { return s.separatorSizes[0]; }),
        number([](Settings &s) -> int & { return s.separatorSizes[1]; }),
        number([](Settings &s) -> int & { return s.separatorSizes[2]; })}},
      {u"NAME=Center_Size_Panel",
       {number([](Settings &s) -> int & { return s.centreSizes[0]; }),
        number([](Settings &s) -> int & { return s.centreSizes[1]; })}},
      {u"NAME=Debug_Size_Panel",
       {number([](Settings &s) -> int & { return s.debugSizes[0]; }),
        number([](Settings &s) -> int & { return s.debugSizes[1]; })}},
      {u"NAME=File_Select_Split_Panel",
       {number([](Settings &s) -> int & { return s.fileSelectSizes[0]; }),
        number([](Settings &s) -> int & { return s.fileSelectSizes[1]; })}},
      {u"NAME=Task_Monitor_Size_Panel",
       {number([](Settings &s) -> int & { return s.taskMonitorSizes[0]; }),
        number([](Settings &s) -> int & { return s.taskMonitorSizes[1]; })}},
      {u"NAME=File_Content_Size_Panel",
       {number([](Settings &s) -> int & { return s.fileContentSizes[0]; }),
        number([](Settings &s) -> int & { return s.fileContentSizes[1]; })}},
      {u"NAME=Edit_Size_Panel",
       {number([](Settings &s) -> int & { return s.editSizes[0]; }),
        number([](Settings &s) -> int & { return s.editSizes[1]; })}},
      {u"NAME=Editor_BackColor_Panel",
       {number([](Settings &s) -> int & { return s.editorBackColour; }),
        number([](Settings &s) -> int & { return s.editorFont.size; }), font_name(&Settings::editorFont),
        number([](Settings &s) -> int & { return s.editorFont.colour; })}},
      {u"NAME=Console_BackColor_Panel",
       {number([](Settings &s) -> int & { return s.consoleBackColour; }),
        number([](Settings &s) -> int & { return s.consoleFont.size; }), font_name(&Settings::consoleFont),
        number([](Settings &s) -> int & { return s.consoleFont.colour; })}},
      {u"NAME=Common_Font_Panel",
       {number([](Settings &s) -> int & { return s.commonFont.size; }), font_name(&Settings::commonFont),
        number([](Settings &s) -> int & { return s.commonFont.colour; })}},
      {u"NAME=VARIABLE_ALERT_CheckBox", {check(&Settings::variableAlert)}},
      {u"NAME=COMPILE_REPORT_CheckBox", {check(&Settings::showCompileReport)}},
      {u"NAME=UPdateDebugInfoCheckBox", {check(&Settings::updateTaskStatus)}},
      {u"NAME=UpdateTimerCheckBox", {check(&Settings::updateTimerStatus)}},
      {u"NAME=BP_EnableCheckBox", {check(&Settings::breakpointsEnabled)}},
      {u"NAME=UpdateConsoleCheckBox", {check(&Settings::updateConsole)}},
      {u"NAME=TaskActAsOneCheckBox", {check(&Settings::endAllWhenOneEnds)}},
      {u"NAME=AppliDirCheckBox", {check(&Settings::useDataDirectory), text(&Settings::dataDirectoryPath)}},
      {u"NAME=AppliProgDirCheckBox", {check(&Settings::useProgramDirectory), text(&Settings::programDirectoryPath)}},
      {u"NAME=Editor_Quote_CheckBox", {check(&Settings::replaceSingleQuotes)}},
      {u"NAME=ShowErrorLocatorCheckBox", {check(&Settings::showErrorLocator)}},
      {u"NAME=COMPILE_MESSAGE_CheckBox", {check(&Settings::showCompilerMessages)}},
      {u"NAME=NewFile_CRLF_CheckBox", {check(&Settings::newFilesCrLf)}},
      {u"NAME=SysTabPitchCheckBox", {check(&Settings::expandConsoleTabs), text(&Settings::consoleTabWidth)}},
      {u"NAME=ForceMonoCheckBox", {check(&Settings::monochrome)}},
      {u"NAME=StayEditorCheckBox", {check(&Settings::keepEditorOnRun)}},
      {u"NAME=StayConsoleCheckBox", {check(&Settings::keepConsoleOnRun)}},
      {u"NAME=StayProgListCheckBox", {check(&Settings::keepProgramListOnRun)}},
      {u"NAME=CloseAllCanvasCheckBox", {check(&Settings::hideCanvasesAtEnd)}},
      {u"NAME=Permission_Panel",
       {number([](Settings &s) -> int & { return s.Permissions[0]; }),
        number([](Settings &s) -> int & { return s.Permissions[1]; }),
        number([](Settings &s) -> int & { return s.Permissions[2]; }),
        number([](Settings &s) -> int & { return s.Permissions[3]; }),
        number([](Settings &s) -> int & { return s.Permissions[4]; })}},
      {u"NAME=HTTP_Timeout_Panel", {text(&Settings::httpConnectLimit), text(&Settings::httpStallLimit)}},
      {u"NAME=Main_Window_Panel",
       {number([](Settings &s) -> int & { return s.mainWindowGeometry[0]; }),
        number([](Settings &s) -> int & { return s.mainWindowGeometry[1]; }),
        number([](Settings &s) -> int & { return s.mainWindowGeometry[2]; }),
        number([](Settings &s) -> int & { return s.mainWindowGeometry[3]; }),
        number([](Settings &s) -> int & { return s.mainWindowGeometry[4]; })}},
      {u"NAME=Main_Window_State", {text(&Settings::mainWindowState)}},
  };
  return table;
}

u16 with_separator(const std::filesystem::path &p) {
  u16 s = text::from_utf8(p.string());
  if (s.empty() || s.back() != u'/') s += u'/';
  return s;
}

}  // namespace

void Settings::copyExamples(const std::filesystem::path &examples, const std::filesystem::path &home) {
  namespace fs = std::filesystem;
  std::error_code ec;
  for (const auto &[from, to] : {std::pair{examples, home / "PROG"}, {examples / "data", home / "DATA"}}) {
    fs::create_directories(to, ec);
    for (const fs::directory_entry &e : fs::directory_iterator(from, ec))
      if (e.is_regular_file(ec)) fs::copy_file(e.path(), to / e.path().filename(), fs::copy_options::skip_existing, ec);
  }
}

void Settings::initialise(const std::filesystem::path &home) {
  std::error_code ec;
  const std::filesystem::path examples = text::executable_dir() / ".." / "share" / "velmora" / "examples";
  if (!std::filesystem::exists(home / "PROG", ec) && std::filesystem::is_directory(examples, ec))
    copyExamples(examples, home);
  std::filesystem::create_directories(home / "PROG", ec);
  std::filesystem::create_directories(home / "DATA", ec);
  programDirectoryPath = with_separator(home / "PROG");
  dataDirectoryPath = with_separator(home / "DATA");
  useProgramDirectory = useDataDirectory = true;
  load(home);
}

Lines Settings::toLines() const {
  Lines lines;
  for (const Group &g : groups()) {
    lines.push_back(g.key);
    for (const Value &v : g.values) lines.push_back(v.write(*this));
  }
  return lines;
}

bool Settings::restore(const Lines &lines) {
  auto holds_key = [](u16view line) {
    for (const Group &g : groups())
      if (line.find(g.key) != u16::npos) return true;
    return false;
  };
  for (std::size_t i = 0; i < lines.size(); ++i) {
    for (const Group &g : groups()) {
      if (lines[i].find(g.key) == u16::npos) continue;
      for (std::size_t k = 0; k < g.values.size(); ++k) {
        std::size_t at = i + 1 + k;
        if (at >= lines.size()) return true;
        // A key line where a value belongs: the group lost lines (edited by
        // hand, cut short). Taking the key as a text value (a font name,
        // a directory) would be saved and then read as a key at the next
        // start, where the values after it stop restoring. The group's
        // remaining values stay as they are; the key line is read as a key.
        if (holds_key(lines[at])) break;
        if (!g.values[k].apply(*this, lines[at])) return false;
      }
    }
  }
  return true;
}

bool Settings::save(const std::filesystem::path &home) const {
  return text::write_lines_file(home / kFileName, toLines(), text::Encoding::Utf8);
}

bool Settings::load(const std::filesystem::path &home) {
  auto file = text::read_text_file(home / kFileName);
  if (!file) return false;
  return restore(file->lines);
}

namespace {
long seconds(u16view text, long fallback) {
  int n;
  return text::parse_int(text, n) && n >= 0 ? n : fallback;
}
}  // namespace

long Settings::httpConnectTimeout() const { return seconds(httpConnectLimit, 30); }
long Settings::httpStallTimeout() const { return seconds(httpStallLimit, 60); }

int Settings::consoleTabPitch() const {
  int n;
  if (!text::parse_int(consoleTabWidth, n)) return 16;
  return n;
}

u16 Settings::normaliseTabWidth(u16view text) {
  if (text.empty()) return u"1";
  int n;
  if (!text::parse_int(text, n) || n < 1 || n > 40) return u"5";
  return u16(text);
}

std::optional<int> Settings::timeValue(u16view text) {
  int n = 0;
  if (!text::parse_int(text, n) || n < 1) return std::nullopt;
  return n;
}

int Settings::waitUnitMs() const { return timeValue(waitTimeMs).value_or(100); }

int Settings::timerUnitMs() const { return timeValue(timerTimeMs).value_or(100); }

int Settings::grey(int rgb) {
  const int r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
  const int y = (299 * r + 587 * g + 114 * b + 500) / 1000;
  return (y << 16) | (y << 8) | y;
}

u16 Settings::directoryOfChoice(const std::filesystem::path &chosen) {
  if (chosen.empty()) return {};
  std::string dir = chosen.parent_path().string();
  if (dir.empty() || dir.back() != '/') dir += '/';
  return text::from_utf8(dir);
}

u16 Settings::chosenDirectory(const std::filesystem::path &directory) {
  if (directory.empty()) return {};
  std::string dir = directory.string();
  if (dir.back() != '/') dir += '/';
  return text::from_utf8(dir);
}

u16 Settings::interpreterOfChoice(const std::filesystem::path &chosen) { return text::from_utf8(chosen.string()); }

}  // namespace velmora::environment
