// Linux service for WriteBatch: an io_uring per batch. A group is one chain
// of linked requests (write the first file, close it, write the next, ...),
// submitted and awaited with one system call. A request that fails or comes
// short breaks the chain: the kernel cancels everything linked after it, so
// nothing later is touched before the plain calls have had their say.
#include <liburing.h>

#include <cerrno>
#include <memory>

#include "io/uring_support.h"
#include "io/write_batch.h"

namespace kestrum::write_batch {

struct Ring {
  io_uring ring{};
  bool live = false;
  Ring() = default;
  Ring(const Ring&) = delete;
  Ring& operator=(const Ring&) = delete;
  ~Ring() {
    if (live) io_uring_queue_exit(&ring);
  }
};

void RingDeleter::operator()(Ring* ring) const { delete ring; }

Ring* MakeRing(std::size_t files) {
  if (!UringSupports({IORING_OP_WRITE, IORING_OP_CLOSE})) return nullptr;
  auto made = std::make_unique<Ring>();
  const auto entries = static_cast<unsigned>(2 * files);
  // With SUBMIT_ALL a request the kernel refuses fails its chain instead of
  // staying queued; older kernels lack it, and RunChain copes without.
  io_uring_params params{};
  params.flags = IORING_SETUP_SUBMIT_ALL;
  made->live = io_uring_queue_init_params(entries, &made->ring, &params) == 0;
  if (!made->live) {
    params = io_uring_params{};
    made->live = io_uring_queue_init_params(entries, &made->ring, &params) == 0;
  }
  // No ring after all (a policy, a limit on locked memory): plain calls.
  return made->live ? made.release() : nullptr;
}

namespace {

// user_data: the file's position in the group, and one bit for the close.
std::uint64_t Tag(std::size_t file, bool close) { return (std::uint64_t{file} << 1) | (close ? 1 : 0); }

// Where the ring fails while requests are out, nobody knows whether they will
// still run: every file is taken as failed, and its descriptor is left alone
// rather than closed twice.
void GiveUp(std::span<WriteBatch::Queued> files) {
  for (WriteBatch::Queued& q : files) q.abandoned = true;
}

}  // namespace

bool RunChain(Ring& ring, std::span<WriteBatch::Queued> files) {
  unsigned requests = 0;
  for (std::size_t k = 0; k < files.size(); ++k) {
    WriteBatch::Queued& q = files[k];
    q.written = 0;
    q.closed = 0;
    q.write_ran = q.data.empty();  // nothing to write: only the close
    q.close_ran = false;
    q.abandoned = false;
    const int fd = static_cast<int>(q.handle);
    if (!q.data.empty()) {
      io_uring_sqe* sqe = io_uring_get_sqe(&ring.ring);
      io_uring_prep_write(sqe, fd, q.data.data(), static_cast<unsigned>(q.data.size()), 0);
      io_uring_sqe_set_data64(sqe, Tag(k, false));
      sqe->flags |= IOSQE_IO_LINK;
      ++requests;
    }
    io_uring_sqe* sqe = io_uring_get_sqe(&ring.ring);
    io_uring_prep_close(sqe, fd);
    io_uring_sqe_set_data64(sqe, Tag(k, true));
    if (k + 1 < files.size()) sqe->flags |= IOSQE_IO_LINK;
    ++requests;
  }
  int submitted = 0;
  do {
    submitted = io_uring_submit_and_wait(&ring.ring, requests);
  } while (submitted == -EINTR || submitted == -EAGAIN || submitted == -EBUSY);
  // Nothing submitted: nothing ran, and the plain calls do it all. Some left
  // unsubmitted: they stay queued in the ring, which must then go.
  const unsigned expected = submitted > 0 ? static_cast<unsigned>(submitted) : 0;
  for (unsigned seen = 0; seen < expected;) {
    io_uring_cqe* cqe = nullptr;
    const int got = io_uring_wait_cqe(&ring.ring, &cqe);
    if (got == -EINTR || got == -EAGAIN || got == -EBUSY) continue;
    if (got != 0) {
      GiveUp(files);
      return false;
    }
    const std::uint64_t tag = io_uring_cqe_get_data64(cqe);
    const int res = cqe->res;
    io_uring_cqe_seen(&ring.ring, cqe);
    ++seen;
    WriteBatch::Queued& q = files[tag >> 1];
    if (res == -ECANCELED) continue;  // linked after a failure: not run
    if ((tag & 1) != 0) {
      q.close_ran = true;
      q.closed = res;
    } else {
      q.write_ran = true;
      q.written = res;
    }
  }
  return expected == requests;
}

}  // namespace kestrum::write_batch
