#include <fstream>
#include <iterator>

#include "engine/tests/machine_fixture.h"
#include "tests/unit/temp_dir.h"
#include "text/encoding.h"
#include "text/lines.h"

using namespace velmora;
using namespace velmora::engine;
using velmora::testing::tcode;
using velmora::testing::TempDir;

namespace {

class Files : public velmora::testing::MachineTest {
 protected:
  TempDir dir;
  void SetUp() override { e.dataDirectory = dir.path(); }
};

}  // namespace

TEST_F(Files, ShiftJisAndUtf8FilesReadIntoTheSameText) {
  dir.write("sjis.txt", "\x93\xfa\x96\x7b\r\nB\r\n");
  dir.write("utf8.txt", "\xe6\x97\xa5\xe6\x9c\xac\nB");
  execute(tcode({u"331 <*> Ω \"sjis.txt\"", u"321 Σ &A []", u"374 <*> UTF8 Ω \"utf8.txt\"", u"321 Σ &B []",
                 u"700 FILE ( Δ 1 ) . OPEN ( Ω \"sjis.txt\" , READ )", u"702 FILE ( Δ 1 ) . READ ( Σ &S )"}),
          {u"&A", u"&B", u"&S"});
  ASSERT_FALSE(e.errorFlag) << text::to_utf8(lastConsoleLine());
  EXPECT_EQ(var(u"&A").StrList, (Lines{u"日本", u"B"}));
  EXPECT_EQ(var(u"&A").StrList, var(u"&B").StrList);
  EXPECT_EQ(var(u"&S").StrVal, u"日本");
}

TEST_F(Files, SecondOpenOfANumberInUseIsSilentAndClosingFreesIt) {
  dir.write("a.txt", "a\n");
  dir.write("b.txt", "b\n");
  execute(tcode({u"700 FILE ( Δ 3 ) . OPEN ( Ω \"a.txt\" , READ )", u"700 FILE ( Δ 3 ) . OPEN ( Ω \"b.txt\" , READ )",
                 u"702 FILE ( Δ 3 ) . READ ( Σ &S )", u"320 Σ &X", u"701 FILE ( Δ 3 ) . CLOSE",
                 u"700 FILE ( Δ 3 ) . OPEN ( Ω \"b.txt\" , READ )", u"702 FILE ( Δ 3 ) . READ ( Σ &T )"}),
          {u"&S", u"&T", u"&X"});
  EXPECT_FALSE(e.errorFlag);
  EXPECT_EQ(var(u"&S").StrVal, u"a");
  EXPECT_EQ(var(u"&T").StrVal, u"b");
  EXPECT_EQ(e.files[3].ErrorCode, feNON);
  EXPECT_FALSE(e.files[3].Path.empty());
  e.closeAllFiles();  // as the run loop does when a run ends
  EXPECT_TRUE(e.files[3].Path.empty());
}

TEST_F(Files, WriteNumbersWithoutLineEndAndAppend) {
  execute(
      tcode({u"005 Δ 12.7", u"022 ∇ N =", u"700 FILE ( Δ 0 ) . OPEN ( Ω \"n.txt\" , WRITE )",
             u"703 FILE ( Δ 0 ) . WRITE ( ∇ N )", u"703 FILE ( Δ 0 ) . WRITE ( Ω \"x\" )", u"701 FILE ( Δ 0 ) . CLOSE",
             u"700 FILE ( Δ 0 ) . OPEN ( Ω \"n.txt\" , APPEND )", u"703 FILE ( Δ 0 ) . WRITE ( Ω \"y\" )"}),
      {u"N"});
  EXPECT_FALSE(e.errorFlag) << text::to_utf8(lastConsoleLine());
  e.closeAllFiles();
  EXPECT_EQ(*text::read_file_bytes(dir / "n.txt"), "12x\r\ny\r\n");
}

TEST_F(Files, OpenFailuresAndTheirMessages) {
  struct Case {
    const char16_t *code;
    const char16_t *line;
  } cases[] = {
      {u"700 FILE ( xN 1 ) . OPEN ( Ω \"a\" , READ )", u"- ファイル番号異常エラー"},
      {u"700 FILE ( Δ 10 ) . OPEN ( Ω \"a\" , READ )", u"- ファイル数エラー\r"},
      {u"700 FILE ( Δ 1 ) . OPEN ( Ω \"\" , READ )", u"- ファイル未指定エラー\r"},
      {u"700 FILE ( Δ 1 ) . OPEN ( Ω \"Q:\\nowhere\\a.txt\" , READ )", u"- ファイル パスエラー(Q:\\nowhere\\a.txt)"},
      {u"331 <*> Ω \"C:\\x.txt\"", u"- ファイル パスエラー(C:\\x.txt)\r"},
      {u"331 <*> Ω \"missing.txt\"", u"- ファイル ロード　エラー：ファイル名(missing.txt)"},
  };
  for (const Case &c : cases) {
    execute(tcode({c.code}));
    EXPECT_TRUE(e.errorFlag) << text::to_utf8(c.code);
    EXPECT_EQ(lastConsoleLine(), c.line) << text::to_utf8(c.code);
  }
  // A missing file, and a directory given as a file, cannot be opened.
  std::filesystem::create_directory(dir / "sub");
  for (const char16_t *code :
       {u"700 FILE ( Δ 1 ) . OPEN ( Ω \"missing.txt\" , READ )", u"700 FILE ( Δ 1 ) . OPEN ( Ω \"sub\" , READ )",
        u"700 FILE ( Δ 1 ) . OPEN ( Ω \"sub\" , WRITE )"}) {
    execute(tcode({code}));
    EXPECT_EQ(lastConsoleLine().substr(0, 14), u"- ファイルオープンエラー\r") << text::to_utf8(code);
    EXPECT_EQ(e.files[1].ErrorCode, feOPEN_ERROR);
    EXPECT_TRUE(e.files[1].Path.empty());
  }
  // Numbers out of range or not in use are ignored by the other instructions.
  execute(tcode({u"701 FILE ( Δ 12 ) . CLOSE", u"702 FILE ( Δ 4 ) . READ ( Σ &S )", u"704 FILE ( xN 1 ) . EOF"}),
          {u"&S"});
  EXPECT_FALSE(e.errorFlag);
}

TEST_F(Files, ExistStoreAndDeleteInTheDataDirectory) {
  execute(
      tcode({u"301 Σ &L [] += Ω \"x\"", u"330 Σ &L []", u"325 <*> Ω \"sub\\out.txt\" =", u"705 EXIST Ω \"out.txt\""}),
      {u"&L"});
  EXPECT_EQ(lastConsoleLine().substr(0, 13), u"- ファイルI/Oエラー\r");  // no directory "sub"
  std::filesystem::create_directory(dir / "sub");
  execute(tcode({u"301 Σ &L [] += Ω \"x\"", u"330 Σ &L []", u"325 <*> Ω \"sub\\out.txt\" =",
                 u"705 EXIST Ω \"sub\\out.txt\""}),
          {u"&L"});
  EXPECT_TRUE(e.tasks[0].FLAG);
  EXPECT_EQ(*text::read_file_bytes(dir / "sub" / "out.txt"), "x\r\n");
  execute(tcode({u"328 <!!!> Ω \"sub/out.txt\"", u"705 NOT EXIST Ω \"sub/out.txt\""}));
  EXPECT_TRUE(e.tasks[0].FLAG);
  EXPECT_FALSE(std::filesystem::exists(dir / "sub" / "out.txt"));
}

TEST_F(Files, BadBytesAndLargeFilesAreReadNotCrashedOn) {
  dir.write("nul.txt", std::string("a\0b\r\n\xff\xfe\xfd\r\n", 9));
  execute(tcode({u"331 <*> Ω \"nul.txt\"", u"321 Σ &L []"}), {u"&L"});
  EXPECT_FALSE(e.errorFlag);
  const LineList &l = var(u"&L").StrList;
  ASSERT_EQ(l.size(), 2u);
  EXPECT_EQ(l[0], u16(u"a\0b", 3));
  std::string big;
  big.reserve(51u << 20);
  std::size_t lines = 0;
  for (; big.size() < (50u << 20); ++lines) big += "0123456789 abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTU\r\n";
  dir.write("big.txt", big);
  execute(tcode({u"331 <*> Ω \"big.txt\"", u"321 Σ &L []"}), {u"&L"});
  EXPECT_FALSE(e.errorFlag);
  EXPECT_EQ(var(u"&L").StrList.size(), lines);
}

TEST_F(Files, VolumeInformationOfTheRoot) {
  execute(tcode({u"460 VOLINF Ω \"C\"", u"321 Σ &V []"}), {u"&V"});
  const LineList &v = var(u"&V").StrList;
  ASSERT_EQ(v.size(), 4u);
  EXPECT_EQ(v[0], u"C");
  EXPECT_FALSE(v[2].empty());  // the file system type of "/"
  EXPECT_EQ(v[3].size(), 8u);
}

// FILE OPEN READ streams the file: the lines, their ends (CR LF, LF, CR),
// a byte-order mark, Shift-JIS, a missing last line end and empty lines
// come out as a whole-file read gives them, and EOF holds exactly after
// the last line.
TEST_F(Files, ReadingLineByLineGivesWhatAWholeFileReadGives) {
  const std::string texts[] = {
      "\xEF\xBB\xBF"
      "first\r\nsecond\nthird\r\rafter empty\r\n\r\nlast",
      "\x93\xfa\x96\x7b\r\n\r\nB\r\n", "", "\n", "only"};
  for (const std::string &text : texts) {
    dir.write("t.txt", text);
    auto whole = text::read_text_file(dir / "t.txt");
    ASSERT_TRUE(whole);
    const std::size_t n = whole->lines.size();
    for (std::size_t reads : {n > 0 ? n - 1 : 0, n, n + 1}) {
      Lines program = {u"700 FILE ( Δ 1 ) . OPEN ( Ω \"t.txt\" , READ )"};
      Lines names;
      for (std::size_t i = 0; i < reads; ++i) {
        program.push_back(u"702 FILE ( Δ 1 ) . READ ( Σ &S" + text::int16(int(i)) + u" )");
        names.push_back(u"&S" + text::int16(int(i)));
      }
      Lines code;  // T-code lines as tcode() numbers them
      for (const u16 &text : program) {
        u16 number = text::int16(int(code.size()) + 1);
        code.push_back(u16(5 - number.size(), u'0') + number + u" " + text);
      }
      execute(code, names);
      ASSERT_FALSE(e.errorFlag) << text::to_utf8(lastConsoleLine());
      for (std::size_t i = 0; i < reads; ++i)
        EXPECT_EQ(var((u"&S" + text::int16(int(i))).c_str()).StrVal, i < n ? whole->lines[i] : u16())
            << text << " line " << i;
      // EOF: no line follows once all were read.
      EXPECT_EQ(e.files[1].nextLine.has_value() || e.files[1].readPos < e.files[1].readLines.size(), reads < n) << text;
      e.closeAllFiles();
    }
  }
}

// One line of a big file is read without loading the file.
TEST_F(Files, ReadingOneLineOfABigFileTakesLittleMemory) {
  {
    std::ofstream big(dir / "big.txt", std::ios::binary);
    std::string line(1023, 'x');
    line += '\n';
    for (int i = 0; i < 256 * 1024; ++i) big << line;  // 256 MB
  }
  execute(tcode({u"700 FILE ( Δ 1 ) . OPEN ( Ω \"big.txt\" , READ )", u"702 FILE ( Δ 1 ) . READ ( Σ &S )"}), {u"&S"});
  ASSERT_FALSE(e.errorFlag) << text::to_utf8(lastConsoleLine());
  EXPECT_EQ(var(u"&S").StrVal.size(), 1023u);
  EXPECT_TRUE(e.files[1].readLines.empty());  // streamed, not read whole
  e.closeAllFiles();
}

// Text files are decoded sixteen bytes at a time where the bytes are ASCII:
// a character of every kind, a Shift-JIS pair and invalid bytes at every
// offset around those blocks, with and without a byte-order mark, give the
// same lines read whole and the same first line read as a stream.
TEST_F(Files, NonAsciiBytesAtEveryOffsetOfTheAsciiBlocksReadAsTheyAre) {
  struct Piece {
    std::string bytes;
    u16 text;  // as UTF-8; empty: not valid UTF-8 (the file is Shift-JIS)
  };
  const Piece pieces[] = {
      {"\xc3\xa9", u"é"},
      {"\xe6\x97\xa5", u"日"},
      {"\xf0\x9f\x98\x80", u"\U0001F600"},
      {"\x93\xfa\x96\x7b", u""},  // 日本 in Shift-JIS
      {"\xff", u""},              // no character in either
      {"\xe6\x97", u""},          // a UTF-8 sequence cut short
  };
  auto split = [](const u16 &text) {
    Lines lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i)
      if (text[i] == u'\r' || text[i] == u'\n') {
        lines.push_back(text.substr(start, i - start));
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
        start = i + 1;
      }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
  };
  const std::string line = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKL";  // 48 bytes
  const char *ends[] = {"\r\n", "\n", "\r"};
  int files = 0;
  for (std::size_t at = 0; at <= 40; ++at)
    for (const Piece &piece : pieces)
      for (bool bom : {false, true}) {
        if (bom && piece.text.empty()) continue;  // a mark says UTF-8
        const char *end = ends[(at + piece.bytes.size()) % 3];
        // The piece in the first line, and again near the end of the second.
        std::string bytes =
            line.substr(0, at) + piece.bytes + line.substr(at) + end + line.substr(0, 20) + piece.bytes + "z" + end;
        u16 expected;
        if (!piece.text.empty()) {
          const u16 ascii = text::from_utf8(line);
          expected =
              ascii.substr(0, at) + piece.text + ascii.substr(at) + u"\n" + ascii.substr(0, 20) + piece.text + u"z\n";
        } else if (piece.bytes == "\x93\xfa\x96\x7b") {
          const u16 ascii = text::from_utf8(line);
          expected = ascii.substr(0, at) + u"日本" + ascii.substr(at) + u"\n" + ascii.substr(0, 20) + u"日本z\n";
        } else {
          expected = text::from_cp932(bytes);
        }
        if (bom) bytes = "\xef\xbb\xbf" + bytes;
        dir.write("f.txt", bytes);
        execute(tcode({u"331 <*> Ω \"f.txt\"", u"321 Σ &A []", u"700 FILE ( Δ 1 ) . OPEN ( Ω \"f.txt\" , READ )",
                       u"702 FILE ( Δ 1 ) . READ ( Σ &S )", u"701 FILE ( Δ 1 ) . CLOSE"}),
                {u"&A", u"&S"});
        ASSERT_FALSE(e.errorFlag) << at;
        const Lines want = split(expected);
        ASSERT_EQ(want.size(), 2u);
        ASSERT_EQ(var(u"&A").StrList, want) << "offset " << at << ", piece of " << piece.bytes.size() << " bytes";
        ASSERT_EQ(var(u"&S").StrVal, want[0]) << "offset " << at;
        ++files;
      }
  EXPECT_EQ(files, 41 * 9);
}

// A file of one line is read without splitting (its text becomes the line):
// the same lines as splitting gives, whatever ends the line or the file.
TEST_F(Files, OneLineFilesReadAsSplittingReadsThem) {
  const std::string texts[] = {"",
                               "abc",
                               "abc\r\n",
                               "abc\n",
                               "abc\r",
                               "\n",
                               "\r\n",
                               "\r",
                               "\n\r",
                               "abc\n\n",
                               "abc\r\r\n",
                               "a\rb",
                               "a\nb\r\n",
                               "0123456789abcdef0123456789",
                               "0123456789abcdef0123456\r\n"};
  for (const std::string &bytes : texts) {
    dir.write("one.txt", bytes);
    execute(tcode({u"331 <*> Ω \"one.txt\"", u"321 Σ &A []"}), {u"&A"});
    ASSERT_FALSE(e.errorFlag);
    EXPECT_EQ(var(u"&A").StrList, text::split_lines(text::from_utf8(bytes))) << bytes;
  }
}

// A whole-file read gives every byte, whatever the size against the read
// steps, and reads on past the size the file had when opened (a file of
// the kernel's has none).
TEST_F(Files, WholeFileReadsGiveEveryByte) {
  for (std::size_t size : {0u, 1u, 4095u, 4096u, 65535u, 65536u, 65537u, 300001u}) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = char('a' + (i * 7 + i / 26) % 26);
    const auto path = dir.write("whole.txt", bytes);
    auto read = e.readFile(path, u"<*>");
    ASSERT_TRUE(read.has_value()) << size;
    EXPECT_EQ(*read, bytes) << size;
  }
  // A file of the kernel's: a regular file whose size reads as 0.
  std::ifstream in("/proc/version", std::ios::binary);
  const std::string version((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(version.empty());
  auto read = e.readFile("/proc/version", u"<*>");
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(*read, version);
}
