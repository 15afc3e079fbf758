// The three orders of a pakfile's entries:
//  - list order: the accepted entries as the list file names them; it becomes
//    the data order;
//  - hash order: the directory's order, by name hash and then by the name read
//    backwards (unsigned bytes, a name that runs out first coming first);
//  - split order: by the position of the last '\', largest first, which the
//    name pool builder walks to let directories share their stored text.
// The orderings sort arrays of entry indices; entries never move.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "builder/pack_entry.h"

namespace kestrum {

// Negative, zero or positive as a comes before, together with or after b.
int CompareHashOrder(const PackEntry& a, const PackEntry& b);
int CompareSplit(const PackEntry& a, const PackEntry& b);

// Sort entry indices in place. Equal entries come in no particular order.
void SortHashOrder(const EntryTable& table, std::span<std::uint32_t> indices);
void SortSplitOrder(const EntryTable& table, std::span<std::uint32_t> indices);

}  // namespace kestrum
