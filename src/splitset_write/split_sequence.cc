#include "splitset_write/split_sequence.h"

#include <algorithm>

namespace vellum {

namespace {

constexpr std::string_view kExtension = ".vls";

}  // namespace

std::optional<uint32_t> split_number(std::string_view name, std::string_view prefix, char letter) {
  if (!name.starts_with(prefix)) return std::nullopt;
  name.remove_prefix(prefix.size());
  if (name.size() < 2 || name[0] != '-' || name[1] != letter) return std::nullopt;
  name.remove_prefix(2);
  if (!name.ends_with(kExtension)) return std::nullopt;
  name.remove_suffix(kExtension.size());
  if (name.starts_with('+')) name.remove_prefix(1);
  if (name.empty()) return std::nullopt;
  uint64_t n = 0;
  for (char c : name) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + static_cast<uint64_t>(c - '0');
    if (n > UINT32_MAX) return std::nullopt;
  }
  return static_cast<uint32_t>(n);
}

uint64_t next_split_number(const std::vector<SplitMeta>& splits, std::string_view prefix,
                           char letter) {
  uint64_t next = 0;
  for (const SplitMeta& s : splits) {
    if (auto n = split_number(s.name, prefix, letter)) next = std::max(next, uint64_t{*n} + 1);
  }
  return next;
}

}  // namespace vellum
