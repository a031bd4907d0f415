#include "engine/permissions.h"

#include "engine/machine.h"

namespace velmora::engine {

u16view permission_name(Permission p) {
  switch (p) {
    case Permission::Commands: return u"外部コマンド";
    case Permission::Libraries: return u"ライブラリ呼び出し";
    case Permission::Files: return u"データディレクトリ外のファイル";
    case Permission::Network: return u"ネットワーク";
    case Permission::FilesRead: return u"データディレクトリ外のファイル（読み込み）";
  }
  return u"";
}

const char *permission_word(Permission p) {
  static const char *const words[] = {"commands", "libraries", "files", "network", "read"};
  return words[int(p)];
}

int permission_of_word(std::string_view word) {
  for (int i = 0; i < kPermissions; ++i)
    if (word == permission_word(Permission(i))) return i;
  return -1;
}

bool path_inside(const std::filesystem::path &path, const std::filesystem::path &directory) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec);
  if (ec) return false;
  std::filesystem::path d = std::filesystem::weakly_canonical(std::filesystem::absolute(directory, ec), ec);
  if (ec) return false;
  auto pi = p.begin(), di = d.begin();
  for (; di != d.end(); ++di, ++pi) {
    if (di->empty()) continue;  // the trailing "/" of a directory
    if (pi == p.end() || *pi != *di) return false;
  }
  return true;
}

bool Machine::permitted(Permission p, u16view instruction, u16view target) {
#ifdef __EMSCRIPTEN__
  // A browser page can start no process and load no shared library.
  if (p == Permission::Commands || p == Permission::Libraries) {
    runtimeError(u16(permission_name(p)) + u"はブラウザ版では使えません：" + u16(instruction) + u" " + u16(target));
    return false;
  }
#endif
  const int k = int(p);
  bool allowed = true;
  switch (permits.mode[std::size_t(k)]) {
    case PermitMode::Allow: break;
    case PermitMode::Deny: allowed = false; break;
    case PermitMode::Ask:
      // One question per kind and run; the answer holds for the rest of it.
      if (permits.answer[std::size_t(k)] == 0)
        permits.answer[std::size_t(k)] = host->Ask_Permission(p, instruction, target) ? 1 : -1;
      allowed = permits.answer[std::size_t(k)] > 0;
      break;
  }
  if (!allowed)
    runtimeError(u"実行許可エラー：" + u16(permission_name(p)) + u" " + u16(target) + host->Permission_Hint(p));
  return allowed;
}

bool Machine::fileWritePermitted(const std::filesystem::path &path, u16view instruction) {
  if (permits.mode[std::size_t(Permission::Files)] == PermitMode::Allow || path_inside(path, dataDirectory))
    return true;
  return permitted(Permission::Files, instruction, text::from_utf8(path.string()));
}

}  // namespace velmora::engine
