#include "reader/entry_path.h"

#include <algorithm>
#include <cstring>

#include "format/prefetch.h"

namespace kestrum {
namespace {

// The NUL-terminated string at `offset`, or false when it does not end
// inside the pool.
bool PoolString(std::span<const std::uint8_t> names, std::size_t offset, std::span<const std::uint8_t>& out) {
  if (offset >= names.size()) return false;
  const auto* begin = names.data() + offset;
  const auto* end = static_cast<const std::uint8_t*>(std::memchr(begin, 0, names.size() - offset));
  if (end == nullptr) return false;
  out = {begin, end};
  return true;
}

// Appends the stored (reversed) string the right way round.
void AppendReversed(std::span<const std::uint8_t> stored, std::string& to) {
  const std::size_t at = to.size();
  to.resize(at + stored.size());
  std::reverse_copy(stored.begin(), stored.end(), reinterpret_cast<std::uint8_t*>(to.data() + at));
}

}  // namespace

bool EntryPathBuilder::Stored(std::uint32_t record, StoredPath& stored) {
  if (record >= records_.size()) return false;
  const DirRecord& r = records_[record];
  if (!PoolString(names_, std::size_t{r.name_offset} + 2, stored.name)) return false;
  stored.has_directory = r.dir_offset != 0;
  stored.directory = {};
  if (!stored.has_directory) return true;
  // Entries that follow one another mostly share their directory string:
  // its end is searched for once.
  if (r.dir_offset != stored_offset_) {
    if (!PoolString(names_, r.dir_offset, stored_directory_)) return false;
    stored_offset_ = r.dir_offset;
  }
  stored.directory = stored_directory_;
  return true;
}

bool EntryPathBuilder::Build(std::uint32_t record, std::string& path) {
  path.clear();
  StoredPath stored;
  if (!Stored(record, stored)) return false;
  if (stored.has_directory) {
    if (stored_offset_ != directory_offset_) {
      directory_.clear();
      AppendReversed(stored.directory, directory_);
      directory_.push_back('\\');
      directory_offset_ = stored_offset_;
    }
    path.append(directory_);
  }
  AppendReversed(stored.name, path);
  return true;
}

void PrefetchFollowing(std::span<const std::uint8_t> names, std::span<const DirRecord> records, std::uint32_t record) {
  if (record >= records.size()) return;
  const std::uint32_t next = records[record].next_in_data_order;
  if (next >= records.size()) return;
  const DirRecord& r = records[next];
  if (r.name_offset < names.size()) PrefetchForRead(names.data() + r.name_offset);
  if (r.dir_offset < names.size()) PrefetchForRead(names.data() + r.dir_offset);
  if (r.next_in_data_order < records.size()) PrefetchForRead(records.data() + r.next_in_data_order);
}

bool BuildEntryPath(std::uint32_t record, std::span<const std::uint8_t> names, std::span<const DirRecord> records,
                    std::string& path) {
  return EntryPathBuilder(names, records).Build(record, path);
}

}  // namespace kestrum
