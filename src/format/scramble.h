// The name pool scrambler. Each byte is transformed according to its distance
// from the end of the block, so a pool must be scrambled and unscrambled as
// one block of its full length, never in pieces.
#pragma once

#include <cstdint>
#include <span>

#include "format/locale_key.h"

namespace kestrum {

inline constexpr std::uint8_t kHeaderConstant = 0x3D;

// In place. With the same key and the same block length, each undoes the
// other. The overloads without a key use the process-wide CurrentLocaleKey().
void ScrambleHeader(std::span<std::uint8_t> block, const LocaleKey& key);
void UnscrambleHeader(std::span<std::uint8_t> block, const LocaleKey& key);
void ScrambleHeader(std::span<std::uint8_t> block);
void UnscrambleHeader(std::span<std::uint8_t> block);

}  // namespace kestrum
