// POSIX pieces of the platform layer beside file_posix.cc: path style, the
// pakfile lock (a std::mutex) and the standard streams.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <new>

#include "io/host_path.h"
#include "io/lock.h"
#include "io/standard_streams.h"

namespace kestrum {
namespace {

static_assert(sizeof(std::mutex) <= PakLock::kStateSize && alignof(std::mutex) <= 16);

std::mutex& MutexIn(unsigned char* state) { return *std::launder(reinterpret_cast<std::mutex*>(state)); }

}  // namespace

PathStyle HostPathStyle() { return PathStyle::kPosix; }

bool OpenStandardStreams() {
  bool output_open = true;
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    if (fd == 1) output_open = false;
    // The lowest free number: this one, the ones below being open.
    const int null = ::open("/dev/null", O_RDWR | O_NOCTTY);
    if (null >= 0 && null != fd) ::close(null);
  }
  return output_open;
}

PakLock::PakLock() { new (state_) std::mutex(); }
PakLock::~PakLock() { MutexIn(state_).~mutex(); }
void PakLock::lock() { MutexIn(state_).lock(); }
bool PakLock::try_lock() { return MutexIn(state_).try_lock(); }
void PakLock::unlock() { MutexIn(state_).unlock(); }

}  // namespace kestrum
