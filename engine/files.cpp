// Files and directories: the ten numbered files, whole-file reads and
// stores, existence, deletion, volume information and the program and data
// directories.
//
// File names are taken literally; "\" separates directories as "/" does.
// A relative name resolves against the run's data directory, an absolute one
// ("/...") needs its directory to exist. A name with a drive ("C:...") or
// another ":" form has no meaning here and gives the path error. Names are
// resolved to absolute paths; the process's current directory never changes.
#include <sys/statvfs.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>

#include "engine/machine.h"
#include "engine/families.h"
#include "engine/registers.h"
#include "engine/text_ops.h"
#include "text/beneath.h"
#include "text/lines.h"

namespace velmora::engine {

namespace {

namespace fs = std::filesystem;

std::optional<fs::path> resolve(const Machine &e, const u16 &name) {
  // A NUL would end the name early in the system call, so that another
  // file than the one named (and judged) would be opened.
  if (!text::representable_file_name(name)) return std::nullopt;
  u16 n = name;
  for (char16_t &c : n)
    if (c == u'\\') c = u'/';
  if (n.empty()) return std::nullopt;
  if (n[0] == u'/') {
    fs::path p(text::to_utf8(n));
    std::error_code ec;
    fs::path dir = p.parent_path();
    if (!dir.empty() && !fs::is_directory(dir, ec)) return std::nullopt;
    return p;
  }
  if (n.find(u':') != u16::npos) return std::nullopt;
  return e.dataDirectory / text::to_utf8(n);
}

void path_error(Machine &e, const u16 &name, bool withReturn) {
  u16 shown = text::escaped_file_name(name);
  file_failure(e, u"- ファイル パスエラー(" + shown + u")" + (withReturn ? u"\r" : u""), shown);
}

long file_number(Machine &e, TTaskInfo &t, const TPEXE &r, int k) {
  long double n = std::trunc(e.num(t, r, k));
  return n < -1e9L ? -1000000000L : n > 1e9L ? 1000000000L : long(n);
}

TFileInfo *open_file(Machine &e, long n) {
  if (n < 0 || n >= kFiles) return nullptr;
  TFileInfo &f = e.files[std::size_t(n)];
  return f.Path.empty() ? nullptr : &f;
}

// Closes and frees the number. False when data still buffered could not be
// written (a full disk): the caller reports it, so nothing is lost silently.
bool close_file(TFileInfo &f) {
  bool ok = true;
  if (f.FileVarTxt) ok = std::fclose(f.FileVarTxt) == 0;
  f.FileVarTxt = nullptr;
  f.readLines.clear();
  f.readPos = 0;
  f.streaming = false;
  f.nextLine.reset();
  f.Path.clear();
  f.Mode = fmREAD;
  return ok;
}

// The raw bytes of the stream's next line, without its end (CR LF, LF or
// CR); false at the end of the file.
bool read_raw_line(std::FILE *in, std::string &line) {
  line.clear();
  int c;
  while ((c = getc_unlocked(in)) != EOF) {
    if (c == '\n') return true;
    if (c == '\r') {
      int d = getc_unlocked(in);
      if (d != '\n' && d != EOF) std::ungetc(d, in);
      return true;
    }
    line += char(c);
  }
  return !line.empty();
}

// Reads the stream's next line ahead (none at its end).
void read_ahead(TFileInfo &f) {
  f.nextLine.reset();
  std::string raw;
  if (f.FileVarTxt && read_raw_line(f.FileVarTxt, raw)) f.nextLine = text::decode_as(raw, f.readEncoding);
}

// Opens the descriptor as a line stream: the encoding is judged from the
// first 64 KB (whole lines of it), as a whole-file read judges the file.
bool open_stream(TFileInfo &f, int fd) {
  f.FileVarTxt = ::fdopen(fd, "rb");
  if (!f.FileVarTxt) return false;
  std::string head(65536, '\0');
  head.resize(std::fread(head.data(), 1, head.size(), f.FileVarTxt));
  const bool utf16 =
      head.size() >= 2 && ((head[0] == '\xFF' && head[1] == '\xFE') || (head[0] == '\xFE' && head[1] == '\xFF'));
  if (utf16) {
    // Line ends of UTF-16 are not single bytes: such a file is read whole.
    std::string bytes = head;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f.FileVarTxt)) > 0;) bytes.append(buffer, n);
    f.readLines = text::split_lines(text::decode_bytes(bytes).text);
    f.readPos = 0;
    std::fclose(f.FileVarTxt);
    f.FileVarTxt = nullptr;
    return true;
  }
  std::size_t cut = head.size() == 65536 ? head.find_last_of("\r\n") : std::string::npos;
  f.readEncoding =
      text::decode_bytes(cut == std::string::npos ? std::string_view(head) : std::string_view(head).substr(0, cut))
          .encoding;
  if (f.readEncoding == text::Encoding::Utf8Bom) f.readEncoding = text::Encoding::Utf8;
  std::rewind(f.FileVarTxt);
  // A byte-order mark is not part of the first line.
  if (head.rfind("\xEF\xBB\xBF", 0) == 0) std::fseek(f.FileVarTxt, 3, SEEK_SET);
  f.streaming = true;
  read_ahead(f);
  return true;
}

void io_error(Machine &e, TFileInfo &f, const fs::path &path) {
  f.ErrorCode = feIO_ERROR;
  file_failure(e, u"- ファイルI/Oエラー\r" + text::from_utf8(path.string()), text::from_utf8(path.string()));
}

// Closes the number; a failure to write what was buffered is an I/O error.
void close_reporting(Machine &e, TFileInfo &f) {
  fs::path path = f.Path;
  if (!close_file(f)) io_error(e, f, path);
}

void op_open(Machine &e, TTaskInfo &t, const TPEXE &r) {
  long n = file_number(e, t, r, 1);
  u16 name = e.rawStr(r, 3);
  if (e.errorFlag) return;
  if (n < 0) return e.runtimeError(u"- ファイル番号異常エラー");
  if (n >= kFiles) return e.runtimeError(u"- ファイル数エラー\r");
  TFileInfo &f = e.files[std::size_t(n)];
  if (!f.Path.empty()) {
    f.ErrorCode = feALREADY_USED;
    return;
  }
  if (name.empty()) {
    f.ErrorCode = feNOT_SPECIFIED;
    return e.runtimeError(u"- ファイル未指定エラー\r");
  }
  const u16 &mode = r.Param[5];
  if (mode != u"READ" && mode != u"WRITE" && mode != u"APPEND") return;
  auto path = resolve(e, name);
  if (!path) return path_error(e, name, false);
  f.ErrorCode = feNON;
  auto fail = [&] {
    f.ErrorCode = feOPEN_ERROR;
    u16 shown = text::from_utf8(path->string());
    f.Path.clear();
    file_failure(e, u"- ファイルオープンエラー\r" + shown, shown);
  };
  if (mode == u"READ") {
    int fd = e.openForReading(*path, u"FILE OPEN");
    if (e.errorFlag) return;
    if (fd < 0) return fail();
    if (!open_stream(f, fd)) {
      ::close(fd);
      return fail();
    }
    f.Mode = fmREAD;
  } else {
    // Created or truncated only once it is known to be a regular file with
    // no other name; a FIFO is refused without waiting for a reader.
    int fd = e.openForWriting(*path, mode == u"APPEND", u"FILE OPEN");
    if (e.errorFlag) return;
    if (fd < 0) return fail();
    f.FileVarTxt = ::fdopen(fd, mode == u"WRITE" ? "wb" : "ab");
    if (!f.FileVarTxt) {
      ::close(fd);
      return fail();
    }
    f.Mode = mode == u"WRITE" ? fmWRITE : fmAPPEND;
  }
  f.Path = *path;
}

void op_close(Machine &e, TTaskInfo &t, const TPEXE &r) {
  if (TFileInfo *f = open_file(e, file_number(e, t, r, 1))) close_reporting(e, *f);
}

void op_read(Machine &e, TTaskInfo &t, const TPEXE &r) {
  TFileInfo *f = open_file(e, file_number(e, t, r, 1));
  if (!f || f->Mode != fmREAD || r.Param[3] != u"Σ") return;
  u16 line;
  if (f->streaming) {
    if (f->nextLine) {
      line = std::move(*f->nextLine);
      read_ahead(*f);
    }
  } else if (f->readPos < f->readLines.size()) {
    line = std::move(f->readLines[f->readPos++]);
  }
  e.setString(r.Param[4], line);
}

void op_write(Machine &e, TTaskInfo &t, const TPEXE &r) {
  TFileInfo *f = open_file(e, file_number(e, t, r, 1));
  if (!f || (f->Mode != fmWRITE && f->Mode != fmAPPEND) || !f->FileVarTxt) return;
  std::string bytes;
  bool number = r.Param[3] == u"∇" || r.Param[3] == u"Δ" || r.Param[3] == u"xN";
  if (number) {
    long double v = std::trunc(e.num(t, r, 3));
    bytes = std::to_string((long long)v);
  } else {
    bytes = text::to_utf8(e.str(r, 3)) + "\r\n";
  }
  if (e.errorFlag) return;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f->FileVarTxt) == bytes.size();
  if (number || !ok) ok = std::fflush(f->FileVarTxt) == 0 && ok;
  if (!ok) io_error(e, *f, f->Path);
}

void op_eof(Machine &e, TTaskInfo &t, const TPEXE &r) {
  TFileInfo *f = open_file(e, file_number(e, t, r, 2));
  if (!f) return;
  bool atEnd = f->Mode != fmREAD ? true : f->streaming ? !f->nextLine : f->readPos >= f->readLines.size();
  t.FLAG = atEnd != r.negated;
}

void op_exist(Machine &e, TTaskInfo &t, const TPEXE &r) {
  u16 name = e.rawStr(r, 2);
  if (e.errorFlag) return;
  auto path = resolve(e, name);
  std::error_code ec;
  bool exists = path && !name.empty() && fs::exists(*path, ec);
  t.FLAG = exists != r.negated;
}

// The lines of a decoded text, as split_lines gives them; a text of one
// line (a page written on one line) is moved into its line, not copied.
Lines lines_of(u16 &&text) {
  std::size_t end = text.size();
  if (end > 0 && text[end - 1] == u'\n') --end;
  if (end > 0 && text[end - 1] == u'\r') --end;
  bool one = true;
  std::size_t i = 0;
  for (; i + 4 <= end && one; i += 4) {
    std::uint64_t w, cr, lf;
    std::memcpy(&w, text.data() + i, sizeof w);
    cr = w ^ 0x000D000D000D000DULL;
    lf = w ^ 0x000A000A000A000AULL;
    one = ((((cr - 0x0001000100010001ULL) & ~cr) | ((lf - 0x0001000100010001ULL) & ~lf)) & 0x8000800080008000ULL) == 0;
  }
  for (; i < end && one; ++i) one = text[i] != u'\r' && text[i] != u'\n';
  if (!one || text.empty()) return text::split_lines(text);
  text.resize(end);
  Lines lines;
  lines.push_back(std::move(text));
  return lines;
}

void read_whole_file(Machine &e, TTaskInfo &t, const u16 &name) {
  if (name.empty()) return;
  auto path = resolve(e, name);
  if (!path) return path_error(e, name, true);
  auto bytes = e.readFile(*path, u"<*>");
  if (e.errorFlag) return;
  if (!bytes)
    return file_failure(e, u"- ファイル ロード　エラー：ファイル名(" + name + u")", text::from_utf8(path->string()));
  t.LIST_WORK = lines_of(std::move(text::decode_bytes(*bytes).text));
  t.LIST_REM.clear();
  finish_list(t);
}

void op_text_file_get(Machine &e, TTaskInfo &t, const TPEXE &r) {
  t.Encode_Load = TextEncoding::None;
  u16 name = e.rawStr(r, 1);
  if (e.errorFlag) return;
  if (is_url(name)) return start_get(e, t, name, false);
  read_whole_file(e, t, name);
}

void op_get_file_encoded(Machine &e, TTaskInfo &t, const TPEXE &r) {
  t.Encode_Load = r.Param[1] == u"UTF8" ? TextEncoding::Utf8 : TextEncoding::None;
  u16 name = e.rawStr(r, 2);
  if (e.errorFlag) return;
  if (is_url(name)) return start_get(e, t, name, true);
  read_whole_file(e, t, name);
}

void op_file_store(Machine &e, TTaskInfo &t, const TPEXE &r) {
  u16 name = e.rawStr(r, 1);
  if (e.errorFlag) return;
  auto path = resolve(e, name);
  if (!path) return path_error(e, name, true);
  // Written beside the target and renamed over it: a failed store never
  // leaves a half-written file behind.
  if (!e.replaceFile(*path, text::join_lines_crlf(t.LIST_WORK.lines(), text::Encoding::Utf8), u"<*> =") && !e.errorFlag)
    file_failure(e, u"- ファイルI/Oエラー\r" + text::from_utf8(path->string()), text::from_utf8(path->string()));
}

void op_file_delete(Machine &e, TTaskInfo &, const TPEXE &r) {
  u16 name = e.rawStr(r, 1);
  if (e.errorFlag) return;
  auto path = resolve(e, name);
  if (!path) return;
  std::error_code ec;
  if (!fs::is_regular_file(*path, ec) && !fs::is_symlink(*path, ec)) return;
  e.deleteFile(*path, u"<!!!>");
}

// The file system that holds a path: label, type and serial number.
struct Volume {
  u16 label, type, serial = u"00000000";
};

Volume volume_of(const fs::path &p) {
  Volume v;
  struct statvfs st {};
  if (statvfs(p.c_str(), &st) != 0) return v;
  char serial[16];
  std::snprintf(serial, sizeof serial, "%08lX", (unsigned long)(st.f_fsid & 0xFFFFFFFFul));
  v.serial = text::ascii16(serial);
  // The mount with the longest mount point that contains the path.
  std::error_code ec;
  fs::path canonical = fs::weakly_canonical(p, ec);
  std::string target = canonical.string();
  std::ifstream mounts("/proc/self/mounts");
  std::string device, point, type, rest;
  std::size_t best = 0;
  std::string bestDevice;
  while (mounts >> device >> point >> type && std::getline(mounts, rest)) {
    bool inside =
        target.rfind(point, 0) == 0 && (point == "/" || target.size() == point.size() || target[point.size()] == '/');
    if (inside && point.size() >= best) {
      best = point.size();
      v.type = text::from_utf8(type);
      bestDevice = device;
    }
  }
  for (const auto &entry : fs::directory_iterator("/dev/disk/by-label", ec)) {
    std::error_code ec2;
    if (fs::canonical(entry.path(), ec2) == fs::path(bestDevice))
      v.label = text::from_utf8(entry.path().filename().string());
  }
  return v;
}

void op_volume_info(Machine &e, TTaskInfo &t, const TPEXE &r) {
  u16 drive = e.str(r, 1);
  if (e.errorFlag) return;
  u16 d = drive;
  for (char16_t &c : d)
    if (c == u'\\') c = u'/';
  // A drive letter alone stands for the root of the file system.
  bool letter = d.size() <= 3 && !d.empty() && text::is_ascii_alpha(d[0]) && (d.size() == 1 || d[1] == u':');
  fs::path p = letter                      ? fs::path("/")
               : d.empty() || d[0] != u'/' ? e.dataDirectory / text::to_utf8(d)
                                           : fs::path(text::to_utf8(d));
  Volume v = volume_of(p);
  begin_list(t);
  for (u16 line : {drive, v.label, v.type, v.serial}) t.LIST_WORK.push_back(std::move(line));
}

void op_dir_set(Machine &e, TTaskInfo &t, const TPEXE &r) {
  u16 dir = e.rawStr(r, 2);
  if (e.errorFlag) return;
  if (!text::representable_file_name(dir)) return path_error(e, dir, false);
  // Moving the data directory moves where files may be written freely;
  // the program directory is where pages are saved and loaded, and part of
  // the program's own directory: either is an access outside the data
  // directory unless it lies inside it.
  if (!e.fileWritePermitted(fs::path(text::to_utf8(dir)), r.Param[1] == u"DATA" ? u"DIR DATA" : u"DIR PROG")) return;
  deliver_string(t, e.host->Directory_Set(r.Param[1], dir));
}

void op_dir_get(Machine &e, TTaskInfo &t, const TPEXE &r) { deliver_string(t, e.host->Directory_Get(r.Param[1])); }

}  // namespace

void file_failure(Machine &e, u16view message, u16view path) {
  if (e.stopOnFileError) return e.runtimeError(message);
  e.console.addLine(u"- ファイルI/Oエラー(無視) " + u16(path));
}

bool Machine::closeAllFiles() {
  bool ok = true;
  for (TFileInfo &f : files) {
    if (f.Path.empty()) continue;
    fs::path path = f.Path;
    if (!close_file(f)) {
      io_error(*this, f, path);
      ok = false;
    }
  }
  return ok;
}

void register_files(Machine &e) {
  e.setHandler(opFILE_OPEN, op_open);
  e.setHandler(opFILE_CLOSE, op_close);
  e.setHandler(opFILE_READ, op_read);
  e.setHandler(opFILE_WRITE, op_write);
  e.setHandler(opFILE_EOF, op_eof);
  e.setHandler(opFILE_EXIST, op_exist);
  e.setHandler(opTEXT_FILE_GET, op_text_file_get);
  e.setHandler(opGET_FILE_ENCODED, op_get_file_encoded);
  e.setHandler(opFILE_STORE, op_file_store);
  e.setHandler(opFILE_DELETE, op_file_delete);
  e.setHandler(opVOLUME_INFO, op_volume_info);
  e.setHandler(opDIR_SET, op_dir_set);
  e.setHandler(opDIR_GET, op_dir_get);
}

}  // namespace velmora::engine
