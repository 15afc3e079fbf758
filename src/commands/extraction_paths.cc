#include "commands/extraction_paths.h"

#include <algorithm>

namespace kestrum {

std::string NormalizeDestination(std::string_view dest) {
  std::string result(dest.empty() ? std::string_view(".") : dest);
  std::replace(result.begin(), result.end(), '/', '\\');
  if (result.back() != '\\') result.push_back('\\');
  return result;
}

bool IsUnsafeEntryPath(std::string_view path) {
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find_first_of("\\/", start);
    if (end == std::string_view::npos) end = path.size();
    if (path.substr(start, end - start) == "..") return true;
    start = end + 1;
  }
  return false;
}

void OutputPath(std::string_view destination, std::string_view entry_path, std::string& fs_path) {
  fs_path.assign(destination).append(entry_path);
  std::replace(fs_path.begin(), fs_path.end(), '\\', '/');
}

}  // namespace kestrum
