// Turns a directory record back into the file's path: the directory string
// and the file name are both stored back to front in the name pool.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "format/pak_layout.h"

namespace kestrum {

// Sets `path` to the record's path as stored (directory, '\', file name; or
// the file name alone when dir_offset is 0), bytes as they stand in the pool.
// Returns false, leaving `path` empty, when the record or its strings lie
// outside the directory or the pool, or a string has no NUL inside the pool.
bool BuildEntryPath(std::uint32_t record, std::span<const std::uint8_t> names, std::span<const DirRecord> records,
                    std::string& path);

}  // namespace kestrum
