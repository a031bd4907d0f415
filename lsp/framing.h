#pragma once
// The base protocol of the language server: messages framed by a header
// ("Content-Length: N", CR LF, a blank line) and N bytes of JSON. The reader
// holds at most one message of kMaxContent bytes: a larger one is read past
// in pieces and reported, never kept, so a client cannot make the server
// grow by sending one.
#include <cstddef>
#include <functional>
#include <string>

namespace velmora::lsp {

class MessageReader {
 public:
  static constexpr std::size_t kMaxHeader = 8 * 1024;          // all header lines of one message
  static constexpr std::size_t kMaxContent = 8 * 1024 * 1024;  // the JSON of one message

  // Reads up to n bytes into buffer; 0 at the end of the input.
  using Source = std::function<std::size_t(char *buffer, std::size_t n)>;
  explicit MessageReader(Source source) : source_(std::move(source)) {}

  enum class Status {
    Message,    // body holds the JSON of one message
    TooLarge,   // a message over kMaxContent was skipped (length says how long)
    BadHeader,  // a header without a usable Content-Length was skipped (error says why)
    End,        // the input ended (a message cut off at the end counts as ended)
  };
  struct Result {
    Status status = Status::End;
    std::string body;
    std::size_t length = 0;
    std::string error;
  };
  Result next();

 private:
  Source source_;
  char buffer_[16 * 1024];
  std::size_t begin_ = 0, end_ = 0;
  bool ended_ = false;

  bool fill();
  // One header line without its line end; false at the end of the input.
  // A line longer than what is left of the header's room is cut, and the
  // rest of it skipped: overlong is set.
  bool readLine(std::string &line, std::size_t room, bool &overlong);
  bool skip(std::size_t n);
};

// One message framed for sending.
std::string frame(const std::string &json);

}  // namespace velmora::lsp
