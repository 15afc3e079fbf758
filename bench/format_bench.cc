// The per-byte operations: the data mask against a plain memcpy of the same
// block at every alignment, and the header checksum.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "format/crc32.h"
#include "format/mask.h"

namespace kestrum {
namespace {

constexpr std::size_t kBlock = 65536;

void BM_MaskData(benchmark::State& state) {
  std::vector<std::uint8_t> buffer(kBlock + 16, 0x33);
  const auto block = std::span(buffer).subspan(static_cast<std::size_t>(state.range(0)), kBlock);
  for (auto _ : state) {
    MaskData(block);
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBlock));
}
BENCHMARK(BM_MaskData)->DenseRange(0, 7);

void BM_Memcpy(benchmark::State& state) {
  std::vector<std::uint8_t> from(kBlock + 16, 0x33), to(kBlock + 16);
  const std::size_t offset = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    std::memcpy(to.data() + offset, from.data() + offset, kBlock);
    benchmark::DoNotOptimize(to.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBlock));
}
BENCHMARK(BM_Memcpy)->Arg(0)->Arg(3);

void BM_Crc32Update(benchmark::State& state) {
  std::vector<std::uint8_t> buffer(kBlock, 0x33);
  std::uint32_t crc = kCrcStart;
  for (auto _ : state) {
    Crc32Update(buffer, crc);
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBlock));
}
BENCHMARK(BM_Crc32Update);

}  // namespace
}  // namespace kestrum
