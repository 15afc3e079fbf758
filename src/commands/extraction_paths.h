// Path handling of extraction, kept apart from the file work so that it can
// be tested and fuzzed on its own. The rules depend on the file system's
// path style; extraction passes this system's own, and tests can ask for
// either on any system.
#pragma once

#include <string>
#include <string_view>

#include "io/host_path.h"

namespace kestrum {

// The destination as printed and used: '/' turned into '\', ending in one
// '\'; an empty destination counts as ".".
std::string NormalizeDestination(std::string_view dest);

// True when the entry must not be written: its path could leave the
// destination, or names something other than a plain file below it.
// Components are split at '\' and '/'. Everywhere a ".." component is
// refused. With the Windows style also: a ':' anywhere (a drive letter, or a
// stream of a file), and a component that Windows treats specially: a
// reserved device name (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, in
// any case, also with an extension such as NUL.txt), or one that ends in a
// dot or a blank (the system would drop them and write elsewhere).
bool IsUnsafeEntryPath(std::string_view path, PathStyle style = HostPathStyle());

// The file system path an entry is written to: the normalised destination
// followed by the entry path, its separators made the style's own ('/' for
// POSIX, '\' for Windows). Reuses `fs_path`.
void OutputPath(std::string_view destination, std::string_view entry_path, std::string& fs_path,
                PathStyle style = HostPathStyle());

}  // namespace kestrum
