#include "tags/WAVfile.h"

namespace ordana {

void TWAVfile::ResetData() {
  FValid = false;
  FSampleRate = 0;
  FBytesPerSecond = 0;
}
bool TWAVfile::ReadFromFile(const std::u16string&) {
  ResetData();
  return false;
}

}  // namespace ordana
