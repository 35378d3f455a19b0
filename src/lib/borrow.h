// Run-time borrow tracking for builder objects. Converting arguments can run
// Python code (__index__, sequence protocols) that calls back into the same
// object; a method that changes the object must then not overlap another
// call on it.
#ifndef VELLUM_LIB_BORROW_H_
#define VELLUM_LIB_BORROW_H_

#include "lib/python.h"

namespace vellum::py {

// 0: free; > 0: that many shared borrows; -1: borrowed exclusively.
using BorrowFlag = int;

class Borrow {
 public:
  enum Mode { kShared, kExclusive };

  // On conflict ok() is false and a RuntimeError is set.
  Borrow(BorrowFlag& flag, Mode mode) : flag_(flag), mode_(mode) {
    if (mode == kExclusive) {
      if (flag != 0) {
        PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
        return;
      }
      flag = -1;
    } else {
      if (flag < 0) {
        PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
        return;
      }
      ++flag;
    }
    held_ = true;
  }
  Borrow(const Borrow&) = delete;
  Borrow& operator=(const Borrow&) = delete;
  ~Borrow() {
    if (!held_) return;
    if (mode_ == kExclusive) {
      flag_ = 0;
    } else {
      --flag_;
    }
  }

  bool ok() const { return held_; }

 private:
  BorrowFlag& flag_;
  Mode mode_;
  bool held_ = false;
};

}  // namespace vellum::py

#endif  // VELLUM_LIB_BORROW_H_
