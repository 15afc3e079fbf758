// One open pakfile: its directory and name pool in memory, its streaming
// state and its lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "format/pak_layout.h"
#include "io/lock.h"
#include "io/slot_reader.h"

namespace kestrum {

struct OpenPakfile {
  std::int32_t id = -1;
  // In hash order. While a header loads, and while closing completes a cache
  // copy, a one-record directory whose record spans the file from offset 0.
  std::vector<DirRecord> records;
  std::vector<std::uint8_t> names;  // the name pool, unscrambled
  // The record at which the next lookup starts probing. Lookups run without
  // the lock, so it is atomic; it is only a hint.
  std::atomic<std::uint32_t> next_hint{0};
  std::string path;             // normalised
  std::string cache_path;       // normalised; empty: no cache copy
  std::string cache_open_path;  // as the caller gave it, for the file system
  std::uint32_t first_in_data_order = 0;
  std::uint32_t data_base = 0;  // where the data area starts (header_size)
  std::uint32_t copy_stamp = 0;
  PakStream stream;  // block size, read limit, mode, slots, files, cache copy
  // The records in data order, left out those whose path cannot be rebuilt;
  // worked out once, on the first enumeration of the entries.
  std::vector<std::uint32_t> data_order;
  std::once_flag data_order_once;
  // Serialises all block work on this pakfile.
  PakLock lock;
};

inline std::int32_t EntryCount(const OpenPakfile& pak) { return static_cast<std::int32_t>(pak.records.size()); }

}  // namespace kestrum
