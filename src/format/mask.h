// The data mask: every byte of a pakfile's header region and of each masked
// file is stored XORed with one constant byte.
#pragma once

#include <cstdint>
#include <span>

namespace kestrum {

inline constexpr std::uint8_t kDataMask = 0x5A;

// XORs every byte of the block with kDataMask, in place. Applying it twice
// restores the block. Works on whole machine words between an unaligned head
// and tail; the result is the same as a byte-by-byte XOR for any alignment.
void MaskData(std::span<std::uint8_t> block);

}  // namespace kestrum
