// Reading, checking and installing a pakfile's header region.
#pragma once

#include <cstdint>

#include "reader/pak_reader.h"

namespace kestrum {

// Reads the fixed part, the directory and the name pool through the handle
// (record 0 of the temporary one-record directory, read_pos 0), checks them,
// unscrambles the pool (retrying without the locale key) and verifies the
// checksum. On success the pakfile gets its directory, pool, data base and
// read limit. On failure its file is closed and nothing else changes.
// An expected stamp of kNoStamp accepts any stamp.
bool PakLoadHeader(PakFileHandle& handle, std::uint32_t expected_stamp);

}  // namespace kestrum
