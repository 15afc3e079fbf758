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
#include <windows.h>

#include <vector>

#include "io/async_file.h"

namespace kestrum {
namespace {

struct Channel {
  OVERLAPPED block{};
  HANDLE event = nullptr;
  bool started = false;  // carries a transfer that has not been collected
  bool is_write = false;
  std::uint32_t length = 0;
  TransferOutcome outcome;  // valid once collected
};

bool force_immediate = false;

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
  return {true, bytes};
}

// Waits for the channel's transfer (GetOverlappedResult with waiting on) and
// records its outcome. A channel that carries nothing returns at once.
void Collect(AsyncQueue& queue, Channel& ch) {
  if (!ch.started) return;
  DWORD bytes = 0;
  const bool succeeded = GetOverlappedResult(queue.handle, &ch.block, &bytes, TRUE) != FALSE;
  ch.outcome = Outcome(ch, succeeded, bytes, succeeded ? ERROR_SUCCESS : GetLastError());
  ch.started = false;
}

TransferStart Start(AsyncFile& file, int channel, std::uint64_t offset, std::uint8_t* data, std::size_t length,
                    bool is_write) {
  if (!file.valid()) return TransferStart::kFailed;
  AsyncQueue& queue = QueueOf(file);
  Channel* ch = ChannelAt(queue, channel);
  if (ch == nullptr || length > 0xFFFFFFFFu || ch->event == nullptr) return TransferStart::kFailed;
  Collect(queue, *ch);  // the channel's earlier transfer, if any; its outcome is dropped
  ch->is_write = is_write;
  ch->length = static_cast<std::uint32_t>(length);
  ch->outcome = {true, 0};
  if (length == 0) return TransferStart::kCompleted;

  ch->block = OVERLAPPED{};
  ch->block.Offset = static_cast<DWORD>(offset);
  ch->block.OffsetHigh = static_cast<DWORD>(offset >> 32);
  ch->block.hEvent = ch->event;
  const DWORD count = static_cast<DWORD>(length);
  // The byte count is taken from the block afterwards, never from the call:
  // for an overlapped handle the call's own count is not meaningful.
  const BOOL done = is_write ? WriteFile(queue.handle, data, count, nullptr, &ch->block)
                             : ReadFile(queue.handle, data, count, nullptr, &ch->block);
  const DWORD error = done ? ERROR_SUCCESS : GetLastError();
  if (!done && error == ERROR_IO_PENDING) {
    ch->started = true;
    return TransferStart::kPending;
  }
  DWORD bytes = 0;
  if (done) (void)GetOverlappedResult(queue.handle, &ch->block, &bytes, FALSE);
  ch->outcome = Outcome(*ch, done != FALSE, bytes, error);
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
    for (Channel& ch : queue_->channels) Collect(*queue_, ch);
    queue_.reset();
  }
  file_.Close();
}

AsyncFile MakeAsyncFile(File file, int channels) {
  AsyncFile result;
  if (!file.valid() || channels < 1) return result;
  const AsyncBackend backend = force_immediate ? AsyncBackend::kImmediate : AsyncBackend::kQueued;
  result.file_ = std::move(file);
  result.queue_ = std::make_unique<AsyncQueue>(HandleOf(result.file_), channels, backend);
  return result;
}

AsyncFile OpenAsyncForReading(const std::string& path, int channels) {
  if (force_immediate) return MakeAsyncFile(OpenRegularForReading(path, AccessHint::kSequential), channels);
  File file(
      reinterpret_cast<std::intptr_t>(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                  FILE_FLAG_OVERLAPPED | FILE_FLAG_SEQUENTIAL_SCAN, nullptr)));
  if (file && GetFileType(HandleOf(file)) != FILE_TYPE_DISK) file.Close();  // a device or a pipe
  return MakeAsyncFile(std::move(file), channels);
}

AsyncFile CreateAsyncForWriting(const std::string& path, int channels) {
  if (force_immediate) return MakeAsyncFile(CreateOrTruncate(path), channels);
  File file(reinterpret_cast<std::intptr_t>(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                        FILE_FLAG_OVERLAPPED | FILE_FLAG_SEQUENTIAL_SCAN, nullptr)));
  return MakeAsyncFile(std::move(file), channels);
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
  Collect(queue, *ch);
  return ch->outcome;
}

void CancelTransfers(AsyncFile& file) {
  if (!file.valid()) return;
  AsyncQueue& queue = QueueOf(file);
  for (const Channel& ch : queue.channels) {
    if (ch.started) {
      (void)CancelIo(queue.handle);
      return;
    }
  }
}

void ForceImmediateBackendForTesting(bool force) { force_immediate = force; }

}  // namespace kestrum
