// What marks the start S of a database inside a file: the 16-byte signature
// followed by the main header's size. The database file looks for it when
// it opens; the page layout builds the rest of the main header around it.
#pragma once

#include <string_view>

namespace vrx {

inline constexpr std::string_view kDatabaseSignature = "VRAX0NTEDATABASE";
inline constexpr int kSignatureSize = 16;
inline constexpr int kMainHeaderSize = 76;

}  // namespace vrx
