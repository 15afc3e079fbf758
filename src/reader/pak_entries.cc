// The entries of an open pakfile in data order, and looking a path up
// without opening it.
#include <new>
#include <optional>
#include <string>

#include "reader/entry_path.h"
#include "reader/normalized_path.h"
#include "reader/pak_find_entry.h"
#include "reader/pak_reader.h"
#include "reader/pak_registry.h"

namespace kestrum {
namespace {

OpenPakfile* PakWithId(std::int32_t pak_id) {
  const std::optional<std::size_t> position = PakPositionOf(pak_id);
  return position ? PakRegistry()[*position].get() : nullptr;
}

// Several threads may ask at once; the first one works the order out.
const std::vector<std::uint32_t>& DataOrderOf(OpenPakfile& pak) {
  std::call_once(pak.data_order_once, [&pak] {
    PakHeader header;
    header.entry_count = static_cast<std::uint32_t>(pak.records.size());
    header.first_in_data_order = pak.first_in_data_order;
    EntryPathBuilder builder(pak.names, pak.records);
    std::string path;
    std::vector<std::uint32_t> order;
    order.reserve(pak.records.size());
    WalkDataOrder(header, pak.records, [&](std::uint32_t k) {
      if (builder.Build(k, path)) order.push_back(k);
    });
    pak.data_order = std::move(order);
  });
  return pak.data_order;
}

}  // namespace

PakError PakEntryCount(std::int32_t pak_id, std::uint32_t& count) {
  OpenPakfile* pak = PakWithId(pak_id);
  if (pak == nullptr) return PakError::kInvalidHandle;
  try {
    count = static_cast<std::uint32_t>(DataOrderOf(*pak).size());
  } catch (const std::bad_alloc&) {
    return PakError::kNoMemory;
  }
  return PakError::kNone;
}

PakError PakEntryAt(std::int32_t pak_id, std::uint32_t index, std::string& path, std::uint32_t& size) {
  OpenPakfile* pak = PakWithId(pak_id);
  if (pak == nullptr) return PakError::kInvalidHandle;
  try {
    const std::vector<std::uint32_t>& order = DataOrderOf(*pak);
    if (index >= order.size()) return PakError::kInvalidArgument;
    const std::uint32_t record = order[index];
    // Rebuilt once already when the order was worked out.
    if (!BuildEntryPath(record, pak->names, pak->records, path)) return PakError::kNotAPakfile;
    size = pak->records[record].size;
  } catch (const std::bad_alloc&) {
    return PakError::kNoMemory;
  }
  return PakError::kNone;
}

PakError PakPathSize(std::string_view path, std::uint32_t& size) {
  PakFileHandle found;
  try {
    const NormalizedPath normalized(path);
    PakFindEntry(normalized.view(), found, true);
  } catch (const std::bad_alloc&) {
    return PakError::kNoMemory;
  }
  if (found.pak_index < 0) return PakError::kNotFound;
  const OpenPakfile& pak = *PakRegistry()[static_cast<std::size_t>(found.pak_index)];
  size = pak.records[static_cast<std::size_t>(found.entry)].size;
  return PakError::kNone;
}

}  // namespace kestrum
