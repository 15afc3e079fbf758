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
  // The name hash of each record, as its name record stores it, in directory
  // order: lookups bisect these 2 bytes a record instead of the records and
  // the pool. Empty (while a header loads), lookups bisect the records.
  std::vector<std::uint16_t> name_hashes;
  std::string path;             // normalised
  std::string cache_path;       // normalised; empty: no cache copy
  std::string cache_open_path;  // as the caller gave it, for the file system
  std::uint32_t first_in_data_order = 0;
  std::uint32_t data_base = 0;  // where the data area starts (header_size)
  std::uint32_t copy_stamp = 0;
  PakStream stream;  // block size, read limit, mode, slots, files, cache copy
  // Written by every open and read, from any thread, without the lock; kept
  // on a cache line of their own so that those writes do not keep taking
  // the line of the fields above, which every lookup and read consults.
  //
  // The record at which the next lookup starts probing. It is only a hint.
  alignas(64) std::atomic<std::uint32_t> next_hint{0};
  // The file position just behind the bytes of the last read of this
  // pakfile, on whichever thread: a read that starts there goes on in data
  // order and is served through the slots.
  std::atomic<std::uint64_t> last_read_end{~std::uint64_t{0}};
  // The records in data order, left out those whose path cannot be rebuilt;
  // worked out once, on the first enumeration of the entries.
  std::vector<std::uint32_t> data_order;
  std::once_flag data_order_once;
  // Serialises all block work on this pakfile. Taken and released by reads
  // on every thread, so on a cache line of its own as well.
  alignas(64) PakLock lock;
};

inline std::int32_t EntryCount(const OpenPakfile& pak) { return static_cast<std::int32_t>(pak.records.size()); }

}  // namespace kestrum
