#include "builder/pack_writer.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <optional>
#include <string>
#include <vector>

#include "builder/header_layout.h"
#include "builder/parallel_chunks.h"
#include "format/locale_key.h"
#include "format/mask.h"
#include "format/pak_layout.h"
#include "format/pak_path.h"
#include "io/atomic_output.h"
#include "io/file.h"
#include "io/host_path.h"

namespace kestrum {
namespace {

constexpr std::size_t kEntryLimit = kMaxEntries;
constexpr std::uint64_t kMaxFileSize = 0x7FFFFFFF;  // 2^31 - 1

// The path a listed file is opened by (see ListedFilePath). Reuses one
// string so that the per-file work allocates nothing.
const std::string& OpenPath(const PackEntry& e, std::string& scratch) {
  ListedFilePath(e.source, std::string_view(e.name, e.name_length), scratch);
  return scratch;
}

// A listed name as printed in a message: control bytes shown as '?' (see
// DisplayByte). Reuses one string.
const char* Shown(const PackEntry& e, std::string& scratch) {
  scratch.assign(e.name, e.name_length);
  MakeDisplayable(scratch);
  return scratch.c_str();
}

// The check opens files in chunks of this many list lines, on two threads.
constexpr std::size_t kCheckChunk = 64;

// The paths of one chunk of list lines, as this system opens them, in
// `paths`. (Held by the caller, one set per worker, not in thread-local
// storage: MinGW's thread-local objects with destructors can be freed twice
// when a worker thread ends.)
std::span<const std::string> ChunkPaths(const EntryTable& table, std::size_t begin, std::size_t end,
                                        std::vector<std::string>& paths) {
  if (paths.size() < kCheckChunk) paths.resize(kCheckChunk);
  for (std::size_t i = begin; i < end; ++i) {
    const PackEntry& e = table[i];
    if (e.name_length == 0) {
      paths[i - begin].clear();
    } else {
      OpenPath(e, paths[i - begin]);
    }
  }
  return std::span<const std::string>(paths).first(end - begin);
}

// Existence check: checks every listed file (opened, a regular file, its
// size), and hands out data offsets in list order. The checked files stay
// open for the copy. The checking is shared by two threads; what is printed
// and decided here follows list order. Returns false after a fatal error
// (printed).
bool AcceptEntries(EntryTable& table, PackPlan& plan, std::FILE* out) {
  const auto count = static_cast<int>(table.size());
  std::vector<std::uint32_t>& accepted = plan.accepted;
  accepted.reserve(table.size());
  plan.inputs = std::make_unique<InputFiles>(table.size(), kCheckChunk);
  std::vector<InputCheck> checked(table.size());
  const std::size_t chunks = (table.size() + kCheckChunk - 1) / kCheckChunk;
  // Each worker's paths, kept from chunk to chunk so that no path is
  // allocated once their strings have grown.
  std::array<std::vector<std::string>, ParallelChunks::kWorkers> paths;
  ParallelChunks opener(chunks, chunks);
  opener.Start([&](std::size_t chunk, std::size_t worker) {
    const std::size_t begin = chunk * kCheckChunk;
    const std::size_t end = std::min(table.size(), begin + kCheckChunk);
    plan.inputs->Check(begin, ChunkPaths(table, begin, end, paths[worker]),
                       std::span(checked).subspan(begin, end - begin));
  });
  std::uint64_t total = 0;
  std::string shown;
  for (int i = 0; i < count; ++i) {
    const auto at = static_cast<std::size_t>(i);
    if (i % 128 == 0) {
      std::fprintf(out, "Checking existance... %d/%d          \r", i + 1, count);
      std::fflush(out);
    }
    if (at % kCheckChunk == 0) opener.Await(at / kCheckChunk);
    PackEntry& e = table[at];
    if (e.name_length == 0) continue;
    const InputCheck& c = checked[at];
    if (!c.exists) {
      std::fprintf(out, "WARNING file doesn't exist: %s\n", Shown(e, shown));
      continue;
    }
    e.size = static_cast<std::uint32_t>(c.length);
    if (c.length > kMaxFileSize) {
      std::fprintf(out, "WARNING file size is bigger than 2gb, file will not be added: %s\n", Shown(e, shown));
      plan.inputs->Forget(static_cast<std::uint32_t>(at));
      continue;
    }
    e.dir_string_offset = -1;
    e.data_offset = static_cast<std::uint32_t>(total);
    accepted.push_back(static_cast<std::uint32_t>(i));
    total += e.size;
    if (total > kMaxDataSize) {
      std::fprintf(out, "Total data size exceeds 2gb, please pack less files\n");
      return false;
    }
  }
  return true;
}

// The copy fills windows of the data area, aligned to their size, and writes
// each whole once it is complete and the one before it is written: as many
// writes as one buffer of this size would take. This many windows are filled
// or written at once: one being written, two being read on two threads,
// which keeps a build of large files within 8 MiB.
constexpr std::uint64_t kWindowSize = 1 << 20;
constexpr std::size_t kWindows = 3;
// Files are read in chunks of at most this many, within one window.
constexpr std::size_t kCopyChunkFiles = 64;

// Consecutive accepted files [first, first + files) and the bytes of the
// data area [begin, end) that they fill, all in one window. A file that runs
// past the window goes on in the next chunk. The files' data offsets follow
// each other in accepted order, as the check handed them out.
struct CopyChunk {
  std::size_t first = 0;
  std::size_t files = 0;
  std::uint64_t begin = 0;
  std::uint64_t end = 0;
  std::size_t opened_in = 0;  // the chunk where the first file starts
  std::uint64_t window() const { return begin / kWindowSize; }
};

std::vector<CopyChunk> CutIntoChunks(const EntryTable& table, const std::vector<std::uint32_t>& accepted) {
  std::vector<CopyChunk> chunks;
  CopyChunk chunk;
  std::uint64_t at = 0;
  for (std::size_t k = 0; k < accepted.size(); ++k) {
    const PackEntry& e = table[accepted[k]];
    const std::uint64_t end = std::uint64_t{e.data_offset} + e.size;
    const std::size_t starts_in =
        chunks.size() + (chunk.files == kCopyChunkFiles || at / kWindowSize != chunk.window());
    do {
      if (chunk.files == kCopyChunkFiles || at / kWindowSize != chunk.window()) {
        chunk.end = at;
        chunks.push_back(chunk);
        chunk = CopyChunk{k, 0, at, at, starts_in};
      }
      if (chunk.files == 0 || chunk.first + chunk.files <= k) ++chunk.files;
      at = std::min(end, (at / kWindowSize + 1) * kWindowSize);
    } while (at < end);
  }
  chunk.end = at;
  chunks.push_back(chunk);
  return chunks;
}

enum class CopyFailure : std::uint8_t { kNone, kChanged, kRead };

// How reading a chunk went: the first file that failed, if any.
struct CopyOutcome {
  CopyFailure failure = CopyFailure::kNone;
  std::size_t file = 0;  // accepted position
};

// The copy of the accepted files into the data area. Reading starts when the
// copy is made, on the helper thread, while the caller goes on (laying out
// the header); Write then takes the windows in data order, helping to read.
class DataCopy {
 public:
  DataCopy(const EntryTable& table, PackPlan& plan)
      : table_(table),
        plan_(plan),
        chunks_(CutIntoChunks(table, plan.accepted)),
        outcomes_(chunks_.size()),
        copier_(chunks_.size(), 0) {
    const std::uint64_t data_size = chunks_.back().end;
    const std::uint64_t window_count = (data_size + kWindowSize - 1) / kWindowSize;
    windows_.assign(std::min<std::uint64_t>(kWindows, window_count),
                    std::vector<std::uint8_t>(std::min(kWindowSize, data_size)));
    copier_.Allow(Allowance());
    copier_.Start([this](std::size_t c, std::size_t worker) { outcomes_[c] = ReadChunk(c, scratch_[worker]); });
  }

  // Writes the data area at the output's position. Prints what copying one
  // file after the other would print, up to and including the first
  // failure; false after a failure.
  bool Write(const File& output, std::FILE* out);

 private:
  // Chunks are handed out for the windows that are neither written nor
  // waiting behind the one being written.
  std::size_t Allowance() const {
    std::size_t allowed = 0;
    while (allowed < chunks_.size() && chunks_[allowed].window() < written_ + kWindows) ++allowed;
    return allowed;
  }

  // A worker's pieces and paths, kept from chunk to chunk.
  struct Scratch {
    std::vector<InputPiece> pieces;
    std::vector<std::string> paths;
  };
  CopyOutcome ReadChunk(std::size_t c, Scratch& scratch);

  const EntryTable& table_;
  PackPlan& plan_;
  const std::vector<CopyChunk> chunks_;
  std::vector<std::vector<std::uint8_t>> windows_;
  std::vector<CopyOutcome> outcomes_;
  std::array<Scratch, ParallelChunks::kWorkers> scratch_;
  std::uint64_t written_ = 0;  // windows written out; the consuming thread's alone
  ParallelChunks copier_;      // last: stopped before anything it uses goes
};

// Reads the chunk's part of each of its files into its window, masked where
// asked, stopping at the first file that changed or could not be read. A
// file that goes on past the chunk stays open for the chunks after it.
CopyOutcome DataCopy::ReadChunk(std::size_t c, Scratch& scratch) {
  const CopyChunk& chunk = chunks_[c];
  // A chunk of empty files may lie past the last window.
  const std::span<std::uint8_t> window =
      chunk.end > chunk.begin ? std::span(windows_[chunk.window() % kWindows]) : std::span<std::uint8_t>();
  const std::uint64_t window_begin = chunk.window() * kWindowSize;
  // Per worker rather than thread-local (see ChunkPaths).
  std::vector<InputPiece>& pieces = scratch.pieces;
  pieces.clear();
  std::vector<std::string>& paths = scratch.paths;
  if (paths.size() < chunk.files) paths.resize(chunk.files);
  for (std::size_t k = chunk.first; k < chunk.first + chunk.files; ++k) {
    const std::uint32_t entry = plan_.accepted[k];
    const PackEntry& e = table_[entry];
    const std::uint64_t file_end = std::uint64_t{e.data_offset} + e.size;
    const std::uint64_t from = std::max<std::uint64_t>(e.data_offset, chunk.begin);
    const std::uint64_t to = std::min(file_end, chunk.end);
    InputPiece& piece = pieces.emplace_back();
    piece.file = entry;
    piece.length = e.size;
    piece.offset = from - e.data_offset;
    piece.into = to > from ? window.subspan(from - window_begin, to - from) : std::span<std::uint8_t>();
    piece.first = e.data_offset >= chunk.begin;
    piece.last = file_end <= chunk.end;
    if (piece.first) {
      piece.path = OpenPath(e, paths[k - chunk.first]);
    } else {
      // The file was opened (or found changed) where it starts; its last
      // piece closes it, so every piece before must have been read by then.
      for (std::size_t w = chunk.opened_in; w < (piece.last ? c : chunk.opened_in + 1); ++w) copier_.WaitDone(w);
    }
  }
  const InputOutcome read = plan_.inputs->Read(pieces);
  for (std::size_t p = 0; p < read.failed; ++p) {
    if (table_[pieces[p].file].mask_data != 0) MaskData(pieces[p].into);
  }
  if (read.status == InputStatus::kOk) return {};
  return {read.status == InputStatus::kChanged ? CopyFailure::kChanged : CopyFailure::kRead, chunk.first + read.failed};
}

bool DataCopy::Write(const File& output, std::FILE* out) {
  const auto n = static_cast<int>(plan_.accepted.size());
  for (std::size_t c = 0; c < chunks_.size(); ++c) {
    copier_.Await(c);
    const CopyChunk& chunk = chunks_[c];
    const CopyOutcome& outcome = outcomes_[c];
    for (std::size_t k = chunk.first; k < chunk.first + chunk.files; ++k) {
      const PackEntry& e = table_[plan_.accepted[k]];
      const bool starts_here = e.data_offset >= chunk.begin;
      const bool failed_here = outcome.failure != CopyFailure::kNone && outcome.file == k;
      if (starts_here) std::fprintf(out, "Packing file... %d/%d        \r", static_cast<int>(k) + 1, n);
      // A file found changed at its first piece or at any later one (the
      // queued service finds growth at its end).
      if (failed_here && outcome.failure == CopyFailure::kChanged) {
        std::string shown;
        std::fprintf(out, "Input file changed size: '%s'\n", Shown(e, shown));
        return false;
      }
      // A window is written when the copy reaches the first byte after it.
      const std::uint64_t file_end = std::uint64_t{e.data_offset} + e.size;
      const std::uint64_t from = std::max<std::uint64_t>(e.data_offset, chunk.begin);
      if (std::min(file_end, chunk.end) > from && from % kWindowSize == 0 && from > 0) {
        if (!WriteFully(output, windows_[written_ % kWindows])) {
          std::fprintf(out, "Error while writing output file!\n");
          return false;
        }
        ++written_;
        copier_.Allow(Allowance());
      }
      if (failed_here) {
        std::fprintf(out, "Error while reading input file!\n");
        return false;
      }
    }
  }
  const std::uint64_t rest = chunks_.back().end - written_ * kWindowSize;
  if (rest > 0 && !WriteFully(output, std::span(windows_[written_ % kWindows]).first(rest))) {
    std::fprintf(out, "Error while writing output file!\n");
    return false;
  }
  return true;
}

// The checks before anything is laid out; the exit code.
int CheckEntries(EntryTable& table, PackPlan& plan, std::FILE* out) {
  if (table.size() > kEntryLimit) {
    std::fprintf(out, "Number of files exceeds 64k, please pack less files\n");
    return 1;
  }
  if (!AcceptEntries(table, plan, out)) return 1;
  if (plan.accepted.empty()) {
    std::fprintf(out, "There are no files to pack. Empty pakfiles are not allowed!\n");
    return 1;
  }
  return 0;
}

// Lays out and encodes the header, printing up to the total line; the exit code.
int LayOutPlan(EntryTable& table, PackPlan& plan, std::FILE* out) {
  HeaderLayout& layout = plan.layout;
  // Room for the name pool of a large list up front.
  constexpr std::size_t kNamePoolReserve = std::size_t{1} << 20;
  layout.pool.reserve(kNamePoolReserve);
  if (!LayOutHeader(table, plan.accepted, layout, out)) {
    std::fprintf(out, "Fatal error, impossible state!\n");
    return 1;
  }
  std::fprintf(out, "Total file size = %" PRIu64 " (header=%" PRIu64 " + data=%" PRIu64 ")                 \n",
               layout.header_size + layout.data_size, layout.header_size, layout.data_size);
  if (layout.header_size > kMaxHeaderSize) {
    std::fprintf(out, "Pakfile header exceeds 16Mb, please pack less files\n");
    return 1;
  }
  plan.header_image = EncodeHeaderRegion(layout, CurrentLocaleKey());
  return 0;
}

// Creates the pakfile from the plan and the copy; the exit code.
int WriteOut(const std::string& pak_path, const PackPlan& plan, DataCopy& copy, std::FILE* out) {
  // A pakfile path that is a symbolic link keeps the link: the pakfile goes
  // where the link leads, its temporary file beside it there.
  const std::optional<std::string> target = FinalLinkTarget(pak_path);
  AtomicOutputFile output;
  if (!target || !output.Open(*target)) {
    std::fprintf(out, "Can't create the output file '%s'\n", pak_path.c_str());
    return 1;
  }
  if (!ReserveLength(output.file(), plan.layout.header.file_size)) {
    std::fprintf(out, "Can't resize the output file, possibly no disk space\n\n\n");
    return 1;
  }
  if (!WriteFully(output.file(), plan.header_image)) {
    std::fprintf(out, "Error while writing output file!\n");
    return 1;
  }
  if (!copy.Write(output.file(), out)) return 1;
  if (!output.Commit()) {
    std::fprintf(out, "Error while writing output file!\n");
    return 1;
  }
  std::fprintf(out, "\n\n");
  return 0;
}

}  // namespace

int PlanPakfile(EntryTable& table, PackPlan& plan, std::FILE* out) {
  if (const int code = CheckEntries(table, plan, out); code != 0) return code;
  return LayOutPlan(table, plan, out);
}

int WritePlannedPakfile(const std::string& pak_path, const EntryTable& table, PackPlan& plan, std::FILE* out) {
  DataCopy copy(table, plan);
  return WriteOut(pak_path, plan, copy, out);
}

void ForgetCheckedFile(PackPlan& plan, std::size_t k) { plan.inputs->Forget(plan.accepted[k]); }

int WritePakfile(const std::string& pak_path, EntryTable& table, std::FILE* out) {
  PackPlan plan;
  if (const int code = CheckEntries(table, plan, out); code != 0) return code;
  // The files are read for the data area while the header is laid out.
  DataCopy copy(table, plan);
  if (const int code = LayOutPlan(table, plan, out); code != 0) return code;
  return WriteOut(pak_path, plan, copy, out);
}

}  // namespace kestrum
