#include "lsp/framing.h"

#include <algorithm>
#include <cstring>

namespace velmora::lsp {

namespace {

std::string lower(std::string s) {
  for (char &c : s)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return s;
}

std::string trim(const std::string &s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

}  // namespace

bool MessageReader::fill() {
  if (ended_) return false;
  if (begin_ == end_) begin_ = end_ = 0;
  if (end_ == sizeof buffer_) {
    std::memmove(buffer_, buffer_ + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  const std::size_t n = source_(buffer_ + end_, sizeof buffer_ - end_);
  if (n == 0) {
    ended_ = true;
    return false;
  }
  end_ += n;
  return true;
}

bool MessageReader::readLine(std::string &line, std::size_t room, bool &overlong) {
  line.clear();
  overlong = false;
  bool carriageReturn = false;  // a CR that ends the line if LF follows
  auto keep = [&](char c) {
    if (line.size() < room) line += c;
    else overlong = true;
  };
  for (;;) {
    if (begin_ == end_ && !fill()) return false;
    const char c = buffer_[begin_++];
    if (c == '\n') return true;
    if (carriageReturn) keep('\r');
    carriageReturn = c == '\r';
    if (!carriageReturn) keep(c);
  }
}

bool MessageReader::skip(std::size_t n) {
  while (n > 0) {
    if (begin_ == end_ && !fill()) return false;
    const std::size_t take = std::min(n, end_ - begin_);
    begin_ += take;
    n -= take;
  }
  return true;
}

MessageReader::Result MessageReader::next() {
  Result r;
  {
    // The header: lines up to a blank one. Blank lines before a header
    // (a client that ends its bodies with a line end) are passed over.
    std::size_t used = 0;
    bool anyLine = false, tooLong = false, haveLength = false, badLength = false;
    std::size_t length = 0;
    std::string line;
    for (;;) {
      bool overlong = false;
      const std::size_t room = used < kMaxHeader ? kMaxHeader - used : 0;
      if (!readLine(line, room, overlong)) {
        r.status = Status::End;
        return r;
      }
      if (line.empty() && !overlong) {
        if (anyLine) break;
        continue;
      }
      anyLine = true;
      used += line.size() + 2;
      if (overlong || used > kMaxHeader) {
        tooLong = true;
        continue;
      }
      const std::size_t colon = line.find(':');
      if (colon == std::string::npos) {
        badLength = true;  // not a header line at all: the stream is not framed
        continue;
      }
      const std::string name = lower(trim(line.substr(0, colon)));
      const std::string value = trim(line.substr(colon + 1));
      if (name == "content-length") {
        std::size_t n = 0;
        bool ok = !value.empty() && value.size() <= 18;
        for (char c : value) {
          if (c < '0' || c > '9') ok = false;
          else n = n * 10 + std::size_t(c - '0');
        }
        if (!ok || haveLength) badLength = true;
        haveLength = true;
        length = n;
      }
    }
    if (tooLong) {
      r.status = Status::BadHeader;
      r.error = "header longer than " + std::to_string(kMaxHeader) + " bytes";
      return r;
    }
    if (!haveLength || badLength) {
      r.status = Status::BadHeader;
      r.error = !haveLength ? "header without Content-Length" : "unreadable header or Content-Length";
      return r;
    }
    r.length = length;
    if (length > kMaxContent) {
      r.status = skip(length) ? Status::TooLarge : Status::End;
      return r;
    }
    r.body.reserve(length);
    std::size_t left = length;
    while (left > 0) {
      if (begin_ == end_ && !fill()) {
        r.status = Status::End;
        r.body.clear();
        return r;
      }
      const std::size_t take = std::min(left, end_ - begin_);
      r.body.append(buffer_ + begin_, take);
      begin_ += take;
      left -= take;
    }
    r.status = Status::Message;
    return r;
  }
}

std::string frame(const std::string &json) {
  return "Content-Length: " + std::to_string(json.size()) + "\r\n\r\n" + json;
}

}  // namespace velmora::lsp
