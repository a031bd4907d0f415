// Bytes as a language client sends them: framed messages through the
// message reader, handed out in pieces of a size the first byte picks, and
// every message through the language server, whose answers go nowhere.
#include <cstring>

#include "fuzz/fuzz_common.h"
#include "lsp/server.h"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t piece = std::size_t(data[0] % 64) + 1;
  std::string_view bytes = fuzz::bytes_of(data + 1, size - 1);
  lsp::MessageReader reader([&bytes, piece](char *buffer, std::size_t n) -> std::size_t {
    const std::size_t k = std::min({n, piece, bytes.size()});
    std::memcpy(buffer, bytes.data(), k);
    bytes.remove_prefix(k);
    return k;
  });
  // A home without tables: the built-in language, read once for all inputs
  // (reading it and describing its words took most of each input's time).
  static const std::shared_ptr<lsp::Server::Tables> tables = lsp::Server::loadTables("/nonexistent/velmora-fuzz-home");
  lsp::Server server({tables->home, tables}, [](const std::string &) {});
  server.handle(R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"capabilities":{}}})");
  for (;;) {
    lsp::MessageReader::Result r = reader.next();
    if (r.status == lsp::MessageReader::Status::End) break;
    if (r.status == lsp::MessageReader::Status::Message) server.handle(r.body);
    else server.handleUnreadable(r);
    if (server.exited()) break;
    server.runDue(lsp::Server::Clock::time_point::max());
  }
  return 0;
}
