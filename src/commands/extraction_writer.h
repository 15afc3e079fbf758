// The writing side of an extraction (see extraction_pipe.h): prints, creates
// directories and files, and writes their contents, batch by batch, in the
// order the reading side sent them.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "commands/extraction_pipe.h"
#include "io/file.h"
#include "io/host_path.h"

namespace kestrum {

struct DirectorySet;

class ExtractionWriter {
 public:
  ExtractionWriter(PathStyle style, std::FILE* out);
  ~ExtractionWriter();
  ExtractionWriter(const ExtractionWriter&) = delete;
  ExtractionWriter& operator=(const ExtractionWriter&) = delete;

  // Does every step of the batch. False after a failed write, whose error
  // has been printed: nothing more may be done then.
  bool Run(const ExtractBatch& batch);

 private:
  bool Do(const ExtractBatch& batch, const ExtractStep& step);
  bool WriteAndReport(const ExtractBatch& batch, const ExtractStep& step);

  char separator_;
  std::FILE* out_;
  std::unique_ptr<DirectorySet> created_;  // directories made (or tried) so far
  std::string level_;
  std::string path_;
  File file_;  // the file created last, open until the next entry
};

// Runs the writer on every batch the pipe delivers until the batch marked
// last, or until a write fails: then it stops the pipe and returns 1.
// Otherwise returns 0.
int WriteExtractedFiles(BatchPipe& pipe, ExtractionWriter& writer);

}  // namespace kestrum
