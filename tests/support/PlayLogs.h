#pragma once
// What the tests of the report share: the month most of them report on, and
// the lines of Velmora's play logs they write.
#include <string>

#include "platform/Calendar.h"

namespace ordana::test {

inline const TDate kNov1{2026, 11, 1};
inline const TDate kNov30{2026, 11, 30};

// A play line as Velmora writes it: time; empty flag; duration; path (as
// given, quoted or not); title.
inline std::string PlayLine(const std::string& path) { return "10:00:00;;00:03:30;" + path + ";title\r\n"; }

}  // namespace ordana::test
