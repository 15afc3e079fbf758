// The reader runtime's hot paths: opening every file of a 65,535-entry
// pakfile by path, in data order (each lookup starts at the expected record)
// and in random order (a full bisection each), and streaming a large file
// through PakFileRead in 256 KiB pieces.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "reader/pak_reader.h"
#include "support/pak_image.h"

namespace kestrum {
namespace {

std::string WriteTemp(const std::vector<std::uint8_t>& image) {
  char path[] = "/tmp/kestrum-bench-XXXXXX";
  const int fd = ::mkstemp(path);
  std::FILE* f = ::fdopen(fd, "wb");
  std::fwrite(image.data(), 1, image.size(), f);
  std::fclose(f);
  return path;
}

struct ManyFiles {
  std::vector<std::string> paths;  // in data order
  std::string pak;
  ManyFiles() {
    std::vector<testing::TestFile> files;
    for (int i = 0; i < 65535; ++i) {
      paths.push_back("levels\\zone" + std::to_string(i % 97) + "\\asset" + std::to_string(i) + ".bin");
      files.push_back({paths.back(), "x"});
    }
    pak = WriteTemp(testing::MakePakImage(files));
  }
  ~ManyFiles() { ::unlink(pak.c_str()); }
};

void OpenEveryFile(benchmark::State& state, bool shuffled) {
  static ManyFiles many;
  std::vector<std::string> order = many.paths;
  if (shuffled) std::shuffle(order.begin(), order.end(), std::mt19937(5));
  PakOpen(many.pak, 64, "", 0, false);
  for (auto _ : state) {
    for (const std::string& path : order) {
      PakFileHandle* handle = PakFileOpen(path);
      benchmark::DoNotOptimize(handle);
      PakFileClose(handle);
    }
  }
  PakCloseAll();
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * order.size()));
}
void BM_OpenEveryFileInDataOrder(benchmark::State& state) { OpenEveryFile(state, false); }
void BM_OpenEveryFileInRandomOrder(benchmark::State& state) { OpenEveryFile(state, true); }
BENCHMARK(BM_OpenEveryFileInDataOrder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenEveryFileInRandomOrder)->Unit(benchmark::kMillisecond);

void BM_PakFileReadStreaming(benchmark::State& state) {
  const std::string data(64 << 20, 'd');
  const std::string pak = WriteTemp(testing::MakePakImage({{"big.bin", data}}));
  PakOpen(pak, 64, "", 0, false);
  std::vector<char> piece(262144);
  for (auto _ : state) {
    PakFileHandle* handle = PakFileOpen("big.bin");
    while (PakFileRead(handle, piece.data(), static_cast<std::uint32_t>(piece.size())) > 0) {
    }
    PakFileClose(handle);
  }
  PakCloseAll();
  ::unlink(pak.c_str());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_PakFileReadStreaming)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kestrum
