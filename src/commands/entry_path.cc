#include "commands/entry_path.h"

#include <algorithm>
#include <cstring>

namespace kestrum {
namespace {

// The NUL-terminated string at `offset`, or an empty view with ok = false
// when it does not end inside the pool.
bool PoolString(std::span<const std::uint8_t> names, std::size_t offset, std::span<const std::uint8_t>& out) {
  if (offset >= names.size()) return false;
  const auto* begin = names.data() + offset;
  const auto* end = static_cast<const std::uint8_t*>(std::memchr(begin, 0, names.size() - offset));
  if (end == nullptr) return false;
  out = {begin, end};
  return true;
}

}  // namespace

bool BuildEntryPath(std::uint32_t record, std::span<const std::uint8_t> names, std::span<const DirRecord> records,
                    std::string& path) {
  path.clear();
  if (record >= records.size()) return false;
  const DirRecord& r = records[record];
  std::span<const std::uint8_t> file_name, directory;
  if (!PoolString(names, std::size_t{r.name_offset} + 2, file_name)) return false;
  if (r.dir_offset != 0 && !PoolString(names, r.dir_offset, directory)) return false;
  // Both parts are stored reversed: read each backwards.
  path.reserve(directory.size() + 1 + file_name.size());
  if (r.dir_offset != 0) {
    path.append(directory.rbegin(), directory.rend());
    path.push_back('\\');
  }
  path.append(file_name.rbegin(), file_name.rend());
  return true;
}

}  // namespace kestrum
