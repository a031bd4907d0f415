#pragma once
// What a running program may do beyond computing: start commands, call
// library functions, write files outside the data directory, use the
// network, and read files outside the data directory. Each kind is allowed, asked about once per run, or denied.
#include <array>
#include <cstdint>
#include <filesystem>

#include "text/u16.h"

namespace velmora::engine {

enum class Permission : std::uint8_t { Commands, Libraries, Files, Network, FilesRead };
enum class PermitMode : std::uint8_t { Allow = 0, Ask = 1, Deny = 2 };
constexpr int kPermissions = 5;

// "外部コマンド", "ライブラリ呼び出し", "データディレクトリ外のファイル", "ネットワーク",
// "データディレクトリ外のファイル（読み込み）".
u16view permission_name(Permission p);
// The word of the runner's --allow/--deny ("commands", "libraries", "files",
// "network", "read"); -1 for any other word.
const char *permission_word(Permission p);
int permission_of_word(std::string_view word);

// True when the path, with symbolic links and ".." resolved as far as the
// path exists, lies inside the directory.
bool path_inside(const std::filesystem::path &path, const std::filesystem::path &directory);

// The permissions of one run: the modes, and the answers given to the
// questions of "ask" kinds so far.
struct Permits {
  std::array<PermitMode, kPermissions> mode{};
  std::array<std::int8_t, kPermissions> answer{};  // 0 not asked, 1 yes, -1 no
  void newRun() { answer.fill(0); }
};

}  // namespace velmora::engine
