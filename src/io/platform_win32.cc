// Windows pieces of the platform layer beside file_win32.cc: path style, the
// pakfile lock (a critical section) and the standard streams.
#include <windows.h>

#include <new>

#include "io/host_path.h"
#include "io/lock.h"
#include "io/standard_streams.h"

namespace kestrum {
namespace {

static_assert(sizeof(CRITICAL_SECTION) <= PakLock::kStateSize && alignof(CRITICAL_SECTION) <= 16);

CRITICAL_SECTION* SectionIn(unsigned char* state) { return std::launder(reinterpret_cast<CRITICAL_SECTION*>(state)); }

}  // namespace

PathStyle HostPathStyle() { return PathStyle::kWindows; }

bool OpenStandardStreams() {
  // Handles are never handed out again under a standard stream's number, so
  // a missing stream is only a stream whose writes fail, which the program
  // sees when it flushes.
  return true;
}

PakLock::PakLock() { InitializeCriticalSection(new (state_) CRITICAL_SECTION); }
PakLock::~PakLock() { DeleteCriticalSection(SectionIn(state_)); }
void PakLock::lock() { EnterCriticalSection(SectionIn(state_)); }
bool PakLock::try_lock() { return TryEnterCriticalSection(SectionIn(state_)) != FALSE; }
void PakLock::unlock() { LeaveCriticalSection(SectionIn(state_)); }

}  // namespace kestrum
