// Windows back end of the overlapped transfers. Each channel owns an
// OVERLAPPED block with its own event (unnamed, manual-reset, initially
// signalled); a transfer is one ReadFile or WriteFile through that block.
// ERROR_IO_PENDING means the transfer goes on in the system; it is collected
// with GetOverlappedResult, and CancelIo abandons what is outstanding.
//
// Files opened here are opened for overlapped transfers (FILE_FLAG_OVERLAPPED)
// and use the queued back end; so does a handle handed in already open
// (MakeAsyncFile), which may be either kind: on a plain handle the same calls
// simply complete before they return, at the position that the block names.
// While the immediate back end is forced, files are opened as plain handles.
//
// The system abandons a transfer that is still pending when the thread that
// started it exits (it completes with ERROR_OPERATION_ABORTED). Unless this
// file cancelled it itself, the thread that awaits such a transfer starts it
// again. CancelIoEx reaches every thread's transfers on the handle, where
// CancelIo would reach only the calling thread's.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "io/async_file.h"

namespace kestrum {
namespace {

struct Channel {
  OVERLAPPED block{};
  HANDLE event = nullptr;
  bool started = false;  // carries a transfer that has not been collected
  bool is_write = false;
  bool fail_injected = false;  // report failure once the transfer is done
  std::uint8_t restarts = 0;   // of this transfer, after it was abandoned
  std::uint8_t* data = nullptr;
  std::uint64_t offset = 0;
  std::uint32_t length = 0;
  TransferOutcome outcome;  // valid once collected
};

// A transfer abandoned this many times in a row is taken as failed: each
// restart comes from a thread that waits for it, so a real abandonment does
// not repeat.
constexpr std::uint8_t kMaxRestarts = 8;

bool immediate_transfers = false;
std::atomic<int> injected_read_failures{0};

bool TakeInjectedFailure() {
  int left = injected_read_failures.load(std::memory_order_relaxed);
  while (left > 0 && !injected_read_failures.compare_exchange_weak(left, left - 1, std::memory_order_relaxed)) {
  }
  return left > 0;
}

}  // namespace

struct AsyncQueue {
  AsyncQueue(HANDLE file_handle, int channel_count, AsyncBackend kind)
      : handle(file_handle), backend(kind), channels(static_cast<std::size_t>(channel_count)) {
    for (Channel& ch : channels) ch.event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  }
  AsyncQueue(const AsyncQueue&) = delete;
  AsyncQueue& operator=(const AsyncQueue&) = delete;
  ~AsyncQueue() {
    for (Channel& ch : channels) {
      if (ch.event != nullptr) CloseHandle(ch.event);
    }
  }

  HANDLE handle;
  AsyncBackend backend;
  // Set by CancelTransfers until the next transfer starts: abandoned
  // transfers are then not started again.
  bool cancelling = false;
  // Allocated once: the system writes into the blocks while transfers run.
  std::vector<Channel> channels;
};

namespace {

HANDLE HandleOf(const File& file) { return reinterpret_cast<HANDLE>(file.handle()); }

Channel* ChannelAt(AsyncQueue& queue, int channel) {
  if (channel < 0 || static_cast<std::size_t>(channel) >= queue.channels.size()) return nullptr;
  return &queue.channels[static_cast<std::size_t>(channel)];
}

// The outcome of a transfer that has ended, from its byte count and, when
// the call failed, its error code. A read that starts at or runs into the end
// of the file ends with ERROR_HANDLE_EOF: that is a short read, not a failure.
TransferOutcome Outcome(const Channel& ch, bool succeeded, DWORD bytes, DWORD error) {
  if (!succeeded && !(error == ERROR_HANDLE_EOF && !ch.is_write)) return {false, 0};
  if (ch.is_write && bytes != ch.length) return {false, bytes};
  if (ch.fail_injected) return {false, 0};
  return {true, bytes};
}

// Starts the channel's transfer through its block. Either it is pending
// (started) or its outcome is recorded.
void Issue(AsyncQueue& queue, Channel& ch) {
  ch.block = OVERLAPPED{};
  ch.block.Offset = static_cast<DWORD>(ch.offset);
  ch.block.OffsetHigh = static_cast<DWORD>(ch.offset >> 32);
  ch.block.hEvent = ch.event;
  // The byte count is taken from the block afterwards, never from the call:
  // for an overlapped handle the call's own count is not meaningful.
  const BOOL done = ch.is_write ? WriteFile(queue.handle, ch.data, ch.length, nullptr, &ch.block)
                                : ReadFile(queue.handle, ch.data, ch.length, nullptr, &ch.block);
  const DWORD error = done ? ERROR_SUCCESS : GetLastError();
  if (!done && error == ERROR_IO_PENDING) {
    ch.started = true;
    return;
  }
  DWORD bytes = 0;
  if (done) (void)GetOverlappedResult(queue.handle, &ch.block, &bytes, FALSE);
  ch.outcome = Outcome(ch, done != FALSE, bytes, error);
}

// Waits for the channel's transfer (GetOverlappedResult with waiting on) and
// records its outcome. A channel that carries nothing returns at once. With
// `finish`, a transfer that the system abandoned because its thread exited
// is started again and waited for; without, the caller only needs the block
// and the buffer back.
void Collect(AsyncQueue& queue, Channel& ch, bool finish) {
  while (ch.started) {
    DWORD bytes = 0;
    const bool succeeded = GetOverlappedResult(queue.handle, &ch.block, &bytes, TRUE) != FALSE;
    const DWORD error = succeeded ? ERROR_SUCCESS : GetLastError();
    ch.started = false;
    if (!succeeded && error == ERROR_OPERATION_ABORTED && finish && !queue.cancelling && ch.restarts < kMaxRestarts) {
      ++ch.restarts;
      Issue(queue, ch);
      continue;
    }
    ch.outcome = Outcome(ch, succeeded, bytes, error);
  }
}

TransferStart Start(AsyncFile& file, int channel, std::uint64_t offset, std::uint8_t* data, std::size_t length,
                    bool is_write) {
  if (!file.valid()) return TransferStart::kFailed;
  AsyncQueue& queue = QueueOf(file);
  Channel* ch = ChannelAt(queue, channel);
  if (ch == nullptr || length > 0xFFFFFFFFu || ch->event == nullptr) return TransferStart::kFailed;
  Collect(queue, *ch, false);  // the channel's earlier transfer, if any; its outcome is dropped
  queue.cancelling = false;
  ch->is_write = is_write;
  ch->fail_injected = !is_write && TakeInjectedFailure();
  ch->restarts = 0;
  ch->data = data;
  ch->offset = offset;
  ch->length = static_cast<std::uint32_t>(length);
  ch->outcome = {!ch->fail_injected, 0};
  if (length == 0) return ch->outcome.ok ? TransferStart::kCompleted : TransferStart::kFailed;
  Issue(queue, *ch);
  if (ch->started) return TransferStart::kPending;
  return ch->outcome.ok ? TransferStart::kCompleted : TransferStart::kFailed;
}

}  // namespace

AsyncQueue& QueueOf(AsyncFile& file) { return *file.queue_; }
const AsyncQueue& QueueOf(const AsyncFile& file) { return *file.queue_; }

AsyncFile::AsyncFile() = default;
AsyncFile::AsyncFile(AsyncFile&&) noexcept = default;

AsyncFile& AsyncFile::operator=(AsyncFile&& other) noexcept {
  if (this != &other) {
    Close();
    file_ = std::move(other.file_);
    queue_ = std::move(other.queue_);
  }
  return *this;
}

AsyncFile::~AsyncFile() { Close(); }

void AsyncFile::Close() {
  if (queue_) {
    CancelTransfers(*this);
    for (Channel& ch : queue_->channels) Collect(*queue_, ch, false);
    queue_.reset();
  }
  file_.Close();
}

AsyncFile MakeAsyncFile(File file, int channels) {
  AsyncFile result;
  if (!file.valid() || channels < 1) return result;
  const AsyncBackend backend = immediate_transfers ? AsyncBackend::kImmediate : AsyncBackend::kQueued;
  result.file_ = std::move(file);
  result.queue_ = std::make_unique<AsyncQueue>(HandleOf(result.file_), channels, backend);
  return result;
}

File OpenFileForAsyncReading(const std::string& path) {
  if (immediate_transfers) return OpenRegularForReading(path, AccessHint::kSequential);
  File file(
      reinterpret_cast<std::intptr_t>(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                  FILE_FLAG_OVERLAPPED | FILE_FLAG_SEQUENTIAL_SCAN, nullptr)));
  if (file && GetFileType(HandleOf(file)) != FILE_TYPE_DISK) file.Close();  // a device or a pipe
  return file;
}

AsyncFile OpenAsyncForReading(const std::string& path, int channels) {
  return MakeAsyncFile(OpenFileForAsyncReading(path), channels);
}

AsyncFile CreateAsyncForWriting(const std::string& path, int channels) {
  if (immediate_transfers) return MakeAsyncFile(CreateOrTruncate(path), channels);
  File file(reinterpret_cast<std::intptr_t>(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                        FILE_FLAG_OVERLAPPED | FILE_FLAG_SEQUENTIAL_SCAN, nullptr)));
  return MakeAsyncFile(std::move(file), channels);
}

AsyncFile CreateAsyncTemporaryBeside(const std::string& target, std::string& temp_path, int channels) {
  return MakeAsyncFile(CreateTemporaryBeside(target, temp_path, !immediate_transfers), channels);
}

AsyncBackend BackendOf(const AsyncFile& file) {
  return file.valid() ? QueueOf(file).backend : AsyncBackend::kImmediate;
}

TransferStart StartRead(AsyncFile& file, int channel, std::uint64_t offset, std::span<std::uint8_t> buffer) {
  return Start(file, channel, offset, buffer.data(), buffer.size(), false);
}

TransferStart StartWrite(AsyncFile& file, int channel, std::uint64_t offset, std::span<const std::uint8_t> data) {
  // The write only reads from the buffer.
  return Start(file, channel, offset, const_cast<std::uint8_t*>(data.data()), data.size(), true);
}

bool TransferInProgress(AsyncFile& file, int channel) {
  if (!file.valid()) return false;
  Channel* ch = ChannelAt(QueueOf(file), channel);
  // The block's status field holds STATUS_PENDING while the system works.
  return ch != nullptr && ch->started && !HasOverlappedIoCompleted(&ch->block);
}

TransferOutcome AwaitTransfer(AsyncFile& file, int channel) {
  if (!file.valid()) return {false, 0};
  AsyncQueue& queue = QueueOf(file);
  Channel* ch = ChannelAt(queue, channel);
  if (ch == nullptr) return {false, 0};
  Collect(queue, *ch, true);
  return ch->outcome;
}

namespace {

// The event that a thread's own positional reads wait on: one per thread,
// made on its first such read and closed when the thread ends. A read on an
// overlapped handle must carry its own event, or waiting for it would wake
// on any transfer of the handle.
class ThreadReadEvent {
 public:
  ThreadReadEvent() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ThreadReadEvent(const ThreadReadEvent&) = delete;
  ThreadReadEvent& operator=(const ThreadReadEvent&) = delete;
  ~ThreadReadEvent() {
    if (event_ != nullptr) CloseHandle(event_);
  }
  HANDLE get() const { return event_; }

 private:
  HANDLE event_;
};

constexpr std::size_t kMaxReadPiece = std::size_t{1} << 30;

}  // namespace

std::optional<std::size_t> ReadAtOnce(AsyncFile& file, std::uint64_t offset, std::span<std::uint8_t> buffer) {
  if (!file.valid()) return std::nullopt;
  thread_local const ThreadReadEvent event;
  if (event.get() == nullptr) return std::nullopt;
  const HANDLE handle = QueueOf(file).handle;
  std::size_t done = 0;
  while (done < buffer.size()) {
    const std::uint64_t at = offset + done;
    OVERLAPPED block{};
    block.Offset = static_cast<DWORD>(at);
    block.OffsetHigh = static_cast<DWORD>(at >> 32);
    block.hEvent = event.get();
    const DWORD want = static_cast<DWORD>(std::min(buffer.size() - done, kMaxReadPiece));
    DWORD got = 0;
    // On an overlapped handle the call's own count is not meaningful; the
    // block's is. On a plain handle the read completes before the call returns.
    BOOL succeeded = ReadFile(handle, buffer.data() + done, want, nullptr, &block);
    DWORD error = succeeded ? ERROR_SUCCESS : GetLastError();
    if (succeeded || error == ERROR_IO_PENDING) {
      // This thread waits for its own read, so the system cannot abandon it.
      succeeded = GetOverlappedResult(handle, &block, &got, TRUE);
      error = succeeded ? ERROR_SUCCESS : GetLastError();
    }
    if (error == ERROR_HANDLE_EOF) break;  // reading at or past the end
    if (error != ERROR_SUCCESS) return std::nullopt;
    if (got == 0) break;
    done += got;
  }
  if (TakeInjectedFailure()) return std::nullopt;
  return done;
}

void CancelTransfers(AsyncFile& file) {
  if (!file.valid()) return;
  AsyncQueue& queue = QueueOf(file);
  queue.cancelling = true;
  for (const Channel& ch : queue.channels) {
    if (ch.started) {
      (void)CancelIoEx(queue.handle, nullptr);
      return;
    }
  }
}

void UseImmediateTransfers(bool use) { immediate_transfers = use; }

void InjectReadFailuresForTesting(int count) { injected_read_failures.store(count, std::memory_order_relaxed); }

}  // namespace kestrum
