#include "io/host_path.h"

#include <algorithm>

namespace kestrum {

void ListedFilePath(std::string_view as_written, std::string_view normalised, std::string& path, PathStyle style) {
  if (style == PathStyle::kWindows) {
    path.assign(normalised);
    return;
  }
  path.assign(as_written);
  std::replace(path.begin(), path.end(), '\\', '/');
}

}  // namespace kestrum
