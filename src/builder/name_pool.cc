#include "builder/name_pool.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "format/prefetch.h"

namespace kestrum {
namespace {

std::string_view DirectoryPart(const PackEntry& e) { return {e.name, static_cast<std::size_t>(e.split)}; }

bool IsPrefixOf(std::string_view prefix, std::string_view text) {
  return text.size() >= prefix.size() && std::memcmp(text.data(), prefix.data(), prefix.size()) == 0;
}

}  // namespace

// The representative of directory D is the earliest entry in split order
// whose directory part has D as a prefix (its split is then at least |D|).
// The entries are first grouped by their exact directory part; sorted
// lexicographically, the directories that have D as a prefix form a run
// starting at D itself, and the prefix relation nests like a trie; one pass
// with a stack of ancestors folds the earliest split-order position of every
// run into its first directory.
RepresentativeIndex::RepresentativeIndex(const EntryTable& table, std::span<const std::uint32_t> split_order)
    : representative_of_(table.size(), 0) {
  struct Group {
    std::string_view dir;
    std::uint32_t best;  // earliest split-order position in its whole run
  };
  std::vector<Group> groups;
  // Each position's group; the split order puts entries without a
  // directory part (split -1) last, and they have none.
  std::vector<std::uint32_t> group_of(split_order.size(), 0);
  std::unordered_map<std::string_view, std::uint32_t> by_dir;
  for (std::uint32_t pos = 0; pos < split_order.size(); ++pos) {
    const PackEntry& e = table[split_order[pos]];
    if (e.split < 0) continue;
    // Positions come in increasing order: a group's first is its earliest.
    const auto [it, added] = by_dir.try_emplace(DirectoryPart(e), static_cast<std::uint32_t>(groups.size()));
    if (added) groups.push_back({it->first, pos});
    group_of[pos] = it->second;
  }

  std::vector<std::uint32_t> sorted(groups.size());
  for (std::uint32_t g = 0; g < sorted.size(); ++g) sorted[g] = g;
  std::sort(sorted.begin(), sorted.end(), [&](std::uint32_t x, std::uint32_t y) {
    return groups[x].dir < groups[y].dir;  // unsigned bytewise; no two are equal
  });

  std::vector<std::uint32_t> ancestors;
  auto fold_top = [&] {
    const std::uint32_t child = ancestors.back();
    ancestors.pop_back();
    if (!ancestors.empty()) {
      Group& parent = groups[ancestors.back()];
      parent.best = std::min(parent.best, groups[child].best);
    }
  };
  for (const std::uint32_t g : sorted) {
    while (!ancestors.empty() && !IsPrefixOf(groups[ancestors.back()].dir, groups[g].dir)) fold_top();
    ancestors.push_back(g);
  }
  while (!ancestors.empty()) fold_top();

  for (std::uint32_t pos = 0; pos < split_order.size(); ++pos) {
    const std::uint32_t entry = split_order[pos];
    if (table[entry].split >= 0) representative_of_[entry] = split_order[groups[group_of[pos]].best];
  }
}

bool BuildNamePool(EntryTable& table, std::span<const std::uint32_t> hash_order,
                   std::span<const std::uint32_t> split_order, NamePoolBuild& out, std::FILE* progress) {
  const RepresentativeIndex representatives(table, split_order);
  const std::size_t n = hash_order.size();
  out.directory.assign(n, DirRecord{});
  std::vector<std::uint8_t>& pool = out.pool;

  for (std::size_t k = 0; k < n; ++k) {
    if (progress != nullptr && k % 128 == 0) {
      std::fprintf(progress, "Compressing header... %d/%d        \r", static_cast<int>(k + 1), static_cast<int>(n));
      std::fflush(progress);
    }
    // The entries lie in list order: the one after next, and the name of
    // the next (asked for a step ago), are asked for now.
    if (k + 2 < n) PrefetchForRead(&table[hash_order[k + 2]]);
    if (k + 1 < n) PrefetchForRead(table[hash_order[k + 1]].name);
    const PackEntry& e = table[hash_order[k]];
    DirRecord& record = out.directory[k];

    // Copies of one path stand next to each other in hash order; each later
    // copy takes the first copy's name record and directory.
    if (k > 0) {
      const PackEntry& prev = table[hash_order[k - 1]];
      if (prev.hash == e.hash && prev.name_length == e.name_length &&
          std::memcmp(prev.name, e.name, e.name_length) == 0) {
        record.name_offset = out.directory[k - 1].name_offset;
        record.dir_offset = out.directory[k - 1].dir_offset;
        continue;
      }
    }

    const std::int32_t s = e.split;
    record.name_offset = static_cast<std::uint32_t>(pool.size());
    pool.push_back(static_cast<std::uint8_t>(e.hash >> 8));
    pool.push_back(static_cast<std::uint8_t>(e.hash & 0xFF));
    for (std::int64_t i = static_cast<std::int64_t>(e.name_length) - 1; i > s; --i) {
      pool.push_back(static_cast<std::uint8_t>(e.name[i]));
    }
    pool.push_back(0);
    if (s < 0) {
      record.dir_offset = 0;
      continue;
    }

    PackEntry& r = table[representatives.Find(hash_order[k])];
    if (r.split < s || std::memcmp(r.name, e.name, static_cast<std::size_t>(s)) != 0) return false;
    if (r.dir_string_offset < 0) {
      r.dir_string_offset = static_cast<std::int32_t>(pool.size());
      for (std::int32_t i = r.split - 1; i >= 0; --i) pool.push_back(static_cast<std::uint8_t>(r.name[i]));
      pool.push_back(0);
    }
    record.dir_offset = static_cast<std::uint32_t>(r.dir_string_offset + (r.split - s));
  }
  return true;
}

}  // namespace kestrum
