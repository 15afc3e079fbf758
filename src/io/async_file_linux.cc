// Linux back end of the overlapped transfers: one io_uring per file, each
// channel's transfer one request whose completion carries the channel's
// address. Where no ring can be set up (an old kernel, a sysctl or seccomp
// policy), the file uses pread/pwrite instead, which complete at once.
//
// A request belongs to the thread that submitted it: when that thread exits
// first, the kernel ends the request early (a pending pipe read with
// -ECANCELED, a buffered read still waiting for the disk with -EFAULT, since
// the rest of its work would have to run in the thread's context). Such a
// channel is Interrupted, and whoever awaits it submits what is left again.
#include <fcntl.h>
#include <liburing.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <vector>

#include "io/async_file.h"

namespace kestrum {
namespace {

enum class ChannelState : std::uint8_t {
  kIdle,
  kInFlight,
  kDone,
  kFailed,
  kInterrupted,  // ended early, not by an error of the file; the rest is to be submitted again
};

struct Channel {
  ChannelState state = ChannelState::kIdle;
  bool is_write = false;
  bool fail_injected = false;  // report failure once the transfer is done
  std::uint8_t resubmits = 0;  // of this transfer, after interruptions
  std::uint8_t* data = nullptr;
  std::uint64_t offset = 0;
  std::uint32_t length = 0;
  std::uint32_t done = 0;
};

// A transfer interrupted this many times in a row is taken as failed: each
// resubmission comes from a thread that waits for it, so a real interruption
// does not repeat.
constexpr std::uint8_t kMaxResubmits = 8;

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
  AsyncQueue(int descriptor, int channel_count) : fd(descriptor), channels(static_cast<std::size_t>(channel_count)) {}
  AsyncQueue(const AsyncQueue&) = delete;
  AsyncQueue& operator=(const AsyncQueue&) = delete;
  ~AsyncQueue() {
    if (backend == AsyncBackend::kQueued) io_uring_queue_exit(&ring);
  }

  AsyncBackend backend = AsyncBackend::kImmediate;
  int fd = -1;
  io_uring ring{};
  // Set by CancelTransfers until the next transfer starts: partial or
  // interrupted transfers are then not continued.
  bool cancelling = false;
  // Partial reads of a regular file are continued, so that only the end of
  // the file makes a read short; on a pipe a partial read is the result.
  bool regular = true;
  // Allocated once; completions point into it, so it is never resized.
  std::vector<Channel> channels;
};

namespace {

// The end of a transfer that ran its course: done, unless a fault is injected.
void Finish(Channel& ch, bool ok) { ch.state = ok && !ch.fail_injected ? ChannelState::kDone : ChannelState::kFailed; }

// Synchronous transfer for the immediate back end.
void RunNow(const AsyncQueue& queue, Channel& ch) {
  while (ch.done < ch.length) {
    const std::size_t want = ch.length - ch.done;
    const off_t at = static_cast<off_t>(ch.offset + ch.done);
    const ssize_t got =
        ch.is_write ? ::pwrite(queue.fd, ch.data + ch.done, want, at) : ::pread(queue.fd, ch.data + ch.done, want, at);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 || (got == 0 && ch.is_write)) {
      Finish(ch, false);  // a write that cannot make progress fails too
      return;
    }
    ch.done += static_cast<std::uint32_t>(got);
    if (got == 0 || (!ch.is_write && !queue.regular)) break;  // end of file, or a pipe's share
  }
  Finish(ch, true);
}

void SubmitQueued(AsyncQueue& queue) {
  // Requests that cannot be submitted now stay in the ring and go with the
  // next submit-and-wait.
  while (io_uring_submit(&queue.ring) == -EINTR) {
  }
}

// Queues what is left of the channel's transfer.
void QueueRest(AsyncQueue& queue, Channel& ch) {
  io_uring_sqe* sqe = io_uring_get_sqe(&queue.ring);
  if (sqe == nullptr) {
    SubmitQueued(queue);
    sqe = io_uring_get_sqe(&queue.ring);
  }
  if (sqe == nullptr) {
    ch.state = ChannelState::kFailed;
    return;
  }
  const std::uint32_t rest = ch.length - ch.done;
  const std::uint64_t at = ch.offset + ch.done;
  if (ch.is_write) {
    io_uring_prep_write(sqe, queue.fd, ch.data + ch.done, rest, at);
  } else {
    io_uring_prep_read(sqe, queue.fd, ch.data + ch.done, rest, at);
  }
  io_uring_sqe_set_data(sqe, &ch);
  ch.state = ChannelState::kInFlight;
  SubmitQueued(queue);
}

// Results that say the transfer was cut short, not that the file failed:
// a signal, a full queue, or the exit of the submitting thread (see the top
// of the file). The buffers handed in are always valid, so -EFAULT cannot
// mean a bad address here.
bool IsInterruption(int res) { return res == -EINTR || res == -EAGAIN || res == -ECANCELED || res == -EFAULT; }

void HandleCompletion(AsyncQueue& queue, io_uring_cqe* cqe) {
  auto* ch = static_cast<Channel*>(io_uring_cqe_get_data(cqe));
  const int res = cqe->res;
  io_uring_cqe_seen(&queue.ring, cqe);
  if (ch == nullptr) return;  // a cancel request's own completion
  if (res < 0) {
    // Our own cancellation ends the transfer; anything else that merely
    // interrupted it leaves the rest to the thread that awaits it.
    if (IsInterruption(res) && !queue.cancelling) {
      ch->state = ChannelState::kInterrupted;
    } else {
      Finish(*ch, false);
    }
    return;
  }
  if (res == 0) {
    Finish(*ch, !ch->is_write);
    return;
  }
  ch->done += static_cast<std::uint32_t>(res);
  ch->resubmits = 0;
  if (ch->done < ch->length && !queue.cancelling && (ch->is_write || queue.regular)) {
    // A partial transfer: continue with the rest, so that a read is short
    // only at the end of the file, as with pread.
    QueueRest(queue, *ch);
    return;
  }
  Finish(*ch, !(ch->is_write && ch->done < ch->length));
}

void ReapReady(AsyncQueue& queue) {
  io_uring_cqe* cqe = nullptr;
  while (io_uring_peek_cqe(&queue.ring, &cqe) == 0) HandleCompletion(queue, cqe);
}

// Submits the rest of an interrupted transfer again, from this thread.
void Resubmit(AsyncQueue& queue, Channel& ch) {
  if (ch.resubmits >= kMaxResubmits) {
    Finish(ch, false);
    return;
  }
  ++ch.resubmits;
  QueueRest(queue, ch);
}

// Waits until the channel carries no request. With `finish`, an interrupted
// transfer is resubmitted and waited for until it has an outcome; without,
// the caller only needs the buffer back and leaves it interrupted.
void WaitFor(AsyncQueue& queue, Channel& ch, bool finish) {
  for (;;) {
    if (ch.state == ChannelState::kInterrupted && finish) Resubmit(queue, ch);
    if (ch.state != ChannelState::kInFlight) return;
    ReapReady(queue);
    if (ch.state != ChannelState::kInFlight) continue;
    const int res = io_uring_submit_and_wait(&queue.ring, 1);
    if (res < 0 && res != -EINTR && res != -EAGAIN && res != -EBUSY) {
      // The ring itself has broken down; nothing more will complete.
      ch.state = ChannelState::kFailed;
      return;
    }
  }
}

// Whether rings here can do what the channels need: positional reads and
// writes and cancellation arrived in the kernel after io_uring itself, and a
// sysctl or seccomp policy may forbid rings altogether. Asked once.
bool RingsAreUsable() {
  static const bool usable = [] {
    io_uring ring{};
    if (io_uring_queue_init(2, &ring, 0) != 0) return false;
    io_uring_probe* probe = io_uring_get_probe_ring(&ring);
    const bool ok = probe != nullptr && io_uring_opcode_supported(probe, IORING_OP_READ) &&
                    io_uring_opcode_supported(probe, IORING_OP_WRITE) &&
                    io_uring_opcode_supported(probe, IORING_OP_ASYNC_CANCEL);
    if (probe != nullptr) io_uring_free_probe(probe);
    io_uring_queue_exit(&ring);
    return ok;
  }();
  return usable;
}

Channel* ChannelAt(AsyncQueue& queue, int channel) {
  if (channel < 0 || static_cast<std::size_t>(channel) >= queue.channels.size()) return nullptr;
  return &queue.channels[static_cast<std::size_t>(channel)];
}

TransferStart Start(AsyncFile& file, int channel, std::uint64_t offset, std::uint8_t* data, std::size_t length,
                    bool is_write) {
  if (!file.valid()) return TransferStart::kFailed;
  AsyncQueue& queue = QueueOf(file);
  Channel* ch = ChannelAt(queue, channel);
  if (ch == nullptr || length > 0xFFFFFFFFu) return TransferStart::kFailed;
  if (ch->state == ChannelState::kInFlight) WaitFor(queue, *ch, false);
  queue.cancelling = false;
  *ch = Channel{.is_write = is_write,
                .fail_injected = !is_write && TakeInjectedFailure(),
                .data = data,
                .offset = offset,
                .length = static_cast<std::uint32_t>(length)};
  if (queue.backend == AsyncBackend::kImmediate || length == 0) {
    RunNow(queue, *ch);
  } else {
    QueueRest(queue, *ch);
    ReapReady(queue);
  }
  switch (ch->state) {
    case ChannelState::kInFlight:
    case ChannelState::kInterrupted:  // its rest is submitted when it is awaited
      return TransferStart::kPending;
    case ChannelState::kFailed:
      return TransferStart::kFailed;
    default:
      return TransferStart::kCompleted;
  }
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
    for (Channel& ch : queue_->channels) WaitFor(*queue_, ch, false);
    queue_.reset();
  }
  file_.Close();
}

AsyncFile MakeAsyncFile(File file, int channels) {
  AsyncFile result;
  if (!file.valid() || channels < 1) return result;
  auto queue = std::make_unique<AsyncQueue>(static_cast<int>(file.handle()), channels);
  struct stat st;
  queue->regular = ::fstat(queue->fd, &st) == 0 && S_ISREG(st.st_mode);
  // Room for every channel's transfer and a cancel request for each.
  const unsigned entries = static_cast<unsigned>(2 * channels + 2);
  if (!immediate_transfers && RingsAreUsable() && io_uring_queue_init(entries, &queue->ring, 0) == 0) {
    queue->backend = AsyncBackend::kQueued;
    // Files are opened non-blocking so that a FIFO cannot hold up the open.
    // A ring honours the flag, on some kernels also for regular files: a
    // read of a block not yet in memory would end at once with -EAGAIN
    // instead of waiting for the disk.
    const int flags = queue->regular ? ::fcntl(queue->fd, F_GETFL) : -1;
    if (flags >= 0 && (flags & O_NONBLOCK) != 0) (void)::fcntl(queue->fd, F_SETFL, flags & ~O_NONBLOCK);
  }
  result.file_ = std::move(file);
  result.queue_ = std::move(queue);
  return result;
}

File OpenFileForAsyncReading(const std::string& path) { return OpenRegularForReading(path, AccessHint::kSequential); }

AsyncFile OpenAsyncForReading(const std::string& path, int channels) {
  return MakeAsyncFile(OpenFileForAsyncReading(path), channels);
}

AsyncFile CreateAsyncForWriting(const std::string& path, int channels) {
  return MakeAsyncFile(CreateOrTruncate(path), channels);
}

AsyncFile CreateAsyncTemporaryBeside(const std::string& target, std::string& temp_path, int channels) {
  return MakeAsyncFile(CreateTemporaryBeside(target, temp_path, true), channels);
}

AsyncBackend BackendOf(const AsyncFile& file) {
  return file.valid() ? QueueOf(file).backend : AsyncBackend::kImmediate;
}

TransferStart StartRead(AsyncFile& file, int channel, std::uint64_t offset, std::span<std::uint8_t> buffer) {
  return Start(file, channel, offset, buffer.data(), buffer.size(), false);
}

TransferStart StartWrite(AsyncFile& file, int channel, std::uint64_t offset, std::span<const std::uint8_t> data) {
  // The write only reads from the buffer; the channel record is shared with reads.
  return Start(file, channel, offset, const_cast<std::uint8_t*>(data.data()), data.size(), true);
}

bool TransferInProgress(AsyncFile& file, int channel) {
  if (!file.valid()) return false;
  AsyncQueue& queue = QueueOf(file);
  Channel* ch = ChannelAt(queue, channel);
  if (ch == nullptr || ch->state != ChannelState::kInFlight) return false;
  ReapReady(queue);
  return ch->state == ChannelState::kInFlight;
}

TransferOutcome AwaitTransfer(AsyncFile& file, int channel) {
  if (!file.valid()) return {false, 0};
  AsyncQueue& queue = QueueOf(file);
  Channel* ch = ChannelAt(queue, channel);
  if (ch == nullptr) return {false, 0};
  WaitFor(queue, *ch, true);
  return {ch->state != ChannelState::kFailed, ch->done};
}

std::optional<std::size_t> ReadAtOnce(AsyncFile& file, std::uint64_t offset, std::span<std::uint8_t> buffer) {
  if (!file.valid()) return std::nullopt;
  // A plain pread on the descriptor that the ring uses as well: the kernel
  // keeps no position for it, so threads do not disturb each other.
  const int fd = QueueOf(file).fd;
  std::size_t done = 0;
  while (done < buffer.size()) {
    const ssize_t got = ::pread(fd, buffer.data() + done, buffer.size() - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  if (TakeInjectedFailure()) return std::nullopt;
  return done;
}

void CancelTransfers(AsyncFile& file) {
  if (!file.valid()) return;
  AsyncQueue& queue = QueueOf(file);
  if (queue.backend == AsyncBackend::kImmediate) return;
  ReapReady(queue);
  queue.cancelling = true;
  bool queued = false;
  for (Channel& ch : queue.channels) {
    if (ch.state != ChannelState::kInFlight) continue;
    io_uring_sqe* sqe = io_uring_get_sqe(&queue.ring);
    if (sqe == nullptr) break;  // cannot happen: the ring has room for a cancel per channel
    io_uring_prep_cancel(sqe, &ch, 0);
    io_uring_sqe_set_data(sqe, nullptr);
    queued = true;
  }
  if (queued) SubmitQueued(queue);
}

void UseImmediateTransfers(bool use) { immediate_transfers = use; }

void InjectReadFailuresForTesting(int count) { injected_read_failures.store(count, std::memory_order_relaxed); }

}  // namespace kestrum
