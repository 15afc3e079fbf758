#include "builder/pack_writer.h"

#include <algorithm>
#include <cinttypes>
#include <vector>

#include "builder/header_layout.h"
#include "format/locale_key.h"
#include "format/mask.h"
#include "format/pak_layout.h"
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

// Collects the data area and writes it out in large sequential writes, so
// that many small files do not cost one write each.
class DataWriter {
 public:
  explicit DataWriter(const File& file) : file_(file), buffer_(kBufferSize) {}

  // Moves `count` bytes from the input into the output, masked when asked.
  // Returns false with `read_failed` telling which side failed.
  bool Copy(const File& input, std::uint32_t count, bool mask, bool& read_failed) {
    while (count > 0) {
      if (filled_ == buffer_.size() && !Flush()) {
        read_failed = false;
        return false;
      }
      const std::size_t chunk = std::min<std::size_t>(count, buffer_.size() - filled_);
      const auto span = std::span(buffer_).subspan(filled_, chunk);
      const std::optional<std::size_t> got = ReadFully(input, span);
      if (!got || *got != chunk) {
        read_failed = true;
        return false;
      }
      if (mask) MaskData(span);
      filled_ += chunk;
      count -= static_cast<std::uint32_t>(chunk);
    }
    return true;
  }

  bool Flush() {
    const bool ok = WriteFully(file_, std::span(buffer_).first(filled_));
    filled_ = 0;
    return ok;
  }

 private:
  static constexpr std::size_t kBufferSize = 1 << 20;
  const File& file_;
  std::vector<std::uint8_t> buffer_;
  std::size_t filled_ = 0;
};

// Files kept open for the copy leave this many descriptors for everything else.
constexpr std::size_t kSpareDescriptors = 64;

// Existence check: opens every listed file, takes its size, and hands out
// data offsets in list order. The opened files are kept for the copy while
// the process may hold them, which saves opening each file a second time.
// Returns false after a fatal error (printed).
bool AcceptEntries(EntryTable& table, PackPlan& plan, std::FILE* out) {
  const auto count = static_cast<int>(table.size());
  std::vector<std::uint32_t>& accepted = plan.accepted;
  accepted.reserve(table.size());
  plan.checked_files.reserve(table.size());
  const std::size_t budget = RaiseOpenFileLimit();
  std::size_t held = 0;
  std::uint64_t total = 0;
  std::string path;
  for (int i = 0; i < count; ++i) {
    if (i % 128 == 0) {
      std::fprintf(out, "Checking existance... %d/%d          \r", i + 1, count);
      std::fflush(out);
    }
    PackEntry& e = table[static_cast<std::size_t>(i)];
    if (e.name_length == 0) continue;
    std::uint64_t length = 0;
    File file = OpenRegularForReading(OpenPath(e, path), AccessHint::kNormal, &length);
    if (!file) {
      std::fprintf(out, "WARNING file doesn't exist: %s\n", e.name);
      continue;
    }
    e.size = static_cast<std::uint32_t>(length);
    if (length > kMaxFileSize) {
      std::fprintf(out, "WARNING file size is bigger than 2gb, file will not be added: %s\n", e.name);
      continue;
    }
    e.dir_string_offset = -1;
    e.data_offset = static_cast<std::uint32_t>(total);
    accepted.push_back(static_cast<std::uint32_t>(i));
    if (held + kSpareDescriptors < budget) {
      plan.checked_files.push_back(std::move(file));
      ++held;
    } else {
      plan.checked_files.emplace_back();
    }
    total += e.size;
    if (total > kMaxDataSize) {
      std::fprintf(out, "Total data size exceeds 2gb, please pack less files\n");
      return false;
    }
  }
  return true;
}

// The file to copy for accepted position k, with its length now: the one
// the check opened, else opened again. A file that has been deleted or
// replaced since the check gives nothing.
File OpenForCopy(const PackEntry& e, PackPlan& plan, std::size_t k, std::string& path, std::uint64_t& length) {
  File file = std::move(plan.checked_files[k]);
  if (file) {
    const std::optional<std::uint64_t> now = LinkedFileLength(file);
    if (!now) return File();
    length = *now;
  } else {
    file = OpenRegularForReading(OpenPath(e, path), AccessHint::kNormal, &length);
  }
  constexpr std::uint64_t kHintWorthwhile = 1 << 20;
  if (length >= kHintWorthwhile) AdviseSequential(file);
  return file;
}

// Copies every accepted file behind the header, in data order.
bool WriteDataArea(const EntryTable& table, PackPlan& plan, const File& output, std::FILE* out) {
  DataWriter writer(output);
  const std::vector<std::uint32_t>& accepted = plan.accepted;
  const auto n = static_cast<int>(accepted.size());
  std::string path;
  for (int k = 0; k < n; ++k) {
    std::fprintf(out, "Packing file... %d/%d        \r", k + 1, n);
    const PackEntry& e = table[accepted[static_cast<std::size_t>(k)]];
    std::uint64_t length = 0;
    const File input = OpenForCopy(e, plan, static_cast<std::size_t>(k), path, length);
    if (!input || length != e.size) {
      std::fprintf(out, "Input file changed size: '%s'\n", e.name);
      return false;
    }
    bool read_failed = false;
    if (!writer.Copy(input, e.size, e.mask_data != 0, read_failed)) {
      std::fprintf(out, read_failed ? "Error while reading input file!\n" : "Error while writing output file!\n");
      return false;
    }
  }
  if (!writer.Flush()) {
    std::fprintf(out, "Error while writing output file!\n");
    return false;
  }
  return true;
}

}  // namespace

int PlanPakfile(EntryTable& table, PackPlan& plan, std::FILE* out) {
  if (table.size() > kEntryLimit) {
    std::fprintf(out, "Number of files exceeds 64k, please pack less files\n");
    return 1;
  }
  if (!AcceptEntries(table, plan, out)) return 1;
  if (plan.accepted.empty()) {
    std::fprintf(out, "There are no files to pack. Empty pakfiles are not allowed!\n");
    return 1;
  }

  HeaderLayout& layout = plan.layout;
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

int WritePlannedPakfile(const std::string& pak_path, const EntryTable& table, PackPlan& plan, std::FILE* out) {
  AtomicOutputFile output;
  if (!output.Open(pak_path)) {
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
  if (!WriteDataArea(table, plan, output.file(), out)) return 1;
  if (!output.Commit()) {
    std::fprintf(out, "Error while writing output file!\n");
    return 1;
  }
  std::fprintf(out, "\n\n");
  return 0;
}

int WritePakfile(const std::string& pak_path, EntryTable& table, std::FILE* out) {
  PackPlan plan;
  if (const int code = PlanPakfile(table, plan, out); code != 0) return code;
  return WritePlannedPakfile(pak_path, table, plan, out);
}

}  // namespace kestrum
