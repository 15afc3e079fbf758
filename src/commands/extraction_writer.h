// The writing side of an extraction (see extraction_pipe.h): prints, creates
// directories and files, and writes their contents, batch by batch, in the
// order the reading side sent them.
#pragma once

#include <cstdio>

#include "commands/extraction_pipe.h"
#include "io/host_path.h"

namespace kestrum {

// Runs until the batch marked last, or until a write fails: then it prints
// the error, stops the pipe and returns 1. Otherwise returns 0.
int WriteExtractedFiles(BatchPipe& pipe, PathStyle style, std::FILE* out);

}  // namespace kestrum
