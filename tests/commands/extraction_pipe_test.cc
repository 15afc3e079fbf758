#include "commands/extraction_pipe.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace kestrum {
namespace {

// Sends batches numbered 0, 1, 2, ... (the number is the batch's text)
// until the pipe refuses an empty batch or `count` have gone; returns how
// many were sent.
int SendNumbered(BatchPipe& pipe, int count) {
  int sent = 0;
  for (; sent < count; ++sent) {
    ExtractBatch* batch = pipe.TakeEmpty();
    if (batch == nullptr) break;
    EXPECT_TRUE(batch->text.empty() && batch->steps.empty() && batch->data_used == 0) << "not cleared";
    batch->text = std::to_string(sent);
    batch->steps.push_back({});
    batch->data_used = 7;
    batch->last = sent + 1 == count;
    pipe.Send(batch);
  }
  return sent;
}

TEST(BatchPipe, FewBatchesCarryManyInOrderAcrossThreads) {
  BatchPipe pipe(3, 16);
  std::vector<std::string> received;
  std::thread writer([&] {
    for (;;) {
      ExtractBatch* batch = pipe.Receive();
      received.push_back(batch->text);
      const bool last = batch->last;
      pipe.GiveBack(batch);
      if (last) return;
    }
  });
  EXPECT_EQ(SendNumbered(pipe, 1000), 1000);
  writer.join();
  ASSERT_EQ(received.size(), 1000u);
  for (int i = 0; i < 1000; ++i) EXPECT_EQ(received[static_cast<std::size_t>(i)], std::to_string(i));
}

// A writer that stops (a failed write) must release a reader waiting for an
// empty batch, however far ahead it is.
TEST(BatchPipe, StoppingReleasesTheReadingSide) {
  BatchPipe pipe(2, 16);
  std::thread writer([&] {
    for (int i = 0; i < 5; ++i) pipe.GiveBack(pipe.Receive());
    pipe.Stop();
  });
  const int sent = SendNumbered(pipe, 1000000);
  writer.join();
  EXPECT_GE(sent, 5);
  EXPECT_LE(sent, 7);  // the five taken, plus at most the two batches in hand
  EXPECT_EQ(pipe.TakeEmpty(), nullptr);
}

TEST(BatchPipe, WithoutAThreadEachBatchIsConsumedWhenSent) {
  BatchPipe pipe(1, 16);
  std::vector<std::string> consumed;
  pipe.ConsumeOnSend([&](const ExtractBatch& batch) {
    consumed.push_back(batch.text);
    return consumed.size() < 4;  // the fourth "write" fails
  });
  EXPECT_EQ(SendNumbered(pipe, 10), 4);
  EXPECT_EQ(consumed, (std::vector<std::string>{"0", "1", "2", "3"}));
}

}  // namespace
}  // namespace kestrum
