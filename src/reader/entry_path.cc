#include "reader/entry_path.h"

#include <algorithm>
#include <cstring>

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

bool EntryPathBuilder::Build(std::uint32_t record, std::string& path) {
  path.clear();
  if (record >= records_.size()) return false;
  const DirRecord& r = records_[record];
  std::span<const std::uint8_t> file_name;
  if (!PoolString(names_, std::size_t{r.name_offset} + 2, file_name)) return false;
  if (r.dir_offset != 0 && r.dir_offset != directory_offset_) {
    std::span<const std::uint8_t> directory;
    if (!PoolString(names_, r.dir_offset, directory)) return false;
    directory_.clear();
    AppendReversed(directory, directory_);
    directory_.push_back('\\');
    directory_offset_ = r.dir_offset;
  }
  if (r.dir_offset != 0) path.append(directory_);
  AppendReversed(file_name, path);
  return true;
}

bool BuildEntryPath(std::uint32_t record, std::span<const std::uint8_t> names, std::span<const DirRecord> records,
                    std::string& path) {
  return EntryPathBuilder(names, records).Build(record, path);
}

}  // namespace kestrum
