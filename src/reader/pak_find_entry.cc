#include "reader/pak_find_entry.h"

#include <limits>

#include "format/pak_path.h"
#include "reader/pak_registry.h"

namespace kestrum {
namespace {

// The pool byte at offset, or NUL past the end: a damaged offset or a name
// without its NUL reads as if it ended there.
std::uint8_t PoolByte(const std::vector<std::uint8_t>& names, std::size_t offset) {
  return offset < names.size() ? names[offset] : 0;
}

// Compares the path backwards, from just before `rest`, with the pool
// string at offset, read forwards to its NUL. Returns a difference, or 0 with
// `rest` moved back past the matched bytes.
int CompareBackwards(std::string_view path, std::size_t& rest, const std::vector<std::uint8_t>& names,
                     std::size_t offset) {
  for (std::uint8_t stored = PoolByte(names, offset); stored != 0; stored = PoolByte(names, ++offset)) {
    if (rest == 0) return -1;
    const int diff = static_cast<unsigned char>(path[rest - 1]) - stored;
    if (diff != 0) return diff;
    --rest;
  }
  return 0;
}

// Bisects records lo to hi (inclusive) for the path, the first comparison at
// `probe`, the later ones halfway; the last two records are compared in turn.
std::int32_t Bisect(std::string_view path, std::uint16_t hash, const OpenPakfile& pak, std::int32_t lo, std::int32_t hi,
                    std::int32_t probe) {
  std::uint64_t& comparisons = EntryComparisonsOnThisThread();
  if (hi - lo > 1) {
    do {
      ++comparisons;
      const int order = CompareEntryName(path, hash, static_cast<std::uint32_t>(probe), pak);
      if (order == 0) return probe;
      if (order < 0) {
        hi = probe - 1;
      } else {
        lo = probe + 1;
      }
      probe = lo + (hi - lo) / 2;
    } while (hi - lo > 1);
  }
  for (std::int32_t index = lo; index <= hi; ++index) {
    ++comparisons;
    if (CompareEntryName(path, hash, static_cast<std::uint32_t>(index), pak) == 0) return index;
  }
  return -1;
}

// The first position in the sorted name hashes whose hash is not below
// `hash` (with `above`, not above it).
std::int32_t HashBound(const std::vector<std::uint16_t>& hashes, std::uint16_t hash, bool above) {
  std::size_t lo = 0;
  std::size_t hi = hashes.size();
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (hashes[mid] < hash || (above && hashes[mid] == hash)) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return static_cast<std::int32_t>(lo);
}

std::int32_t FindInPakfile(std::string_view path, std::uint16_t hash, const OpenPakfile& pak, std::uint32_t hint) {
  const std::int32_t hi = EntryCount(pak) - 1;
  if (hi < 0) return -1;
  // A hint from a damaged directory may lie outside it; start halfway then.
  const bool hint_inside = hint <= static_cast<std::uint32_t>(hi);
  if (pak.name_hashes.size() != pak.records.size() || hi <= 1) {
    return Bisect(path, hash, pak, 0, hi, hint_inside ? static_cast<std::int32_t>(hint) : hi / 2);
  }
  // The record at the hint first: in data order it is the one. Its hash
  // tells, without a look at the record or the pool, when it cannot be.
  if (hint_inside && pak.name_hashes[hint] == hash) {
    ++EntryComparisonsOnThisThread();
    if (CompareEntryName(path, hash, hint, pak) == 0) return static_cast<std::int32_t>(hint);
  }
  // Then only the records with the path's hash, found in the compact array
  // of hashes: usually one or two, bisected by name when there are more.
  const std::vector<std::uint16_t>& hashes = pak.name_hashes;
  const std::int32_t first = HashBound(hashes, hash, false);
  if (first > hi || hashes[static_cast<std::size_t>(first)] != hash) return -1;
  // Most hashes belong to one record; the end of a longer run is bisected too.
  const bool alone = first == hi || hashes[static_cast<std::size_t>(first) + 1] != hash;
  const std::int32_t last = alone ? first : HashBound(hashes, hash, true) - 1;
  return Bisect(path, hash, pak, first, last, first + (last - first) / 2);
}

// Among the copies of the path around `found` (neighbours with the same
// name_offset), the one whose data lies nearest to that of the hint record;
// a copy ahead counts half its distance, one behind its full distance.
std::int32_t NearestCopy(const OpenPakfile& pak, std::int32_t found, std::uint32_t hint) {
  const std::vector<DirRecord>& records = pak.records;
  if (hint >= records.size() || hint == static_cast<std::uint32_t>(found)) return found;
  const std::uint32_t name = records[static_cast<std::size_t>(found)].name_offset;
  std::size_t first = static_cast<std::size_t>(found);
  while (first > 0 && records[first - 1].name_offset == name) --first;
  // A path stored once is taken without a look at the hint record, which
  // out of data order lies anywhere in the directory.
  const std::size_t after = static_cast<std::size_t>(found) + 1;
  if (first == static_cast<std::size_t>(found) && (after == records.size() || records[after].name_offset != name)) {
    return found;
  }
  const std::uint32_t reference = records[hint].data_offset;
  std::size_t best = first;
  std::int64_t best_cost = std::numeric_limits<std::int64_t>::max();
  for (std::size_t j = first; j < records.size() && records[j].name_offset == name; ++j) {
    const auto distance = static_cast<std::int32_t>(records[j].data_offset - reference);
    const std::int64_t cost = distance < 0 ? -std::int64_t{distance} : distance / 2;
    if (cost < best_cost) {
      best_cost = cost;
      best = j;
    }
  }
  return static_cast<std::int32_t>(best);
}

}  // namespace

void IndexNameHashes(OpenPakfile& pak) {
  pak.name_hashes.resize(pak.records.size());
  for (std::size_t i = 0; i < pak.records.size(); ++i) {
    const std::size_t name = pak.records[i].name_offset;
    pak.name_hashes[i] = static_cast<std::uint16_t>(PoolByte(pak.names, name) << 8 | PoolByte(pak.names, name + 1));
  }
}

std::uint64_t& EntryComparisonsOnThisThread() {
  thread_local std::uint64_t comparisons = 0;
  return comparisons;
}

int CompareEntryName(std::string_view path, std::uint16_t hash, std::uint32_t index, const OpenPakfile& pak) {
  const DirRecord& record = pak.records[index];
  const std::vector<std::uint8_t>& names = pak.names;
  const std::size_t name = record.name_offset;
  int diff = (hash >> 8) - PoolByte(names, name);
  if (diff != 0) return diff;
  diff = (hash & 0xFF) - PoolByte(names, name + 1);
  if (diff != 0) return diff;

  std::size_t rest = path.size();  // path bytes not yet matched
  diff = CompareBackwards(path, rest, names, name + 2);
  if (diff != 0) return diff;
  if (record.dir_offset == 0) return rest == 0 ? 0 : 1;
  if (rest == 0) return -1;
  diff = static_cast<unsigned char>(path[rest - 1]) - static_cast<unsigned char>(kPakSeparator);
  if (diff != 0) return diff;
  --rest;
  diff = CompareBackwards(path, rest, names, record.dir_offset);
  if (diff != 0) return diff;
  return rest == 0 ? 0 : 1;
}

bool PakFindEntry(std::string_view path, PakFileHandle& handle, bool resolve_duplicates) {
  const std::uint16_t hash = NameHash(path);
  const PakRegistryTable& registry = PakRegistry();
  for (std::size_t position = registry.size(); position-- > 0;) {
    const OpenPakfile& pak = *registry[position];
    // Other threads' opens move the hint; one lookup uses one value of it.
    const std::uint32_t hint = pak.next_hint.load(std::memory_order_relaxed);
    std::int32_t index = FindInPakfile(path, hash, pak, hint);
    if (index < 0) continue;
    if (resolve_duplicates) index = NearestCopy(pak, index, hint);
    handle.pak_index = static_cast<std::int32_t>(position);
    handle.pak_id = pak.id;
    handle.entry = index;
    return static_cast<std::uint32_t>(index) == hint;
  }
  handle.pak_index = -1;
  handle.pak_id = -1;
  return false;
}

}  // namespace kestrum
