#include "read/report.h"

namespace vellum {

Report& Report::set(std::string key, Report value) {
  auto& m = std::get<ReportMap>(v_);
  for (auto& [k, v] : m) {
    if (k == key) {
      v = std::move(value);
      return *this;
    }
  }
  m.emplace_back(std::move(key), std::move(value));
  return *this;
}

Report& Report::push(Report value) {
  std::get<ReportList>(v_).push_back(std::move(value));
  return *this;
}

const Report* Report::find(std::string_view key) const {
  if (!is_map()) return nullptr;
  for (const auto& [k, v] : as_map()) {
    if (k == key) return &v;
  }
  return nullptr;
}

}  // namespace vellum
