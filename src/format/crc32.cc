#include "format/crc32.h"

#include <array>
#include <cstddef>

#include "format/pak_layout.h"

namespace kestrum {
namespace {

// Slicing-by-16 tables: table[0] is the classic byte table, table[k] advances
// a byte that still has k more bytes to pass through the register. Sixteen
// bytes are folded per step with independent lookups, which keeps the
// processor's load units busy instead of waiting on one long chain.
constexpr std::size_t kSlices = 16;
using CrcTables = std::array<std::array<std::uint32_t, 256>, kSlices>;

constexpr CrcTables MakeTables() {
  CrcTables t{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    t[0][i] = c;
  }
  for (std::size_t k = 1; k < kSlices; ++k) {
    for (std::uint32_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  }
  return t;
}

constexpr CrcTables kTables = MakeTables();

// The four bytes of w, the lowest first, looked up in tables base+3 .. base.
inline std::uint32_t FoldWord(std::uint32_t w, std::size_t base) {
  return kTables[base + 3][w & 0xFF] ^ kTables[base + 2][(w >> 8) & 0xFF] ^ kTables[base + 1][(w >> 16) & 0xFF] ^
         kTables[base][w >> 24];
}

}  // namespace

void Crc32Update(std::span<const std::uint8_t> block, std::uint32_t& crc) {
  const std::uint8_t* p = block.data();
  std::size_t n = block.size();
  std::uint32_t c = crc;
  for (; n >= kSlices; p += kSlices, n -= kSlices) {
    c = FoldWord(c ^ LoadU32(p), 12) ^ FoldWord(LoadU32(p + 4), 8) ^ FoldWord(LoadU32(p + 8), 4) ^
        FoldWord(LoadU32(p + 12), 0);
  }
  for (; n > 0; ++p, --n) c = (c >> 8) ^ kTables[0][(c ^ *p) & 0xFF];
  crc = c;
}

}  // namespace kestrum
