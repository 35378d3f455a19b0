#include "common/status.h"

#include <cstring>

namespace vellum {

Error Error::from_errno(int code) {
  return Error(ErrorKind::kOs, std::strerror(code), code);
}

std::string Error::describe() const {
  if (kind_ != ErrorKind::kOs) return message_;
  return message_ + " (os error " + std::to_string(os_code_) + ")";
}

}  // namespace vellum
