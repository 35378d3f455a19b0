#include "splitset/format_error.h"

namespace vellum {

FormatError FormatError::malformed(std::string_view message) {
  return FormatError(FormatErrorKind::kMalformed, "malformed index: " + std::string(message));
}

FormatError FormatError::bad_magic(std::string_view magic) {
  std::string list = "[";
  for (size_t i = 0; i < magic.size(); ++i) {
    if (i > 0) list += ", ";
    list += std::to_string(static_cast<uint8_t>(magic[i]));
  }
  return FormatError(FormatErrorKind::kBadMagic, "bad magic " + list + "], expected VLSI");
}

FormatError FormatError::unsupported_version(uint64_t version) {
  return FormatError(FormatErrorKind::kUnsupportedVersion,
                     "unsupported version " + std::to_string(version));
}

FormatError FormatError::fetch(std::string_view message) {
  return FormatError(FormatErrorKind::kFetch, "fetch: " + std::string(message));
}

FormatError FormatError::roaring_deserialize(std::string_view message) {
  return FormatError(FormatErrorKind::kRoaringDeserialize,
                     "roaring deserialize: " + std::string(message));
}

FormatError FormatError::bad_query(std::string_view message) {
  return FormatError(FormatErrorKind::kBadQuery, "bad query: " + std::string(message));
}

FormatError FormatError::unsupported_operation(std::string_view message) {
  return FormatError(FormatErrorKind::kUnsupportedOperation,
                     "unsupported operation: " + std::string(message));
}

}  // namespace vellum
