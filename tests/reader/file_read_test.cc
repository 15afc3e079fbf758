// Reading files inside pakfiles through handles, on both I/O back ends:
// every size across block boundaries, piece sizes, the data-order hint and
// concurrent readers of one pakfile.
#include <gtest/gtest.h>

#include <thread>

#include "format/mask.h"
#include "io/backend_param.h"
#include "reader/pak_registry.h"
#include "reader/reader_fixture.h"

namespace kestrum {
namespace {

using testing::Content;
using testing::ReaderTest;
using testing::ReadWhole;
using testing::TestFile;

std::vector<TestFile> FilesOfManySizes() {
  std::vector<TestFile> files;
  unsigned seed = 0;
  for (std::size_t size : {0u, 1u, 2047u, 4095u, 4096u, 4097u, 65535u, 65536u, 65537u, 131072u, 262147u, 1048576u + 17u,
                           3u, 0u, 300000u}) {
    files.push_back({"sizes/f" + std::to_string(seed) + ".bin", Content(size, seed), seed % 4 != 3});
    ++seed;
  }
  return files;
}

using FileReadTest = testing::BackendReaderTest;

TEST_P(FileReadTest, EveryFileComesOutWholeInAnyPieceSizeAndBlockSize) {
  const std::vector<TestFile> files = FilesOfManySizes();
  const std::string path = WritePak("sizes.pak", files);
  for (std::uint32_t block_kib : {64u, 2u, 256u}) {
    ASSERT_GE(PakOpen(path, block_kib, "", 0, false), 0);
    ASSERT_EQ(BackendOf(PakRegistry().back()->stream.file), GetParam());
    for (std::uint32_t piece : {262144u, 65536u, 4096u, 1000u}) {
      for (const TestFile& file : files) {
        EXPECT_EQ(ReadWhole(file.path, piece), ExpectedRead(file))
            << file.path << " piece " << piece << " kib " << block_kib;
      }
    }
    // Backwards through the data, so blocks are refilled out of order.
    for (auto it = files.rbegin(); it != files.rend(); ++it) EXPECT_EQ(ReadWhole(it->path, 7777), ExpectedRead(*it));
    PakCloseAll();
  }
}

TEST_P(FileReadTest, ReadsStopAtTheEndOfTheFile) {
  ASSERT_GE(PakOpen(WritePak("ends.pak", {{"empty", ""}, {"ten", "0123456789"}, {"next", "abc"}}), 64, "", 0, false),
            0);
  PakFileHandle* empty = PakFileOpen("empty");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(PakFileSize(empty), 0);
  char buf[64] = {};
  EXPECT_EQ(PakFileRead(empty, buf, sizeof buf), 0);
  PakFileClose(empty);

  PakFileHandle* ten = PakFileOpen("ten");
  EXPECT_EQ(PakFileSize(ten), 10);
  EXPECT_EQ(PakFileRead(ten, buf, 4), 4);
  EXPECT_EQ(PakFileRead(ten, buf + 4, sizeof buf), 6);  // only what is left, not the next file
  EXPECT_EQ(std::string(buf, 10), "0123456789");
  EXPECT_EQ(PakFileRead(ten, buf, sizeof buf), 0);
  EXPECT_EQ(ten->read_pos, 10u);
  // A handle naming no record of its pakfile does not validate.
  ten->entry = 3;
  EXPECT_EQ(PakFileSize(ten), -1);
  EXPECT_EQ(PakFileRead(ten, buf, 1), -1);
  ten->entry = -1;
  EXPECT_FALSE(PakFileValidate(ten));
  PakFileClose(ten);
}

TEST_P(FileReadTest, OpeningInDataOrderLeavesTheHintOnTheSuccessor) {
  const std::vector<TestFile> files = FilesOfManySizes();
  ASSERT_GE(PakOpen(WritePak("order.pak", files), 64, "", 0, false), 0);
  const OpenPakfile& pak = *PakRegistry().back();
  EXPECT_EQ(pak.next_hint, pak.first_in_data_order);
  for (const TestFile& file : files) {
    PakFileHandle* handle = PakFileOpen(file.path);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(pak.next_hint, pak.records[static_cast<std::size_t>(handle->entry)].next_in_data_order);
    EXPECT_EQ(pak.records[static_cast<std::size_t>(handle->entry)].size, file.data.size());
    PakFileClose(handle);
  }
}

TEST_P(FileReadTest, ThreadsReadingDifferentFilesOfOnePakfileGetTheirOwnBytes) {
  std::vector<TestFile> files;
  for (unsigned i = 0; i < 8; ++i) files.push_back({"t/" + std::to_string(i), Content(150000 + i * 4099, 100 + i)});
  ASSERT_GE(PakOpen(WritePak("threads.pak", files), 2, "", 0, false), 0);
  std::vector<int> failures(files.size(), 0);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < files.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 10; ++round) {
        const std::uint32_t piece = 1000 + static_cast<std::uint32_t>(t * 3001 + round * 577);
        if (ReadWhole(files[t].path, piece) != files[t].data) ++failures[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (std::size_t t = 0; t < files.size(); ++t) EXPECT_EQ(failures[t], 0) << t;
}

INSTANTIATE_TEST_SUITE_P(Backends, FileReadTest, ::testing::Values(AsyncBackend::kQueued, AsyncBackend::kImmediate),
                         testing::BackendName);

}  // namespace
}  // namespace kestrum
