// Overlapped file transfers: positional reads and writes that are started now
// and collected later, each on its own numbered transfer channel of the file.
//
// A channel carries at most one transfer at a time. Its completion can be
// awaited on its own, whatever the other channels are doing, and "still in
// progress" is a real state that can be asked about without waiting. Closing
// the file (or destroying it) first cancels and collects every outstanding
// transfer, so no transfer can write into a buffer after the file is gone; the
// caller's buffers must simply outlive the AsyncFile.
//
// Any thread may start, await or collect a channel's transfer (one at a time:
// the caller serialises them), and a transfer's outcome does not depend on
// whether the thread that started it still exists. The systems end a pending
// transfer when the thread that started it exits; such a transfer is started
// again, from where it stopped, by the thread that awaits it.
//
// One implementation file per platform. Where the platform's asynchronous
// service cannot be set up, a file falls back, silently, to synchronous
// positional transfers that complete at once; callers see the same interface.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "io/file.h"

namespace kestrum {

enum class TransferStart {
  kCompleted,  // finished before the call returned; the result is ready
  kPending,    // still in progress; await it
  kFailed,     // could not be started, or failed at once
};

struct TransferOutcome {
  bool ok = true;           // false: the transfer failed or was cancelled
  std::uint32_t bytes = 0;  // bytes transferred; a read that hit the end of the file is short
};

enum class AsyncBackend {
  kQueued,     // the platform's asynchronous service
  kImmediate,  // synchronous positional transfers that complete at once
};

struct AsyncQueue;  // platform state behind an AsyncFile

class AsyncFile {
 public:
  AsyncFile();
  AsyncFile(AsyncFile&&) noexcept;
  AsyncFile& operator=(AsyncFile&&) noexcept;
  AsyncFile(const AsyncFile&) = delete;
  AsyncFile& operator=(const AsyncFile&) = delete;
  ~AsyncFile();

  bool valid() const { return file_.valid(); }
  explicit operator bool() const { return valid(); }
  const File& file() const { return file_; }

  // Cancels and collects every outstanding transfer, then closes the file.
  void Close();

 private:
  friend AsyncFile MakeAsyncFile(File file, int channels);
  friend AsyncQueue& QueueOf(AsyncFile& file);
  friend const AsyncQueue& QueueOf(const AsyncFile& file);

  File file_;
  std::unique_ptr<AsyncQueue> queue_;
};

// Takes over an open file and gives it `channels` transfer channels
// (numbered 0 to channels - 1). An invalid file gives an invalid AsyncFile.
AsyncFile MakeAsyncFile(File file, int channels);

// A pakfile or a finished cache copy: an existing regular file, for reading,
// with the sequential-access hint. The first opens it only, as MakeAsyncFile
// needs it, so that a caller can look at it before it sets up transfers.
File OpenFileForAsyncReading(const std::string& path);
AsyncFile OpenAsyncForReading(const std::string& path, int channels);
// A new file, created or truncated, for writing.
AsyncFile CreateAsyncForWriting(const std::string& path, int channels);
// A new, uniquely named hidden file beside `target`, for writing (a cache
// copy that is renamed over its target once complete). Sets temp_path.
AsyncFile CreateAsyncTemporaryBeside(const std::string& target, std::string& temp_path, int channels);

AsyncBackend BackendOf(const AsyncFile& file);

// Starts a read of buffer.size() bytes at offset into the buffer, or a write
// of data at offset. The buffer must stay alive and untouched until the
// transfer has been collected. A channel that still carries a transfer is
// collected first (its outcome is dropped). Reads stop early only at the end
// of the file; writes complete in full or fail.
TransferStart StartRead(AsyncFile& file, int channel, std::uint64_t offset, std::span<std::uint8_t> buffer);
TransferStart StartWrite(AsyncFile& file, int channel, std::uint64_t offset, std::span<const std::uint8_t> data);

// True while the system is still working on the channel's transfer (so its
// buffer is in use). Never waits.
bool TransferInProgress(AsyncFile& file, int channel);

// Waits for the channel's transfer and returns its outcome. For a channel
// whose transfer is already complete it returns at once, as often as asked;
// a channel that never carried a transfer reports ok with 0 bytes.
TransferOutcome AwaitTransfer(AsyncFile& file, int channel);

// Reads buffer.size() bytes at offset straight into the buffer and returns
// when they are there: the bytes read (fewer only at the end of the file), or
// nothing when the read failed. It uses no channel and no state of the file,
// so any number of threads may read this way at once, beside the channels'
// transfers. Injected read failures (below) apply to it as well.
std::optional<std::size_t> ReadAtOnce(AsyncFile& file, std::uint64_t offset, std::span<std::uint8_t> buffer);

// Cancels the file's outstanding transfers. Each cancelled channel completes
// as failed (or with its real outcome, when it finished first); collect them
// with AwaitTransfer.
void CancelTransfers(AsyncFile& file);

// Files made after this is set use the immediate back end: positional
// transfers that complete at once, instead of the system's queued service.
// For a program that reads a pakfile front to back on a thread of its own
// (the command-line tool), where queued read-ahead adds only a worker
// thread's hand-offs; tests use it to reach that back end.
void UseImmediateTransfers(bool use);
// A test-only fault: the next `count` reads started, on any file, run as
// usual but report failure when they are collected (at once, for a read
// that completes at once). 0 turns it off.
void InjectReadFailuresForTesting(int count);

}  // namespace kestrum
