// The local cache copy of a pakfile: begun when the pakfile is opened,
// written through by the slot reader, finished and stamped when it closes.
#pragma once

#include <cstdint>
#include <string>

#include "reader/open_pakfile.h"

namespace kestrum {

// Creates (or truncates) the copy at path, sized like the pakfile's file, and
// switches the stream to write-through. False when the copy cannot be
// created or sized; the stream then goes on without one.
bool BeginCacheCopy(PakStream& stream, const std::string& path);

// For the pakfile at registry position `position` in write-through mode:
// reads the rest of the file so that every byte reaches the copy, waits for
// the last write and stamps the copy with copy_stamp. A copy that could not
// be completed is abandoned unstamped.
void FinishCacheCopy(std::int32_t position);

}  // namespace kestrum
