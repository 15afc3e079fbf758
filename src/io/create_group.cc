#include "io/create_group.h"

#include <system_error>

#include "io/batch_mode.h"

namespace kestrum {
namespace {

// A group smaller than this is done by the calling thread alone: waking the
// helper would cost more than it saves.
constexpr std::size_t kLeastShared = 16;
// RunShare's thread for every file of the group.
constexpr std::uint8_t kAll = 0xFF;

// The thread for a name of `threads` (1 or 2): names that a case-insensitive
// file system may take for one name land on the same thread.
std::uint8_t ThreadFor(std::string_view name, std::size_t threads) {
  if (threads < 2) return 0;
  std::uint32_t hash = 2166136261u;
  for (const char c : name) {
    auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80) return 0;  // case folding beyond ASCII is the file system's own
    if (byte >= 'A' && byte <= 'Z') byte = static_cast<unsigned char>(byte - 'A' + 'a');
    hash = (hash ^ byte) * 16777619u;
  }
  // FNV alone leaves names that differ in their last byte mostly on one
  // side; a final mix spreads them.
  hash ^= hash >> 16;
  hash *= 0x85EBCA6Bu;
  hash ^= hash >> 13;
  return static_cast<std::uint8_t>(hash & 1);
}

}  // namespace

CreateGroup::CreateGroup(const OutputTree& tree, std::size_t files)
    : tree_(tree),
      capacity_(files),
      threads_(files > 1 && !PlainBatchesForced() ? OutputTree::CreatorThreads() : 1) {
  items_.reserve(capacity_);
  outcomes_.reserve(capacity_);
  // Room for any name a place can hold, so that no thread allocates.
  for (std::string& name : names_) name.reserve(MaxOutputPathLength() + 1);
  if (threads_ < 2) return;
  try {
    helper_ = std::thread([this] { HelperLoop(); });
  } catch (const std::system_error&) {
    threads_ = 1;  // no second thread to be had: the caller does it all
  }
}

CreateGroup::~CreateGroup() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (helper_.joinable()) helper_.join();
}

void CreateGroup::Add(const OutputPlace& place, std::span<const std::uint8_t> data) {
  if (items_.empty()) outcomes_.clear();
  items_.push_back({place, data, ThreadFor(place.name, threads_)});
}

std::span<const CreateGroup::Outcome> CreateGroup::Run() {
  outcomes_.assign(items_.size(), Outcome::kNotRun);
  if (threads_ > 1 && items_.size() >= kLeastShared) {
    {
      const std::lock_guard lock(mutex_);
      ++started_;
    }
    changed_.notify_all();
    RunShare(0);
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return finished_ == started_; });
  } else {
    RunShare(kAll);
  }
  items_.clear();
  return outcomes_;
}

// Does the thread's files in order; after a failed write it tries no more.
void CreateGroup::RunShare(std::uint8_t thread) {
  std::string& name = names_[thread == kAll ? 0 : thread];
  for (std::size_t k = 0; k < items_.size(); ++k) {
    const Item& item = items_[k];
    if (item.thread != thread && thread != kAll) continue;
    File file;
    const OutputStatus status = tree_.CreateNewShared(item.place, name, file);
    if (status != OutputStatus::kOk) {
      outcomes_[k] = status == OutputStatus::kExists ? Outcome::kExists : Outcome::kCannotCreate;
      continue;
    }
    // A close can be where a delayed write fails: a failed write all the same.
    const bool written = WriteFully(file, item.data);
    if (!file.Close() || !written) {
      outcomes_[k] = Outcome::kWriteFailed;
      return;
    }
    outcomes_[k] = Outcome::kDone;
  }
}

void CreateGroup::HelperLoop() {
  std::uint64_t done = 0;
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return stopping_ || started_ != done; });
    if (stopping_) return;
    lock.unlock();
    RunShare(1);
    lock.lock();
    finished_ = ++done;
    changed_.notify_all();
  }
}

}  // namespace kestrum
