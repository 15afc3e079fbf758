#include "format/mask.h"

#include <cstddef>
#include <cstring>

namespace kestrum {

void MaskData(std::span<std::uint8_t> block) {
  constexpr std::uint64_t kWordMask = 0x5A5A5A5A5A5A5A5AULL;
  std::uint8_t* p = block.data();
  std::size_t n = block.size();
  while (n > 0 && (reinterpret_cast<std::uintptr_t>(p) % alignof(std::uint64_t)) != 0) {
    *p++ ^= kDataMask;
    --n;
  }
  // memcpy keeps this free of aliasing and alignment assumptions; compilers
  // turn it into plain (vectorised) loads and stores.
  for (; n >= sizeof(std::uint64_t); p += sizeof(std::uint64_t), n -= sizeof(std::uint64_t)) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    word ^= kWordMask;
    std::memcpy(p, &word, sizeof word);
  }
  while (n > 0) {
    *p++ ^= kDataMask;
    --n;
  }
}

}  // namespace kestrum
