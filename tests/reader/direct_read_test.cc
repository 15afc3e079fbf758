// The two roads a read takes, on both I/O back ends: through the read slots
// or straight into the caller's buffer. Whichever it takes, every byte is the
// stored byte unmasked, nothing outside the asked-for bytes is written, a
// failure is reported to its own call only, and a cache copy still comes out
// whole when other threads read beside it.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <thread>

#include "format/mask.h"
#include "io/backend_param.h"
#include "reader/pak_registry.h"
#include "reader/reader_fixture.h"

namespace kestrum {
namespace {

using testing::Content;
using testing::ReaderTest;
using testing::ReadFileBytes;
using testing::ReadWhole;
using testing::SameBytes;
using testing::TestFile;

// In data order: a file that takes the data area's first blocks (which the
// header's reading leaves in the slots), a large one stored as is, a middle
// one, two small ones.
std::vector<TestFile> Files() {
  return {{"first.bin", Content(200000, 1)},
          {"data/big.bin", Content(300007, 2), false},
          {"data/middle.bin", Content(5000, 3)},
          {"last/a.txt", Content(200, 4)},
          {"last/b.txt", Content(3000, 5)}};
}

struct SlotView {
  std::uint32_t position;
  SlotState state;
  bool operator==(const SlotView&) const = default;
};

std::vector<SlotView> Slots() {
  std::vector<SlotView> view;
  for (const ReadSlot& slot : PakRegistry().back()->stream.slots) view.push_back({slot.position, slot.state});
  return view;
}

using DirectReadTest = testing::BackendReaderTest;

TEST_P(DirectReadTest, EveryOffsetAndLengthAroundBlockEdgesComesOutAsStored) {
  const std::vector<TestFile> files = Files();
  const std::string path = WritePak("edges.pak", files);
  const TestFile& big = files[1];
  const std::string want = ExpectedRead(big);
  for (std::uint32_t block_kib : {4u, 64u}) {
    ASSERT_GE(PakOpen(path, block_kib, "", 0, false), 0);
    const OpenPakfile& pak = *PakRegistry().back();
    const std::uint32_t block = pak.stream.block_size;
    PakFileHandle* handle = PakFileOpen(big.path);
    ASSERT_NE(handle, nullptr);
    const std::uint32_t start = pak.data_base + pak.records[static_cast<std::size_t>(handle->entry)].data_offset;
    // Offsets in the file that put the read's first byte on and beside the
    // edges of 4 KiB pages and of blocks, and at the file's own ends.
    std::vector<std::uint64_t> offsets = {0, 1, big.data.size() - 1, big.data.size()};
    for (std::uint32_t edge : {4096u, block, 2 * block, 3 * block + 4096}) {
      const std::uint32_t at = (start / edge + 1) * edge;  // the first such edge inside the file
      for (std::int64_t step : {-1, 0, 1}) offsets.push_back(at - start + static_cast<std::uint64_t>(step));
    }
    for (std::uint64_t offset : offsets) {
      for (std::uint32_t length :
           {1u, 15u, 4095u, 4096u, 4097u, block - 1, block, block + 1, 16383u, 16384u, 16385u, 200000u, 400000u}) {
        std::string buf(length + 16, '\x7e');
        const PakReadResult got = PakFileReadAt(handle, offset, buf.data() + 8, length);
        const std::size_t expect = offset < want.size() ? std::min<std::size_t>(length, want.size() - offset) : 0;
        ASSERT_EQ(got.error, PakError::kNone) << block_kib << " " << offset << " " << length;
        ASSERT_EQ(got.bytes, expect) << block_kib << " " << offset << " " << length;
        EXPECT_TRUE(SameBytes(buf.substr(8, expect), want.substr(std::min<std::size_t>(offset, want.size()), expect)))
            << block_kib << " " << offset << " " << length;
        // Nothing before or behind the delivered bytes is touched.
        EXPECT_EQ(buf.substr(0, 8), std::string(8, '\x7e'));
        EXPECT_EQ(buf.substr(8 + expect), std::string(buf.size() - 8 - expect, '\x7e'))
            << block_kib << " " << offset << " " << length;
      }
    }
    PakFileClose(handle);
    PakCloseAll();
  }
}

TEST_P(DirectReadTest, FilesReadWholeOutOfOrderLeaveTheSlotsAloneAndSmallPiecesUseThem) {
  const std::vector<TestFile> files = Files();
  ASSERT_GE(PakOpen(WritePak("roads.pak", files), 16, "", 0, false), 0);
  const OpenPakfile& pak = *PakRegistry().back();
  const std::vector<SlotView> after_header = Slots();

  // Out of order and read whole: straight to the caller, no block read
  // (neither at open nor at read), whatever the size.
  for (const TestFile* file : {&files[3], &files[1], &files[4]}) {
    EXPECT_TRUE(SameBytes(ReadWhole(file->path), ExpectedRead(*file))) << file->path;
    EXPECT_EQ(Slots(), after_header) << file->path;
  }
  // A small piece that leaves more of its file to read loads its block.
  PakFileHandle* big = PakFileOpen(files[1].path);
  ASSERT_NE(big, nullptr);
  const std::uint32_t big_start = pak.data_base + pak.records[static_cast<std::size_t>(big->entry)].data_offset;
  char piece[1000];
  ASSERT_EQ(PakFileReadAt(big, 150000, piece, sizeof piece).bytes, sizeof piece);
  EXPECT_EQ(std::string(piece, sizeof piece), ExpectedRead(files[1]).substr(150000, sizeof piece));
  EXPECT_TRUE(SlotsHold(pak.stream, big_start + 150000));
  PakFileClose(big);

  // Opening the file that comes next in data order starts its block.
  PakFileHandle* middle = PakFileOpen(files[2].path);  // next after big.bin
  ASSERT_NE(middle, nullptr);
  const std::uint32_t middle_start = pak.data_base + pak.records[static_cast<std::size_t>(middle->entry)].data_offset;
  EXPECT_TRUE(SlotsHold(pak.stream, middle_start));
  std::string bytes(5000, '\0');
  EXPECT_EQ(PakFileRead(middle, bytes.data(), 5000), 5000);
  EXPECT_EQ(bytes, files[2].data);
  PakFileClose(middle);
}

TEST_P(DirectReadTest, ALargeFileReadInDataOrderStreamsThroughTheSlots) {
  const std::vector<TestFile> files = Files();
  ASSERT_GE(PakOpen(WritePak("stream.pak", files), 16, "", 0, false), 0);
  const OpenPakfile& pak = *PakRegistry().back();
  // The first file in data order, as a fresh pakfile's hint names it: its
  // blocks are read one after another, with the read-ahead, as from a cold
  // disk they should be.
  PakFileHandle* first = PakFileOpen(files[0].path);
  ASSERT_NE(first, nullptr);
  const std::uint32_t end = pak.data_base + pak.records[static_cast<std::size_t>(first->entry)].data_offset +
                            pak.records[static_cast<std::size_t>(first->entry)].size;
  std::string bytes(files[0].data.size(), '\0');
  EXPECT_EQ(PakFileRead(first, bytes.data(), static_cast<std::uint32_t>(bytes.size())),
            static_cast<std::int32_t>(bytes.size()));
  EXPECT_TRUE(SameBytes(bytes, files[0].data));
  EXPECT_TRUE(SlotsHold(pak.stream, end - 1));
  PakFileClose(first);
}

TEST_P(DirectReadTest, AFailedDirectReadFailsThatCallAloneAndTheNextReadsAgain) {
  const std::vector<TestFile> files = Files();
  ASSERT_GE(PakOpen(WritePak("fail.pak", files), 64, "", 0, false), 0);
  for (const TestFile* file : {&files[1], &files[3]}) {
    PakFileHandle* handle = PakFileOpen(file->path);
    ASSERT_NE(handle, nullptr);
    std::string buf(file->data.size(), '\0');
    InjectReadFailuresForTesting(1);
    const PakReadResult failed = PakFileReadChecked(handle, buf.data(), static_cast<std::uint32_t>(buf.size()));
    EXPECT_EQ(failed.bytes, 0u) << file->path;
    EXPECT_EQ(failed.error, PakError::kIo) << file->path;
    EXPECT_EQ(handle->read_pos, 0u);
    const PakReadResult again = PakFileReadChecked(handle, buf.data(), static_cast<std::uint32_t>(buf.size()));
    EXPECT_EQ(again.error, PakError::kNone) << file->path;
    EXPECT_EQ(again.bytes, buf.size()) << file->path;
    EXPECT_TRUE(SameBytes(buf, ExpectedRead(*file))) << file->path;
    PakFileClose(handle);
  }
}

TEST_P(DirectReadTest, APakfileCutShortDeliversTheBytesThereAndSaysSo) {
  const std::vector<TestFile> files = Files();
  std::vector<std::uint8_t> image = testing::MakePakImage(files);
  ASSERT_GE(PakOpen(WritePak("whole.pak", image), 64, "", 0, false), 0);
  PakFileHandle* big = PakFileOpen(files[1].path);
  ASSERT_NE(big, nullptr);
  const OpenPakfile& pak = *PakRegistry().back();
  const std::uint32_t start = pak.data_base + pak.records[static_cast<std::size_t>(big->entry)].data_offset;
  PakFileClose(big);
  PakCloseAll();
  // Cut 100000 bytes into big.bin: the header still opens.
  image.resize(start + 100000);
  ASSERT_GE(PakOpen(WritePak("cut.pak", image), 64, "", 0, false), 0);
  big = PakFileOpen(files[1].path);
  ASSERT_NE(big, nullptr);
  std::string buf(files[1].data.size() + 8, '\x7e');
  const PakReadResult got = PakFileReadChecked(big, buf.data(), static_cast<std::uint32_t>(files[1].data.size()));
  EXPECT_EQ(got.error, PakError::kNotAPakfile);
  ASSERT_EQ(got.bytes, 100000u);
  EXPECT_TRUE(SameBytes(buf.substr(0, 100000), ExpectedRead(files[1]).substr(0, 100000)));
  EXPECT_EQ(buf.substr(100000), std::string(buf.size() - 100000, '\x7e'));
  PakFileClose(big);
  // Files behind the cut are not there at all.
  PakFileHandle* last = PakFileOpen(files[4].path);
  char small[16];
  EXPECT_EQ(PakFileReadChecked(last, small, sizeof small).error, PakError::kNotAPakfile);
  PakFileClose(last);
}

TEST_P(DirectReadTest, WhileACopyIsWrittenEvenLargeReadsGoThroughTheSlots) {
  const std::vector<TestFile> files = Files();
  ASSERT_GE(PakOpen(WritePak("src.pak", files), 16, dir_ / "copy.pak", 3, true), 0);
  const OpenPakfile& pak = *PakRegistry().back();
  ASSERT_EQ(pak.stream.mode, StreamMode::kWritingCopy);
  PakFileHandle* big = PakFileOpen(files[1].path);
  ASSERT_NE(big, nullptr);
  const std::uint32_t end = pak.data_base + pak.records[static_cast<std::size_t>(big->entry)].data_offset +
                            pak.records[static_cast<std::size_t>(big->entry)].size;
  EXPECT_TRUE(SameBytes(ReadWhole(files[1].path), ExpectedRead(files[1])));
  // The copy has grown past the file's bytes, read through on the way.
  EXPECT_GE(pak.stream.copy_pos, end);
  PakFileClose(big);
}

TEST_P(DirectReadTest, ThreadsReadingBesideACopyBeingWrittenLeaveItWhole) {
  std::vector<TestFile> files;
  for (unsigned i = 0; i < 24; ++i) {
    files.push_back({"f/" + std::to_string(i), Content(i % 3 == 0 ? 90000 + i * 1001 : 50 + i * 700, 200 + i)});
  }
  const std::string source = WritePak("source.pak", files);
  const std::string copy = dir_ / "copy.pak";
  ASSERT_GE(PakOpen(source, 16, copy, 5, true), 0);
  ASSERT_EQ(PakRegistry().back()->stream.mode, StreamMode::kWritingCopy);
  std::vector<int> wrong(4, 0);
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      std::vector<TestFile> order = files;
      std::shuffle(order.begin(), order.end(), std::mt19937(t));
      for (int round = 0; round < 3; ++round) {
        for (const TestFile& file : order) {
          // Whole, and in small pieces, so that both roads are taken.
          if (ReadWhole(file.path, round == 1 ? 777 : 1 << 20) != file.data) ++wrong[t];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (unsigned t = 0; t < 4; ++t) EXPECT_EQ(wrong[t], 0) << "thread " << t;
  PakCloseAll();
  std::string copied = ReadFileBytes(copy);
  std::string original = ReadFileBytes(source);
  ASSERT_EQ(copied.size(), original.size());
  copied.erase(kStampOffset, 4);
  original.erase(kStampOffset, 4);
  EXPECT_TRUE(SameBytes(copied, original));
}

INSTANTIATE_TEST_SUITE_P(Backends, DirectReadTest, ::testing::Values(AsyncBackend::kQueued, AsyncBackend::kImmediate),
                         testing::BackendName);

}  // namespace
}  // namespace kestrum
