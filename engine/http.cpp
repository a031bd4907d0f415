#include "engine/http.h"

#ifndef __EMSCRIPTEN__
#include <curl/curl.h>
#endif

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <mutex>

#include "engine/machine.h"
#include "engine/families.h"
#include "engine/registers.h"
#include "text/beneath.h"
#include "text/lines.h"

namespace velmora::engine {

namespace {

#ifndef __EMSCRIPTEN__
void global_init() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Headers {
  std::string statusText, length, mime, charset, lastModified, date, encoding, language;
};

std::string trim(std::string s) {
  while (!s.empty() && (s.back() == '\r' || s.back() == '\n' || s.back() == ' ')) s.pop_back();
  std::size_t a = s.find_first_not_of(' ');
  return a == std::string::npos ? std::string() : s.substr(a);
}

std::size_t on_header(char *data, std::size_t size, std::size_t n, void *user) {
  auto *h = static_cast<Headers *>(user);
  std::string line(data, size * n);
  if (line.rfind("HTTP/", 0) == 0) {
    // A new response (after a redirect): "HTTP/1.1 200 OK".
    *h = Headers{};
    std::size_t a = line.find(' ');
    std::size_t b = a == std::string::npos ? a : line.find(' ', a + 1);
    h->statusText = b == std::string::npos ? std::string() : trim(line.substr(b + 1));
    return size * n;
  }
  std::size_t colon = line.find(':');
  if (colon == std::string::npos) return size * n;
  std::string name = line.substr(0, colon), value = trim(line.substr(colon + 1));
  for (char &c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
  if (name == "content-length") h->length = value;
  else if (name == "last-modified") h->lastModified = value;
  else if (name == "date") h->date = value;
  else if (name == "content-encoding") h->encoding = value;
  else if (name == "content-language") h->language = value;
  else if (name == "content-type") {
    std::size_t semi = value.find(';');
    h->mime = trim(value.substr(0, semi));
    std::size_t cs = value.find("charset=");
    if (cs != std::string::npos) h->charset = trim(value.substr(cs + 8));
  }
  return size * n;
}

std::size_t on_body(char *data, std::size_t size, std::size_t n, void *user) {
  return std::fwrite(data, size, n, static_cast<std::FILE *>(user)) * size;
}

int on_progress(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<HttpTransfer *>(user)->cancelled ? 1 : 0;
}

std::string encode_field(CURL *curl, const std::string &line) {
  std::size_t eq = line.find('=');
  auto enc = [&](const std::string &s) {
    char *e = curl_easy_escape(curl, s.c_str(), int(s.size()));
    std::string out = e ? e : "";
    curl_free(e);
    return out;
  };
  if (eq == std::string::npos) return enc(line);
  return enc(line.substr(0, eq)) + "=" + enc(line.substr(eq + 1));
}

void run_transfer(HttpTransfer &t) {
  // The body goes to the transfer's own file, which only this worker
  // writes and the main thread reads once the worker is done.
  int fd = ::fcntl(t.body, F_DUPFD_CLOEXEC, 0);
  std::FILE *out = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
  if (!out) {
    if (fd >= 0) ::close(fd);
    t.error = "cannot write " + t.file.string();
    t.done = true;
    return;
  }
  CURL *curl = curl_easy_init();
  Headers headers;
  std::string fields;
  if (t.post) {
    std::size_t start = 0;
    const std::string &p = t.postFields;
    while (start <= p.size()) {
      std::size_t end = p.find('\r', start);
      if (end == std::string::npos) end = p.size();
      std::string line = p.substr(start, end - start);
      if (!line.empty()) fields += (fields.empty() ? "" : "&") + encode_field(curl, line);
      start = end + 1;
    }
  }
  // http and https only, for the request and every redirect: a server
  // that redirects to file:// or gopher:// gets nothing read or sent.
  CURLcode limited = curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  if (limited == CURLE_OK) limited = curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  if (limited != CURLE_OK) {
    curl_easy_cleanup(curl);
    std::fclose(out);
    t.error = curl ? "libcurl cannot be limited to http and https" : curl_easy_strerror(limited);
    t.done = true;
    return;
  }
  curl_easy_setopt(curl, CURLOPT_URL, t.url.c_str());
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_COOKIEFILE, "");
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, on_header);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &headers);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, on_body);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, out);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, on_progress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &t);
  if (t.connectTimeoutMs > 0) curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, t.connectTimeoutMs);
  if (t.timeoutMs > 0) curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, t.timeoutMs);
  if (t.stallSeconds > 0) {
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, t.stallSeconds);
  }
  curl_easy_setopt(curl, CURLOPT_USERAGENT, t.userAgent.empty() ? "Velmora/0.1" : t.userAgent.c_str());
  if (t.post) {
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_COPYPOSTFIELDS, fields.c_str());
  }
  CURLcode rc = curl_easy_perform(curl);
  if (std::fclose(out) != 0 && rc == CURLE_OK) rc = CURLE_WRITE_ERROR;
  if (rc == CURLE_OK) {
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    auto line = [&](const char *label, const std::string &value) {
      t.report.push_back(text::from_utf8(std::string(label) + value));
    };
    line(" Status-Code:", std::to_string(status));
    line(" Status-Text:", headers.statusText);
    line("      Length:", headers.length);
    line("   Mime-Type:", headers.mime);
    line("LastModified:", headers.lastModified);
    line("        Date:", headers.date);
    line("    Char-Set:", headers.charset);
    line("    Encoding:", headers.encoding);
    line("    Language:", headers.language);
    struct curl_slist *cookies = nullptr;
    curl_easy_getinfo(curl, CURLINFO_COOKIELIST, &cookies);
    int i = 0;
    for (struct curl_slist *c = cookies; c; c = c->next, ++i) {
      // Netscape format: domain, subdomains, path, secure, expiry, name, value.
      std::vector<std::string> f;
      std::string s = c->data;
      std::size_t start = 0;
      for (std::size_t tab; (tab = s.find('\t', start)) != std::string::npos; start = tab + 1)
        f.push_back(s.substr(start, tab - start));
      f.push_back(s.substr(start));
      if (f.size() < 7) continue;
      bool httpOnly = f[0].rfind("#HttpOnly_", 0) == 0;
      std::string domain = httpOnly ? f[0].substr(10) : f[0];
      char expire[16] = "";
      std::time_t when = std::time_t(std::atoll(f[4].c_str()));
      std::tm tm{};
      if (when > 0 && gmtime_r(&when, &tm)) std::strftime(expire, sizeof expire, "%Y-%m-%d", &tm);
      std::string prefix = "Cookies_" + std::to_string(i);
      line((prefix + ":Name=").c_str(), f[5]);
      line((prefix + ":Value=").c_str(), f[6]);
      line((prefix + ":Expire=").c_str(), expire);
      line((prefix + ":Domain=").c_str(), domain);
      line((prefix + ":Path=").c_str(), f[2]);
      line((prefix + ":Secure=").c_str(), f[3] == "TRUE" ? "True" : "False");
      line((prefix + ":HttpOnly=").c_str(), httpOnly ? "True" : "False");
    }
    curl_slist_free_all(cookies);
    t.ok = true;
  } else {
    t.error = curl_easy_strerror(rc);
  }
  curl_easy_cleanup(curl);
  t.done = true;
}

#endif  // the browser build transfers with its own fetch (web/src/web_http.cpp)

bool starts_with_any_case(u16view s, const char *prefix) {
  std::string p(prefix);
  if (s.size() < p.size()) return false;
  for (std::size_t i = 0; i < p.size(); ++i)
    if (text::ascii_upper(s[i]) != char16_t(p[i])) return false;
  return true;
}

}  // namespace

void HttpTransfer::start() {
#ifdef __EMSCRIPTEN__
  web_transfer(*this);  // synchronous: the browser worker has no threads
#else
  global_init();
  worker = std::thread([this] { run_transfer(*this); });
#endif
}

HttpTransfer::~HttpTransfer() {
  cancelled = true;
  if (worker.joinable()) worker.join();
  if (body >= 0) ::close(body);
  if (dirfd >= 0) ::close(dirfd);
}

bool is_url(u16view name) { return starts_with_any_case(name, "HTTP:") || starts_with_any_case(name, "HTTPS:"); }

std::filesystem::path transfer_file(const Machine &e, int slot) {
  return e.dataDirectory / ("_net_" + std::to_string(slot) + ".$$$");
}

bool web_url_allowed(u16view url) {
  for (char16_t c : url)
    if (c <= u' ' || c == 0x7F) return false;
  return starts_with_any_case(url, "HTTP://") || starts_with_any_case(url, "HTTPS://");
}

u16 url_target(u16view url) {
  std::size_t start = url.find(u"//");
  if (start == u16view::npos) return u16(url);
  start += 2;
  std::size_t end = url.find_first_of(u"/?#", start);
  u16view authority = url.substr(start, end == u16view::npos ? u16view::npos : end - start);
  // "user:password@host": the host is what a connection reaches.
  std::size_t at = authority.rfind(u'@');
  if (at != u16view::npos) authority.remove_prefix(at + 1);
  return authority.empty() ? u16(url) : u16(authority);
}

#ifndef __EMSCRIPTEN__
namespace {
// The body's file, this transfer's alone: unnamed in the data directory
// (O_TMPFILE), or where the file system has no unnamed files, made under
// an unpredictable name (exclusively) and unlinked at once. Two runs on one
// data directory never meet in it, and however a run ends, it leaves
// nothing behind.
int open_body(int dirfd, const std::string &leaf) {
  int fd = ::openat(dirfd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  for (int attempt = 0; attempt < 16; ++attempt) {
    const std::string name = text::unpredictable_name(leaf);
    fd = ::openat(dirfd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
      ::unlinkat(dirfd, name.c_str(), 0);
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}
}  // namespace
#endif

// Starts a GET (list empty) or POST; reports the start failure with `message`.
void start_transfer(Machine &e, TTaskInfo &t, u16view url, const LineList *post, u16view message) {
  if (url.empty()) return;
  if (!web_url_allowed(url))
    return e.runtimeError(u"実行許可エラー：http と https 以外の URL " + text::escaped_file_name(url));
  if (!e.permitted(Permission::Network, post ? u"POST" : u"GET", url_target(url))) return;
  auto transfer = std::make_unique<HttpTransfer>();
  transfer->slot = e.current;
  transfer->url = text::to_utf8(url);
  // The run's defaults; a program's own time-outs replace them below.
  transfer->connectTimeoutMs = e.httpConnectTimeoutSeconds * 1000;
  transfer->stallSeconds = e.httpStallSeconds;
  if (post) {
    transfer->post = true;
    for (const u16 &line : *post) transfer->postFields += text::to_utf8(line) + "\r";
  }
  // The request parameters: the task's header list, by reference.
  if (t.HTTP_REQ_HEAD_VAR >= 0) {
    const LineList &params = e.vars[t.HTTP_REQ_HEAD_VAR].StrList;
    if (!params.empty()) {
      int connect = 0, response = 0;
      if (params.size() < 3 || (!params[0].empty() && !text::parse_int(params[0], connect)) ||
          (!params[1].empty() && !text::parse_int(params[1], response)))
        return e.runtimeError(u"- HTTP INVALID PARAMETER ");
      if (connect > 0) transfer->connectTimeoutMs = connect;
      if (response > 0) {
        transfer->timeoutMs = response;
        transfer->stallSeconds = 0;
      }
      transfer->userAgent = text::to_utf8(params[2]);
    }
  }
  transfer->file = transfer_file(e, e.current);
  transfer->leaf = transfer->file.filename().string();
  transfer->dirfd = e.dataFd >= 0 ? ::fcntl(e.dataFd, F_DUPFD_CLOEXEC, 0)
                                  : ::open(e.dataDirectory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (transfer->dirfd < 0) return e.runtimeError(message);
  // An old transfer file goes (a link there goes, not what it names).
  ::unlinkat(transfer->dirfd, transfer->leaf.c_str(), 0);
#ifndef __EMSCRIPTEN__
  transfer->body = open_body(transfer->dirfd, transfer->leaf);
  if (transfer->body < 0) return e.runtimeError(message);
#endif
  t.fDL_Complete = false;
  t.HTTP_REQ = true;
  t.HTTP_REQ_FILE = text::from_utf8(transfer->file.string());
  try {
    transfer->start();
  } catch (const std::exception &) {
    t.HTTP_REQ = false;
    return e.runtimeError(message);
  }
  e.transfers.push_back(std::move(transfer));
  e.anyHttp = true;
}

namespace {
// The finished body: from the transfer's own file, or (the browser build)
// from the named file, read without following a link at its name.
std::optional<std::string> read_transfer_file(const HttpTransfer &x) {
  int fd = x.body >= 0 ? ::fcntl(x.body, F_DUPFD_CLOEXEC, 0)
                       : ::openat(x.dirfd, x.leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string bytes;
  char buffer[65536];
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  off_t at = 0;
  for (ssize_t n; ok && (n = ::pread(fd, buffer, sizeof buffer, at)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ok = false;
    } else {
      bytes.append(buffer, std::size_t(n));
      at += n;
    }
  }
  ::close(fd);
  if (!ok) return std::nullopt;
  return bytes;
}
}  // namespace

void Machine::serveTransfers() {
  bool still = false;
  for (auto it = transfers.begin(); it != transfers.end();) {
    HttpTransfer &x = **it;
    if (!x.done) {
      still = true;
      ++it;
      continue;
    }
    if (x.slot < 0) {  // abandoned when all tasks stopped
      it = transfers.erase(it);
      continue;
    }
    TTaskInfo &t = tasks[std::size_t(x.slot)];
    const bool mine = t.HTTP_REQ && t.HTTP_REQ_FILE == text::from_utf8(x.file.string());
    if (mine && t.state == tsSTOP) {
      // A stopped task gets its result when it runs again: kept until then.
      still = true;
      ++it;
      continue;
    }
    bool waiting = mine && t.state == tsACTIVE;
    if (waiting && !x.ok) {
      // A transfer that failed on the network is reported (in this pass,
      // after the error flag is cleared) rather than left waiting forever.
      t.HTTP_REQ = false;
      pendingError = u"- HTTP ロード　エラー：ファイル名(" + text::from_utf8(x.url) + u")";
      it = transfers.erase(it);
      continue;
    }
    if (waiting) {
      t.fDL_Complete = true;
      t.LIST_REM = x.report;
      auto bytes = read_transfer_file(x);
      u16 text = !bytes                                ? u16()
                 : t.Encode_Load == TextEncoding::Utf8 ? text::decode_as(*bytes, text::Encoding::Utf8)
                                                       : text::decode_bytes(*bytes).text;
      t.LIST_WORK = text::split_lines(text);
      finish_list(t);
      if (x.body < 0) ::unlinkat(x.dirfd, x.leaf.c_str(), 0);
      t.HTTP_REQ = false;
    }
    it = transfers.erase(it);
  }
  anyHttp = still;
}

// Pending transfers are abandoned: their workers stop at the next progress
// call and are joined once done, without touching any task.
void Machine::cancelTransfers() {
  for (auto &t : transfers) {
    t->cancelled = true;
    t->slot = -1;
  }
}

bool Machine::deleteTransferFiles() {
  for (int s = 0; s < kSlots; ++s) {
    std::filesystem::path f = transfer_file(*this, s);
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(f, ec)) && !std::filesystem::remove(f, ec)) {
      runtimeError(u" ファイル保存機能不全(不正残存) " + text::from_utf8(f.string()));
      return false;
    }
  }
  return true;
}

u16 url_decode(u16view text) {
  // 1. Percent escapes, gathered into UTF-8 sequences.
  std::string bytes;
  u16 out;
  auto flush = [&] {
    if (!bytes.empty()) out += text::from_utf8(bytes);
    bytes.clear();
  };
  auto hex = [](char16_t c) {
    if (c >= u'0' && c <= u'9') return int(c - u'0');
    c = text::ascii_upper(c);
    if (c >= u'A' && c <= u'F') return int(c - u'A' + 10);
    return -1;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
      bytes += char(hex(text[i + 1]) * 16 + hex(text[i + 2]));
      i += 2;
      continue;
    }
    flush();
    out += text[i];
  }
  flush();
  // 2. Character entities, ignoring case.
  const std::pair<const char16_t *, char16_t> entities[] = {
      {u"&QUOT;", u'"'}, {u"&AMP;", u'&'}, {u"&LT;", u'<'}, {u"&GT;", u'>'}, {u"&NBSP;", 0x00A0}, {u"&COPY;", 0x00A9}};
  for (const auto &[entity, ch] : entities) {
    u16view e(entity);
    u16 result;
    for (std::size_t i = 0; i < out.size();) {
      if (i + e.size() <= out.size() && text::upper_ascii(u16view(out).substr(i, e.size())) == e) {
        result += ch;
        i += e.size();
      } else {
        result += out[i++];
      }
    }
    out = std::move(result);
  }
  // 3. Numeric references &#ddddd; and &#xhhhh;.
  u16 result;
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i] == u'&' && i + 2 < out.size() && out[i + 1] == u'#') {
      std::size_t j = i + 2;
      bool isHex = out[j] == u'x' || out[j] == u'X';
      if (isHex) ++j;
      std::size_t start = j;
      unsigned value = 0;
      while (j < out.size() && j - start < (isHex ? 4u : 5u) &&
             (isHex ? hex(out[j]) >= 0 : text::is_ascii_digit(out[j]))) {
        value = value * (isHex ? 16 : 10) + unsigned(isHex ? hex(out[j]) : out[j] - u'0');
        ++j;
      }
      if (j > start && j < out.size() && out[j] == u';' && value <= 0xFFFF) {
        result += char16_t(value);
        i = j;
        continue;
      }
    }
    result += out[i];
  }
  return result;
}

namespace {

// Cuts at any of the separators; an empty piece stops the cutting and the
// rest becomes the last piece.
Lines cut(u16view text, const std::function<std::size_t(u16view, std::size_t &)> &find) {
  Lines parts;
  std::size_t pos = 0;
  for (;;) {
    std::size_t length = 0;
    std::size_t at = find(text.substr(pos), length);
    if (at == u16view::npos || at == 0) break;
    parts.emplace_back(text.substr(pos, at));
    pos += at + length;
  }
  parts.emplace_back(text.substr(pos));
  return parts;
}

}  // namespace

Lines url_split(u16view text, u16view separator) {
  u16 decoded = url_decode(text);
  Lines parts = cut(decoded, [](u16view s, std::size_t &len) {
    len = 1;
    return s.find_first_of(u"?&");
  });
  if (separator.empty()) return parts;
  Lines pieces;
  for (const u16 &p : parts) {
    Lines sub = cut(p, [&](u16view s, std::size_t &len) {
      len = separator.size();
      return s.find(separator);
    });
    pieces.insert(pieces.end(), sub.begin(), sub.end());
  }
  return pieces.empty() ? parts : pieces;
}

namespace {

void op_url_string(Machine &e, TTaskInfo &t, const TPEXE &r) {
  u16 s = e.str(r, 1);
  if (!e.errorFlag) deliver_string(t, url_decode(s));
}

void op_url_list(Machine &e, TTaskInfo &t, const TPEXE &r) {
  u16 s = e.str(r, 1), sep = e.str(r, 3);
  if (e.errorFlag) return;
  t.LIST_WORK = url_split(s, sep);
}

void op_request_header(Machine &e, TTaskInfo &t, const TPEXE &r) {
  int v = e.varOf(r, 2);
  if (v < 0) return e.undefinedError(r.Param[2]);
  t.HTTP_REQ_HEAD_VAR = v;
}

// A POST of the list at operand k + 3 to the URL at operand k.
void post(Machine &e, TTaskInfo &t, const TPEXE &r, int k) {
  u16 url = e.rawStr(r, k);
  int list = e.varOf(r, k + 3);
  if (e.errorFlag) return;
  if (list < 0) return e.undefinedError(r.Param[std::size_t(k) + 3]);
  start_transfer(e, t, url, &e.vars[list].StrList, u"- HTTP ロード　エラー：ファイル名(" + url + u")←ファイル名確認");
}

void op_post(Machine &e, TTaskInfo &t, const TPEXE &r) { post(e, t, r, 1); }

void op_post_encoded(Machine &e, TTaskInfo &t, const TPEXE &r) {
  t.Encode_Load = r.Param[1] == u"UTF8" ? TextEncoding::Utf8 : TextEncoding::None;
  post(e, t, r, 2);
}

}  // namespace

void start_get(Machine &e, TTaskInfo &t, u16view url, bool encoded) {
  u16 message = u"- HTTP ロード　エラー：ファイル名(" + u16(url) + u")" + (encoded ? u"←ファイル名確認" : u"");
  start_transfer(e, t, url, nullptr, message);
}

void register_http(Machine &e) {
  e.setHandler(opURL_STRING, op_url_string);
  e.setHandler(opURL_LIST, op_url_list);
  e.setHandler(opREQUEST_HEADER, op_request_header);
  e.setHandler(opPOST, op_post);
  e.setHandler(opPOST_ENCODED, op_post_encoded);
}

}  // namespace velmora::engine
