// End-to-end runs of "-l", "-L" and "-x" on pakfiles built by the tool and
// on hand-made hostile ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>

#include "format/locale_key.h"
#include "format/pak_path.h"
#include "io/host_path.h"
#include "support/pak_decoder.h"
#include "support/pak_image.h"
#include "support/platform.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace kestrum {
namespace {

using testing::ReadFileBytes;
using testing::RunTool;
using testing::WriteFile;

const std::string kBanner = "\nKestrum V1.0\n------------------------------\n\n";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Pattern(std::size_t size, unsigned seed) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 131 + seed * 7 + i / 251) & 0xFF);
  return s;
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    files_ = {{"Docs/Readme.TXT", "read me"},
              {"docs/en/guide.txt", Pattern(1000, 1)},
              {"empty.dat", ""},
              {"maps/level1/exact.bin", Pattern(262144, 2)},
              {"maps/level1/over.bin", Pattern(262145, 3)},
              {"maps/level2/deep/deeper/leaf", Pattern(70000, 4)}};
    std::string list;
    for (const auto& [path, data] : files_) {
      WriteFile(dir_ / ("src/" + path), data);
      list += path + "\r\n";
    }
    WriteFile(dir_ / "src/list.txt", list);
    const auto run = RunTool(dir_ / "src", {"--", "-a", "list.txt", "../game.pak"});
    ASSERT_EQ(run.exit_code, 0) << run.out;
  }

  std::string Pak() const { return dir_ / "game.pak"; }

  // The extracted file at a stored (lower-case, backslash) path under dest.
  static std::string Extracted(const std::string& dest, std::string stored) {
    std::replace(stored.begin(), stored.end(), '\\', '/');
    return ReadFileBytes(dest + "/" + stored);
  }

  testing::TempDir dir_;  // the tree is built under dir_/src, the pakfile lands in dir_
  std::vector<std::pair<std::string, std::string>> files_;
};

TEST_F(Cli, BothListingsNameTheSameFiles) {
  const auto by_data = RunTool(dir_.path(), {"--", "-l", "game.pak", "ignored"});
  EXPECT_EQ(by_data.exit_code, 0);
  EXPECT_EQ(by_data.out, kBanner +
                             "docs\\readme.txt\ndocs\\en\\guide.txt\nempty.dat\nmaps\\level1\\exact.bin\n"
                             "maps\\level1\\over.bin\nmaps\\level2\\deep\\deeper\\leaf\n");
  const auto by_hash = RunTool(dir_.path(), {"--", "-L", "game.pak"});
  EXPECT_EQ(by_hash.exit_code, 0);
  ASSERT_EQ(by_hash.out.rfind(kBanner, 0), 0u);
  std::set<std::string> hashed, listed;
  for (const std::string& line : Lines(by_hash.out.substr(kBanner.size()))) {
    ASSERT_EQ(line[0], '[') << line;
    hashed.insert(line.substr(line.find(']') + 1));
  }
  for (const std::string& line : Lines(by_data.out.substr(kBanner.size()))) listed.insert(line);
  EXPECT_EQ(hashed, listed);
  EXPECT_EQ(hashed.size(), files_.size());
}

TEST_F(Cli, ExtractionRestoresEveryFileUnderTheDefaultDestination) {
  const std::string out = dir_ / "out";
  std::filesystem::create_directory(out);
  const auto run = RunTool(out, {"--", "-x", "../game.pak"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, kBanner +
                         "Extracting to: .\\\n"
                         "docs\\readme.txt\ndocs\\en\\guide.txt\nempty.dat\nmaps\\level1\\exact.bin\n"
                         "maps\\level1\\over.bin\nmaps\\level2\\deep\\deeper\\leaf\n");
  for (const auto& [path, data] : files_) {
    std::string stored = path;
    for (char& c : stored) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(Extracted(out, stored), data) << path;
  }
  EXPECT_TRUE(std::filesystem::is_regular_file(out + "/empty.dat"));
}

TEST_F(Cli, DestinationIsPrintedTheSameWhateverItsSeparators) {
  for (const std::string dest : {"x1", "x2/", "x3\\", "nested/x4", "nested\\x5\\"}) {
    const auto run = RunTool(dir_.path(), {"--", "-x", "game.pak", dest});
    EXPECT_EQ(run.exit_code, 0);
    std::string printed = dest;
    std::replace(printed.begin(), printed.end(), '/', '\\');
    if (printed.back() != '\\') printed += '\\';
    EXPECT_EQ(Lines(run.out)[4], "Extracting to: " + printed);
    // The file system gets the destination as given: on POSIX a '\\' is a
    // byte of a name, on Windows a separator.
    EXPECT_EQ(ReadFileBytes(dir_ / dest + "/maps/level1/over.bin"), files_[4].second) << dest;
  }
  if (HostPathStyle() == PathStyle::kPosix) {
    EXPECT_TRUE(std::filesystem::is_directory(dir_ / "nested\\x5\\"));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "nested/x5"));
  }
  const auto empty = RunTool(dir_.path(), {"--", "-x", "game.pak", ""});
  EXPECT_EQ(Lines(empty.out)[4], "Extracting to: .\\");
}

TEST_F(Cli, MissingOrForeignPakfilesAreBadPakfiles) {
  auto run = RunTool(dir_.path(), {"--", "-l", "nothere.pak"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, kBanner + "Bad Pakfile 'nothere.pak'\n");
  WriteFile(dir_ / "not.pak", std::string(8192, 'z'));
  run = RunTool(dir_.path(), {"--", "-x", "not.pak"});
  EXPECT_EQ(run.out, kBanner + "Bad Pakfile 'not.pak'\n");
  // Built under a locale code: opens under that code in either case only.
  WriteFile(dir_ / "src/fr.txt", "empty.dat\n");
  ASSERT_EQ(RunTool(dir_ / "src", {"fr", "-a", "fr.txt", "../fr.pak"}).exit_code, 0);
  EXPECT_EQ(RunTool(dir_.path(), {"FR", "-l", "fr.pak"}).out, kBanner + "empty.dat\n");
  EXPECT_EQ(RunTool(dir_.path(), {"fr", "-l", "fr.pak"}).exit_code, 0);
  EXPECT_EQ(RunTool(dir_.path(), {"de", "-l", "fr.pak"}).out, kBanner + "Bad Pakfile 'fr.pak'\n");
  EXPECT_EQ(RunTool(dir_.path(), {"--", "-l", "fr.pak"}).exit_code, 1);
  // Built without a code: opens under any.
  EXPECT_EQ(RunTool(dir_.path(), {"de", "-l", "game.pak"}).exit_code, 0);
}

TEST_F(Cli, PathStoredTwiceIsExtractedTwice) {
  WriteFile(dir_ / "src/twice.txt", "empty.dat\nmaps/level1/exact.bin\nempty.dat\n");
  ASSERT_EQ(RunTool(dir_ / "src", {"--", "-a", "twice.txt", "../twice.pak"}).exit_code, 0);
  const auto run = RunTool(dir_.path(), {"--", "-x", "twice.pak", "t"});
  EXPECT_EQ(run.out, kBanner + "Extracting to: t\\\nempty.dat\nmaps\\level1\\exact.bin\nempty.dat\n");
}

TEST_F(Cli, DestinationThatIsAFileFailsEveryEntryButTheRunGoesOn) {
  WriteFile(dir_ / "afile", "x");
  const auto run = RunTool(dir_.path(), {"--", "-x", "game.pak", "afile"});
  EXPECT_EQ(run.exit_code, 0);
  const auto lines = Lines(run.out);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "  ERROR: Opening extracted file for writing failed!"),
            static_cast<long>(files_.size()));
  EXPECT_EQ(ReadFileBytes(dir_ / "afile"), "x");
}

// A pakfile whose paths climb out of the destination: the tool itself stores
// such names when a list line says so, so no hand-made bytes are needed.
TEST_F(Cli, EntriesThatClimbOutOfTheDestinationAreRefused) {
  WriteFile(dir_ / "escape.txt", "outside");
  WriteFile(dir_ / "src/inside.txt", "inside");
  WriteFile(dir_ / "src/up.txt", "../escape.txt\ninside.txt\n..\\escape.txt\n");
  ASSERT_EQ(RunTool(dir_ / "src", {"--", "-a", "up.txt", "../up.pak"}).exit_code, 0);
  const std::string dest = dir_ / "deep/dest";
  const auto run = RunTool(dir_.path(), {"--", "-x", "up.pak", "deep/dest"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, kBanner +
                         "Extracting to: deep\\dest\\\n"
                         "..\\escape.txt\n  ERROR: Unsafe path, entry skipped!\n"
                         "inside.txt\n"
                         "..\\escape.txt\n  ERROR: Unsafe path, entry skipped!\n");
  EXPECT_EQ(ReadFileBytes(dest + "/inside.txt"), "inside");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "deep/escape.txt"));
  EXPECT_EQ(ReadFileBytes(dir_ / "escape.txt"), "outside");
}

// Names that only Windows treats specially: refused there, written as they
// are on POSIX. The run goes on after each refusal.
TEST_F(Cli, WindowsRefusesDrivesStreamsDevicesAndTrailingDots) {
  const std::vector<testing::TestFile> files = {
      {"c:\\drive.txt", "d"}, {"a\\b:stream", "s"}, {"nul.txt", "n"},   {"Sub\\CON", "c"},
      {"dir.\\dot.txt", "t"}, {"blank \\x", "b"},   {"plain.txt", "p"},
  };
  const std::vector<std::uint8_t> image = testing::MakePakImage(files);
  WriteFile(dir_ / "special.pak", std::string(image.begin(), image.end()));
  const auto run = RunTool(dir_.path(), {"--", "-x", "special.pak", "special"});
  EXPECT_EQ(run.exit_code, 0);
  const bool windows = HostPathStyle() == PathStyle::kWindows;
  std::string expected = kBanner + "Extracting to: special\\\n";
  for (const auto& f : files) {
    std::string stored = f.path;
    for (char& c : stored) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    expected += stored + "\n";
    if (windows && f.path != "plain.txt") expected += "  ERROR: Unsafe path, entry skipped!\n";
  }
  EXPECT_EQ(run.out, expected);
  EXPECT_EQ(ReadFileBytes(dir_ / "special/plain.txt"), "p");
  if (!windows) {
    EXPECT_EQ(ReadFileBytes(dir_ / "special/nul.txt"), "n");
    EXPECT_EQ(ReadFileBytes(dir_ / "special/c:/drive.txt"), "d");
    EXPECT_EQ(ReadFileBytes(dir_ / "special/dir./dot.txt"), "t");
  } else {
    EXPECT_EQ(
        std::distance(std::filesystem::directory_iterator(dir_ / "special"), std::filesystem::directory_iterator()), 1);
  }
}

// Name records whose hash bytes no longer match their paths: the checksum is
// made to fit, so the pakfile opens, but no lookup can find an entry.
TEST_F(Cli, EntriesThatCannotBeFoundAreReportedOneByOne) {
  std::string bytes = ReadFileBytes(Pak());
  std::vector<std::uint8_t> image(bytes.begin(), bytes.end());
  testing::DecodedPak pak;
  std::string why;
  ASSERT_TRUE(testing::DecodePak(image, {}, pak, why)) << why;
  std::vector<DirRecord> records;
  for (const auto& e : pak.entries) {
    records.push_back(e.record);
    pak.pool[e.record.name_offset] ^= 0x40;  // the hash's high byte
  }
  testing::ReencodeHeader(image, pak.header, records, pak.pool, {});
  WriteFile(dir_ / "lost.pak", std::string(image.begin(), image.end()));
  const auto run = RunTool(dir_.path(), {"--", "-x", "lost.pak", "lost"});
  EXPECT_EQ(run.exit_code, 0);
  const auto lines = Lines(run.out);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "  ERROR: Pakfile opening file failed!"),
            static_cast<long>(files_.size()));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "lost/empty.dat"));
}

// A pakfile cut short inside its last file: the pieces read before the cut
// are written, the error follows the path, and the run still ends well.
TEST_F(Cli, PakfileCutShortKeepsTheWholePiecesReadBeforeTheCut) {
  const std::string big = Pattern(600000, 9);
  WriteFile(dir_ / "src/big.bin", big);
  WriteFile(dir_ / "src/cut.txt", "empty.dat\nbig.bin\n");
  ASSERT_EQ(RunTool(dir_ / "src", {"--", "-a", "cut.txt", "../cut.pak"}).exit_code, 0);
  const std::string whole = ReadFileBytes(dir_ / "cut.pak");
  WriteFile(dir_ / "cut.pak", whole.substr(0, whole.size() - 50000));
  const auto run = RunTool(dir_.path(), {"--", "-x", "cut.pak", "cut"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, kBanner + "Extracting to: cut\\\nempty.dat\nbig.bin\nError while reading input pakfile file!\n");
  EXPECT_EQ(ReadFileBytes(dir_ / "cut/big.bin"), big.substr(0, 2 * 262144));
  EXPECT_TRUE(std::filesystem::is_regular_file(dir_ / "cut/empty.dat"));
}

// Thousands of entries and a file of several MiB pass through many batches
// between reading and writing: every line in order, every byte in place.
TEST_F(Cli, ManyEntriesAndLargeFilesComeOutInOrder) {
  const std::string large = Pattern(3 * 1024 * 1024 + 17, 5);
  WriteFile(dir_ / "src/large.bin", large);
  std::string list;
  for (int i = 0; i < 4600; ++i) list += i == 2000 ? "large.bin\n" : "empty.dat\ndocs/en/guide.txt\n";
  WriteFile(dir_ / "src/many.txt", list);
  ASSERT_EQ(RunTool(dir_ / "src", {"--", "-a", "many.txt", "../many.pak"}).exit_code, 0);
  const auto listed = RunTool(dir_.path(), {"--", "-l", "many.pak"});
  const auto run = RunTool(dir_.path(), {"--", "-x", "many.pak", "many"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(Lines(run.out).size(), Lines(listed.out).size() + 1);
  EXPECT_EQ(run.out, kBanner + "Extracting to: many\\\n" + listed.out.substr(kBanner.size()));
  EXPECT_EQ(ReadFileBytes(dir_ / "many/large.bin"), large);
  EXPECT_EQ(ReadFileBytes(dir_ / "many/docs/en/guide.txt"), files_[1].second);
}

// A small tmpfs stands for a full disk; mounting needs root.
TEST_F(Cli, FailedWriteEndsTheRunWithExitCodeOne) {
  const std::string mount_point = dir_ / "small";
  std::filesystem::create_directory(mount_point);
  const auto volume = testing::MountSmallVolume(mount_point, 128);
  if (!volume) GTEST_SKIP() << "needs root to mount a small tmpfs";
  const auto run = RunTool(dir_.path(), {"--", "-x", "game.pak", "small"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out.substr(run.out.size() - 33), "Error while writing output file!\n");
  EXPECT_EQ(run.out.find("over.bin"), std::string::npos);  // nothing after the failure
}

}  // namespace
}  // namespace kestrum

namespace kestrum {
namespace {

std::set<std::string> TreeOf(const std::string& root) {
  std::set<std::string> paths;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    paths.insert(entry.path().string());
  }
  return paths;
}

// Names a hostile pakfile can carry: climbing components in every form, a
// '/' inside a stored name, a name far beyond any path limit, a name that is
// only a separator. Nothing may appear outside the destination.
TEST(HostileNames, NothingIsWrittenOutsideTheDestination) {
  testing::TempDir dir;
  const std::vector<testing::TestFile> files{
      {"..", "a"}, {"..\\..", "b"},        {"ok\\..\\..\\esc", "c"}, {std::string(5000, 'n'), "e"},
      {"\\", "f"}, {"safe\\file.txt", "g"}};
  const std::vector<std::uint8_t> image = testing::MakePakImage(files);
  testing::WriteFile(dir / "hostile.pak", std::string(image.begin(), image.end()));

  // The builder never stores a '/', but a hostile pakfile can: one entry
  // whose Q bytes become '/', with its hash made to match the new name.
  std::vector<std::uint8_t> slashed = testing::MakePakImage({{"sub\\slashQ..Q..Q..Qesc2", "d"}});
  testing::DecodedPak pak;
  std::string why;
  ASSERT_TRUE(testing::DecodePak(slashed, {}, pak, why)) << why;
  for (auto& byte : pak.pool) byte = byte == 'q' ? '/' : byte;
  const std::uint16_t hash = NameHash("sub\\slash/../../../esc2");
  pak.pool[0] = static_cast<std::uint8_t>(hash >> 8);
  pak.pool[1] = static_cast<std::uint8_t>(hash & 0xFF);
  testing::ReencodeHeader(slashed, pak.header, {pak.entries[0].record}, pak.pool, {});
  testing::WriteFile(dir / "slashed.pak", std::string(slashed.begin(), slashed.end()));

  std::filesystem::create_directories(dir / "a/b/dest");
  const auto before = TreeOf(dir.path());
  const auto run = RunTool(dir / "a/b", {"--", "-x", "../../hostile.pak", "dest"});
  EXPECT_EQ(run.exit_code, 0) << run.out;
  const auto slash_run = RunTool(dir / "a/b", {"--", "-x", "../../slashed.pak", "dest"});
  EXPECT_EQ(slash_run.out.substr(slash_run.out.find("Extracting")),
            "Extracting to: dest\\\nsub\\slash/../../../esc2\n  ERROR: Unsafe path, entry skipped!\n");
  for (const std::string& path : TreeOf(dir.path())) {
    if (before.count(path) == 0) {
      EXPECT_EQ(path.rfind(std::filesystem::path(dir / "a/b/dest/").make_preferred().string(), 0), 0u)
          << "written outside the destination: " << path;
    }
  }
  const auto lines = Lines(run.out);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "  ERROR: Unsafe path, entry skipped!"), 3);
  EXPECT_EQ(ReadFileBytes(dir / "a/b/dest/safe/file.txt"), "g");
}

}  // namespace
}  // namespace kestrum
