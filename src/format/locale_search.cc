#include "format/locale_search.h"

#include <algorithm>
#include <bit>
#include <vector>

#include "format/scramble.h"

// Unscrambling byte i of an n-byte pool under key (k0, k1) gives
//   p_i = ((s_i ^ 0x3D ^ k_{r AND 1}) + r) mod 256,   r = n - i,
// which is not linear in the key (the addition carries). It depends, though,
// only on t_i = s_i ^ 0x3D, on r mod 256 and on one key byte.
//
// The CRC register is affine over GF(2): advancing it over a byte b is
// R' = Z(R) ^ T(b), where Z advances by a zero byte (multiplication by x^8
// modulo the polynomial, in the reflected representation) and T is the
// byte table, itself linear in b. Over the whole pool:
//   R_n = Z^n(R_0) ^ XOR_i ( x^(8(r_i - 1)) * T(p_i) )
// with * the product modulo the polynomial. Positions with the same
// (t, r mod 256) always get the same byte p for a given key, so they can be
// grouped: g_c = XOR of x^(8(r - 1)) over the class's positions, and the class
// contributes g_c * T(p_c(k)). A class of even r depends on k0 alone, one of
// odd r on k1 alone, so
//   R_n(k0, k1) = base ^ E(k0) ^ O(k1)
// with E and O tabulated for all 256 values of their key byte, and a key
// matches exactly when base ^ E(k0) ^ O(k1) equals the stored checksum.

namespace kestrum {
namespace {

constexpr std::uint32_t kPolynomial = 0xEDB88320u;
constexpr std::uint32_t kOne = 0x80000000u;  // x^0 in the reflected representation
constexpr std::size_t kClasses = std::size_t{256} * 256;

constexpr std::array<std::uint32_t, 256> MakeTable() {
  std::array<std::uint32_t, 256> t{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ kPolynomial : c >> 1;
    t[i] = c;
  }
  return t;
}
constexpr std::array<std::uint32_t, 256> kTable = MakeTable();

// a * b modulo the polynomial.
std::uint32_t MultiplyModP(std::uint32_t a, std::uint32_t b) {
  std::uint32_t product = 0;
  for (std::uint32_t m = kOne; m != 0; m >>= 1) {
    if ((a & m) != 0) product ^= b;
    b = (b & 1) ? (b >> 1) ^ kPolynomial : b >> 1;
  }
  return product;
}

std::uint32_t ZeroByteStep(std::uint32_t r) { return (r >> 8) ^ kTable[r & 0xFF]; }

bool IsLowerLetter(std::uint8_t c) { return c >= 'a' && c <= 'z'; }

}  // namespace

std::optional<std::array<std::uint8_t, 2>> FindScrambleKey(std::uint32_t register_before_pool,
                                                           std::span<const std::uint8_t> scrambled_pool,
                                                           std::uint32_t checksum) {
  const std::size_t n = scrambled_pool.size();
  if (n == 0) return std::nullopt;  // no pool byte depends on the key

  // g_c for every class c = t * 256 + (r mod 256), and the register over the
  // pool as if every byte were 0.
  std::vector<std::uint32_t> g(kClasses, 0);
  std::uint32_t power = kOne;  // x^(8(r - 1))
  std::uint32_t base = register_before_pool;
  for (std::size_t r = 1; r <= n; ++r) {
    const std::uint8_t t = scrambled_pool[n - r] ^ kHeaderConstant;
    g[std::size_t{t} << 8 | (r & 0xFF)] ^= power;
    power = ZeroByteStep(power);
    base = ZeroByteStep(base);
  }

  std::array<std::uint32_t, 256> even{};  // E(k0)
  std::array<std::uint32_t, 256> odd{};   // O(k1)
  std::array<std::uint32_t, 256> times_g{};
  for (std::size_t c = 0; c < kClasses; ++c) {
    if (g[c] == 0) continue;
    const auto t = static_cast<std::uint8_t>(c >> 8);
    const auto s = static_cast<std::uint8_t>(c);
    // times_g[y] = g_c * T(y), built from the eight single bits by linearity.
    std::array<std::uint32_t, 8> bit_products{};
    for (int j = 0; j < 8; ++j) bit_products[static_cast<std::size_t>(j)] = MultiplyModP(g[c], kTable[1u << j]);
    times_g[0] = 0;
    for (std::uint32_t y = 1; y < 256; ++y) {
      times_g[y] = times_g[y & (y - 1)] ^ bit_products[static_cast<std::size_t>(std::countr_zero(y))];
    }
    std::array<std::uint32_t, 256>& into = (s & 1) != 0 ? odd : even;
    for (std::uint32_t k = 0; k < 256; ++k) into[k] ^= times_g[((t ^ k) + s) & 0xFF];
  }

  // base ^ E(k0) ^ O(k1) == checksum: look each E(k0) up among the O(k1).
  std::array<std::pair<std::uint32_t, std::uint8_t>, 256> by_value{};
  for (std::uint32_t k = 0; k < 256; ++k) by_value[k] = {odd[k], static_cast<std::uint8_t>(k)};
  std::sort(by_value.begin(), by_value.end());
  std::optional<std::array<std::uint8_t, 2>> found;
  for (std::uint32_t k0 = 0; k0 < 256; ++k0) {
    const std::uint32_t wanted = checksum ^ base ^ even[k0];
    auto at = std::lower_bound(by_value.begin(), by_value.end(), std::pair{wanted, std::uint8_t{0}});
    for (; at != by_value.end() && at->first == wanted; ++at) {
      const std::array<std::uint8_t, 2> key{static_cast<std::uint8_t>(k0), at->second};
      if (!found || (IsLowerLetter(key[0]) && IsLowerLetter(key[1]))) found = key;
      if (IsLowerLetter(key[0]) && IsLowerLetter(key[1])) return found;
    }
  }
  return found;
}

}  // namespace kestrum
