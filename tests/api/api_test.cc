// The C interface under hostile and careless callers: handles that were
// never valid or are closed, NULL and out-of-range arguments, huge counts,
// the buffer protocol of entry paths, and several threads at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <thread>

#include "api/kestrum.h"
#include "reader/reader_fixture.h"

namespace kestrum {
namespace {

using testing::Content;
using testing::ReaderTest;

class CInterfaceTest : public ReaderTest {
 protected:
  void SetUp() override {
    path_ = WritePak("a.pak", {{"Data/A.txt", Content(10, 1)}, {"data/big.bin", big_}, {"readme", "readme\n"}});
    ASSERT_EQ(kestrum_pak_open(path_.c_str(), &pak_), KESTRUM_OK);
  }
  void TearDown() override {
    kestrum_pak_close_all();
    ReaderTest::TearDown();
  }
  static kestrum_file* Invented(std::uintptr_t value) { return reinterpret_cast<kestrum_file*>(value); }

  std::string big_ = Content(300000, 2);
  std::string path_;
  kestrum_pak* pak_ = nullptr;
};

TEST_F(CInterfaceTest, HandlesThatAreNotOpenAreRefusedEverywhere) {
  kestrum_file* file = nullptr;
  ASSERT_EQ(kestrum_file_open("readme", &file), KESTRUM_OK);
  char byte = 0;
  size_t got = 7;
  uint64_t value = 0;
  uint32_t count = 0;
  // Never-valid file handles, and a closed one, also after its slot is reused.
  ASSERT_EQ(kestrum_file_close(file), KESTRUM_OK);
  kestrum_file* reused = nullptr;
  ASSERT_EQ(kestrum_file_open("readme", &reused), KESTRUM_OK);
  for (kestrum_file* bad : {Invented(0), Invented(1), Invented(0x12345), Invented(~std::uintptr_t{0}), file}) {
    EXPECT_EQ(kestrum_file_read(bad, &byte, 1, &got), KESTRUM_ERR_INVALID_HANDLE);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(kestrum_file_read_at(bad, 0, &byte, 1, &got), KESTRUM_ERR_INVALID_HANDLE);
    EXPECT_EQ(kestrum_file_size(bad, &value), KESTRUM_ERR_INVALID_HANDLE);
    EXPECT_EQ(kestrum_file_seek(bad, 0, KESTRUM_SEEK_SET, &value), KESTRUM_ERR_INVALID_HANDLE);
    EXPECT_EQ(kestrum_file_tell(bad, &value), KESTRUM_ERR_INVALID_HANDLE);
    EXPECT_EQ(kestrum_file_close(bad), KESTRUM_ERR_INVALID_HANDLE);
  }
  EXPECT_EQ(kestrum_file_read(reused, &byte, 1, &got), KESTRUM_OK);
  EXPECT_EQ(byte, 'r');
  EXPECT_EQ(kestrum_file_close(reused), KESTRUM_OK);

  // Pakfile handles: invented ones, and a closed one, whose id no open gives again.
  const auto invented = [](std::uintptr_t v) { return reinterpret_cast<kestrum_pak*>(v); };
  for (kestrum_pak* bad : {invented(0), invented(0x80000001u), invented(~std::uintptr_t{0}), invented(12345)}) {
    EXPECT_EQ(kestrum_pak_entry_count(bad, &count), KESTRUM_ERR_INVALID_HANDLE);
    EXPECT_EQ(kestrum_pak_entry(bad, 0, nullptr, 0, nullptr, nullptr), KESTRUM_ERR_INVALID_HANDLE);
    EXPECT_EQ(kestrum_pak_close(bad), KESTRUM_ERR_INVALID_HANDLE);
  }
  ASSERT_EQ(kestrum_pak_close(pak_), KESTRUM_OK);
  EXPECT_EQ(kestrum_pak_close(pak_), KESTRUM_ERR_INVALID_HANDLE);
  kestrum_pak* again = nullptr;
  ASSERT_EQ(kestrum_pak_open(path_.c_str(), &again), KESTRUM_OK);
  EXPECT_NE(again, pak_);
  EXPECT_EQ(kestrum_pak_entry_count(pak_, &count), KESTRUM_ERR_INVALID_HANDLE);
}

TEST_F(CInterfaceTest, NullAndOutOfRangeArgumentsAreRefusedWithoutSideEffects) {
  kestrum_pak* pak = reinterpret_cast<kestrum_pak*>(1);
  EXPECT_EQ(kestrum_pak_open(nullptr, &pak), KESTRUM_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(pak, nullptr);
  EXPECT_EQ(kestrum_pak_open(path_.c_str(), nullptr), KESTRUM_ERR_INVALID_ARGUMENT);
  kestrum_open_options options{};
  options.block_kib = 1048577;
  EXPECT_EQ(kestrum_pak_open_ex(path_.c_str(), &options, &pak, nullptr), KESTRUM_ERR_INVALID_ARGUMENT);
  options.block_kib = 1;
  EXPECT_EQ(kestrum_pak_open_ex(path_.c_str(), &options, &pak, nullptr), KESTRUM_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(kestrum_set_locale(nullptr), KESTRUM_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(kestrum_set_locale("f"), KESTRUM_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(kestrum_stat(nullptr, nullptr), KESTRUM_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(kestrum_stat("README", nullptr), KESTRUM_OK);
  EXPECT_EQ(kestrum_file_open(nullptr, nullptr), KESTRUM_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(kestrum_pak_entry_count(pak_, nullptr), KESTRUM_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(kestrum_pak_entry(pak_, 0, nullptr, 5, nullptr, nullptr), KESTRUM_ERR_INVALID_ARGUMENT);

  kestrum_file* file = nullptr;
  ASSERT_EQ(kestrum_file_open("DATA\\BIG.BIN", &file), KESTRUM_OK);
  size_t got = 0;
  uint64_t position = 99;
  EXPECT_EQ(kestrum_file_read(file, nullptr, 0, &got), KESTRUM_OK);
  EXPECT_EQ(kestrum_file_read(file, nullptr, 10, &got), KESTRUM_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(kestrum_file_read(file, &got, 1, nullptr), KESTRUM_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(kestrum_file_size(file, nullptr), KESTRUM_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(kestrum_file_tell(file, nullptr), KESTRUM_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(kestrum_file_seek(file, -1, KESTRUM_SEEK_SET, &position), KESTRUM_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(kestrum_file_seek(file, std::numeric_limits<int64_t>::min(), KESTRUM_SEEK_END, &position),
            KESTRUM_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(kestrum_file_seek(file, 0, -1, &position), KESTRUM_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(position, 99u);
  EXPECT_EQ(kestrum_file_tell(file, &position), KESTRUM_OK);
  EXPECT_EQ(position, 0u);

  // A count far beyond the file reads what there is, in one call.
  std::string buffer(big_.size() + 10, '\0');
  EXPECT_EQ(kestrum_file_seek(file, 5, KESTRUM_SEEK_SET, nullptr), KESTRUM_OK);
  EXPECT_EQ(kestrum_file_read(file, buffer.data(), std::numeric_limits<size_t>::max(), &got), KESTRUM_OK);
  EXPECT_EQ(got, big_.size() - 5);
  EXPECT_EQ(buffer.compare(0, got, big_, 5, got), 0);
  EXPECT_EQ(kestrum_file_read_at(file, std::numeric_limits<uint64_t>::max(), buffer.data(), 10, &got), KESTRUM_OK);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(kestrum_file_close(file), KESTRUM_OK);
}

TEST_F(CInterfaceTest, EntryPathsComeThroughTheBufferProtocol) {
  uint32_t count = 0;
  ASSERT_EQ(kestrum_pak_entry_count(pak_, &count), KESTRUM_OK);
  ASSERT_EQ(count, 3u);
  size_t length = 0;
  uint64_t size = 0;
  EXPECT_EQ(kestrum_pak_entry(pak_, 1, nullptr, 0, &length, &size), KESTRUM_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(length, std::strlen("data\\big.bin"));
  EXPECT_EQ(size, big_.size());
  char exact[13];
  std::memset(exact, '#', sizeof exact);
  EXPECT_EQ(kestrum_pak_entry(pak_, 1, exact, 12, &length, nullptr), KESTRUM_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(exact[0], '\0');
  EXPECT_EQ(exact[12], '#');  // nothing written past what was given
  EXPECT_EQ(kestrum_pak_entry(pak_, 1, exact, sizeof exact, nullptr, nullptr), KESTRUM_OK);
  EXPECT_STREQ(exact, "data\\big.bin");
  EXPECT_EQ(kestrum_pak_entry(pak_, 3, exact, sizeof exact, nullptr, nullptr), KESTRUM_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(kestrum_pak_entry(pak_, 0xFFFFFFFFu, exact, sizeof exact, nullptr, nullptr), KESTRUM_ERR_INVALID_ARGUMENT);
}

TEST_F(CInterfaceTest, ReasonsOfFailedOpensAndTheirMessages) {
  kestrum_pak* pak = nullptr;
  char built[3] = "zz";
  const std::string fr = WritePak("fr.pak", {{"x", "1"}}, LocaleKeyFromText("fr"));
  const std::string odd = WritePak("odd.pak", {{"x", "1"}}, LocaleKey{.enabled = true, .bytes = {'1', 'z'}});
  EXPECT_EQ(kestrum_pak_open_ex(fr.c_str(), nullptr, &pak, built), KESTRUM_ERR_WRONG_LOCALE);
  EXPECT_STREQ(built, "fr");
  EXPECT_EQ(kestrum_pak_open_ex(odd.c_str(), nullptr, &pak, built), KESTRUM_ERR_WRONG_LOCALE);
  EXPECT_STREQ(built, "");  // not two letters: not named
  EXPECT_EQ(pak, nullptr);
  // The locale: "--" switches it off again.
  ASSERT_EQ(kestrum_set_locale("Fr"), KESTRUM_OK);
  ASSERT_EQ(kestrum_pak_open(fr.c_str(), &pak), KESTRUM_OK);
  ASSERT_EQ(kestrum_set_locale("--"), KESTRUM_OK);
  EXPECT_EQ(kestrum_pak_open(fr.c_str(), &pak), KESTRUM_ERR_WRONG_LOCALE);

  for (int status = KESTRUM_OK; status <= KESTRUM_ERR_BUFFER_TOO_SMALL; ++status) {
    const char* text = kestrum_error_message(static_cast<kestrum_status>(status));
    ASSERT_NE(text, nullptr);
    EXPECT_STRNE(text, "unknown error") << status;
  }
  EXPECT_STREQ(kestrum_error_message(static_cast<kestrum_status>(-1)), "unknown error");
  EXPECT_STREQ(kestrum_version(), "1.0");
}

TEST_F(CInterfaceTest, ClosingAPakfileLeavesItsFilesClosableOnly) {
  kestrum_file* file = nullptr;
  ASSERT_EQ(kestrum_file_open("readme", &file), KESTRUM_OK);
  kestrum_pak* second = nullptr;
  ASSERT_EQ(kestrum_pak_open(path_.c_str(), &second), KESTRUM_OK);
  // Closing the other pakfile first moves this one down; the handle follows.
  ASSERT_EQ(kestrum_pak_close(second), KESTRUM_OK);
  char text[8] = {};
  size_t got = 0;
  EXPECT_EQ(kestrum_file_read(file, text, 3, &got), KESTRUM_OK);
  EXPECT_STREQ(text, "rea");
  kestrum_pak_close_all();
  EXPECT_EQ(kestrum_file_read(file, text, 3, &got), KESTRUM_ERR_INVALID_HANDLE);
  EXPECT_EQ(kestrum_file_close(file), KESTRUM_OK);
  EXPECT_EQ(kestrum_pak_close(pak_), KESTRUM_ERR_INVALID_HANDLE);
}

// Four threads open, read and close their own files over and over; a fifth
// hammers one handle with invented neighbours. Every read is right and no
// handle is mixed up.
TEST_F(CInterfaceTest, ThreadsOpeningReadingAndClosingFilesAtOnce) {
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      std::string buffer(4096, '\0');
      for (int round = 0; round < 100; ++round) {
        kestrum_file* file = nullptr;
        if (kestrum_file_open("data/big.bin", &file) != KESTRUM_OK) {
          ++wrong;
          continue;
        }
        const uint64_t at = static_cast<uint64_t>((t * 7919 + round * 104729) % 290000);
        size_t got = 0;
        if (kestrum_file_read_at(file, at, buffer.data(), buffer.size(), &got) != KESTRUM_OK || got != buffer.size() ||
            buffer.compare(0, got, big_, at, got) != 0) {
          ++wrong;
        }
        if (kestrum_file_close(file) != KESTRUM_OK || kestrum_file_close(file) != KESTRUM_ERR_INVALID_HANDLE) ++wrong;
      }
    });
  }
  threads.emplace_back([&] {
    for (std::uintptr_t v = 1; v < 4000; ++v) {
      char byte = 0;
      size_t got = 0;
      const kestrum_status status = kestrum_file_read(Invented(v * 0x100000001u), &byte, 1, &got);
      if (status != KESTRUM_ERR_INVALID_HANDLE && status != KESTRUM_OK) ++wrong;
    }
  });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

// Handles opened on many loader threads, each in its own part of the table,
// are read and closed on another thread; none is mixed up with another, and
// each is dead once closed.
TEST_F(CInterfaceTest, FilesOpenedOnManyThreadsAreUsedAndClosedOnAnother) {
  constexpr int kThreads = 40;  // more than the table has parts
  std::vector<kestrum_file*> files(kThreads * 2, nullptr);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      EXPECT_EQ(kestrum_file_open("readme", &files[2 * t]), KESTRUM_OK);
      EXPECT_EQ(kestrum_file_open("data/big.bin", &files[2 * t + 1]), KESTRUM_OK);
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::vector<kestrum_file*> distinct = files;
  std::sort(distinct.begin(), distinct.end());
  EXPECT_EQ(std::unique(distinct.begin(), distinct.end()), distinct.end());
  for (int i = 0; i < kThreads * 2; ++i) {
    uint64_t size = 0;
    ASSERT_EQ(kestrum_file_size(files[i], &size), KESTRUM_OK);
    EXPECT_EQ(size, i % 2 == 0 ? 7u : big_.size()) << i;
    ASSERT_EQ(kestrum_file_seek(files[i], 5, KESTRUM_SEEK_SET, nullptr), KESTRUM_OK);
  }
  for (int i = 0; i < kThreads * 2; ++i) {
    uint64_t position = 0;
    EXPECT_EQ(kestrum_file_tell(files[i], &position), KESTRUM_OK);
    EXPECT_EQ(position, 5u);  // each kept its own state
    EXPECT_EQ(kestrum_file_close(files[i]), KESTRUM_OK);
    EXPECT_EQ(kestrum_file_close(files[i]), KESTRUM_ERR_INVALID_HANDLE);
  }
}

}  // namespace
}  // namespace kestrum
