// The name pool builder. For each directory record in hash order it appends
// the file's name record (two hash bytes, the file-name part reversed, NUL) and,
// the first time a directory is needed, a reversed directory string that the
// directory and every directory that is a prefix of it (character for
// character) point into. Copies of one path share the first copy's offsets.
//
// Which string a directory points into is decided by its representative: the
// first entry in split order whose directory part begins with that
// directory. The pool's bytes depend on that choice, so the index below finds
// exactly that entry, in O(log n) instead of a walk over the split order.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

#include "builder/pack_entry.h"
#include "format/pak_layout.h"

namespace kestrum {

class RepresentativeIndex {
 public:
  // `split_order`: the accepted entries sorted by SortSplitOrder.
  RepresentativeIndex(const EntryTable& table, std::span<const std::uint32_t> split_order);

  // The representative (an entry index) of entry e's directory part, its
  // first `split` name bytes; e must have a '\' and be in the split order.
  std::uint32_t Find(std::uint32_t e) const { return representative_of_[e]; }

 private:
  std::vector<std::uint32_t> representative_of_;  // by entry index
};

struct NamePoolBuild {
  std::vector<std::uint8_t> pool;    // plain, not yet scrambled
  std::vector<DirRecord> directory;  // name_offset and dir_offset set, record k for hash_order[k]
};

// Builds the pool and the records' name references for the accepted entries
// in hash order, and sets dir_string_offset of each representative in the
// table. Prints "Compressing header... k/n" every 128 records to `progress`
// when it is not null. Returns false if a directory finds no representative,
// which a correct split order rules out.
bool BuildNamePool(EntryTable& table, std::span<const std::uint32_t> hash_order,
                   std::span<const std::uint32_t> split_order, NamePoolBuild& out, std::FILE* progress);

}  // namespace kestrum
