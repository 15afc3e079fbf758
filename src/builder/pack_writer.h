// The pack writer: checks every listed file, lays out the header, and writes
// the pakfile. Progress, warnings and errors go to `out`; nothing else is
// printed and the process is never ended here.
#pragma once

#include <cstdio>
#include <string>

#include "builder/pack_entry.h"

namespace kestrum {

// Writes the pakfile for the entry table to `pak_path` (used as given).
// Returns the exit code: 0 when the pakfile was written, 1 after a fatal
// error, whose message has been printed. The pakfile appears at its path only
// when complete; after a failure no partial file is left, and a file that
// was at the path before stays as it was.
int WritePakfile(const std::string& pak_path, EntryTable& table, std::FILE* out);

}  // namespace kestrum
