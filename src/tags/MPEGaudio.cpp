#include "tags/MPEGaudio.h"

namespace ordana {

bool TMPEGaudio::ReadFromFile(const std::u16string&) {
  ResetData();
  return true;
}

}  // namespace ordana
