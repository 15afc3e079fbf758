// The writing side of an extraction (see extraction_pipe.h): prints, creates
// directories and files, and writes their contents, batch by batch, in the
// order the reading side sent them.
#pragma once

#include <cstdio>
#include <string>

#include "commands/extraction_pipe.h"
#include "io/file.h"
#include "io/output_tree.h"

namespace kestrum {

class ExtractionWriter {
 public:
  // `destination` as given on the command line (used as it stands by the
  // file system); the steps' paths are relative to it, in this system's
  // separators.
  ExtractionWriter(std::string destination, std::FILE* out);
  ExtractionWriter(const ExtractionWriter&) = delete;
  ExtractionWriter& operator=(const ExtractionWriter&) = delete;

  // Does every step of the batch, and after the batch marked last closes
  // the last file. False after a failed write (or close), whose error has
  // been printed: nothing more may be done then.
  bool Run(const ExtractBatch& batch);

 private:
  bool Do(const ExtractBatch& batch, const ExtractStep& step);
  bool WriteAndReport(const ExtractBatch& batch, const ExtractStep& step);
  bool CloseFile();

  std::FILE* out_;
  OutputTree tree_;
  File file_;  // the file created last, open until the next entry
};

// Runs the writer on every batch the pipe delivers until the batch marked
// last, or until a write fails: then it stops the pipe and returns 1.
// Otherwise returns 0.
int WriteExtractedFiles(BatchPipe& pipe, ExtractionWriter& writer);

}  // namespace kestrum
