// The hand-over between the two sides of an extraction.
//
// The reading side walks the directory and reads every file out of the
// pakfile into batches; the writing side takes the batches in order and does
// everything that can be seen from outside: the printed lines, the created
// directories and files, and their contents. So every visible effect happens
// in exactly the order of a one-thread run, while reading the pakfile (which
// changes nothing outside) overlaps with the writing.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrum {

enum class StepKind : std::uint8_t {
  kNote,        // only the lines to print
  kOpenFailed,  // create the directories; the entry could not be opened in the pakfile
  kCreate,      // create the directories and the file, then write the step's bytes
  kAppend,      // write the step's bytes to the file created last
};

// One thing the writing side does. Offsets index the batch's text, paths
// and data; a step's lines are printed before anything else it does.
struct ExtractStep {
  StepKind kind = StepKind::kNote;
  bool read_failed = false;  // after the bytes, the pakfile could not be read further
  bool ends_file = true;     // no step of the same file follows (in this batch or the next)
  std::uint32_t text_begin = 0, text_end = 0;
  std::uint32_t path_begin = 0, path_end = 0;
  std::uint32_t data_begin = 0, data_end = 0;
};

struct ExtractBatch {
  std::string text;   // printed lines
  std::string paths;  // output paths
  // Fixed capacity, data_used of it filled. Left uninitialised: only what
  // a run fills is ever touched.
  std::unique_ptr<std::uint8_t[]> data;
  std::size_t capacity = 0;
  std::uint32_t data_used = 0;
  std::vector<ExtractStep> steps;
  bool last = false;  // the reading side has finished

  explicit ExtractBatch(std::size_t bytes) : data(new std::uint8_t[bytes]), capacity(bytes) {}
  std::span<std::uint8_t> free_space() { return {data.get() + data_used, capacity - data_used}; }
  std::string_view TextOf(const ExtractStep& s) const;
  std::string_view PathOf(const ExtractStep& s) const;
  std::span<const std::uint8_t> DataOf(const ExtractStep& s) const;
  void Clear();
};

// A fixed set of batches passed back and forth. Both sides block only on
// each other; Stop() from the writing side releases a reading side that
// waits for an empty batch.
class BatchPipe {
 public:
  BatchPipe(std::size_t batches, std::size_t capacity);

  // Reading side: an empty batch, or nullptr once the writing side stopped.
  ExtractBatch* TakeEmpty();
  void Send(ExtractBatch* batch);

  // Writing side: the next filled batch, in the order sent.
  ExtractBatch* Receive();
  void GiveBack(ExtractBatch* batch);
  void Stop();

  // Without a second thread: from now on Send() hands each batch straight
  // to `consume` on the sending thread, and stops the pipe when it returns
  // false.
  void ConsumeOnSend(std::function<bool(const ExtractBatch&)> consume);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::unique_ptr<ExtractBatch>> storage_;
  std::deque<ExtractBatch*> empty_;
  std::deque<ExtractBatch*> filled_;
  bool stopped_ = false;
  std::function<bool(const ExtractBatch&)> consume_;
};

}  // namespace kestrum
