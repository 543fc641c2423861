#include "tags/APETag.h"

namespace ordana {

void TAPETag::ResetData() { pExists = false; }
bool TAPETag::ReadFromFile(const std::u16string&) {
  ResetData();
  return false;
}
Utf8String TAPETag::SeekField(const Utf8String&) const { return {}; }

}  // namespace ordana
