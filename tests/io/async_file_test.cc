#include "io/async_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "io/backend_param.h"
#include "support/platform.h"
#include "support/temp_dir.h"

namespace kestrum {
namespace {

using testing::BackendTest;
using testing::ReadFileBytes;
using testing::TempDir;
using testing::WriteFile;

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return bytes;
}

std::string AsText(const std::vector<std::uint8_t>& bytes, std::size_t count) {
  return std::string(reinterpret_cast<const char*>(bytes.data()), count);
}

class AsyncFileTest : public BackendTest {};

TEST_P(AsyncFileTest, ReadsArePositionalAndShortOnlyAtTheEnd) {
  TempDir dir;
  const std::string content = Pattern(300000);
  WriteFile(dir / "f", content);
  AsyncFile file = OpenAsyncForReading(dir / "f", 2);
  ASSERT_TRUE(file);
  EXPECT_EQ(BackendOf(file), GetParam());

  std::vector<std::uint8_t> buf(200000);
  ASSERT_NE(StartRead(file, 0, 4096, buf), TransferStart::kFailed);
  TransferOutcome got = AwaitTransfer(file, 0);
  EXPECT_TRUE(got.ok);
  ASSERT_EQ(got.bytes, 200000u);
  EXPECT_EQ(AsText(buf, got.bytes), content.substr(4096, 200000));

  ASSERT_NE(StartRead(file, 1, 250000, buf), TransferStart::kFailed);
  got = AwaitTransfer(file, 1);
  EXPECT_TRUE(got.ok);
  ASSERT_EQ(got.bytes, 50000u);
  EXPECT_EQ(AsText(buf, got.bytes), content.substr(250000));

  ASSERT_NE(StartRead(file, 1, 400000, buf), TransferStart::kFailed);
  got = AwaitTransfer(file, 1);
  EXPECT_TRUE(got.ok);
  EXPECT_EQ(got.bytes, 0u);
}

TEST_P(AsyncFileTest, EachChannelIsCollectedOnItsOwnInAnyOrder) {
  TempDir dir;
  const std::string content = Pattern(1 << 20);
  WriteFile(dir / "f", content);
  AsyncFile file = OpenAsyncForReading(dir / "f", 3);
  ASSERT_TRUE(file);
  std::vector<std::vector<std::uint8_t>> bufs(3, std::vector<std::uint8_t>(65536));
  for (int c = 0; c < 3; ++c) {
    ASSERT_NE(StartRead(file, c, static_cast<std::uint64_t>(c) * 300000, bufs[c]), TransferStart::kFailed);
  }
  for (int c = 2; c >= 0; --c) {
    const TransferOutcome got = AwaitTransfer(file, c);
    ASSERT_TRUE(got.ok);
    ASSERT_EQ(got.bytes, 65536u);
    EXPECT_EQ(AsText(bufs[c], 65536), content.substr(static_cast<std::size_t>(c) * 300000, 65536));
    EXPECT_FALSE(TransferInProgress(file, c));
    // A completed transfer reports the same outcome again without waiting.
    EXPECT_EQ(AwaitTransfer(file, c).bytes, 65536u);
  }
  // Out-of-range channels fail instead of touching anything.
  EXPECT_EQ(StartRead(file, 3, 0, bufs[0]), TransferStart::kFailed);
  EXPECT_FALSE(AwaitTransfer(file, -1).ok);
}

TEST_P(AsyncFileTest, WritesLandAtTheirOffsets) {
  TempDir dir;
  const std::string path = dir / "out";
  const std::string a = Pattern(70000), b = Pattern(5000);
  {
    AsyncFile file = CreateAsyncForWriting(path, 2);
    ASSERT_TRUE(file);
    const std::vector<std::uint8_t> abytes(a.begin(), a.end()), bbytes(b.begin(), b.end());
    ASSERT_NE(StartWrite(file, 0, 0, abytes), TransferStart::kFailed);
    ASSERT_NE(StartWrite(file, 1, 80000, bbytes), TransferStart::kFailed);
    EXPECT_TRUE(AwaitTransfer(file, 1).ok);
    const TransferOutcome first = AwaitTransfer(file, 0);
    EXPECT_TRUE(first.ok);
    EXPECT_EQ(first.bytes, 70000u);
  }
  const std::string written = ReadFileBytes(path);
  ASSERT_EQ(written.size(), 85000u);
  EXPECT_EQ(written.substr(0, 70000), a);
  EXPECT_EQ(written.substr(70000, 10000), std::string(10000, '\0'));
  EXPECT_EQ(written.substr(80000), b);
}

TEST_P(AsyncFileTest, FailuresAreReportedNotHidden) {
  TempDir dir;
  std::vector<std::uint8_t> buf(4096, 1);
  // Reading a directory fails.
  AsyncFile directory = MakeAsyncFile(testing::OpenDirectoryHandle(dir.path()), 1);
  ASSERT_TRUE(directory);
  const TransferStart started = StartRead(directory, 0, 0, buf);
  EXPECT_TRUE(started == TransferStart::kFailed || !AwaitTransfer(directory, 0).ok);
  // Writing through a read-only descriptor fails.
  WriteFile(dir / "ro", "abc");
  AsyncFile read_only = OpenAsyncForReading(dir / "ro", 1);
  ASSERT_TRUE(read_only);
  const TransferStart wrote = StartWrite(read_only, 0, 0, buf);
  EXPECT_TRUE(wrote == TransferStart::kFailed || !AwaitTransfer(read_only, 0).ok);
  // Opening what is not there, or not a regular file, gives no file.
  EXPECT_FALSE(OpenAsyncForReading(dir / "missing", 2));
  EXPECT_FALSE(OpenAsyncForReading(dir.path(), 2));
}

TEST_P(AsyncFileTest, ReadAtOnceDeliversExactlyTheBytesAtEveryOffsetAndLength) {
  TempDir dir;
  const std::string content = Pattern(3 * 4096 + 100);
  WriteFile(dir / "f", content);
  AsyncFile file = OpenAsyncForReading(dir / "f", 2);
  ASSERT_TRUE(file);
  // Guards on both sides of the span show a read that writes past it.
  std::vector<std::uint8_t> buf(content.size() + 32);
  for (std::size_t offset : {0u, 1u, 4095u, 4096u, 4097u, 8191u, 12287u, 12288u, 12387u}) {
    for (std::size_t length : {1u, 2u, 100u, 4095u, 4096u, 4097u, 9000u}) {
      std::fill(buf.begin(), buf.end(), 0xEE);
      const std::optional<std::size_t> got = ReadAtOnce(file, offset, std::span(buf).subspan(8, length));
      ASSERT_TRUE(got) << offset << " " << length;
      // Short only where the file ends.
      const std::size_t expected = std::min(length, content.size() - offset);
      ASSERT_EQ(*got, expected) << offset << " " << length;
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(buf.data()) + 8, *got), content.substr(offset, expected));
      EXPECT_EQ(buf[7], 0xEE);
      EXPECT_EQ(buf[8 + length], 0xEE) << offset << " " << length;
    }
  }
  // At and past the end: nothing, and no failure.
  EXPECT_EQ(ReadAtOnce(file, content.size(), buf), std::optional<std::size_t>(0));
  EXPECT_EQ(ReadAtOnce(file, content.size() + 5000, buf), std::optional<std::size_t>(0));
  // A failed read is reported to that call alone.
  InjectReadFailuresForTesting(1);
  EXPECT_FALSE(ReadAtOnce(file, 0, std::span(buf).first(10)));
  EXPECT_EQ(ReadAtOnce(file, 0, std::span(buf).first(10)), std::optional<std::size_t>(10));
  InjectReadFailuresForTesting(0);
  EXPECT_FALSE(ReadAtOnce(*std::make_unique<AsyncFile>(), 0, buf));  // no file
}

TEST_P(AsyncFileTest, ReadAtOnceRunsOnManyThreadsBesideTheChannelsTransfers) {
  TempDir dir;
  const std::string content = Pattern(1 << 20);
  WriteFile(dir / "f", content);
  AsyncFile file = OpenAsyncForReading(dir / "f", 2);
  ASSERT_TRUE(file);
  // The channels keep reading one region while the threads read others.
  std::vector<std::uint8_t> channel_buf(65536);
  ASSERT_NE(StartRead(file, 0, 0, channel_buf), TransferStart::kFailed);
  constexpr int kThreads = 4;
  std::vector<int> wrong(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::vector<std::uint8_t> buf(70001);
      for (int round = 0; round < 40; ++round) {
        const std::size_t offset = (static_cast<std::size_t>(t) * 250007 + static_cast<std::size_t>(round) * 7919) %
                                   (content.size() - buf.size());
        const std::optional<std::size_t> got = ReadAtOnce(file, offset, buf);
        if (!got || *got != buf.size() || AsText(buf, buf.size()) != content.substr(offset, buf.size())) ++wrong[t];
      }
    });
  }
  const TransferOutcome first = AwaitTransfer(file, 0);
  ASSERT_NE(StartRead(file, 1, 500000, channel_buf), TransferStart::kFailed);
  const TransferOutcome second = AwaitTransfer(file, 1);
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrong[t], 0) << "thread " << t;
  EXPECT_TRUE(first.ok && second.ok);
  EXPECT_EQ(AsText(channel_buf, 65536), content.substr(500000, 65536));
}

KESTRUM_INSTANTIATE_FOR_BACKENDS(AsyncFileTest);

// A pipe with no writer activity keeps a read outstanding for as long as we
// like, which shows the queued back end's pending state and cancellation.
class QueuedPipeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::QueuedBackendAvailable()) GTEST_SKIP() << "no asynchronous I/O service here";
    File read_end;
    ASSERT_TRUE(testing::MakePipe(read_end, writer_));
    reader_ = MakeAsyncFile(std::move(read_end), 2);
  }
  bool Send(const std::string& bytes) {
    return WriteFully(writer_, {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
  }
  AsyncFile reader_;
  File writer_;
};

TEST_F(QueuedPipeTest, AReadStaysPendingUntilItsBytesArrive) {
  std::vector<std::uint8_t> buf(16);
  ASSERT_EQ(StartRead(reader_, 0, 0, buf), TransferStart::kPending);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(TransferInProgress(reader_, 0));
  EXPECT_FALSE(TransferInProgress(reader_, 1));  // an idle channel is not pending
  ASSERT_TRUE(Send("hello"));
  const TransferOutcome got = AwaitTransfer(reader_, 0);
  EXPECT_TRUE(got.ok);
  ASSERT_EQ(got.bytes, 5u);
  EXPECT_EQ(AsText(buf, 5), "hello");
}

TEST_F(QueuedPipeTest, AReadStartedByAThreadThatHasExitedIsCompletedByItsAwaiter) {
  // The system ends a pending transfer when the thread that started it
  // exits; the awaiting thread starts it again and gets the bytes.
  std::vector<std::uint8_t> a(16), b(16);
  std::thread starter([&] {
    EXPECT_EQ(StartRead(reader_, 0, 0, a), TransferStart::kPending);
    EXPECT_EQ(StartRead(reader_, 1, 0, b), TransferStart::kPending);
  });
  starter.join();
  ASSERT_TRUE(Send("first"));
  TransferOutcome got = AwaitTransfer(reader_, 0);
  EXPECT_TRUE(got.ok);
  ASSERT_EQ(got.bytes, 5u);
  EXPECT_EQ(AsText(a, 5), "first");
  ASSERT_TRUE(Send("second"));
  got = AwaitTransfer(reader_, 1);
  EXPECT_TRUE(got.ok);
  ASSERT_EQ(got.bytes, 6u);
  EXPECT_EQ(AsText(b, 6), "second");
}

TEST_F(QueuedPipeTest, CancellationEndsOutstandingReadsAndCloseDoesNotHang) {
  std::vector<std::uint8_t> a(16), b(16);
  ASSERT_EQ(StartRead(reader_, 0, 0, a), TransferStart::kPending);
  ASSERT_EQ(StartRead(reader_, 1, 0, b), TransferStart::kPending);
  CancelTransfers(reader_);
  EXPECT_FALSE(AwaitTransfer(reader_, 0).ok);
  EXPECT_FALSE(AwaitTransfer(reader_, 1).ok);
  // The channel is usable again after a cancellation.
  ASSERT_EQ(StartRead(reader_, 0, 0, a), TransferStart::kPending);
  ASSERT_TRUE(Send("xy"));
  EXPECT_EQ(AwaitTransfer(reader_, 0).bytes, 2u);
  // Closing with a read outstanding collects it first.
  ASSERT_EQ(StartRead(reader_, 1, 0, b), TransferStart::kPending);
  reader_.Close();
  EXPECT_FALSE(reader_);
}

}  // namespace
}  // namespace kestrum
