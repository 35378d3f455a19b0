#include "splitset_build/split_name.h"

namespace vellum {

std::string split_file_name(std::string_view prefix, char letter, uint64_t number,
                            std::string_view extension) {
  constexpr size_t kMinDigits = 5;
  std::string digits = std::to_string(number);
  if (digits.size() < kMinDigits) digits.insert(0, kMinDigits - digits.size(), '0');
  std::string name(prefix);
  name += '-';
  name += letter;
  name += digits;
  name += extension;
  return name;
}

}  // namespace vellum
