#include "format/scramble.h"

#include <cstddef>

namespace kestrum {

// For the byte at index i, r = size - i counts the bytes from it to the end
// of the block, itself included; the last byte has r = 1 and takes key byte 1.

namespace {

// The byte XORed in at distance r from the end: the constant, with the key
// byte for r's parity when the key is on.
struct XorPair {
  std::uint8_t odd;
  std::uint8_t even;
};

XorPair XorsFor(const LocaleKey& key) {
  const std::uint8_t k0 = key.enabled ? key.bytes[0] : 0;
  const std::uint8_t k1 = key.enabled ? key.bytes[1] : 0;
  return {static_cast<std::uint8_t>(kHeaderConstant ^ k1), static_cast<std::uint8_t>(kHeaderConstant ^ k0)};
}

}  // namespace

// Both loops are branch-free over the bytes so that the compiler can run
// them on vector units; the header pool can be megabytes.
void ScrambleHeader(std::span<std::uint8_t> block, const LocaleKey& key) {
  const XorPair x = XorsFor(key);
  const std::size_t n = block.size();
  std::uint8_t* p = block.data();
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t r = n - i;
    const std::uint8_t mix = (r & 1) != 0 ? x.odd : x.even;
    p[i] = static_cast<std::uint8_t>(p[i] - static_cast<std::uint8_t>(r)) ^ mix;
  }
}

void UnscrambleHeader(std::span<std::uint8_t> block, const LocaleKey& key) {
  const XorPair x = XorsFor(key);
  const std::size_t n = block.size();
  std::uint8_t* p = block.data();
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t r = n - i;
    const std::uint8_t mix = (r & 1) != 0 ? x.odd : x.even;
    p[i] = static_cast<std::uint8_t>((p[i] ^ mix) + static_cast<std::uint8_t>(r));
  }
}

void ScrambleHeader(std::span<std::uint8_t> block) { ScrambleHeader(block, CurrentLocaleKey()); }

void UnscrambleHeader(std::span<std::uint8_t> block) { UnscrambleHeader(block, CurrentLocaleKey()); }

}  // namespace kestrum
