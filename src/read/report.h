// What the inspecting and looking-up readers return: a small tree of plain
// values (null, bool, integers, floats, strings, lists and maps that keep
// their keys in insertion order, and opaque bytes), so that the core describes a file in
// full and a front end only has to render it. A map holds each key once;
// `set` on an existing key replaces its value.
#ifndef VELLUM_READ_REPORT_H_
#define VELLUM_READ_REPORT_H_

#include <concepts>
#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace vellum {

class Report;
// Opaque bytes (record contents), kept apart from text.
struct ReportBytes {
  std::string data;
};
using ReportList = std::vector<Report>;
using ReportMap = std::vector<std::pair<std::string, Report>>;

class Report {
 public:
  using Value = std::variant<std::monostate, bool, int64_t, uint64_t, double, std::string, ReportBytes,
                             ReportList, ReportMap>;

  Report() = default;  // null
  Report(bool b) : v_(b) {}  // NOLINT: implicit by design
  template <std::integral T>
    requires(!std::same_as<T, bool>)
  Report(T n) {  // NOLINT: implicit by design
    if constexpr (std::is_signed_v<T>) {
      v_ = static_cast<int64_t>(n);
    } else {
      v_ = static_cast<uint64_t>(n);
    }
  }
  Report(double d) : v_(d) {}                       // NOLINT
  Report(std::string s) : v_(std::move(s)) {}       // NOLINT
  Report(const char* s) : v_(std::string(s)) {}     // NOLINT
  Report(std::string_view s) : v_(std::string(s)) {}  // NOLINT
  Report(ReportBytes b) : v_(std::move(b)) {}      // NOLINT
  Report(ReportList l) : v_(std::move(l)) {}        // NOLINT
  Report(ReportMap m) : v_(std::move(m)) {}         // NOLINT

  static Report map() { return Report(ReportMap()); }
  static Report list() { return Report(ReportList()); }

  // For maps: sets `key`, keeping the position of an existing one.
  Report& set(std::string key, Report value);
  // For lists: appends.
  Report& push(Report value);

  const Value& value() const { return v_; }
  bool is_map() const { return std::holds_alternative<ReportMap>(v_); }
  bool is_list() const { return std::holds_alternative<ReportList>(v_); }
  const ReportMap& as_map() const { return std::get<ReportMap>(v_); }
  const ReportList& as_list() const { return std::get<ReportList>(v_); }
  // The value of `key` in a map, or nullptr.
  const Report* find(std::string_view key) const;

 private:
  Value v_;
};

// A list of ids as a report list.
template <typename Ids>
Report id_list(const Ids& ids) {
  ReportList out;
  out.reserve(ids.size());
  for (auto id : ids) out.emplace_back(id);
  return Report(std::move(out));
}

}  // namespace vellum

#endif  // VELLUM_READ_REPORT_H_
