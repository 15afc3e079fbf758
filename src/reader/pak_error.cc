#include "reader/pak_reader.h"

namespace kestrum {

const char* PakErrorMessage(PakError error) {
  switch (error) {
    case PakError::kNone:
      return "no error";
    case PakError::kNotFound:
      return "not found";
    case PakError::kNotAPakfile:
      return "not a pakfile, or the pakfile is damaged";
    case PakError::kWrongLocale:
      return "the pakfile was built under another locale code";
    case PakError::kIo:
      return "the file could not be opened or read";
    case PakError::kNoMemory:
      return "out of memory";
    case PakError::kInvalidArgument:
      return "invalid argument";
    case PakError::kInvalidHandle:
      return "the handle is not open";
    case PakError::kBufferTooSmall:
      return "the buffer is too small";
  }
  return "unknown error";
}

}  // namespace kestrum
