// The locale key: two bytes taken from the locale code given on the command
// line. When enabled, the name pool of every pakfile built or opened in this
// process is scrambled with it, so a pakfile built under "fr" opens only
// under "fr" (or "FR").
#pragma once

#include <array>
#include <cstdint>

// Included beside this header, in the source tree as in the installed one.
#include "kestrum_export.h"

namespace kestrum {

struct LocaleKey {
  bool enabled = false;
  std::array<std::uint8_t, 2> bytes{};
};

// The process-wide key. It is set once at start-up, before any pakfile is
// built or opened, and afterwards only read (the header decode switches it
// off for one unscramble call on the opening thread).
KESTRUM_API LocaleKey& CurrentLocaleKey();

// The key for a locale text: disabled for a null pointer or a text shorter
// than two characters; otherwise its first two characters, ASCII-lower-cased.
KESTRUM_API LocaleKey LocaleKeyFromText(const char* text);

// Enables the process-wide key from the text. A null pointer or a text of
// fewer than two characters leaves the key as it was.
KESTRUM_API void SetLocaleKey(const char* text);

}  // namespace kestrum
