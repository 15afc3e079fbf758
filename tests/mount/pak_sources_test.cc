// Listing pakfiles for a mount: each entry paired with the record that holds
// it, so that a read through that record gives the entry's own bytes (also
// for each copy of a path stored twice). The lines printed for a pakfile
// that cannot be opened are checked through the program (test_mount.py).
#include "mount/pak_sources.h"

#include <gtest/gtest.h>

#include "format/pak_path.h"
#include "reader/reader_fixture.h"

namespace kestrum {
namespace {

using testing::Content;
using testing::ReaderTest;
using testing::TestFile;

class PakSourcesTest : public ReaderTest {};

TEST_F(PakSourcesTest, EveryEntryReadsBackThroughItsOwnRecord) {
  const std::vector<TestFile> files{{"Maps/Level1.map", Content(70000, 1)},
                                    {"readme", "first copy"},
                                    {"sounds\\a.wav", ""},
                                    {"maps/level2.map", Content(5000, 2)},
                                    {"README", "the second copy, longer"}};
  std::string message;
  const OpenedPak pak = OpenPakForMount(WritePak("a.pak", files), 64, message);
  ASSERT_GE(pak.id, 0) << message;
  PakContents contents;
  ASSERT_EQ(ListPakForMount(pak.id, contents), PakError::kNone);
  ASSERT_EQ(contents.files.size(), files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::string stored = files[i].path;
    NormalizePakPath(stored);
    const StoredFile& entry = contents.files[i];
    EXPECT_EQ(entry.path, stored) << i;
    EXPECT_EQ(entry.size, files[i].data.size()) << i;
    PakFileHandle handle;
    handle.pak_index = pak.position;
    handle.pak_id = pak.id;
    handle.entry = static_cast<std::int32_t>(entry.record);
    std::string bytes(entry.size + 1, '\0');
    const PakReadResult read = PakFileReadAt(&handle, 0, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    EXPECT_EQ(read.error, PakError::kNone) << i;
    EXPECT_EQ(bytes.substr(0, read.bytes), files[i].data) << i;
  }
}

}  // namespace
}  // namespace kestrum
