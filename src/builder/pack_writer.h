// The pack writer: checks every listed file, lays out the header, and writes
// the pakfile. Progress, warnings and errors go to `out`; nothing else is
// printed and the process is never ended here. The opening and reading of
// the files is shared by the calling thread and one helper thread; what is
// printed and written follows list and data order as if the files were
// handled one after the other.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "builder/header_layout.h"
#include "builder/pack_entry.h"
#include "io/input_files.h"

namespace kestrum {

// Writes the pakfile for the entry table to `pak_path` (used as given).
// Returns the exit code: 0 when the pakfile was written, 1 after a fatal
// error, whose message has been printed. The pakfile appears at its path only
// when complete; after a failure no partial file is left, and a file that
// was at the path before stays as it was. A path that is a symbolic link
// stays one: the pakfile is written where its chain of links ends.
int WritePakfile(const std::string& pak_path, EntryTable& table, std::FILE* out);

// The two halves of WritePakfile. Planning checks every listed file, lays
// out and encodes the header, and prints up to the total line; nothing is
// written to disk. Writing creates the pakfile from the plan, copying each
// file again (a file changed in between ends the build). Both return the
// exit code as WritePakfile does.
struct PackPlan {
  std::vector<std::uint32_t> accepted;  // entry indices in data order
  // The listed files as the check found them, numbered by entry, held
  // open for the copy.
  std::unique_ptr<InputFiles> inputs;
  HeaderLayout layout;
  std::vector<std::uint8_t> header_image;  // as stored
};
int PlanPakfile(EntryTable& table, PackPlan& plan, std::FILE* out);
int WritePlannedPakfile(const std::string& pak_path, const EntryTable& table, PackPlan& plan, std::FILE* out);

// For tests: lets go of the k-th accepted file, so that the copy opens it
// again by its path.
void ForgetCheckedFile(PackPlan& plan, std::size_t k);

}  // namespace kestrum
