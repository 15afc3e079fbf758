// Turns a directory record back into the file's path (the directory string
// and the file name are both stored back to front in the name pool), and
// walks a directory in data order. Shared by the tool's listing and
// extraction and by the runtime's enumeration of entries.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>

#include "format/pak_layout.h"

namespace kestrum {

// A record's path as it stands in the pool, before it is turned round: both
// parts are back to front. Enough to know the path's length, or to print a
// path too long to be worth building.
struct StoredPath {
  std::span<const std::uint8_t> directory;  // empty also when the path has none
  std::span<const std::uint8_t> name;
  bool has_directory = false;  // dir_offset is not 0: the path has a '\' before its name

  std::size_t length() const { return directory.size() + (has_directory ? 1 : 0) + name.size(); }
};

// Asks for the memory that the records after `record` in data order will
// want: the next one's record (loaded now, asked for a step earlier), its
// strings, and the record after it. The directory and the pool are in hash
// order; a walk in data order would wait for each record and each string.
void PrefetchFollowing(std::span<const std::uint8_t> names, std::span<const DirRecord> records, std::uint32_t record);

// Rebuilds the paths of one directory. Entries that follow one another in
// either order mostly share their directory string, so the last directory
// is kept, already turned round, and reused while the offset stays the same.
class EntryPathBuilder {
 public:
  EntryPathBuilder(std::span<const std::uint8_t> names, std::span<const DirRecord> records)
      : names_(names), records_(records) {}

  // Sets `path` to the record's path as stored (directory, '\', file name; or
  // the file name alone when dir_offset is 0), bytes as they stand in the
  // pool. Returns false, leaving `path` empty, when the record or its strings
  // lie outside the directory or the pool, or a string has no NUL inside the
  // pool.
  bool Build(std::uint32_t record, std::string& path);

  // The record's stored parts, without building anything; false as for
  // Build. The spans point into the pool.
  bool Stored(std::uint32_t record, StoredPath& stored);

  // PrefetchFollowing on this directory.
  void PrefetchAhead(std::uint32_t record) const { PrefetchFollowing(names_, records_, record); }

 private:
  std::span<const std::uint8_t> names_;
  std::span<const DirRecord> records_;
  std::uint32_t stored_offset_ = 0;  // 0: nothing kept
  std::span<const std::uint8_t> stored_directory_;
  std::uint32_t directory_offset_ = 0;  // 0: nothing kept
  std::string directory_;               // readable order, with the trailing '\'
};

// The same for a single record, without anything kept between calls.
bool BuildEntryPath(std::uint32_t record, std::span<const std::uint8_t> names, std::span<const DirRecord> records,
                    std::string& path);

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
