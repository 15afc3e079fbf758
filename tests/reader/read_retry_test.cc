// Reads as a game makes them: files opened on a loader thread that exits
// before they are read, on a pakfile that is not in memory, and blocks whose
// read fails once. Whoever needs a block reads it again; the bytes come out
// right and a failure is reported to one call at most.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <thread>

#include "io/backend_param.h"
#include "reader/reader_fixture.h"
#include "support/platform.h"

namespace kestrum {
namespace {

using testing::Content;
using testing::ReaderTest;
using testing::ReadWhole;
using testing::SameBytes;
using testing::TempDir;
using testing::TestFile;

// Reads the rest of an open file in pieces, going on after short counts
// (each is a failure reported to that call) until the file is complete or
// three calls in a row brought nothing. Counts the short counts.
std::string ReadToEnd(PakFileHandle* handle, std::uint32_t piece, int& short_reads) {
  const auto size = static_cast<std::uint32_t>(PakFileSize(handle));
  std::string out;
  std::string buffer(piece, '\0');
  for (int idle = 0; handle->read_pos < size && idle < 3;) {
    const auto want = static_cast<std::int32_t>(std::min(piece, size - handle->read_pos));
    const std::int32_t got = PakFileRead(handle, buffer.data(), piece);
    if (got > 0) out.append(buffer, 0, static_cast<std::size_t>(got));
    if (got < want) ++short_reads;
    idle = got > 0 ? 0 : idle + 1;
  }
  return out;
}

void WritePakAt(const std::string& path, const std::vector<TestFile>& files) {
  const std::vector<std::uint8_t> image = testing::MakePakImage(files);
  testing::WriteFile(path, std::string(image.begin(), image.end()));
}

using ReadRetryTest = testing::BackendReaderTest;

// Pakfile k holds a file at its start, which the header's first blocks
// cover, and behind it the files that the loader opens and the main thread
// reads.
std::vector<TestFile> LevelFiles(unsigned k) {
  const std::string dir = "level" + std::to_string(k) + "/";
  return {{dir + "intro.bin", Content(300000, k)},
          {dir + "map.bin", Content(400000 + k * 4099, 10 + k)},
          {dir + "sounds.bin", Content(250000, 20 + k)}};
}

TEST_P(ReadRetryTest, FilesOpenedByALoaderThreadThatHasExitedReadWholeFromAColdPakfile) {
  constexpr unsigned kPakfiles = 4;
  // The pakfiles must really be read from the disk, where a read takes long
  // enough to be still pending when the loader exits: the scratch directory
  // may be a tmpfs that keeps every page in memory, so the directory the test
  // runs in is the second choice.
  std::unique_ptr<TempDir> beside;
  std::string where = dir_.path();
  if (!testing::EvictFromPageCache(WritePak("probe.pak", LevelFiles(0)))) {
    beside = std::make_unique<TempDir>(std::filesystem::current_path());
    where = beside->path();
  }
  // The first pakfile is also copied to a cache copy as it is read.
  const std::string cache = where + "/level0.cache";
  std::vector<std::string> paths;
  for (unsigned k = 0; k < kPakfiles; ++k) {
    paths.push_back(where + "/level" + std::to_string(k) + ".pak");
    WritePakAt(paths.back(), LevelFiles(k));
    ASSERT_GE(PakOpen(paths.back(), 64, k == 0 ? cache : "", 1, true), 0);
  }
  for (const std::string& path : paths) {
    if (!testing::EvictFromPageCache(path)) GTEST_SKIP() << "cannot drop cached pages of " << path;
  }

  // The loader opens a file in each pakfile, which starts the reads of its
  // first blocks, and exits before the main thread reads them. In the first
  // pakfile it reads a little first, which writes to the copy, and at the
  // end opens another file there, which starts reads far ahead of the copy.
  constexpr std::uint32_t kLoaderRead = 1000;
  std::string loaded(kLoaderRead, '\0');
  std::vector<PakFileHandle*> maps(kPakfiles, nullptr);
  std::thread loader([&] {
    maps[0] = PakFileOpen("level0/map.bin");
    loaded.resize(static_cast<std::size_t>(std::max(0, PakFileRead(maps[0], loaded.data(), kLoaderRead))));
    for (unsigned k = 1; k < kPakfiles; ++k) maps[k] = PakFileOpen("level" + std::to_string(k) + "/map.bin");
    PakFileClose(PakFileOpen("level0/sounds.bin"));
  });
  loader.join();

  for (unsigned k = 0; k < kPakfiles; ++k) {
    ASSERT_NE(maps[k], nullptr);
    int short_reads = 0;
    const std::string first = k == 0 ? loaded : "";
    EXPECT_TRUE(SameBytes(first + ReadToEnd(maps[k], 65536, short_reads), LevelFiles(k)[1].data)) << "pakfile " << k;
    EXPECT_EQ(short_reads, 0) << "pakfile " << k;
    PakFileClose(maps[k]);
    EXPECT_TRUE(SameBytes(ReadWhole(LevelFiles(k)[2].path), LevelFiles(k)[2].data)) << "pakfile " << k;
  }
  PakCloseAll();
  // The copy holds the pakfile's bytes, its stamp aside.
  std::string copy = testing::ReadFileBytes(cache);
  std::string source = testing::ReadFileBytes(paths[0]);
  ASSERT_EQ(copy.size(), source.size());
  copy.erase(kStampOffset, 4);
  source.erase(kStampOffset, 4);
  EXPECT_TRUE(SameBytes(copy, source));
}

TEST_P(ReadRetryTest, ABlockWhoseReadFailedIsReadAgainByTheNextCall) {
  const std::vector<TestFile> files = LevelFiles(7);
  ASSERT_GE(PakOpen(WritePak("retry.pak", files), 16, "", 0, false), 0);
  // The next block read fails: the one that a read-ahead starts while the
  // file is being read.
  PakFileHandle* map = PakFileOpen(files[1].path);
  ASSERT_NE(map, nullptr);
  std::string first(5000, '\0');
  ASSERT_EQ(PakFileRead(map, first.data(), 5000), 5000);
  InjectReadFailuresForTesting(1);
  int short_reads = 0;
  EXPECT_TRUE(SameBytes(first + ReadToEnd(map, 3000, short_reads), files[1].data));
  EXPECT_LE(short_reads, 1);
  PakFileClose(map);

  // Two failures in a row, the second perhaps on the first one's retry: the
  // calls that meet them see short counts, and the file still comes out
  // whole.
  PakFileHandle* intro = PakFileOpen(files[0].path);
  InjectReadFailuresForTesting(2);
  short_reads = 0;
  EXPECT_TRUE(SameBytes(ReadToEnd(intro, 100000, short_reads), files[0].data));
  EXPECT_LE(short_reads, 2);
  PakFileClose(intro);
}

INSTANTIATE_TEST_SUITE_P(Backends, ReadRetryTest, ::testing::Values(AsyncBackend::kQueued, AsyncBackend::kImmediate),
                         testing::BackendName);

}  // namespace
}  // namespace kestrum
