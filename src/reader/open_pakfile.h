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
  // The record at which the next lookup starts probing; only a hint. Every
  // open may write it, from any thread, without the lock: on a cache line of
  // its own, so that those writes do not keep taking the line of the fields
  // above, which every lookup and read consults.
  alignas(64) std::atomic<std::uint32_t> next_hint{0};
  // What the slots looked like when the lock was last released, for reads
  // that decide without the lock that the slots cannot serve them: the two
  // slots' positions (slot 0 in the low half), and whether a cache copy may
  // still be being written. Stale values cost time, never bytes: a read that
  // might be served by the slots takes the lock and looks again.
  alignas(64) std::atomic<std::uint64_t> published_slots{0};
  std::atomic<bool> may_write_copy{false};
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
