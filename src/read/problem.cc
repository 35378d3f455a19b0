#include "read/problem.h"

namespace vellum {

std::string Problem::describe() const {
  return file + ": " + region + " at byte " + std::to_string(offset) + ": " + what;
}

}  // namespace vellum
