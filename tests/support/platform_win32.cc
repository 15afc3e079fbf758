#include <windows.h>

#include <atomic>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "support/platform.h"

namespace kestrum::testing {
namespace {

File Adopt(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? File() : File(reinterpret_cast<std::intptr_t>(handle));
}

}  // namespace

std::FILE* ScratchStream() {
  static std::atomic<unsigned> counter{0};
  char dir[MAX_PATH + 1];
  const DWORD length = GetTempPathA(sizeof dir, dir);
  if (length == 0 || length > MAX_PATH) throw std::runtime_error("no directory for temporary files");
  char path[MAX_PATH + 64];
  std::snprintf(path, sizeof path, "%skestrum-stream-%lu-%u.tmp", dir,
                static_cast<unsigned long>(GetCurrentProcessId()), counter++);
  // "D": removed when closed.
  std::FILE* stream = std::fopen(path, "w+bD");
  if (stream == nullptr) throw std::runtime_error(std::string("cannot create ") + path);
  return stream;
}

std::string DevicePath() { return "NUL"; }

bool MakeFifo(const std::string&) { return false; }

File OpenDirectoryHandle(const std::string& path) {
  // Only backup semantics let a directory be opened at all.
  return Adopt(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

bool MakePipe(File& read_end, File& write_end) {
  static std::atomic<unsigned> counter{0};
  char name[96];
  std::snprintf(name, sizeof name, "\\\\.\\pipe\\kestrum-test-%lu-%u",
                static_cast<unsigned long>(GetCurrentProcessId()), counter++);
  read_end = Adopt(CreateNamedPipeA(name, PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                                    4096, 4096, 0, nullptr));
  if (!read_end) return false;
  write_end = Adopt(CreateFileA(name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return write_end.valid();
}

std::shared_ptr<void> LockOutReaders(const std::string& path) {
  // An open that shares nothing makes every other open fail.
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return std::shared_ptr<void>(handle, [](void* h) { CloseHandle(h); });
}

std::shared_ptr<void> MountSmallVolume(const std::string&, unsigned) { return nullptr; }

std::shared_ptr<void> LimitFileSize(std::uint64_t) { return nullptr; }

bool EvictFromPageCache(const std::string&) { return false; }

bool OpenFilesCanBeChanged() { return false; }

bool RunningUnderWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::optional<unsigned> PermissionBits(const std::string&) { return std::nullopt; }
std::optional<unsigned> UsualNewFilePermissions() { return std::nullopt; }

}  // namespace kestrum::testing
