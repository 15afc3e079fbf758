// Everything of a pakfile but the files' bytes: the directory in hash order
// with its data-order chain, the name pool and the fixed part, and their
// encoding into the protected header region that is written at offset 0.
// Works on memory only, so that tests and fuzzers share it with the writer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

#include "builder/pack_entry.h"
#include "format/locale_key.h"
#include "format/pak_layout.h"

namespace kestrum {

struct HeaderLayout {
  std::vector<std::uint32_t> hash_order;  // entry indices; record k is hash_order[k]
  std::vector<DirRecord> directory;
  std::vector<std::uint8_t> pool;  // plain
  PakHeader header;                // checksum not yet set
  std::uint64_t header_size = 0;   // 52 + 16 n + P, before any limit is checked
  std::uint64_t data_size = 0;     // T
};

// Lays out the header for the accepted entries (entry indices in data order,
// with size and data_offset already set). The pool is built in the buffer
// that layout.pool holds on entry, keeping its capacity. Prints the name pool's progress to
// `progress` when not null. False when the name pool finds no representative
// for some directory (an impossible state).
bool LayOutHeader(EntryTable& table, std::span<const std::uint32_t> accepted, HeaderLayout& layout,
                  std::FILE* progress);

// The header region as stored: checksum computed over the plain image, the
// pool scrambled with `key`, everything masked. Needs header_size within the
// format's limit. Sets layout.header.checksum.
std::vector<std::uint8_t> EncodeHeaderRegion(HeaderLayout& layout, const LocaleKey& key);

}  // namespace kestrum
