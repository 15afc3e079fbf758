#include "commands/extraction_pipe.h"

#include <utility>

namespace kestrum {

std::string_view ExtractBatch::TextOf(const ExtractStep& s) const {
  return std::string_view(text).substr(s.text_begin, s.text_end - s.text_begin);
}

std::string_view ExtractBatch::PathOf(const ExtractStep& s) const {
  return std::string_view(paths).substr(s.path_begin, s.path_end - s.path_begin);
}

std::span<const std::uint8_t> ExtractBatch::DataOf(const ExtractStep& s) const {
  return {data.get() + s.data_begin, s.data_end - s.data_begin};
}

void ExtractBatch::Clear() {
  text.clear();
  paths.clear();
  data_used = 0;
  steps.clear();
  last = false;
}

BatchPipe::BatchPipe(std::size_t batches, std::size_t capacity) {
  for (std::size_t i = 0; i < batches; ++i) {
    storage_.push_back(std::make_unique<ExtractBatch>(capacity));
    empty_.push_back(storage_.back().get());
  }
}

ExtractBatch* BatchPipe::TakeEmpty() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return stopped_ || !empty_.empty(); });
  if (stopped_) return nullptr;
  ExtractBatch* batch = empty_.front();
  empty_.pop_front();
  return batch;
}

void BatchPipe::Send(ExtractBatch* batch) {
  if (consume_) {
    const bool ok = consume_(*batch);
    GiveBack(batch);
    if (!ok) Stop();
    return;
  }
  {
    const std::lock_guard lock(mutex_);
    filled_.push_back(batch);
  }
  changed_.notify_all();
}

ExtractBatch* BatchPipe::Receive() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return !filled_.empty(); });
  ExtractBatch* batch = filled_.front();
  filled_.pop_front();
  return batch;
}

void BatchPipe::GiveBack(ExtractBatch* batch) {
  batch->Clear();
  {
    const std::lock_guard lock(mutex_);
    empty_.push_back(batch);
  }
  changed_.notify_all();
}

void BatchPipe::Stop() {
  {
    const std::lock_guard lock(mutex_);
    stopped_ = true;
  }
  changed_.notify_all();
}

void BatchPipe::ConsumeOnSend(std::function<bool(const ExtractBatch&)> consume) { consume_ = std::move(consume); }

}  // namespace kestrum
