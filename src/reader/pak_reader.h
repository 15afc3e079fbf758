// The reader runtime: opens pakfiles, looks paths up in them and reads the
// files inside through handles. It prints nothing; failures are reported by
// the return values.
//
// Opening and closing pakfiles must not overlap any other call into the
// runtime. Between them, any number of threads may open, read and close
// handles, one thread per handle at a time; reads of one pakfile are
// serialised by that pakfile's lock.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "format/pak_layout.h"

namespace kestrum {

// A file inside an open pakfile. Bound to its pakfile by pak_id; pak_index is
// the pakfile's registry position as last seen, repaired when earlier
// pakfiles close.
struct PakFileHandle {
  std::int32_t pak_index = -1;
  std::int32_t pak_id = -1;
  std::int32_t entry = 0;  // record index in the pakfile's directory
  std::uint32_t read_pos = 0;
};

// Opens the pakfile at path (as given) with two read buffers of block_kib
// KiB, rounded to a multiple of 4 KiB (at least 2). Returns its pak id, or -1
// when it cannot be opened or its header fails a check; every call uses up
// an id. With a cache_path, a whole, sound copy there carrying `stamp` is
// read instead (any stamp when stamp is kNoStamp); otherwise, with
// make_copy, a new copy is written beside cache_path while the pakfile is
// read, and stamped, made durable and renamed to cache_path when it closes.
// A cache_path that reaches the pakfile itself is ignored.
std::int32_t PakOpen(std::string_view path, std::uint32_t block_kib, std::string_view cache_path, std::uint32_t stamp,
                     bool make_copy);  // empty cache_path = no copy
// Closes the pakfile at registry position `position` (not its id); later
// pakfiles move down one position. Out-of-range positions do nothing.
void PakClose(std::int32_t position);
void PakCloseAll();
// Copies out the directory and the name pool of the pakfile with this id, and
// fills the header's entry_count, first_in_data_order, header_size and
// file_size. Leaves everything untouched for an unknown id.
void PakGetDirectory(std::int32_t pak_id, PakHeader& header, std::vector<std::uint8_t>& names,
                     std::vector<DirRecord>& records);

// Opens a file inside the open pakfiles, newest pakfile first, so a pakfile
// opened later shadows the same path in earlier ones; any letter case and
// either slash. Null when no open pakfile holds the path. The handle is the
// caller's until PakFileClose; it stays bound to its pakfile through the
// closing of other pakfiles. Safe from several threads at once (it only
// tries the pakfile's lock, to start reading the file's first block).
PakFileHandle* PakFileOpen(std::string_view path);
// The file's size, or -1 when the handle does not validate.
std::int32_t PakFileSize(PakFileHandle* handle);
// Copies up to count bytes of the file, from where the last read ended, and
// returns how many it copied: fewer at the end of the file or when a block
// cannot be read; -1 when the handle does not validate. Holds the pakfile's
// lock while it reads, so threads reading different files of one pakfile
// through their own handles take turns; one handle, one thread at a time.
std::int32_t PakFileRead(PakFileHandle* handle, void* destination, std::uint32_t count);
// Frees a handle from PakFileOpen (null is fine), also when its pakfile has
// been closed.
void PakFileClose(PakFileHandle* handle);
// True when the handle's pakfile is still open and the handle names one of
// its records; repairs pak_index on the way.
bool PakFileValidate(PakFileHandle* handle);

}  // namespace kestrum
