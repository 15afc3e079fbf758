// What the tests need of the operating system beyond the project's own
// platform layer: special files, pipes, locked-out files, small volumes and
// permission bits. One implementation file per platform; where a system has
// no such thing, the helper says so and the test skips that check.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "io/file.h"

namespace kestrum::testing {

// A path that names a device rather than a file ("/dev/null", "NUL").
std::string DevicePath();

// Creates a FIFO at the path; false where the system has none in its file
// system (Windows).
bool MakeFifo(const std::string& path);

// A handle to a directory, as the system gives one, for tests that make
// transfers on it fail.
File OpenDirectoryHandle(const std::string& path);

// A pipe whose read end takes overlapped transfers: a read stays pending
// until bytes are written to the other end.
bool MakePipe(File& read_end, File& write_end);

// Keeps other openers from reading the file for as long as the returned
// object lives (no read permission on POSIX, an unshared open on Windows).
// Null when this process cannot be kept out (root reads anything).
std::shared_ptr<void> LockOutReaders(const std::string& path);

// A small volume (about `kib` KiB) mounted at the existing empty directory
// `path`, unmounted when the returned object goes; null where the system or
// the process's privileges do not allow one.
std::shared_ptr<void> MountSmallVolume(const std::string& path, unsigned kib);

// Lets no file written by this process grow beyond `bytes` for as long as
// the returned object lives: a write past the limit comes short, the next
// fails (POSIX: RLIMIT_FSIZE, with SIGXFSZ ignored). Null where the system
// has no such limit.
std::shared_ptr<void> LimitFileSize(std::uint64_t bytes);

// Whether another opener can write, remove or replace a file while this
// process holds it open for reading (POSIX: yes; Windows: not without
// sharing, which the builder's opens do not grant).
bool OpenFilesCanBeChanged();

// Writes the file's data to disk and drops its pages from memory, so that
// the next read of it has to wait for the disk. True only when none of its
// pages is left in memory afterwards; false where the system cannot do it
// (a tmpfs keeps its pages, Windows offers no such call).
bool EvictFromPageCache(const std::string& path);

// A scratch stream for captured output, removed when it is closed. The C
// library's tmpfile() on Windows picks names in a sequence that parallel test
// processes share, so it fails now and then; this one never returns null (it
// throws instead, which fails the test).
std::FILE* ScratchStream();

// True when the process runs under Wine rather than on Windows itself: some
// file system work that is cheap on both real systems is very slow there.
bool RunningUnderWine();

// The permission bits of a file, and those that a newly created file gets
// in this process; nothing where files have no such bits.
std::optional<unsigned> PermissionBits(const std::string& path);
std::optional<unsigned> UsualNewFilePermissions();

}  // namespace kestrum::testing
