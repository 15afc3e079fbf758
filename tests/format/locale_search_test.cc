// Finding the locale key of a scrambled pool from the checksum: checked
// against every key by brute force on short pools, and on pools long enough
// for the distance from the end to pass 256 several times.
#include "format/locale_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "format/crc32.h"
#include "format/scramble.h"

namespace kestrum {
namespace {

using Key = std::array<std::uint8_t, 2>;

std::vector<std::uint8_t> RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> bytes(n);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
  return bytes;
}

// A pool as a pakfile stores it, with the register before it and the
// checksum over the plain pool.
struct Stored {
  std::uint32_t before = 0;
  std::vector<std::uint8_t> scrambled;
  std::uint32_t checksum = 0;
};

Stored Scrambled(std::size_t n, const Key& key, unsigned seed) {
  Stored s;
  const std::vector<std::uint8_t> prefix = RandomBytes(52 + 16 * 3, seed + 1000);
  s.before = kCrcStart;
  Crc32Update(prefix, s.before);
  s.scrambled = RandomBytes(n, seed);
  s.checksum = s.before;
  Crc32Update(s.scrambled, s.checksum);  // the plain pool
  ScrambleHeader(s.scrambled, LocaleKey{.enabled = true, .bytes = key});
  return s;
}

TEST(LocaleSearch, FindsTheKeyOfPoolsOfManyLengths) {
  const Key keys[] = {{'f', 'r'}, {'d', 'e'}, {0, 0}, {0xFF, 0x01}, {'1', 'x'}, {0x80, 0x7F}};
  unsigned seed = 1;
  for (std::size_t n : {1u, 2u, 3u, 255u, 256u, 257u, 600u, 4099u}) {
    for (const Key& key : keys) {
      const Stored s = Scrambled(n, key, seed++);
      const auto found = FindScrambleKey(s.before, s.scrambled, s.checksum);
      ASSERT_TRUE(found.has_value()) << n << " " << int{key[0]} << " " << int{key[1]};
      if (n == 1) {
        // A one-byte pool takes key byte 1 alone: any k0 fits.
        EXPECT_EQ((*found)[1], key[1]);
      } else {
        EXPECT_EQ(*found, key) << n;
      }
    }
  }
}

// Brute force over all 65536 keys on short pools: the search finds a key
// exactly when one exists.
TEST(LocaleSearch, AgreesWithTryingEveryKey) {
  for (unsigned seed = 0; seed < 6; ++seed) {
    Stored s = Scrambled(7, {'q', 'z'}, seed);
    if (seed % 2 == 1) s.scrambled[3] ^= 0x40;  // damaged: most likely no key fits
    std::vector<Key> fitting;
    for (unsigned k = 0; k < 65536; ++k) {
      const Key key{static_cast<std::uint8_t>(k >> 8), static_cast<std::uint8_t>(k)};
      std::vector<std::uint8_t> plain = s.scrambled;
      UnscrambleHeader(plain, LocaleKey{.enabled = true, .bytes = key});
      std::uint32_t crc = s.before;
      Crc32Update(plain, crc);
      if (crc == s.checksum) fitting.push_back(key);
    }
    const auto found = FindScrambleKey(s.before, s.scrambled, s.checksum);
    ASSERT_EQ(found.has_value(), !fitting.empty()) << seed;
    if (found) {
      EXPECT_NE(std::find(fitting.begin(), fitting.end(), *found), fitting.end());
    }
    if (seed % 2 == 0) {
      EXPECT_EQ(fitting, (std::vector<Key>{Key{'q', 'z'}}));
    }
  }
}

TEST(LocaleSearch, DamagedPoolsAndChecksumsMatchNoKey) {
  Stored s = Scrambled(5000, {'f', 'r'}, 42);
  Stored flipped = s;
  flipped.scrambled[2500] ^= 0x01;
  EXPECT_FALSE(FindScrambleKey(flipped.before, flipped.scrambled, flipped.checksum).has_value());
  EXPECT_FALSE(FindScrambleKey(s.before, s.scrambled, s.checksum ^ 0x80000000u).has_value());
  EXPECT_FALSE(FindScrambleKey(s.before ^ 1, s.scrambled, s.checksum).has_value());
  EXPECT_FALSE(FindScrambleKey(s.before, {}, s.checksum).has_value());
}

}  // namespace
}  // namespace kestrum
