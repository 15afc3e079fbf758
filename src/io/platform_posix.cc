// POSIX pieces of the platform layer beside file_posix.cc: path style and the
// pakfile lock (a std::mutex).
#include <mutex>
#include <new>

#include "io/host_path.h"
#include "io/lock.h"

namespace kestrum {
namespace {

static_assert(sizeof(std::mutex) <= PakLock::kStateSize && alignof(std::mutex) <= 16);

std::mutex& MutexIn(unsigned char* state) { return *std::launder(reinterpret_cast<std::mutex*>(state)); }

}  // namespace

PathStyle HostPathStyle() { return PathStyle::kPosix; }

PakLock::PakLock() { new (state_) std::mutex(); }
PakLock::~PakLock() { MutexIn(state_).~mutex(); }
void PakLock::lock() { MutexIn(state_).lock(); }
bool PakLock::try_lock() { return MutexIn(state_).try_lock(); }
void PakLock::unlock() { MutexIn(state_).unlock(); }

}  // namespace kestrum
