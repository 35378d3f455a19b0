// The error value of the readers: the first thing found wrong in a stored
// file, located by file name, region and absolute byte offset, so that a
// person can find the damaged bytes. Readers never throw; they return a
// Checked<T> (a value or a Problem) or a Check (nothing or a Problem).
#ifndef VELLUM_READ_PROBLEM_H_
#define VELLUM_READ_PROBLEM_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "common/status.h"

namespace vellum {

struct Problem {
  std::string file;    // as the caller named it, e.g. "index.vls"
  std::string region;  // e.g. "header", "dictionary", "postings"
  uint64_t offset = 0;  // absolute, from the first byte of the file
  std::string what;

  // "index.vls: dictionary at byte 36: keys are not strictly ascending"
  std::string describe() const;
  // The same text as a core error, for callers that speak Status.
  Error to_error() const { return Error(ErrorKind::kInvalidInput, describe()); }
};

class [[nodiscard]] Check {
 public:
  Check() = default;
  Check(Problem p) : p_(std::move(p)) {}  // NOLINT: implicit by design
  bool ok() const { return !p_.has_value(); }
  const Problem& problem() const { return *p_; }

 private:
  std::optional<Problem> p_;
};

template <typename T>
class [[nodiscard]] Checked {
 public:
  Checked(T value) : v_(std::move(value)) {}    // NOLINT: implicit by design
  Checked(Problem p) : v_(std::move(p)) {}      // NOLINT: implicit by design
  bool ok() const { return v_.index() == 0; }
  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  // By value: a reference into a temporary would dangle in a range-for.
  T value() && { return std::get<0>(std::move(v_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  const Problem& problem() const { return std::get<1>(v_); }
  Check check() const { return ok() ? Check() : Check(problem()); }

 private:
  std::variant<T, Problem> v_;
};

// Names the file every problem of one reader is reported against.
class ProblemSite {
 public:
  explicit ProblemSite(std::string file) : file_(std::move(file)) {}
  const std::string& file() const { return file_; }
  Problem at(std::string_view region, uint64_t offset, std::string what) const {
    return Problem{file_, std::string(region), offset, std::move(what)};
  }

 private:
  std::string file_;
};

}  // namespace vellum

// Returns the problem of a failed Check or Checked from the enclosing function.
#define VELLUM_CHECK(expr)                                   \
  do {                                                       \
    auto vellum_check_ = (expr);                             \
    if (!vellum_check_.ok()) return vellum_check_.problem(); \
  } while (0)

// `VELLUM_CHECKED_ASSIGN(auto x, read_x());` assigns the value of a Checked,
// or returns its problem from the enclosing function.
#define VELLUM_CHECKED_ASSIGN(lhs, expr) \
  VELLUM_CHECKED_ASSIGN_IMPL_(VELLUM_CONCAT_(vellum_checked_, __LINE__), lhs, expr)
#define VELLUM_CHECKED_ASSIGN_IMPL_(tmp, lhs, expr) \
  auto tmp = (expr);                                \
  if (!tmp.ok()) return tmp.problem();              \
  lhs = std::move(tmp).value()

#endif  // VELLUM_READ_PROBLEM_H_
