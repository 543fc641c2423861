// Lower-casing with ICU's simple case mapping (see Strings.h).
#include <unicode/uchar.h>

#include "platform/Strings.h"

namespace ordana {

std::u16string LowerCase(std::u16string_view s) {
  std::u16string r(s);
  for (auto& c : r) {
    if (c < 0x80) {  // ASCII maps as ICU maps it, without the lookup
      if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + (u'a' - u'A'));
      continue;
    }
    UChar32 l = u_tolower(c);
    if (l <= 0xFFFF) c = static_cast<char16_t>(l);
  }
  return r;
}

}  // namespace ordana
