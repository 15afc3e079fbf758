#include "format/mask.h"

#include <cstddef>
#include <cstring>

namespace kestrum {
namespace {

// The whole-word middle part, written as plain byte loops over aligned
// memory so that the compiler vectorises them: 64-byte pieces of a fixed
// length, which GCC vectorises at -O2 too (its cheap cost model leaves a loop
// of unknown length a byte loop there: a quarter of the CPU time of reading
// through kestrum-mount), then the short rest. Built for the widest vector
// units the processor has where the compiler can pick at run time.
#if defined(__GNUC__) && defined(__x86_64__) && !defined(__clang__) && !defined(_WIN32)
__attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#endif
void MaskAligned(std::uint8_t* __restrict p, std::size_t n) {
  constexpr std::size_t kPiece = 64;
  for (; n >= kPiece; n -= kPiece, p += kPiece) {
    for (std::size_t i = 0; i < kPiece; ++i) p[i] ^= kDataMask;
  }
  for (std::size_t i = 0; i < n; ++i) p[i] ^= kDataMask;
}

}  // namespace

void MaskData(std::span<std::uint8_t> block) {
  std::uint8_t* p = block.data();
  std::size_t n = block.size();
  // A short unaligned head, byte by byte, then the aligned rest.
  while (n > 0 && (reinterpret_cast<std::uintptr_t>(p) % 64) != 0) {
    *p++ ^= kDataMask;
    --n;
  }
  MaskAligned(p, n);
}

}  // namespace kestrum
