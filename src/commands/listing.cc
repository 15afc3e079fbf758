#include "commands/listing.h"

#include <string>

#include "commands/entry_path.h"

namespace kestrum {

void ListPakfile(const PakHeader& header, std::span<const std::uint8_t> names, std::span<const DirRecord> records,
                 bool data_order, std::FILE* out) {
  std::string path;
  if (data_order) {
    WalkDataOrder(header, records, [&](std::uint32_t k) {
      if (BuildEntryPath(k, names, records, path)) std::fprintf(out, "%s\n", path.c_str());
    });
    return;
  }
  const std::size_t count = std::min<std::size_t>(header.entry_count, records.size());
  for (std::uint32_t k = 0; k < count; ++k) {
    if (!BuildEntryPath(k, names, records, path)) continue;
    const std::size_t at = records[k].name_offset;  // BuildEntryPath checked at + 2 lies inside
    std::fprintf(out, "[%u]%s\n", static_cast<unsigned>(names[at] << 8 | names[at + 1]), path.c_str());
  }
}

}  // namespace kestrum
