// List file text parsed in memory for tests: the text and its as-written
// copy stay alive with the entries that point into them.
#pragma once

#include <string>

#include "builder/list_file.h"

namespace kestrum::testing {

class ListText {
 public:
  // Replaces the text and returns the entries of its lines.
  const EntryTable& Parse(const std::string& lines, std::size_t limit = kNoEntryLimit) {
    text_ = lines + '\0';
    source_ = text_;
    table_.clear();
    ParseListBuffer(text_, source_, table_, limit);
    return table_;
  }
  EntryTable& table() { return table_; }

 private:
  std::string text_, source_;
  EntryTable table_;
};

}  // namespace kestrum::testing
