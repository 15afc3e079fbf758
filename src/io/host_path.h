// How this system's file system names files: the few places where a name
// from a list file or a pakfile becomes a path to open differ between
// systems, and are answered here rather than in the builder or the commands.
#pragma once

#include <string>
#include <string_view>

namespace kestrum {

enum class PathStyle {
  kPosix,    // '/' separates; names keep their case
  kWindows,  // '\' (and '/') separate; names ignore case; drive letters, devices
};

// This system's style; defined in the platform file.
PathStyle HostPathStyle();

constexpr char PathSeparator(PathStyle style) { return style == PathStyle::kWindows ? '\\' : '/'; }

// The path by which the builder opens a listed file, into `path` (reused so
// that the per-file work allocates nothing). A POSIX file system keeps case,
// so the list line's own text is opened, with '\' read as '/'. Windows ignores
// case and takes '\', so the normalised name is opened as it stands.
void ListedFilePath(std::string_view as_written, std::string_view normalised, std::string& path,
                    PathStyle style = HostPathStyle());

}  // namespace kestrum
