// Lower-casing with the system's locale-independent simple case mapping
// (LCMapStringEx, invariant locale), code unit by code unit (see Strings.h).
#include <windows.h>

#include <algorithm>
#include <climits>

#include "platform/Strings.h"

namespace ordana {

std::u16string LowerCase(std::u16string_view s) {
  std::u16string r(s);
  if (r.empty()) return r;
  for (size_t at = 0; at < r.size();) {
    const int n = static_cast<int>(std::min<size_t>(r.size() - at, INT_MAX / 2));
    wchar_t* p = reinterpret_cast<wchar_t*>(r.data() + at);
    // In place: the simple mapping keeps the length (a unit the system
    // maps otherwise stays as it was).
    std::u16string piece(r, at, static_cast<size_t>(n));
    if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, reinterpret_cast<const wchar_t*>(piece.data()), n,
                      p, n, nullptr, nullptr, 0) != n)
      std::copy(piece.begin(), piece.end(), r.begin() + static_cast<std::ptrdiff_t>(at));
    at += static_cast<size_t>(n);
  }
  return r;
}

}  // namespace ordana
