// Every truncation of a small valid pakfile and every single-byte change of
// its header region: each either fails to open, or opens and delivers only
// correct bytes (a read may come short, never wrong).
#include <gtest/gtest.h>

#include <filesystem>

#include "format/pak_layout.h"
#include "io/async_file.h"
#include "reader/pak_reader.h"
#include "reader/reader_fixture.h"
#include "support/platform.h"

namespace kestrum::testing {
namespace {

class DamageSweep : public ReaderTest {
 protected:
  void SetUp() override {
    // The sweep is about the bytes, not the I/O: thousands of opens on the
    // synchronous back end (the queued one is covered by the other tests).
    UseImmediateTransfers(true);
    files_ = {{"a\\first.bin", Content(5000, 1)},
              {"a\\b\\second.txt", Content(300, 2)},
              {"third", Content(9000, 3)},
              {"a\\first.bin", Content(10, 4)}};
    image_ = MakePakImage(files_);
  }

  // Opens the image; if it opens, reads every listed path and checks that
  // what comes back is a prefix of one of that path's copies. Returns
  // whether it opened.
  bool OpenAndCheck(const std::vector<std::uint8_t>& image, const std::string& what) {
    // A new name each time: truncating and rewriting one file makes some
    // file systems flush it to disk on every close.
    const std::string path = WritePak("damaged" + std::to_string(++serial_) + ".pak", image);
    const std::int32_t id = PakOpen(path, 4, "", kNoStamp, false);
    // The open file stays readable. Windows does not remove a file that is
    // open without delete sharing: there it goes once closed, below.
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    if (id < 0) return false;
    for (const TestFile& file : files_) {
      const std::string got = ReadWhole(file.path, 1000);
      if (got == "<missing>") continue;  // a changed name no longer matches
      bool prefix_of_a_copy = false;
      for (const TestFile& copy : files_) {
        prefix_of_a_copy = prefix_of_a_copy || (copy.path == file.path && copy.data.compare(0, got.size(), got) == 0 &&
                                                got.size() <= copy.data.size());
      }
      EXPECT_TRUE(prefix_of_a_copy) << what << ": wrong bytes for " << file.path;
    }
    PakCloseAll();
    std::filesystem::remove(path, ignored);
    return true;
  }

  std::vector<TestFile> files_;
  std::vector<std::uint8_t> image_;
  int serial_ = 0;
};

TEST_F(DamageSweep, EveryTruncation) {
  // Every length where creating files is cheap; under Wine, where each new
  // file costs milliseconds, every 61st length and every length around the
  // header's end.
  const std::uint32_t header_size = LoadU32(image_.data() + 44) ^ 0x5A5A5A5Au;
  const std::size_t stride = RunningUnderWine() ? 61 : 1;
  std::size_t opened = 0, expected = 0;
  for (std::size_t length = 0; length <= image_.size(); ++length) {
    const bool near_header_end = length + 2 >= header_size && length <= header_size + 2;
    if (length % stride != 0 && !near_header_end && length != image_.size()) continue;
    const std::vector<std::uint8_t> cut(image_.begin(), image_.begin() + static_cast<std::ptrdiff_t>(length));
    opened += OpenAndCheck(cut, "length " + std::to_string(length));
    expected += length >= header_size;  // it opens exactly when the whole header region is there
  }
  EXPECT_EQ(opened, expected);
}

TEST_F(DamageSweep, EverySingleByteChangeOfTheHeaderRegion) {
  const std::uint32_t header_size = LoadU32(image_.data() + 44) ^ 0x5A5A5A5Au;
  ASSERT_LT(header_size, image_.size());
  std::size_t opened = 0;
  for (std::uint32_t at = 0; at < header_size; ++at) {
    for (std::uint8_t change : {0x01, 0x5A, 0xFF}) {
      std::vector<std::uint8_t> damaged = image_;
      damaged[at] ^= change;
      opened += OpenAndCheck(damaged, "byte " + std::to_string(at));
    }
  }
  // Only the stamp's four bytes lie outside the checksum.
  EXPECT_EQ(opened, 4u * 3u);
}

}  // namespace
}  // namespace kestrum::testing
