#include "builder/list_file.h"

#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "format/pak_path.h"
#include "io/file.h"

namespace kestrum {
namespace {

// The bytes of every list file read so far, twice: normalised in place, and
// as written. Buffers never move once entries point into them.
struct ListBuffers {
  std::string text;
  std::string source;
};

std::vector<std::unique_ptr<ListBuffers>>& ListBufferStore() {
  static std::vector<std::unique_ptr<ListBuffers>> store;
  return store;
}

// A list file larger than this is refused rather than read: every offset in
// the builder is 32-bit.
constexpr std::uint64_t kMaxListFileSize = 0x7FFFFFFF;

bool ReadWholeFile(const std::string& path, std::string& bytes) {
  File file = OpenForReading(path);
  if (!file) return false;
  const std::optional<std::uint64_t> length = FileLength(file);
  if (length && *length > kMaxListFileSize) return false;
  // Regular files are read in one go, into room for one byte more than
  // their length, so that the short read shows their end (and the NUL that
  // ends the text fits); pipes and FIFOs until their end.
  std::size_t capacity = length && *length > 0 ? static_cast<std::size_t>(*length) + 1 : 65536;
  bytes.resize(capacity);
  std::size_t filled = 0;
  for (;;) {
    auto span = std::span(reinterpret_cast<std::uint8_t*>(bytes.data()) + filled, bytes.size() - filled);
    const std::optional<std::size_t> got = ReadFully(file, span);
    if (!got) return false;  // a directory, or a failing disk
    filled += *got;
    if (filled < bytes.size()) break;
    if (bytes.size() >= kMaxListFileSize) return false;
    bytes.resize(bytes.size() * 2);
  }
  bytes.resize(filled);
  return true;
}

}  // namespace

void ParseListBuffer(std::string& text, std::string& source, EntryTable& table, std::size_t max_entries) {
  char* const bytes = text.data();
  char* const raw = source.data();
  std::size_t start = 0;
  std::size_t i = 0;
  std::uint16_t hash = 0;
  std::int32_t split = -1;
  std::uint8_t mask_data = 1;

  auto close_entry = [&](std::size_t line_end) {
    raw[line_end] = '\0';
    PackEntry entry;
    entry.name_length = static_cast<std::uint32_t>(line_end - start);
    entry.name = bytes + start;
    entry.source = raw + start;
    entry.hash = hash;
    entry.split = split;
    entry.mask_data = mask_data;
    table.push_back(entry);
    hash = 0;
    split = -1;
    mask_data = 1;
  };

  while (bytes[i] != '\0' && table.size() < max_entries) {
    const char b = bytes[i];
    if (b == '\r' || b == '\n') {
      const char next = bytes[i + 1];
      const bool pair = (b == '\r' && next == '\n') || (b == '\n' && next == '\r');
      const std::size_t line_end = i;
      bytes[i] = '\0';
      i += 1;
      if (pair) {
        bytes[i] = '\0';
        raw[i] = '\0';
        i += 1;
      }
      close_entry(line_end);
      start = i;
      continue;
    }
    if (b == '*' && i == start) {
      ++start;
      mask_data = 0;
      ++i;
      continue;
    }
    const char c = NormalizePathByte(b);
    bytes[i] = c;
    if (c == kPakSeparator) split = static_cast<std::int32_t>(i - start);
    hash = NameHashStep(hash, c);
    ++i;
  }
}

int ReadListFile(const std::string& path, EntryTable& table, std::size_t max_entries) {
  const std::size_t entries_before = table.size();
  try {
    auto buffers = std::make_unique<ListBuffers>();
    if (!ReadWholeFile(path, buffers->text)) return 1;
    buffers->text.push_back('\0');
    buffers->source = buffers->text;
    // Room in the store first: once entries point into the buffers, storing
    // them must not fail.
    std::vector<std::unique_ptr<ListBuffers>>& store = ListBufferStore();
    store.reserve(store.size() + 1);
    ParseListBuffer(buffers->text, buffers->source, table, max_entries);
    store.push_back(std::move(buffers));
  } catch (const std::bad_alloc&) {
    // A list too large to hold in memory (twice) cannot be read: the table
    // goes back to what it held, as for a file that cannot be opened.
    table.resize(entries_before);
    return 1;
  }
  return 0;
}

void ReleaseListBuffers() { ListBufferStore().clear(); }

}  // namespace kestrum
