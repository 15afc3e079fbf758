// The writing side of an extraction (see extraction_pipe.h): prints, creates
// directories and files, and writes their contents, batch by batch, in the
// order the reading side sent them.
//
// Where two threads may create files (create_group.h), files that arrive
// whole are handled in groups: the group's files are created, written and
// closed by both threads at once, and what is printed for the group follows
// once the group is done, in order, up to and including the first failed
// write; the files of the group after that one, and the directories made for
// them, are removed again, so that a failed write still leaves nothing after
// it. A file that would replace something is replaced afterwards, in its
// place in the order. A directory is made ahead of the group's files only
// where that cannot change what they become (see OutputTree::CanPlaceAhead);
// otherwise once they are done.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "commands/extraction_pipe.h"
#include "io/create_group.h"
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

  static constexpr std::size_t kNotAhead = ~std::size_t{0};
  // A step of the group waiting to be run: its lines are printed only then.
  struct Pending {
    const ExtractBatch* batch = nullptr;
    const ExtractStep* step = nullptr;
    OutputPlace place;
    OutputStatus status = OutputStatus::kOk;  // of finding the file's directory (kCreate steps)
    std::size_t made_mark = kNotAhead;        // the tree's MadeCount before a Place ahead of the group
  };
  bool Group(const ExtractBatch& batch, const ExtractStep& step);
  bool RunGroup();
  bool Replace(const Pending& pending);
  void ClearGroup();

  std::FILE* out_;
  OutputTree tree_;
  File file_;  // the file created last outside a group, open until the next entry
  CreateGroup group_;
  std::vector<Pending> pending_;
  std::vector<std::uint32_t> file_names_;  // FoldedNameHash of the group's files' names
};

// Runs the writer on every batch the pipe delivers until the batch marked
// last, or until a write fails: then it stops the pipe and returns 1.
// Otherwise returns 0.
int WriteExtractedFiles(BatchPipe& pipe, ExtractionWriter& writer);

}  // namespace kestrum
