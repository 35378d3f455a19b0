// Error values of the core. Core operations never throw across their API:
// they return a Status (success or an Error) or a Result<T> (a value or an
// Error). The module surface maps each ErrorKind to one Python exception.
#ifndef VELLUM_COMMON_STATUS_H_
#define VELLUM_COMMON_STATUS_H_

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace vellum {

enum class ErrorKind {
  kOs,               // operating-system failure; os_code holds errno
  kIo,               // other I/O failure: short writes, format size limits
  kInvalidInput,     // input a writer or parser cannot accept
  kInvalidArgument,  // parameter validation of a builder or function
  kFinished,         // use of a builder that has already finished
};

class Error {
 public:
  Error(ErrorKind kind, std::string message, int os_code = 0)
      : kind_(kind), message_(std::move(message)), os_code_(os_code) {}

  // An operating-system error from errno; the message is strerror(code).
  static Error from_errno(int code);

  ErrorKind kind() const { return kind_; }
  const std::string& message() const { return message_; }
  int os_code() const { return os_code_; }

  // The text users see: the message, plus " (os error N)" for kOs.
  std::string describe() const;

 private:
  ErrorKind kind_;
  std::string message_;
  int os_code_;
};

class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Error error) : error_(std::move(error)) {}  // NOLINT: implicit by design

  
  bool ok() const { return !error_.has_value(); }
  const Error& error() const { return *error_; }

 private:
  std::optional<Error> error_;
};

template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::move(value)) {}      // NOLINT: implicit by design
  Result(Error error) : v_(std::move(error)) {}  // NOLINT: implicit by design
  Result(Status status) : v_(status.error()) {}  // NOLINT: only from a failed Status

  bool ok() const { return v_.index() == 0; }
  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  T& operator*() & { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  const Error& error() const { return std::get<1>(v_); }
  Status status() const { return ok() ? Status() : Status(error()); }

 private:
  std::variant<T, Error> v_;
};

}  // namespace vellum

// Returns early from the enclosing function when `expr` yields a failed Status.
#define VELLUM_RETURN_IF_ERROR(expr)              \
  do {                                            \
    ::vellum::Status vellum_status_ = (expr);     \
    if (!vellum_status_.ok()) return vellum_status_; \
  } while (0)

#define VELLUM_CONCAT_INNER_(a, b) a##b
#define VELLUM_CONCAT_(a, b) VELLUM_CONCAT_INNER_(a, b)

// `VELLUM_ASSIGN_OR_RETURN(auto x, MakeX());` declares (or assigns) the value
// of a Result, or returns its error from the enclosing function.
#define VELLUM_ASSIGN_OR_RETURN(lhs, expr) \
  VELLUM_ASSIGN_OR_RETURN_IMPL_(VELLUM_CONCAT_(vellum_result_, __LINE__), lhs, expr)
#define VELLUM_ASSIGN_OR_RETURN_IMPL_(tmp, lhs, expr) \
  auto tmp = (expr);                                 \
  if (!tmp.ok()) return tmp.status();                \
  lhs = std::move(tmp).value()

#endif  // VELLUM_COMMON_STATUS_H_
