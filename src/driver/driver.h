// The command line: `kestrum LOCALE SWITCH FILE [FILE]`. Prints the banner,
// checks the arguments and the locale, runs one command and returns the
// process exit code. Everything goes to `out`.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace kestrum {

int RunKestrum(int argc, const char* const* argv, std::FILE* out);

// Replaces the extension of the last path component (after the last '.',
// unless a '\', '/' or ':' follows it) with `extension`, which includes its
// dot. A name without an extension stays unchanged.
void ReplaceExtension(std::string& name, std::string_view extension);

// The pakfile name for a list file when none is given: the list's name with
// ".pak" as extension, or ".pak" appended where that would leave the list's
// own name (no extension, or a list already ending in ".pak").
std::string DefaultPakfileName(const std::string& list_path);

}  // namespace kestrum
