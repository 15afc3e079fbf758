// The listings of "-l" (data order) and "-L" (directory order, each path
// after its name hash in brackets).
#pragma once

#include <algorithm>
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

// Calls visit(record index) for each record along the data-order chain, at
// most entry_count times, stopping where the chain leaves the directory.
template <typename Visit>
void WalkDataOrder(const PakHeader& header, std::span<const DirRecord> records, Visit&& visit) {
  const std::size_t count = std::min<std::size_t>(header.entry_count, records.size());
  std::uint32_t at = header.first_in_data_order;
  for (std::size_t step = 0; step < count && at < count; ++step) {
    visit(at);
    at = records[at].next_in_data_order;
  }
}

}  // namespace kestrum
