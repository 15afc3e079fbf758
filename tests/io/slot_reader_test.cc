#include "io/slot_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "format/mask.h"
#include "io/backend_param.h"
#include "support/platform.h"
#include "support/temp_dir.h"

namespace kestrum {
namespace {

using testing::BackendTest;
using testing::ReadFileBytes;
using testing::TempDir;
using testing::WriteFile;

constexpr std::uint32_t kBlock = 8192;

// Plain content and the same bytes as a pakfile stores them (masked).
std::string Plain(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 13 + i / 4093) & 0xFF);
  return bytes;
}

std::string Stored(const std::string& plain) {
  std::string bytes = plain;
  MaskData(std::span(reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size()));
  return bytes;
}

class SlotReaderTest : public BackendTest {
 protected:
  void TearDown() override {
    InjectReadFailuresForTesting(0);
    BackendTest::TearDown();
  }
  // A raw file holding the stored form of `plain`, opened for streaming.
  void Open(const std::string& plain, std::uint32_t limit, std::uint32_t block = kBlock) {
    plain_ = plain;
    path_ = dir_ / "pak";
    WriteFile(path_, Stored(plain));
    AllocateSlots(pak_, block);
    pak_.limit = limit;
    pak_.file = OpenAsyncForReading(path_, kReadChannels);
    ASSERT_TRUE(pak_.file);
  }

  void BeginCopy() {
    copy_path_ = dir_ / "copy";
    pak_.cache_file = CreateAsyncForWriting(copy_path_, kCopyChannels);
    ASSERT_TRUE(pak_.cache_file);
    pak_.copy_slot.buffer.assign(pak_.block_size, 0);
    pak_.copy_slot.state = SlotState::kEmpty;
    pak_.copy_pos = 0;
    pak_.mode = StreamMode::kWritingCopy;
  }

  std::string Read(std::uint32_t position, std::uint32_t count) {
    std::string out(count, '\0');
    const std::uint32_t got = ReadSpan(pak_, position, count, reinterpret_cast<std::uint8_t*>(out.data()));
    out.resize(got);
    return out;
  }

  TempDir dir_;
  std::string path_, copy_path_, plain_;
  PakStream pak_;
};

TEST(BlockStart, StepsBackAtLeast2048BytesOnA4096Grid) {
  for (std::uint32_t p : {0u, 1u, 2047u}) EXPECT_EQ(BlockStartFor(p, kBlock), 0u);
  EXPECT_EQ(BlockStartFor(2048, kBlock), 0u);
  EXPECT_EQ(BlockStartFor(10000, kBlock), 4096u);
  EXPECT_EQ(BlockStartFor(6143, kBlock), 0u);
  EXPECT_EQ(BlockStartFor(6144, kBlock), 4096u);
  EXPECT_EQ(BlockStartFor(10239, kBlock), 4096u);
  EXPECT_EQ(BlockStartFor(10240, kBlock), 8192u);
  // Every start holds its position, also with the smallest (4 KiB) blocks.
  for (std::uint32_t block : {4096u, 8192u, 65536u}) {
    for (std::uint32_t p = 0; p < 40000; p += 97) {
      const std::uint32_t s = BlockStartFor(p, block);
      EXPECT_EQ(s % 4096, 0u);
      EXPECT_LE(s, p);
      EXPECT_LT(p - s, block) << p << " " << block;
    }
  }
  EXPECT_EQ(BlockSizeFor(64), 65536u);
  EXPECT_EQ(BlockSizeFor(5), 4096u);
  EXPECT_EQ(BlockSizeFor(6), 8192u);
  EXPECT_EQ(BlockSizeFor(2), 4096u);
}

TEST_P(SlotReaderTest, FirstHeaderReadLoadsSlotZeroAndReadsAheadIntoSlotOne) {
  Open(Plain(5 * kBlock), kWholeFileLimit);
  EXPECT_EQ(Read(0, 52), plain_.substr(0, 52));
  EXPECT_EQ(pak_.slots[0].position, 0u);
  EXPECT_EQ(pak_.slots[0].state, SlotState::kReady);
  EXPECT_EQ(pak_.slots[1].position, kBlock);
  EXPECT_NE(pak_.slots[1].state, SlotState::kEmpty);
  EXPECT_NE(pak_.slots[1].state, SlotState::kFailed);
}

TEST_P(SlotReaderTest, BytesAlreadyInASlotAreServedWithoutANewRead) {
  Open(Plain(5 * kBlock), kWholeFileLimit);
  EXPECT_EQ(Read(0, 52), plain_.substr(0, 52));
  // Change the file underneath: a new read of [0, B) would see it.
  WriteFile(path_, std::string(5 * kBlock, 'z'));
  EXPECT_EQ(Read(100, 3000), plain_.substr(100, 3000));
  EXPECT_EQ(Read(7000, 1000), plain_.substr(7000, 1000));
}

TEST_P(SlotReaderTest, SequentialReadingAlternatesTheSlotsAndStopsReadAheadAtTheLimit) {
  const std::uint32_t limit = 6 * kBlock + 100;
  Open(Plain(limit), limit);
  std::string all;
  for (std::uint32_t p = 0; p < limit; p += kBlock) {
    all += Read(p, kBlock);
    // Block k lies in slot k % 2 and the read-ahead has put block k + 1 in
    // the other slot.
    const std::uint32_t k = p / kBlock;
    EXPECT_EQ(pak_.slots[k % 2].position, p);
    if (p + kBlock < limit) {
      EXPECT_EQ(pak_.slots[(k + 1) % 2].position, p + kBlock) << p;
    }
  }
  EXPECT_EQ(all, plain_);
  // The last block was read with limit - q bytes; nothing was issued at or past the limit.
  EXPECT_EQ(pak_.slots[0].position, 6 * kBlock);
  EXPECT_EQ(pak_.slots[0].valid, 100u);
  EXPECT_EQ(pak_.slots[1].position, 5 * kBlock);
  EXPECT_EQ(Read(limit - 1, 10), plain_.substr(limit - 1));
  EXPECT_EQ(Read(limit, 10), "");
  EXPECT_EQ(Read(limit + 50000, 10), "");
}

TEST_P(SlotReaderTest, AFileShorterThanItsLimitNeverDeliversBytesOfAnEarlierLoad) {
  const std::uint32_t size = 20000;
  Open(Plain(size), 3 * kBlock);
  EXPECT_EQ(Read(0, 10), plain_.substr(0, 10));
  EXPECT_EQ(Read(9000, 10), plain_.substr(9000, 10));  // slot 1 holds [8192, 16384)
  // Slot 1 is refilled with [16384, 24576), of which only 3616 bytes exist:
  // behind them its buffer still holds bytes of the earlier block.
  EXPECT_EQ(Read(19990, 20), plain_.substr(19990, 10));
  EXPECT_EQ(pak_.slots[1].position, 16384u);
  EXPECT_EQ(pak_.slots[1].valid, 3616u);
  std::string out(100, '#');
  EXPECT_EQ(ReadSpan(pak_, 21000, 100, reinterpret_cast<std::uint8_t*>(out.data())), 0u);
  EXPECT_EQ(out, std::string(100, '#'));
}

TEST_P(SlotReaderTest, AFailedBlockFailsOneRequestAndIsReadAgainByTheNext) {
  Open(Plain(5 * kBlock), kWholeFileLimit);
  InjectReadFailuresForTesting(1);
  EXPECT_EQ(Read(100, 10), "");
  EXPECT_EQ(pak_.slots[0].state, SlotState::kFailed);
  EXPECT_EQ(Read(100, 10), plain_.substr(100, 10));
  // A failed read-ahead: the request that needs its block reads it again.
  InjectReadFailuresForTesting(1);
  EXPECT_EQ(Read(kBlock + 10, 10), plain_.substr(kBlock + 10, 10));  // starts the read of [2B, 3B)
  InjectReadFailuresForTesting(0);
  EXPECT_EQ(Read(2 * kBlock + 5, kBlock), plain_.substr(2 * kBlock + 5, kBlock));
}

TEST_P(SlotReaderTest, ABlockThatCannotBeReadFailsEveryRequest) {
  AllocateSlots(pak_, kBlock);
  pak_.limit = 4 * kBlock;
  // A directory opens but cannot be read.
  pak_.file = MakeAsyncFile(testing::OpenDirectoryHandle(dir_.path()), kReadChannels);
  ASSERT_TRUE(pak_.file);
  EXPECT_EQ(Read(100, 10), "");
  EXPECT_EQ(pak_.slots[0].state, SlotState::kFailed);
  EXPECT_EQ(Read(200, 10), "");
  EXPECT_EQ(pak_.slots[0].state, SlotState::kFailed);
}

TEST_P(SlotReaderTest, WriteThroughCopiesTheStoredBytesInFileOrder) {
  const std::uint32_t size = 7 * kBlock + 300;
  Open(Plain(size), size);
  BeginCopy();
  EXPECT_EQ(Read(0, 52), plain_.substr(0, 52));
  EXPECT_EQ(pak_.copy_pos, kBlock);
  // Far beyond the copy's end: everything in between is written through first.
  EXPECT_EQ(Read(5 * kBlock + 10, 20), plain_.substr(5 * kBlock + 10, 20));
  EXPECT_GE(pak_.copy_pos, 5 * kBlock + 30);
  EXPECT_EQ(Read(size - 1, 1), plain_.substr(size - 1));
  EXPECT_EQ(pak_.copy_pos, size);
  ASSERT_EQ(pak_.mode, StreamMode::kWritingCopy);
  if (pak_.copy_slot.state == SlotState::kPending) {
    EXPECT_TRUE(AwaitTransfer(pak_.cache_file, 0).ok);
  }
  pak_.cache_file.Close();
  EXPECT_EQ(ReadFileBytes(copy_path_), Stored(plain_));
}

TEST_P(SlotReaderTest, AFailedCopyWriteEndsWriteThroughButNotTheRead) {
  const std::uint32_t size = 3 * kBlock;
  Open(Plain(size), size);
  BeginCopy();
  WriteFile(dir_ / "ro", "x");
  pak_.cache_file = OpenAsyncForReading(dir_ / "ro", kCopyChannels);  // writes fail
  EXPECT_EQ(Read(0, 2 * kBlock), plain_.substr(0, 2 * kBlock));
  EXPECT_EQ(pak_.mode, StreamMode::kPlain);
  EXPECT_FALSE(pak_.cache_file);
  EXPECT_TRUE(pak_.copy_slot.buffer.empty());
}

TEST_P(SlotReaderTest, AFailedReadEndsWriteThrough) {
  AllocateSlots(pak_, kBlock);
  pak_.limit = 4 * kBlock;
  pak_.file = MakeAsyncFile(testing::OpenDirectoryHandle(dir_.path()), kReadChannels);
  BeginCopy();
  EXPECT_EQ(Read(0, 10), "");
  EXPECT_EQ(pak_.mode, StreamMode::kPlain);
  EXPECT_FALSE(pak_.cache_file);
}

KESTRUM_INSTANTIATE_FOR_BACKENDS(SlotReaderTest);

}  // namespace
}  // namespace kestrum
