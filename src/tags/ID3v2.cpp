#include "tags/ID3v2.h"

namespace ordana {

int32_t ID3v2TotalTagSize(const uint8_t h[10], int64_t fileSize) {
  if (h[0] != 'I' || h[1] != 'D' || h[2] != '3') return 0;
  int64_t size = (int64_t{h[6]} << 21) + (int64_t{h[7]} << 14) + (int64_t{h[8]} << 7) + h[9] + 10;
  if (h[5] & 0x10) size += 10;
  if (size > fileSize) return 0;
  return static_cast<int32_t>(size);
}

void TID3v2::ResetData() {
  FExists = false;
  FSize = 0;
}

bool TID3v2::ReadFromFile(const std::u16string&) {
  ResetData();
  return false;
}

}  // namespace ordana
