// Groups of new files written and closed together, with the system's queued
// service and with plain calls: every file whole, in order, and the first
// failure stopping everything after it.
#include "io/write_batch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "io/batch_mode.h"
#include "io/host_path.h"
#include "io/io_test_support.h"
#include "support/platform.h"
#include "support/temp_dir.h"

namespace kestrum {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileBytes;

std::string Bytes(std::size_t size, unsigned seed) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>(i * 7 + seed * 13 + i / 509);
  return s;
}

std::span<const std::uint8_t> AsBytes(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

class WriteBatchTest : public testing::BatchServiceTest {
 protected:
  testing::TempDir dir_;
};

TEST_P(WriteBatchTest, EveryFileIsWrittenWholeAndClosed) {
  const std::size_t before = testing::OpenDescriptors();
  std::vector<std::string> contents;
  for (std::size_t i = 0; i < 150; ++i) contents.push_back(Bytes(i % 7 == 0 ? 0 : i % 11 == 0 ? 300000 : i * 3, i));
  {
    WriteBatch batch(64);
    if (!GetParam()) {
      EXPECT_EQ(batch.capacity(), 1u);
    }
    std::size_t added = 0;
    for (std::size_t i = 0; i < contents.size(); ++i) {
      batch.Add(CreateExclusive(dir_ / std::to_string(i)), AsBytes(contents[i]));
      ++added;
      if (batch.full() || i + 1 == contents.size()) {
        EXPECT_EQ(batch.Run(), added);
        EXPECT_EQ(batch.size(), 0u);
        added = 0;
      }
    }
  }
  for (std::size_t i = 0; i < contents.size(); ++i) EXPECT_EQ(ReadFileBytes(dir_ / std::to_string(i)), contents[i]);
  if (before > 0) {
    EXPECT_EQ(testing::OpenDescriptors(), before);
  }
}

// A file that cannot be written (opened for reading only) in the middle of a
// group: the files before it are whole, nothing after it is written, and
// every descriptor goes once the rest is discarded.
TEST_P(WriteBatchTest, FirstFailedWriteStopsTheGroup) {
  const std::size_t before = testing::OpenDescriptors();
  const std::string data = Bytes(1000, 1);
  {
    WriteBatch batch(8);
    const std::size_t files = std::min<std::size_t>(batch.capacity(), 6);
    const std::size_t bad = files > 1 ? 2 : 0;
    for (std::size_t i = 0; i < files; ++i) {
      const std::string path = dir_ / std::to_string(i);
      if (i == bad) {
        testing::WriteFile(path, "");
        batch.Add(OpenRegularForReading(path), AsBytes(data));
      } else {
        batch.Add(CreateExclusive(path), AsBytes(data));
      }
    }
    EXPECT_EQ(batch.Run(), bad);
    for (std::size_t i = 0; i < files; ++i) {
      EXPECT_EQ(ReadFileBytes(dir_ / std::to_string(i)), i < bad ? data : "") << i;
    }
    batch.Discard();
    EXPECT_EQ(batch.size(), 0u);
    // The batch goes on with the next group.
    batch.Add(CreateExclusive(dir_ / "after"), AsBytes(data));
    EXPECT_EQ(batch.Run(), 1u);
  }
  EXPECT_EQ(ReadFileBytes(dir_ / "after"), data);
  if (before > 0) {
    EXPECT_EQ(testing::OpenDescriptors(), before);
  }
}

// A file limit that cuts a write short: the rest is tried with plain calls,
// fails, and stops the group there.
TEST_P(WriteBatchTest, ShortWriteThatCannotBeFinishedStopsTheGroup) {
  const std::string small = Bytes(500, 2), large = Bytes(5000, 3);
  WriteBatch batch(4);
  if (batch.capacity() < 3) GTEST_SKIP() << "plain calls: one file a group";
  const auto limit = testing::LimitFileSize(2000);
  if (!limit) GTEST_SKIP() << "no file size limit on this system";
  batch.Add(CreateExclusive(dir_ / "a"), AsBytes(small));
  batch.Add(CreateExclusive(dir_ / "b"), AsBytes(large));
  batch.Add(CreateExclusive(dir_ / "c"), AsBytes(small));
  EXPECT_EQ(batch.Run(), 1u);
  batch.Discard();
  EXPECT_EQ(ReadFileBytes(dir_ / "a"), small);
  EXPECT_EQ(ReadFileBytes(dir_ / "b"), large.substr(0, 2000));
  EXPECT_EQ(ReadFileBytes(dir_ / "c"), "");
}

INSTANTIATE_TEST_SUITE_P(Services, WriteBatchTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Queued" : "Plain"; });

}  // namespace
}  // namespace kestrum
