// Plain, synchronous file operations: the small platform layer that the pack
// writer, the list file reader and extraction use. One implementation file per
// platform; callers see only this interface.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace kestrum {

// An open file that closes itself. Move-only.
class File {
 public:
  File() = default;
  explicit File(std::intptr_t handle) : handle_(handle) {}
  File(File&& other) noexcept : handle_(other.Release()) {}
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() { Close(); }

  bool valid() const { return handle_ != kInvalid; }
  explicit operator bool() const { return valid(); }
  std::intptr_t handle() const { return handle_; }
  std::intptr_t Release();
  // Returns false when the platform reports an error on close.
  bool Close();

  static constexpr std::intptr_t kInvalid = -1;

 private:
  std::intptr_t handle_ = kInvalid;
};

enum class AccessHint { kNormal, kSequential };

// Opens an existing regular file for reading, shared for reading. Anything
// that is not a regular file (a directory, a device, a FIFO) fails, and
// opening never blocks on it. Sets *length to the file's length when given.
File OpenRegularForReading(const std::string& path, AccessHint hint = AccessHint::kNormal,
                           std::uint64_t* length = nullptr);

// The length of an open file that still has a name in the file system;
// nothing when it has been deleted (or replaced) since it was opened, or on
// an error.
std::optional<std::uint64_t> LinkedFileLength(const File& file);

// Tells the system that the file will be read front to back.
void AdviseSequential(const File& file);

// How many files the process may hold open at once, after raising its own
// limit as far as it is allowed to.
std::size_t RaiseOpenFileLimit();

// Makes room for `count` open files in the process's table of them now.
// Growing that table later, while several threads run, makes each growth
// wait for all of them (on Linux, a grace period each time), so a process
// that will hold many files opened by several threads calls this first.
// `count` is at most what RaiseOpenFileLimit returned.
void ReserveOpenFiles(std::size_t count);

// Opens any existing file for reading (a FIFO or a pipe included).
File OpenForReading(const std::string& path);

// Creates a new file for writing; fails if something exists at the path.
// The file gets the usual permissions for new files.
File CreateExclusive(const std::string& path, AccessHint hint = AccessHint::kNormal);

// Creates or truncates a file for writing.
File CreateOrTruncate(const std::string& path);

// The file's length in bytes, or nothing on error.
std::optional<std::uint64_t> FileLength(const File& file);

// Reads until the span is full or the end of the file. Returns the number of
// bytes read, or nothing on an error.
std::optional<std::size_t> ReadFully(const File& file, std::span<std::uint8_t> out);
// The same from `offset` on, leaving the file position alone as far as the
// platform allows; several threads may read one file this way at once.
std::optional<std::size_t> ReadFullyAt(const File& file, std::uint64_t offset, std::span<std::uint8_t> out);

// Writes the whole span at the current position (or at offset); false on an
// error or a short write that cannot make progress (a full disk).
bool WriteFully(const File& file, std::span<const std::uint8_t> data);
bool WriteFullyAt(const File& file, std::uint64_t offset, std::span<const std::uint8_t> data);

// Gives the file the length, reserving real disk space where the file system
// can (so that a full disk shows here and not in a later write), else by
// setting the end of the file. In memory (tmpfs) the free space is checked
// instead of allocated ahead. True when the file now has exactly that length.
bool ReserveLength(const File& file, std::uint64_t length);

// Creates a new, uniquely named hidden file in the directory of `target`, for
// output that is renamed over the target once complete. Sets temp_path.
// With `overlapped`, the file is opened for overlapped transfers where the
// platform tells the two kinds of handle apart (Windows).
File CreateTemporaryBeside(const std::string& target, std::string& temp_path, bool overlapped = false);

// Makes the file's data (and the length it needs to be read back) durable on
// disk before it returns; false when the system reports an error.
bool SyncData(const File& file);

// True when both open files are one and the same file of the file system
// (the same device and inode; on Windows the same volume and file ID),
// whichever names or links they were opened by. False when either cannot
// be asked.
bool IsSameFile(const File& a, const File& b);

// Where output meant for `path` belongs: `path` itself, or, when it is a
// symbolic link, the end of its chain of links (each link's text read
// relative to the folder the link lies in), which need not exist yet.
// Nothing for a loop or a chain of more than kMaxLinkHops links.
inline constexpr int kMaxLinkHops = 40;
std::optional<std::string> FinalLinkTarget(const std::string& path);

bool RemoveFile(const std::string& path);
// Replaces `to` with `from` in one step.
bool RenameReplacing(const std::string& from, const std::string& to);
// Makes the entries of the folder that holds `path` durable, so that a
// rename into it survives a power loss; false when the system reports an
// error. (Windows journals names itself: nothing to do there.)
bool SyncFolderOf(const std::string& path);
bool IsDirectory(const std::string& path);
// Creates one directory level; false if it could not be created (including
// when it already exists).
bool CreateDirectoryLevel(const std::string& path);

}  // namespace kestrum
