// CRC-32 (reflected, polynomial 0xEDB88320, as in IEEE 802.3 and zlib).
// The pakfile checksum is the register started at 0xFFFFFFFF and advanced over
// the covered bytes, stored without the usual final inversion.
#pragma once

#include <cstdint>
#include <span>

namespace kestrum {

inline constexpr std::uint32_t kCrcStart = 0xFFFFFFFFu;

// Advances the register over the block. Advancing over a block in pieces
// gives the same register as over the whole block.
void Crc32Update(std::span<const std::uint8_t> block, std::uint32_t& crc);

}  // namespace kestrum
