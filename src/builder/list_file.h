// The list file: one path per line, in the order in which the files' bytes
// are to lie in the pakfile.
//
//  - A line ends with CR LF, LF CR, a lone CR or a lone LF; a pair is one end.
//  - Every line end closes one entry, also for an empty line. Text after the
//    last line end is not taken, and a NUL byte ends the list where it stands.
//  - '*' characters at the very start of a line are dropped and mark the file
//    as stored without the data mask. A '*' later in the line is an ordinary
//    byte of the name.
//  - Nothing else is special: blanks and tabs belong to the path.
//
// Each entry's name is the line normalised in place (A-Z folded, '/' to '\');
// names point into the list buffers, which stay alive until
// ReleaseListBuffers().
#pragma once

#include <cstddef>
#include <limits>
#include <string>

#include "builder/pack_entry.h"

namespace kestrum {

inline constexpr std::size_t kNoEntryLimit = std::numeric_limits<std::size_t>::max();

// Reads the list file at `path` (used as given) and appends one entry per line
// to the table, stopping once the table holds `max_entries`. Returns 0 when the
// file was read (an empty one included), 1 when it cannot be opened or read,
// or is too large to be held in memory; the table is then left as it was.
int ReadListFile(const std::string& path, EntryTable& table, std::size_t max_entries = kNoEntryLimit);

// Parses list bytes that the caller keeps alive: `text` is normalised in
// place and `source` (a copy of the same bytes) gets NULs at the line ends.
// Both must end with a NUL byte at index size() - 1.
void ParseListBuffer(std::string& text, std::string& source, EntryTable& table,
                     std::size_t max_entries = kNoEntryLimit);

// Frees every list buffer; entry names are invalid afterwards.
void ReleaseListBuffers();

}  // namespace kestrum
