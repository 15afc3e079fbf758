#include "format/crc32.h"

#include <array>
#include <cstddef>

namespace kestrum {
namespace {

// Slicing-by-4 tables: table[0] is the classic byte table, table[k] advances
// a byte that still has k more bytes to pass through the register.
constexpr std::array<std::array<std::uint32_t, 256>, 4> MakeTables() {
  std::array<std::array<std::uint32_t, 256>, 4> t{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    t[0][i] = c;
  }
  for (std::size_t k = 1; k < 4; ++k) {
    for (std::uint32_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  }
  return t;
}

constexpr auto kTables = MakeTables();

}  // namespace

void Crc32Update(std::span<const std::uint8_t> block, std::uint32_t& crc) {
  const std::uint8_t* p = block.data();
  std::size_t n = block.size();
  std::uint32_t c = crc;
  for (; n >= 4; p += 4, n -= 4) {
    c ^= static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
    c = kTables[3][c & 0xFF] ^ kTables[2][(c >> 8) & 0xFF] ^ kTables[1][(c >> 16) & 0xFF] ^ kTables[0][c >> 24];
  }
  for (; n > 0; ++p, --n) c = (c >> 8) ^ kTables[0][(c ^ *p) & 0xFF];
  crc = c;
}

}  // namespace kestrum
