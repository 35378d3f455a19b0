#include "vector_build/ivfpq.h"

namespace vellum {

std::string ascii_lowercase(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::optional<MetricKind> parse_metric(std::string_view name) {
  const std::string lower = ascii_lowercase(name);
  if (lower == "ip" || lower == "cosine" || lower == "dot" || lower == "inner_product") {
    return MetricKind::kInnerProduct;
  }
  if (lower == "l2" || lower == "euclidean") return MetricKind::kL2;
  return std::nullopt;
}

}  // namespace vellum
