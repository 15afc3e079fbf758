// Reading, checking and installing a pakfile's header region.
#pragma once

#include <cstdint>

#include "reader/pak_reader.h"

namespace kestrum {

// How a header load went: kNone, or why it failed.
struct HeaderVerdict {
  PakError error = PakError::kNone;
  LocaleKey built_under{};  // kWrongLocale: the key that the checksum needs
};

// Reads the fixed part, the directory and the name pool through the handle
// (record 0 of the temporary one-record directory, read_pos 0), checks them,
// unscrambles the pool (retrying without the locale key) and verifies the
// checksum. On success the pakfile gets its directory, pool, data base and
// read limit. On failure its file is closed and nothing else changes; the
// verdict tells a file too short or with wrong marks or sizes (kNotAPakfile)
// from a read that failed (kIo), and a checksum that another locale key
// would satisfy (kWrongLocale) from a damaged header (kNotAPakfile).
// An expected stamp of kNoStamp accepts any stamp.
HeaderVerdict PakLoadHeader(PakFileHandle& handle, std::uint32_t expected_stamp);

}  // namespace kestrum
