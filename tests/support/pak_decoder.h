// An independent reading of a pakfile image for tests: it decodes the header
// region from the format's rules alone (not through the reader runtime) and
// checks every structural rule a writer must keep.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "format/locale_key.h"
#include "format/pak_layout.h"

namespace kestrum::testing {

struct DecodedEntry {
  std::string path;  // rebuilt from the pool: directory '\' file name
  DirRecord record;
  std::string data;  // the stored bytes with the data mask removed
};

struct DecodedPak {
  PakHeader header;
  std::vector<std::uint8_t> pool;         // unscrambled
  std::vector<DecodedEntry> entries;      // in directory (hash) order
  std::vector<std::uint32_t> data_order;  // directory indices along the chain
};

// Decodes the image with the key; returns false (with a reason) when the
// header does not check out.
bool DecodePak(std::span<const std::uint8_t> image, const LocaleKey& key, DecodedPak& out, std::string& why);
// The same for the pakfile at `path`, read whole.
bool DecodePakFile(const std::string& path, const LocaleKey& key, DecodedPak& out, std::string& why);

// Re-encodes a header region after a test changed the decoded directory or
// pool in place: a valid checksum over the changed bytes, the pool scrambled
// with `key`, everything masked; the data area is left as it is. Models a
// hostile pakfile that passes every check.
void ReencodeHeader(std::vector<std::uint8_t>& image, const PakHeader& header, const std::vector<DirRecord>& records,
                    const std::vector<std::uint8_t>& pool, const LocaleKey& key);

// Checks the writer's rules on a decoded pakfile: hash order, the data-order
// chain, contiguous data offsets, file_size, name records, shared directory
// strings and copies. Returns an empty string when all hold, else the first
// broken rule.
std::string CheckWriterRules(const DecodedPak& pak);

}  // namespace kestrum::testing
