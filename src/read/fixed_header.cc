#include "read/fixed_header.h"

#include <string>

#include "common/coding.h"

namespace vellum {

Check check_fixed_header(const ProblemSite& site, std::string_view bytes, const FixedHeader& want) {
  constexpr const char* kHeader = "header";
  if (bytes.size() < want.size) {
    return site.at(kHeader, 0, "file is shorter than the " + std::to_string(want.size) + "-byte header");
  }
  if (bytes.substr(0, 4) != want.magic) {
    return site.at(kHeader, 0, "bad magic, expected " + std::string(want.magic));
  }
  const uint16_t version = GetU16(bytes.data() + 4);
  if (version != want.version) return site.at(kHeader, 4, "unsupported version " + std::to_string(version));
  return Check();
}

}  // namespace vellum
