// "-x": unpacks every entry, in data order, under a destination directory.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include "commands/extraction_paths.h"
#include "format/pak_layout.h"

namespace kestrum {

// Extracts every entry through the open pakfiles (the reader runtime) and
// prints each path and its errors. Returns the exit code: 1 only after a
// failed write, which stops the run; every other error is printed and the
// run goes on with the next entry.
int ExtractPakfile(const PakHeader& header, std::span<const std::uint8_t> names, std::span<const DirRecord> records,
                   std::string_view dest, std::FILE* out);

}  // namespace kestrum
