#include "commands/extraction_paths.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace kestrum {
namespace {

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// A component that Windows maps to a device wherever it stands: the name up
// to its first dot, blanks before the dot ignored, is a reserved one.
bool IsReservedDeviceName(std::string_view component) {
  std::string_view stem = component.substr(0, component.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  static constexpr std::array<std::string_view, 4> kPlain = {"con", "prn", "aux", "nul"};
  for (std::string_view name : kPlain) {
    if (SameIgnoringCase(stem, name)) return true;
  }
  if (stem.size() == 4 && stem[3] >= '1' && stem[3] <= '9') {
    const std::string_view prefix = stem.substr(0, 3);
    return SameIgnoringCase(prefix, "com") || SameIgnoringCase(prefix, "lpt");
  }
  return false;
}

bool IsUnsafeComponent(std::string_view component, PathStyle style) {
  if (component == "..") return true;
  if (style != PathStyle::kWindows || component.empty()) return false;
  return component.back() == '.' || component.back() == ' ' || IsReservedDeviceName(component);
}

}  // namespace

std::string NormalizeDestination(std::string_view dest) {
  std::string result(dest.empty() ? std::string_view(".") : dest);
  std::replace(result.begin(), result.end(), '/', '\\');
  if (result.back() != '\\') result.push_back('\\');
  return result;
}

bool IsUnsafeEntryPath(std::string_view path, PathStyle style) {
  if (style == PathStyle::kWindows && path.find(':') != std::string_view::npos) return true;
  // One pass over the bytes (find_first_of with a set of two searches the
  // set once for every byte of the path).
  std::size_t start = 0;
  for (std::size_t at = 0; at <= path.size(); ++at) {
    if (at < path.size() && path[at] != '/' && path[at] != '\\') continue;
    if (IsUnsafeComponent(path.substr(start, at - start), style)) return true;
    start = at + 1;
  }
  return false;
}

void OutputPath(std::string_view destination, std::string_view entry_path, std::string& fs_path, PathStyle style) {
  fs_path.assign(destination).append(entry_path);
  if (style == PathStyle::kWindows) {
    std::replace(fs_path.begin(), fs_path.end(), '/', '\\');
  } else {
    std::replace(fs_path.begin(), fs_path.end(), '\\', '/');
  }
}

}  // namespace kestrum
