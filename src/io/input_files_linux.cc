// Linux service for InputFiles: io_uring rings whose registered file tables
// hold the checked files as direct descriptors, which take no place among
// the process's descriptors, so every file is opened once, however long the
// list.
//
// The check of a group measures each file with one fstatat relative to its
// directory (kept open, one lookup per file instead of one per level), and
// opens the regular ones with one submission for the whole group. The copy
// reads each file's pieces, and closes it after the last, with one
// submission per group of pieces. Its last piece asks for one byte more
// than the file has: a file that grew is seen there, one that shrank by the
// short read.
//
// That a held file still has its name is not asked file by file: every
// directory of listed files is watched (inotify) from before its first file
// is checked, and a file is checked again by its path at the copy only when
// something was created, removed or renamed in its directory since (or the
// directory could not be watched: no permission, no watch left, a file
// system whose changes may come from elsewhere), or when it was listed by a
// symbolic link, whose file lies in a directory not watched.
//
// Each ring serves the check groups g with g % rings == its number, so the
// two threads that check consecutive groups never wait for each other's
// ring. A ring takes one thread at a time; a thread keeps its own open
// directories, closing one only for another, never one its group uses.
#include <fcntl.h>
#include <liburing.h>
#include <limits.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "io/file.h"
#include "io/input_files_service.h"
#include "io/uring_support.h"

namespace kestrum {
namespace {

// The read-ahead hint pays off only for files that take many reads.
constexpr std::uint64_t kHintWorthwhile = 1 << 20;
// More rings than this and the files beyond their tables are opened again
// for the copy, as without rings.
constexpr std::size_t kMaxRings = 16;
// Requests of one submission, at most: a group's opens and closes, or a
// copy chunk's hints, reads and closes.
constexpr unsigned kRingEntries = 256;
// Each thread keeps open at most this many directories, and never more
// than an eighth of the descriptors the process may have.
constexpr std::size_t kMostDirectories = 4096;
// Below this many descriptors, plain calls serve better.
constexpr std::size_t kFewestDescriptors = 1024;

constexpr int kOpenFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY;

// File systems whose every change passes through this kernel, so that a
// directory's watch sees them all.
bool ChangesAreAllSeen(int dirfd) {
  struct statfs fs;
  if (::fstatfs(dirfd, &fs) != 0) return false;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0xEF53:      // ext2, ext3, ext4
    case 0x58465342:  // XFS
    case 0x9123683E:  // Btrfs
    case 0x01021994:  // tmpfs
    case 0xF2F52010:  // F2FS
      return true;
    default:
      return false;
  }
}

// The directories of listed files, watched for entries that come, go or
// change their names. Any such event makes its directory's files checked
// again by their paths; a lost event (the queue overflowed) makes every
// file checked so.
class Watcher {
 public:
  Watcher() : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}
  ~Watcher() {
    if (fd_ >= 0) ::close(fd_);
  }
  Watcher(const Watcher&) = delete;
  Watcher& operator=(const Watcher&) = delete;

  // The watch of the open directory, or -1 when it cannot be watched.
  int Watch(int dirfd) {
    if (fd_ < 0 || !ChangesAreAllSeen(dirfd)) return -1;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", dirfd);
    constexpr std::uint32_t kMask =
        IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
    const int watch = ::inotify_add_watch(fd_, path, kMask);
    return watch >= 0 ? watch : -1;
  }

  // Takes in the events that have arrived.
  void Drain() {
    if (fd_ < 0) return;
    const std::lock_guard lock(mutex_);
    alignas(inotify_event) char buffer[8192];
    for (;;) {
      const ssize_t got = ::read(fd_, buffer, sizeof buffer);
      if (got <= 0) {
        if (got < 0 && errno == EINTR) continue;
        return;
      }
      for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if ((event->mask & IN_Q_OVERFLOW) != 0) everything_changed_ = true;
        if (event->wd >= 0) changed_.insert(event->wd);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
  }

  // Whether nothing has come, gone or been renamed in the directory since
  // it was watched.
  bool Unchanged(int watch) {
    if (watch < 0) return false;
    const std::lock_guard lock(mutex_);
    return !everything_changed_ && changed_.count(watch) == 0;
  }

 private:
  const int fd_;
  std::mutex mutex_;
  std::unordered_set<int> changed_;  // watches with events
  bool everything_changed_ = false;
};

// One thread's open directories, by their path as listed, the one used
// longest ago closed first when more are wanted than it keeps.
class Directories {
 public:
  struct Dir {
    int fd = -1;
    int watch = -1;
  };

  Directories(std::thread::id owner, std::size_t capacity) : owner_(owner), capacity_(capacity) {}
  ~Directories() {
    for (const Entry& e : order_) ::close(e.dir.fd);
  }
  Directories(const Directories&) = delete;
  Directories& operator=(const Directories&) = delete;

  std::thread::id owner() const { return owner_; }

  // The open directory, opened (and watched) now if need be; null when it
  // cannot be opened.
  const Dir* Find(std::string_view path, Watcher& watcher) {
    // Listed files come mostly in runs of one directory: the one used last
    // (first in the order) is compared before the path is hashed.
    if (!order_.empty() && order_.front().path == path) return &order_.front().dir;
    if (const auto it = index_.find(path); it != index_.end()) {
      order_.splice(order_.begin(), order_, it->second);
      return &it->second->dir;
    }
    if (order_.size() >= capacity_) {
      // Never one the current group uses: a group has fewer files than
      // the capacity.
      ::close(order_.back().dir.fd);
      index_.erase(order_.back().path);
      order_.pop_back();
    }
    key_.assign(path);
    const int fd = ::open(key_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    // Watched before any of its files is checked: whatever happens to them
    // from now on shows.
    order_.push_front({key_, {fd, watcher.Watch(fd)}});
    index_.emplace(order_.front().path, order_.begin());
    return &order_.front().dir;
  }

 private:
  struct Entry {
    std::string path;
    Dir dir;
  };
  const std::thread::id owner_;
  const std::size_t capacity_;
  std::list<Entry> order_;                                                  // most recently used first
  std::unordered_map<std::string_view, std::list<Entry>::iterator> index_;  // views of the entries' paths
  std::string key_;
};

// What the service knows of one file.
struct Held {
  enum State : std::uint8_t {
    kNone,     // not checked, not found, or let go
    kInSlot,   // open in its slot of its ring
    kAgain,    // checked, but to be opened again by its path for the copy
    kPlain,    // open as a plain descriptor (opened again for the copy)
    kChanged,  // found changed: no piece of it is read
  };
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  int watch = -1;  // its directory's
  int fd = -1;     // kPlain
  State state = kNone;
};

struct Ring {
  std::mutex mutex;
  io_uring ring{};
  bool live = false;
  // Requests were left unsubmitted: they stay queued, so the ring takes
  // nothing more (its files are opened again by their paths).
  bool broken = false;
  Ring() = default;
  Ring(const Ring&) = delete;
  Ring& operator=(const Ring&) = delete;
  ~Ring() {
    if (live) io_uring_queue_exit(&ring);
  }
};

// One request of a submission and what came of it.
struct Request {
  std::size_t at = 0;  // the piece, or the file's position in its group
  bool close = false;  // the close of a scratch slot (checks)
  int result = 0;
  bool ran = false;  // carried out (neither cancelled nor left unsubmitted)
};

class QueuedInputs {
 public:
  QueuedInputs(std::size_t count, std::size_t group) : group_(group), held_(count) {}
  ~QueuedInputs() {
    for (const Held& h : held_) {
      if (h.fd >= 0) ::close(h.fd);
    }
  }

  // Sets up the rings; false when the system will not give them.
  bool Start(std::size_t count);

  QueuedInputs(const QueuedInputs&) = delete;
  QueuedInputs& operator=(const QueuedInputs&) = delete;

  void Check(std::size_t first, std::span<const std::string> paths, std::span<InputCheck> out);
  InputOutcome Read(std::span<const InputPiece> pieces);
  void Forget(std::uint32_t file);

 private:
  struct Slot {
    std::size_t ring = 0;
    unsigned index = 0;
    bool held = false;  // within the part of the table that holds files
  };
  Slot SlotOf(std::size_t file) const {
    const std::size_t g = file / group_;
    const auto index = static_cast<unsigned>((g / rings_.size()) * group_ + file % group_);
    return {g % rings_.size(), index, index < held_slots_};
  }
  // The slots past the held ones: where a file that cannot be held is
  // opened for its check, and closed again.
  unsigned ScratchSlot(std::size_t file) const { return held_slots_ + static_cast<unsigned>(file % group_); }

  Directories& ThisThreadsDirectories();
  void CheckPlainly(std::size_t file, const std::string& path, InputCheck& out);
  bool Verify(const InputPiece& piece, Held& held);
  bool ReadPlainly(const InputPiece& piece, Held& held, bool keep, InputStatus& status);
  InputOutcome ReadSome(std::span<const InputPiece> pieces);

  // Submits the requests prepared by `prepare` (one call per request, in
  // order) on the ring and waits for all of them.
  void Submit(Ring& ring, std::span<Request> requests, const std::function<void(io_uring_sqe*, std::size_t)>& prepare);

  const std::size_t group_;
  std::vector<std::unique_ptr<Ring>> rings_;
  unsigned held_slots_ = 0;  // per ring
  std::vector<Held> held_;
  Watcher watcher_;
  std::size_t directories_kept_ = 0;  // by each thread
  std::mutex directories_mutex_;
  std::vector<std::unique_ptr<Directories>> directories_;  // one per thread that checks
};

bool QueuedInputs::Start(std::size_t count) {
  if (!UringSupports({IORING_OP_OPENAT, IORING_OP_READ, IORING_OP_READV, IORING_OP_CLOSE, IORING_OP_FADVISE})) {
    return false;
  }
  // A registered table may have as many slots as the process may have
  // descriptors; one group's worth of each table is scratch.
  const std::size_t limit = std::min<std::size_t>(RaiseOpenFileLimit(), 1 << 20);
  if (limit < kFewestDescriptors || group_ == 0) return false;
  directories_kept_ = std::clamp(limit / 8, 2 * group_, kMostDirectories);
  // The directories of two threads: the table of descriptors grows now,
  // not while the threads run (see ReserveOpenFiles).
  ReserveOpenFiles(std::min(limit, 2 * directories_kept_ + 64));
  const std::size_t groups_per_ring = limit / group_ - 1;
  const std::size_t groups = std::max<std::size_t>(1, (count + group_ - 1) / group_);
  // Two rings at least, one for each thread, unless a single group leaves
  // nothing for the second.
  const std::size_t rings = std::clamp<std::size_t>((groups + groups_per_ring - 1) / groups_per_ring,
                                                    std::min<std::size_t>(groups, 2), kMaxRings);
  const std::size_t needed = (groups + rings - 1) / rings;  // groups held per ring
  held_slots_ = static_cast<unsigned>(std::min(needed, groups_per_ring) * group_);
  for (std::size_t r = 0; r < rings; ++r) {
    auto ring = std::make_unique<Ring>();
    if (io_uring_queue_init(kRingEntries, &ring->ring, 0) != 0) return false;
    ring->live = true;
    if (io_uring_register_files_sparse(&ring->ring, held_slots_ + static_cast<unsigned>(group_)) != 0) return false;
    rings_.push_back(std::move(ring));
  }
  return true;
}

Directories& QueuedInputs::ThisThreadsDirectories() {
  const std::thread::id me = std::this_thread::get_id();
  const std::lock_guard lock(directories_mutex_);
  for (const auto& d : directories_) {
    if (d->owner() == me) return *d;
  }
  directories_.push_back(std::make_unique<Directories>(me, directories_kept_));
  return *directories_.back();
}

// A path that the directories cannot take (too long for one call, or
// naming a directory itself): checked as without rings, and opened again
// for the copy.
void QueuedInputs::CheckPlainly(std::size_t file, const std::string& path, InputCheck& out) {
  const File opened = OpenRegularForReading(path, AccessHint::kNormal, &out.length);
  out.exists = opened.valid();
  if (out.exists) held_[file].state = Held::kAgain;
}

void QueuedInputs::Check(std::size_t first, std::span<const std::string> paths, std::span<InputCheck> out) {
  Directories& directories = ThisThreadsDirectories();
  // The files to open: their positions in the group, directories and names.
  struct ToOpen {
    std::size_t at;
    int dirfd;
    const char* name;
  };
  std::vector<ToOpen> opens;
  opens.reserve(paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    out[i] = InputCheck{};
    const std::string& path = paths[i];
    if (path.empty()) continue;
    const std::size_t file = first + i;
    const std::size_t slash = path.rfind('/');
    const char* name = path.c_str() + (slash == std::string::npos ? 0 : slash + 1);
    if (path.size() >= PATH_MAX || *name == '\0') {
      CheckPlainly(file, path, out[i]);
      continue;
    }
    const std::string_view directory = slash == std::string::npos ? std::string_view(".")
                                       : slash == 0               ? std::string_view("/")
                                                                  : std::string_view(path).substr(0, slash);
    const Directories::Dir* dir = directories.Find(directory, watcher_);
    if (dir == nullptr) {
      CheckPlainly(file, path, out[i]);
      continue;
    }
    // Measured first, so that only regular files are opened at all. A
    // symbolic link is followed; its file may lose its name in a directory
    // that is not watched, so it is checked again by its path at the copy.
    struct stat st;
    if (::fstatat(dir->fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    const bool linked = S_ISLNK(st.st_mode);
    if (linked && ::fstatat(dir->fd, name, &st, 0) != 0) continue;
    if (!S_ISREG(st.st_mode)) continue;
    out[i].length = static_cast<std::uint64_t>(st.st_size);
    Held& h = held_[file];
    h.device = st.st_dev;
    h.inode = st.st_ino;
    h.watch = linked ? -1 : dir->watch;
    opens.push_back({i, dir->fd, name});
  }
  if (opens.empty()) return;
  // Files that cannot be held are opened into scratch slots and closed
  // again: the check must know that they open.
  std::vector<Request> requests;
  requests.reserve(2 * opens.size());
  std::vector<const ToOpen*> opened_by(2 * opens.size());
  for (const ToOpen& o : opens) {
    opened_by[requests.size()] = &o;
    requests.push_back({.at = o.at});
    if (!SlotOf(first + o.at).held) requests.push_back({.at = o.at, .close = true});
  }
  Ring& ring = *rings_[SlotOf(first).ring];
  Submit(ring, requests, [&](io_uring_sqe* sqe, std::size_t r) {
    const std::size_t file = first + requests[r].at;
    const Slot slot = SlotOf(file);
    if (requests[r].close) {
      io_uring_prep_close_direct(sqe, ScratchSlot(file));
      return;
    }
    const ToOpen& o = *opened_by[r];
    io_uring_prep_openat_direct(sqe, o.dirfd, o.name, kOpenFlags, 0, slot.held ? slot.index : ScratchSlot(file));
    // The close of a scratch slot follows its open, whatever the open did.
    if (!slot.held) sqe->flags |= IOSQE_IO_HARDLINK;
  });
  for (const Request& request : requests) {
    if (request.close) continue;
    const std::size_t file = first + request.at;
    if (!request.ran) {
      // Never submitted (the ring broke down): checked without it.
      CheckPlainly(file, paths[request.at], out[request.at]);
      continue;
    }
    const bool opened = request.result >= 0;
    out[request.at].exists = opened;
    held_[file].state = !opened ? Held::kNone : SlotOf(file).held ? Held::kInSlot : Held::kAgain;
  }
}

// A held file whose directory changed: is it still the file checked, of
// the same length?
bool QueuedInputs::Verify(const InputPiece& piece, Held& held) {
  const std::string path(piece.path);
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_dev == held.device && st.st_ino == held.inode &&
         static_cast<std::uint64_t>(st.st_size) == piece.length;
}

// Reads a piece with plain calls, opening the file again by its path when
// it has no plain descriptor yet; a file checked by this service must be
// the very file checked. The plain descriptor stays open for the file's
// later pieces when `keep`.
bool QueuedInputs::ReadPlainly(const InputPiece& piece, Held& held, bool keep, InputStatus& status) {
  if (held.fd < 0) {
    const std::string path(piece.path);
    std::uint64_t length = 0;
    File file = OpenRegularForReading(path, AccessHint::kNormal, &length);
    struct stat st;
    const bool same = held.state == Held::kAgain || (::fstat(static_cast<int>(file.handle()), &st) == 0 &&
                                                     st.st_dev == held.device && st.st_ino == held.inode);
    if (!file || length != piece.length || !same) {
      status = InputStatus::kChanged;
      return false;
    }
    held.fd = static_cast<int>(file.Release());
  }
  File file(held.fd);
  const std::optional<std::size_t> got = ReadFullyAt(file, piece.offset, piece.into);
  if (keep) {
    (void)file.Release();
  } else {
    file.Close();
    held.fd = -1;
  }
  if (!got || *got != piece.into.size()) {
    status = InputStatus::kFailed;
    return false;
  }
  return true;
}

InputOutcome QueuedInputs::Read(std::span<const InputPiece> pieces) {
  watcher_.Drain();
  // A submission takes the requests of this many pieces (hint, read, close).
  constexpr std::size_t kPiecesAtOnce = kRingEntries / 3;
  for (std::size_t begin = 0; begin < pieces.size(); begin += kPiecesAtOnce) {
    const std::size_t end = std::min(pieces.size(), begin + kPiecesAtOnce);
    const InputOutcome outcome = ReadSome(pieces.subspan(begin, end - begin));
    if (outcome.status != InputStatus::kOk) return {outcome.status, begin + outcome.failed};
  }
  return {InputStatus::kOk, pieces.size()};
}

InputOutcome QueuedInputs::ReadSome(std::span<const InputPiece> pieces) {
  // Pieces [0, stop) go to the rings; the one at `stop` failed before any
  // request was made (or it is the end).
  std::size_t stop = pieces.size();
  InputStatus stopped = InputStatus::kOk;
  for (std::size_t p = 0; p < pieces.size() && stop == pieces.size(); ++p) {
    const InputPiece& piece = pieces[p];
    Held& h = held_[piece.file];
    if (piece.first && h.state == Held::kInSlot && !watcher_.Unchanged(h.watch) && !Verify(piece, h)) {
      h.state = Held::kChanged;
    }
    if (piece.first && h.state == Held::kAgain) {
      // Not held: opened again now, as a plain descriptor.
      const InputPiece open_only{piece.file, piece.length, piece.path, 0, {}, true, false};
      InputStatus status = InputStatus::kOk;
      h.state = ReadPlainly(open_only, h, true, status) ? Held::kPlain : Held::kChanged;
    }
    if (h.state == Held::kChanged || (h.state != Held::kInSlot && h.state != Held::kPlain)) {
      stop = p;
      stopped = InputStatus::kChanged;
    }
  }
  // The requests, by ring: a hint before a large file's first read, the
  // reads (a file's last one into one spare byte more), the closes.
  struct Planned {
    std::size_t piece;
    enum Kind : std::uint8_t { kHint, kRead, kClose } kind;
  };
  std::vector<std::uint8_t> spare(stop);
  std::vector<iovec> vectors(2 * stop);
  std::vector<std::vector<Planned>> by_ring(rings_.size());
  for (std::size_t p = 0; p < stop; ++p) {
    const InputPiece& piece = pieces[p];
    std::vector<Planned>& planned = by_ring[SlotOf(piece.file).ring];
    if (piece.first && piece.length >= kHintWorthwhile) planned.push_back({p, Planned::kHint});
    if (!piece.into.empty() || piece.last) planned.push_back({p, Planned::kRead});
    if (piece.last) planned.push_back({p, Planned::kClose});
  }
  std::vector<int> results(stop, 0);  // bytes read for each piece, or minus the error
  std::vector<Request> requests;
  for (std::size_t r = 0; r < rings_.size(); ++r) {
    const std::vector<Planned>& planned = by_ring[r];
    if (planned.empty()) continue;
    requests.assign(planned.size(), Request{});
    Submit(*rings_[r], requests, [&](io_uring_sqe* sqe, std::size_t i) {
      const Planned& what = planned[i];
      const InputPiece& piece = pieces[what.piece];
      const Held& h = held_[piece.file];
      const bool plain = h.state == Held::kPlain;
      const int target = plain ? h.fd : static_cast<int>(SlotOf(piece.file).index);
      if (what.kind == Planned::kClose) {
        if (plain) {
          io_uring_prep_close(sqe, target);
        } else {
          io_uring_prep_close_direct(sqe, static_cast<unsigned>(target));
        }
        return;
      }
      if (what.kind == Planned::kHint) {
        io_uring_prep_fadvise(sqe, target, 0, 0, POSIX_FADV_SEQUENTIAL);
      } else {
        iovec* v = &vectors[2 * what.piece];
        v[0] = {piece.into.data(), piece.into.size()};
        v[1] = {&spare[what.piece], 1};
        io_uring_prep_readv(sqe, target, v, piece.last ? 2 : 1, piece.offset);
      }
      if (!plain) sqe->flags |= IOSQE_FIXED_FILE;
      // What follows a hint or a read (the read, the close) is done whatever
      // they did.
      if (what.kind == Planned::kHint || piece.last) sqe->flags |= IOSQE_IO_HARDLINK;
    });
    for (std::size_t i = 0; i < planned.size(); ++i) {
      const Planned& what = planned[i];
      Held& h = held_[pieces[what.piece].file];
      if (what.kind == Planned::kRead) results[what.piece] = requests[i].ran ? requests[i].result : -ECANCELED;
      if (what.kind == Planned::kClose && requests[i].ran) {
        if (h.state == Held::kPlain) h.fd = -1;
        h.state = Held::kNone;
      }
    }
  }
  // The outcome, in order.
  for (std::size_t p = 0; p < stop; ++p) {
    const InputPiece& piece = pieces[p];
    const std::size_t want = piece.into.size();
    const int got = results[p];
    if (got >= 0 && static_cast<std::size_t>(got) == want) continue;
    Held& h = held_[piece.file];
    if (got >= 0) {
      // Shorter than checked, or longer (the spare byte came too).
      h.state = Held::kChanged;
      return {InputStatus::kChanged, p};
    }
    if (got != -EAGAIN && got != -EINTR && got != -ECANCELED) return {InputStatus::kFailed, p};
    // Cut short by something other than the file (the ring would not wait
    // for the disk, a signal, the ring broke down): the piece once more
    // with plain calls, from the file opened again.
    InputStatus status = InputStatus::kOk;
    const bool keep = !piece.last && h.state != Held::kInSlot;
    if (!ReadPlainly(piece, h, keep, status)) return {status, p};
  }
  return {stopped, stop};
}

void QueuedInputs::Forget(std::uint32_t file) {
  Held& h = held_[file];
  if (h.state == Held::kInSlot) {
    const Slot slot = SlotOf(file);
    Request close;
    Submit(*rings_[slot.ring], std::span(&close, 1),
           [&](io_uring_sqe* sqe, std::size_t) { io_uring_prep_close_direct(sqe, slot.index); });
  }
  if (h.fd >= 0) ::close(h.fd);
  h.fd = -1;
  if (h.state != Held::kNone) h.state = Held::kAgain;
}

void QueuedInputs::Submit(Ring& ring, std::span<Request> requests,
                          const std::function<void(io_uring_sqe*, std::size_t)>& prepare) {
  const std::lock_guard lock(ring.mutex);
  if (ring.broken) return;
  for (std::size_t i = 0; i < requests.size(); ++i) {
    io_uring_sqe* sqe = io_uring_get_sqe(&ring.ring);
    if (sqe == nullptr) {
      ring.broken = true;
      return;
    }
    prepare(sqe, i);
    io_uring_sqe_set_data64(sqe, i);
  }
  int submitted = 0;
  for (int tries = 0; tries < 1000; ++tries) {
    submitted = io_uring_submit_and_wait(&ring.ring, static_cast<unsigned>(requests.size()));
    if (submitted != -EINTR && submitted != -EAGAIN && submitted != -EBUSY) break;
  }
  if (submitted != static_cast<int>(requests.size())) ring.broken = true;
  int failures = 0;
  for (int seen = 0; seen < submitted;) {
    io_uring_cqe* cqe = nullptr;
    const int got = io_uring_wait_cqe(&ring.ring, &cqe);
    if (got != 0) {
      // Interrupted, as a rule. A ring that keeps failing to deliver is
      // given up; what did not come back is done with plain calls.
      if (got == -EINTR || ++failures < 1000) continue;
      ring.broken = true;
      return;
    }
    Request& request = requests[io_uring_cqe_get_data64(cqe)];
    request.result = cqe->res;
    request.ran = cqe->res != -ECANCELED;
    io_uring_cqe_seen(&ring.ring, cqe);
    ++seen;
  }
}

}  // namespace

namespace input_files {

struct Queued {
  Queued(std::size_t count, std::size_t group) : inputs(count, group) {}
  QueuedInputs inputs;
};

void QueuedDeleter::operator()(Queued* queued) const { delete queued; }

Queued* MakeQueued(std::size_t count, std::size_t group) {
  auto queued = std::make_unique<Queued>(count, group);
  if (!queued->inputs.Start(count)) return nullptr;
  return queued.release();
}

void Check(Queued& queued, std::size_t first, std::span<const std::string> paths, std::span<InputCheck> out) {
  queued.inputs.Check(first, paths, out);
}

InputOutcome Read(Queued& queued, std::span<const InputPiece> pieces) { return queued.inputs.Read(pieces); }

void Forget(Queued& queued, std::uint32_t file) { queued.inputs.Forget(file); }

}  // namespace input_files

}  // namespace kestrum
