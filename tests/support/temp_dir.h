// Test helpers: a scratch directory removed at the end of the test, and small
// whole-file read/write helpers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace kestrum::testing {

class TempDir {
 public:
  // In the system's directory for temporary files, or in `base`.
  explicit TempDir(const std::filesystem::path& base = std::filesystem::temp_directory_path()) {
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      char name[32];
      std::snprintf(name, sizeof name, "kestrum-test-%08x", static_cast<unsigned>(random()));
      std::error_code ec;
      // create_directory is false for a name that exists already.
      if (std::filesystem::create_directory(base / name, ec)) path_ = (base / name).string();
    }
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Everything written to the stream (a scratch stream) from byte `from` on; closes it.
inline std::string DrainAndClose(std::FILE* stream, long from = 0) {
  std::fflush(stream);
  std::fseek(stream, from, SEEK_SET);
  std::string text;
  char buf[4096];
  for (std::size_t got; (got = std::fread(buf, 1, sizeof buf, stream)) > 0;) text.append(buf, got);
  std::fclose(stream);
  return text;
}

}  // namespace kestrum::testing
