// Opening the pakfiles of a mount through the reader runtime's public
// interface, and listing each one's entries with the directory records that
// hold them, so that a file can be read by its record whatever copy of its
// path another pakfile holds.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "mount_tree.h"

namespace kestrum {

// From <kestrum/pak_reader.h>, which only pak_sources.cc includes: a test
// may then include the runtime's headers from the source tree beside this.
enum class PakError : std::int32_t;

struct OpenedPak {
  std::int32_t id = -1;       // pak id
  std::int32_t position = 0;  // registry position: the n-th pakfile opened is at n - 1
};

// Opens the pakfile with read buffers of block_kib KiB, without a cache
// copy. On failure id is -1 and
// `message` holds the lines to print: "Bad Pakfile '<path>'", then the
// reason, indented (naming the locale of a pakfile built under another one).
OpenedPak OpenPakForMount(const std::string& path, std::uint32_t block_kib, std::string& message);

// The entries of an open pakfile in data order, each with its record index.
// kNotAPakfile when the entries cannot be matched with the directory's
// data-order chain (a damaged directory whose paths cannot all be rebuilt).
PakError ListPakForMount(std::int32_t pak_id, PakContents& contents);

}  // namespace kestrum
