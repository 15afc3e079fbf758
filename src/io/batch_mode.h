// Batches of file operations go through the system's queued service where it
// has one (input_files.h: io_uring on Linux), or are shared between threads
// (create_group.h), and through plain calls one after the other elsewhere.
// Both give the same results; a test can force the plain calls to run both
// ways on one machine.
#pragma once

namespace kestrum {

// A test-only switch: batches made after it is set use plain calls.
void ForcePlainBatchesForTesting(bool force);
bool PlainBatchesForced();

}  // namespace kestrum
