// The tree that extraction writes into: a destination directory, held open,
// and the files created below it.
//
// Nothing below the destination is ever followed as a link: a directory
// level that is a symbolic link (on Windows, any reparse point) is refused,
// and a file is always created anew, so whatever stood at its path before (a
// file, a link, a hard link, a FIFO, a device) is replaced and never opened
// for writing. The destination itself, as given, may be a link.
//
// Each directory level is opened once and kept open (a bounded number of
// them), so that creating a file costs one call relative to its directory,
// however deep it lies and in whatever order the directories come.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "io/file.h"

namespace kestrum {

enum class OutputStatus : std::uint8_t {
  kOk,
  kLinkInPath,     // a directory level below the destination is a link
  kNotADirectory,  // a directory level is something else that is no directory
  kCannotCreate,   // a level or the file could not be made (permissions, a full disk,
                   // a name too long, a directory in the way, a file in use)
  kNoDestination,  // the destination could not be opened or created
  kExists,         // CreateNew only: something stands at the path already
};

// Where one file goes: a directory below (or at) the destination, open and
// owned by the tree, and the file's name in it. Valid until the next Place.
struct OutputPlace {
  std::intptr_t directory = -1;  // the directory's descriptor (a HANDLE on Windows)
  std::uint32_t slot = 0;        // the tree's own index of that directory
  std::string_view name;         // the last component, a view into the path given to Place
};

// The longest relative path that Place takes: the system's limit for a path
// (PATH_MAX on Linux, 32767 characters on Windows). A longer entry path could
// never be created, so extraction refuses it before reading its data.
std::size_t MaxOutputPathLength();

// Equal for names that a case-insensitive file system may take for one: names
// equal but for ASCII case (and, rarely, others). Any name with a byte above
// 0x7F hashes to 0, since folding such names is the file system's own.
std::uint32_t FoldedNameHash(std::string_view name);

// Grows this process's descriptor table to hold every directory a tree keeps
// open. Best called while the process has one thread: once it has more, each
// growth of the table waits for all of them (an RCU grace period, often
// milliseconds).
void ReserveOutputTreeDescriptors();

class OutputTree {
 public:
  // Nothing is touched until the first Place: the destination (as given, with
  // this system's separators) is created then, with its missing parents, and
  // opened. A failure is retried by the next Place. At most
  // `open_directories` levels are kept open (0: as many as suit this system;
  // at least 2).
  explicit OutputTree(std::string destination, std::size_t open_directories = 0);
  ~OutputTree();
  OutputTree(const OutputTree&) = delete;
  OutputTree& operator=(const OutputTree&) = delete;

  // Finds the directory of `relative` (components split at this system's
  // separators; empty and "." components are skipped, ".." is refused),
  // creating its missing levels, and sets `place`. Even on a failure, every
  // level before the failing one exists afterwards.
  OutputStatus Place(std::string_view relative, OutputPlace& place);

  // Place without a system call: true, with `place` set, when the path's
  // directory is open already under the directory part as given; false
  // otherwise (Place then finds out). Never closes a directory, so the
  // places it gives stay valid until the next Place.
  bool PlaceKnown(std::string_view relative, OutputPlace& place);

  // Creates a new, empty file at the place for writing, replacing whatever
  // non-directory stands there; a directory there is kCannotCreate. Never
  // opens an existing file and never blocks.
  OutputStatus Create(const OutputPlace& place, File& file);

  // Removes the file at the place (one this run created, to undo it).
  bool Remove(const OutputPlace& place);

  // Whether Place(relative) may run ahead of files still to be created: it
  // would close no directory (so places given out stay valid), and no level
  // it may make has a name that may be one of `file_names` (FoldedNameHash
  // values of the names of those files).
  bool CanPlaceAhead(std::string_view relative, std::span<const std::uint32_t> file_names) const;

  // The directories Place made since the last ForgetMade, counted. Removing
  // those from the `mark`-th on (newest first, each only when empty) undoes
  // the making; only valid when no directory was closed meanwhile.
  std::size_t MadeCount() const;
  void RemoveMadeSince(std::size_t mark);
  void ForgetMade();

  // Creates a new, empty file at the place only when nothing stands there
  // (kExists otherwise; nothing is removed). Never blocks. Several threads
  // may call it at once, each with its own `name` buffer, while no other
  // call is made on the tree (so the places stay valid): at most
  // CreatorThreads() of them, 2 where the process may use more than one
  // processor and creating shares nothing, 1 elsewhere.
  OutputStatus CreateNew(const OutputPlace& place, std::string& name, File& file) const;
  static std::size_t CreatorThreads();

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace kestrum
