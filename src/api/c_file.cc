// The C interface: files inside the open pakfiles.
#include <algorithm>

#include "api/c_status.h"
#include "api/file_table.h"
#include "api/kestrum.h"
#include "reader/pak_reader.h"

namespace {

using kestrum::Guarded;
using kestrum::OpenFiles;
using kestrum::PakFileHandle;
using kestrum::StatusOf;

std::uintptr_t TokenOf(const kestrum_file* file) { return reinterpret_cast<std::uintptr_t>(file); }

// No file reaches 2 GiB, so one core read of this many bytes reaches the end.
constexpr std::uint32_t kMaxRead = 0x7FFFFFFF;

// Runs body(handle) on a copy of the live handle, which must still validate
// against its pakfile, and stores the copy back (its read position, its
// repaired registry position) while the token is still live.
template <typename Body>
kestrum_status WithHandle(kestrum_file* file, Body&& body) {
  const std::uintptr_t token = TokenOf(file);
  PakFileHandle handle;
  if (!OpenFiles().Get(token, handle) || !kestrum::PakFileValidate(&handle)) return KESTRUM_ERR_INVALID_HANDLE;
  const kestrum_status status = body(handle);
  OpenFiles().Put(token, handle);
  return status;
}

kestrum_status Finish(const kestrum::PakReadResult& result, size_t* bytes_read) {
  *bytes_read = result.bytes;
  return StatusOf(result.error);
}

}  // namespace

extern "C" {

kestrum_status kestrum_file_open(const char* path, kestrum_file** file) {
  if (file != nullptr) *file = nullptr;
  if (path == nullptr || file == nullptr) return KESTRUM_ERR_INVALID_ARGUMENT;
  return Guarded([&]() -> kestrum_status {
    PakFileHandle* opened = kestrum::PakFileOpen(path);
    if (opened == nullptr) return KESTRUM_ERR_NOT_FOUND;
    const PakFileHandle handle = *opened;
    kestrum::PakFileClose(opened);
    const std::uintptr_t token = OpenFiles().Add(handle);
    if (token == 0) return KESTRUM_ERR_NO_MEMORY;  // the table is full
    // A token in pointer clothing, never dereferenced.
    *file = reinterpret_cast<kestrum_file*>(token);  // NOLINT(performance-no-int-to-ptr)
    return KESTRUM_OK;
  });
}

kestrum_status kestrum_file_close(kestrum_file* file) {
  return Guarded(
      [&]() -> kestrum_status { return OpenFiles().Remove(TokenOf(file)) ? KESTRUM_OK : KESTRUM_ERR_INVALID_HANDLE; });
}

kestrum_status kestrum_file_size(kestrum_file* file, uint64_t* size) {
  return Guarded([&]() -> kestrum_status {
    return WithHandle(file, [&](PakFileHandle& handle) -> kestrum_status {
      if (size == nullptr) return KESTRUM_ERR_INVALID_ARGUMENT;
      const std::int32_t found = kestrum::PakFileSize(&handle);
      if (found < 0) return KESTRUM_ERR_NOT_A_PAKFILE;  // a record of 2 GiB or more
      *size = static_cast<std::uint64_t>(found);
      return KESTRUM_OK;
    });
  });
}

kestrum_status kestrum_file_read(kestrum_file* file, void* buffer, size_t count, size_t* bytes_read) {
  if (bytes_read == nullptr) return KESTRUM_ERR_INVALID_ARGUMENT;
  *bytes_read = 0;
  if (buffer == nullptr && count != 0) return KESTRUM_ERR_INVALID_ARGUMENT;
  return Guarded([&]() -> kestrum_status {
    return WithHandle(file, [&](PakFileHandle& handle) -> kestrum_status {
      const auto n = static_cast<std::uint32_t>(std::min<size_t>(count, kMaxRead));
      return Finish(kestrum::PakFileReadChecked(&handle, buffer, n), bytes_read);
    });
  });
}

kestrum_status kestrum_file_read_at(kestrum_file* file, uint64_t offset, void* buffer, size_t count,
                                    size_t* bytes_read) {
  if (bytes_read == nullptr) return KESTRUM_ERR_INVALID_ARGUMENT;
  *bytes_read = 0;
  if (buffer == nullptr && count != 0) return KESTRUM_ERR_INVALID_ARGUMENT;
  return Guarded([&]() -> kestrum_status {
    return WithHandle(file, [&](PakFileHandle& handle) -> kestrum_status {
      const auto n = static_cast<std::uint32_t>(std::min<size_t>(count, kMaxRead));
      return Finish(kestrum::PakFileReadAt(&handle, offset, buffer, n), bytes_read);
    });
  });
}

kestrum_status kestrum_file_seek(kestrum_file* file, int64_t offset, int32_t whence, uint64_t* position) {
  return Guarded([&]() -> kestrum_status {
    return WithHandle(file, [&](PakFileHandle& handle) -> kestrum_status {
      if (whence != KESTRUM_SEEK_SET && whence != KESTRUM_SEEK_CUR && whence != KESTRUM_SEEK_END) {
        return KESTRUM_ERR_INVALID_ARGUMENT;
      }
      const std::int64_t moved = kestrum::PakFileSeek(&handle, offset, static_cast<kestrum::PakSeekFrom>(whence));
      if (moved < 0) return KESTRUM_ERR_INVALID_ARGUMENT;  // the handle validated just before
      if (position != nullptr) *position = static_cast<std::uint64_t>(moved);
      return KESTRUM_OK;
    });
  });
}

kestrum_status kestrum_file_tell(kestrum_file* file, uint64_t* position) {
  return Guarded([&]() -> kestrum_status {
    return WithHandle(file, [&](PakFileHandle& handle) -> kestrum_status {
      if (position == nullptr) return KESTRUM_ERR_INVALID_ARGUMENT;
      *position = handle.read_pos;
      return KESTRUM_OK;
    });
  });
}

}  // extern "C"
