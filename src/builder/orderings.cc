#include "builder/orderings.h"

#include <algorithm>

namespace kestrum {

int CompareHashOrder(const PackEntry& a, const PackEntry& b) {
  if (a.hash != b.hash) return static_cast<int>(a.hash) - static_cast<int>(b.hash);
  // Walk both names from their last byte towards their first.
  const auto* pa = reinterpret_cast<const unsigned char*>(a.name) + a.name_length;
  const auto* pb = reinterpret_cast<const unsigned char*>(b.name) + b.name_length;
  for (std::uint32_t k = std::min(a.name_length, b.name_length); k > 0; --k) {
    --pa;
    --pb;
    if (*pa != *pb) return static_cast<int>(*pa) - static_cast<int>(*pb);
  }
  if (a.name_length == b.name_length) return 0;
  return a.name_length < b.name_length ? -1 : 1;
}

int CompareSplit(const PackEntry& a, const PackEntry& b) {
  if (a.split == b.split) return 0;
  return b.split < a.split ? -1 : 1;
}

void SortHashOrder(const EntryTable& table, std::span<std::uint32_t> indices) {
  // Most entries differ in their hash: sorted first as keys of hash and
  // index, which compare without reaching into the table, then each run of
  // one hash by the names.
  std::vector<std::uint64_t> keys(indices.size());
  for (std::size_t i = 0; i < indices.size(); ++i) keys[i] = std::uint64_t{table[indices[i]].hash} << 32 | indices[i];
  std::sort(keys.begin(), keys.end());
  for (std::size_t i = 0; i < indices.size(); ++i) indices[i] = static_cast<std::uint32_t>(keys[i]);
  const auto by_name = [&table](std::uint32_t x, std::uint32_t y) { return CompareHashOrder(table[x], table[y]) < 0; };
  for (std::size_t begin = 0; begin < keys.size();) {
    std::size_t end = begin + 1;
    while (end < keys.size() && keys[end] >> 32 == keys[begin] >> 32) ++end;
    if (end - begin > 1) std::sort(indices.begin() + begin, indices.begin() + end, by_name);
    begin = end;
  }
}

void SortSplitOrder(const EntryTable& table, std::span<std::uint32_t> indices) {
  std::sort(indices.begin(), indices.end(),
            [&table](std::uint32_t x, std::uint32_t y) { return table[x].split > table[y].split; });
}

}  // namespace kestrum
