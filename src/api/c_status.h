// What every function of the C interface shares: the status of a PakError,
// and a guard that keeps C++ exceptions from crossing into C.
#pragma once

#include <new>

#include "api/kestrum.h"
#include "reader/pak_reader.h"

namespace kestrum {

static_assert(static_cast<int>(PakError::kNone) == KESTRUM_OK);
static_assert(static_cast<int>(PakError::kNotFound) == KESTRUM_ERR_NOT_FOUND);
static_assert(static_cast<int>(PakError::kNotAPakfile) == KESTRUM_ERR_NOT_A_PAKFILE);
static_assert(static_cast<int>(PakError::kWrongLocale) == KESTRUM_ERR_WRONG_LOCALE);
static_assert(static_cast<int>(PakError::kIo) == KESTRUM_ERR_IO);
static_assert(static_cast<int>(PakError::kNoMemory) == KESTRUM_ERR_NO_MEMORY);
static_assert(static_cast<int>(PakError::kInvalidArgument) == KESTRUM_ERR_INVALID_ARGUMENT);
static_assert(static_cast<int>(PakError::kInvalidHandle) == KESTRUM_ERR_INVALID_HANDLE);
static_assert(static_cast<int>(PakError::kBufferTooSmall) == KESTRUM_ERR_BUFFER_TOO_SMALL);

inline kestrum_status StatusOf(PakError error) { return static_cast<kestrum_status>(error); }

// Runs body, which returns a kestrum_status. Memory that runs out anywhere
// inside is KESTRUM_ERR_NO_MEMORY; any other exception (a lock the system
// cannot give) is KESTRUM_ERR_IO.
template <typename Body>
kestrum_status Guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return KESTRUM_ERR_NO_MEMORY;
  } catch (...) {
    return KESTRUM_ERR_IO;
  }
}

}  // namespace kestrum
