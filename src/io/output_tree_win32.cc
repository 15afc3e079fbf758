// Windows part of OutputTree. Win32 has no calls relative to a directory
// handle, so every level is opened by its full path, as a handle that does
// not follow reparse points and that shares no delete access: while it is
// held, that level can be neither renamed nor replaced, so the checked chain
// from the destination down stays what was checked. Paths are made absolute
// and given the \\?\ prefix, which lifts the 260-character limit. Names are
// bytes in the ANSI code page, as the rest of the file layer takes them.
#include <windows.h>

#include "io/output_tree_platform.h"

namespace kestrum {

std::size_t MaxOutputPathLength() { return 32767; }

namespace output_tree {

struct Root {
  std::wstring base;  // the destination, absolute, \\?\ form, ending in '\'
  std::wstring path;  // reused for each call
};

void RootDeleter::operator()(Root* root) const { delete root; }

namespace {

HANDLE Win(Handle handle) { return reinterpret_cast<HANDLE>(handle); }

void AppendWide(std::wstring& to, std::string_view bytes) {
  if (bytes.empty()) return;
  const int size = static_cast<int>(bytes.size());
  const int count = MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
  const std::size_t at = to.size();
  to.resize(at + static_cast<std::size_t>(count));
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, to.data() + at, count);
}

// base + key + '\' + name, in root.path.
const wchar_t* FullPath(Root& root, std::string_view key, std::string_view name) {
  root.path.assign(root.base);
  if (!key.empty()) {
    AppendWide(root.path, key);
    root.path.push_back(L'\\');
  }
  AppendWide(root.path, name);
  return root.path.c_str();
}

// A handle that pins the directory: no FILE_SHARE_DELETE.
HANDLE OpenDirectory(const wchar_t* path, bool follow) {
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  return CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags,
                     nullptr);
}

bool Missing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// CreateDirectoryW; true when made, or when something is there already.
bool MakeLevel(const wchar_t* path, bool& made) {
  made = CreateDirectoryW(path, nullptr) != FALSE;
  return made || GetLastError() == ERROR_ALREADY_EXISTS;
}

// Keeps the handle when it is a plain directory.
OutputStatus Check(HANDLE handle, bool allow_link, Handle& out) {
  BY_HANDLE_FILE_INFORMATION info;
  OutputStatus status = OutputStatus::kOk;
  if (!GetFileInformationByHandle(handle, &info)) {
    status = OutputStatus::kCannotCreate;
  } else if (!allow_link && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    status = OutputStatus::kLinkInPath;
  } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    status = OutputStatus::kNotADirectory;
  }
  if (status != OutputStatus::kOk) {
    CloseHandle(handle);
    return status;
  }
  out = reinterpret_cast<Handle>(handle);
  return status;
}

}  // namespace

std::string_view Separators() { return "\\/"; }
char JoinSeparator() { return '\\'; }

OutputStatus OpenRoot(const std::string& destination, RootPtr& root, Handle& handle, bool& fresh) {
  std::wstring dest;
  AppendWide(dest, destination);
  fresh = false;
  // Followed as given: the destination itself may be a link.
  HANDLE directory = OpenDirectory(dest.c_str(), true);
  if (directory == INVALID_HANDLE_VALUE && Missing(GetLastError())) {
    for (std::size_t at = 1; at < dest.size(); ++at) {
      if (dest[at] == L'\\' || dest[at] == L'/') (void)CreateDirectoryW(dest.substr(0, at).c_str(), nullptr);
    }
    (void)CreateDirectoryW(dest.c_str(), nullptr);
    directory = OpenDirectory(dest.c_str(), true);
    fresh = directory != INVALID_HANDLE_VALUE;
  }
  if (directory == INVALID_HANDLE_VALUE || Check(directory, true, handle) != OutputStatus::kOk) {
    return OutputStatus::kNoDestination;
  }
  const DWORD needed = GetFullPathNameW(dest.c_str(), 0, nullptr, nullptr);
  std::wstring full(needed, L'\0');
  const DWORD length = needed == 0 ? 0 : GetFullPathNameW(dest.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) {
    CloseHandle(Win(handle));
    return OutputStatus::kNoDestination;
  }
  full.resize(length);
  auto made = RootPtr(new Root);
  if (full.rfind(L"\\\\?\\", 0) == 0) {
    made->base = full;
  } else if (full.rfind(L"\\\\", 0) == 0) {
    made->base = L"\\\\?\\UNC\\" + full.substr(2);
  } else {
    made->base = L"\\\\?\\" + full;
  }
  if (made->base.back() != L'\\') made->base.push_back(L'\\');
  root = std::move(made);
  return OutputStatus::kOk;
}

OutputStatus OpenLevel(Root& root, Handle, std::string_view parent_key, const std::string& name, bool create_first,
                       Handle& handle, bool& fresh) {
  const wchar_t* path = FullPath(root, parent_key, name);
  fresh = false;
  if (create_first && !MakeLevel(path, fresh)) return OutputStatus::kCannotCreate;
  // Not followed: a reparse point here is opened itself, and refused.
  HANDLE directory = OpenDirectory(path, false);
  if (directory == INVALID_HANDLE_VALUE && !create_first && Missing(GetLastError())) {
    if (!MakeLevel(path, fresh)) return OutputStatus::kCannotCreate;
    directory = OpenDirectory(path, false);
  }
  if (directory == INVALID_HANDLE_VALUE) return OutputStatus::kCannotCreate;
  return Check(directory, false, handle);
}

bool OpenExistingBeneath(Root&, Handle, std::string_view, const std::string&, Handle&) {
  // Every level is checked on its own.
  return false;
}

OutputStatus CreateFileIn(Root& root, Handle, std::string_view directory_key, const std::string& name, bool replace,
                          File& file) {
  const wchar_t* path = FullPath(root, directory_key, name);
  // CREATE_NEW fails on anything that is there, a reparse point included
  // (it is not followed); then the old name is deleted and the creation
  // tried again. A file that is open elsewhere without delete sharing (the
  // pakfile being read, for one) cannot be deleted and stays as it is.
  for (int attempt = 0; attempt < 4; ++attempt) {
    HANDLE created = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (created != INVALID_HANDLE_VALUE) {
      file = File(reinterpret_cast<std::intptr_t>(created));
      return OutputStatus::kOk;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return OutputStatus::kCannotCreate;
    if (!replace) return OutputStatus::kExists;
    if (!DeleteFileW(path) && !Missing(GetLastError())) return OutputStatus::kCannotCreate;
  }
  return OutputStatus::kCannotCreate;
}

bool RemoveFileIn(Root& root, Handle, std::string_view directory_key, const std::string& name) {
  return DeleteFileW(FullPath(root, directory_key, name)) != FALSE;
}

bool RemoveLevelIn(Root& root, Handle, std::string_view directory_key, const std::string& name) {
  return RemoveDirectoryW(FullPath(root, directory_key, name)) != FALSE;
}

void CloseDirectory(Handle handle) {
  if (handle != kNoHandle) CloseHandle(Win(handle));
}

std::size_t DirectoryCapacity() {
  // Handles cost only memory (under Wine, one descriptor of its server each).
  return 2048;
}

std::size_t CreatorThreads() {
  // Every creation builds its full path in the root's one buffer (and names
  // that differ in case are one file, so their order would matter).
  return 1;
}

}  // namespace output_tree
}  // namespace kestrum
