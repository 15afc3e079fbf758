// Windows implementation of the plain file layer, on the Win32 file
// services. A File holds a HANDLE; INVALID_HANDLE_VALUE is the all-ones value
// that File::kInvalid stands for.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <limits>

#include "io/file.h"

namespace kestrum {
namespace {

static_assert(sizeof(HANDLE) == sizeof(std::intptr_t));

HANDLE Handle(const File& file) { return reinterpret_cast<HANDLE>(file.handle()); }

File Adopt(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? File() : File(reinterpret_cast<std::intptr_t>(handle));
}

DWORD HintFlags(AccessHint hint) { return hint == AccessHint::kSequential ? FILE_FLAG_SEQUENTIAL_SCAN : 0; }

// ReadFile and WriteFile move at most a DWORD's worth of bytes per call.
constexpr std::size_t kMaxPiece = 1u << 30;

}  // namespace

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.Release();
  }
  return *this;
}

std::intptr_t File::Release() {
  const std::intptr_t h = handle_;
  handle_ = kInvalid;
  return h;
}

bool File::Close() {
  if (!valid()) return true;
  return CloseHandle(reinterpret_cast<HANDLE>(Release())) != FALSE;
}

File OpenRegularForReading(const std::string& path, AccessHint hint, std::uint64_t* length) {
  // A directory cannot be opened without FILE_FLAG_BACKUP_SEMANTICS, so it
  // fails here; devices (CON, NUL, COM1) and pipes open, and are refused by
  // their type below.
  File file = Adopt(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | HintFlags(hint), nullptr));
  if (!file) return file;
  LARGE_INTEGER size;
  if (GetFileType(Handle(file)) != FILE_TYPE_DISK || !GetFileSizeEx(Handle(file), &size)) return File();
  if (length != nullptr) *length = static_cast<std::uint64_t>(size.QuadPart);
  return file;
}

std::optional<std::uint64_t> LinkedFileLength(const File& file) {
  // The file was opened without FILE_SHARE_DELETE: nobody can delete or
  // replace it while it is open, so it always still has its name.
  return FileLength(file);
}

void AdviseSequential(const File&) {
  // On Windows the hint is given when the file is opened
  // (FILE_FLAG_SEQUENTIAL_SCAN); an open handle cannot take it later.
}

std::size_t RaiseOpenFileLimit() {
  // Handles are limited only by memory on Windows. Kept moderate all the
  // same: every open file costs kernel memory (and, under Wine, a
  // descriptor of the server process).
  return 2048;
}

void ReserveOpenFiles(std::size_t) {
  // The handle table grows without stopping the other threads.
}

File OpenForReading(const std::string& path) {
  return Adopt(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
}

File CreateExclusive(const std::string& path, AccessHint hint) {
  return Adopt(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL | HintFlags(hint),
                           nullptr));
}

File CreateOrTruncate(const std::string& path) {
  return Adopt(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::optional<std::uint64_t> FileLength(const File& file) {
  LARGE_INTEGER size;
  if (!file.valid() || !GetFileSizeEx(Handle(file), &size)) return std::nullopt;
  return static_cast<std::uint64_t>(size.QuadPart);
}

std::optional<std::size_t> ReadFully(const File& file, std::span<std::uint8_t> out) {
  std::size_t done = 0;
  while (done < out.size()) {
    const DWORD want = static_cast<DWORD>(std::min(out.size() - done, kMaxPiece));
    DWORD got = 0;
    if (!ReadFile(Handle(file), out.data() + done, want, &got, nullptr)) {
      // The writer of a pipe has gone: that is the pipe's end of file.
      if (GetLastError() == ERROR_BROKEN_PIPE) break;
      return std::nullopt;
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

std::optional<std::size_t> ReadFullyAt(const File& file, std::uint64_t offset, std::span<std::uint8_t> out) {
  // A read with an offset block: on the synchronous handles that this layer
  // opens it completes before ReadFile returns (moving the file pointer,
  // which nothing here relies on); on an overlapped handle it is waited for.
  std::size_t done = 0;
  while (done < out.size()) {
    const std::uint64_t at = offset + done;
    OVERLAPPED block{};
    block.Offset = static_cast<DWORD>(at);
    block.OffsetHigh = static_cast<DWORD>(at >> 32);
    const DWORD want = static_cast<DWORD>(std::min(out.size() - done, kMaxPiece));
    DWORD got = 0;
    if (!ReadFile(Handle(file), out.data() + done, want, &got, &block)) {
      DWORD error = GetLastError();
      if (error == ERROR_IO_PENDING) {
        error = GetOverlappedResult(Handle(file), &block, &got, TRUE) ? ERROR_SUCCESS : GetLastError();
      }
      // Reading at or past the end fails with ERROR_HANDLE_EOF: the end of file.
      if (error == ERROR_HANDLE_EOF) break;
      if (error != ERROR_SUCCESS) return std::nullopt;
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

bool WriteFully(const File& file, std::span<const std::uint8_t> data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const DWORD want = static_cast<DWORD>(std::min(data.size() - done, kMaxPiece));
    DWORD put = 0;
    if (!WriteFile(Handle(file), data.data() + done, want, &put, nullptr) || put == 0) return false;
    done += put;
  }
  return true;
}

bool WriteFullyAt(const File& file, std::uint64_t offset, std::span<const std::uint8_t> data) {
  // Through an overlapped block, so that this works on handles opened for
  // overlapped transfers too; it waits for each piece.
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (event == nullptr) return false;
  bool ok = true;
  std::size_t done = 0;
  while (ok && done < data.size()) {
    const std::uint64_t at = offset + done;
    OVERLAPPED block{};
    block.Offset = static_cast<DWORD>(at);
    block.OffsetHigh = static_cast<DWORD>(at >> 32);
    block.hEvent = event;
    const DWORD want = static_cast<DWORD>(std::min(data.size() - done, kMaxPiece));
    DWORD put = 0;
    if (!WriteFile(Handle(file), data.data() + done, want, nullptr, &block) && GetLastError() != ERROR_IO_PENDING) {
      ok = false;
    } else if (!GetOverlappedResult(Handle(file), &block, &put, TRUE) || put == 0) {
      ok = false;
    }
    done += put;
  }
  CloseHandle(event);
  return ok;
}

bool ReserveLength(const File& file, std::uint64_t length) {
  if (length > static_cast<std::uint64_t>(std::numeric_limits<LONGLONG>::max())) return false;
  // Setting the end of the file allocates its space (the file is not
  // sparse), so a full disk shows here. The file position is left as it was.
  const LARGE_INTEGER zero{};
  LARGE_INTEGER was, target;
  target.QuadPart = static_cast<LONGLONG>(length);
  if (!SetFilePointerEx(Handle(file), zero, &was, FILE_CURRENT)) return false;
  if (!SetFilePointerEx(Handle(file), target, nullptr, FILE_BEGIN)) return false;
  const bool set = SetEndOfFile(Handle(file)) != FALSE;
  if (!SetFilePointerEx(Handle(file), was, nullptr, FILE_BEGIN)) return false;
  if (!set) return false;
  const std::optional<std::uint64_t> now = FileLength(file);
  return now && *now == length;
}

File CreateTemporaryBeside(const std::string& target, std::string& temp_path, bool overlapped) {
  const std::size_t cut = target.find_last_of("\\/:");
  const std::string dir = cut == std::string::npos ? std::string() : target.substr(0, cut + 1);
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[64];
    std::snprintf(name, sizeof name, ".kestrum-%lu-%u.tmp", static_cast<unsigned long>(GetCurrentProcessId()),
                  counter++);
    temp_path = dir + name;
    // Shared for deletion, so that the cleanup on Ctrl-C can remove the
    // file while it is being written (cleanup_on_signal_win32.cc).
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN | (overlapped ? FILE_FLAG_OVERLAPPED : 0);
    File file =
        Adopt(CreateFileA(temp_path.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW, flags, nullptr));
    if (file) return file;
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
  }
  temp_path.clear();
  return File();
}

bool SyncData(const File& file) { return file.valid() && FlushFileBuffers(Handle(file)) != FALSE; }

bool IsSameFile(const File& a, const File& b) {
  BY_HANDLE_FILE_INFORMATION ia, ib;
  if (!a.valid() || !b.valid() || !GetFileInformationByHandle(Handle(a), &ia) ||
      !GetFileInformationByHandle(Handle(b), &ib)) {
    return false;
  }
  return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
         ia.nFileIndexLow == ib.nFileIndexLow;
}

std::optional<std::string> FinalLinkTarget(const std::string& path) {
  // A symbolic link (or another reparse point) to a file: the system follows
  // the whole chain when the file is opened, and names where it ended. A link
  // whose target does not exist cannot be opened that way; it is returned as
  // it stands, and output then replaces the link itself.
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 ||
      (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return path;
  }
  const HANDLE target = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (target == INVALID_HANDLE_VALUE) {
    return GetLastError() == ERROR_CANT_RESOLVE_FILENAME ? std::nullopt : std::optional<std::string>(path);
  }
  char name[MAX_PATH * 4];
  const DWORD length = GetFinalPathNameByHandleA(target, name, sizeof name, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  CloseHandle(target);
  if (length == 0 || length >= sizeof name) return path;
  return std::string(name, length);
}

bool RemoveFile(const std::string& path) { return DeleteFileA(path.c_str()) != FALSE; }

bool RenameReplacing(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool SyncFolderOf(const std::string&) { return true; }

bool IsDirectory(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CreateDirectoryLevel(const std::string& path) { return CreateDirectoryA(path.c_str(), nullptr) != FALSE; }

}  // namespace kestrum
