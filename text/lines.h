#pragma once
// Text files as lines: reading them in any encoding, writing them whole
// with CR LF line ends so that a failed write leaves the old file.
#include <filesystem>
#include <optional>

#include "text/encoding.h"

namespace velmora::text {

// Splits text into lines at CR LF, LF or CR. A final line end does not start
// another line, so "a\r\nb\r\n" and "a\r\nb" both give two lines.
Lines split_lines(u16view text);

struct TextFile {
  Lines lines;
  Encoding encoding = Encoding::Utf8;
};

// Reads a whole text file into lines (encoding by decode_bytes). Returns
// nothing when the file cannot be opened or is not a regular file.
std::optional<TextFile> read_text_file(const std::filesystem::path &path);
std::optional<std::string> read_file_bytes(const std::filesystem::path &path);

// How a text ends its lines: the kind of the first line end in it, and
// whether its last line has one too. A text without a line end has the
// default kind (CR LF), and its one line none.
struct LineEnds {
  enum Kind { CrLf, Lf, Cr } kind = CrLf;
  bool last = true;
  bool operator==(const LineEnds &) const = default;
};
LineEnds line_ends_of(u16view text);
const char16_t *line_end_text(LineEnds::Kind kind);

// Each line followed by CR LF.
std::string join_lines_crlf(const Lines &lines, Encoding encoding);
// The lines joined by the given line ends, in the encoding.
std::string join_lines(const Lines &lines, Encoding encoding, LineEnds ends);

// Writes the lines with CR LF line ends into a temporary file beside the
// target, flushes it to the disk and renames it over the target, so a failed
// write never leaves a half-written file in its place. A symbolic link is
// written through (the file it points to gets the content, the link stays);
// the target keeps its permissions; a target that exists but is not a
// regular file (a device, a pipe, a directory) is refused. Utf8 writes no
// byte-order mark, Utf8Bom writes one. Returns false on any failure.
bool write_lines_file(const std::filesystem::path &path, const Lines &lines, Encoding encoding = Encoding::Utf8);
// The same with the given line ends (a program file keeps those it was read
// with).
bool write_lines_file(const std::filesystem::path &path, const Lines &lines, Encoding encoding, LineEnds ends);
bool write_file_bytes(const std::filesystem::path &path, std::string_view bytes);

}  // namespace velmora::text
