#include "format/scramble.h"

#include <cstddef>

namespace kestrum {

// For the byte at index i, r = size - i counts the bytes from it to the end
// of the block, itself included; the last byte has r = 1 and takes key byte 1.

void ScrambleHeader(std::span<std::uint8_t> block, const LocaleKey& key) {
  const std::size_t n = block.size();
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t r = n - i;
    auto b = static_cast<std::uint8_t>(block[i] - static_cast<std::uint8_t>(r));
    if (key.enabled) b ^= key.bytes[r & 1];
    block[i] = b ^ kHeaderConstant;
  }
}

void UnscrambleHeader(std::span<std::uint8_t> block, const LocaleKey& key) {
  const std::size_t n = block.size();
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t r = n - i;
    auto b = static_cast<std::uint8_t>(block[i] ^ kHeaderConstant);
    if (key.enabled) b ^= key.bytes[r & 1];
    block[i] = static_cast<std::uint8_t>(b + static_cast<std::uint8_t>(r));
  }
}

void ScrambleHeader(std::span<std::uint8_t> block) { ScrambleHeader(block, CurrentLocaleKey()); }

void UnscrambleHeader(std::span<std::uint8_t> block) { UnscrambleHeader(block, CurrentLocaleKey()); }

}  // namespace kestrum
