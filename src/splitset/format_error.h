// The error value of the index formats' parsers: a kind and the fixed text
// a caller sees. Parsers of stored manifests, summaries and split bodies
// return it; each caller decides how it surfaces (resuming treats it as a
// bad argument, compaction as bad input), so the text is built once here.
#ifndef VELLUM_SPLITSET_FORMAT_ERROR_H_
#define VELLUM_SPLITSET_FORMAT_ERROR_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "common/status.h"

namespace vellum {

enum class FormatErrorKind {
  kMalformed,             // "malformed index: ..."
  kBadMagic,              // "bad magic [..], expected VLSI"
  kUnsupportedVersion,    // "unsupported version N"
  kFetch,                 // "fetch: ..."
  kRoaringDeserialize,    // "roaring deserialize: ..."
  kBadQuery,              // "bad query: ..."
  kUnsupportedOperation,  // "unsupported operation: ..."
};

class FormatError {
 public:
  static FormatError malformed(std::string_view message);
  // `magic` is the four bytes found, listed as decimal values. The text
  // names VLSI, the split body's magic, whatever was being parsed.
  static FormatError bad_magic(std::string_view magic);
  static FormatError unsupported_version(uint64_t version);
  static FormatError fetch(std::string_view message);
  static FormatError roaring_deserialize(std::string_view message);
  static FormatError bad_query(std::string_view message);
  static FormatError unsupported_operation(std::string_view message);

  FormatErrorKind kind() const { return kind_; }
  const std::string& text() const { return text_; }

  // As a core error value; kInvalidInput by default (an IOError in Python).
  Error to_error(ErrorKind kind = ErrorKind::kInvalidInput) const { return Error(kind, text_); }

 private:
  FormatError(FormatErrorKind kind, std::string text) : kind_(kind), text_(std::move(text)) {}

  FormatErrorKind kind_;
  std::string text_;
};

// A value or a FormatError.
template <typename T>
class [[nodiscard]] FormatResult {
 public:
  FormatResult(T value) : v_(std::move(value)) {}          // NOLINT: implicit by design
  FormatResult(FormatError error) : v_(std::move(error)) {}  // NOLINT: implicit by design

  bool ok() const { return v_.index() == 0; }
  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  const FormatError& error() const { return std::get<1>(v_); }

 private:
  std::variant<T, FormatError> v_;
};

}  // namespace vellum

#endif  // VELLUM_SPLITSET_FORMAT_ERROR_H_
