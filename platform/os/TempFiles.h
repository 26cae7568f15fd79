// Temporary files of the engine: private to the process, named with a
// prefix ("VRX" for the engine) in the temporary directory.
#pragma once

#include <string>
#include <string_view>

namespace vrx::os {

// $TMPDIR when set and not empty, else /tmp; never ends in '/'.
std::string TemporaryDirectory();

// A new, empty file created with mkstemp as <dir>/<prefix>XXXXXX, mode 0600.
// Returns its path; the file is closed again. Throws std::system_error when
// the file cannot be created.
std::string CreateTemporaryFile(std::string_view prefix);

}  // namespace vrx::os
