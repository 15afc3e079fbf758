// Header loading: every kind of damage is turned away, the locale decides
// which pakfiles open, and a pakfile cut short reads only what is there.
#include <gtest/gtest.h>

#include <functional>

#include "format/crc32.h"
#include "format/mask.h"
#include "format/scramble.h"
#include "reader/pak_registry.h"
#include "reader/reader_fixture.h"

namespace kestrum {
namespace {

using testing::Content;
using testing::MakePakImage;
using testing::ReaderTest;
using testing::ReadWhole;
using testing::TestFile;

const std::vector<TestFile>& SampleFiles() {
  static const std::vector<TestFile> files = {{"data/a.txt", Content(10, 1)},
                                              {"data/b.txt", ""},
                                              {"data/sub/c.txt", Content(5000, 2)},
                                              {"readme", Content(7, 3)},
                                              {"raw.bin", Content(300, 4), false}};
  return files;
}

PakHeader HeaderOf(const std::vector<std::uint8_t>& image) {
  std::array<std::uint8_t, kFixedHeaderSize> fixed{};
  std::copy_n(image.begin(), kFixedHeaderSize, fixed.begin());
  MaskData(fixed);
  return DecodeHeader(fixed);
}

// Changes the fixed part and makes the checksum match again, as a forger
// would, so that only the reader's own checks can turn the header away. The
// pool is taken to be everything between the (new) directory and header_size.
std::vector<std::uint8_t> Reseal(std::vector<std::uint8_t> image, const std::function<void(PakHeader&)>& change) {
  PakHeader header = HeaderOf(image);
  const std::uint32_t old_pool_start = kFixedHeaderSize + kDirRecordSize * header.entry_count;
  std::vector<std::uint8_t> region(image.begin(), image.begin() + header.header_size);
  MaskData(region);
  UnscrambleHeader(std::span(region).subspan(old_pool_start));
  change(header);
  const std::uint32_t pool_start = kFixedHeaderSize + kDirRecordSize * header.entry_count;
  region.resize(header.header_size);
  header.stamp = kNoStamp;
  header.checksum = kNoStamp;
  EncodeHeader(header, std::span(region).first<kFixedHeaderSize>());
  std::uint32_t crc = kCrcStart;
  Crc32Update(region, crc);
  header.checksum = crc;
  EncodeHeader(header, std::span(region).first<kFixedHeaderSize>());
  ScrambleHeader(std::span(region).subspan(pool_start));
  MaskData(region);
  std::copy(region.begin(), region.end(), image.begin());
  return image;
}

class HeaderTest : public ReaderTest {
 protected:
  bool Opens(const std::vector<std::uint8_t>& image) {
    const std::int32_t id = PakOpen(WritePak("t.pak", image), 64, "", 0, false);
    PakCloseAll();
    return id >= 0;
  }
};

TEST_F(HeaderTest, ResealingAloneStillOpens) {
  const auto image = MakePakImage(SampleFiles(), {});
  EXPECT_TRUE(Opens(image));
  EXPECT_TRUE(Opens(Reseal(image, [](PakHeader&) {})));
}

TEST_F(HeaderTest, EveryHeaderByteIsCheckedExceptTheStamp) {
  const auto image = MakePakImage(SampleFiles(), {});
  const std::uint32_t header_size = HeaderOf(image).header_size;
  for (std::uint32_t at = 0; at < header_size; ++at) {
    for (std::uint8_t flip : {0x01, 0x80}) {
      auto damaged = image;
      damaged[at] ^= flip;
      const bool in_stamp = at >= kStampOffset && at < kStampOffset + 4;
      EXPECT_EQ(Opens(damaged), in_stamp) << "byte " << at << " flip " << int{flip};
    }
  }
}

TEST_F(HeaderTest, ImpossibleSizesAreTurnedAwayEvenWithAMatchingChecksum) {
  const auto image = MakePakImage(SampleFiles(), {});
  EXPECT_FALSE(Opens(Reseal(image, [](PakHeader& h) { h.entry_count = 0; })));
  EXPECT_FALSE(Opens(Reseal(image, [](PakHeader& h) { h.file_size = h.header_size - 1; })));
  // Sizes that a forger cannot seal: rejected before any allocation from them.
  for (auto change : std::vector<std::function<void(PakHeader&)>>{
           [](PakHeader& h) { h.entry_count = 0xFFFFFFFF; }, [](PakHeader& h) { h.entry_count = kMaxEntries + 1; },
           [](PakHeader& h) { h.header_size = 0xFFFFFFFF; },
           [](PakHeader& h) { h.header_size = kFixedHeaderSize + kDirRecordSize * h.entry_count - 1; },
           [](PakHeader& h) { h.header_size = kMaxHeaderSize + 1; }}) {
    auto damaged = image;
    PakHeader header = HeaderOf(image);
    change(header);
    std::array<std::uint8_t, kFixedHeaderSize> fixed{};
    EncodeHeader(header, fixed);
    MaskData(fixed);
    std::copy(fixed.begin() + kSignatureSize, fixed.end(), damaged.begin() + kSignatureSize);
    EXPECT_FALSE(Opens(damaged));
  }
}

TEST_F(HeaderTest, AFileCutShortOpensOnlyWithItsWholeHeaderAndReadsWhatIsThere) {
  const auto image = MakePakImage(SampleFiles(), {});
  const PakHeader header = HeaderOf(image);
  for (std::uint32_t length = 0; length < header.header_size; length += 7) {
    EXPECT_FALSE(Opens({image.begin(), image.begin() + length})) << length;
  }
  // data\sub\c.txt holds data bytes 10 to 5009; cut inside it.
  const std::uint32_t cut = header.header_size + 10 + 1234;
  ASSERT_GE(
      PakOpen(WritePak("cut.pak", std::vector<std::uint8_t>(image.begin(), image.begin() + cut)), 64, "", 0, false), 0);
  EXPECT_EQ(ReadWhole("data/a.txt"), Content(10, 1));
  EXPECT_EQ(ReadWhole("data/sub/c.txt"), Content(5000, 2).substr(0, 1234));
  EXPECT_EQ(ReadWhole("readme"), "");
  PakFileHandle* handle = PakFileOpen("readme");
  char byte = '#';
  EXPECT_EQ(PakFileRead(handle, &byte, 1), 0);
  EXPECT_EQ(byte, '#');
  PakFileClose(handle);
}

TEST_F(HeaderTest, APakfileWithoutItsPaddingTailReadsEveryFileInFull) {
  const auto image = MakePakImage(SampleFiles(), {});
  const std::uint32_t end = HeaderOf(image).header_size + 10 + 5000 + 7 + 300;
  ASSERT_LT(end, image.size());
  ASSERT_GE(PakOpen(WritePak("untailed.pak", std::vector<std::uint8_t>(image.begin(), image.begin() + end)), 64, "", 0,
                    false),
            0);
  for (const TestFile& file : SampleFiles()) {
    std::string expected = file.data;
    if (!file.masked) MaskData(std::span(reinterpret_cast<std::uint8_t*>(expected.data()), expected.size()));
    EXPECT_EQ(ReadWhole(file.path), expected) << file.path;
  }
}

TEST_F(HeaderTest, TheLocaleKeyDecidesWhichPakfilesOpen) {
  const auto keyless = MakePakImage(SampleFiles(), {});
  const auto french = MakePakImage(SampleFiles(), LocaleKeyFromText("fr"));
  struct Case {
    const char* locale;  // null: no key
    bool keyless_opens, french_opens;
  };
  for (const Case& c :
       {Case{nullptr, true, false}, Case{"fr", true, true}, Case{"FR", true, true}, Case{"de", true, false}}) {
    CurrentLocaleKey() = LocaleKeyFromText(c.locale);
    EXPECT_EQ(Opens(keyless), c.keyless_opens) << (c.locale ? c.locale : "none");
    EXPECT_EQ(Opens(french), c.french_opens) << (c.locale ? c.locale : "none");
    // The retry without the key leaves the process-wide key as it was.
    EXPECT_EQ(CurrentLocaleKey().enabled, c.locale != nullptr);
  }
}

}  // namespace
}  // namespace kestrum
