#include <sys/stat.h>

#include <gtest/gtest.h>

#include "tests/unit/temp_dir.h"
#include "text/encoding.h"
#include "text/fields.h"
#include "text/lines.h"
#include "text/paths.h"
#include "text/visible.h"

using namespace velmora;
using velmora::testing::TempDir;

namespace {

// "日本語 ABC" in CP932.
const std::string kSjisSample = "\x93\xfa\x96\x7b\x8c\xea ABC";

}  // namespace

TEST(Utf8, RoundTripsBmpAndSupplementaryCharacters) {
  u16 text = u"aé日本\U0001F600z";
  EXPECT_EQ(text::from_utf8(text::to_utf8(text)), text);
  EXPECT_EQ(text::to_utf8(u"日"), "\xe6\x97\xa5");
}

TEST(Utf8, ValidityRejectsOverlongsSurrogatesAndTruncation) {
  EXPECT_TRUE(text::is_valid_utf8("plain ascii"));
  EXPECT_TRUE(text::is_valid_utf8("\xe6\x97\xa5\xe6\x9c\xac"));
  EXPECT_FALSE(text::is_valid_utf8("\xc0\xaf"));      // overlong '/'
  EXPECT_FALSE(text::is_valid_utf8("\xed\xa0\x80"));  // surrogate
  EXPECT_FALSE(text::is_valid_utf8("\xe6\x97"));      // cut short
  EXPECT_FALSE(text::is_valid_utf8(kSjisSample));     // Shift-JIS is not UTF-8
  EXPECT_EQ(text::from_utf8("a\xffz"), u"a\uFFFDz");
}

// Text read in blocks of 16 ASCII bytes: a character or a bad byte at any
// offset around a block's edge decodes as it does anywhere else.
TEST(Utf8, BlocksOfAsciiMeetEveryOtherCharacterAtEveryOffset) {
  const std::pair<std::string, u16> pieces[] = {
      {"\xc3\xa9", u"é"},  {"\xe6\x97\xa5", u"日"},       {"\xf0\x9f\x98\x80", u"\U0001F600"},
      {"\xff", u"\uFFFD"}, {"\xe6\x97", u"\uFFFD\uFFFD"}, {"\x80", u"\uFFFD"}};
  for (const auto &[bytes, units] : pieces) {
    for (std::size_t at = 0; at <= 40; ++at) {
      std::string text(at, 'a');
      text += bytes;
      text += std::string(40 - at, 'b');
      const u16 expected = u16(at, u'a') + units + u16(40 - at, u'b');
      EXPECT_EQ(text::from_utf8(text), expected) << "at " << at;
      EXPECT_EQ(text::is_valid_utf8(text), units.find(u'\uFFFD') == u16::npos) << "at " << at;
    }
  }
  EXPECT_EQ(text::from_utf8(std::string(64, 'x')), u16(64, u'x'));
  EXPECT_EQ(text::from_utf8(""), u"");
}

TEST(Cp932, ConvertsBothWaysAndMeasuresBytes) {
  EXPECT_EQ(text::from_cp932(kSjisSample), u"日本語 ABC");
  EXPECT_EQ(text::to_cp932(u"日本語 ABC"), kSjisSample);
  // The class symbols of the grammar take two bytes each, ASCII one.
  EXPECT_EQ(text::cp932_length(u"∇Δ【】"), 8u);
  EXPECT_EQ(text::cp932_length(u"abc"), 3u);
  EXPECT_EQ(text::cp932_length(u"ｱ"), 1u);  // half-width katakana is one byte
  // A double-byte character is never split when cutting.
  EXPECT_EQ(text::cut_cp932(u"abc∇∇∇", 6), u"abc∇");
  EXPECT_EQ(text::cut_cp932(u"∇∇∇∇∇∇∇∇∇∇∇", 20), u"∇∇∇∇∇∇∇∇∇∇");
  // Half-width katakana counts one byte; a text that fits whole is kept.
  EXPECT_EQ(text::cut_cp932(u"ｱｲ∇ｳ", 4), u"ｱｲ∇");
  EXPECT_EQ(text::cut_cp932(u"ｱｲｳｴ∇", 5), u"ｱｲｳｴ");
  EXPECT_EQ(text::cut_cp932(u"∇∇", 4), u"∇∇");
  EXPECT_EQ(text::cut_cp932(u"", 0), u"");
  EXPECT_EQ(text::cut_cp932(u"a", 0), u"");
  // Characters CP932 cannot hold become '?', undecodable bytes U+FFFD.
  EXPECT_EQ(text::to_cp932(u"a\U0001F600"), "a?");
  EXPECT_EQ(text::from_cp932("a\x81"), u"a\uFFFD");
}

TEST(Lines, SplitsAtEveryKindOfLineEnd) {
  EXPECT_EQ(text::split_lines(u"a\r\nb\nc\rd"), (Lines{u"a", u"b", u"c", u"d"}));
  EXPECT_EQ(text::split_lines(u"a\r\nb\r\n"), (Lines{u"a", u"b"}));
  EXPECT_EQ(text::split_lines(u"a\r\n\r\n"), (Lines{u"a", u""}));
  EXPECT_EQ(text::split_lines(u""), Lines{});
  EXPECT_EQ(text::split_lines(u"\n\n"), (Lines{u"", u""}));
}

// Line ends are found four units at a time: every kind of line end at
// every offset, next to each other and at both ends of the text.
TEST(Lines, LineEndsAtEveryOffsetOfTheBlocks) {
  auto model = [](const u16 &text) {
    Lines lines;
    u16 line;
    bool open = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == u'\r' || text[i] == u'\n') {
        lines.push_back(line);
        line.clear();
        open = false;
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
      } else {
        line += text[i];
        open = true;
      }
    }
    if (open) lines.push_back(line);
    return lines;
  };
  // Units that differ from CR and LF by one bit or share a byte with them.
  const char16_t others[] = {u'a', u'\x0C', u'\x0B', u'\x0E', u'\x8D', u'\u0D0A', u'\u0A0D', u'\uFFFF', u'日'};
  const u16 ends[] = {u"\r", u"\n", u"\r\n", u"\n\r", u"\r\r", u"\n\n"};
  for (std::size_t length = 0; length <= 19; ++length)
    for (std::size_t at = 0; at <= length; ++at)
      for (const u16 &end : ends) {
        u16 text;
        for (std::size_t i = 0; i < length; ++i) text += others[(i + at) % std::size(others)];
        text.insert(at, end);
        ASSERT_EQ(text::split_lines(text), model(text)) << length << " " << at;
      }
  std::uint32_t seed = 7;
  for (int round = 0; round < 2000; ++round) {
    u16 text;
    const int n = int((seed = seed * 1103515245u + 12345u) >> 16) % 40;
    for (int i = 0; i < n; ++i) {
      const std::uint32_t r = (seed = seed * 1103515245u + 12345u) >> 16;
      text += r % 7 == 0 ? u'\r' : r % 7 == 1 ? u'\n' : others[r % std::size(others)];
    }
    ASSERT_EQ(text::split_lines(text), model(text)) << round;
  }
}

TEST(Lines, ReadsEachEncodingFromRealFiles) {
  TempDir dir;
  struct Case {
    const char *name;
    std::string bytes;
    text::Encoding encoding;
  } cases[] = {
      {"utf8.txt", "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e ABC\r\nx", text::Encoding::Utf8},
      {"bom.txt", "\xef\xbb\xbf\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e ABC\nx\n", text::Encoding::Utf8Bom},
      {"le.txt", std::string("\xff\xfe\xe5\x65\x2c\x67\x9e\x8a\x20\x00\x41\x00\x42\x00\x43\x00\x0d\x00\x78\x00", 20),
       text::Encoding::Utf16LE},
      {"be.txt", std::string("\xfe\xff\x65\xe5\x67\x2c\x8a\x9e\x00\x20\x00\x41\x00\x42\x00\x43\x00\x0a\x00\x78", 20),
       text::Encoding::Utf16BE},
      {"sjis.txt", kSjisSample + "\r\nx", text::Encoding::Cp932},
  };
  for (const Case &c : cases) {
    auto file = text::read_text_file(dir.write(c.name, c.bytes));
    ASSERT_TRUE(file) << c.name;
    EXPECT_EQ(file->encoding, c.encoding) << c.name;
    EXPECT_EQ(file->lines, (Lines{u"日本語 ABC", u"x"})) << c.name;
  }
  EXPECT_FALSE(text::read_text_file(dir / "missing.txt"));
  EXPECT_FALSE(text::read_text_file(dir.path()));  // a directory is not a text file
}

TEST(Lines, WritesCrLfInUtf8AndCp932AndReadsBack) {
  TempDir dir;
  Lines lines{u"日本語", u"", u"end"};
  ASSERT_TRUE(text::write_lines_file(dir / "u.txt", lines, text::Encoding::Utf8));
  ASSERT_TRUE(text::write_lines_file(dir / "s.txt", lines, text::Encoding::Cp932));
  EXPECT_EQ(*text::read_file_bytes(dir / "u.txt"), "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\r\n\r\nend\r\n");
  EXPECT_EQ(*text::read_file_bytes(dir / "s.txt"), "\x93\xfa\x96\x7b\x8c\xea\r\n\r\nend\r\n");
  EXPECT_EQ(text::read_text_file(dir / "s.txt")->lines, lines);
  // A write into a directory that does not exist fails and leaves nothing.
  EXPECT_FALSE(text::write_lines_file(dir / "no/such/dir.txt", lines));
  EXPECT_FALSE(std::filesystem::exists(dir / "no"));
}

// A file written back with the line ends it was read with is the same
// bytes: LF, CR and CR LF files, with and without an end on the last line,
// in UTF-8, Shift-JIS and UTF-16.
TEST(Lines, LineEndsReadFromATextWriteTheSameBytesBack) {
  TempDir dir;
  using E = text::LineEnds;
  EXPECT_EQ(text::line_ends_of(u"a\nb\n"), (E{E::Lf, true}));
  EXPECT_EQ(text::line_ends_of(u"a\r\nb"), (E{E::CrLf, false}));
  EXPECT_EQ(text::line_ends_of(u"a\rb\r"), (E{E::Cr, true}));
  EXPECT_EQ(text::line_ends_of(u"a"), (E{E::CrLf, false}));  // none: the default kind
  for (const char *bytes : {"x = 1;\n\n// \xe6\x97\xa5\n", "x = 1;\r\ny = 2;", "x = 1;\ry = 2;\r", "one line"}) {
    const std::filesystem::path file = dir / "p.mcl";
    ASSERT_TRUE(text::write_file_bytes(file, bytes));
    const auto read = text::read_text_file(file);
    ASSERT_TRUE(read);
    const u16 whole = text::decode_bytes(bytes).text;
    ASSERT_TRUE(text::write_lines_file(file, read->lines, read->encoding, text::line_ends_of(whole)));
    EXPECT_EQ(*text::read_file_bytes(file), bytes);
  }
  const Lines lines{u"日本", u"end"};
  EXPECT_EQ(text::join_lines(lines, text::Encoding::Cp932, E{E::Lf, true}), "\x93\xfa\x96\x7b\nend\n");
  EXPECT_EQ(text::join_lines(lines, text::Encoding::Utf16LE, E{E::Lf, false}),
            std::string("\xFF\xFE\xE5\x65\x2C\x67\n\0e\0n\0d\0", 14));
}

TEST(Lines, WholeFileWritesGoThroughLinksKeepModesAndRefuseSpecialFiles) {
  namespace fs = std::filesystem;
  TempDir dir;
  // A link is written through: the file it points to changes, the link stays.
  dir.write("real.txt", "old\r\n");
  fs::create_directory(dir / "sub");
  fs::create_symlink("../real.txt", dir / "sub" / "link.txt");
  ASSERT_TRUE(text::write_lines_file(dir / "sub" / "link.txt", {u"new"}));
  EXPECT_TRUE(fs::is_symlink(dir / "sub" / "link.txt"));
  EXPECT_EQ(*text::read_file_bytes(dir / "real.txt"), "new\r\n");
  // A private file stays private.
  dir.write("secret.txt", "x");
  fs::permissions(dir / "secret.txt", fs::perms::owner_read | fs::perms::owner_write);
  ASSERT_TRUE(text::write_lines_file(dir / "secret.txt", {u"y"}));
  EXPECT_EQ(fs::status(dir / "secret.txt").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  // A pipe or a directory under the name is refused and left as it is.
  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
  EXPECT_FALSE(text::write_lines_file(dir / "pipe", {u"z"}));
  EXPECT_TRUE(fs::is_fifo(dir / "pipe"));
  EXPECT_FALSE(text::write_lines_file(dir / "sub", {u"z"}));
  EXPECT_TRUE(fs::is_directory(dir / "sub"));
  // A loop of links is refused; no temporary file is left anywhere.
  fs::create_symlink("loop2", dir / "loop1");
  fs::create_symlink("loop1", dir / "loop2");
  EXPECT_FALSE(text::write_lines_file(dir / "loop1", {u"z"}));
  for (const auto &entry : fs::recursive_directory_iterator(dir.path()))
    EXPECT_EQ(entry.path().string().find(".velmora-tmp"), std::string::npos) << entry.path();
}

TEST(Fields, SplitsAtBlankRunsAndKeepsQuotedRuns) {
  EXPECT_EQ(text::split_fields(u"  003 + ∇ A   Δ 1"), (std::vector<u16view>{u"003", u"+", u"∇", u"A", u"Δ", u"1"}));
  auto f = text::split_fields(u"045 Σ \"A B\" next");
  ASSERT_EQ(f.size(), 4u);
  EXPECT_EQ(f[2], u"\"A B\"");
  EXPECT_EQ(f[3], u"next");
  EXPECT_EQ(text::field(u"a b c", 2), u"c");
  EXPECT_EQ(text::field(u"a b c", 3), u"");
  EXPECT_EQ(text::field(u"", 0), u"");
  // An unterminated quote runs to the end of the line.
  EXPECT_EQ(text::field(u"x \"open  end", 1), u"\"open  end");
  // A full-width blank does not separate.
  EXPECT_EQ(text::split_fields(u"a\u3000b").size(), 1u);
}

TEST(Paths, ExplicitHomeWinsOverEnvironment) {
  TempDir dir;
  setenv("VELMORA_HOME", "/nonexistent-env-home", 1);
  EXPECT_EQ(text::resolve_home(dir.path().string()), dir.path());
  EXPECT_EQ(text::resolve_home(), std::filesystem::path("/nonexistent-env-home"));
  unsetenv("VELMORA_HOME");
  EXPECT_EQ(text::resolve_home(), text::executable_dir());
}

// Installed (bin/ beside share/velmora), the home is the user's data
// directory, created on first use; elsewhere the executable's directory.
TEST(Paths, AnInstalledExecutableKeepsItsHomeInTheUsersDataDirectory) {
  TempDir root;
  std::filesystem::create_directories(root.path() / "usr" / "bin");
  const std::filesystem::path bin = root.path() / "usr" / "bin";
  EXPECT_EQ(text::default_home(bin), bin);  // no share/velmora: a build tree
  std::filesystem::create_directories(root.path() / "usr" / "share" / "velmora");
  const char *oldXdg = std::getenv("XDG_DATA_HOME");
  const std::string savedXdg = oldXdg ? oldXdg : "";
  const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
  setenv("XDG_DATA_HOME", (root.path() / "xdg").c_str(), 1);
  EXPECT_EQ(text::default_home(bin), root.path() / "xdg" / "velmora");
  EXPECT_TRUE(std::filesystem::is_directory(root.path() / "xdg" / "velmora"));
  unsetenv("XDG_DATA_HOME");
  setenv("HOME", (root.path() / "user").c_str(), 1);
  EXPECT_EQ(text::default_home(bin), root.path() / "user" / ".local" / "share" / "velmora");
  EXPECT_TRUE(std::filesystem::is_directory(root.path() / "user" / ".local" / "share" / "velmora"));
  setenv("HOME", savedHome.c_str(), 1);
  if (oldXdg) setenv("XDG_DATA_HOME", savedXdg.c_str(), 1);
}

TEST(Numbers, WholeNumbersWithinThe32BitRange) {
  int n = 0;
  EXPECT_TRUE(text::parse_int(u"-2147483648", n));
  EXPECT_EQ(n, INT32_MIN);
  EXPECT_TRUE(text::parse_int(u"16777215", n));
  EXPECT_EQ(n, 16777215);
  EXPECT_FALSE(text::parse_int(u"2147483648", n));
  EXPECT_FALSE(text::parse_int(u"1.5", n));
  EXPECT_FALSE(text::parse_int(u"-", n));
  EXPECT_FALSE(text::parse_int(u"", n));
}

// What a question shows of a program's choosing: nothing in it may break the
// line, hide text or reorder it, a character outside the BMP stays whole,
// and a line is broken between characters, never inside an escape.
TEST(VisibleText, EscapesWhatMovesOrHidesTextAndBreaksBetweenCharacters) {
  using velmora::text::visible_text;
  EXPECT_EQ(visible_text(u"a\rb\nc\tdé\x7F\x85\u00A0"), u"a\\x0Db\\x0Ac\\x09dé\\x7F\\x85\u00A0");
  EXPECT_EQ(visible_text(u"\u202Egpj.exe\u2066\u200F\u061C"), u"\\u202Egpj.exe\\u2066\\u200F\\u061C");
  const std::u16string lone_high(1, char16_t(0xD83D)), lone_low(1, char16_t(0xDE00));
  EXPECT_EQ(visible_text(u"\U0001F600" + lone_high + u"x" + lone_low), u"\U0001F600\\uD83Dx\\uDE00");
  // Width 4: the escape of CR does not fit after "ab" and starts a line of
  // its own; the pair does not fit after "cde" and moves whole.
  EXPECT_EQ(visible_text(u"ab\rcde\U0001F600", 4, u"> "), u"ab\r> \\x0D\r> cde\r> \U0001F600");
  EXPECT_EQ(visible_text(u"abcdefgh", 3, u" "), u"abc\r def\r gh");
}
