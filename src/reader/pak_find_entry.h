// Finding a path's directory record in the open pakfiles.
#pragma once

#include <cstdint>
#include <string_view>

#include "reader/open_pakfile.h"
#include "reader/pak_reader.h"

namespace kestrum {

// Orders a normalised path against record `index` of the pakfile exactly as
// the directory is sorted: by name hash, then by the path read from its last
// byte backwards, a path that runs out first sorting first. Negative: the
// path sorts before the record; 0: the record is this path. Pool offsets
// are bounds-checked: bytes past the pool read as NUL.
int CompareEntryName(std::string_view path, std::uint16_t hash, std::uint32_t index, const OpenPakfile& pak);

// Searches the registered pakfiles, newest first, for the normalised path.
// Found: sets pak_index, pak_id and entry. Not found: sets pak_index and
// pak_id to -1 and leaves entry. With resolve_duplicates, of several copies
// of the path the one whose data lies nearest ahead of the record at
// next_hint is taken. Allocates nothing. Returns true when the record found
// is the one that the pakfile's next_hint named: the lookup went on in data
// order.
bool PakFindEntry(std::string_view path, PakFileHandle& handle, bool resolve_duplicates);

// Fills the pakfile's name_hashes from its records and name pool (each
// record's hash as its name record stores it), so that lookups find the
// records of a hash without touching the records and the pool. Called once
// the directory is in place; throws std::bad_alloc.
void IndexNameHashes(OpenPakfile& pak);

// How many CompareEntryName calls lookups on this thread have made.
std::uint64_t& EntryComparisonsOnThisThread();

}  // namespace kestrum
