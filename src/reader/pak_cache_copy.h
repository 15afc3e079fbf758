// The local cache copy of a pakfile: begun when the pakfile is opened,
// written through by the slot reader to a temporary file beside the cache
// path, and, when the pakfile closes, completed, stamped, made durable and
// renamed to the cache path. A copy that cannot be completed is removed, so
// a file at the cache path is always a whole copy (or something else that
// the open's checks turn away).
#pragma once

#include <cstdint>
#include <string>

#include "reader/open_pakfile.h"

namespace kestrum {

// Creates the copy's temporary file beside path, sized like the pakfile's
// file, and switches the stream to write-through. False when the copy cannot
// be created or sized; nothing is left behind and the stream goes on
// without one.
bool BeginCacheCopy(PakStream& stream, const std::string& path);

// Whether the cache copy just loaded (the stream's file) can be used: it is
// exactly as long as its header says a pakfile is.
bool CacheCopyIsWhole(const PakStream& stream);

// For the pakfile at registry position `position` in write-through mode:
// reads the rest of the file so that every byte reaches the copy, waits for
// the last write, stamps the copy with copy_stamp, makes it durable and
// renames it to the cache path. A copy that could not be completed is
// removed.
void FinishCacheCopy(std::int32_t position);

}  // namespace kestrum
