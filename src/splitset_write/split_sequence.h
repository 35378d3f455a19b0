// The numbers of a writer's own split names: prefix, "-", a kind letter,
// a decimal number (a leading "+" allowed) and ".vls". A resumed writer
// continues one past the largest number present for each letter.
#ifndef VELLUM_SPLITSET_WRITE_SPLIT_SEQUENCE_H_
#define VELLUM_SPLITSET_WRITE_SPLIT_SEQUENCE_H_

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "splitset/manifest.h"

namespace vellum {

// N of `name` when it is prefix + "-" + letter + N + ".vls" and N is a
// non-empty decimal that fits 32 bits; nullopt otherwise.
std::optional<uint32_t> split_number(std::string_view name, std::string_view prefix, char letter);

// 1 + the largest number of a matching name; 0 when none matches.
uint64_t next_split_number(const std::vector<SplitMeta>& splits, std::string_view prefix,
                           char letter);

}  // namespace vellum

#endif  // VELLUM_SPLITSET_WRITE_SPLIT_SEQUENCE_H_
