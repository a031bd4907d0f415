#pragma once
// A fresh directory under the system's temp dir, removed with the object.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace velmora::testing {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;

  const std::filesystem::path &path() const { return path_; }
  std::filesystem::path operator/(const std::string &name) const { return path_ / name; }

  // Writes raw bytes into a file of this directory and returns its path.
  std::filesystem::path write(const std::string &name, const std::string &bytes) const {
    std::ofstream out(path_ / name, std::ios::binary);
    out << bytes;
    return path_ / name;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace velmora::testing
