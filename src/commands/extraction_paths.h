// Path handling of extraction, kept apart from the file work so that it can
// be tested and fuzzed on its own.
#pragma once

#include <string>
#include <string_view>

namespace kestrum {

// The destination as printed and used: '/' turned into '\', ending in one
// '\'; an empty destination counts as ".".
std::string NormalizeDestination(std::string_view dest);

// True when the entry path could leave the destination: a component (split
// at '\' or '/') equal to "..".
bool IsUnsafeEntryPath(std::string_view path);

// The file system path an entry is written to: the normalised destination
// followed by the entry path, every '\' turned into '/'. Reuses `fs_path`.
void OutputPath(std::string_view destination, std::string_view entry_path, std::string& fs_path);

}  // namespace kestrum
