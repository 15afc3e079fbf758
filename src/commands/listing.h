// The listings of "-l" (data order) and "-L" (directory order, each path
// after its name hash in brackets).
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>

#include "format/pak_layout.h"

namespace kestrum {

// Prints one line per entry. A damaged directory never makes it read
// outside the records or the pool: a data-order chain that leaves the
// directory stops the listing there, and an entry whose name cannot be
// rebuilt is left out.
void ListPakfile(const PakHeader& header, std::span<const std::uint8_t> names, std::span<const DirRecord> records,
                 bool data_order, std::FILE* out);

}  // namespace kestrum
