// "-x" into hostile destinations and from hostile pakfiles, on a real scratch
// file system: what stands at an entry's path is replaced, never written
// through; links are not followed below the destination; the pakfile being
// read survives; memory stays bounded; names print safely.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "format/pak_path.h"
#include "io/host_path.h"
#include "io/output_tree.h"
#include "support/pak_decoder.h"
#include "support/pak_image.h"
#include "support/platform.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace kestrum {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileBytes;
using testing::RunTool;
using testing::WriteFile;

const std::string kBanner = "\nKestrum V1.0\n------------------------------\n\n";
const std::string kLinkError = "  ERROR: Link in path, entry skipped!\n";

void WritePak(const std::string& path, const std::vector<std::uint8_t>& image) {
  WriteFile(path, std::string(image.begin(), image.end()));
}

// A pakfile of `files`, its directory and pool changed by `change` and the
// header made to check out again (a hostile pakfile that opens).
std::vector<std::uint8_t> Doctored(
    const std::vector<testing::TestFile>& files,
    const std::function<void(std::vector<DirRecord>&, std::vector<std::uint8_t>&)>& change) {
  std::vector<std::uint8_t> image = testing::MakePakImage(files);
  testing::DecodedPak pak;
  std::string why;
  EXPECT_TRUE(testing::DecodePak(image, {}, pak, why)) << why;
  std::vector<DirRecord> records;
  std::uint32_t data_size = 0;
  for (const auto& e : pak.entries) {
    records.push_back(e.record);
    data_size += e.record.size;
  }
  change(records, pak.pool);
  const std::uint32_t header_size = kFixedHeaderSize + kDirRecordSize * records.size() + pak.pool.size();
  pak.header.file_size = PaddedFileSize(header_size, data_size);
  testing::ReencodeHeader(image, pak.header, records, pak.pool, {});
  image.resize(pak.header.file_size);
  return image;
}

bool Made(bool ok, const char* what) {
  if (!ok) std::printf("%s cannot be made here: its case is left out\n", what);
  return ok;
}

bool Symlink(const std::string& target, const std::string& at, bool directory) {
  std::error_code ec;
  directory ? fs::create_directory_symlink(target, at, ec) : fs::create_symlink(target, at, ec);
  return !ec;
}

// Links (to a file, absolute, dangling, to directories, one level down), a
// FIFO and a hard link wait at the entries' paths; an outside folder beside
// the destination must keep every byte. Where this system cannot make one of
// them, its entry simply lands in a fresh place.
TEST(HostileDestination, WhatStandsAtAnEntrysPathIsReplacedAndLinksAreNotFollowed) {
  testing::TempDir dir;
  const std::string outside = dir / "outside", dest = dir / "dest";
  WriteFile(outside + "/victim.txt", "victim");
  WriteFile(outside + "/hard.txt", "hard");
  fs::create_directories(outside + "/dir");
  fs::create_directories(dest + "/sub");
  struct Case {
    std::string entry;
    bool refused;  // a link as a directory level
  };
  std::vector<Case> cases;
  auto add = [&](bool made, std::string entry, bool refused) { cases.push_back({std::move(entry), made && refused}); };
  add(Made(Symlink("../outside/victim.txt", dest + "/file_link.txt", false), "a file link"), "file_link.txt", false);
  add(Symlink(outside + "/victim.txt", dest + "/abs_link.txt", false), "abs_link.txt", false);
  add(Symlink("../outside/created.txt", dest + "/dangling.txt", false), "dangling.txt", false);
  add(Made(testing::MakeFifo(dest + "/fifo"), "a FIFO"), "fifo", false);
  std::error_code ec;
  fs::create_hard_link(outside + "/hard.txt", dest + "/hard.txt", ec);
  add(Made(!ec, "a hard link"), "hard.txt", false);
  add(Made(Symlink("../outside/dir", dest + "/dir_link", true), "a directory link"), "dir_link\\x.txt", true);
  add(Symlink(outside + "/dir", dest + "/sub/deep_link", true), "sub\\deep_link\\y.txt", true);
  add(Symlink("../outside/newdir", dest + "/dangling_dir", true), "dangling_dir\\z.txt", true);
  add(true, "sub\\plain.txt", false);

  std::vector<testing::TestFile> files;
  std::string expected = kBanner + "Extracting to: dest\\\n";
  for (const Case& c : cases) {
    files.push_back({c.entry, "new " + c.entry});
    expected += c.entry + "\n" + (c.refused ? kLinkError : "");
  }
  WritePak(dir / "hostile.pak", testing::MakePakImage(files));
  const auto run = RunTool(dir.path(), {"--", "-x", "hostile.pak", "dest"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, expected);

  // The destination itself may be a link.
  if (Symlink("outside/dir", dir / "dest_link", true)) {
    EXPECT_EQ(RunTool(dir.path(), {"--", "-x", "hostile.pak", "dest_link"}).exit_code, 0);
    EXPECT_EQ(ReadFileBytes(outside + "/dir/sub/plain.txt"), "new sub\\plain.txt");
    fs::remove_all(outside + "/dir");
    fs::create_directories(outside + "/dir");
  }
  EXPECT_EQ(ReadFileBytes(outside + "/victim.txt"), "victim");
  EXPECT_EQ(ReadFileBytes(outside + "/hard.txt"), "hard");
  EXPECT_TRUE(fs::is_empty(outside + "/dir"));
  EXPECT_EQ(std::distance(fs::directory_iterator(outside), fs::directory_iterator()), 3);
  for (const Case& c : cases) {
    std::string at = dest + "/" + c.entry;
    std::replace(at.begin(), at.end(), '\\', '/');
    if (c.refused) continue;
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(at))) << c.entry;
    EXPECT_EQ(ReadFileBytes(at), "new " + c.entry);
  }
}

// The entry named like the pakfile comes in the middle, with MiBs still to
// be read after it, more than the reading side can run ahead.
TEST(HostileDestination, PakfileSurvivesAnEntryWithItsOwnNameInItsOwnFolder) {
  testing::TempDir dir;
  std::string before(300000, 'b'), after(8 << 20, 'a');
  for (std::size_t i = 0; i < after.size(); i += 4093) after[i] = static_cast<char>(i / 4093);
  WritePak(dir / "game.pak",
           testing::MakePakImage({{"before.bin", before}, {"game.pak", "inner"}, {"after.bin", after}}));
  const std::string pak = ReadFileBytes(dir / "game.pak");
  const auto run = RunTool(dir.path(), {"--", "-x", "game.pak"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(ReadFileBytes(dir / "before.bin"), before);
  EXPECT_EQ(ReadFileBytes(dir / "after.bin"), after);
  std::string expected = kBanner + "Extracting to: .\\\nbefore.bin\ngame.pak\n";
  if (testing::OpenFilesCanBeChanged()) {
    EXPECT_EQ(ReadFileBytes(dir / "game.pak"), "inner");  // replaced; the reader kept the old file
  } else {
    // Windows: the open pakfile cannot be deleted; it stays whole.
    expected += "  ERROR: Opening extracted file for writing failed!\n";
    EXPECT_EQ(ReadFileBytes(dir / "game.pak"), pak);
  }
  EXPECT_EQ(run.out, expected + "after.bin\n");
}

// Control bytes in names print as '?' in every listing and extraction line;
// the files keep their real names. A newline cannot be written in a list
// file, so that name is put into the pool by hand.
TEST(HostileNames, ControlBytesPrintAsQuestionMarks) {
  testing::TempDir dir;
  WritePak(dir / "esc.pak", testing::MakePakImage({{"esc\x1b[31m\x7f.dat", "e"}, {"t\tb\\plain.dat", "p"}}));
  WritePak(dir / "nl.pak", Doctored({{"newqline.dat", "n"}}, [](auto&, std::vector<std::uint8_t>& pool) {
             std::replace(pool.begin() + 2, pool.end(), std::uint8_t{'q'}, std::uint8_t{'\n'});
             const std::uint16_t hash = NameHash("new\nline.dat");
             pool[0] = static_cast<std::uint8_t>(hash >> 8);
             pool[1] = static_cast<std::uint8_t>(hash & 0xFF);
           }));
  EXPECT_EQ(RunTool(dir.path(), {"--", "-l", "esc.pak"}).out, kBanner + "esc?[31m?.dat\nt?b\\plain.dat\n");
  EXPECT_EQ(RunTool(dir.path(), {"--", "-L", "nl.pak"}).out,
            kBanner + "[" + std::to_string(NameHash("new\nline.dat")) + "]new?line.dat\n");
  const auto run = RunTool(dir.path(), {"--", "-x", "nl.pak", "out"});
  EXPECT_EQ(run.out.rfind(kBanner + "Extracting to: out\\\nnew?line.dat\n", 0), 0u) << run.out;
  if (HostPathStyle() == PathStyle::kPosix) {
    EXPECT_EQ(run.out, kBanner + "Extracting to: out\\\nnew?line.dat\n");
    EXPECT_EQ(ReadFileBytes(dir / "out/new\nline.dat"), "n");
    EXPECT_EQ(RunTool(dir.path(), {"--", "-x", "esc.pak", "out"}).out,
              kBanner + "Extracting to: out\\\nesc?[31m?.dat\nt?b\\plain.dat\n");
    EXPECT_EQ(ReadFileBytes(dir / "out/t\tb/plain.dat"), "p");
  }
}

// A record size beyond 31 bits, and a path longer than any the file system
// takes (with a control byte in it): an error each, nothing created, and
// the run goes on.
TEST(HostileNames, UnrepresentableSizesAndPathsAreEntryErrors) {
  testing::TempDir dir;
  std::string deep;
  while (deep.size() <= MaxOutputPathLength()) deep += "level\\";
  WritePak(dir / "odd.pak",
           Doctored({{"huge.dat", "abc"}, {deep + "x\x01y", "d"}, {"next.dat", "n"}}, [](auto& records, auto&) {
             for (DirRecord& r : records) {
               if (r.size == 3) r.size = 0x80000000u;
             }
           }));
  const auto run = RunTool(dir.path(), {"--", "-x", "odd.pak", "out"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, kBanner + "Extracting to: out\\\nhuge.dat\n  ERROR: Bad file size, entry skipped!\n" + deep +
                         "x?y\n  ERROR: Path too long, entry skipped!\nnext.dat\n");
  EXPECT_FALSE(fs::exists(dir / "out/huge.dat"));
  EXPECT_FALSE(fs::exists(dir / "out/level"));
  EXPECT_EQ(ReadFileBytes(dir / "out/next.dat"), "n");
}

#ifdef KESTRUM_TOOL_SANITIZED
// AddressSanitizer's shadow memory, allocator and quarantine.
constexpr std::uint64_t kSanitizerMemory = std::uint64_t{128} << 20;
#else
constexpr std::uint64_t kSanitizerMemory = 0;
#endif

// Records that share one directory string of 15 MiB: every path is printed
// in full (360 MiB of output here), but memory beyond the header region
// stays under 64 MiB. Without a bound on each batch's text, this run takes
// 30 MiB more for every record.
TEST(HostileNames, MemoryStaysBoundedWhateverTheNamesHold) {
  testing::TempDir dir;
  constexpr std::uint32_t kLong = 15 << 20;
  std::vector<testing::TestFile> files;
  for (int i = 0; i < 24; ++i) files.push_back({"d\\f" + std::to_string(i), ""});
  std::uint64_t image_size = 0;
  {
    std::vector<std::uint8_t> image =
        Doctored(files, [](std::vector<DirRecord>& records, std::vector<std::uint8_t>& pool) {
          const auto at = static_cast<std::uint32_t>(pool.size());
          pool.resize(pool.size() + kLong, 'l');
          pool.push_back(0);
          for (DirRecord& r : records) r.dir_offset = at;
        });
    image_size = image.size();
    WritePak(dir / "long.pak", image);
  }
  int exit_code = -1;
  const auto peak_kib = testing::PeakMemoryKib(dir.path(), {"--", "-x", "long.pak", "out"}, exit_code);
  if (!peak_kib) GTEST_SKIP() << "this system does not tell a process's peak memory";
  EXPECT_EQ(exit_code, 0);
  std::printf("peak resident set: %llu KiB\n", static_cast<unsigned long long>(*peak_kib));
  EXPECT_LT(*peak_kib * 1024, std::uint64_t{64 << 20} + image_size + kSanitizerMemory);
}

}  // namespace
}  // namespace kestrum
