// Finding the locale key under which a name pool was scrambled, from the
// header checksum alone: how the reader tells a sound pakfile built under
// another locale code from a damaged one.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace kestrum {

// The key bytes (k0, k1) for which the pool, unscrambled with them, advances
// the CRC register from `register_before_pool` to `checksum`; nothing when no
// key does. Key bytes (0, 0) are the same as no key. When several keys match
// (a 32-bit checksum against 65536 keys: rarely, and then by chance), a key
// of two lower-case ASCII letters is preferred. Exact, not a guess: every key
// is accounted for, at a cost of a few table steps per pool byte plus a
// bounded amount of work (at most 65536 byte classes).
std::optional<std::array<std::uint8_t, 2>> FindScrambleKey(std::uint32_t register_before_pool,
                                                           std::span<const std::uint8_t> scrambled_pool,
                                                           std::uint32_t checksum);

}  // namespace kestrum
