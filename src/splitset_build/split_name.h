// File names of splits: prefix, "-", a letter for the kind of split ('s'
// sealed by a batch builder, 'd' delta, 'c' compacted), the number in
// decimal zero-padded to at least five digits, then the extension.
#ifndef VELLUM_SPLITSET_BUILD_SPLIT_NAME_H_
#define VELLUM_SPLITSET_BUILD_SPLIT_NAME_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace vellum {

inline constexpr char kSealedSplitLetter = 's';
inline constexpr char kDeltaSplitLetter = 'd';
inline constexpr char kCompactedSplitLetter = 'c';

// e.g. ("corpus", 's', 7, ".vls") -> "corpus-s00007.vls".
std::string split_file_name(std::string_view prefix, char letter, uint64_t number,
                            std::string_view extension);

}  // namespace vellum

#endif  // VELLUM_SPLITSET_BUILD_SPLIT_NAME_H_
