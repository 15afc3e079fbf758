// Arbitrary destinations and entry paths through extraction's path handling.
// Whatever an entry is called, an entry that is not refused must land inside
// the destination once the output path is resolved lexically.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "commands/extraction_paths.h"

namespace {

// Lexical resolution of a '/'-separated path: "." dropped, ".." pops a
// component (never above the start), empty components dropped.
std::vector<std::string> Resolve(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  return parts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kestrum;
  // The first line is the destination, the rest the entry path.
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t cut = input.find('\n');
  const std::string dest = cut == std::string::npos ? std::string() : input.substr(0, cut);
  const std::string entry = cut == std::string::npos ? input : input.substr(cut + 1);
  if (dest.find("..") != std::string::npos || entry.find('\0') != std::string::npos) return 0;  // the user's own

  const std::string destination = NormalizeDestination(dest);
  if (destination.empty() || destination.back() != '\\') std::abort();
  // The POSIX rules, whatever system this runs on: Resolve() reads '/' paths.
  if (IsUnsafeEntryPath(entry, PathStyle::kPosix)) return 0;

  std::string fs_path, fs_dest;
  OutputPath(destination, entry, fs_path, PathStyle::kPosix);
  OutputPath(destination, "", fs_dest, PathStyle::kPosix);
  const std::vector<std::string> inside = Resolve(fs_dest);
  const std::vector<std::string> target = Resolve(fs_path);
  if (target.size() < inside.size()) std::abort();
  for (std::size_t i = 0; i < inside.size(); ++i) {
    if (target[i] != inside[i]) std::abort();
  }
  return 0;
}
