// Malformed graph files shared by the parser test and the end-to-end test of
// the wmatch program: each with the line the fault must be reported on.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace pelvaro::wmatch::testing {

// A valid triangle with CR LF line ends, line by line:
//  1 "3 3 U"   2 "2 1 0 0"  3 "2 5"  4 "3 -7"  5 "2 2 0 0"  6 "1 5"  7 "3 4"
//  8 "2 3 0 0" 9 "1 -7"    10 "2 4"
// Its best matching is 1-2 (weight 5), leaving 3 single.
extern const char* const kTriangle;

struct MalformedCase {
  std::string name;
  std::string text;
  int line;            // the line the message must name
  std::string reason;  // a part of the message
};

std::vector<MalformedCase> MalformedCases();

inline void PrintTo(const MalformedCase& c, std::ostream* os) { *os << c.name; }

}  // namespace pelvaro::wmatch::testing
