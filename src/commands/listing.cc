#include "commands/listing.h"

#include <string>

#include "format/pak_path.h"
#include "reader/entry_path.h"

namespace kestrum {
namespace {

// Collects listing lines and hands them to the stream in large pieces; a
// listing of tens of thousands of names is otherwise dominated by the
// per-line formatting and locking of the stream.
class LineSink {
 public:
  explicit LineSink(std::FILE* out) : out_(out) { text_.reserve(kFlushAt + 4096); }
  ~LineSink() { Flush(); }
  LineSink(const LineSink&) = delete;
  LineSink& operator=(const LineSink&) = delete;

  std::string& text() { return text_; }
  void EndLine() {
    text_.push_back('\n');
    if (text_.size() >= kFlushAt) Flush();
  }
  void Flush() {
    if (!text_.empty()) std::fwrite(text_.data(), 1, text_.size(), out_);
    text_.clear();
  }

 private:
  static constexpr std::size_t kFlushAt = std::size_t{64} * 1024;
  std::FILE* out_;
  std::string text_;
};

void AppendDecimal(std::uint32_t value, std::string& to) {
  char digits[10];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) to.push_back(digits[--n]);
}

// A stored name as shown on a terminal: no name can fake a line or drive it.
void AppendName(std::string_view name, std::string& to) {
  const std::size_t at = to.size();
  to.append(name);
  MakeDisplayable(to, at);
}

}  // namespace

void ListPakfile(const PakHeader& header, std::span<const std::uint8_t> names, std::span<const DirRecord> records,
                 bool data_order, std::FILE* out) {
  EntryPathBuilder builder(names, records);
  LineSink sink(out);
  std::string path;
  if (data_order) {
    WalkDataOrder(header, records, [&](std::uint32_t k) {
      builder.PrefetchAhead(k);
      if (!builder.Build(k, path)) return;
      AppendName(path, sink.text());
      sink.EndLine();
    });
    return;
  }
  const std::size_t count = std::min<std::size_t>(header.entry_count, records.size());
  for (std::uint32_t k = 0; k < count; ++k) {
    if (!builder.Build(k, path)) continue;
    const std::size_t at = records[k].name_offset;  // Build checked that at + 2 lies inside
    std::string& line = sink.text();
    line.push_back('[');
    AppendDecimal(static_cast<std::uint32_t>(names[at] << 8 | names[at + 1]), line);
    line.push_back(']');
    AppendName(path, line);
    sink.EndLine();
  }
}

}  // namespace kestrum
