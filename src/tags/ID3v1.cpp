#include "tags/ID3v1.h"

namespace ordana {

void TID3v1::ResetData() { FExists = false; }

bool TID3v1::ReadFromFile(const std::u16string&) {
  ResetData();
  return false;
}

}  // namespace ordana
