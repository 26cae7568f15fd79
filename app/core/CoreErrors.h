// Errors the application's core raises besides its own message texts: the
// conversion, range, list-index and file errors of the runtime conversions
// the pairing engine relies on. Each carries the text the user sees in the
// top-level error box.
#pragma once

#include <string>

#include "engine/base/VRXExcept.h"

namespace pelvaro {

// A text that is not a number where one is required.
class EConvertError : public vrx::Exception {
 public:
  using vrx::Exception::Exception;
};

// An index or value outside the range of its type ("Range check error").
class ERangeError : public vrx::Exception {
 public:
  ERangeError() : vrx::Exception("Range check error") {}
};

// A floating-point value that has no integer form ("Invalid floating point
// operation").
class EInvalidOp : public vrx::Exception {
 public:
  EInvalidOp() : vrx::Exception("Invalid floating point operation") {}
};

// A line of a text list read past its end ("List index out of bounds (5)").
class EListError : public vrx::Exception {
 public:
  explicit EListError(int index)
      : vrx::Exception("List index out of bounds (" + std::to_string(index) + ")") {}
};

// A file that cannot be opened or created.
class EFileError : public vrx::Exception {
 public:
  using vrx::Exception::Exception;
};

}  // namespace pelvaro
