// The reader runtime: opens pakfiles, looks paths up in them and reads the
// files inside through handles. It prints nothing; failures are reported by
// the return values. C programs, and other languages through a C FFI, use the
// same runtime through <kestrum/kestrum.h>.
//
// Threads: setting the locale key, opening and closing pakfiles must not
// overlap any other call into the runtime. Between them, any number of
// threads may look paths up, list entries, open, read, seek and close
// handles, one thread per handle at a time. Reads of different handles run
// side by side, also in one pakfile: a read either copies from the
// pakfile's two shared read slots (small reads in data order, small pieces
// of a file), under the pakfile's lock but never waiting for another
// thread's transfer, or reads straight into the caller's buffer with no lock
// (files read whole out of order, large reads).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "format/kestrum_export.h"
#include "format/locale_key.h"
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

// Why an operation failed. The values are those of kestrum_status in the C
// interface.
enum class PakError : std::int32_t {
  kNone = 0,
  kNotFound = 1,     // no such pakfile; or no open pakfile holds the path
  kNotAPakfile = 2,  // not a pakfile, or its header is damaged, or it is cut short
  kWrongLocale = 3,  // a sound pakfile, built under another locale code
  kIo = 4,           // the system could not open or read a file that is there
  kNoMemory = 5,     // memory ran out
  kInvalidArgument = 6,
  kInvalidHandle = 7,  // a handle that is not open (closed, never valid, or its pakfile closed)
  kBufferTooSmall = 8,
};

// One line of English for each reason (never null; "unknown error" for a
// value outside the list).
KESTRUM_API const char* PakErrorMessage(PakError error);

struct PakOpenResult {
  std::int32_t id = -1;  // the pak id, or -1
  PakError error = PakError::kNone;
  // With kWrongLocale: the key the pakfile was built under. The checksum
  // tells it exactly; bytes that are no letters are possible.
  LocaleKey built_under{};
};

// Opens the pakfile at path (as given) with two read buffers of block_kib
// KiB, rounded to a multiple of 4 KiB (at least 2). Returns its pak id, or -1
// when it cannot be opened or its header fails a check; every call uses up
// an id. With a cache_path, a whole, sound copy there carrying `stamp` is
// read instead (any stamp when stamp is kNoStamp); otherwise, with
// make_copy, a new copy is written beside cache_path while the pakfile is
// read, and stamped, made durable and renamed to cache_path when it closes.
// A cache_path that reaches the pakfile itself is ignored.
KESTRUM_API std::int32_t PakOpen(std::string_view path, std::uint32_t block_kib, std::string_view cache_path,
                                 std::uint32_t stamp,
                                 bool make_copy);  // empty cache_path = no copy
// The same, with the reason of a failure: kInvalidArgument (block_kib below 2
// or above 1 GiB), kNotFound, kNotAPakfile, kWrongLocale, kIo or kNoMemory.
// A cache copy that cannot be used is passed over; only the pakfile's own
// failure is reported.
KESTRUM_API PakOpenResult PakOpenWithReason(std::string_view path, std::uint32_t block_kib, std::string_view cache_path,
                                            std::uint32_t stamp, bool make_copy);
// Closes the pakfile at registry position `position` (not its id); later
// pakfiles move down one position. Out-of-range positions do nothing.
KESTRUM_API void PakClose(std::int32_t position);
// Closes the pakfile with this id, wherever it stands in the registry. False
// (and nothing done) when no open pakfile has the id.
KESTRUM_API bool PakCloseById(std::int32_t pak_id);
KESTRUM_API void PakCloseAll();
// Copies out the directory and the name pool of the pakfile with this id, and
// fills the header's entry_count, first_in_data_order, header_size and
// file_size. Leaves everything untouched for an unknown id.
KESTRUM_API void PakGetDirectory(std::int32_t pak_id, PakHeader& header, std::vector<std::uint8_t>& names,
                                 std::vector<DirRecord>& records);

// The entries of an open pakfile in data order (the order of their bytes),
// as "kestrum -l" lists them. PakEntryCount gives their number;
// PakEntryAt entry `index` (0 to count - 1): its stored path (directories and
// file name joined by '\', letters as stored) and its size. Both return
// kInvalidHandle for an id that no open pakfile has, kNoMemory when memory
// runs out, and PakEntryAt kInvalidArgument for an index out of range. The
// order is worked out on the first call for a pakfile; each later call costs
// one path rebuild. Entries whose path cannot be rebuilt (only in a damaged
// directory) are left out, as the listing leaves them out.
KESTRUM_API PakError PakEntryCount(std::int32_t pak_id, std::uint32_t& count);
KESTRUM_API PakError PakEntryAt(std::int32_t pak_id, std::uint32_t index, std::string& path, std::uint32_t& size);

// Looks a path up as PakFileOpen does, without opening it: kNone with the
// size of the file that PakFileOpen(path) would open, kNotFound when no open
// pakfile holds the path, or kNoMemory.
KESTRUM_API PakError PakPathSize(std::string_view path, std::uint32_t& size);

// Opens a file inside the open pakfiles, newest pakfile first, so a pakfile
// opened later shadows the same path in earlier ones; any letter case and
// either slash. Null when no open pakfile holds the path. The handle is the
// caller's until PakFileClose; it stays bound to its pakfile through the
// closing of other pakfiles. Safe from several threads at once (it only
// tries the pakfile's lock, to start reading the first block of a small
// file opened in data order).
KESTRUM_API PakFileHandle* PakFileOpen(std::string_view path);
// The file's size, or -1 when the handle does not validate.
KESTRUM_API std::int32_t PakFileSize(PakFileHandle* handle);
// Copies up to count bytes of the file, from where the last read ended, and
// returns how many it copied: fewer at the end of the file or when a block
// cannot be read; -1 when the handle does not validate. Threads reading
// different files of one pakfile through their own handles do not wait for
// each other's transfers; one handle, one thread at a time.
KESTRUM_API std::int32_t PakFileRead(PakFileHandle* handle, void* destination, std::uint32_t count);

struct PakReadResult {
  std::uint32_t bytes = 0;  // bytes copied
  // kNone: fewer bytes than asked for only at the end of the file.
  // kIo: a block could not be read; kNotAPakfile: the pakfile ends before
  // the file's bytes do. kInvalidHandle: nothing was read.
  PakError error = PakError::kNone;
};
// PakFileRead with the reason of a short read.
KESTRUM_API PakReadResult PakFileReadChecked(PakFileHandle* handle, void* destination, std::uint32_t count);
// Reads at `offset` in the file as PakFileReadChecked reads, and leaves the
// read position alone. An offset at or past the end reads 0 bytes.
KESTRUM_API PakReadResult PakFileReadAt(PakFileHandle* handle, std::uint64_t offset, void* destination,
                                        std::uint32_t count);

enum class PakSeekFrom : std::int32_t { kStart = 0, kCurrent = 1, kEnd = 2 };
// Moves the read position to offset from the start, the current position or
// the end, and returns the new position. -1, with the position unchanged,
// when the handle does not validate or the new position would lie below 0
// or above 0xFFFFFFFF. A position past the end is allowed; reads there
// return 0 bytes.
KESTRUM_API std::int64_t PakFileSeek(PakFileHandle* handle, std::int64_t offset, PakSeekFrom from);

// Frees a handle from PakFileOpen (null is fine), also when its pakfile has
// been closed.
KESTRUM_API void PakFileClose(PakFileHandle* handle);
// True when the handle's pakfile is still open and the handle names one of
// its records; repairs pak_index on the way.
KESTRUM_API bool PakFileValidate(PakFileHandle* handle);

}  // namespace kestrum
