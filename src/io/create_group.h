// Small files created in a group: each made new in its open directory of an
// OutputTree, given its bytes and closed, the work shared by the calling
// thread and one helper where OutputTree::CreatorThreads() allows two (the
// kernel's file creation, most of the cost of many small files, then runs
// on two processors).
//
// The files are shared out in buckets by name, each bucket done by one
// thread in the order added, and the threads take buckets as they become
// free. So the group is finished in any interleaving, and the caller decides
// what it means, in order, from the outcomes (see extraction_writer.h). Two
// files whose names may be one file on a case-insensitive file system (names
// equal but for ASCII case, or any two names with a byte above 0x7F) share a
// bucket: the second then finds the first there (kExists) and is left to the
// caller, who replaces it in order.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "io/output_tree.h"

namespace kestrum {

class CreateGroup {
 public:
  static constexpr std::size_t kBuckets = 16;

  enum class Outcome : std::uint8_t {
    kDone,          // created, written whole and closed
    kExists,        // something stands at the path: nothing was done
    kCannotCreate,  // the file could not be made
    kWriteFailed,   // created, but its write or close failed; the file stays
    kNotRun,        // not tried: an earlier file of its bucket failed to write
  };

  // Groups of at most `files` files on `tree`, which must outlive the group.
  CreateGroup(const OutputTree& tree, std::size_t files);
  ~CreateGroup();
  CreateGroup(const CreateGroup&) = delete;
  CreateGroup& operator=(const CreateGroup&) = delete;

  // More than one thread shares the work (else there is no point in groups).
  bool shared() const { return threads_ > 1; }
  bool full() const { return items_.size() >= capacity_; }
  bool empty() const { return items_.empty(); }

  // Adds a file; the place and the bytes must stay valid until Run returns.
  void Add(const OutputPlace& place, std::span<const std::uint8_t> data);

  // Does every file added since the last Run; returns their outcomes in the
  // order added, valid until the next Run.
  std::span<const Outcome> Run();

 private:
  struct Item {
    OutputPlace place;
    std::span<const std::uint8_t> data;
    std::uint8_t bucket = 0;
  };
  void RunBuckets(std::string& name);
  void HelperLoop();

  const OutputTree& tree_;
  std::size_t capacity_;
  std::size_t threads_;
  std::vector<Item> items_;
  std::vector<Outcome> outcomes_;
  std::vector<std::uint32_t> order_;                        // item numbers, bucket by bucket
  std::array<std::uint32_t, kBuckets + 1> bucket_begin_{};  // each bucket's start in order_
  std::atomic<std::size_t> next_bucket_{0};
  std::string names_[2];  // each thread's buffer for a NUL-terminated name

  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t started_ = 0;   // groups handed to the helper
  std::uint64_t finished_ = 0;  // groups the helper is done with
  bool stopping_ = false;
  std::thread helper_;  // last: starts once everything above is in place
};

}  // namespace kestrum
